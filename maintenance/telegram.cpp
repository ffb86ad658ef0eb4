#include "maintenance/telegram.h"

#include <cassert>
#include <cstring>

#include "devlink/crc8.h"

namespace maintenance {

Telegram BuildTelegram(uint8_t header, uint8_t code, const uint8_t* data, size_t n,
                       uint8_t marker) {
  assert(n <= 124);
  Telegram t;
  t.bytes[0] = header;
  t.bytes[1] = uint8_t(n + 3);
  t.bytes[2] = marker;
  t.bytes[3] = code;
  if (n > 0) std::memcpy(t.bytes.data() + 4, data, n);
  devlink::SetCheckByte(t.bytes.data());
  t.size = n + 5;
  return t;
}

Telegram BuildTelegram(uint8_t header, uint8_t code, std::string_view text) {
  return BuildTelegram(header, code, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool ValidAnswer(const std::array<uint8_t, 128>& a) {
  const size_t L = a[1];
  return a[0] == kPlain && a[2] == kMarker && L >= 3 && L + 1 < a.size() &&
         devlink::Crc8(a.data()) == a[L + 1];
}

}  // namespace maintenance
