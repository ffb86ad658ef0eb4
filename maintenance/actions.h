// The operator's maintenance actions as jobs for the session: each asks for
// the device's user name and password first and runs only when the device
// accepts them. The window and relayctl start the same jobs.
#pragma once

#include <memory>
#include <string>

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

}  // namespace maintenance
