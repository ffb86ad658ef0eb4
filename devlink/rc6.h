// The RC6 block structure, generic over word type, round count, key length and
// the two magic constants. The device link uses the 8-bit, 8-round, 10-byte-key
// instance with its own constants (Rc6w8r8b10).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace devlink {

inline uint8_t Rol8(uint8_t x, unsigned n) {
  n &= 7;
  return n == 0 ? x : uint8_t((x << n) | (x >> (8 - n)));
}
inline uint8_t Ror8(uint8_t x, unsigned n) {
  n &= 7;
  return n == 0 ? x : uint8_t((x >> n) | (x << (8 - n)));
}

template <class Word, int Rounds, int KeyBytes, Word P, Word Q>
class Rc6 {
  static_assert(std::is_unsigned_v<Word>);

 public:
  static constexpr unsigned kBits = sizeof(Word) * 8;
  static constexpr unsigned kLgW = kBits == 8 ? 3 : kBits == 16 ? 4 : kBits == 32 ? 5 : 6;
  static constexpr int kRoundKeys = 2 * Rounds + 4;
  static constexpr int kKeyWords =
      KeyBytes == 0 ? 1 : (KeyBytes + int(sizeof(Word)) - 1) / int(sizeof(Word));
  static constexpr size_t kBlockBytes = 4 * sizeof(Word);
  using Block = std::array<Word, 4>;

  static Word Rotl(Word x, unsigned n) {
    n &= kBits - 1;
    return n == 0 ? x : Word((x << n) | (x >> (kBits - n)));
  }
  static Word Rotr(Word x, unsigned n) {
    n &= kBits - 1;
    return n == 0 ? x : Word((x >> n) | (x << (kBits - n)));
  }

  // Key schedule: fills the round keys from KeyBytes key bytes.
  void Setup(const uint8_t* key) {
    std::array<Word, kKeyWords> L{};
    for (int k = KeyBytes - 1; k >= 0; --k) {
      const int w = k / int(sizeof(Word));
      L[w] = Word((Wide(L[w]) << 8) + key[k]);
    }
    S[0] = P;
    for (int i = 1; i < kRoundKeys; ++i) S[i] = Word(S[i - 1] + Q);
    Word A = 0, B = 0;
    const int steps = 3 * (kRoundKeys > kKeyWords ? kRoundKeys : kKeyWords);
    for (int k = 0, i = 0, j = 0; k < steps; ++k) {
      A = S[i] = Rotl(Word(S[i] + A + B), 3);
      B = L[j] = Rotl(Word(L[j] + A + B), unsigned(Word(A + B)));
      i = (i + 1) % kRoundKeys;
      j = (j + 1) % kKeyWords;
    }
  }

  Block Encrypt(Block in) const {
    Word A = in[0], B = Word(in[1] + S[0]), C = in[2], D = Word(in[3] + S[1]);
    for (int i = 1; i <= Rounds; ++i) {
      const Word t = F(B), u = F(D);
      A = Word(Rotl(Word(A ^ t), u) + S[2 * i]);
      C = Word(Rotl(Word(C ^ u), t) + S[2 * i + 1]);
      const Word a = A;
      A = B; B = C; C = D; D = a;
    }
    return {Word(A + S[2 * Rounds + 2]), B, Word(C + S[2 * Rounds + 3]), D};
  }

  Block Decrypt(Block in) const {
    Word A = Word(in[0] - S[2 * Rounds + 2]), B = in[1], C = Word(in[2] - S[2 * Rounds + 3]),
         D = in[3];
    for (int i = Rounds; i >= 1; --i) {
      const Word d = D;
      D = C; C = B; B = A; A = d;
      const Word u = F(D), t = F(B);
      C = Word(Rotr(Word(C - S[2 * i + 1]), t) ^ u);
      A = Word(Rotr(Word(A - S[2 * i]), u) ^ t);
    }
    return {A, Word(B - S[0]), C, Word(D - S[1])};
  }

  // Byte forms: four words, each little-endian.
  void EncryptBytes(const uint8_t* in, uint8_t* out) const { Store(Encrypt(Load(in)), out); }
  void DecryptBytes(const uint8_t* in, uint8_t* out) const { Store(Decrypt(Load(in)), out); }

  std::array<Word, kRoundKeys> S{};

 private:
  using Wide = std::conditional_t<(sizeof(Word) < 4), uint32_t, Word>;
  static Word F(Word x) { return Rotl(Word(Wide(x) * (2 * Wide(x) + 1)), kLgW); }
  static Block Load(const uint8_t* p) {
    Block b{};
    for (int w = 0; w < 4; ++w)
      for (int k = int(sizeof(Word)) - 1; k >= 0; --k)
        b[w] = Word((Wide(b[w]) << 8) | p[w * sizeof(Word) + k]);
    return b;
  }
  static void Store(const Block& b, uint8_t* p) {
    for (int w = 0; w < 4; ++w)
      for (size_t k = 0; k < sizeof(Word); ++k) p[w * sizeof(Word) + k] = uint8_t(Wide(b[w]) >> (8 * k));
  }
};

using Rc6w8r8b10 = Rc6<uint8_t, 8, 10, uint8_t(0x63), uint8_t(0xB9)>;

}  // namespace devlink
