// Frames of the workstation serial protocol: 0xFE, L, address length, address,
// 0, frame counter, code and data, check byte at L + 1. Free of I/O; shared by
// the server's channel and the workstation simulator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace armlink {

inline constexpr uint8_t kFrameStart = 0xFE;
inline constexpr size_t kFrameBuf = 128;

// Notice and reply codes the server itself sends.
inline constexpr uint8_t kCodeSwitchedOn = 0x07;
inline constexpr uint8_t kCodeSwitchedOff = 0x08;
inline constexpr uint8_t kCodeSubstitution = 0x10;
inline constexpr uint8_t kCodeLinkFailure = 0x16;
inline constexpr uint8_t kCodeLinkRestored = 0x17;
inline constexpr uint8_t kCodeMaintStart = 0x2E;
inline constexpr uint8_t kCodeMaintEnd = 0x2F;
inline constexpr uint8_t kCodeInternetStatus = 0x33;

// True when the frame starts with 0xFE, its L + 2 bytes lie within `avail`
// and its check byte is right.
bool FrameOk(const uint8_t* f, size_t avail);

// Each builder writes the whole frame with its check byte into `out` (at least
// 10 bytes) and returns its size, L + 2.
size_t BuildPoll(uint8_t* out, uint8_t group);          // also the empty answer
size_t BuildAck(uint8_t* out, uint8_t group, uint8_t counter);
// 0xFE, 8, 3, N1, N2, N3, 0, counter, code.
size_t BuildNotice(uint8_t* out, uint8_t n1, uint8_t n2, uint8_t n3, uint8_t counter,
                   uint8_t code);

inline bool IsPoll(const uint8_t* f) { return f[1] == 4; }
inline bool IsAck(const uint8_t* f) { return f[1] == 5 && f[2] == 1; }
// The frame counter: byte 4 + n, n the address length (1 or 3).
inline size_t CounterOffset(const uint8_t* f) { return size_t(4) + f[2]; }

}  // namespace armlink
