#include "netsup/apply_network.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace {

// Records what the apply asks of a server as one line of calls.
class FakeEndpoint final : public platform::UdpEndpoint {
 public:
  explicit FakeEndpoint(uint16_t defaultPort) : defaultPort_(defaultPort) {}

  std::string log;
  bool failStart = false;
  bool running = true;  // every server runs an older binding before the apply

  void Stop() override {
    running = false;
    log += "stop;";
  }
  void ClearBindings() override { log += "clear;"; }
  void AddBinding(const std::string& address, uint16_t port) override {
    log += "bind " + address + ":" + std::to_string(port) + ";";
  }
  uint16_t DefaultPort() const override { return defaultPort_; }
  void SetDefaultPort(uint16_t port) override { defaultPort_ = port; }
  bool Start() override {
    log += "start;";
    running = !failStart;
    return running;
  }
  bool Running() const override { return running; }
  bool SendTo(std::string_view, uint16_t, const uint8_t*, size_t) override { return false; }

 private:
  uint16_t defaultPort_;
};

const char kReset[] = "stop;clear;";

struct Case {
  const char* name;
  netsup::InterfaceConfig iface[3];
  bool failStart[3];
  std::vector<std::string> reports;
  const char* log[3];  // calls after the initial stop and clear
  bool running[3];
};

// Names the case in test listings.
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const netsup::InterfaceConfig kUnused{};
const netsup::InterfaceConfig kEth1{true, "10.0.0.1", "6000", "10.0.0.254"};
const netsup::InterfaceConfig kEth2{true, "10.0.1.1", "6001", "10.0.1.254"};
const netsup::InterfaceConfig kGsm{true, "10.64.64.65", "6002", "10.64.64.5"};

netsup::InterfaceConfig WithPort(netsup::InterfaceConfig c, const char* port) {
  c.port = port;
  return c;
}
netsup::InterfaceConfig WithAddress(netsup::InterfaceConfig c, const char* address) {
  c.address = address;
  return c;
}

