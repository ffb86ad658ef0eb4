// The telegram cipher: the generic RC6 block against published vectors, the
// 8-bit instance against an independent reading of its definition, the check
// byte, chaining with look-ahead and the key derivation of a registration.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <random>

#include "devlink/cipher.h"
#include "devlink/crc8.h"
#include "devlink/rc6.h"
#include "devlink/telegram_cipher.h"

namespace {

using namespace devlink;

// ---- an independent 8-bit, 8-round, 10-byte-key cipher written from its definition

uint8_t RefRol(uint8_t x, int n) { return n == 0 ? x : uint8_t((x << n) | (x >> (8 - n))); }

struct RefCipher {
  uint8_t S[20];
  explicit RefCipher(const uint8_t key[10]) {
    uint8_t K[10];
    std::memcpy(K, key, 10);
    S[0] = 0x63;
    for (int i = 1; i < 20; ++i) S[i] = uint8_t(S[i - 1] + 0xB9);
    uint8_t A = 0, B = 0;
    for (int k = 0; k < 60; ++k) {
      const int i = k % 20, j = k % 10;
      A = S[i] = RefRol(uint8_t(S[i] + A + B), 3);
      B = K[j] = RefRol(uint8_t(K[j] + A + B), (A + B) % 8);
    }
  }
  static uint8_t F(uint8_t x) { return RefRol(uint8_t(x * (2 * x + 1)), 3); }
  std::array<uint8_t, 4> Encrypt(const uint8_t in[4]) const {
    uint8_t A = in[0], B = uint8_t(in[1] + S[0]), C = in[2], D = uint8_t(in[3] + S[1]);
    for (int i = 1; i <= 8; ++i) {
      const uint8_t t = F(B), u = F(D);
      A = uint8_t(RefRol(A ^ t, u % 8) + S[2 * i]);
      C = uint8_t(RefRol(C ^ u, t % 8) + S[2 * i + 1]);
      const uint8_t a = A;
      A = B, B = C, C = D, D = a;
    }
    return {uint8_t(A + S[18]), B, uint8_t(C + S[19]), D};
  }
};

Key10 RandomKey(std::mt19937& rng) {
  Key10 k;
  for (auto& b : k) b = uint8_t(rng());
  return k;
}

// A registered record with the given key material and number; both chaining
// values at `chain`.
ClientRecord MakeRecord(const Key10& km, uint8_t n1, uint8_t n2, uint8_t n3, uint32_t chain) {
  ClientRecord r{};
  r.inUse = 1;
  std::memcpy(r.keyMaterial, km.data(), 10);
  r.n1 = n1, r.n2 = n2, r.n3 = n3;
  PutU32(r.C_iTransm, chain);
  PutU32(r.C_iResiv, chain);
  return r;
}

// A plain telegram of length byte L with its check byte, in a 128-byte buffer.
std::array<uint8_t, 128> Telegram(uint8_t type, uint8_t L, uint8_t fill) {
  std::array<uint8_t, 128> t{};
  t[0] = type;
  t[1] = L;
  for (size_t k = 2; k <= L; ++k) t[k] = uint8_t(fill + k);
  SetCheckByte(t.data());
  return t;
}

// The device side: encrypts with the effective key of `r` from chaining value `chain`.
void DeviceEncrypt(const ClientRecord& r, uint8_t* t, uint32_t chain) {
  Rc6w8r8b10 c;
  c.Setup(EffectiveKey(r.keyMaterial, r.n1, r.n2, r.n3).data());
  uint8_t iv[4];
  PutU32(iv, chain);
  CbcEncrypt(c, t, iv);
}

// ---- the generic block

using Rc6_32 = Rc6<uint32_t, 20, 16, 0xB7E15163u, 0x9E3779B9u>;

struct Vector32 {
  std::array<uint8_t, 16> key, plain, cipher;
};

TEST(Rc6Generic, PublishedVectorsOf32BitWords) {
  const Vector32 vectors[] = {
      {{}, {}, {0x8f, 0xc3, 0xa5, 0x36, 0x56, 0xb1, 0xf7, 0x78, 0xc1, 0x29, 0xdf, 0x4e, 0x98, 0x48, 0xa4, 0x1e}},
      {{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67, 0x78},
       {0x02, 0x13, 0x24, 0x35, 0x46, 0x57, 0x68, 0x79, 0x8a, 0x9b, 0xac, 0xbd, 0xce, 0xdf, 0xe0, 0xf1},
       {0x52, 0x4e, 0x19, 0x2f, 0x47, 0x15, 0xc6, 0x23, 0x1f, 0x51, 0xf6, 0x36, 0x7e, 0xa4, 0x3f, 0x18}},
  };
  for (const Vector32& v : vectors) {
    Rc6_32 c;
    c.Setup(v.key.data());
    std::array<uint8_t, 16> out{}, back{};
    c.EncryptBytes(v.plain.data(), out.data());
    EXPECT_EQ(out, v.cipher);
    c.DecryptBytes(out.data(), back.data());
    EXPECT_EQ(back, v.plain);
  }
}

TEST(Rc6W8, MatchesItsDefinitionAndDecryptInverts) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    const Key10 key = RandomKey(rng);
    Rc6w8r8b10 c;
    c.Setup(key.data());
    const RefCipher ref(key.data());
    ASSERT_EQ(0, std::memcmp(c.S.data(), ref.S, 20)) << "round keys, round " << round;
    for (int b = 0; b < 20; ++b) {
      const uint8_t in[4] = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
      uint8_t enc[4], dec[4];
      c.EncryptBytes(in, enc);
      const auto expected = ref.Encrypt(in);
      ASSERT_EQ(0, std::memcmp(enc, expected.data(), 4));
      c.DecryptBytes(enc, dec);
      ASSERT_EQ(0, std::memcmp(dec, in, 4));
    }
  }
}

