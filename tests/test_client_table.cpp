// The client record layout, the intake ring, the registry store's free cells,
// the workstation queue, the pending request slots and loading the registry file.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "armlink/arm_queue.h"
#include "console/console_settings.h"
#include "console/message_sink.h"
#include "devlink/client_record.h"
#include "devlink/client_table.h"
#include "devlink/intake_ring.h"
#include "devlink/requests.h"
#include "platform/clock.h"
#include "registry/buff_client.h"
#include "registry/ndx_file.h"

namespace {

using devlink::ClientRecord;
using devlink::IntakeEntry;
using devlink::IntakeRing;

// Message texts without their time stamp.
struct Messages {
  console::ConsoleSettings settings;
  console::LineQueue queue;
  platform::FixedClock clock;
  console::MessageSink sink{settings, queue, clock};

  std::vector<std::string> Take() {
    std::vector<console::Line> lines;
    queue.Drain(lines, 0);
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(l.text.substr(l.text.find(' ') + 1));
    return out;
  }
};

// ---- record layout

TEST(ClientRecordLayout, FieldOffsetsOfTheRegistryFile) {
  struct Field { size_t offset, expected; const char* name; };
  const Field fields[] = {
      {offsetof(ClientRecord, updateMark), 0, "update mark"},
      {offsetof(ClientRecord, inUse), 1, "in-use flag"},
      {offsetof(ClientRecord, linkFailCount), 2, "link-failure counter"},
      {offsetof(ClientRecord, linkState), 3, "link state"},
      {offsetof(ClientRecord, peerAddr), 4, "peer address"},
      {offsetof(ClientRecord, peerPort), 21, "peer port"},
      {offsetof(ClientRecord, n1), 23, "N1"},
      {offsetof(ClientRecord, n2), 24, "N2"},
      {offsetof(ClientRecord, n3), 25, "N3"},
      {offsetof(ClientRecord, keyMaterial), 26, "key material"},
      {offsetof(ClientRecord, C_iTransm), 36, "C_iTransm"},
      {offsetof(ClientRecord, C_iResiv), 40, "C_iResiv"},
      {offsetof(ClientRecord, identity), 44, "identity"},
      {offsetof(ClientRecord, notifiedIdentity), 46, "notified identity"},
      {offsetof(ClientRecord, regAttempts), 53, "registration attempts"},
      {offsetof(ClientRecord, armFrameCounter), 54, "workstation frame counter"},
      {offsetof(ClientRecord, surGard1072), 1072, "SurGard byte"},
      {offsetof(ClientRecord, substCount), 1073, "substitution counter"},
      {offsetof(ClientRecord, armQueue), 1075, "workstation queue"},
      {offsetof(ClientRecord, armRead), 2099, "queue read index"},
      {offsetof(ClientRecord, armWrite), 2100, "queue write index"},
      {offsetof(ClientRecord, armFull), 2101, "queue full flag"},
      {offsetof(ClientRecord, lastHbSeq), 2102, "last heartbeat sequence"},
      {offsetof(ClientRecord, iface), 2104, "interface"},
      {offsetof(ClientRecord, lastEventSeq), 2105, "last event sequence"},
      {offsetof(ClientRecord, switchedOff), 2106, "switched-off flag"},
      {offsetof(ClientRecord, secondDevice), 2107, "second-device mark"},
      {offsetof(ClientRecord, maintNotice), 2109, "maintenance notice"},
      {offsetof(ClientRecord, pending), 2110, "pending requests"},
      {offsetof(ClientRecord, sendsLeft), 3134, "sends left"},
      {offsetof(ClientRecord, repeatTicks), 3142, "repeat ticks"},
      {offsetof(ClientRecord, requestsPending), 3150, "requests pending"},
      {offsetof(ClientRecord, serviceAnswerExpected), 3151, "service answer expected"},
      {offsetof(ClientRecord, serviceSeq), 3152, "service request sequence"},
      {offsetof(ClientRecord, contactCount), 3153, "contact count"},
      {offsetof(ClientRecord, unansweredCount), 3156, "unanswered count"},
      {offsetof(ClientRecord, sentCount), 3159, "sent count"},
      {offsetof(ClientRecord, sentFlag), 3162, "sent-flag"},
      {offsetof(ClientRecord, substPermit), 3165, "substitution permit"},
  };
  for (const Field& f : fields) EXPECT_EQ(f.offset, f.expected) << f.name;
  EXPECT_EQ(sizeof(ClientRecord), 3166u);
  EXPECT_EQ(sizeof(ClientRecord::armQueue), 8u * 128);
  EXPECT_EQ(sizeof(ClientRecord::pending), 8u * 128);

  EXPECT_EQ(offsetof(IntakeEntry, len), 0u);
  EXPECT_EQ(offsetof(IntakeEntry, data), 2u);
  EXPECT_EQ(offsetof(IntakeEntry, peer), 130u);
  EXPECT_EQ(offsetof(IntakeEntry, port), 147u);
  EXPECT_EQ(offsetof(IntakeEntry, iface), 149u);
  EXPECT_EQ(sizeof(IntakeEntry), 150u);
}

TEST(ClientRecordLayout, LittleEndianFieldsAndAddressText) {
  ClientRecord r{};
  devlink::PutU16(r.peerPort, 0x1389);
  EXPECT_EQ(r.peerPort[0], 0x89);
  EXPECT_EQ(devlink::PeerPort(r), 5001);
  devlink::PutU32(r.C_iTransm, 0x11223344);
  EXPECT_EQ(r.C_iTransm[0], 0x44);
  EXPECT_EQ(r.C_iTransm[3], 0x11);
  // A damaged length byte does not let the text reach past its 16 characters.
  r.peerAddr.len = 200;
  EXPECT_EQ(devlink::PStrView(r.peerAddr).size(), 16u);
}

// ---- intake ring

// A datagram whose first two bytes carry a number, to tell datagrams apart.
std::vector<uint8_t> Numbered(int k, size_t n = 10) {
  std::vector<uint8_t> d(n, 0x5A);
  d[0] = uint8_t(k), d[1] = uint8_t(k >> 8);
  return d;
}
int NumberOf(const IntakeEntry& e) { return e.data[0] | (e.data[1] << 8); }

TEST(IntakeRing, LongDatagramAndLongAddressAreCut) {
  auto ring = std::make_unique<IntakeRing>();
  std::vector<uint8_t> d(200);
  for (size_t k = 0; k < d.size(); ++k) d[k] = uint8_t(k);
  ring->Receive(2, d.data(), d.size(), "fe80:0000:0000:0000:1234", 6000);
  ring->Receive(1, d.data(), 3, "10.0.0.1", 5001);
  IntakeEntry e{};
  ring->Take(e);
  EXPECT_EQ(e.Length(), 128);
  EXPECT_EQ(0, std::memcmp(e.data, d.data(), 128));
  EXPECT_EQ(e.Peer(), "fe80:0000:0000:0");
  EXPECT_EQ(e.Port(), 6000);
  EXPECT_EQ(e.iface, 2);
  ring->Take(e);
  EXPECT_EQ(e.Length(), 3);
  EXPECT_EQ(e.Peer(), "10.0.0.1");
  EXPECT_EQ(e.Port(), 5001);
  EXPECT_EQ(e.iface, 1);
  EXPECT_TRUE(ring->Empty());
}

TEST(IntakeRing, FullRingDropsTheNewestUntilAnEntryIsTaken) {
  auto ring = std::make_unique<IntakeRing>();
  for (int k = 1; k <= 255; ++k) ring->Receive(0, Numbered(k).data(), 10, "10.0.0.1", 1);
  EXPECT_EQ(ring->WriteIndex(), 255);
  EXPECT_EQ(ring->ReadIndex(), 0);
  // Written into the free slot, not published, then replaced.
  ring->Receive(0, Numbered(256).data(), 10, "10.0.0.1", 1);
  ring->Receive(0, Numbered(257).data(), 10, "10.0.0.1", 1);
  EXPECT_EQ(ring->WriteIndex(), 255);

  IntakeEntry e{};
  ring->Take(e);
  EXPECT_EQ(NumberOf(e), 1);
  ring->Receive(0, Numbered(258).data(), 10, "10.0.0.1", 1);
  EXPECT_EQ(ring->WriteIndex(), 0);

  std::vector<int> got;
  while (!ring->Empty()) {
    ring->Take(e);
    got.push_back(NumberOf(e));
  }
  ASSERT_EQ(got.size(), 255u);
  for (int k = 0; k < 254; ++k) EXPECT_EQ(got[size_t(k)], k + 2);
  EXPECT_EQ(got.back(), 258);
}

TEST(IntakeRing, IndicesRunThroughSlot255) {
  auto ring = std::make_unique<IntakeRing>();
  IntakeEntry e{};
  for (int k = 0; k < 254; ++k) {
    ring->Receive(0, Numbered(k).data(), 10, "a", 1);
    ring->Take(e);
  }
  EXPECT_EQ(ring->WriteIndex(), 254);
  ring->Receive(0, Numbered(1000).data(), 10, "a", 1);
  EXPECT_EQ(ring->WriteIndex(), 255);
  ring->Receive(0, Numbered(1001).data(), 10, "a", 1);
  EXPECT_EQ(ring->WriteIndex(), 0);
  ring->Take(e);
  EXPECT_EQ(NumberOf(e), 1000);
  EXPECT_EQ(ring->ReadIndex(), 255);
  ring->Take(e);
  EXPECT_EQ(NumberOf(e), 1001);
  EXPECT_EQ(ring->ReadIndex(), 0);
  EXPECT_TRUE(ring->Empty());
}

// ---- free cells

TEST(FindFreeCell, LowestFreeAndGrowthBy20) {
  registry::TBuffClient store;
  auto& table = store.Table();
  ASSERT_EQ(table.Size(), 20u);
  for (size_t i : {0, 1, 3, 4}) table[i].inUse = 1;
  table[2].n1 = 9;  // a free record keeps its bytes
  EXPECT_EQ(store.FindFreeCell(), 2);
  EXPECT_EQ(store.LastFreeCell(), 2);
  EXPECT_EQ(table[2].n1, 9);
  EXPECT_EQ(table.Size(), 20u);

  for (size_t i = 0; i < 20; ++i) table[i].inUse = 1;
  EXPECT_EQ(store.FindFreeCell(), 20);
  EXPECT_EQ(table.Size(), 40u);
  const ClientRecord zero{};
  for (size_t i = 20; i < 40; ++i) ASSERT_EQ(0, std::memcmp(&table[i], &zero, sizeof zero)) << i;
}

TEST(FindFreeCell, GrowthNearTheLimit) {
  struct Case { size_t size; uint16_t expected; };
  // h = size - 1; above 65513 the table is set to 65534 records at once.
  const Case cases[] = {{65514, 65514}, {65515, 65515}, {65533, 65533}, {65534, 0xFFFF}};
  for (const Case& c : cases) {
    auto store = std::make_unique<registry::TBuffClient>();
    auto& table = store->Table();
    table.Resize(c.size);
    for (size_t i = 0; i < c.size; ++i) table[i].inUse = 1;
    EXPECT_EQ(store->FindFreeCell(), c.expected) << c.size;
    EXPECT_EQ(table.Size(), 65534u) << c.size;
    if (c.expected != 0xFFFF) {
      EXPECT_EQ(table[c.expected].inUse, 0);
    }
  }
}

// ---- workstation queue

std::vector<uint8_t> Frame(uint8_t tag) {
  std::vector<uint8_t> f(128, tag);
  f[0] = 0xFE;
  return f;
}

TEST(LastSequences, UnknownFromRegistrationUntilSeenAndKnownAfterALoad) {
  devlink::ClientTable t;
  EXPECT_TRUE(t.EventSeqKnown(3) && t.HeartbeatSeqKnown(3));
  t.MarkRegistered(3);
  EXPECT_FALSE(t.EventSeqKnown(3) || t.HeartbeatSeqKnown(3));
  t.HeartbeatSeqSeen(3);
  EXPECT_TRUE(t.HeartbeatSeqKnown(3));
  EXPECT_FALSE(t.EventSeqKnown(3));

  // A table loaded from a file keeps the sequences its records hold.
  std::vector<ClientRecord> loaded(5);
  t.Assign(loaded.data(), loaded.size());
  EXPECT_TRUE(t.EventSeqKnown(3));
  t.MarkRegistered(4);
  t.Swap(loaded);
  EXPECT_TRUE(t.EventSeqKnown(4) && t.HeartbeatSeqKnown(4));
}

TEST(WorkstationQueue, EightFramesThenFullThenDrainInOrder) {
  Messages m;
  auto r = std::make_unique<ClientRecord>();
  uint8_t out[128];
  EXPECT_TRUE(armlink::GetForArm(*r, out));
  // Start near the end so the indices wrap 7 -> 0.
  r->armRead = r->armWrite = 6;
  for (uint8_t k = 0; k < 8; ++k) {
    EXPECT_FALSE(armlink::PutToArm(*r, Frame(k).data(), m.sink)) << int(k);
    EXPECT_EQ(r->armFull, k == 7 ? 1 : 0);
  }
  EXPECT_TRUE(m.Take().empty());
  EXPECT_TRUE(armlink::PutToArm(*r, Frame(99).data(), m.sink));
  EXPECT_EQ(m.Take(), std::vector<std::string>{"Переполнение Буфера, нет связи с АРМ(ом)!"});
  for (uint8_t k = 0; k < 8; ++k) {
    ASSERT_FALSE(armlink::GetForArm(*r, out));
    EXPECT_EQ(r->armFull, 0);
    EXPECT_EQ(out[5], k);
  }
  EXPECT_TRUE(armlink::GetForArm(*r, out));
  EXPECT_EQ(r->armRead, 6);
  EXPECT_EQ(r->armWrite, 6);
}

TEST(WorkstationQueue, DamagedIndicesStayWithinTheEightSlots) {
  Messages m;
  auto r = std::make_unique<ClientRecord>();
  std::memset(r.get(), 0x33, sizeof(ClientRecord));
  r->armRead = 200;
  r->armWrite = 200;
  r->armFull = 0;
  const ClientRecord before = *r;
  EXPECT_FALSE(armlink::PutToArm(*r, Frame(0x44).data(), m.sink));
  // Only the queue slots and the indices may change.
  const auto* a = reinterpret_cast<const uint8_t*>(r.get());
  const auto* b = reinterpret_cast<const uint8_t*>(&before);
  EXPECT_EQ(0, std::memcmp(a, b, 1075));
  EXPECT_EQ(0, std::memcmp(a + 2102, b + 2102, sizeof(ClientRecord) - 2102));
  EXPECT_LT(r->armWrite, 8);
  uint8_t out[128];
  ASSERT_FALSE(armlink::GetForArm(*r, out));
  EXPECT_EQ(out[5], 0x44);
  EXPECT_LT(r->armRead, 8);
  EXPECT_TRUE(armlink::GetForArm(*r, out));
}

// ---- pending requests

std::vector<uint8_t> Request(uint8_t seq) {
  std::vector<uint8_t> q(128, 0);
  q[0] = 0xEA, q[1] = 9, q[2] = 3, q[3] = 1, q[4] = 0, q[5] = 5, q[7] = seq, q[8] = 0x7D;
  return q;
}

TEST(PendingRequests, RepetitionOffStoresAndClearsNothing) {
  console::ConsoleSettings s;
  s.GlPovtorOn = false;
  auto r = std::make_unique<ClientRecord>();
  EXPECT_FALSE(devlink::AddRequest(*r, Request(1).data(), s));
  EXPECT_EQ(r->sendsLeft[0], 0);
  EXPECT_EQ(r->requestsPending, 0);
  r->sendsLeft[2] = 3;
  r->pending[2][7] = 1;
  r->requestsPending = 1;
  EXPECT_FALSE(devlink::AckRequest(*r, Request(1).data(), s));
  EXPECT_EQ(r->sendsLeft[2], 3);
  EXPECT_EQ(r->requestsPending, 1);
}

TEST(PendingRequests, SlotsFillLowestFirstAndAnAnswerClearsItsSlot) {
  console::ConsoleSettings s;
  s.GlPovtorOn = true;
  s.GlNPovtor = 4;
  auto r = std::make_unique<ClientRecord>();
  for (uint8_t j = 0; j < 8; ++j) {
    r->repeatTicks[j] = 9;
    ASSERT_TRUE(devlink::AddRequest(*r, Request(uint8_t(10 + j)).data(), s));
    EXPECT_EQ(r->sendsLeft[j], 4);
    EXPECT_EQ(r->repeatTicks[j], 0);
    EXPECT_EQ(r->pending[j][7], 10 + j);
  }
  EXPECT_EQ(r->requestsPending, 1);
  EXPECT_FALSE(devlink::AddRequest(*r, Request(50).data(), s));  // all eight busy

  EXPECT_FALSE(devlink::AckRequest(*r, Request(49).data(), s));  // no slot has it
  EXPECT_EQ(r->requestsPending, 1);
  EXPECT_TRUE(devlink::AckRequest(*r, Request(13).data(), s));
  EXPECT_EQ(r->sendsLeft[3], 0);
  EXPECT_EQ(r->requestsPending, 0);
  for (int j : {0, 1, 2, 4, 5, 6, 7}) EXPECT_EQ(r->sendsLeft[j], 4);
  EXPECT_FALSE(devlink::AckRequest(*r, Request(13).data(), s));  // answered already

  EXPECT_TRUE(devlink::AddRequest(*r, Request(60).data(), s));
  EXPECT_EQ(r->pending[3][7], 60);
  EXPECT_EQ(r->requestsPending, 1);
}

// ---- registry file

class LoadNdxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("dltest_ndx_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "relay-server.ndx").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Write(const std::vector<uint8_t>& bytes) {
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size()));
  }

  std::filesystem::path dir_;
  std::string path_;
  Messages m_;
  std::mutex lock_;
};

