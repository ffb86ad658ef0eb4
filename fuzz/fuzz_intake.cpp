// Arbitrary datagrams through the intake ring and ProcessEntry into a table
// with registered devices. The input is cut into datagrams: a length byte,
// an interface byte, then that many bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "console/message_sink.h"
#include "devlink/device_link.h"
#include "devlink/process.h"
#include "devlink/registration.h"
#include "platform/clock.h"
#include "platform/datagram.h"
#include "registry/buff_client.h"
#include "tests/support/link_world.h"
#include "tests/support/stub_endpoint.h"

namespace {

class NullEndpoint final : public testsupport::StubEndpoint {
 public:
  bool SendTo(std::string_view, uint16_t, const uint8_t* data, size_t n) override {
    // Touch every byte handed over, so a send past its buffer shows.
    volatile uint8_t sum = 0;
    for (size_t k = 0; k < n; ++k) sum = uint8_t(sum + data[k]);
    return n % 7 != 0;
  }
};

struct World : testsupport::LinkWorld {
  NullEndpoint ep;
  devlink::IntakeRing ring;

  World() { SetEndpoints(ep); }

  // Every input starts from the same table; the table itself is made once
  // because reserving room for the largest table is costly under the sanitizer.
  void Reset() {
    devlink::ClientTable& t = store.Table();
    t.Resize(1);
    std::memset(t.Data(), 0, sizeof(devlink::ClientRecord));
    t.Resize(devlink::ClientTable::kInitialRecords);
    link.handoff.GlWaitCode = 0;
    link.handoff.GlLoaderReplyFlag = 0;
    settings.GlRegOn = true;
    settings.GlMetricActive = true;
    settings.GlTraficRun = true;
    settings.GlOutCrypt = true;
    settings.GlOtladka = true;
    settings.GlPovtorOn = true;
    // A few registered devices with known keys, one of them selected.
    for (uint8_t i = 0; i < 4; ++i) {
      devlink::ClientRecord& r = store.Table()[i];
      r.inUse = 1;
      r.n1 = 1;
      r.n2 = 0;
      r.n3 = i;
      for (int k = 0; k < 10; ++k) r.keyMaterial[k] = uint8_t(i * 16 + k);
      devlink::SetPStr(r.peerAddr, "127.0.0.1");
      devlink::PutU16(r.peerPort, uint16_t(40000 + i));
      r.iface = uint8_t(i);  // 3 is no interface
      r.armRead = uint8_t(i * 60);  // damaged queue indices too
    }
    link.handoff.GlNumStruct = 1;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World w;
  w.Reset();
  size_t pos = 0;
  std::vector<console::Line> drained;
  while (pos + 2 <= size) {
    const size_t len = data[pos];
    const uint8_t iface = data[pos + 1] % 3;
    pos += 2;
    const size_t n = len < size - pos ? len : size - pos;
    w.ring.Receive(iface, data + pos, n, "127.0.0.1", uint16_t(40000 + (len & 3)));
    pos += n;
    while (!w.ring.Empty()) {
      w.ring.Take(w.link.work);
      devlink::ProcessEntry(w.link);
    }
    devlink::CheckOneNumber(w.link);
  }
  w.lines.Drain(drained, 0);
  return 0;
}
