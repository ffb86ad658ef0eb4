// The telegrams of the settings exchanges: the read requests, the write
// requests made from a block, the remote reset, the checks of the device's
// answers, and the answers a device gives (for the simulator and the tests).
// The waits and tries of the exchanges are the maintenance session's.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "maintenance/settings_blocks.h"

namespace maintenance {

// Request and answer codes.
inline constexpr uint8_t kReadNetworkCode = 0x0B;   // denial 0x8B
inline constexpr uint8_t kWriteNetworkCode = 0x0C;  // denial 0x8C
inline constexpr uint8_t kReadNtpCode = 0x24;
inline constexpr uint8_t kWriteNtpCode = 0x25;
inline constexpr uint8_t kReadSmsCode = 0xF7;
inline constexpr uint8_t kWriteSmsCode = 0xF8;
inline constexpr uint8_t kResetCode = 0xAA;

// A request without data: header, L = 3, 0x55, code, check byte.
using ShortTelegram = std::array<uint8_t, 5>;

ShortTelegram BuildNetworkReadRequest();  // 0xEF ... 0x0B
ShortTelegram BuildSmsReadRequest();      // 0xFE ... 0xF7
ShortTelegram BuildNtpReadRequest();      // 0xEF ... 0x24
ShortTelegram BuildResetRequest();        // 0xEF ... 0xAA, sent three times, never answered

// The block with its header made a write request (0xEF 0x6C 0x55 0x0C, 0xFE
// 0x16 0x55 0xF8, 0xEF 0x31 0x55 0x25) and its check byte computed. Keep the
// network request as the main block: a settings file saved later carries its
// check byte.
NetworkBlock BuildNetworkWriteRequest(const NetworkBlock& block);
SmsBlock BuildSmsWriteRequest(const SmsBlock& block);
NtpBlock BuildNtpWriteRequest(const NtpBlock& block);

enum class AnswerCheck {
  kAccepted,    // the awaited code with the block's own length
  kNtpOff,      // NTP read only: the awaited code with no data (L = 3)
  kWrongLength, // the awaited code with another L: a failed try, nothing taken
  kOtherCode,   // a valid answer with another code (0x8B, 0x8C: the device refused)
  kInvalid,     // not 0xEF, not 0x55, L beyond the bytes at hand, or a wrong check byte
};

// `answer` is the answer buffer (128 bytes as handed over, or fewer). The
// read checks copy the block into `block` only when they accept it. A write
// is acknowledged by its code; the acknowledgement's length is not the
// block's and is not checked.
AnswerCheck CheckNetworkReadAnswer(std::span<const uint8_t> answer, NetworkBlock* block);
AnswerCheck CheckNetworkWriteAnswer(std::span<const uint8_t> answer);
AnswerCheck CheckSmsReadAnswer(std::span<const uint8_t> answer, SmsBlock* block);
AnswerCheck CheckSmsWriteAnswer(std::span<const uint8_t> answer);
AnswerCheck CheckNtpReadAnswer(std::span<const uint8_t> answer, NtpBlock* block);
AnswerCheck CheckNtpWriteAnswer(std::span<const uint8_t> answer);

// The SMS service needs an Ethernet controller firmware of at least 69 and a
// main controller firmware of at least 40: bytes 4 and 5 of a valid version
// answer (code 0x15).
bool SmsVersionsSupported(std::span<const uint8_t> versionAnswer);

// A device's answers: the block as a read answer (0xEF, the block's L, 0x55,
// the read code), and an answer without data (an acknowledgement, a denial,
// or the NTP read of a device without NTP).
NetworkBlock BuildNetworkReadAnswer(const NetworkBlock& block);
SmsBlock BuildSmsReadAnswer(const SmsBlock& block);
NtpBlock BuildNtpReadAnswer(const NtpBlock& block);
ShortTelegram BuildEmptyAnswer(uint8_t code);

}  // namespace maintenance
