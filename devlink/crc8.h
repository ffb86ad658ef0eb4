// The check byte of every telegram: Dallas/Maxim 1-Wire CRC-8 over bytes 0..L.
#pragma once

#include <cstddef>
#include <cstdint>

namespace devlink {

uint8_t Crc8Bytes(const uint8_t* p, size_t n);
// One byte more into a running CRC (start at 0).
uint8_t Crc8Step(uint8_t crc, uint8_t byte);

// Over bytes 0 .. L of a telegram, L = byte 1. The caller makes sure the
// buffer holds L + 1 bytes (L at most 126 in a 128-byte buffer).
inline uint8_t Crc8(const uint8_t* t) { return Crc8Bytes(t, size_t(t[1]) + 1); }

// True when the telegram's L + 2 bytes lie within `avail` bytes and its check
// byte is right. A telegram that claims more bytes than it has is invalid.
inline bool CheckByteOk(const uint8_t* t, size_t avail) {
  if (avail < 2) return false;
  const size_t L = t[1];
  return L + 2 <= avail && Crc8(t) == t[L + 1];
}

// Stores the check byte at L + 1; L must be at most 126.
inline void SetCheckByte(uint8_t* t) { t[size_t(t[1]) + 1] = Crc8(t); }

}  // namespace devlink
