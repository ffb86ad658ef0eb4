// Cipher-block chaining of telegrams over 4-byte blocks, and the key
// derivation of a registering device. Free of client records, so the device
// simulator shares it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "devlink/rc6.h"

namespace devlink {

using Key10 = std::array<uint8_t, 10>;

inline constexpr int kLookAhead = 6;
inline constexpr uint8_t kMaxEncryptL = 124;

// Bytes on the wire for an encrypted telegram with length byte L.
inline size_t EncryptedSize(uint8_t L) { return 2 + 4 * ((size_t(L) + 3) / 4); }

// Encrypts the L payload bytes from byte 2 in place, chaining from `iv`.
// L must be 1..124; bytes 0 and 1 stay plain.
void CbcEncrypt(const Rc6w8r8b10& c, uint8_t* t, const uint8_t iv[4]);

// Tries the chaining values w, w+1, .. w+5; on the first whose result has a
// right check byte, sets `w` to that value + 1 and returns true. On failure `w`
// is unchanged and `t` holds the last attempt. Needs 4n + 2 <= 128 and L >= 1.
bool CbcDecryptLookAhead(const Rc6w8r8b10& c, uint8_t* t, uint32_t& w);

// Base constant of the registration key when the deployment names none.
inline constexpr Key10 kDefaultRegKeyBase = {0x5A, 0x3C, 0x96, 0xE1, 0xB4,
                                             0x07, 0x2D, 0xF8, 0xC6, 0x13};

// Key material: bytes 0, 1, 2 XORed with the console number give the effective key.
Key10 EffectiveKey(const uint8_t keyMaterial[10], uint8_t n1, uint8_t n2, uint8_t n3);

// The registration key: the deployment's base constant with bytes 2..7 XORed
// with the six device bytes of the registration telegram.
Key10 RegistrationKey(const Key10& base, const uint8_t devBytes[6]);

// Key material of a new device from the registration key and the 4-byte seed.
Key10 DeriveKeyMaterial(const Key10& regKey, const uint8_t seed[4]);

}  // namespace devlink