const Case kCases[] = {
    {"AllInUse",
     {kEth1, kEth2, kGsm},
     {},
     {},
     {"bind 10.0.0.1:6000;start;", "bind 10.0.1.1:6001;start;", "bind 10.64.64.65:6002;start;"},
     {true, true, true}},
    {"OnlyInterface2InUse",
     {kUnused, kEth2, kUnused},
     {},
     {},
     {"", "bind 10.0.1.1:6001;start;", ""},
     {false, true, false}},
    {"AllAddressesMeansEveryAddress",
     {WithAddress(kEth1, "0.0.0.0"), kUnused, kUnused},
     {},
     {},
     {"bind 0.0.0.0:6000;start;", "", ""},
     {true, false, false}},
    {"Interface1EmptyAddressStops",
     {WithAddress(kEth1, ""), kEth2, kGsm},
     {},
     {"Ош.IP адр. 1 сетевой карты!Парам. не вступили в силу."},
     {"", "", ""},
     {false, false, false}},
    {"Interface2EmptyAddressStops",
     {kEth1, WithAddress(kEth2, ""), kGsm},
     {},
     {"Ош.IP адр. 2 сетевой карты!Парам. не вступили в силу."},
     {"bind 10.0.0.1:6000;", "", ""},
     {false, false, false}},
    {"Interface3EmptyAddressStops",
     {kEth1, kEth2, WithAddress(kGsm, "")},
     {},
     {"Ош.IP адр. 3(GSM)!Парам. не вступили в силу."},
     {"bind 10.0.0.1:6000;", "bind 10.0.1.1:6001;", ""},
     {false, false, false}},
    {"Interface1PortNotNumberGoesOnWithDefaultPort",
     {WithPort(kEth1, "50a0"), kEth2, kGsm},
     {},
     {"Ош. Преобр. поля \"Порт 1 Сервера\"!Парам. не вступили в силу."},
     {"bind 10.0.0.1:5000;start;", "bind 10.0.1.1:6001;start;", "bind 10.64.64.65:6002;start;"},
     {true, true, true}},
    {"Interface2PortNotNumberStops",
     {kEth1, WithPort(kEth2, "50a0"), kGsm},
     {},
     {"Ош. Преобр. поля \"Порт 2 Сервера\"!Парам. не вступили в силу."},
     {"bind 10.0.0.1:6000;", "bind 10.0.1.1:5001;", ""},
     {false, false, false}},
    {"Interface3PortNotNumberGoesOnWithDefaultPort",
     {kEth1, kEth2, WithPort(kGsm, "")},
     {},
     {"Ош. Bind Сервера(GSM)Парам. не вступили в силу."},
     {"bind 10.0.0.1:6000;start;", "bind 10.0.1.1:6001;start;", "bind 10.64.64.65:5002;start;"},
     {true, true, true}},
    {"HighestPortIsANumber",
     {WithPort(kEth1, "65535"), kUnused, kUnused},
     {},
     {},
     {"bind 10.0.0.1:65535;start;", "", ""},
     {true, false, false}},
    {"PortAbove65535IsNotANumber",
     {WithPort(kEth1, "65536"), kUnused, kUnused},
     {},
     {"Ош. Преобр. поля \"Порт 1 Сервера\"!Парам. не вступили в силу."},
     {"bind 10.0.0.1:5000;start;", "", ""},
     {true, false, false}},
    {"HugePortIsNotANumber",
     {WithPort(kEth1, "99999999999999999999"), kUnused, kUnused},
     {},
     {"Ош. Преобр. поля \"Порт 1 Сервера\"!Парам. не вступили в силу."},
     {"bind 10.0.0.1:5000;start;", "", ""},
     {true, false, false}},
    {"PortZeroIsNotANumber",
     {WithPort(kEth1, "0"), kUnused, kUnused},
     {},
     {"Ош. Преобр. поля \"Порт 1 Сервера\"!Парам. не вступили в силу."},
     {"bind 10.0.0.1:5000;start;", "", ""},
     {true, false, false}},
    {"SignedPortIsNotANumber",
     {WithPort(kEth1, "+6000"), kUnused, kUnused},
     {},
     {"Ош. Преобр. поля \"Порт 1 Сервера\"!Парам. не вступили в силу."},
     {"bind 10.0.0.1:5000;start;", "", ""},
     {true, false, false}},
    {"Server1StartFailureGoesOn",
     {kEth1, kEth2, kGsm},
     {true, false, false},
     {"Ош. Конфликт карты 1 >10.0.0.1:6000.Парам. не вступили в силу!"},
     {"bind 10.0.0.1:6000;start;", "bind 10.0.1.1:6001;start;", "bind 10.64.64.65:6002;start;"},
     {false, true, true}},
    {"Server2StartFailureGoesOn",
     {kEth1, kEth2, kGsm},
     {false, true, false},
     {"Ош. Конфликт карты 2 >10.0.1.1:6001.Парам. не вступили в силу!"},
     {"bind 10.0.0.1:6000;start;", "bind 10.0.1.1:6001;start;", "bind 10.64.64.65:6002;start;"},
     {true, false, true}},
    {"Server3StartFailure",
     {kEth1, kUnused, kGsm},
     {false, false, true},
     {"Ош. Конфликт 3(GSM) >10.64.64.65:6002.Парам. не вступили в силу!"},
     {"bind 10.0.0.1:6000;start;", "", "bind 10.64.64.65:6002;start;"},
     {true, false, false}},
    {"StartFailureShowsThePortTextAsTyped",
     {WithPort(kEth1, "50a0"), kUnused, kUnused},
     {true, false, false},
     {"Ош. Преобр. поля \"Порт 1 Сервера\"!Парам. не вступили в силу.",
      "Ош. Конфликт карты 1 >10.0.0.1:50a0.Парам. не вступили в силу!"},
     {"bind 10.0.0.1:5000;start;", "", ""},
     {false, false, false}},
    {"FailuresAreReportedInOrder",
     {kEth1, kEth2, WithPort(kGsm, "x")},
     {true, true, true},
     {"Ош. Bind Сервера(GSM)Парам. не вступили в силу.",
      "Ош. Конфликт карты 1 >10.0.0.1:6000.Парам. не вступили в силу!",
      "Ош. Конфликт карты 2 >10.0.1.1:6001.Парам. не вступили в силу!",
      "Ош. Конфликт 3(GSM) >10.64.64.65:x.Парам. не вступили в силу!"},
     {"bind 10.0.0.1:6000;start;", "bind 10.0.1.1:6001;start;", "bind 10.64.64.65:5002;start;"},
     {false, false, false}},
};

class ApplyNetworkTest : public testing::TestWithParam<Case> {};

TEST_P(ApplyNetworkTest, BindsStartsAndReports) {
  const Case& c = GetParam();
  FakeEndpoint s1(5000), s2(5001), s3(5002);
  FakeEndpoint* fakes[3] = {&s1, &s2, &s3};
  netsup::NetworkConfig config;
  for (int i = 0; i < 3; ++i) {
    config.iface[i] = c.iface[i];
    fakes[i]->failStart = c.failStart[i];
  }
  // The flags of an earlier failed apply and of the OK message must not leak in.
  netsup::NetworkState state;
  state.GlNetErr = true;
  state.GlNetOkShown = true;
  std::vector<std::string> reports;

  netsup::ApplyNetworkSettings(config, {&s1, &s2, &s3}, state,
                               [&](const std::string& text) { reports.push_back(text); });

  EXPECT_EQ(reports, c.reports);
  EXPECT_EQ(state.GlNetErr, !c.reports.empty());
  EXPECT_TRUE(state.GlNetOkShown);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE("server " + std::to_string(i + 1));
    EXPECT_EQ(fakes[i]->log, std::string(kReset) + c.log[i]);
    EXPECT_EQ(fakes[i]->Running(), c.running[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ApplyNetworkTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
