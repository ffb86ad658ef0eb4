// The registry store: the grid of registered devices (filling, row updates,
// sorting), trimming and freeing records, the registry file (load, save,
// compare, crash safety) and the export of registered devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console/console_settings.h"
#include "console/device_grid.h"
#include "console/message_sink.h"
#include "devlink/client_record.h"
#include "devlink/client_table.h"
#include "platform/clock.h"
#include "registry/buff_client.h"
#include "registry/ndx_file.h"
#include "registry/registration_export.h"
#include "registry/registry_saver.h"

namespace {

namespace fs = std::filesystem;
using console::DeviceGrid;
using devlink::ClientRecord;
using devlink::ClientTable;
using registry::TBuffClient;
using Strings = std::vector<std::string>;

constexpr size_t kRec = sizeof(ClientRecord);

// Message texts without their time stamp.
struct Messages {
  console::ConsoleSettings settings;
  console::LineQueue queue;
  platform::FixedClock clock;
  console::MessageSink sink{settings, queue, clock};

  Strings Take() {
    std::vector<console::Line> lines;
    queue.Drain(lines, 0);
    Strings out;
    for (const auto& l : lines) out.push_back(l.text.substr(l.text.find(' ') + 1));
    return out;
  }
};

// A store with its own Lock and message sink; the table starts with `size`
// records, those listed in use with port 5000 + i and number 1/0/i.
struct Store {
  explicit Store(size_t size = 8, std::vector<uint16_t> inUse = {}) {
    store->Table().Resize(size);
    for (uint16_t i : inUse) Use(i, devlink::ConsoleNumber{1, 0, uint8_t(i)});
  }
  ClientRecord& Rec(size_t i) { return store->Table()[i]; }
  void Use(uint16_t i, devlink::ConsoleNumber n) {
    ClientRecord& r = Rec(i);
    r.inUse = 1;
    devlink::SetPStr(r.peerAddr, "10.0.0." + std::to_string(i + 1));
    devlink::PutU16(r.peerPort, uint16_t(5000 + i));
    r.n1 = n.n1, r.n2 = n.n2, r.n3 = n.n3;
  }
  DeviceGrid& Grid() { return store->Grid(); }

  std::unique_ptr<TBuffClient> store = std::make_unique<TBuffClient>();
  std::mutex lock;
  Messages m;
};

// The data-row cells of one column, top to bottom.
Strings Column(const DeviceGrid& g, int column) {
  Strings out;
  for (size_t row = 1; row < g.RowCount(); ++row) out.push_back(g.Cell(row, column));
  return out;
}

// The index column padded with empty cells to `rows` data rows.
Strings Indexes(std::vector<std::string> shown, size_t rows) {
  shown.resize(rows);
  return shown;
}

// ---- filling the grid

TEST(DeviceGridFill, RecordsInUseInIndexOrderThenEmptyRows) {
  Store s(10, {7, 1, 4});
  s.Rec(4).switchedOff = 1;
  s.store->RefreshTable(s.lock);
  s.Grid().Sort(DeviceGrid::kIndexColumn, false);
  ASSERT_EQ(Column(s.Grid(), DeviceGrid::kIndexColumn)[0], "7");

  // "Обновить таблицу" shows index order again, whatever the sort did.
  s.store->RefreshTable(s.lock);
  const DeviceGrid& g = s.Grid();
  ASSERT_EQ(g.RowCount(), 11u);
  EXPECT_EQ(g.RowAt(0), DeviceGrid::Row({"IP Адрес", "Порт прибора", "Пультовой N", "N стр.",
                                         "Выкл."}));
  EXPECT_EQ(g.RowAt(1), DeviceGrid::Row({"10.0.0.2", "5001", "1/0/1", "1", ""}));
  EXPECT_EQ(g.RowAt(2), DeviceGrid::Row({"10.0.0.5", "5004", "1/0/4", "4", "1"}));
  EXPECT_EQ(g.RowAt(3), DeviceGrid::Row({"10.0.0.8", "5007", "1/0/7", "7", ""}));
  for (size_t row = 4; row < 11; ++row) EXPECT_EQ(g.RowAt(row), DeviceGrid::Row{}) << row;

  // A shorter table drops the rows behind it.
  s.store->Table().Resize(2);
  s.store->RefreshTable(s.lock);
  EXPECT_EQ(Column(s.Grid(), DeviceGrid::kIndexColumn), Strings({"1", ""}));
}

// ---- updating the row of one record

struct RowCase {
  const char* name;
  std::vector<uint16_t> inUse;  // in a table of 8, before the grid is filled
  bool sortedByIndexDescending;
  uint16_t index;
  enum { Change, Register, Free } what;  // done to the record before the update
  Strings expectedIndexes;
  bool expectMessage;
};

class RowUpdate : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowUpdate, RowOfTheRecordOrAFill) {
  const RowCase& c = GetParam();
  Store s(8, c.inUse);
  s.store->RefreshTable(s.lock);
  if (c.sortedByIndexDescending) s.Grid().Sort(DeviceGrid::kIndexColumn, false);
  if (c.index < 8) {
    if (c.what == RowCase::Register) s.Use(c.index, {1, 0, uint8_t(c.index)});
    if (c.what == RowCase::Free) s.Rec(c.index).inUse = 0;
    devlink::PutU16(s.Rec(c.index).peerPort, 6000);
  }
  s.store->RefreshRow(s.lock, c.index, s.m.sink);