TEST(Rc6W8, RotationsByEveryCount) {
  struct Case { uint8_t x; unsigned n; uint8_t rol, ror; };
  const Case cases[] = {
      {0x81, 0, 0x81, 0x81}, {0x81, 1, 0x03, 0xC0}, {0x81, 3, 0x0C, 0x30}, {0x81, 7, 0xC0, 0x03},
      {0xA5, 4, 0x5A, 0x5A}, {0x01, 5, 0x20, 0x08}, {0xFF, 6, 0xFF, 0xFF}, {0x00, 2, 0x00, 0x00},
      {0x96, 2, 0x5A, 0xA5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Rol8(c.x, c.n), c.rol) << int(c.x) << " rol " << c.n;
    EXPECT_EQ(Ror8(c.x, c.n), c.ror) << int(c.x) << " ror " << c.n;
  }
}

// ---- check byte

TEST(Crc8, CheckValueAndBounds) {
  const char digits[] = "123456789";
  EXPECT_EQ(Crc8Bytes(reinterpret_cast<const uint8_t*>(digits), 9), 0xA1);

  auto t = Telegram(0xEF, 5, 0x10);  // check byte at 6, 7 bytes in all
  EXPECT_TRUE(CheckByteOk(t.data(), 7));
  EXPECT_FALSE(CheckByteOk(t.data(), 6));  // the check byte lies beyond what arrived
  EXPECT_FALSE(CheckByteOk(t.data(), 1));
  EXPECT_FALSE(CheckByteOk(t.data(), 0));
  t[3] ^= 1;
  EXPECT_FALSE(CheckByteOk(t.data(), 7));

  // L = 126 fills the 128-byte buffer exactly; anything above claims more.
  auto full = Telegram(0xFE, 126, 0x20);
  EXPECT_TRUE(CheckByteOk(full.data(), 128));
  for (int L : {127, 128, 200, 255}) {
    auto big = std::make_unique<std::array<uint8_t, 128>>(full);
    (*big)[1] = uint8_t(L);
    EXPECT_FALSE(CheckByteOk(big->data(), 128)) << L;
  }
}

// ---- chaining

TEST(Cbc, SizesAndBytesBeyondTheBlocksUntouched) {
  struct Case { uint8_t L; uint8_t size; };
  const Case cases[] = {{1, 6}, {4, 6}, {5, 10}, {8, 10}, {9, 14}, {124, 126}};
  const Key10 km = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (const Case& c : cases) {
    ClientRecord r = MakeRecord(km, 1, 0, 5, 0x01020304);
    CipherState cs;
    auto t = Telegram(0xEA, c.L, 0x30);
    for (size_t k = c.size; k < 128; ++k) t[k] = 0xCC;
    const auto before = t;
    EXPECT_EQ(EncryptForSend(cs, t.data(), r), c.size) << int(c.L);
    EXPECT_EQ(t[0], 0xEA);
    EXPECT_EQ(t[1], c.L);
    for (size_t k = c.size; k < 128; ++k) ASSERT_EQ(t[k], 0xCC) << "L=" << int(c.L) << " byte " << k;
    EXPECT_EQ(GetU32(r.C_iTransm), 0x01020305u);
    // The receiving side with the same chaining value gets the telegram back.
    ClientRecord rx = MakeRecord(km, 1, 0, 5, 0x01020304);
    ASSERT_TRUE(DecryptBuff_CBC(cs, t.data(), rx)) << int(c.L);
    EXPECT_EQ(0, std::memcmp(t.data(), before.data(), size_t(c.L) + 2));
  }
}

