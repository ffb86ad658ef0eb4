// The object device's side of the telegram exchange with the relay server:
// registration, the wrapper 0xEA, service and event telegrams, echo, and the
// opening of the server's answers and requests. Free of I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "devlink/client_record.h"
#include "devlink/rc6.h"
#include "devlink/telegram_cipher.h"

namespace devsim {

using devlink::ConsoleNumber;
using devlink::Key10;

inline constexpr uint8_t kMarker = 0x55;
inline constexpr uint8_t kTypeWrapper = 0xEA;  // device wrapper; also every encrypted server telegram
inline constexpr uint8_t kTypeService = 0xE9;
inline constexpr uint8_t kTypeEvent = 0xFE;
inline constexpr uint8_t kTypePlain = 0xEF;

inline constexpr uint8_t kCodeRegister = 0x07;
inline constexpr uint8_t kCodeRegisterOpt = 0x87;
inline constexpr uint8_t kCodeTest = 0x04;
inline constexpr uint8_t kCodeHeartbeat = 0x08;
inline constexpr uint8_t kCodeEventAck = 0x09;
inline constexpr uint8_t kCodeTime = 0x80;
inline constexpr uint8_t kCodeEcho = 0xBC;

inline constexpr size_t kBufSize = 128;
inline constexpr uint8_t kRegistrationL = 27;
inline constexpr size_t kRegistrationSize = kRegistrationL + 2;

// The registration base constant used when the deployment gives none.
inline constexpr Key10 kDefaultRegKey = devlink::kDefaultRegKeyBase;

// A device's cipher: the key schedule of its effective key and its two
// chaining values. `send` mirrors the server's C_iResiv, `recv` its C_iTransm.
struct DeviceCipher {
  devlink::Rc6w8r8b10 rc6;
  Key10 keyMaterial{};
  uint32_t send = 0;
  uint32_t recv = 0;
};

// Schedules the effective key (key material XOR number) once, so each telegram
// costs no key schedule.
void SetKey(DeviceCipher& c, const Key10& keyMaterial, ConsoleNumber n);

// Chaining value both sides start from after a registration: first 4 key bytes.
uint32_t InitialChaining(const Key10& keyMaterial);

// Key material both sides derive from the base constant, device bytes and seed.
Key10 DeriveDeviceKey(const Key10& base, const uint8_t devBytes[6], const uint8_t seed[4]);

struct RegistrationInput {
  ConsoleNumber number;
  uint8_t code = kCodeRegister;
  uint8_t seq = 0;
  std::array<uint8_t, 4> seed{};
  std::array<uint8_t, 6> devBytes{};
  std::array<uint8_t, 2> identity{};
};

// Builds the plain registration telegram into `out` (kRegistrationSize bytes)
// and returns its size. Derives the key into `c`, resets both chaining values
// and encrypts the test telegram with the send value, which then rises by 1.
size_t BuildRegistration(const RegistrationInput& in, const Key10& base, DeviceCipher& c,
                         uint8_t out[kBufSize]);

// Plain inner telegrams with their check byte; each returns L + 2.
size_t BuildHeartbeat(ConsoleNumber n, uint8_t seq, uint8_t out[kBufSize]);
size_t BuildTimeRequest(ConsoleNumber n, uint8_t seq, uint8_t out[kBufSize]);
// Event 0xFE with the 3-byte address; `dataLen` at most 116.
size_t BuildEvent(ConsoleNumber n, uint8_t seq, uint8_t code, const uint8_t* data, size_t dataLen,
                  uint8_t out[kBufSize]);
// The event a device answers a server request with: the code and data the
// server's service-answer decoder understands for service commands, the
// command byte itself with one zero data byte otherwise.
size_t BuildRequestAnswer(ConsoleNumber n, uint8_t seq, uint8_t command, uint8_t param,
                          uint8_t out[kBufSize]);
// Plain echo 0xEF: x in byte 7, flag in byte 8, then `extra` filler bytes
// (at most 116). Sent as is.
size_t BuildEcho(ConsoleNumber n, uint8_t x, uint8_t flag, size_t extra, uint8_t out[kBufSize]);

// Largest inner L whose wrapper still fits a 128-byte buffer.
inline constexpr uint8_t kMaxInnerL = 120;

// Encrypts the plain inner telegram with the send value (which then rises by
// 1) and wraps it with the client index, high byte first. Returns the wrapper
// size, or 0 (nothing encrypted) when the inner L is 0 or above kMaxInnerL.
size_t Wrap(DeviceCipher& c, uint16_t index, const uint8_t* inner, uint8_t out[kBufSize]);

enum class AnswerKind : uint8_t {
  kRegistration,   // registration answer: index
  kHeartbeat,      // heartbeat answer: seq, alarmFlag
  kTime,           // time answer: seq, clock
  kEventAck,       // event acknowledgement: seq
  kRequest,        // server request: seq, command, param
  kEcho,           // plain echo returned: seq = byte 7
  kOther,          // decrypted, right check byte, but not for this device or not understood
  kUndecryptable,  // 0xEA that no chaining value in the look-ahead opens, or cut short
  kMalformed,      // anything else: bad plain check byte, unknown type, too short
};

const char* AnswerKindName(AnswerKind k);

struct Answer {
  AnswerKind kind = AnswerKind::kMalformed;
  uint8_t seq = 0;
  uint16_t index = 0;
  uint8_t command = 0;
  uint8_t param = 0;
  bool alarmFlag = false;
  std::array<uint8_t, 6> clock{};  // yy, mm, dd, hh, mi, ss of a time answer
  std::array<uint8_t, kBufSize> plain{};
  size_t plainSize = 0;  // bytes of `plain` worth showing: L + 2 when decrypted or plain
};

// Opens a datagram from the server for device `n`: encrypted telegrams are
// decrypted with look-ahead from the receive value (which advances on
// success only); plain ones are checked.
Answer OpenAnswer(DeviceCipher& c, ConsoleNumber n, const uint8_t* data, size_t len);

}  // namespace devsim
