#include "app/server.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <unistd.h>

#include "app/control_requests.h"
#include "app/control_server.h"
#include "app/service_supervision.h"
#include "platform/icmp_echo.h"
#include "platform/ipv4_text.h"
#include "platform/replace_file.h"
#include "platform/unix_socket.h"
#include "registry/ndx_file.h"

namespace app {

namespace {
constexpr uint16_t kDefaultPorts[3] = {5000, 5001, 5002};
// How long a listener holds a datagram while the intake ring is full.
constexpr std::chrono::milliseconds kRingWait{1000};
// The delayed save's timer runs every ten main ticks.
constexpr unsigned kTicksPerFileTimer = 10;
// Answers to service requests kept for the control socket's waits.
constexpr size_t kAnswersKept = 256;
}  // namespace

Server::Server(ServerConfig config)
    : cfg_(std::move(config)),
      mainTick_([this] { devlink::GiveTick(*link_, signal_); }),
      timers_(settings_, [this] { SaveRegistry(); }),
      registration_(settings_, timers_, [this] { SaveRegistry(); }, [this] { signal_.Notify(); }) {
  for (int s = 0; s < 3; ++s) {
    udp_[s] = std::make_unique<platform::UdpServer>(
        kDefaultPorts[s], [this, s](const uint8_t* data, size_t n, std::string_view peer,
                                    uint16_t port) {
          ring_.WaitForRoom(kRingWait, stopping_);
          ring_.Receive(uint8_t(s), data, n, peer, port);
        });
    sender_.SetEndpoint(s, udp_[s].get());
  }
  network_ = std::make_unique<netsup::NetworkSupervision>(
      std::array<platform::UdpEndpoint*, 3>{udp_[0].get(), udp_[1].get(), udp_[2].get()}, routes_,
      [](const std::string& address, std::string* error) {
        const platform::EchoResult r = platform::SendEcho(address);
        *error = r.detail;
        return r.outcome == platform::EchoOutcome::kReply;
      },
      settings_, sink_);
}

Server::~Server() { Stop(); }

bool Server::LoadSettings(std::string* error) {
  if (link_) return true;
  std::string why;
  // The data folder is one server's: a copy that finds its lock held is a
  // second copy, whatever port it was given.
  const auto lock = dataLock_.Take(LockPath(), &why);
  if (lock == platform::FileLock::Result::kFailed) {
    *error = "каталог данных: " + why;
    return false;
  }
  secondCopy_ = lock == platform::FileLock::Result::kHeld;
  // A server answering on the folder's control socket is another copy too,
  // even when the lock file was taken from under it: its files are left alone.
  if (!secondCopy_) {
    const int probe = platform::ConnectUnix(ControlSocketPath());
    secondCopy_ = probe >= 0 || errno == EAGAIN;
    if (probe >= 0) ::close(probe);
  }
  stopping_ = false;
  if (!secondCopy_) {
    // Saves killed in their middle by an earlier run leave their temporary files.
    platform::RemoveStaleTemporaries(NdxPath());
    platform::RemoveStaleTemporaries(IniPath());
  }
  if (!ini_.Load(IniPath(), &why)) {
    *error = "файл настроек " + IniPath() + ": " + why;
    return false;
  }
  const auto regKeyBase = console::ReadRegKeyBase(ini_, &why);
  const auto probeHost = regKeyBase ? console::ReadInetProbeHost(ini_, &why) : std::nullopt;
  if (!regKeyBase || !probeHost) {
    *error = "файл настроек " + IniPath() + ": " + why;
    return false;
  }
  probeHost_ = *probeHost;
  form1_ = console::ReadForm1(ini_);
  // Without the internet check there is nothing to block link failures on.
  if (!form1_.CheckBox_Internet) form1_.CheckAvarOrvane = false;
  console::ApplyForm1(form1_, settings_);
  if (cfg_.trace) {
    settings_.GlTraficRun = true;
    settings_.GlOutCom = true;
    timers_.autoStop = false;
  }

  link_ = std::make_unique<devlink::DeviceLink>(store_, settings_, sink_, sender_, clock_,
                                                *regKeyBase);
  // Rows are refreshed by the front end, which must not wait for Lock held by
  // the worker that asks.
  link_->onRowRefresh = [this](uint16_t i) {
    std::lock_guard<std::mutex> g(rowsMutex_);
    rows_.push_back(i);
  };
  maintenance_ = std::make_unique<maintenance::Maintenance>(*link_);
  // A short tick for tests shortens the maintenance waits alike, but never
  // below a twentieth: a busy test machine must still see a device's answer.
  maintenance_->Shared().timeDivisor = std::clamp(1000 / cfg_.tickMs, 1, 20);
  link_->onServiceAnswer = [this](uint16_t i, uint8_t code, uint8_t sim, const std::string& line) {
    std::lock_guard<std::mutex> g(answersMutex_);
    answers_.push_back({++answerSeq_, i, code, sim, line});
    if (answers_.size() > kAnswersKept) answers_.pop_front();
  };
  return true;
}

bool Server::Start(std::string* error) {
  if (started_) return true;
  if (!LoadSettings(error)) return false;
  if (secondCopy_) store_.RefuseWrites(kSecondCopyRefusal);
  registry::LoadNdx(store_, link_->Lock, NdxPath(), sink_);
  saver_ = std::make_unique<registry::RegistrySaver>(store_, link_->Lock, NdxPath(), sink_);
  // A port held by another process means another server; one that does not
  // exist is only a port failure.
  const auto held = [this] {
    return !OpenPort() && port_.LastError() == platform::TermiosPort::OpenError::kBusy;
  };
  if (!secondCopy_) secondCopy_ = held();
  if (!secondCopy_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    secondCopy_ = held();  // a pair being set up may have appeared meanwhile
  }
  // One that began to listen since the settings were loaded is another copy too.
  if (!secondCopy_) secondCopy_ = !OpenControlSocket();
  started_ = true;
  startedAt_ = std::chrono::steady_clock::now();
  if (secondCopy_) {
    // Another server runs on this data folder or holds the port, found at
    // either try: this copy must not serve devices from its own table, nor
    // write the registry, whatever the operator does with it.
    settings_.GlRegPermanent = true;
    store_.RefuseWrites(kSecondCopyRefusal);
    return true;
  }
  ApplyNetwork();
  deviceWorker_ = std::make_unique<devlink::TEthernThread>(*link_, ring_, signal_);
  deviceWorker_->Start();
  comWorker_ = std::make_unique<armlink::TCOMThread>(*link_, channel_, port_);
  comWorker_->Start();
  StartInternetCheck();
  schedule_.Start(std::chrono::steady_clock::now(), std::chrono::milliseconds(cfg_.tickMs));
  supervision_ = std::make_unique<ServiceSupervision>(*this, notifier_, cfg_.tickMs);
  supervision_->Ready();
  return true;
}

bool Server::OpenPort() {
  if (port_.IsOpen()) return true;
  const std::string name = PortName();
  if (port_.Open(name, cfg_.portsDir)) {
    sink_.ConsoleLine(name + " - Успешно открыт.");
    return true;
  }
  sink_.ConsoleLine(name + " - не открыт.");
  sink_.DebugLine(port_.ErrorText());
  return false;
}

void Server::ClosePort() {
  if (!port_.IsOpen()) return;
  const std::string name = port_.Name();  // the name it was opened under
  port_.Close();
  sink_.ConsoleLine(name + " - закрыт.");
}

netsup::NetworkConfig Server::NetworkConfig() const {
  netsup::NetworkConfig cfg;
  cfg.iface[0] = {form1_.SetKarta_11, form1_.IpAdrrServ_1, form1_.EditPortServ1, form1_.GateWay1};
  cfg.iface[1] = {form1_.SetKarta_22, form1_.IpAdrrServ_2, form1_.EditPortServ2, form1_.GateWay2};
  cfg.iface[2] = {form1_.GSM_Modem, form1_.IpAdrrGsm, form1_.EditPortGSM, form1_.GateWayGSM};
  return cfg;
}

bool Server::ApplyNetwork(bool asMessages) {
  if (secondCopy_) return false;  // the interfaces belong to the server that runs
  const auto message = [this](const std::string& text) { sink_.Message(text); };
  return network_->Apply(NetworkConfig(), form1_.CheckBoxMetric,
                         asMessages || !applyReport_ ? message : applyReport_);
}

void Server::StartInternetCheck() {
  // Five ticks between probes, two for a reply: 5 s and 2 s at the normal tick.
  // A host named, not numbered, costs a name lookup each time: never faster.
  uint32_t numbered = 0;
  const std::chrono::milliseconds tick =
      platform::ParseDottedIPv4(probeHost_, numbered) ? std::chrono::milliseconds(cfg_.tickMs)
                                                      : std::chrono::milliseconds(1000);
  auto probe = [host = probeHost_, timeout = 2 * tick](std::stop_token stop, std::string* detail) {
    const platform::EchoResult r = platform::PingOnce(host, timeout, stop);
    *detail = r.detail;
    switch (r.outcome) {
      case platform::EchoOutcome::kReply: return netsup::ProbeResult::kSuccess;
      case platform::EchoOutcome::kNoIcmp: return netsup::ProbeResult::kNoIcmp;
      case platform::EchoOutcome::kCancelled: return netsup::ProbeResult::kCancelled;
      default: return netsup::ProbeResult::kFailure;
    }
  };
  netsup::InetReports reports;
  reports.onChange = [this](netsup::InetState state, netsup::InetDebouncer::Event event) {
    using devlink::InternetState;
    link_->internet = state == netsup::InetState::kOnline    ? InternetState::Present
                      : state == netsup::InetState::kOffline ? InternetState::Absent
                                                             : InternetState::Unknown;
    // The workstation hears of it when it next polls; of a state no longer
    // known, nothing.
    if (state == netsup::InetState::kUndecided) {
      channel_.internet.cameOnline = false;
      channel_.internet.wentOffline = false;
    }
    if (event == netsup::InetDebouncer::Event::kCameOnline) channel_.internet.cameOnline = true;
    if (event == netsup::InetDebouncer::Event::kWentOffline) channel_.internet.wentOffline = true;
  };
  reports.message = [this](const std::string& text) { sink_.Message(text); };
  inet_ = std::make_unique<netsup::TCheckInetThread>(std::move(probe), std::move(reports), 5 * tick);
  inet_->SetEnabled(form1_.CheckBox_Internet);
}

bool Server::MoveDefaultRoute(int iface) {
  if (secondCopy_ || iface < 0 || iface > 2) return false;
  return network_->MoveDefaultRoute(iface, NetworkConfig());
}

std::string Server::QuickRebind(const std::string& port1Text) {
  if (secondCopy_) return form1_.EditPortServ2;
  form1_.EditPortServ2 = network_->QuickRebind(port1Text);
  return form1_.EditPortServ2;
}

std::vector<platform::AdapterAddress> Server::Adapters() {
  std::vector<platform::AdapterAddress> list;
  std::string why;
  if (platform::ListAdapters(&list, &why)) return list;
  sink_.DebugLine("Список адаптеров не получен: " + why);
  return {};
}

int Server::DefaultRouteInterface() const { return network_->LastDefaultRoute().iface; }

bool Server::OpenControlSocket() {
  dispatcher_ = std::make_unique<ControlDispatcher>(*this);
  control_ = std::make_unique<ControlServer>(*dispatcher_);
  std::string why;
  switch (control_->Open(ControlSocketPath(), &why)) {
    case platform::ListenResult::kListening: return true;
    case platform::ListenResult::kLive: return false;
    case platform::ListenResult::kFailed: break;
  }
  // Relaying matters more than remote control: the server goes on without it.
  sink_.Message("Управляющий сокет не открыт: " + why);
  return true;
}

void Server::Stop() {
  if (!started_) return;
  started_ = false;
  // The stop is no hang: the service manager is told before the workers end.
  if (supervision_) supervision_->Stopping();
  supervision_.reset();
  // A probe under way is cut short, and so is a maintenance job.
  inet_.reset();
  if (maintenance_) {
    maintenance_->Abort();
    maintenance_->Wait();
  }
  // No request is taken from here on; the socket file goes.
  if (control_) control_->Close();
  // From here no listener holds a datagram for a full ring: nobody takes from it.
  stopping_ = true;
  // Workers stop between two of their steps, never while they hold Lock.
  if (comWorker_) comWorker_->Stop();
  if (deviceWorker_) deviceWorker_->Stop();
  WriteSettings();
  ClosePort();
  // The last save runs here, after any that was under way.
  if (saver_) saver_->Finish();
  if (!settings_.GlRegPermanent) registry::SaveNdx(store_, link_->Lock, NdxPath(), sink_);
  for (auto& u : udp_) u->Stop();
  dataLock_.Release();
}

Server::Geometry Server::WindowGeometry(const std::string& section, Geometry d) const {
  return {ini_.GetInt(section, "Left", d.left), ini_.GetInt(section, "Top", d.top),
          ini_.GetInt(section, "Width", d.width), ini_.GetInt(section, "Height", d.height)};
}

void Server::SetWindowGeometry(const std::string& section, const Geometry& g) {
  ini_.SetInt(section, "Left", g.left);
  ini_.SetInt(section, "Top", g.top);
  ini_.SetInt(section, "Width", g.width);
  ini_.SetInt(section, "Height", g.height);
}

bool Server::WriteSettings() {
  std::string why;
  console::WriteForm1(ini_, form1_);
  if (ini_.Save(IniPath(), &why)) return true;
  sink_.Message("Ошибка записи файла настроек " + why);
  return false;
}

void Server::SaveRegistry() {
  if (saver_) saver_->Request();
}

void Server::WaitForSaves() {
  if (saver_) saver_->Wait();
}

Server::WorkProgress Server::Progress() const {
  WorkProgress p;
  p.frontEnd = frontEndPasses_.load(std::memory_order_relaxed);
  if (deviceWorker_) p.deviceWorker = deviceWorker_->Passes();
  if (comWorker_) p.comWorker = comWorker_->Passes();
  return p;
}

int Server::FrontEndWork() {
  frontEndPasses_.fetch_add(1, std::memory_order_relaxed);
  RefreshRequestedRows();
  if (!started_) return 50;
  if (control_ && !frontEndBusy_) control_->Poll();
  for (unsigned n = schedule_.Due(std::chrono::steady_clock::now()); n > 0; --n) OnMainTick();
  return schedule_.UntilNext(std::chrono::steady_clock::now());
}

void Server::WaitForWork(int ms) {
  if (control_ && control_->IsOpen() && !frontEndBusy_) control_->Wait(ms);
  else std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void Server::OnMainTick() {
  const console::MainTick::Due due = mainTick_.Tick(settings_, form1_.CheckBoxMetric);
  if (due.interfaceStep) network_->ManagementStep(NetworkConfig(), link_->table, link_->Lock);
  if (due.networkStep) network_->NetworkStep(NetworkConfig(), form1_.CheckBoxMetric);
  timers_.OnSecond();
  if (++ticks_ % kTicksPerFileTimer == 0) timers_.OnTenSeconds();
}

void Server::RefreshRequestedRows() {
  std::vector<uint16_t> rows;
  {
    std::lock_guard<std::mutex> g(rowsMutex_);
    rows.swap(rows_);
  }
  for (uint16_t i : rows) store_.RefreshRow(link_->Lock, i, sink_);
}

std::vector<std::string> Server::Describe() {
  std::vector<std::string> lines;
  const StatusReport s = Status();
  lines.push_back("настройки " + IniPath() + ", реестр " + NdxPath() +
                  " (зарегистрировано приборов: " + std::to_string(s.registered) + ")");
  lines.push_back("порт АРМ " + port_.Path() + (s.portOpen ? " открыт" : " не открыт"));
  for (const InterfaceState& i : s.interfaces)
    lines.push_back("интерфейс " + std::to_string(i.number) + " принимает на " + i.address + ":" +
                    std::to_string(i.port));
  if (cfg_.tickMs != 1000)
    lines.push_back("основной такт " + std::to_string(cfg_.tickMs) + " мс");
  return lines;
}

}  // namespace app