  const Strings indexes = Column(s.Grid(), DeviceGrid::kIndexColumn);
  EXPECT_EQ(indexes, Indexes(c.expectedIndexes, 8));
  EXPECT_EQ(s.Grid().RowCount(), 9u);
  const auto shown = std::count(indexes.begin(), indexes.end(), std::to_string(c.index));
  EXPECT_EQ(shown, c.index < 8 && s.Rec(c.index).inUse ? 1 : 0);
  for (size_t row = 1; row < s.Grid().RowCount(); ++row)
    if (s.Grid().Cell(row, DeviceGrid::kIndexColumn) == std::to_string(c.index)) {
      EXPECT_EQ(s.Grid().Cell(row, DeviceGrid::kPortColumn), "6000");
    }
  EXPECT_EQ(s.m.Take(), c.expectMessage ? Strings{DeviceGrid::kWriteError} : Strings{});
}

const RowCase kRowCases[] = {
    {"NewRegistrationTakesItsEmptyRow", {0, 1, 2}, false, 3, RowCase::Register,
     {"0", "1", "2", "3"}, false},
    {"ChangeWrittenIntoItsOwnRow", {0, 1, 2}, false, 1, RowCase::Change, {"0", "1", "2"}, false},
    {"SortedGridIsSearchedForTheIndex", {0, 1, 2}, true, 0, RowCase::Change, {"2", "1", "0"},
     false},
    {"RegistrationInAFreedCellRefillsTheGrid", {0, 2, 3}, false, 1, RowCase::Register,
     {"0", "1", "2", "3"}, false},
    {"RecordShownAboveItsOwnRowIsNotDuplicated", {1, 2}, false, 2, RowCase::Change, {"1", "2"},
     false},
    {"FreedRecordLeavesTheGrid", {0, 1, 2}, false, 1, RowCase::Free, {"0", "2"}, false},
    {"IndexBeyondTheTableIsReportedAndChangesNothing", {0, 1, 2}, false, 8, RowCase::Change,
     {"0", "1", "2"}, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, RowUpdate, ::testing::ValuesIn(kRowCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Registrations of a full table one by one, the grid sorted half way: every
// device ends up in exactly one row, without a refill of the grid per device.
TEST(RowUpdateBurst, EveryRegistrationOfAFullTableShownOnce) {
  constexpr size_t n = ClientTable::kMaxRecords;
  Store s(n);
  s.store->RefreshTable(s.lock);
  for (size_t i = 0; i < n; ++i) {
    s.Use(uint16_t(i), {uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)});
    s.store->RefreshRow(s.lock, uint16_t(i), s.m.sink);
    if (i == n / 2) s.Grid().Sort(DeviceGrid::kIndexColumn, false);
  }
  ASSERT_EQ(s.Grid().RowCount(), n + 1);
  std::vector<int> seen(n, 0);
  for (size_t row = 1; row <= n; ++row) {
    const int index = console::ToIntDef(s.Grid().Cell(row, DeviceGrid::kIndexColumn), -1);
    ASSERT_GE(index, 0) << row;
    ++seen[size_t(index)];
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), ptrdiff_t(n));
  EXPECT_EQ(s.Grid().Cell(1, DeviceGrid::kIndexColumn), std::to_string(n / 2));
  EXPECT_EQ(s.Grid().Cell(n, DeviceGrid::kIndexColumn), std::to_string(n - 1));
  EXPECT_TRUE(s.m.Take().empty());
}

// ---- sorting

struct SortCase {
  int column;
  bool ascending;
  Strings expected;  // the sorted column
};

TEST(DeviceGridSort, NumbersPartByPartIndexesAsNumbersEmptyRowsLast) {
  const SortCase cases[] = {
      {DeviceGrid::kNumberColumn, true,
       {"0/0/0", "1/0/9", "1/0/10", "2/0/1", "255/255/255", "", ""}},
      {DeviceGrid::kNumberColumn, false,
       {"255/255/255", "2/0/1", "1/0/10", "1/0/9", "0/0/0", "", ""}},
      {DeviceGrid::kIndexColumn, true, {"0", "1", "3", "10", "11", "", ""}},
      {DeviceGrid::kIndexColumn, false, {"11", "10", "3", "1", "0", "", ""}},
  };
  for (const SortCase& c : cases) {
    // Records 2, 4..9 and 12 free: the grid has 13 rows, 5 of them devices.
    Store s(13);
    s.Use(0, {1, 0, 10});
    s.Use(1, {1, 0, 9});
    s.Use(3, {2, 0, 1});
    s.Use(10, {0, 0, 0});
    s.Use(11, {255, 255, 255});
    s.store->RefreshTable(s.lock);
    ASSERT_TRUE(s.Grid().Sort(c.column, c.ascending));
    Strings col = Column(s.Grid(), c.column);
    col.resize(7);
    EXPECT_EQ(col, c.expected) << c.column << (c.ascending ? " ascending" : " descending");
    // Whole rows move: every row still pairs its index with its own number and port.
    for (size_t row = 1; row < s.Grid().RowCount(); ++row) {
      const std::string& index = s.Grid().Cell(row, DeviceGrid::kIndexColumn);
      if (index.empty()) {
        EXPECT_EQ(s.Grid().RowAt(row), DeviceGrid::Row{}) << row;
        continue;
      }
      const ClientRecord& r = s.Rec(std::stoul(index));
      EXPECT_EQ(s.Grid().Cell(row, DeviceGrid::kNumberColumn),
                std::to_string(r.n1) + "/" + std::to_string(r.n2) + "/" + std::to_string(r.n3));
      EXPECT_EQ(s.Grid().Cell(row, DeviceGrid::kPortColumn),
                std::to_string(devlink::PeerPort(r)));
    }
  }
}

TEST(DeviceGridSort, RememberedStateAndOtherColumnsRefused) {
  Store s(6, {0, 3, 5});
  s.store->RefreshTable(s.lock);
  EXPECT_EQ(s.Grid().SortColumn(), DeviceGrid::kNumberColumn);
  EXPECT_TRUE(s.Grid().SortAscending());

  ASSERT_TRUE(s.Grid().Sort(DeviceGrid::kIndexColumn, false));
  for (int column : {DeviceGrid::kIpColumn, DeviceGrid::kPortColumn, DeviceGrid::kOffColumn}) {
    EXPECT_FALSE(s.Grid().Sort(column, true));
  }
  EXPECT_EQ(s.Grid().SortColumn(), DeviceGrid::kIndexColumn);
  EXPECT_FALSE(s.Grid().SortAscending());

  s.store->RefreshTable(s.lock);
  s.Grid().Resort();
  EXPECT_EQ(Column(s.Grid(), DeviceGrid::kIndexColumn), Strings({"5", "3", "0", "", "", ""}));
  s.Grid().SortDefault();
  EXPECT_EQ(Column(s.Grid(), DeviceGrid::kNumberColumn),
            Strings({"1/0/0", "1/0/3", "1/0/5", "", "", ""}));
  EXPECT_EQ(s.Grid().SortColumn(), DeviceGrid::kNumberColumn);
  EXPECT_TRUE(s.Grid().SortAscending());
}

TEST(DeviceGridSort, TextToNumberLikeTheConsole) {
  struct Case { const char* text; int value; };
  const Case cases[] = {{"0", 0},   {"65533", 65533}, {"-1", -1}, {"+7", 7},
                        {"", 5},    {"1a", 5},        {"-", 5},   {"2147483647", 2147483647},
                        {"2147483648", 5}, {"-2147483648", -2147483648LL}};
  for (const Case& c : cases) EXPECT_EQ(console::ToIntDef(c.text, 5), c.value) << c.text;
}

// ---- trimming and freeing

TEST(ClearUnused, ThreeSpareRecordsBehindTheLastInUse) {
  struct Case { size_t size; std::vector<uint16_t> inUse; size_t expected; };
  const Case cases[] = {
      {20, {0, 7}, 11}, {20, {}, 4}, {20, {19}, 23}, {3, {}, 4}, {65534, {9, 65533}, 65534}};
  for (const Case& c : cases) {
    Store s(c.size, c.inUse);
    s.store->ClearUnused(s.lock);
    EXPECT_EQ(s.store->Table().Size(), c.expected) << c.size;
    EXPECT_EQ(s.Grid().RowCount(), c.expected + 1) << c.size;
    for (uint16_t i : c.inUse) EXPECT_EQ(s.Rec(i).n3, uint8_t(i)) << i;
    // Records grown back are zero, not the ones trimmed away.
    if (c.expected > c.size) {
      EXPECT_EQ(s.Rec(c.expected - 1).inUse, 0);
    }
  }
}

// The bytes a freed record loses: the update mark, the in-use and switched-off
// flags, and what a device reusing the record must not inherit.
struct Range { size_t offset, size; };
const Range kFreed[] = {{0, 1},    {1, 1},    {2106, 1}, {2099, 3}, {3134, 8}, {3142, 8},
                        {3150, 1}, {3165, 1}, {2107, 1}, {3151, 1}, {2109, 1},
                        {2102, 1}, {2105, 1}};  // last heartbeat and event sequences

ClientRecord Filled(uint8_t v) {
  ClientRecord r;
  std::memset(&r, v, kRec);
  return r;
}

void ExpectFreed(const ClientRecord& r, uint8_t v, const char* what) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  std::vector<bool> freed(kRec, false);
  for (const Range& f : kFreed)
    for (size_t k = 0; k < f.size; ++k) freed[f.offset + k] = true;
  for (size_t k = 0; k < kRec; ++k) ASSERT_EQ(p[k], freed[k] ? 0 : v) << what << " offset " << k;
}

