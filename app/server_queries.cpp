// What the server reports to readers other than the window: its state, the
// registered devices, a device by name, the answers to service requests.
#include <charconv>

#include "app/options.h"
#include "app/server.h"
#include "armlink/commands.h"

namespace app {

namespace {
// A failure found by the sweep, reported to the workstation or not yet.
bool LinkFailed(const devlink::ClientRecord& r) { return r.linkState == 1 || r.linkState == 2; }
}  // namespace

Server::StatusReport Server::Status() {
  StatusReport r;
  r.version = std::string(RELAY_VERSION) + " от " + RELAY_RELEASE_DATE;
  if (started_)
    r.uptimeSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::steady_clock::now() - startedAt_)
                          .count();
  const std::string addr[3] = {form1_.IpAdrrServ_1, form1_.IpAdrrServ_2, form1_.IpAdrrGsm};
  for (int s = 0; s < 3; ++s)
    if (udp_[s]->Running()) r.interfaces.push_back({s + 1, addr[s], udp_[s]->BoundPort()});
  r.portName = PortName();
  r.portOpen = port_.IsOpen();
  r.registrationOn = settings_.GlRegOn;
  r.registrationOne = settings_.GlRegOne;
  r.registrationNumber = settings_.GlRegNPult.Load();
  {
    std::lock_guard<std::mutex> lock(link_->Lock);
    const devlink::ClientTable& t = store_.Table();
    for (size_t i = 0; i < t.Size(); ++i) {
      if (!t[i].inUse) continue;
      ++r.registered;
      r.linksFailed += LinkFailed(t[i]);
      r.linksRestored += t[i].linkState == 3;
    }
  }
  switch (link_->internet.load()) {
    case devlink::InternetState::Unknown: r.internet = "неизвестно"; break;
    case devlink::InternetState::Present: r.internet = "есть"; break;
    case devlink::InternetState::Absent: r.internet = "нет"; break;
  }
  r.internetCheck = form1_.CheckBox_Internet;
  r.probeHost = probeHost_;
  if (started_ && !secondCopy_) {
    const netsup::DefaultRouteState route = network_->DefaultRoute(NetworkConfig());
    r.defaultRoute = route.present;
    r.defaultRouteInterface = route.iface + 1;
    r.defaultGateway = route.route.gateway;
    r.defaultDevice = route.route.device;
  }
  return r;
}

std::vector<Server::DeviceInfo> Server::Devices(bool failedOnly) {
  std::vector<DeviceInfo> out;
  std::lock_guard<std::mutex> lock(link_->Lock);
  const devlink::ClientTable& t = store_.Table();
  for (size_t i = 0; i < t.Size(); ++i) {
    const devlink::ClientRecord& r = t[i];
    if (!r.inUse) continue;
    if (failedOnly && !LinkFailed(r)) continue;
    out.push_back({uint16_t(i), std::string(devlink::PStrView(r.peerAddr)), devlink::PeerPort(r),
                   devlink::NumberOf(r), r.iface + 1, r.switchedOff != 0, r.linkState,
                   r.maintNotice});
  }
  return out;
}

std::optional<DeviceRef> Server::FindDevice(const std::string& name, std::string* error,
                                            bool* malformed) {
  *malformed = false;
  std::lock_guard<std::mutex> lock(link_->Lock);
  const devlink::ClientTable& t = store_.Table();
  if (!name.empty() && name[0] == '#') {
    unsigned index = 0;
    const char* end = name.data() + name.size();
    const auto [p, ec] = std::from_chars(name.data() + 1, end, index);
    if (ec != std::errc() || p != end || name.size() == 1) {
      *malformed = true;
      *error = "номер записи " + name + ": ожидается # и число";
      return std::nullopt;
    }
    if (!t.Valid(index) || !t[index].inUse) {
      *error = "в записи " + name + " нет зарегистрированного прибора";
      return std::nullopt;
    }
    return DeviceRef{uint16_t(index), devlink::NumberOf(t[index])};
  }
  const auto n = ParseConsoleNumber(name);
  if (!n) {
    *malformed = true;
    *error = "прибор \"" + name + "\": ожидается пультовой номер N1/N2/N3 или номер записи #N";
    return std::nullopt;
  }
  for (size_t i = 0; i < t.Size(); ++i)
    if (t[i].inUse && devlink::NumberOf(t[i]) == *n) return DeviceRef{uint16_t(i), *n};
  *error = "прибор " + name + " не зарегистрирован";
  return std::nullopt;
}

std::vector<Server::ServiceAnswer> Server::ServiceAnswersAfter(uint64_t after) {
  std::lock_guard<std::mutex> g(answersMutex_);
  std::vector<ServiceAnswer> out;
  for (const ServiceAnswer& a : answers_)
    if (a.seq > after) out.push_back(a);
  return out;
}

uint64_t Server::LastServiceAnswer() {
  std::lock_guard<std::mutex> g(answersMutex_);
  return answerSeq_;
}

bool Server::SavesIdle() const { return !saver_ || saver_->Idle(); }

uint64_t Server::SaveFailures() const { return saver_ ? saver_->Failures() : 0; }

}  // namespace app
