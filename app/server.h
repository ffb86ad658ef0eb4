// The server: the core subsystems wired together, started and stopped in their
// fixed order, and the operator's actions on them. Both front ends (the
// console and --headless) drive this class, so an action has one
// implementation whichever front end asks for it; the front end's thread also
// runs the main tick, the console timers and the grid updates through
// FrontEndWork.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "armlink/arm_channel.h"
#include "armlink/com_worker.h"
#include "console/console_settings.h"
#include "console/console_timers.h"
#include "console/device_grid.h"
#include "console/main_tick.h"
#include "console/message_sink.h"
#include "console/settings_file.h"
#include "devlink/device_link.h"
#include "devlink/device_worker.h"
#include "devlink/intake_ring.h"
#include "devlink/sender.h"
#include "maintenance/session.h"
#include "netsup/inet_check.h"
#include "netsup/network_supervision.h"
#include "platform/adapters.h"
#include "platform/clock.h"
#include "platform/file_lock.h"
#include "platform/ini_file.h"
#include "platform/routes.h"
#include "platform/serial_linux.h"
#include "platform/service_notify.h"
#include "platform/udp_server.h"
#include "registry/buff_client.h"
#include "registry/ndx_file.h"
#include "registry/registry_saver.h"

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

using console::DeviceRef;

class ControlDispatcher;
class ControlServer;
class ServiceSupervision;

class Server {
 public:
  explicit Server(ServerConfig config);
  ~Server();

  // The first steps of the start, which a window needs before it shows:
  // the data folder's lock (a second copy when another server holds it) and
  // the settings file. False with the reason when the settings are unusable.
  bool LoadSettings(std::string* error);
  // Start-up in its fixed order: settings (when not loaded yet), registry,
  // workstation port, UDP servers, device worker, workstation worker; the
  // tick runs from the first FrontEndWork. A second copy stops after the port.
  bool Start(std::string* error);
  // True when another server runs on this data folder or holds the
  // workstation port. Such a copy serves no device and writes no registry.
  bool SecondCopy() const { return secondCopy_; }
  // Shutdown in its fixed order: workers stopped, settings written, port
  // closed, registry written unless GlRegPermanent, UDP servers stopped.
  void Stop();
  bool Running() const { return started_; }

  // How far the device worker, the workstation worker and the front end's
  // work have come: counts that stop while one of them hangs. Any thread,
  // between the return of Start and the call of Stop.
  struct WorkProgress {
    uint64_t deviceWorker = 0, comWorker = 0, frontEnd = 0;
  };
  WorkProgress Progress() const;

  // The front end's periodic work: due main ticks (every missed one made up,
  // in order) with the console timers, and the grid rows the workers asked to
  // refresh. Returns the milliseconds until it is due again.
  int FrontEndWork();
  // Sleeps up to `ms`, waking early for the control socket: the headless
  // front end's wait between two passes.
  void WaitForWork(int ms);

  // ---- registration (tab "Регистрация")

  // "Разрешить новую регистрацию" after a confirmed Yes: for every device
  // (five minutes), or for the one device with number `n`.
  void OpenRegistrationAll();
  void OpenRegistrationOne(devlink::ConsoleNumber n);
  // Registration off; the registry is written.
  void CloseRegistration();
  // "Разрешить удаление одной зарег.": on for five minutes, or off.
  void AllowDeleteOne(bool on);
  bool DeleteOneAllowed() const { return timers_.deleteOneAllowed; }
  // "Автом. стоп" of the traffic trace.
  void SetAutoStop(bool on) { timers_.autoStop = on; }

  // ---- the registry

  // Writes the registry file on the saving thread; returns at once.
  void SaveRegistry();
  // Waits until the saves asked for are done (for tests and benchmarks).
  void WaitForSaves();
  void DeleteAllRegistrations();
  void ClearUnusedRecords();
  registry::NdxCompare CompareRegistry();
  // False when the file could not be loaded (the reason is a message).
  bool LoadRegistry();
  // "RegistrationObj.txt" in the data folder, from the grid as shown.
  bool ExportRegistered();
  // "Обновить таблицу": the grid filled from the table, in index order.
  void RefreshGrid();
  // The grid sorted by "Пультовой N" or "N стр."; false for another column.
  bool SortGrid(int column, bool ascending);

  // ---- one device (popup menu of the grid). Each returns false, saying why
  // in the message window, when the record no longer holds the device.

  bool DeleteRegistration(const DeviceRef& d);
  // Service request of `kind` 0..6 as if the workstation had sent it.
  bool ServiceRequest(const DeviceRef& d, int kind);
  // Switched off for non-payment (kind 5) or on again (kind 6).
  bool SwitchOff(const DeviceRef& d);
  bool SwitchOn(const DeviceRef& d);
  bool PermitSubstitution(const DeviceRef& d);
  // The traffic filter follows the device (it is not switched on).
  bool SetTrafficFilter(const DeviceRef& d);

  // ---- the traffic trace

  // "Пуск": the trace runs, stopped after five minutes with "Автом. стоп".
  void TraceStart();
  void TraceStop() { settings_.GlTraficRun = false; }

