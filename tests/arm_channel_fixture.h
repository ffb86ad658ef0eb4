// The socketless device link with a workstation channel on an in-memory
// serial port; the resend pause is recorded instead of slept.
#pragma once

#include <cstring>
#include <mutex>
#include <vector>

#include "armlink/arm_channel.h"
#include "armlink/arm_queue.h"
#include "tests/device_link_fixture.h"
#include "tests/support/fake_serial.h"

namespace dltest {

inline Bytes PollFrame(uint8_t g) { return WithCheck({0xFE, 4, 1, g, 0, 0}); }
inline Bytes AckFrame(uint8_t g, uint8_t c) { return WithCheck({0xFE, 5, 1, g, 0, c, 0}); }
inline Bytes Notice(ConsoleNumber n, uint8_t c, uint8_t code) {
  return WithCheck({0xFE, 8, 3, n.n1, n.n2, n.n3, 0, c, code, 0});
}
inline Bytes Command(ConsoleNumber n, uint8_t c, uint8_t command, Bytes params = {}) {
  Bytes t = {0xFE, uint8_t(8 + params.size()), 3, n.n1, n.n2, n.n3, 0, c, command};
  t.insert(t.end(), params.begin(), params.end());
  t.push_back(0);
  return WithCheck(t);
}
inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

class ChannelFixture : public LinkFixture {
 protected:
  ChannelFixture() {
    ch.sleepMs = [this](int ms) { sleeps.push_back(ms); };
  }

  // One read of `block`; `count` below its size leaves the rest as bytes the
  // read did not deliver. Returns the frames written to the workstation.
  std::vector<Bytes> Handle(const Bytes& block, size_t count = size_t(-1)) {
    std::lock_guard<std::mutex> lock(link.Lock);
    std::memset(ch.input, 0, sizeof ch.input);
    std::memcpy(ch.input, block.data(), std::min<size_t>(block.size(), 128));
    ch.inputCount = std::min({count, block.size(), size_t(128)});
    armlink::HandlerCOMRead(link, ch, port);
    return port.TakeWrites();
  }

  // Queues a device event for the workstation as the event path does.
  void QueueEvent(uint16_t i, const Bytes& event) {
    uint8_t slot[128] = {};
    std::memcpy(slot, event.data(), event.size());
    ASSERT_FALSE(armlink::PutToArm(Rec(i), slot, sink));
  }

  armlink::ArmChannel ch;
  testsupport::FakeSerial port;
  std::vector<int> sleeps;
};

}  // namespace dltest
