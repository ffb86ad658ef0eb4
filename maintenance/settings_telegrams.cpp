#include "maintenance/settings_telegrams.h"

#include <algorithm>

#include "devlink/crc8.h"

namespace maintenance {

namespace {

constexpr uint8_t kPlainHeader = 0xEF;
constexpr uint8_t kSmsRequestHeader = 0xFE;
constexpr uint8_t kMarkerByte = 0x55;
constexpr uint8_t kVersionCode = 0x15;

ShortTelegram Short(uint8_t header, uint8_t code) {
  ShortTelegram t{header, 3, kMarkerByte, code, 0};
  devlink::SetCheckByte(t.data());
  return t;
}

// Header, L = block size - 2, marker, code, check byte over the block's data.
template <size_t N>
std::array<uint8_t, N> Framed(std::array<uint8_t, N> b, uint8_t header, uint8_t code) {
  b[0] = header;
  b[1] = uint8_t(N - 2);
  b[2] = kMarkerByte;
  b[3] = code;
  devlink::SetCheckByte(b.data());
  return b;
}

bool ValidAnswer(std::span<const uint8_t> a) {
  return a.size() >= 5 && a[0] == kPlainHeader && a[2] == kMarkerByte && a[1] >= 3 &&
         devlink::CheckByteOk(a.data(), a.size());
}

AnswerCheck Check(std::span<const uint8_t> a, uint8_t code, size_t blockSize) {
  if (!ValidAnswer(a)) return AnswerCheck::kInvalid;
  if (a[3] != code) return AnswerCheck::kOtherCode;
  if (blockSize != 0 && a[1] != blockSize - 2) return AnswerCheck::kWrongLength;
  return AnswerCheck::kAccepted;
}

template <size_t N>
AnswerCheck CheckRead(std::span<const uint8_t> a, uint8_t code, std::array<uint8_t, N>* block) {
  const AnswerCheck c = Check(a, code, N);
  if (c == AnswerCheck::kAccepted && block) std::copy_n(a.begin(), N, block->begin());
  return c;
}

}  // namespace

ShortTelegram BuildNetworkReadRequest() { return Short(kPlainHeader, kReadNetworkCode); }
ShortTelegram BuildSmsReadRequest() { return Short(kSmsRequestHeader, kReadSmsCode); }
ShortTelegram BuildNtpReadRequest() { return Short(kPlainHeader, kReadNtpCode); }
ShortTelegram BuildResetRequest() { return Short(kPlainHeader, kResetCode); }

NetworkBlock BuildNetworkWriteRequest(const NetworkBlock& block) {
  return Framed(block, kPlainHeader, kWriteNetworkCode);
}
SmsBlock BuildSmsWriteRequest(const SmsBlock& block) {
  return Framed(block, kSmsRequestHeader, kWriteSmsCode);
}
NtpBlock BuildNtpWriteRequest(const NtpBlock& block) {
  return Framed(block, kPlainHeader, kWriteNtpCode);
}

AnswerCheck CheckNetworkReadAnswer(std::span<const uint8_t> a, NetworkBlock* block) {
  return CheckRead(a, kReadNetworkCode, block);
}
AnswerCheck CheckNetworkWriteAnswer(std::span<const uint8_t> a) {
  return Check(a, kWriteNetworkCode, 0);
}
AnswerCheck CheckSmsReadAnswer(std::span<const uint8_t> a, SmsBlock* block) {
  return CheckRead(a, kReadSmsCode, block);
}
AnswerCheck CheckSmsWriteAnswer(std::span<const uint8_t> a) { return Check(a, kWriteSmsCode, 0); }

AnswerCheck CheckNtpReadAnswer(std::span<const uint8_t> a, NtpBlock* block) {
  const AnswerCheck c = CheckRead(a, kReadNtpCode, block);
  if (c == AnswerCheck::kWrongLength && a[1] == 3) return AnswerCheck::kNtpOff;
  return c;
}
AnswerCheck CheckNtpWriteAnswer(std::span<const uint8_t> a) { return Check(a, kWriteNtpCode, 0); }

bool SmsVersionsSupported(std::span<const uint8_t> a) {
  return Check(a, kVersionCode, 0) == AnswerCheck::kAccepted && a[1] >= 5 && a[4] >= 69 &&
         a[5] >= 40;
}

NetworkBlock BuildNetworkReadAnswer(const NetworkBlock& block) {
  return Framed(block, kPlainHeader, kReadNetworkCode);
}
SmsBlock BuildSmsReadAnswer(const SmsBlock& block) {
  return Framed(block, kPlainHeader, kReadSmsCode);
}
NtpBlock BuildNtpReadAnswer(const NtpBlock& block) {
  return Framed(block, kPlainHeader, kReadNtpCode);
}
ShortTelegram BuildEmptyAnswer(uint8_t code) { return Short(kPlainHeader, code); }

}  // namespace maintenance
