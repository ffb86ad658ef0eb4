#include "configurator/frame.h"

#include <algorithm>

#include "devlink/crc8.h"

namespace configurator {

std::vector<uint8_t> BuildFrame(uint8_t seq, uint8_t command, std::span<const uint8_t> data) {
  std::vector<uint8_t> f(kFrameHeader + data.size() + 1);
  const uint8_t head[kFrameHeader] = {0xFE, uint8_t(f.size() - 2), 0x01, 0x7F, seq, 0x00, command};
  std::copy(head, head + kFrameHeader, f.begin());
  std::copy(data.begin(), data.end(), f.begin() + kFrameHeader);
  f.back() = devlink::Crc8Bytes(f.data(), f.size() - 1);  // L = size - 2: the CRC at L + 1
  return f;
}

std::vector<uint8_t> ReadBlockFrame(uint8_t seq, uint32_t address) {
  const uint8_t d[] = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16),
                       uint8_t(kBlockSize)};
  return BuildFrame(seq, kReadBlock, d);
}

std::vector<uint8_t> WriteBlockFrame(uint8_t seq, uint32_t address,
                                     std::span<const uint8_t, kBlockSize> bytes) {
  std::vector<uint8_t> d = {uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16)};
  d.insert(d.end(), bytes.begin(), bytes.end());
  return BuildFrame(seq, kWriteBlock, d);
}

std::vector<uint8_t> KeyPollFrame(uint8_t seq) {
  const uint8_t d[] = {0, 0};
  return BuildFrame(seq, kKeyPoll, d);
}

std::vector<uint8_t> IdentifyFrame(uint8_t seq) {
  const uint8_t d[] = {0, 0};
  return BuildFrame(seq, kIdentify, d);
}

std::vector<uint8_t> ProgrammingStartFrame(uint8_t seq) {
  const uint8_t d[] = {0};
  return BuildFrame(seq, kProgrammingStart, d);
}

std::vector<uint8_t> ProgrammingEndFrame(uint8_t seq) {
  const uint8_t d[] = {0, 0};
  return BuildFrame(seq, kProgrammingEnd, d);
}

std::vector<std::vector<uint8_t>> FrameAssembler::Feed(std::span<const uint8_t> bytes) {
  std::vector<std::vector<uint8_t>> frames;
  for (const uint8_t b : bytes) {
    if (pos_ == 0) {
      if (b != 0xFE) continue;
      crc_ = 0;
    }
    buf_[pos_++] = b;
    crc_ = devlink::Crc8Step(crc_, b);
    if (pos_ >= kMaxFrame) {
      pos_ = 0;
      continue;
    }
    // Complete at L + 2 bytes; over the CRC byte too, a sound frame gives 0.
    if (pos_ > 2 && pos_ == size_t(buf_[1]) + 2) {
      if (crc_ == 0 && pos_ >= kFrameHeader + 1) frames.emplace_back(buf_, buf_ + pos_);
      pos_ = 0;
    }
  }
  return frames;
}

}  // namespace configurator