// Records whose every byte tells record and offset apart.
std::vector<uint8_t> FileRecords(size_t n) {
  std::vector<uint8_t> bytes(n * sizeof(ClientRecord));
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = uint8_t(k * 7 + k / sizeof(ClientRecord));
  return bytes;
}

TEST_F(LoadNdxTest, ThreeRecordsLoadedWithInterfaceBytesZeroed) {
  auto store = std::make_unique<registry::TBuffClient>();
  const auto bytes = FileRecords(3);
  Write(bytes);
  EXPECT_TRUE(registry::LoadNdx(*store, lock_, path_, m_.sink));
  ASSERT_EQ(store->Table().Size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const auto* rec = reinterpret_cast<const uint8_t*>(&store->Table()[i]);
    const uint8_t* file = bytes.data() + i * sizeof(ClientRecord);
    EXPECT_EQ(0, std::memcmp(rec, file, 3153)) << i;
    for (size_t k = 3153; k < 3165; ++k) EXPECT_EQ(rec[k], 0) << i << ":" << k;
    EXPECT_EQ(rec[3165], file[3165]) << i;
  }
  EXPECT_TRUE(std::filesystem::exists(path_));
  EXPECT_TRUE(m_.Take().empty());
}

TEST_F(LoadNdxTest, MissingFileChangesNothingAndEmptyFileIsDeleted) {
  auto store = std::make_unique<registry::TBuffClient>();
  store->Table()[4].inUse = 1;
  EXPECT_TRUE(registry::LoadNdx(*store, lock_, path_, m_.sink));
  EXPECT_EQ(store->Table().Size(), 20u);
  EXPECT_EQ(store->Table()[4].inUse, 1);

  Write({});
  EXPECT_TRUE(registry::LoadNdx(*store, lock_, path_, m_.sink));
  EXPECT_FALSE(std::filesystem::exists(path_));
  EXPECT_EQ(store->Table().Size(), 20u);
  EXPECT_EQ(store->Table()[4].inUse, 1);
  EXPECT_TRUE(m_.Take().empty());
}

