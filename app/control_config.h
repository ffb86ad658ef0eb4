// The control socket's configurator requests: a device's configuration
// identified, read, written or its key reader polled, and its radio
// expander's tables read, each through the maintenance session's login.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/control_requests.h"
#include "app/control_server.h"

namespace app {

class Server;

// The configurator's actions by name.
inline constexpr const char* kConfigActions[] = {"identify", "read", "write", "key",
                                                 "expander-read"};

// Why the fields of a "config" request do not fit its action; nothing when they do.
std::optional<std::string> CheckConfigRequest(const ControlRequest& r);

// Starts the run on the maintenance session: the job that streams its log
// lines and ends with {"done":true,"ok":...} and what it read; nothing, with
// the reason, when the session refused it.
std::unique_ptr<ControlJob> StartConfigRequest(Server& server, const ControlRequest& r,
                                               const DeviceRef& d, std::string* error);

}  // namespace app
