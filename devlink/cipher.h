// The telegram cipher as the server uses it: one shared round-key table and key
// working area, and the per-device chaining values of the client records.
// Callers hold Lock from loading the key to the end of the operation.
#pragma once

#include <cstdint>

#include "devlink/client_record.h"
#include "devlink/telegram_cipher.h"

namespace devlink {

struct CipherState {
  Key10 keyArea{};   // key of the last key schedule run
  Rc6w8r8b10 rc6;    // round keys
};

// The shared round-key table: key schedule, and one 4-byte block each way.
inline void Rc6Setup(CipherState& cs, const uint8_t* key) { cs.rc6.Setup(key); }
inline void Rc6Encrypt(const CipherState& cs, uint8_t* block) { cs.rc6.EncryptBytes(block, block); }
inline void Rc6Decrypt(const CipherState& cs, uint8_t* block) { cs.rc6.DecryptBytes(block, block); }

void LoadDeviceKey(CipherState& cs, const ClientRecord& r);

// Encrypts in place with the device's key and C_iTransm, then raises C_iTransm
// by 1. L = 0 encrypts nothing; L above 124 cannot be encrypted into a
// 128-byte buffer and is refused, leaving everything unchanged.
void EncryptBuff_CBC(CipherState& cs, uint8_t* t, ClientRecord& r);

// Encrypts and returns the byte count to send; 0 when refused (L above 124).
uint8_t EncryptForSend(CipherState& cs, uint8_t* t, ClientRecord& r);

// Decrypts in place with look-ahead of six chaining values from C_iResiv.
bool DecryptBuff_CBC(CipherState& cs, uint8_t* t, ClientRecord& r);

void BuildRegKey(CipherState& cs, const Key10& base, const uint8_t devBytes[6]);

// Derives the key material of a new device from a registration telegram (seed
// at bytes 8..11, device bytes at 12..17) and sets both chaining values.
void MakeClientKey(CipherState& cs, const Key10& base, ClientRecord& r, const uint8_t* regTelegram);

}  // namespace devlink