TEST(FreeRegistration, DeleteOneClearsWhatAReuseWouldInherit) {
  Store s(8);
  s.Rec(3) = Filled(0xAB);
  s.Rec(5) = Filled(0xCD);
  s.Rec(6) = Filled(0x01);
  s.store->RefreshTable(s.lock);
  s.Grid().Sort(DeviceGrid::kIndexColumn, false);

  EXPECT_TRUE(s.store->DeleteRegistration(s.lock, 5));
  ExpectFreed(s.Rec(5), 0xCD, "deleted");
  const ClientRecord untouched = Filled(0xAB);
  EXPECT_EQ(0, std::memcmp(&s.Rec(3), &untouched, kRec));
  // Filled and sorted again with the remembered order.
  EXPECT_EQ(Column(s.Grid(), DeviceGrid::kIndexColumn), Indexes({"6", "3"}, 8));

  // The freed record is the one a registration gets, with empty queues.
  EXPECT_EQ(s.store->FindFreeCell(), 0);
  for (size_t i : {0, 1, 2, 4, 7}) s.Rec(i).inUse = 1;
  EXPECT_EQ(s.store->FindFreeCell(), 5);
  EXPECT_EQ(s.Rec(5).armWrite, s.Rec(5).armRead);
  EXPECT_EQ(s.Rec(5).armFull, 0);
  EXPECT_EQ(s.Rec(5).requestsPending, 0);

  const ClientRecord before = s.Rec(3);
  EXPECT_FALSE(s.store->DeleteRegistration(s.lock, 8));
  EXPECT_EQ(0, std::memcmp(&s.Rec(3), &before, kRec));
}

