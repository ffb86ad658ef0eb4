// The device link without sockets or threads: the parts a DeviceLink needs,
// wired together, for tests, benchmarks and fuzz targets.
#pragma once

#include "console/console_settings.h"
#include "console/message_sink.h"
#include "devlink/device_link.h"
#include "devlink/sender.h"
#include "platform/clock.h"
#include "platform/datagram.h"
#include "registry/buff_client.h"

namespace testsupport {

struct LinkWorld {
  explicit LinkWorld(const devlink::Key10& regKeyBase = devlink::kDefaultRegKeyBase)
      : link(store, settings, sink, sender, clock, regKeyBase) {}

  // The same endpoint behind all three interfaces.
  void SetEndpoints(platform::UdpEndpoint& ep) {
    for (int s = 0; s < 3; ++s) sender.SetEndpoint(s, &ep);
  }

  registry::TBuffClient store;
  console::ConsoleSettings settings;
  console::LineQueue lines;
  platform::FixedClock clock;
  console::MessageSink sink{settings, lines, clock};
  devlink::Sender sender{sink};
  devlink::DeviceLink link;
};

}  // namespace testsupport
