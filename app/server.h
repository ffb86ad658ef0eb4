// The server: the core subsystems wired together, started and stopped in their
// fixed order. Both front ends (the console and --headless) drive this class;
// the front end's thread also runs the main tick, the console timers and the
// grid updates through FrontEndWork.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "armlink/arm_channel.h"
#include "armlink/com_worker.h"
#include "console/console_settings.h"
#include "console/console_timers.h"
#include "console/main_tick.h"
#include "console/message_sink.h"
#include "console/settings_file.h"
#include "devlink/device_link.h"
#include "devlink/device_worker.h"
#include "devlink/intake_ring.h"
#include "devlink/sender.h"
#include "netsup/apply_network.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/serial_linux.h"
#include "platform/udp_server.h"
#include "registry/buff_client.h"

namespace app {

struct ServerConfig {
  std::string dataDir;             // holds <baseName>.ini and <baseName>.ndx
  std::string baseName = "relay-server";
  std::string exeDir;              // where setupc lives
  std::string portsDir = "/dev";   // where the workstation port name is looked up
  int tickMs = 1000;               // period of the main tick
  // Traffic lines of device and workstation telegrams from the start, until
  // exit: the automatic stop after five minutes is off.
  bool trace = false;
};

class Server {
 public:
  explicit Server(ServerConfig config);
  ~Server();

  // Start-up in its fixed order: settings, registry, workstation port, UDP
  // servers, device worker, workstation worker; the tick runs from the first
  // FrontEndWork. False with the reason when the settings are unusable.
  bool Start(std::string* error);
  // True when the workstation port is held by another process: another copy
  // of the server runs.
  bool SecondCopy() const { return secondCopy_; }
  // Shutdown in its fixed order: workers stopped, settings written, port
  // closed, registry written unless GlRegPermanent, UDP servers stopped.
  void Stop();

  // The front end's periodic work: due main ticks with the console timers,
  // and the grid rows the workers asked to refresh. Returns the milliseconds
  // until it is due again.
  int FrontEndWork();

  // The operator's "Разрешить новую регистрацию" after a confirmed Yes: for
  // every device (five minutes), or for the one device with number `n`.
  void OpenRegistrationAll();
  void OpenRegistrationOne(devlink::ConsoleNumber n);

  // Writes the registry file now.
  bool SaveRegistry();
  // Asks setupc to give the workstation's end of the pair the name `armPort`.
  void RenameWorkstationEnd(const std::string& armPort);

  console::ConsoleSettings& Settings() { return settings_; }
  console::LineQueue& Lines() { return lines_; }
  console::MessageSink& Sink() { return sink_; }
  devlink::DeviceLink& Link() { return *link_; }
  registry::TBuffClient& Store() { return store_; }
  armlink::ArmChannel& Channel() { return channel_; }

  // What the server runs with, one line each, for the operator's screen.
  std::vector<std::string> Describe();

  std::string IniPath() const { return cfg_.dataDir + "/" + cfg_.baseName + ".ini"; }
  std::string NdxPath() const { return cfg_.dataDir + "/" + cfg_.baseName + ".ndx"; }
  std::string PortName() const { return "CNCB" + std::to_string(form1_.NnPort); }

 private:
  void ApplyNetwork();
  void OpenPort();
  void ClosePort();
  void OnMainTick();
  void RefreshRequestedRows();

  const ServerConfig cfg_;

  console::ConsoleSettings settings_;
  console::LineQueue lines_;
  platform::SystemClock clock_;
  console::MessageSink sink_{settings_, lines_, clock_};
  platform::IniFile ini_;
  console::Form1Settings form1_;

  registry::TBuffClient store_;
  devlink::Sender sender_{sink_};
  devlink::WorkSignal signal_;
  devlink::IntakeRing ring_{&signal_};
  std::unique_ptr<devlink::DeviceLink> link_;
  std::array<std::unique_ptr<platform::UdpServer>, 3> udp_;
  netsup::NetworkState net_;
  platform::TermiosPort port_;
  bool secondCopy_ = false;
  armlink::ArmChannel channel_;
  std::unique_ptr<devlink::TEthernThread> deviceWorker_;
  std::unique_ptr<armlink::TCOMThread> comWorker_;
  bool started_ = false;
  // Set at the start of Stop: listeners no longer wait for room in the ring.
  std::atomic<bool> stopping_{false};

  // The main tick and the console timers, on the front end's thread.
  console::MainTick mainTick_;
  console::ConsoleTimers timers_;
  console::RegistrationControl registration_;
  console::TickSchedule schedule_;
  unsigned ticks_ = 0;

  // Grid rows the workers asked to refresh, taken by the front end.
  std::mutex rowsMutex_;
  std::vector<uint16_t> rows_;
};

}  // namespace app
