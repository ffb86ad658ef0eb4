#include "maintenance/actions.h"

#include <utility>

#include "maintenance/identity.h"
#include "maintenance/settings_file.h"

namespace maintenance {

Maintenance::Job WithLogin(Credentials login, Maintenance::Job action) {
  return [login = std::move(login), action = std::move(action)](Exchange& x) {
    x.Operation(10, 0);
    if (!CheckLogin(x, login.user, login.password)) return false;
    return action(x);
  };
}

Maintenance::Job VersionsJob(Credentials login) {
  return WithLogin(std::move(login), [](Exchange& x) { return QueryVersions(x); });
}

Maintenance::Job NewCredentialsJob(Credentials login, Credentials fresh) {
  return WithLogin(std::move(login), [fresh = std::move(fresh)](Exchange& x) {
    return SendNewCredentials(x, fresh.user, fresh.password);
  });
}

Maintenance::Job WebInterfaceJob(Credentials login) {
  return WithLogin(std::move(login), [](Exchange& x) { return EnableWebInterface(x); });
}

Maintenance::Job NetworkReadJob(Credentials login, std::shared_ptr<DeviceSettings> out) {
  return WithLogin(std::move(login), [out = std::move(out)](Exchange& x) {
    if (!EnableWebInterface(x)) return false;
    return ReadNetworkSettings(x, *out);
  });
}

Maintenance::Job NetworkWriteJob(Credentials login, NetworkBlock image,
                                 std::shared_ptr<DeviceSettings> out) {
  return WithLogin(std::move(login), [image, out = std::move(out)](Exchange& x) {
    if (!EnableWebInterface(x) || !ReadNetworkSettings(x, *out)) return false;
    // A file made from another device must not give this one its MAC address.
    LoadSettingsImage(image, out->main);
    return WriteNetworkSettings(x, *out);
  });
}

Maintenance::Job ResetJob(Credentials login) {
  return WithLogin(std::move(login), [](Exchange& x) {
    return EnableWebInterface(x) && ResetDevice(x);
  });
}

}  // namespace maintenance