TEST(Cbc, RefusesLengthsAbove124) {
  const Key10 km = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  for (int L : {125, 126}) {
    ClientRecord r = MakeRecord(km, 1, 0, 5, 77);
    CipherState cs;
    auto t = Telegram(0xEA, uint8_t(L), 0x40);
    const auto before = t;
    EXPECT_EQ(EncryptForSend(cs, t.data(), r), 0) << L;
    EXPECT_EQ(t, before);
    EXPECT_EQ(GetU32(r.C_iTransm), 77u);
  }
}

TEST(Cbc, FirstBlockChainsFromTheSendValueAndNextTelegramFromValuePlusOne) {
  const Key10 km = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x11, 0x22};
  ClientRecord r = MakeRecord(km, 7, 8, 9, 0xA0B0C0D0);
  CipherState cs;
  for (uint32_t chain : {0xA0B0C0D0u, 0xA0B0C0D1u}) {
    auto t = Telegram(0xEA, 9, 0x50);  // three blocks
    auto expected = t;
    EncryptBuff_CBC(cs, t.data(), r);
    const Key10 eff = EffectiveKey(km.data(), 7, 8, 9);
    const RefCipher ref(eff.data());
    uint8_t v[4];
    PutU32(v, chain);
    for (int k = 0; k < 3; ++k) {
      uint8_t blk[4];
      for (int b = 0; b < 4; ++b) blk[b] = uint8_t((4 * k + b < 9 ? expected[2 + 4 * k + b] : 0) ^ v[b]);
      const auto out = ref.Encrypt(blk);
      std::memcpy(v, out.data(), 4);
      std::memcpy(expected.data() + 2 + 4 * k, v, 4);
    }
    EXPECT_EQ(0, std::memcmp(t.data(), expected.data(), 14)) << std::hex << chain;
  }
  EXPECT_EQ(0, std::memcmp(cs.keyArea.data(), EffectiveKey(km.data(), 7, 8, 9).data(), 10));
}

TEST(Cbc, LookAheadOnDecryption) {
  struct Case { uint32_t resiv; uint32_t sentWith; bool accepted; uint32_t after; };
  const Case cases[] = {
      {1000, 1000, true, 1001},
      {1000, 1003, true, 1004},  // three telegrams lost
      {1000, 1005, true, 1006},
      {1000, 1006, false, 1000},
      {1000, 999, false, 1000},  // a replay
      {0xFFFFFFFE, 1, true, 2},  // counting wraps
  };
  const Key10 km = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  for (const Case& c : cases) {
    ClientRecord r = MakeRecord(km, 1, 0, 5, 0);
    PutU32(r.C_iResiv, c.resiv);
    auto t = Telegram(0xE9, 7, 0x60);
    const auto plain = t;
    DeviceEncrypt(r, t.data(), c.sentWith);
    CipherState cs;
    EXPECT_EQ(DecryptBuff_CBC(cs, t.data(), r), c.accepted) << c.sentWith;
    EXPECT_EQ(GetU32(r.C_iResiv), c.after) << c.sentWith;
    if (c.accepted) {
      EXPECT_EQ(0, std::memcmp(t.data(), plain.data(), 9));
    }
  }
}

TEST(Cbc, DecryptRefusesZeroAndOversizedLengths) {
  const Key10 km = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  for (int L : {0, 125, 126, 200, 255}) {
    ClientRecord r = MakeRecord(km, 1, 0, 5, 50);
    std::array<uint8_t, 128> t{};
    t[0] = 0xE9;
    t[1] = uint8_t(L);
    const auto before = t;
    CipherState cs;
    EXPECT_FALSE(DecryptBuff_CBC(cs, t.data(), r)) << L;
    EXPECT_EQ(t, before);
    EXPECT_EQ(GetU32(r.C_iResiv), 50u);
  }
}

