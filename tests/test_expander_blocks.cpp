// The radio expanders' blocks, requests, answer checks, detector tables and
// their editing rules, for both the Rielta and the Astra-RR expander.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "configurator/expander_blocks.h"
#include "devlink/crc8.h"

namespace {

using namespace configurator;
using Bytes = std::vector<uint8_t>;
using Answer = std::array<uint8_t, 128>;

constexpr Expander kRielta = Expander::kRielta;
constexpr Expander kAstra = Expander::kAstra;

// An answer as the device sends it, in the 128-byte answer buffer.
Answer MakeAnswer(uint8_t command, const Bytes& data) {
  Answer a{};
  a[0] = 0xEF;
  a[1] = uint8_t(data.size() + 3);
  a[2] = 0x55;
  a[3] = command;
  for (size_t i = 0; i < data.size() && 4 + i < a.size(); ++i) a[4 + i] = data[i];
  devlink::SetCheckByte(a.data());
  return a;
}

Bytes Filled(size_t n, uint8_t from) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(from + i);
  return b;
}

TEST(ExpanderRequests, BytesAsTheDeviceReadsThem) {
  ExpanderBlocks blocks;
  for (size_t i = 0; i < blocks.settings.size(); ++i) blocks.settings[i] = uint8_t(i * 3);
  for (size_t i = 0; i < blocks.owners.size(); ++i) blocks.owners[i] = uint8_t(200 + i);
  Bytes settingsHead = {0xFE, 100, 0x55, 0xF6};
  settingsHead.insert(settingsHead.end(), blocks.settings.begin(), blocks.settings.end());
  Bytes ownersHead = {0xFE, 36, 0x55, 0xF2};
  ownersHead.insert(ownersHead.end(), blocks.owners.begin(), blocks.owners.end());

  const struct {
    const char* name;
    Bytes request;
    Bytes head;  // everything before the check byte
  } cases[] = {
      {"Version", VersionRequest(), {0xFE, 0x03, 0x55, 0x15}},
      {"ReadTable", ReadRequest(Block::kTable), {0xFE, 0x03, 0x55, 0xF1}},
      {"ReadSettings", ReadRequest(Block::kSettings), {0xFE, 0x03, 0x55, 0xF5}},
      {"ReadOwners", ReadRequest(Block::kOwners), {0xFE, 0x03, 0x55, 0xF9}},
      {"WriteSettings", WriteRequest(Block::kSettings, blocks), settingsHead},
      {"WriteOwners", WriteRequest(Block::kOwners, blocks), ownersHead},
      {"States", StatesRequest(), {0xFE, 0x04, 0x55, 0xF4, 0x00}},
      {"RegisterDetectors", StartRegistrationRequest(kDetectorsAndSensors),
       {0xFE, 0x05, 0x55, 0xF0, 0x00, 0x03}},
      {"RegisterInterfaces", StartRegistrationRequest(kInterfaceDevices),
       {0xFE, 0x05, 0x55, 0xF0, 0x00, 0x43}},
      {"EndRegistration", EndRegistrationRequest(), {0xFE, 0x05, 0x55, 0xF0, 0x00, 0x04}},
      {"DeleteOne", DeleteOneRequest(5), {0xFE, 0x04, 0x55, 0xF0, 0x05}},
      {"DeleteAll", DeleteAllRequest(), {0xFE, 0x05, 0x55, 0xF0, 0x9A, 0xFF}},
      {"RieltaNetwork", RieltaNetworkRequest(12, 2, 2, 3),
       {0xFE, 0x06, 0x55, 0xEE, 0x0C, 0x02, 0x32}},
      {"RieltaNetworkLimits", RieltaNetworkRequest(126, 4, 5, 15),
       {0xFE, 0x06, 0x55, 0xEE, 126, 4, 0xF5}},
      {"AstraNetwork", AstraNetworkRequest(3, 240), {0xFE, 0x06, 0x55, 0xEE, 3, 240, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.request.size(), c.head.size() + 1);
    EXPECT_EQ(Bytes(c.request.begin(), c.request.end() - 1), c.head);
    EXPECT_EQ(c.request[1], c.request.size() - 2) << "L counts the bytes after it";
    EXPECT_EQ(c.request.back(), devlink::Crc8Bytes(c.head.data(), c.head.size()));
  }
  EXPECT_TRUE(WriteRequest(Block::kTable, blocks).empty()) << "the table is never written";
}

TEST(ExpanderAnswers, BlockReadsAreCheckedWholeAndLengthChecked) {
  const Bytes table = Filled(100, 1);
  Answer badCrc = MakeAnswer(0xF1, table);
  badCrc[104] ^= 1;
  Answer badHeader = MakeAnswer(0xF1, table);
  badHeader[0] = 0xFE;
  devlink::SetCheckByte(badHeader.data());
  Answer badMarker = MakeAnswer(0xF1, table);
  badMarker[2] = 0x01;
  devlink::SetCheckByte(badMarker.data());
  Answer beyond = MakeAnswer(0xF1, table);
  beyond[1] = 127;  // its check byte would lie outside the buffer

  const struct {
    const char* name;
    Block block;
    Answer answer;
    bool valid;
  } cases[] = {
      {"Table", Block::kTable, MakeAnswer(0xF1, table), true},
      {"Settings", Block::kSettings, MakeAnswer(0xF5, Filled(97, 9)), true},
      {"Owners", Block::kOwners, MakeAnswer(0xF9, Filled(33, 9)), true},
      {"OtherBlocksCommand", Block::kSettings, MakeAnswer(0xF1, Filled(97, 9)), false},
      {"BadCheckByte", Block::kTable, badCrc, false},
      {"NotAnAnswer", Block::kTable, badHeader, false},
      {"BadMarker", Block::kTable, badMarker, false},
      {"ShortByOne", Block::kTable, MakeAnswer(0xF1, Filled(99, 1)), false},
      {"LongByOne", Block::kOwners, MakeAnswer(0xF9, Filled(34, 1)), false},
      {"LengthBeyondBuffer", Block::kTable, beyond, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BlockAnswerValid(c.block, c.answer), c.valid);

    ExpanderBlocks blocks;
    blocks.settings.fill(0xAA);
    blocks.table.fill(0xAA);
    blocks.owners.fill(0xAA);
    const ExpanderBlocks before = blocks;
    EXPECT_EQ(CopyBlockAnswer(c.block, c.answer, blocks), c.valid);
    const auto got = BlockBytes(c.block, blocks);
    if (c.valid) {
      EXPECT_TRUE(std::equal(got.begin(), got.end(), c.answer.begin() + 4));
    } else {
      const auto old = BlockBytes(c.block, before);
      EXPECT_TRUE(std::equal(got.begin(), got.end(), old.begin())) << "nothing stale taken";
    }
  }
}

TEST(ExpanderAnswers, StatesNeedAllRecordsAndWritesOnlyTheirCode) {
  const struct {
    const char* name;
    Answer answer;
    bool valid;
  } states[] = {
      {"AllRecords", MakeAnswer(0xF4, Filled(96, 1)), true},
      {"MoreSlotsThanShown", MakeAnswer(0xF4, Filled(99, 1)), true},
      {"LastRecordMissing", MakeAnswer(0xF4, Filled(95, 1)), false},
      {"OtherCode", MakeAnswer(0xF5, Filled(96, 1)), false},
  };
  for (const auto& c : states) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StatesAnswerValid(c.answer), c.valid);
    const auto data = StatesData(c.answer);
    EXPECT_EQ(data.size(), c.valid ? 96u : 0u);
    if (c.valid) {
      EXPECT_EQ(data[0], 1);
    }
  }

  EXPECT_TRUE(WriteAnswerValid(Block::kSettings, MakeAnswer(0xF6, {})));
  EXPECT_TRUE(WriteAnswerValid(Block::kOwners, MakeAnswer(0xF2, {0x01})));
  EXPECT_FALSE(WriteAnswerValid(Block::kOwners, MakeAnswer(0xF6, {})));
  Answer bad = MakeAnswer(0xF6, {});
  bad[4] ^= 1;
  EXPECT_FALSE(WriteAnswerValid(Block::kSettings, bad));
}

