#include "devlink/crc8.h"

#include <array>

namespace devlink {
namespace {

constexpr std::array<uint8_t, 256> MakeTable() {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    uint8_t crc = uint8_t(v);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? uint8_t((crc >> 1) ^ 0x8C) : uint8_t(crc >> 1);
    t[v] = crc;
  }
  return t;
}
constexpr auto kTable = MakeTable();

}  // namespace

uint8_t Crc8Step(uint8_t crc, uint8_t byte) { return kTable[crc ^ byte]; }

uint8_t Crc8Bytes(const uint8_t* p, size_t n) {
  uint8_t crc = 0;
  for (size_t k = 0; k < n; ++k) crc = kTable[crc ^ p[k]];
  return crc;
}

}  // namespace devlink