TEST(FreeRegistration, ClearAllFreesEveryRecord) {
  Store s(5);
  for (size_t i = 0; i < 5; ++i) s.Rec(i) = Filled(uint8_t(0x11 * (i + 1)));
  s.store->RefreshTable(s.lock);
  ASSERT_EQ(Column(s.Grid(), DeviceGrid::kIndexColumn)[4], "4");
  s.store->ClearAllRegistrations(s.lock);
  for (size_t i = 0; i < 5; ++i) ExpectFreed(s.Rec(i), uint8_t(0x11 * (i + 1)), "cleared");
  EXPECT_EQ(s.store->Table().Size(), 5u);
  EXPECT_EQ(Column(s.Grid(), DeviceGrid::kIndexColumn), Strings(5));
}

// ---- files

class RegistryFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = fs::temp_directory_path() / ("regtest_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "relay-server.ndx").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f) return {};
    std::string bytes(size_t(f.tellg()), '\0');
    f.seekg(0).read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }

  fs::path dir_;
  std::string path_;
};

// While it lives, no file of this process grows past `bytes`: a write beyond
// fails with EFBIG, as on a full disk, whoever runs the test.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : signal_(::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    rlimit small = before_;
    small.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    ::signal(SIGXFSZ, signal_);
  }

 private:
  rlimit before_{};
  sighandler_t signal_;
};

// Every byte of every record random, record 7 a device in link failure.
void RandomTable(ClientTable& t, size_t n, uint32_t seed) {
  t.Resize(n);
  std::mt19937 rng(seed);
  auto* p = reinterpret_cast<uint8_t*>(t.Data());
  for (size_t k = 0; k < n * kRec; ++k) p[k] = uint8_t(rng());
  for (size_t i = 0; i < n; ++i) t[i].inUse = i % 3 == 0;
  t[7].inUse = 1;
  t[7].linkState = 1;
}