TEST(Cbc, SendValueWrapsAndZeroLengthEncryptsNothing) {
  const Key10 km = {1, 1, 2, 3, 5, 8, 13, 21, 34, 55};
  ClientRecord r = MakeRecord(km, 1, 0, 5, 0xFFFFFFFF);
  CipherState cs;
  auto t = Telegram(0xEA, 7, 0);
  EncryptBuff_CBC(cs, t.data(), r);
  EXPECT_EQ(GetU32(r.C_iTransm), 0u);

  std::array<uint8_t, 128> empty{};
  empty[0] = 0xEA;
  empty[2] = 0x42;
  const auto before = empty;
  EXPECT_EQ(EncryptForSend(cs, empty.data(), r), 2);
  EXPECT_EQ(empty, before);
  EXPECT_EQ(GetU32(r.C_iTransm), 0u);
}

TEST(Cbc, EqualKeyMaterialDifferentNumbersGiveDifferentKeys) {
  const Key10 km = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x11, 0x22, 0x33};
  ClientRecord a = MakeRecord(km, 1, 0, 5, 300);
  ClientRecord b = MakeRecord(km, 1, 0, 6, 300);
  const Key10 ka = EffectiveKey(a.keyMaterial, a.n1, a.n2, a.n3);
  const Key10 kb = EffectiveKey(b.keyMaterial, b.n1, b.n2, b.n3);
  EXPECT_NE(ka, kb);
  EXPECT_EQ(ka[0], 0xAA ^ 1);
  EXPECT_EQ(ka[1], 0xBB);
  EXPECT_EQ(ka[2], 0xCC ^ 5);
  EXPECT_EQ(0, std::memcmp(ka.data() + 3, km.data() + 3, 7));

  auto ta = Telegram(0xE9, 7, 0x70);
  auto tb = ta;
  DeviceEncrypt(a, ta.data(), 300);
  DeviceEncrypt(b, tb.data(), 300);
  EXPECT_NE(ta, tb);
  // A telegram made for one device does not open under the other's record.
  CipherState cs;
  EXPECT_FALSE(DecryptBuff_CBC(cs, ta.data(), b));
  EXPECT_EQ(GetU32(b.C_iResiv), 300u);
}

// ---- key derivation at registration

TEST(KeyDerivation, MakeClientKeyFromTheRegistrationTelegram) {
  const Key10 base = {0x5A, 0x3C, 0x96, 0xE1, 0xB4, 0x07, 0x2D, 0xF8, 0xC6, 0x13};
  uint8_t reg[128] = {0xEF, 27, 0x55, 7, 1, 0, 5, 0x33};
  const uint8_t seed[4] = {0xDE, 0xAD, 0xBE, 0xEF};
  const uint8_t dev[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  std::memcpy(reg + 8, seed, 4);
  std::memcpy(reg + 12, dev, 6);

  // The registration key and the three chained encryptions of the seed,
  // computed here from their definitions.
  Key10 regKey = base;
  for (int b = 0; b < 6; ++b) regKey[2 + b] = uint8_t(base[2 + b] ^ dev[b]);
  EXPECT_EQ(RegistrationKey(base, dev), regKey);
  const RefCipher ref(regKey.data());
  const auto v1 = ref.Encrypt(seed);
  const auto v2 = ref.Encrypt(v1.data());
  const auto v3 = ref.Encrypt(v2.data());
  const Key10 expected = {v1[0], v1[1], v1[2], v1[3], v2[0], v2[1], v2[2], v2[3], v3[0], v3[1]};
  EXPECT_EQ(DeriveKeyMaterial(regKey, seed), expected);

  ClientRecord r{};
  std::memset(&r, 0x77, sizeof r);
  const ClientRecord before = r;
  CipherState cs;
  MakeClientKey(cs, base, r, reg);
  EXPECT_EQ(0, std::memcmp(r.keyMaterial, expected.data(), 10));
  EXPECT_EQ(0, std::memcmp(r.C_iTransm, expected.data(), 4));
  EXPECT_EQ(0, std::memcmp(r.C_iResiv, expected.data(), 4));
  EXPECT_EQ(cs.keyArea, regKey);
  // Nothing else in the record is touched.
  EXPECT_EQ(0, std::memcmp(&r, &before, offsetof(ClientRecord, keyMaterial)));
  EXPECT_EQ(0, std::memcmp(reinterpret_cast<const uint8_t*>(&r) + 44,
                           reinterpret_cast<const uint8_t*>(&before) + 44, sizeof r - 44));
}

}  // namespace
