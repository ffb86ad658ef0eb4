// CPU cost of one device telegram through ProcessEntry: unwrap, decrypt, answer,
// encrypt and hand to the sender (a sender that drops the datagram).
#include <benchmark/benchmark.h>

#include <cstring>

#include "console/message_sink.h"
#include "devlink/crc8.h"
#include "devlink/device_link.h"
#include "devlink/process.h"
#include "devlink/telegram_cipher.h"
#include "platform/clock.h"
#include "platform/datagram.h"
#include "registry/buff_client.h"
#include "tests/support/link_world.h"
#include "tests/support/stub_endpoint.h"

namespace {

class DropEndpoint final : public testsupport::StubEndpoint {
 public:
  bool SendTo(std::string_view, uint16_t, const uint8_t* data, size_t n) override {
    benchmark::DoNotOptimize(data);
    benchmark::DoNotOptimize(n);
    return true;
  }
};

struct Bench : testsupport::LinkWorld {
  DropEndpoint ep;
  devlink::IntakeEntry datagram{};
  uint32_t chain = 0x01020304;
  static constexpr uint16_t kIndex = 7;

  // A registered device at index 7 and one heartbeat datagram from it, sent
  // with the chaining value `chain + ahead`.
  explicit Bench(uint32_t ahead) {
    SetEndpoints(ep);
    devlink::ClientRecord& r = store.Table()[kIndex];
    r.inUse = 1;
    r.n1 = 1;
    r.n3 = 7;
    for (int k = 0; k < 10; ++k) r.keyMaterial[k] = uint8_t(0x30 + k);
    devlink::SetPStr(r.peerAddr, "127.1.0.8");
    devlink::PutU16(r.peerPort, 40000);

    uint8_t inner[128] = {0xE9, 7, 0x55, 8, 1, 0, 7, 0x21};
    devlink::SetCheckByte(inner);
    devlink::Rc6w8r8b10 c;
    c.Setup(devlink::EffectiveKey(r.keyMaterial, r.n1, r.n2, r.n3).data());
    uint8_t iv[4];
    devlink::PutU32(iv, chain + ahead);
    devlink::CbcEncrypt(c, inner, iv);
    const size_t innerSize = devlink::EncryptedSize(inner[1]);
    uint8_t* t = datagram.data;
    t[0] = 0xEA;
    t[1] = uint8_t(3 + innerSize);
    t[2] = 0;
    t[3] = kIndex;
    std::memcpy(t + 4, inner, innerSize);
    devlink::SetCheckByte(t);
    devlink::PutU16(datagram.len, uint16_t(t[1] + 2));
    devlink::SetPStr(datagram.peer, "127.1.0.8");
    devlink::PutU16(datagram.port, 40000);
  }

  void One() {
    devlink::PutU32(store.Table()[kIndex].C_iResiv, chain);
    link.work = datagram;
    devlink::ProcessEntry(link);
  }
};

void BM_Heartbeat(benchmark::State& state) {
  Bench b(0);
  for (auto _ : state) b.One();
}
BENCHMARK(BM_Heartbeat);

// The device ran five chaining values ahead: the sixth and last attempt fits.
void BM_HeartbeatSixthAttempt(benchmark::State& state) {
  Bench b(5);
  for (auto _ : state) b.One();
}
BENCHMARK(BM_HeartbeatSixthAttempt);

// Six failed attempts, then the drop.
void BM_HeartbeatRejected(benchmark::State& state) {
  Bench b(6);
  for (auto _ : state) b.One();
}
BENCHMARK(BM_HeartbeatRejected);

}  // namespace

BENCHMARK_MAIN();
