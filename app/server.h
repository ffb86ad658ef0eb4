// The server: the core subsystems wired together, started and stopped in their
// fixed order. Both front ends (the console and --headless) drive this class.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "console/console_settings.h"
#include "console/message_sink.h"
#include "console/settings_file.h"
#include "devlink/device_link.h"
#include "devlink/device_worker.h"
#include "devlink/intake_ring.h"
#include "devlink/sender.h"
#include "netsup/apply_network.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/udp_server.h"
#include "registry/buff_client.h"

namespace app {

class Server {
 public:
  // `dataDir` holds <baseName>.ini and <baseName>.ndx.
  Server(std::string dataDir, std::string baseName);
  ~Server();

  // Reads the settings, loads the registry, binds the UDP servers and starts
  // the device worker. False with the reason when the settings are unusable.
  bool Start(std::string* error);
  // Stops the workers and the UDP servers.
  void Stop();

  // Opens registration as the operator's "Разрешить новую регистрацию" does:
  // for every device, or for the one device with number `n`.
  void OpenRegistrationAll();
  void OpenRegistrationOne(devlink::ConsoleNumber n);

  console::ConsoleSettings& Settings() { return settings_; }
  console::LineQueue& Lines() { return lines_; }
  console::MessageSink& Sink() { return sink_; }
  devlink::DeviceLink& Link() { return *link_; }

  // What the server runs with, one line each, for the operator's screen.
  std::vector<std::string> Describe();

  std::string IniPath() const { return dataDir_ + "/" + baseName_ + ".ini"; }
  std::string NdxPath() const { return dataDir_ + "/" + baseName_ + ".ndx"; }

 private:
  void ApplyNetwork();

  const std::string dataDir_;
  const std::string baseName_;

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
  std::unique_ptr<devlink::TEthernThread> deviceWorker_;
};

}  // namespace app
