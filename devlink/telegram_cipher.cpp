#include "devlink/telegram_cipher.h"

#include <cstring>

#include "devlink/client_record.h"
#include "devlink/crc8.h"

namespace devlink {

void CbcEncrypt(const Rc6w8r8b10& c, uint8_t* t, const uint8_t iv[4]) {
  const size_t L = t[1];
  const size_t n = (L + 3) / 4;
  uint8_t v[4];
  std::memcpy(v, iv, 4);
  for (size_t k = 0; k < n; ++k) {
    uint8_t block[4];
    for (size_t b = 0; b < 4; ++b) {
      const size_t pos = 4 * k + b;  // position within the payload
      block[b] = uint8_t((pos < L ? t[2 + pos] : 0) ^ v[b]);
    }
    c.EncryptBytes(block, v);
    std::memcpy(t + 2 + 4 * k, v, 4);
  }
}

bool CbcDecryptLookAhead(const Rc6w8r8b10& c, uint8_t* t, uint32_t& w) {
  const size_t L = t[1];
  const size_t n = (L + 3) / 4;
  if (L == 0 || 4 * n + 2 > 128) return false;
  uint8_t copy[128];
  std::memcpy(copy, t, 4 * n + 2);
  // Only the first block depends on the chaining value: the others are
  // decrypted once.
  for (size_t k = 1; k < n; ++k) {
    uint8_t d[4];
    c.DecryptBytes(copy + 2 + 4 * k, d);
    for (size_t b = 0; b < 4; ++b) t[2 + 4 * k + b] = uint8_t(d[b] ^ copy[2 + 4 * (k - 1) + b]);
  }
  uint8_t d0[4];
  c.DecryptBytes(copy + 2, d0);
  for (int a = 0; a < kLookAhead; ++a) {
    uint8_t v[4];
    PutU32(v, w + uint32_t(a));
    for (size_t b = 0; b < 4; ++b) t[2 + b] = uint8_t(d0[b] ^ v[b]);
    if (Crc8(t) == t[L + 1]) {
      w = w + uint32_t(a) + 1;
      return true;
    }
  }
  return false;
}

Key10 EffectiveKey(const uint8_t keyMaterial[10], uint8_t n1, uint8_t n2, uint8_t n3) {
  Key10 k;
  std::memcpy(k.data(), keyMaterial, 10);
  k[0] ^= n1;
  k[1] ^= n2;
  k[2] ^= n3;
  return k;
}

Key10 RegistrationKey(const Key10& base, const uint8_t devBytes[6]) {
  Key10 k = base;
  for (int b = 0; b < 6; ++b) k[2 + b] ^= devBytes[b];
  return k;
}

Key10 DeriveKeyMaterial(const Key10& regKey, const uint8_t seed[4]) {
  Rc6w8r8b10 c;
  c.Setup(regKey.data());
  uint8_t v[4];
  std::memcpy(v, seed, 4);
  Key10 km{};
  for (int k = 0; k < 3; ++k) {
    c.EncryptBytes(v, v);
    std::memcpy(km.data() + 4 * k, v, k == 2 ? 2 : 4);
  }
  return km;
}

}  // namespace devlink