TEST_F(RegistryFiles, SaveWritesEveryByteAndLoadRestoresAllButInterfaceStatistics) {
  Store a;
  RandomTable(a.store->Table(), 50, 7);
  ASSERT_TRUE(registry::SaveNdx(*a.store, a.lock, path_, a.m.sink));
  const std::string file = Read(path_);
  ASSERT_EQ(file.size(), 50 * kRec);
  EXPECT_EQ(0, std::memcmp(file.data(), a.store->Table().Data(), file.size()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "no temporary file left";

  Store b(20, {1});
  b.Grid().Sort(DeviceGrid::kIndexColumn, false);
  ASSERT_TRUE(registry::LoadNdx(*b.store, b.lock, path_, b.m.sink));
  ASSERT_EQ(b.store->Table().Size(), 50u);
  for (size_t i = 0; i < 50; ++i) {
    const auto* got = reinterpret_cast<const uint8_t*>(&b.Rec(i));
    const auto* saved = reinterpret_cast<const uint8_t*>(file.data() + i * kRec);
    // Queues, pending requests, chaining values, link states: all as saved.
    ASSERT_EQ(0, std::memcmp(got, saved, 3153)) << i;
    for (size_t k = 3153; k < 3165; ++k) ASSERT_EQ(got[k], 0) << i << ":" << k;
    ASSERT_EQ(got[3165], saved[3165]) << i;
  }
  EXPECT_EQ(b.Rec(7).linkState, 1);
  // The grid is filled and sorted with its remembered order.
  const Strings indexes = Column(b.Grid(), DeviceGrid::kIndexColumn);
  ASSERT_EQ(indexes.size(), 50u);
  EXPECT_EQ(indexes[0], "48");
  EXPECT_EQ(indexes[1], "45");
  EXPECT_TRUE(std::find(indexes.begin(), indexes.end(), "7") != indexes.end());
  EXPECT_TRUE(a.m.Take().empty());
  EXPECT_TRUE(b.m.Take().empty());
}

// A large registry becomes the table as read; the table can still grow to
// its largest size without moving a record a worker may be looking at.
TEST_F(RegistryFiles, LargeRegistryLoadsWholeAndItsRecordsNeverMove) {
  Store a;
  RandomTable(a.store->Table(), 2000, 11);
  ASSERT_TRUE(registry::SaveNdx(*a.store, a.lock, path_, a.m.sink));
  const std::string file = Read(path_);
  Store b;
  ASSERT_TRUE(registry::LoadNdx(*b.store, b.lock, path_, b.m.sink));
  ClientTable& t = b.store->Table();
  ASSERT_EQ(t.Size(), 2000u);
  const ClientRecord* first = &t[0];
  t.Resize(ClientTable::kMaxRecords);
  EXPECT_EQ(&t[0], first);
  for (size_t i = 0; i < 2000; ++i)
    ASSERT_EQ(0, std::memcmp(&t[i], file.data() + i * kRec, 3153)) << i;
  EXPECT_EQ(t[ClientTable::kMaxRecords - 1].inUse, 0);
}

TEST_F(RegistryFiles, LoadOfThreeRecordsFillsTheGrid) {
  Store a(3, {0, 2});
  ASSERT_TRUE(registry::SaveNdx(*a.store, a.lock, path_, a.m.sink));
  EXPECT_EQ(fs::file_size(path_), 3 * kRec);
  Store b(20);
  ASSERT_TRUE(registry::LoadNdx(*b.store, b.lock, path_, b.m.sink));
  EXPECT_EQ(b.store->Table().Size(), 3u);
  EXPECT_EQ(Column(b.Grid(), DeviceGrid::kNumberColumn), Strings({"1/0/0", "1/0/2", ""}));
}

TEST_F(RegistryFiles, FailedSaveReportsAndKeepsTheOldFile) {
  Store a(4, {1});
  ASSERT_TRUE(registry::SaveNdx(*a.store, a.lock, path_, a.m.sink));
  const std::string old = Read(path_);
  a.Use(3, {2, 0, 3});

  // The new file cannot be written whole: files may not grow past 1000 bytes.
  bool saved;
  {
    FileSizeLimit limit(1000);
    saved = registry::SaveNdx(*a.store, a.lock, path_, a.m.sink);
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(Read(path_), old);
  Strings msgs = a.m.Take();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_NE(msgs[0].find(path_), std::string::npos) << msgs[0];
  EXPECT_NE(msgs[0].find(std::strerror(EFBIG)), std::string::npos) << msgs[0];
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "no temporary file left";

  // A directory the program may not write into (not for root, who may).
  if (::geteuid() != 0) {
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(registry::SaveNdx(*a.store, a.lock, path_, a.m.sink));
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(Read(path_), old);
    msgs = a.m.Take();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_NE(msgs[0].find(std::strerror(EACCES)), std::string::npos) << msgs[0];
  }

  EXPECT_TRUE(registry::SaveNdx(*a.store, a.lock, path_, a.m.sink));
  EXPECT_EQ(0, std::memcmp(Read(path_).data(), a.store->Table().Data(), 4 * kRec));
}

// A registry left by another user (here root) for a server that runs as an
// unprivileged user. The kernel refuses the second name by hard link for a
// file that user can neither read nor write (fs.protected_hardlinks): a
// readable file is then copied, and one that cannot be copied either is never
// written over in that run, whatever table the server holds.
struct ForeignCase {
  const char* name;
  mode_t mode;
  size_t bytes;
  bool kept;  // kept under a second name, and the file written as usual
};

void PrintTo(const ForeignCase& c, std::ostream* os) { *os << c.name; }

class ForeignRegistry : public RegistryFiles, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignRegistry, IsKeptUnderASecondNameOrNeverWrittenOver) {
  if (::geteuid() != 0) GTEST_SKIP() << "leaving a registry of another user needs root";
  std::ifstream protect("/proc/sys/fs/protected_hardlinks");
  int protectedLinks = 0;
  if (!(protect >> protectedLinks) || protectedLinks != 1)
    GTEST_SKIP() << "hard links to files of other users are not refused here";
  const ForeignCase& c = GetParam();
  std::string bytes(c.bytes, '\0');
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = char(k * 13 + k / kRec);
  Write(path_, bytes);
  ASSERT_EQ(::chmod(path_.c_str(), c.mode), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);

  // The server's part runs as the user nobody and reports through a pipe.
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(out[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(90);
    Store s(4, {1});
    registry::LoadNdx(*s.store, s.lock, path_, s.m.sink);
    const bool saved = registry::SaveNdx(*s.store, s.lock, path_, s.m.sink);
    std::string report = saved ? "saved\n" : "refused\n";
    for (const std::string& line : s.m.Take()) report += line + "\n";
    ::_exit(::write(out[1], report.data(), report.size()) == ssize_t(report.size()) ? 0 : 91);
  }
  ::close(out[1]);
  std::string report;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) report.append(buf, size_t(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  std::vector<fs::path> copies;
  for (const auto& e : fs::directory_iterator(dir_))
    if (e.path().filename().string().find(".bad-") != std::string::npos) copies.push_back(e.path());
  if (c.kept) {
    EXPECT_EQ(report.rfind("saved\n", 0), 0u) << report;
    ASSERT_EQ(copies.size(), 1u) << report;
    EXPECT_EQ(Read(copies[0].string()), bytes);
    EXPECT_EQ(fs::file_size(path_), c.bytes / kRec * kRec);
  } else {
    EXPECT_EQ(report.rfind("refused\n", 0), 0u) << report;
    EXPECT_TRUE(copies.empty());
    EXPECT_EQ(Read(path_), bytes) << "the registry must not be written over";
    // The refusal names the file and the reason, at the load and again at the save.
    const std::string refusal = "Файл реестра \"" + path_ + "\" не загружен целиком";
    size_t count = 0;
    for (size_t at = report.find(refusal); at != std::string::npos;
         at = report.find(refusal, at + 1))
      ++count;
    EXPECT_EQ(count, 2u) << report;
    EXPECT_NE(report.find(std::strerror(EACCES)), std::string::npos) << report;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForeignRegistry,
    ::testing::Values(ForeignCase{"UnreadableWhole", 0600, 2 * kRec, false},
                      ForeignCase{"UnreadableTruncated", 0600, 2 * kRec + 100, false},
                      ForeignCase{"ReadableTruncated", 0644, 2 * kRec + 100, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The Lock is held for the copy of the table only: another thread keeps taking
// it while the file of the largest table is written.
TEST_F(RegistryFiles, SaveHoldsLockOnlyWhileCopying) {
  Store s(ClientTable::kMaxRecords, {0, 65533});
  using Clock = std::chrono::steady_clock;
  std::atomic<bool> stop{false};
  std::vector<Clock::time_point> taken;
  taken.reserve(1 << 20);
  std::thread other([&] {
    while (!stop) {
      { std::lock_guard<std::mutex> hold(s.lock); }
      if (taken.size() < taken.capacity()) taken.push_back(Clock::now());
      std::this_thread::yield();
    }
  });
  registry::SaveTimings timings;
  const auto start = Clock::now();
  const bool ok = registry::SaveNdx(*s.store, s.lock, path_, s.m.sink, &timings);
  const auto end = Clock::now();
  stop = true;
  other.join();
  ASSERT_TRUE(ok);
  ASSERT_EQ(fs::file_size(path_), ClientTable::kMaxRecords * kRec);

  EXPECT_GT(timings.lockHeld.count(), 0);
  EXPECT_LT(timings.lockHeld * 3, timings.total)
      << "held " << timings.lockHeld.count() << " ns of " << timings.total.count();
  // The longest time the other thread went without the lock during the save.
  Clock::time_point last = start;
  Clock::duration longest{0};
  for (const auto& t : taken) {
    if (t < start || t > end) continue;
    longest = std::max(longest, t - last);
    last = t;
  }
  longest = std::max(longest, end - last);
  EXPECT_LT(longest * 2, end - start)
      << "longest wait " << longest.count() << " ns of " << (end - start).count();
}

// A save killed at any moment leaves one of the two complete files.
TEST_F(RegistryFiles, KilledSaveLeavesAWholeFile) {
  // Memory-backed when possible: the files are large and written many times.
  const fs::path shm = "/dev/shm";
  const fs::path dir =
      fs::is_directory(shm) ? shm / ("regtest_kill_" + std::to_string(::getpid())) : dir_;
  fs::create_directories(dir);
  struct RemoveDir {
    fs::path dir;
    ~RemoveDir() { fs::remove_all(dir); }
  } removeDir{dir};
  const std::string path = (dir / "relay-server.ndx").string();
  constexpr size_t n = ClientTable::kMaxRecords;

  // Content A, and B with every byte inverted; interface bytes kept zero so a
  // loaded table is byte-equal to its file.
  const auto fillA = [](uint8_t* rec, size_t i) {
    for (size_t off = 0; off < kRec; ++off) rec[off] = uint8_t(off * 131 + i * 7 + (i >> 8));
    std::memset(rec + 3153, 0, 12);
  };
  const auto invert = [](uint8_t* rec) {
    for (size_t off = 0; off < kRec; ++off) rec[off] = uint8_t(~rec[off]);
    std::memset(rec + 3153, 0, 12);
  };
  {
    std::string a(n * kRec, '\0');
    for (size_t i = 0; i < n; ++i) fillA(reinterpret_cast<uint8_t*>(a.data()) + i * kRec, i);
    Write(path, a);
  }

  std::random_device rd;
  const uint32_t seed = rd();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  auto loaded = std::make_unique<TBuffClient>();
  std::mutex loadLock;
  Messages m;
  int sawA = 0, sawB = 0;
  for (int round = 0; round < 6; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      Store s(n);
      auto* p = reinterpret_cast<uint8_t*>(s.store->Table().Data());
      for (size_t i = 0; i < n; ++i) fillA(p + i * kRec, i);
      for (int i = 0; i < 1000; ++i) {
        for (size_t r = 0; r < n; ++r) invert(p + r * kRec);
        if (!registry::SaveNdx(*s.store, s.lock, path, s.m.sink)) ::_exit(2);
        const char done = 1;
        if (::write(ready[1], &done, 1) != 1) ::_exit(3);
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    // Reaps the child and closes the pipe on every way out of the round.
    struct Reap {
      pid_t pid;
      int fd;
      int status = 0;
      void Now() {
        if (pid > 0) {
          ::kill(pid, SIGKILL);
          ::waitpid(pid, &status, 0);
          ::close(fd);
        }
        pid = 0;
      }
      ~Reap() { Now(); }
    } reap{child, ready[0]};
    // Kills before the first save ends or after one or two, some at a random
    // moment, some in the middle of writing a file.
    const int saves = int(rng() % 3);
    for (int k = 0; k < saves; ++k) {
      char done;
      ASSERT_EQ(::read(ready[0], &done, 1), 1);
    }
    if (round % 2 == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 250));
    } else {
      // In the middle of a write: as soon as a file of the directory has grown
      // past a random part of the full size without reaching it.
      const uintmax_t part = n * kRec / 100 * (5 + rng() % 90);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      bool midWrite = false;
      while (!midWrite && std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec)) {
          const uintmax_t size = e.file_size(ec);
          midWrite = midWrite || (!ec && size >= part && size < n * kRec);
        }
      }
      EXPECT_TRUE(midWrite) << "round " << round;
    }
    reap.Now();
    ASSERT_TRUE(WIFSIGNALED(reap.status)) << "round " << round << " status " << reap.status;

    // Byte for byte one of the two contents.
    const std::string file = Read(path);
    ASSERT_EQ(file.size(), n * kRec) << "round " << round;
    bool isA = true, isB = true;
    uint8_t a[kRec], b[kRec];
    for (size_t i = 0; i < n && (isA || isB); ++i) {
      fillA(a, i);
      std::memcpy(b, a, kRec);
      invert(b);
      isA = isA && std::memcmp(file.data() + i * kRec, a, kRec) == 0;
      isB = isB && std::memcmp(file.data() + i * kRec, b, kRec) == 0;
    }
    ASSERT_TRUE(isA || isB) << "round " << round << ": a torn file";
    sawA += isA;
    sawB += isB;

    ASSERT_TRUE(registry::LoadNdx(*loaded, loadLock, path, m.sink));
    ASSERT_EQ(loaded->Table().Size(), n);
    EXPECT_EQ(0, std::memcmp(loaded->Table().Data(), file.data(), file.size()));
  }
  EXPECT_TRUE(m.Take().empty());
  RecordProperty("files A/B", std::to_string(sawA) + "/" + std::to_string(sawB));
}

// The saving thread: a request made while a save runs is served by a save
// after it, so the file ends with the table as it was at the last request.
TEST_F(RegistryFiles, SaverEndsWithTheTableOfTheLastRequest) {
  Store s(ClientTable::kMaxRecords / 4, {1});
  registry::RegistrySaver saver(*s.store, s.lock, path_, s.m.sink);
  for (uint8_t k = 2; k < 12; ++k) {
    saver.Request();
    std::lock_guard<std::mutex> hold(s.lock);
    s.Rec(k).inUse = 1;
  }
  saver.Request();
  saver.Wait();
  const std::string file = Read(path_);
  ASSERT_EQ(file.size(), s.store->Table().Size() * kRec);
  EXPECT_EQ(0, std::memcmp(file.data(), s.store->Table().Data(), file.size()));
  EXPECT_GE(saver.Saves(), 1u);
  EXPECT_EQ(saver.Failures(), 0u);
  saver.Finish();
  const uint64_t saves = saver.Saves();
  saver.Request();  // after the end: the caller writes the registry itself
  EXPECT_EQ(saver.Saves(), saves);
}

// ---- comparing file and table

TEST_F(RegistryFiles, CompareReportsDifferencesOfInUseFlags) {
  struct Case {
    const char* name;
    void (*change)(Store&);
    registry::NdxCompare expected;
    bool countLine;
  };
  const Case cases[] = {
      {"same", [](Store&) {}, registry::NdxCompare::Equal, false},
      {"record freed", [](Store& s) { s.Rec(3).inUse = 0; }, registry::NdxCompare::Different,
       false},
      {"other bytes changed", [](Store& s) { s.Rec(3).n1 = 9; }, registry::NdxCompare::Equal,
       false},
      {"grown, free", [](Store& s) { s.store->Table().Resize(40); }, registry::NdxCompare::Equal,
       true},
      {"grown, registered",
       [](Store& s) {
         s.store->Table().Resize(40);
         s.Rec(25).inUse = 1;
       },
       registry::NdxCompare::Different, true},
      {"trimmed", [](Store& s) { s.store->Table().Resize(4); }, registry::NdxCompare::Equal,
       true},
      {"trimmed past a registered record", [](Store& s) { s.store->Table().Resize(2); },
       registry::NdxCompare::Different, true},
  };
  for (const Case& c : cases) {
    Store s(20, {0, 3});
    ASSERT_TRUE(registry::SaveNdx(*s.store, s.lock, path_, s.m.sink));
    c.change(s);
    EXPECT_EQ(registry::CompareNdx(*s.store, s.lock, path_, s.m.sink), c.expected) << c.name;
    Strings expected = c.expected == registry::NdxCompare::Equal
                           ? Strings{registry::kCompareEqual}
                           : Strings{registry::kCompareDiffer, registry::kCompareAdvice};
    if (c.countLine)
      expected.push_back("Записей в файле: 20, в памяти: " +
                         std::to_string(s.store->Table().Size()) + ".");
    EXPECT_EQ(s.m.Take(), expected) << c.name;
  }

  Store s;
  fs::remove(path_);
  EXPECT_EQ(registry::CompareNdx(*s.store, s.lock, path_, s.m.sink), registry::NdxCompare::Failed);
  const Strings msgs = s.m.Take();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_NE(msgs[0].find(path_), std::string::npos);
}

// ---- export

struct ExportCase {
  const char* name;
  std::vector<devlink::ConsoleNumber> numbers;  // records 0.. in use
  size_t tableSize;
  bool descending;
  size_t tableLength;  // given to the export
  std::string expected;
};

const ExportCase kExportCases[] = {
    {"GapMarkedInDescendingOrder", {{1, 0, 5}, {1, 0, 9}, {1, 0, 8}}, 5, true, 5,
     "1   1/0/9\r\n2   1/0/8\r\n********--->>????????????\r\n3   1/0/5\r\n4   \r\n"},
    {"NoMarkerBeforeAZero", {{1, 0, 9}, {1, 0, 0}}, 3, true, 3,
     "1   1/0/9\r\n2   1/0/0\r\n3   \r\n"},
    {"NoMarkerInAscendingOrder", {{1, 0, 8}, {1, 0, 5}}, 3, false, 3,
     "1   1/0/5\r\n2   1/0/8\r\n3   \r\n"},
    {"ThreeDigitThirdParts", {{1, 0, 123}, {1, 0, 100}, {2, 0, 99}}, 3, true, 3,
     "1   2/0/99\r\n2   1/0/123\r\n********--->>????????????\r\n3   1/0/100\r\n"},
    {"FullTableHasNoEmptyLine", {{1, 0, 9}, {1, 0, 7}}, 2, true, 2,
     "1   1/0/9\r\n********--->>????????????\r\n2   1/0/7\r\n"},
    {"TableOneLongerThanTheDataRows", {{1, 0, 3}}, 1, true, 2, "1   1/0/3\r\n2   \r\n"},
    {"TableLongerThanTheGridGivesAnEmptyFile", {{1, 0, 3}}, 1, true, 3, ""},
};

class Export : public RegistryFiles, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(Export, LinesOfTheGridInItsOrder) {
  const ExportCase& c = GetParam();
  Store s(c.tableSize);
  for (size_t i = 0; i < c.numbers.size(); ++i) s.Use(uint16_t(i), c.numbers[i]);
  s.store->RefreshTable(s.lock);
  s.Grid().Sort(DeviceGrid::kNumberColumn, !c.descending);
  EXPECT_EQ(registry::RegistrationObjText(s.Grid(), c.tableLength), c.expected);

  const std::string path = (dir_ / "RegistrationObj.txt").string();
  Write(path, "old text");
  ASSERT_TRUE(registry::ExportRegistrationObj(s.Grid(), c.tableLength, path, s.m.sink));
  EXPECT_EQ(Read(path), c.expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1) << "no temporary file left";
  EXPECT_TRUE(s.m.Take().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, Export, ::testing::ValuesIn(kExportCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryFiles, FailedExportReportsAndKeepsTheOldFile) {
  Store s(2, {0});
  s.store->RefreshTable(s.lock);
  const std::string path = (dir_ / "RegistrationObj.txt").string();
  Write(path, "old text");
  bool exported;
  {
    FileSizeLimit limit(4);
    exported = registry::ExportRegistrationObj(s.Grid(), 2, path, s.m.sink);
  }
  EXPECT_FALSE(exported);
  EXPECT_EQ(Read(path), "old text");
  const Strings msgs = s.m.Take();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_NE(msgs[0].find(path), std::string::npos);
}

}  // namespace