// The bytes of a registry that could not be loaded whole survive the next
// save, which writes only what was loaded.
TEST_F(LoadNdxTest, SizeNotAWholeNumberOfRecordsIsReportedAndKeptPastTheNextSave) {
  struct Case { size_t bytes; size_t records; };
  const Case cases[] = {{2 * 3166 + 100, 2}, {100, 20}};  // 100 bytes: not a record, table kept
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    auto store = std::make_unique<registry::TBuffClient>();
    auto bytes = FileRecords(3);
    bytes.resize(c.bytes);
    Write(bytes);
    registry::LoadNdx(*store, lock_, path_, m_.sink);
    EXPECT_EQ(store->Table().Size(), c.records) << c.bytes;
    EXPECT_TRUE(std::filesystem::exists(path_)) << c.bytes;
    const auto lines = m_.Take();
    ASSERT_EQ(lines.size(), 2u) << c.bytes;
    EXPECT_NE(lines[1].find("сохранён без изменений как"), std::string::npos) << lines[1];
    if (c.records == 2) {
      EXPECT_EQ(0, std::memcmp(&store->Table()[1], bytes.data() + 3166, 3153));
    }

    ASSERT_TRUE(registry::SaveNdx(*store, lock_, path_, m_.sink));
    EXPECT_EQ(std::filesystem::file_size(path_), c.records * 3166) << c.bytes;
    std::vector<std::filesystem::path> kept;
    for (const auto& e : std::filesystem::directory_iterator(dir_))
      if (e.path().filename().string().find(".bad-") != std::string::npos) kept.push_back(e.path());
    ASSERT_EQ(kept.size(), 1u) << c.bytes;
    std::ifstream in(kept[0], std::ios::binary);
    const std::vector<uint8_t> saved((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(saved, bytes) << c.bytes;
  }
}

}  // namespace
