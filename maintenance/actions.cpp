#include "maintenance/actions.h"

#include <mutex>
#include <utility>

#include "maintenance/eth_update.h"
#include "maintenance/identity.h"
#include "maintenance/intel_hex.h"
#include "maintenance/main_update.h"
#include "maintenance/settings_fields.h"
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
    // A read that ended in an abort (no version answer) writes nothing.
    if (x.Aborted()) return false;
    // A file made from another device must not give this one its MAC address.
    LoadSettingsImage(image, out->main);
    // The file's values pass the checks the window's fields pass.
    if (const auto bad = CheckNetworkBlock(out->main)) {
      x.Log(bad->message);
      return false;
    }
    return WriteNetworkSettings(x, *out);
  });
}

Maintenance::Job ResetJob(Credentials login) {
  return WithLogin(std::move(login), [](Exchange& x) {
    return EnableWebInterface(x) && ResetDevice(x);
  });
}

Maintenance::Job TestJob(Credentials login, ChannelMasks masks) {
  return WithLogin(std::move(login), [masks](Exchange& x) { return RunChannelTest(x, masks); });
}

namespace {

// The update choice's OK: loader and TFTP packets go to the device's recorded
// address, port and interface, until a loader reply moves the address and port.
void AimUpdateTargetAtDevice(Exchange& x) {
  devlink::DeviceLink& link = x.Link();
  std::lock_guard<std::mutex> lock(link.Lock);
  const uint16_t i = link.handoff.GlNumStruct;
  if (!link.table.Valid(i)) return;
  const devlink::ClientRecord& r = link.table[i];
  link.handoff.GlTargetHost = r.peerAddr;
  link.handoff.GlTargetPort = devlink::PeerPort(r);
  x.Shared().GlTargetIface = r.iface;
}

}  // namespace

Maintenance::Job UpdateEthJob(Credentials login, std::string fileName,
                              std::optional<std::vector<uint8_t>> bytes) {
  Maintenance::Job update =
      WithLogin(std::move(login), [fileName = std::move(fileName), bytes = std::move(bytes)](Exchange& x) {
        return TransferEthernetFirmware(x, fileName, bytes);
      });
  return [update = std::move(update)](Exchange& x) {
    AimUpdateTargetAtDevice(x);
    return update(x);
  };
}

Maintenance::Job UpdateMainJob(Credentials login, std::string fileName,
                               std::optional<std::string> file) {
  return [login = std::move(login), fileName = std::move(fileName),
          file = std::move(file)](Exchange& x) {
    AimUpdateTargetAtDevice(x);
    // A missing or bad file is told at once, with nothing sent, not even the login.
    if (!file) {
      x.Log(FirmwareFileNotFound(fileName));
      return false;
    }
    const std::string& bytes = *file;
    if (!ReadFirmwareHex(bytes, nullptr)) return UpdateMainController(x, fileName, bytes);
    return WithLogin(login, [&fileName, &bytes](Exchange& y) {
      y.WaitAnswer(100);  // no delay: nothing is awaited
      return UpdateMainController(y, fileName, bytes);
    })(x);
  };
}

}  // namespace maintenance
