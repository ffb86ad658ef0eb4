#include "netsup/apply_network.h"

namespace netsup {

bool ParsePortText(std::string_view text, uint16_t& port) {
  if (text.empty()) return false;
  uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint32_t(c - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  port = uint16_t(value);
  return true;
}

bool ApplyNetworkSettings(const NetworkConfig& config,
                          std::array<platform::UdpEndpoint*, 3> servers, NetworkState& state,
                          const std::function<void(const std::string&)>& report) {
  const auto fail = [&](const std::string& text) {
    state.GlNetErr = true;
    if (report) report(text);
  };
  // Adds the interface's binding; a port that is not a number leaves the
  // server's default port in the binding. False when the port was not a number.
  const auto bind = [&](int i) {
    const InterfaceConfig& c = config.iface[i];
    uint16_t port = 0;
    const bool ok = ParsePortText(c.port, port);
    servers[i]->AddBinding(c.address, ok ? port : servers[i]->DefaultPort());
    return ok;
  };
  const auto start = [&](int i, const char* prefix) {
    const InterfaceConfig& c = config.iface[i];
    if (!servers[i]->Start()) {
      fail(std::string(prefix) + c.address + ":" + c.port + ".Парам. не вступили в силу!");
    }
  };

  state.GlNetErr = false;
  for (platform::UdpEndpoint* s : servers) {
    s->Stop();
    s->ClearBindings();
  }

  const InterfaceConfig& eth1 = config.iface[0];
  const InterfaceConfig& eth2 = config.iface[1];
  const InterfaceConfig& gsm = config.iface[2];

  if (eth1.inUse) {
    if (eth1.address.empty()) {
      fail("Ош.IP адр. 1 сетевой карты!Парам. не вступили в силу.");
      return false;
    }
    if (!bind(0)) fail("Ош. Преобр. поля \"Порт 1 Сервера\"!Парам. не вступили в силу.");
  }
  if (eth2.inUse) {
    if (eth2.address.empty()) {
      fail("Ош.IP адр. 2 сетевой карты!Парам. не вступили в силу.");
      return false;
    }
    if (!bind(1)) {
      fail("Ош. Преобр. поля \"Порт 2 Сервера\"!Парам. не вступили в силу.");
      return false;
    }
  }
  if (gsm.inUse) {
    if (gsm.address.empty()) {
      fail("Ош.IP адр. 3(GSM)!Парам. не вступили в силу.");
      return false;
    }
    if (!bind(2)) fail("Ош. Bind Сервера(GSM)Парам. не вступили в силу.");
  }

  if (eth1.inUse) start(0, "Ош. Конфликт карты 1 >");
  if (eth2.inUse) start(1, "Ош. Конфликт карты 2 >");
  if (gsm.inUse) start(2, "Ош. Конфликт 3(GSM) >");
  return true;
}

}  // namespace netsup
