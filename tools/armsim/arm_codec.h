// What the simulated workstation reads from the server: frames back to back
// in one read, split and classified; the JSON lines it prints; command frames
// given in hex. Free of I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace armsim {

using Bytes = std::vector<uint8_t>;

enum class FrameKind {
  kEmpty,  // 0xFE, 4, 1, G, 0: nothing for the group
  kAck,    // 0xFE, 5, 1, G, 0, counter: the server took a command
  kItem,   // anything else: an event, notice or reply to be acknowledged
};

struct Frame {
  FrameKind kind = FrameKind::kEmpty;
  uint8_t group = 0;   // byte 3, N1
  std::string number;  // "N1/N2/N3", or "N1" for a group frame
  int counter = -1;    // byte 4 + n; -1 in the empty answer
  int code = -1;       // byte 5 + n; -1 when the frame ends before it
  Bytes data;          // after the code, up to the check byte
  Bytes bytes;         // the whole frame
};

enum class SplitStatus {
  kOk,          // every byte belonged to a whole frame
  kIncomplete,  // the last frame needs bytes that have not arrived yet
  kMalformed,   // a frame is wrong; `error` says how
};

struct SplitResult {
  SplitStatus status = SplitStatus::kOk;
  std::vector<Frame> frames;  // the good frames before the problem
  size_t used = 0;            // bytes of those frames
  std::string error;
};

SplitResult SplitFrames(const uint8_t* p, size_t n);

std::string Hex(const uint8_t* p, size_t n, bool spaced = false);
inline std::string Hex(const Bytes& b, bool spaced = false) { return Hex(b.data(), b.size(), spaced); }

// {"type":"item","group":1,"number":"1/0/5","counter":7,"code":22,"data":"","resend":false}
// `monoUs`, when given, is the item's arrival time (CLOCK_MONOTONIC, µs).
std::string ItemJson(const Frame& f, bool resend, std::optional<int64_t> monoUs = std::nullopt);
// {"type":"ack","group":1,"counter":7}
std::string AckJson(const Frame& f);

// A command frame in hex (spaces and colons allowed) without its check byte:
// byte 1 must count the bytes after it plus the check byte, which is added.
// Byte 0 is taken as given so that wrong frames can be sent on purpose.
bool ParseHexFrame(std::string_view text, Bytes* out, std::string* error);

}  // namespace armsim