TEST(ExpanderAnswers, VersionGatePerExpander) {
  const struct {
    Expander e;
    uint8_t major, minor;
    bool accepted;
  } cases[] = {
      {kRielta, 77, 48, true},  {kRielta, 76, 99, false}, {kRielta, 77, 47, false},
      {kRielta, 77, 50, true},  {kAstra, 77, 50, false},  {kAstra, 77, 51, true},
      {kAstra, 76, 60, false},  {kAstra, 200, 200, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.e == kRielta ? "Rielta " : "Astra ") << int(c.major)
                                    << "." << int(c.minor));
    EXPECT_EQ(VersionAccepted(c.e, MakeAnswer(21, {c.major, c.minor, 0, 0, 0, 0})), c.accepted);
  }
}

TEST(ExpanderProfile, TextsTheProceduresShow) {
  const ExpanderProfile& r = Profile(kRielta);
  const ExpanderProfile& a = Profile(kAstra);
  EXPECT_EQ(WithTry(r.readNoAnswer, 2), "На запрос настроек БРШС \"Риелта\" нет ответа N-2");
  EXPECT_EQ(WithTry(a.writeNoAnswer, 3), "На запись настроек \"Астра-РР\" нет ответа N-3");
  EXPECT_EQ(r.readTriesErrorLabel, r.errorLabel);
  EXPECT_EQ(a.readTriesErrorLabel, "\"" + std::string(a.errorLabel));
  EXPECT_EQ(r.errorLabel, "Ошибка! См.\"Удаленное обслуживание\".");
  EXPECT_EQ(r.waitMs, 8000);
  EXPECT_EQ(a.waitMs, 6000);
}

