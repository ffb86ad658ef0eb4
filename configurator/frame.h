// The configurator's frames: FE L 01 7F seq 00 command data CRC, sent plain
// as one UDP datagram each way, and the assembler that rebuilds frames from
// the bytes the device delivers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace configurator {

// Commands of the image exchange.
enum Command : uint8_t {
  kReadBlock = 200,
  kReadBlockReply = 201,
  kWriteBlock = 202,
  kWriteBlockReply = 203,
  kKeyPoll = 206,
  kKeyPollReply = 207,
  kIdentify = 208,
  kIdentifyReply = 209,
  kProgrammingStart = 212,
  kProgrammingEnd = 215,
};

inline constexpr size_t kBlockSize = 48;      // image bytes per read or write
inline constexpr size_t kFrameHeader = 7;     // FE L 01 7F seq 00 command
inline constexpr size_t kMaxFrame = 201;      // the assembler's buffer
inline constexpr uint32_t kReadEnd = 256;     // a read stores offsets 0..256
inline constexpr uint32_t kWriteEnd = 288;    // a write sends offsets 0..287

// A whole frame: header, `data`, CRC-8 of everything before it.
std::vector<uint8_t> BuildFrame(uint8_t seq, uint8_t command, std::span<const uint8_t> data);

// The requests of the image exchange.
std::vector<uint8_t> ReadBlockFrame(uint8_t seq, uint32_t address);
std::vector<uint8_t> WriteBlockFrame(uint8_t seq, uint32_t address,
                                     std::span<const uint8_t, kBlockSize> bytes);
std::vector<uint8_t> KeyPollFrame(uint8_t seq);
std::vector<uint8_t> IdentifyFrame(uint8_t seq);
std::vector<uint8_t> ProgrammingStartFrame(uint8_t seq);
std::vector<uint8_t> ProgrammingEndFrame(uint8_t seq);

// A frame's fields once the assembler has checked it.
struct FrameView {
  std::span<const uint8_t> bytes;  // the whole frame, CRC included
  uint8_t L() const { return bytes[1]; }
  uint8_t Seq() const { return bytes[4]; }
  uint8_t Command() const { return bytes[6]; }
  // Bytes 7..L.
  std::span<const uint8_t> Data() const { return bytes.subspan(7, bytes.size() - 8); }
};

// Rebuilds frames byte by byte: a frame may come split over deliveries or
// several in one. A frame is complete at L + 2 bytes and passed on only when
// its CRC checks; bytes before a 0xFE start are dropped.
class FrameAssembler {
 public:
  // Feeds the bytes; returns the complete valid frames, in order.
  std::vector<std::vector<uint8_t>> Feed(std::span<const uint8_t> bytes);
  // Drops a partial frame (the idle tick's reset).
  void Reset() { pos_ = 0; }
  bool Partial() const { return pos_ > 0; }

 private:
  uint8_t buf_[kMaxFrame] = {};
  size_t pos_ = 0;
  uint8_t crc_ = 0;
};

}  // namespace configurator
