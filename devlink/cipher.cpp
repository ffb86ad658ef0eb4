#include "devlink/cipher.h"

#include <cstring>

namespace devlink {

void LoadDeviceKey(CipherState& cs, const ClientRecord& r) {
  cs.keyArea = EffectiveKey(r.keyMaterial, r.n1, r.n2, r.n3);
  Rc6Setup(cs, cs.keyArea.data());
}

void EncryptBuff_CBC(CipherState& cs, uint8_t* t, ClientRecord& r) {
  if (t[1] > kMaxEncryptL) return;
  LoadDeviceKey(cs, r);
  if (t[1] == 0) return;
  CbcEncrypt(cs.rc6, t, r.C_iTransm);
  PutU32(r.C_iTransm, GetU32(r.C_iTransm) + 1);
}

uint8_t EncryptForSend(CipherState& cs, uint8_t* t, ClientRecord& r) {
  const uint8_t L = t[1];
  if (L > kMaxEncryptL) return 0;
  EncryptBuff_CBC(cs, t, r);
  return uint8_t(2 + L + ((4 - L % 4) % 4));
}

bool DecryptBuff_CBC(CipherState& cs, uint8_t* t, ClientRecord& r) {
  LoadDeviceKey(cs, r);
  uint32_t w = GetU32(r.C_iResiv);
  if (!CbcDecryptLookAhead(cs.rc6, t, w)) return false;
  PutU32(r.C_iResiv, w);
  return true;
}

void BuildRegKey(CipherState& cs, const Key10& base, const uint8_t devBytes[6]) {
  cs.keyArea = RegistrationKey(base, devBytes);
}

void MakeClientKey(CipherState& cs, const Key10& base, ClientRecord& r, const uint8_t* regTelegram) {
  BuildRegKey(cs, base, regTelegram + 12);
  Rc6Setup(cs, cs.keyArea.data());
  const Key10 km = DeriveKeyMaterial(cs.keyArea, regTelegram + 8);
  std::memcpy(r.keyMaterial, km.data(), 10);
  std::memcpy(r.C_iTransm, km.data(), 4);
  std::memcpy(r.C_iResiv, km.data(), 4);
}

}  // namespace devlink