  // ---- settings (tab "Настройки")

  const console::Form1Settings& Form1() const { return form1_; }
  // The operator left or clicked `control`; `f` holds the form's values.
  void EditSettings(console::Form1Settings f, console::Form1Control control);
  // Writes the settings file; false with the reason as a message.
  bool WriteSettings();
  // A window's geometry from its section of the settings file ("Help_1",
  // "frmMain" and so on), each value defaulted; and back, for the next write.
  struct Geometry {
    int left, top, width, height;
  };
  Geometry WindowGeometry(const std::string& section, Geometry defaults) const;
  void SetWindowGeometry(const std::string& section, const Geometry& g);
  // A text a window keeps in its section (a file name, say), and back.
  std::string WindowText(const std::string& section, const std::string& key,
                         const std::string& fallback) const {
    return ini_.GetString(section, key, fallback);
  }
  void SetWindowText(const std::string& section, const std::string& key, const std::string& v) {
    ini_.SetString(section, key, v);
  }
  // Binds the three UDP servers anew from the settings, arms the GSM
  // keep-alive and, with "Управл. Интерфейсами", sets the default route.
  // Failures go to the apply reporter, or with `asMessages` to the message
  // window (so that a control socket's answer carries them). False when
  // anything failed; the main tick retries it every ten ticks.
  bool ApplyNetwork(bool asMessages = false);
  // How the failures of an apply the operator asked for are shown: the
  // window shows boxes; without a reporter they are messages.
  void SetApplyReporter(std::function<void(const std::string&)> report) {
    applyReport_ = std::move(report);
  }
  // "Метрика 1..3" (`iface` 0..2): the default route moved to that interface.
  bool MoveDefaultRoute(int iface);
  // Enter in a port field: servers 1 and 2 rebound on every address, server 2
  // on the port after server 1's, which "Порт 2" then shows.
  // Returns the text of server 2's port.
  std::string QuickRebind(const std::string& port1Text);
  // The host's adapters for the address boxes; empty, with a debug line
  // saying why, when the system cannot be asked.
  std::vector<platform::AdapterAddress> Adapters();
  // The interface (0..2) whose gateway carries the default route, as last
  // read from the kernel; -1 for none of them.
  int DefaultRouteInterface() const;
  // "Виртуальный порт": the port closed and opened under its new name. False,
  // changing nothing, for an item outside CNCB0..CNCB7 or in a second copy.
  bool ChangeWorkstationPort(int nnPort);
  // "Порт АРМ": setupc gives the workstation's end of the pair that name.
  void RenameWorkstationEnd(int portArm);

  // ---- remote maintenance of one device at a time

  // The job on the one maintenance session, for device `d` as it is
  // registered now; the workstation hears of the maintenance's start and
  // end. False, with the reason, while another job runs or when the record no
  // longer holds the device.
  bool StartMaintenance(const DeviceRef& d, const std::string& what,
                        maintenance::Maintenance::Job job, std::string* error);
  maintenance::Maintenance& Maint() { return *maintenance_; }

  // The maintenance window holds the session for device `d` from its
  // opening to its closing (GlMaintOpen): the workstation hears of the start
  // and the end, and relayctl's jobs are refused meanwhile. False, with the
  // reason, while a job runs.
  bool OpenMaintenance(const DeviceRef& d, std::string* error);
  // Its closing: a running job is aborted.
  void CloseMaintenance();
  bool MaintenanceOpen() const { return GlMaintOpen; }
  // A job of the window on its device.
  bool StartWindowMaintenance(const std::string& what, maintenance::Maintenance::Job job,
                              std::string* error);

  // ---- what a reader other than the window asks for (the control socket)

  struct InterfaceState {
    int number;  // 1..3
    std::string address;
    uint16_t port;
  };
  struct StatusReport {
    std::string version;
    int64_t uptimeSeconds = 0;
    std::vector<InterfaceState> interfaces;  // the UDP servers that receive
    std::string portName;
    bool portOpen = false;
    bool registrationOn = false, registrationOne = false;
    devlink::ConsoleNumber registrationNumber;
    size_t registered = 0, linksFailed = 0, linksRestored = 0;
    std::string internet;  // the internet check's state
    bool internetCheck = false;
    std::string probeHost;
    bool defaultRoute = false;  // the kernel has one
    int defaultRouteInterface = 0;  // 1..3 when it goes via an interface's gateway
    std::string defaultGateway, defaultDevice;
  };
  StatusReport Status();

  struct DeviceInfo {
    uint16_t index;
    std::string address;
    uint16_t port;
    devlink::ConsoleNumber number;
    int iface;  // 1..3
    bool switchedOff;
    uint8_t linkState;    // 0 normal, 1 failure, 2 failure reported, 3 restored
    uint8_t maintNotice;  // 1 start, 2 end of maintenance to report
  };
  // The registered devices in index order; with `failedOnly` those whose link failed.
  std::vector<DeviceInfo> Devices(bool failedOnly);
  // The device named by its console number "N1/N2/N3" or its client index
  // "#17", as it is registered now; nullopt with the reason in `error`, and
  // `malformed` set when the name itself is neither.
  std::optional<DeviceRef> FindDevice(const std::string& name, std::string* error,
                                      bool* malformed);