TEST(ExpanderProfile, SettlingDisplayTakesEightTicksAtMaximum256) {
  int counter = 0, ticks = 1;
  while (ticks < 20 && !SettlingTick(counter, 256)) ++ticks;
  EXPECT_EQ(ticks, 8);
}

TEST(ExpanderNames, ByKeyAndByType) {
  const struct {
    uint16_t key;
    const char* name;
  } rielta[] = {{0x3130, "КТС-РК"},      {0x1411, "Фотон-12-РК"}, {0x4115, "Цельсий-РК"},
                {0xFFFF, "Закончить"},   {0x0000, ""},            {0x1130, ""}};
  for (const auto& c : rielta) EXPECT_EQ(RieltaModelName(c.key), c.name) << c.key;

  const struct {
    uint8_t type;
    const char* name;
  } astra[] = {{21, "КТС(Браслет Астра-3145)"}, {1, "СМК"}, {235, "РИМ РТР"}, {0, ""}, {6, ""}};
  for (const auto& c : astra) EXPECT_EQ(AstraModelName(c.type), c.name) << int(c.type);
}

// Blocks with a few slots set, the rest empty.
class DetectorTable : public testing::Test {
 protected:
  void Slot(int i, uint8_t type, uint8_t klass, uint8_t channel, uint8_t partition, uint8_t zone,
            uint8_t flags, uint8_t owner = 0) {
    b.table[1 + 3 * i] = type;
    b.table[2 + 3 * i] = klass;
    b.table[3 + 3 * i] = channel;
    b.settings[1 + 3 * i] = partition;
    b.settings[2 + 3 * i] = zone;
    b.settings[3 + 3 * i] = flags;
    b.owners[1 + i] = owner;
  }
  ExpanderBlocks b;
};

