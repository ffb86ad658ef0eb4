// The operator's maintenance actions as jobs for the session: each asks for
// the device's user name and password first and runs only when the device
// accepts them. The window and relayctl start the same jobs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "maintenance/device_test.h"
#include "maintenance/network_exchange.h"
#include "maintenance/session.h"

namespace maintenance {

struct Credentials {
  std::string user, password;
};

// The login check, then `action`.
Maintenance::Job WithLogin(Credentials login, Maintenance::Job action);

// The actions without files: versions, new credentials, the web interface.
Maintenance::Job VersionsJob(Credentials login);
Maintenance::Job NewCredentialsJob(Credentials login, Credentials fresh);
Maintenance::Job WebInterfaceJob(Credentials login);

// The device's network settings: the web interface switched on, as the
// network settings window does, then the read into `out`.
Maintenance::Job NetworkReadJob(Credentials login, std::shared_ptr<DeviceSettings> out);
// As the read, then `image` (a settings file's 110 bytes) written over the
// main block, the device keeping its own MAC address; the SMS and NTP blocks
// go back as read.
Maintenance::Job NetworkWriteJob(Credentials login, NetworkBlock image,
                                 std::shared_ptr<DeviceSettings> out);
// The web interface switched on, then the remote reset.
Maintenance::Job ResetJob(Credentials login);

// The channel test of the test window: the channel command with `masks`,
// its answer logged and the test exchange ended.
Maintenance::Job TestJob(Credentials login, ChannelMasks masks);

// The main controller's firmware update from the file `fileName` whose
// contents are `bytes` (nothing when it could not be read): the maintenance
// target set to the device's recorded address, port and interface, the
// login, then the update. A file that is missing or not a sound firmware
// file is refused before the login.
Maintenance::Job UpdateMainJob(Credentials login, std::string fileName,
                               std::optional<std::string> bytes);

// The update of the Ethernet controller ("Микросхема 2 (Файл 87J60)"): the
// maintenance target set to the device's recorded address, port and
// interface, the login, then the TFTP transfer of `bytes` (nothing when the
// file named `fileName` could not be read).
Maintenance::Job UpdateEthJob(Credentials login, std::string fileName,
                              std::optional<std::vector<uint8_t>> bytes);

}  // namespace maintenance
