// Arbitrary deliveries to the configurator's image exchange: split, joined
// or corrupt frames between ticks, whatever request is outstanding. Nothing
// may crash, a request is always outstanding until its own answer, and no
// frame sent is malformed.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "configurator/frame.h"
#include "configurator/transfer.h"
#include "devlink/crc8.h"

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckSent(const configurator::ConfigTransfer::Frames& frames) {
  for (const std::vector<uint8_t>& f : frames) {
    Require(f.size() >= 9 && f[0] == 0xFE && f[1] == f.size() - 2);
    Require(devlink::Crc8Bytes(f.data(), f.size()) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  configurator::ConfigTransfer t;
  std::vector<uint8_t> image(2048, 0x5A);
  switch (data[0] % 4) {
    case 0: CheckSent(t.Identify("<Пульт. номер - 1/0/1>")); break;
    case 1: CheckSent(t.Read()); break;
    case 2: CheckSent(t.Write(image)); break;
    default: CheckSent(t.StartKeyPoll()); break;
  }
  // Then chunks: a length byte, that many bytes delivered, and as many ticks
  // as the low bits of the length byte say.
  size_t at = 1;
  while (at < size) {
    const uint8_t n = data[at++];
    const size_t take = std::min<size_t>(n, size - at);
    CheckSent(t.Deliver(std::span<const uint8_t>(data + at, take)));
    at += take;
    for (int k = 0; k < (n & 7) * 20; ++k) CheckSent(t.Tick());
    if (t.Asking()) CheckSent(t.Answer(n & 8));
    for (const configurator::ConfigEvent& e : t.TakeEvents()) {
      if (e.kind == configurator::ConfigEvent::Kind::kReadDone) Require(e.bytes.size() <= 257);
      if (e.kind == configurator::ConfigEvent::Kind::kProgress) Require(e.pos >= 0 && e.pos <= 256);
    }
  }
  return 0;
}