TEST_F(DetectorTable, RieltaRowsFromBlocks) {
  Slot(0, 0x11, 0x14, 5, 2, 17, 0xC0);     // Фотон-12-РК, ВскрСр on, "Вскр." set
  Slot(1, 0x30, 0x31, 9, 0, 0, 0x38, 7);   // key fob with owner 7
  Slot(2, 0x00, 0x00, 4, 3, 3, 0xFF);      // empty: settings not shown
  const DetectorRows rows = RowsFromBlocks(kRielta, b);

  using Cells = std::array<std::string, kColumns>;
  EXPECT_EQ(rows[0].cells, (Cells{"1", "20", "17", "5", "Фотон-12-РК", "2", "17", "  +", "A",
                                  "H", "H", "H", "", ""}));
  EXPECT_FALSE(rows[0].empty);
  EXPECT_FALSE(rows[0].keyFob);
  EXPECT_EQ(rows[1].cells, (Cells{"2", "49", "48", "9", "КТС-РК", "Выкл.", "", "", "H", "A", "A",
                                  "A", "", ""}));
  EXPECT_TRUE(rows[1].keyFob);
  EXPECT_EQ(rows[1].owner, "7");
  EXPECT_TRUE(rows[2].empty);
  EXPECT_EQ(rows[2].cells, (Cells{"3", "", "", "4", "", "", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(rows[31].cells[0], "32");
}

TEST_F(DetectorTable, AstraRowsFromBlocks) {
  Slot(0, 21, 0x77, 3, 4, 32, 0x01, 12);  // bracelet key fob; "Асв" from bit 0
  Slot(1, 0, 0, 0, 0, 0, 0x80);           // empty slot keeping bit 7
  Slot(2, 2, 0, 6, 1, 0, 0x08);           // "Асв" from bit 3
  const DetectorRows rows = RowsFromBlocks(kAstra, b);

  using Cells = std::array<std::string, kColumns>;
  EXPECT_EQ(rows[0].cells, (Cells{"1", "21", "3", "КТС(Браслет Астра-3145)", "4", "32", "", "H",
                                  "H", "H", "A", "", "", ""}));
  EXPECT_TRUE(rows[0].keyFob);
  EXPECT_EQ(rows[0].owner, "12");
  EXPECT_TRUE(rows[1].empty);
  EXPECT_EQ(rows[1].cells[6], "   ") << "the bit survives as three spaces";
  EXPECT_EQ(rows[2].cells[3], "ИК");
  EXPECT_EQ(rows[2].cells[10], "A");
  EXPECT_FALSE(rows[2].keyFob);
  EXPECT_EQ(Headings(kAstra)[11], "Pсиг(RSSI)");
  EXPECT_EQ(Headings(kRielta)[12], "Uсигн.");
}

TEST_F(DetectorTable, StatesFillTheStateColumnsOfNonEmptySlots) {
  Slot(0, 0x11, 0x14, 5, 1, 1, 0);
  Slot(1, 2, 0, 6, 1, 1, 0);  // non-empty in both layouts
  Bytes data(96, 0);
  data[0] = 5, data[1] = 0x40, data[2] = 67;   // slot 0
  data[3] = 0, data[4] = 0x08, data[5] = 90;   // slot 1
  data[6] = 3, data[7] = 0xFF, data[8] = 10;   // slot 2 is empty

  const struct {
    Expander e;
    int count, status, signal;
    const char* signal0;
  } cases[] = {{kRielta, 13, 8, 12, "67"}, {kAstra, 12, 7, 11, "-67 dbm"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.e == kRielta ? "Rielta" : "Astra");
    DetectorRows rows = RowsFromBlocks(c.e, b);
    ApplyStates(c.e, std::span<const uint8_t>(data).first(95), rows);
    EXPECT_EQ(rows[0].cells[c.count], "") << "a short record set shows nothing";
    ApplyStates(c.e, data, rows);
    EXPECT_EQ(rows[0].cells[c.count], "5");
    EXPECT_EQ(rows[0].cells[c.signal], c.signal0);
    EXPECT_EQ(rows[0].cells[c.status], "A");
    EXPECT_EQ(rows[0].cells[c.status + 3], "H");
    EXPECT_EQ(rows[1].cells[c.count], "0");
    EXPECT_EQ(rows[1].cells[c.status + 3], "A");
    for (int col : {c.count, c.signal, c.status, c.status + 3})
      EXPECT_EQ(rows[2].cells[col], "") << "empty slot, column " << col;
  }
}

TEST_F(DetectorTable, UneditedRowsWriteBackTheBlocksAsRead) {
  Slot(0, 0x11, 0x14, 5, 2, 17, 0xC9);
  Slot(1, 0x30, 0x31, 9, 0, 0, 0x38, 7);
  Slot(3, 21, 0, 3, 4, 32, 0x81, 12);
  Slot(4, 0, 0, 0, 0, 0, 0x80);  // empty slot with bit 7
  b.settings[0] = 0x5A;
  b.owners[0] = 0xA5;
  b.owners[6] = 44;  // owner byte of a slot without an owner field
  for (Expander e : {kRielta, kAstra}) {
    SCOPED_TRACE(e == kRielta ? "Rielta" : "Astra");
    ExpanderBlocks out = b;
    RowsIntoBlocks(e, RowsFromBlocks(e, b), out);
    EXPECT_EQ(out.settings[0], 0x5A);
    EXPECT_EQ(out.owners, b.owners);
    for (int i : {0, 1, 3}) {
      EXPECT_EQ(out.settings[1 + 3 * i], b.settings[1 + 3 * i]) << "slot " << i;
      EXPECT_EQ(out.settings[2 + 3 * i], b.settings[2 + 3 * i]) << "slot " << i;
      EXPECT_EQ(out.settings[3 + 3 * i], b.settings[3 + 3 * i]) << "slot " << i;
    }
  }
  ExpanderBlocks astra = b;
  RowsIntoBlocks(kAstra, RowsFromBlocks(kAstra, b), astra);
  EXPECT_EQ(astra.settings[3 + 3 * 4], 0x80) << "an empty Astra-RR slot keeps bit 7";
}

TEST_F(DetectorTable, EditedCellsEncodeBack) {
  Slot(0, 0x11, 0x14, 5, 2, 17, 0xC9);
  Slot(1, 2, 0, 6, 1, 1, 0xC9);
  b.owners[1] = 7;
  b.table[1] = 0x30;  // slot 0 becomes a Rielta key fob
  const struct {
    const char* name;
    Expander e;
    int slot;
    int column;
    std::string text;
    int byte;  // in the settings block, or -1: the owner byte of the slot
    uint8_t expected;
  } cases[] = {
      {"PartitionOff", kRielta, 0, 5, "Выкл.", 1, 0},
      {"PartitionThree", kRielta, 0, 5, "3", 1, 3},
      {"PartitionOutOfList", kRielta, 0, 5, "7", 1, 0},
      {"ZoneCleared", kRielta, 0, 6, "", 2, 0},
      {"ZoneSpace", kRielta, 0, 6, " ", 2, 0},
      {"ZoneNumber", kRielta, 0, 6, "32", 2, 32},
      {"TamperCleared", kRielta, 0, 7, "", 3, 0x49},
      {"AstraPartition", kAstra, 1, 4, "4", 4, 4},
      {"AstraZoneCleared", kAstra, 1, 5, "", 5, 0},
      {"AstraTamperCleared", kAstra, 1, 6, "", 6, 0x49},
      {"OwnerCleared", kRielta, 0, -1, "", -1, 0},
      {"OwnerSpace", kRielta, 0, -1, " ", -1, 0},
      {"OwnerNumber", kRielta, 0, -1, "42", -1, 42},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorRows rows = RowsFromBlocks(c.e, b);
    if (c.column < 0)
      rows[c.slot].owner = c.text;
    else
      rows[c.slot].cells[c.column] = c.text;
    ExpanderBlocks out = b;
    RowsIntoBlocks(c.e, rows, out);
    EXPECT_EQ(c.byte < 0 ? out.owners[1 + c.slot] : out.settings[c.byte], c.expected);
  }

  // An owner field only where the row has one.
  DetectorRows rows = RowsFromBlocks(kAstra, b);
  rows[1].owner = "9";
  ExpanderBlocks out = b;
  RowsIntoBlocks(kAstra, rows, out);
  EXPECT_EQ(out.owners[2], b.owners[2]);
}

TEST_F(DetectorTable, ToggleListsAndChoices) {
  Slot(0, 0x11, 0x14, 5, 2, 17, 0x00);
  DetectorRows rows = RowsFromBlocks(kRielta, b);

  EXPECT_TRUE(PressToggles(kRielta, rows[0], 7));
  EXPECT_EQ(rows[0].cells[7], "  +");
  EXPECT_TRUE(PressToggles(kRielta, rows[0], 7));
  EXPECT_EQ(rows[0].cells[7], "");
  EXPECT_FALSE(PressToggles(kRielta, rows[0], 6)) << "only the ВскрСр column";
  EXPECT_FALSE(PressToggles(kRielta, rows[1], 7)) << "not on an empty slot";
  EXPECT_EQ(rows[1].cells[7], "");
  EXPECT_FALSE(PressToggles(kAstra, rows[0], 7)) << "Astra-RR has it in column 6";

  EXPECT_EQ(ListFor(kRielta, rows[0], 5), ListKind::kPartition);
  EXPECT_EQ(ListFor(kRielta, rows[0], 6), ListKind::kZone);
  EXPECT_EQ(ListFor(kAstra, rows[0], 5), ListKind::kZone);
  EXPECT_EQ(ListFor(kRielta, rows[1], 5), ListKind::kNone);
  EXPECT_EQ(ListFor(kRielta, rows[0], 4), ListKind::kNone);
  EXPECT_TRUE(OpensDetectorMenu(kRielta, 4));
  EXPECT_FALSE(OpensDetectorMenu(kAstra, 4));

  const struct {
    ListKind k;
    const char* cell;
    int item;
  } preselect[] = {{ListKind::kPartition, "3", 2}, {ListKind::kPartition, "Выкл.", 4},
                   {ListKind::kPartition, "7", 4}, {ListKind::kZone, "17", 16},
                   {ListKind::kZone, "", 0},       {ListKind::kZone, "40", 0}};
  for (const auto& c : preselect) EXPECT_EQ(Preselect(c.k, c.cell), c.item) << c.cell;

  WriteChoice(kRielta, rows[0], ListKind::kPartition, 4);
  EXPECT_EQ(rows[0].cells[5], "Выкл.");
  WriteChoice(kRielta, rows[0], ListKind::kZone, 32);
  EXPECT_EQ(rows[0].cells[6], "") << "Clr.";
  WriteChoice(kRielta, rows[0], ListKind::kZone, 4);
  EXPECT_EQ(rows[0].cells[6], "5");
  EXPECT_EQ(ListItems(ListKind::kZone).size(), 33u);
}

TEST_F(DetectorTable, ZoneChoiceWarnings) {
  Slot(0, 0x11, 0x14, 5, 2, 3, 0);  // partition 2, zone 3
  Slot(1, 0x11, 0x14, 6, 1, 9, 0);  // partition 1, zone 9
  Slot(2, 0x11, 0x14, 7, 0, 0, 0);
  const std::vector<std::string_view> none;
  const struct {
    const char* name;
    int slot, item;
    std::vector<std::string_view> warnings;
  } cases[] = {
      {"FreeZoneWithPartition", 2, 1, none},                  // zone 2, partition 2 exists
      {"TakenZone", 2, 8, {kZoneTaken}},                      // zone 9 in slot 1
      {"OwnZoneIsNotTaken", 1, 8, none},
      {"NoSuchPartition", 2, 3, {kMaybeWired}},               // zone 4
      {"TakenAndNoPartition", 2, 2, {kZoneTaken, kMaybeWired}},  // zone 3
      {"AboveFourIsNotWired", 2, 10, none},
      {"Clear", 2, 32, none},
  };
  for (Expander e : {kRielta, kAstra}) {
    // The same cells in either layout: columns shifted by one.
    DetectorRows rows = RowsFromBlocks(e, b);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(ZoneWarnings(e, rows, c.slot, c.item), c.warnings);
    }
  }
}

TEST_F(DetectorTable, DeletionTargets) {
  Slot(4, 0x11, 0x14, 5, 0, 0, 0);  // row 5 of the grid
  Slot(5, 0x11, 0x19, 6, 0, 0, 0);  // no such model: no name
  Slot(6, 2, 0, 0, 0, 0, 0);        // Astra-RR type without a channel

  const DeletionTarget r = DeletionFor(kRielta, RowsFromBlocks(kRielta, b), 4);
  ASSERT_TRUE(r.known);
  EXPECT_EQ(r.index, 4);
  EXPECT_EQ(r.question, "Извещатель: \"Фотон-12-РК\"; N-канала: \"5\"- Будет Удален! Исполнить?");

  Slot(4, 2, 0, 5, 0, 0, 0);
  const DetectorRows astra = RowsFromBlocks(kAstra, b);
  const DeletionTarget a = DeletionFor(kAstra, astra, 4);
  ASSERT_TRUE(a.known);
  EXPECT_EQ(a.index, 5);
  EXPECT_EQ(a.question, "Извещатель: \"ИК\"; N-канала: \"5\"- Будет Удален! Исполнить?");

  EXPECT_FALSE(DeletionFor(kRielta, RowsFromBlocks(kRielta, b), 5).known);
  EXPECT_FALSE(DeletionFor(kAstra, astra, 6).known);
  EXPECT_FALSE(DeletionFor(kAstra, astra, 10).known);

  EXPECT_EQ(DetectorMenu(kAstra, true).size(), 3u);
  EXPECT_EQ(DetectorMenu(kAstra, false).size(), 2u);
  EXPECT_EQ(DetectorMenu(kRielta, true).size(), 2u);
}

TEST(ExpanderNetwork, RieltaFieldsAndControlPeriod) {
  ExpanderBlocks b;
  b.table[97] = 12, b.table[98] = 2, b.table[99] = 0x32;
  const RieltaNetwork n = RieltaNetworkOf(b);
  EXPECT_EQ(n.net, 12);
  EXPECT_EQ(n.litera, 2);
  EXPECT_EQ(n.periodIndex, 2);
  EXPECT_EQ(n.missed, 3);
  EXPECT_EQ(NetworkFields(kRielta, b), (std::array<std::string, 2>{"12", "2"}));
  EXPECT_EQ(NetworkFields(kAstra, b), (std::array<std::string, 2>{"2", "50"}));

  const struct {
    int index, missed;
    const char* text;
  } cases[] = {
      {2, 3, "2 мин 0 сек"}, {4, 15, "1 час 20 мин"}, {0, 1, "20 сек"},  {1, 3, "1 мин 0 сек"},
      {0, 6, "1 мин 10 сек"}, {3, 0, "1 мин"},        {5, 5, "1 час 0 мин"}, {3, 58, "59 мин"},
      {6, 3, ""},            {15, 1, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ControlPeriodText(c.index, c.missed), c.text) << c.index << " " << c.missed;
}

TEST(ExpanderNetwork, AstraPeriodField) {
  const struct {
    const char* candidate;
    bool accept;
    std::string_view message;
  } edits[] = {
      {"24", true, ""},  {"240", true, ""}, {"241", false, kAstraPeriodOutOfRange},
      {"999", false, kAstraPeriodOutOfRange}, {"0240", false, ""}, {"2a", false, ""},
      {"", true, ""},    {"5", true, ""},
  };
  for (const auto& c : edits) {
    SCOPED_TRACE(c.candidate);
    const FieldVerdict v = AstraPeriodEdit(c.candidate);
    EXPECT_EQ(v.accept, c.accept);
    EXPECT_EQ(v.message, c.message);
  }

  const struct {
    const char* text;
    const char* becomes;
    std::string_view message;
  } leaves[] = {{"17", "18", ""}, {"5", "18", ""}, {"18", "18", ""}, {"120", "120", ""},
                {"", "18", kAstraConvertError}};
  for (const auto& c : leaves) {
    SCOPED_TRACE(c.text);
    const FieldOnLeave l = AstraPeriodLeave(c.text);
    EXPECT_EQ(l.text, c.becomes);
    EXPECT_EQ(l.message, c.message);
  }
}

}  // namespace
