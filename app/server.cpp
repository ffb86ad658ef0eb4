#include "app/server.h"

#include "registry/ndx_file.h"

namespace app {

namespace {
constexpr uint16_t kDefaultPorts[3] = {5000, 5001, 5002};
// How long a listener holds a datagram while the intake ring is full.
constexpr std::chrono::milliseconds kRingWait{1000};
}

Server::Server(std::string dataDir, std::string baseName)
    : dataDir_(std::move(dataDir)), baseName_(std::move(baseName)) {
  for (int s = 0; s < 3; ++s) {
    udp_[s] = std::make_unique<platform::UdpServer>(
        kDefaultPorts[s], [this, s](const uint8_t* data, size_t n, std::string_view peer,
                                    uint16_t port) {
          ring_.WaitForRoom(kRingWait);
          ring_.Receive(uint8_t(s), data, n, peer, port);
        });
    sender_.SetEndpoint(s, udp_[s].get());
  }
}

Server::~Server() { Stop(); }

bool Server::Start(std::string* error) {
  std::string why;
  if (!ini_.Load(IniPath(), &why)) {
    *error = "файл настроек " + IniPath() + ": " + why;
    return false;
  }
  const auto regKeyBase = console::ReadRegKeyBase(ini_, &why);
  if (!regKeyBase) {
    *error = "файл настроек " + IniPath() + ": " + why;
    return false;
  }
  form1_ = console::ReadForm1(ini_);
  console::ApplyForm1(form1_, settings_);

  link_ = std::make_unique<devlink::DeviceLink>(store_, settings_, sink_, sender_, clock_,
                                                *regKeyBase);
  registry::LoadNdx(store_, link_->Lock, NdxPath(), sink_);
  ApplyNetwork();
  deviceWorker_ = std::make_unique<devlink::TEthernThread>(*link_, ring_, signal_);
  deviceWorker_->Start();
  return true;
}

void Server::ApplyNetwork() {
  netsup::NetworkConfig cfg;
  cfg.iface[0] = {form1_.SetKarta_11, form1_.IpAdrrServ_1, form1_.EditPortServ1, form1_.GateWay1};
  cfg.iface[1] = {form1_.SetKarta_22, form1_.IpAdrrServ_2, form1_.EditPortServ2, form1_.GateWay2};
  cfg.iface[2] = {form1_.GSM_Modem, form1_.IpAdrrGsm, form1_.EditPortGSM, form1_.GateWayGSM};
  netsup::ApplyNetworkSettings(cfg, {udp_[0].get(), udp_[1].get(), udp_[2].get()}, net_,
                               [this](const std::string& text) { sink_.Message(text); });
}

void Server::Stop() {
  // The worker first, so no answer goes to a closed socket; a listener waiting
  // for room in the ring gives up within its bounded wait.
  if (deviceWorker_) deviceWorker_->Stop();
  for (auto& u : udp_) u->Stop();
}

std::vector<std::string> Server::Describe() {
  std::vector<std::string> lines;
  size_t registered = 0;
  {
    std::lock_guard<std::mutex> lock(link_->Lock);
    for (size_t i = 0; i < store_.Table().Size(); ++i) registered += store_.Table()[i].inUse != 0;
  }
  lines.push_back("настройки " + IniPath() + ", реестр " + NdxPath() +
                  " (зарегистрировано приборов: " + std::to_string(registered) + ")");
  const std::string addr[3] = {form1_.IpAdrrServ_1, form1_.IpAdrrServ_2, form1_.IpAdrrGsm};
  for (int s = 0; s < 3; ++s) {
    if (udp_[s]->Running())
      lines.push_back("интерфейс " + std::to_string(s + 1) + " принимает на " + addr[s] + ":" +
                      std::to_string(udp_[s]->BoundPort()));
  }
  return lines;
}

void Server::OpenRegistrationAll() {
  settings_.GlRegOne = false;
  settings_.GlRegOn = true;
}

void Server::OpenRegistrationOne(devlink::ConsoleNumber n) {
  settings_.GlRegNPult.Store(n);
  settings_.GlRegOne = true;
  settings_.GlRegOn = true;
  settings_.GlRegOneStart = true;
  signal_.Notify();
}

}  // namespace app
