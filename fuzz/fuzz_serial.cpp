// Arbitrary serial input through HandlerCOMRead on a small table of registered
// devices, mixed with what else reaches the channel: queued frames (also
// damaged ones, as a registry file may hold), link states and maintenance
// notices, service requests and internet news. The input is a list of steps,
// each an operation byte and its operands.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "armlink/arm_channel.h"
#include "armlink/arm_queue.h"
#include "armlink/commands.h"
#include "console/message_sink.h"
#include "tests/support/link_world.h"
#include "tests/support/stub_endpoint.h"

namespace {

// Touches every byte handed over, so a read past a buffer shows.
void Touch(const uint8_t* p, size_t n) {
  volatile uint8_t sum = 0;
  for (size_t k = 0; k < n; ++k) sum = uint8_t(sum + p[k]);
}

class NullEndpoint final : public testsupport::StubEndpoint {
 public:
  bool SendTo(std::string_view, uint16_t, const uint8_t* data, size_t n) override {
    Touch(data, n);
    return true;
  }
};

class NullPort final : public platform::SerialPort {
 public:
  bool IsOpen() const override { return true; }
  std::string Name() const override { return "CNCB0"; }
  size_t Read(uint8_t*, size_t, int) override { return 0; }
  bool Write(const uint8_t* buf, size_t n) override {
    Touch(buf, n);
    return n <= 128;
  }
  void Purge() override {}
};

constexpr size_t kDevices = 6;

struct World : testsupport::LinkWorld {
  NullEndpoint ep;
  NullPort port;
  armlink::ArmChannel ch;

  World() {
    SetEndpoints(ep);
    ch.sleepMs = [](int) {};
  }

  void Reset() {
    devlink::ClientTable& t = store.Table();
    t.Resize(1);
    std::memset(t.Data(), 0, sizeof(devlink::ClientRecord));
    t.Resize(devlink::ClientTable::kInitialRecords);
    settings.GlTraficRun = true;
    settings.GlOutCom = true;
    settings.GlOutCrypt = true;
    settings.GlPovtorOn = true;
    for (uint8_t i = 0; i < kDevices; ++i) {
      devlink::ClientRecord& r = t[i];
      r.inUse = 1;
      r.n1 = uint8_t(1 + i % 2);
      r.n3 = i;
      for (int k = 0; k < 10; ++k) r.keyMaterial[k] = uint8_t(i * 16 + k);
      devlink::SetPStr(r.peerAddr, "127.0.0.1");
      devlink::PutU16(r.peerPort, uint16_t(40000 + i));
      r.iface = uint8_t(i % 4);  // 3 is no interface
    }
    t.Touch();
    ch.awaitingAck = false;
    link.armAwaitingAck = false;
    ch.resendCount = 0;
    uint8_t drop[128];
    while (ch.service.Take(drop)) {
    }
  }
};

// Operands read past the end of the input are 0.
struct Input {
  const uint8_t* data;
  size_t size, pos = 0;
  bool More() const { return pos < size; }
  uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  size_t Bytes(uint8_t* out, size_t n) {
    n = std::min(n, size - pos);
    std::memcpy(out, data + pos, n);
    pos += n;
    return n;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World w;
  w.Reset();
  devlink::DeviceLink& link = w.link;
  devlink::ClientTable& t = w.store.Table();
  Input in{data, size};
  std::vector<console::Line> drained;
  while (in.More()) {
    const uint8_t op = in.Byte();
    switch (op % 6) {
      case 0: {  // one read of up to 128 bytes
        const size_t len = in.Byte() % 129;
        std::memset(w.ch.input, 0, sizeof w.ch.input);
        w.ch.inputCount = in.Bytes(w.ch.input, len);
        armlink::HandlerCOMRead(link, w.ch, w.port);
        break;
      }
      case 1: {  // a queued slot, whole or damaged
        devlink::ClientRecord& r = t[in.Byte() % kDevices];
        uint8_t slot[128] = {};
        in.Bytes(slot, in.Byte() % 129);
        armlink::PutToArm(r, slot, w.sink);
        break;
      }
      case 2: {  // states the sweep, the console and the registry leave behind
        devlink::ClientRecord& r = t[in.Byte() % kDevices];
        const uint8_t v = in.Byte();
        r.linkState = v % 5;
        r.maintNotice = (v >> 3) % 4;
        r.lastEventSeq = in.Byte();
        r.armFrameCounter = in.Byte();
        r.switchedOff = v >> 7;
        if (v & 0x20) r.inUse = !r.inUse;  // freed or taken behind the index
        if (v & 0x40) t.Touch();
        break;
      }
      case 3: {  // a service request, also for indices and kinds out of range
        const uint16_t i = in.Byte() % 24;
        const int kind = int(in.Byte() % 9) - 1;
        armlink::ServiceRequest(link, w.ch, i, kind);
        armlink::HandleServiceRequest(link, w.ch, w.port);
        break;
      }
      case 4: {  // news of the internet check and the options that read it
        const uint8_t v = in.Byte();
        w.ch.internet.cameOnline = v & 1;
        w.ch.internet.wentOffline = v & 2;
        w.settings.GlMoteKTS = v & 4;
        w.settings.GlAvarInetBlock = v & 8;
        link.internet = (v & 16) ? devlink::InternetState::Absent : devlink::InternetState::Present;
        break;
      }
      default:  // the table shrinks under the index
        t.Resize(kDevices + in.Byte() % 4);
        break;
    }
  }
  w.lines.Drain(drained, 0);
  return 0;
}
