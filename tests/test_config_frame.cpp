// The configurator's frames and the assembler that rebuilds them from the
// bytes the device delivers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "configurator/frame.h"
#include "devlink/crc8.h"

namespace {

using configurator::FrameAssembler;
using Bytes = std::vector<uint8_t>;

TEST(ConfigFrame, RequestsAsTheDeviceReadsThem) {
  const Bytes read = configurator::ReadBlockFrame(5, 0);
  const Bytes head = {0xFE, 0x0A, 0x01, 0x7F, 0x05, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x30};
  ASSERT_EQ(read.size(), 12u);
  EXPECT_EQ(Bytes(read.begin(), read.end() - 1), head);
  EXPECT_EQ(read.back(), devlink::Crc8Bytes(head.data(), head.size()));
  EXPECT_EQ(devlink::Crc8Bytes(read.data(), read.size()), 0) << "the CRC over all is 0";

  uint8_t block[configurator::kBlockSize];
  for (size_t i = 0; i < sizeof block; ++i) block[i] = uint8_t(i);
  const Bytes write = configurator::WriteBlockFrame(9, 0x010230, block);
  ASSERT_EQ(write.size(), 59u);
  EXPECT_EQ(write[1], 57);
  EXPECT_EQ(Bytes(write.begin() + 7, write.begin() + 10), (Bytes{0x30, 0x02, 0x01}));
  EXPECT_EQ(write[10], 0);
  EXPECT_EQ(write[57], 47);

  const struct {
    Bytes frame;
    size_t size;
    uint8_t command;
  } others[] = {{configurator::KeyPollFrame(1), 10, 0xCE},
                {configurator::IdentifyFrame(1), 10, 0xD0},
                {configurator::ProgrammingEndFrame(1), 10, 0xD7},
                {configurator::ProgrammingStartFrame(1), 9, 0xD4}};
  for (const auto& o : others) {
    EXPECT_EQ(o.frame.size(), o.size);
    EXPECT_EQ(o.frame[1], o.size - 2);
    EXPECT_EQ(o.frame[6], o.command);
  }
}

Bytes Reply(uint8_t seq, Bytes data) { return configurator::BuildFrame(seq, 201, data); }

TEST(ConfigFrame, AssemblerTakesSplitJoinedAndDirtyDeliveries) {
  const Bytes a = Reply(1, {1, 2, 3});
  const Bytes b = Reply(2, {4, 5});
  Bytes bad = a;
  bad.back() ^= 1;
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  Bytes noise = {0x00, 0x13};
  noise.insert(noise.end(), a.begin(), a.end());

  struct Case {
    const char* name;
    std::vector<Bytes> deliveries;
    size_t frames;
  } cases[] = {
      {"Whole", {a}, 1},
      {"Split", {Bytes(a.begin(), a.begin() + 4), Bytes(a.begin() + 4, a.end())}, 1},
      {"Joined", {joined}, 2},
      {"BadCrc", {bad}, 0},
      {"BadCrcThenGood", {bad, a}, 1},
      {"LeadingNoise", {noise}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameAssembler as;
    size_t n = 0;
    for (const Bytes& d : c.deliveries) {
      for (const Bytes& f : as.Feed(d)) {
        ++n;
        EXPECT_EQ(f[6], 201);
      }
    }
    EXPECT_EQ(n, c.frames);
  }

  // The idle reset drops the first half of a frame that came too slowly.
  FrameAssembler as;
  EXPECT_TRUE(as.Feed(Bytes(a.begin(), a.begin() + 4)).empty());
  as.Reset();
  EXPECT_TRUE(as.Feed(Bytes(a.begin() + 4, a.end())).empty());
  EXPECT_EQ(as.Feed(a).size(), 1u);
}

TEST(ConfigFrame, ALengthThatNeverCompletesWrapsAtTheBuffer) {
  FrameAssembler as;
  Bytes junk = {0xFE, 0xFF};  // claims 257 bytes: never complete
  junk.resize(configurator::kMaxFrame, 0x11);
  EXPECT_TRUE(as.Feed(junk).empty());
  EXPECT_FALSE(as.Partial());
  EXPECT_EQ(as.Feed(Reply(3, {9})).size(), 1u);
}

}  // namespace