  // The window's tab "Настройки" is open for editing: changes from elsewhere
  // are refused meanwhile, so the operator's half-done edit is not applied.
  void SetSettingsEditing(bool on) { settingsEditing_ = on; }
  // Keys of section "Form1" changed as tab "Настройки" changes them, then the
  // file written and the network settings applied, as when the editing ends.
  // All or nothing: false with the reason when a key or a value is refused.
  bool SetSettings(const std::vector<std::pair<std::string, std::string>>& changes,
                   std::string* error);
  // Grows with each change of the settings made other than by the window.
  uint64_t SettingsGeneration() const { return settingsGeneration_; }

  // True when no save of the registry runs or waits; the saves that failed.
  bool SavesIdle() const;
  uint64_t SaveFailures() const;

  // The devices' answers to service requests, numbered from 1 in order of
  // arrival; those numbered above `after`. Any thread.
  struct ServiceAnswer {
    uint64_t seq;
    uint16_t index;
    uint8_t code;
    uint8_t sim;  // 1, 2, or 0 for none
    std::string line;
  };
  std::vector<ServiceAnswer> ServiceAnswersAfter(uint64_t after);
  uint64_t LastServiceAnswer();

  // While the window asks the operator a question, requests of the control
  // socket wait: nothing changes under an open question.
  void SetFrontEndBusy(bool busy) { frontEndBusy_ = busy; }
  std::string ControlSocketPath() const { return cfg_.dataDir + "/" + cfg_.baseName + ".sock"; }

  console::ConsoleSettings& Settings() { return settings_; }
  console::MessageSink& Sink() { return sink_; }
  devlink::DeviceLink& Link() { return *link_; }
  registry::TBuffClient& Store() { return store_; }
  armlink::ArmChannel& Channel() { return channel_; }
  bool PortOpen() const { return port_.IsOpen(); }

  // What the server runs with, one line each, for the operator's screen.
  std::vector<std::string> Describe();

  std::string IniPath() const { return cfg_.dataDir + "/" + cfg_.baseName + ".ini"; }
  std::string NdxPath() const { return cfg_.dataDir + "/" + cfg_.baseName + ".ndx"; }
  std::string LockPath() const { return cfg_.dataDir + "/" + cfg_.baseName + ".lock"; }
  std::string PortName() const { return "CNCB" + std::to_string(form1_.NnPort); }

  static constexpr const char* kSecondCopyRefusal =
      "Внимание - Запущен второй экземпляр программы! Реестр не записывается.";

 private:
  // True when the port is open; the outcome is a line of the message window.
  bool OpenPort();
  void ClosePort();
  void OnMainTick();
  netsup::NetworkConfig NetworkConfig() const;
  void StartInternetCheck();
  void RefreshRequestedRows();
  // The control socket, served from FrontEndWork; false when another server
  // already listens on it.
  bool OpenControlSocket();
  // Lock held: the record of `d` still holds that device; otherwise says so.
  bool Holds(const DeviceRef& d);
  // The maintenance notice (1 start, 2 end) for the workstation.
  void SetMaintNotice(uint16_t index, uint8_t notice);

  const ServerConfig cfg_;

  console::ConsoleSettings settings_;
  console::LineQueue lines_;
  platform::SystemClock clock_;
  console::MessageSink sink_{settings_, lines_, clock_};
  platform::IniFile ini_;
  console::Form1Settings form1_;
  platform::FileLock dataLock_;

  registry::TBuffClient store_;
  devlink::Sender sender_{sink_};
  devlink::WorkSignal signal_;
  devlink::IntakeRing ring_{&signal_};
  std::unique_ptr<devlink::DeviceLink> link_;
  std::unique_ptr<maintenance::Maintenance> maintenance_;
  bool GlMaintOpen = false;
  DeviceRef maintDevice_{};
  std::unique_ptr<registry::RegistrySaver> saver_;
  std::array<std::unique_ptr<platform::UdpServer>, 3> udp_;
  platform::NetlinkRouteTable routes_;
  std::unique_ptr<netsup::NetworkSupervision> network_;
  std::unique_ptr<netsup::TCheckInetThread> inet_;
  std::string probeHost_;
  std::function<void(const std::string&)> applyReport_;
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
  std::atomic<uint64_t> frontEndPasses_{0};
  std::chrono::steady_clock::time_point startedAt_;
  uint64_t settingsGeneration_ = 0;
  bool settingsEditing_ = false;

  // Under systemd: ready once started, watchdog pings while all parts progress.
  platform::SystemdNotifier notifier_;
  std::unique_ptr<ServiceSupervision> supervision_;

  std::unique_ptr<ControlDispatcher> dispatcher_;
  std::unique_ptr<ControlServer> control_;
  bool frontEndBusy_ = false;

  std::mutex answersMutex_;
  std::deque<ServiceAnswer> answers_;
  uint64_t answerSeq_ = 0;

  // Grid rows the workers asked to refresh, taken by the front end.
  std::mutex rowsMutex_;
  std::vector<uint16_t> rows_;
};

}  // namespace app
