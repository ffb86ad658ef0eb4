#include "configurator/expander_blocks.h"

#include <algorithm>
#include <charconv>

#include "devlink/crc8.h"

namespace configurator {

namespace {

constexpr uint8_t kRequestHeader = 0xFE;
constexpr uint8_t kAnswerHeader = 0xEF;
constexpr uint8_t kMarker = 0x55;
constexpr uint8_t kRieltaKeyFob = 0x30;

// A cell's text as a byte value; -1 for anything else.
int ParseByte(std::string_view s) {
  int v = -1;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < 0 || v > 255) return -1;
  return v;
}

// Zone and owner cells: empty or a single space is 0, as is anything that is
// no byte value.
uint8_t NumberOrZero(std::string_view s) {
  const int v = ParseByte(s);
  return v < 0 ? 0 : uint8_t(v);
}

std::string Decimal(int v) { return std::to_string(v); }
std::string DecimalOrEmpty(int v) { return v == 0 ? std::string() : std::to_string(v); }
std::string_view Bit(uint8_t flags, int bit) { return (flags >> bit) & 1 ? "A" : "H"; }

bool IsAstraKeyFob(uint8_t type) { return type >= 19 && type <= 21; }

constexpr std::array<std::string_view, 5> kPartitionItems = {"1", "2", "3", "4", "Выкл."};
constexpr std::string_view kPartitionOff = "Выкл.";
constexpr std::string_view kZoneClear = "Clr.";

constexpr std::array<std::string_view, 33> kZoneItems = {
    "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10", "11",
    "12", "13", "14", "15", "16", "17", "18", "19", "20", "21", "22",
    "23", "24", "25", "26", "27", "28", "29", "30", "31", "32", kZoneClear};

}  // namespace

size_t BlockSize(Block b) {
  switch (b) {
    case Block::kTable: return 100;
    case Block::kSettings: return 97;
    case Block::kOwners: return 33;
  }
  return 0;
}

uint8_t ReadCommand(Block b) {
  switch (b) {
    case Block::kTable: return kReadTable;
    case Block::kSettings: return kReadSettings;
    case Block::kOwners: return kReadOwners;
  }
  return 0;
}

uint8_t WriteCommand(Block b) {
  switch (b) {
    case Block::kTable: return 0;
    case Block::kSettings: return kWriteSettings;
    case Block::kOwners: return kWriteOwners;
  }
  return 0;
}

std::span<uint8_t> BlockBytes(Block b, ExpanderBlocks& blocks) {
  switch (b) {
    case Block::kTable: return blocks.table;
    case Block::kSettings: return blocks.settings;
    case Block::kOwners: return blocks.owners;
  }
  return {};
}

std::span<const uint8_t> BlockBytes(Block b, const ExpanderBlocks& blocks) {
  return BlockBytes(b, const_cast<ExpanderBlocks&>(blocks));
}

// ---- Requests ----

std::vector<uint8_t> ExpanderRequest(uint8_t command, std::span<const uint8_t> data) {
  std::vector<uint8_t> t(data.size() + 5);
  t[0] = kRequestHeader;
  t[1] = uint8_t(data.size() + 3);  // L: the check byte is at L + 1
  t[2] = kMarker;
  t[3] = command;
  std::copy(data.begin(), data.end(), t.begin() + 4);
  t.back() = devlink::Crc8Bytes(t.data(), t.size() - 1);
  return t;
}

std::vector<uint8_t> VersionRequest() { return ExpanderRequest(kVersion, {}); }

std::vector<uint8_t> ReadRequest(Block b) { return ExpanderRequest(ReadCommand(b), {}); }

std::vector<uint8_t> WriteRequest(Block b, const ExpanderBlocks& blocks) {
  if (b == Block::kTable) return {};
  return ExpanderRequest(WriteCommand(b), BlockBytes(b, blocks));
}

std::vector<uint8_t> StatesRequest() {
  const uint8_t d[] = {0x00};
  return ExpanderRequest(kStates, d);
}

std::vector<uint8_t> StartRegistrationRequest(RegistrationMode mode) {
  const uint8_t d[] = {0x00, mode};
  return ExpanderRequest(kOperation, d);
}

std::vector<uint8_t> EndRegistrationRequest() {
  const uint8_t d[] = {0x00, 0x04};
  return ExpanderRequest(kOperation, d);
}

std::vector<uint8_t> DeleteOneRequest(uint8_t index) {
  const uint8_t d[] = {index};
  return ExpanderRequest(kOperation, d);
}

std::vector<uint8_t> DeleteAllRequest() {
  const uint8_t d[] = {0x9A, 0xFF};
  return ExpanderRequest(kOperation, d);
}

std::vector<uint8_t> RieltaNetworkRequest(uint8_t net, uint8_t litera, uint8_t periodIndex,
                                          uint8_t missed) {
  const uint8_t d[] = {net, litera, uint8_t((periodIndex & 0x0F) | (missed << 4))};
  return ExpanderRequest(kNetworkParameters, d);
}

std::vector<uint8_t> AstraNetworkRequest(uint8_t litera, uint8_t period) {
  const uint8_t d[] = {litera, period, 0x00};
  return ExpanderRequest(kNetworkParameters, d);
}

// ---- Answers ----

bool AnswerValid(std::span<const uint8_t> a, uint8_t command) {
  return a.size() >= 5 && a[0] == kAnswerHeader && a[1] >= 3 &&
         devlink::CheckByteOk(a.data(), a.size()) && a[2] == kMarker && a[3] == command;
}

bool BlockAnswerValid(Block b, std::span<const uint8_t> a) {
  return AnswerValid(a, ReadCommand(b)) && a[1] == 3 + BlockSize(b);
}

bool CopyBlockAnswer(Block b, std::span<const uint8_t> a, ExpanderBlocks& blocks) {
  if (!BlockAnswerValid(b, a)) return false;
  const std::span<uint8_t> dst = BlockBytes(b, blocks);
  std::copy_n(a.begin() + 4, dst.size(), dst.begin());
  return true;
}

bool WriteAnswerValid(Block b, std::span<const uint8_t> a) {
  return b != Block::kTable && AnswerValid(a, WriteCommand(b));
}

bool StatesAnswerValid(std::span<const uint8_t> a) {
  return AnswerValid(a, kStates) && a[1] >= 3 + kStateRecords;
}

std::span<const uint8_t> StatesData(std::span<const uint8_t> a) {
  if (!StatesAnswerValid(a)) return {};
  return a.subspan(4, kStateRecords);
}

bool VersionAccepted(Expander e, std::span<const uint8_t> a) {
  const ExpanderProfile& p = Profile(e);
  return a.size() >= 6 && a[4] >= p.minVersionByte4 && a[5] >= p.minVersionByte5;
}

// ---- Procedures ----

const ExpanderProfile& Profile(Expander e) {
  static const ExpanderProfile rielta = {
      .waitMs = 8000,
      .minVersionByte4 = 77,
      .minVersionByte5 = 48,
      .tries = 3,
      .progressMax = 10,
      .pauseBetweenWritesMs = 300,
      .endsRegistration = true,
      .deleteAllOffered = false,
      .settlesAfterWrite = false,
      .buttonsOffDuringWrite = false,
      .noVersionAnswer = "Нет ответа на запрос N-версии.",
      .linkLost = "Обрыв связи с прибором",
      .tryAgain = "Процедура прервана, попробуйте вновь.",
      .firmwareWarning = "Внимание!С этими версиями прошивки прибора",
      .firmwareUnavailable = "функции БРШС \"Риелта\" не доступны!",
      .readNoAnswer = "На запрос настроек БРШС \"Риелта\" нет ответа N-%d",
      .readBadFormat = "Ответ:\"Не верный формат чтения БРШС \"Риелта\".\"",
      .readOk = "Настройки БРШС \"Риелта\" успешно считаны.\"",
      .writeNoAnswer = "На запись настроек БРШС \"Риелта\" нет ответа N-%d",
      .writeBadFormat = "Ответ:Не верный формат ответа на запись БРШС \"Риелта\".",
      .writeOk = "Настройки БРШС \"Риелта\" успешно записаны.\"",
      .triesExhausted = "Попытки соединения прерваны",
      .errorLabel = "Ошибка! См.\"Удаленное обслуживание\".",
      .readTriesErrorLabel = "Ошибка! См.\"Удаленное обслуживание\".",
      .readOkLabel = "Чтение OK.",
      .writeOkLabel = "Запись - OK.",
  };
  static const ExpanderProfile astra = {
      .waitMs = 6000,
      .minVersionByte4 = 77,
      .minVersionByte5 = 51,
      .tries = 3,
      .progressMax = 10,
      .pauseBetweenWritesMs = 300,
      .endsRegistration = false,
      .deleteAllOffered = true,
      .settlesAfterWrite = true,
      .buttonsOffDuringWrite = true,
      .noVersionAnswer = "Нет ответа на запрос N-версии.",
      .linkLost = "Обрыв связи с прибором",
      .tryAgain = "Процедура прервана, попробуйте вновь.",
      .firmwareWarning = "Внимание!С этими версиями прошивки прибора",
      .firmwareUnavailable = "функции \"Астра-РР\" не доступны!",
      .readNoAnswer = "На запрос настроек \"Астра-РР\" нет ответа N-%d",
      .readBadFormat = "Ответ:\"Не верный формат чтения \"Астра-РР\".",
      .readOk = "Настройки \"Астра-РР\" успешно считаны.\"",
      .writeNoAnswer = "На запись настроек \"Астра-РР\" нет ответа N-%d",
      .writeBadFormat = "Ответ:Не верный формат ответа на запись \"Астра-РР\".",
      .writeOk = "Настройки \"Астра-РР\" успешно записаны.",
      .triesExhausted = "Попытки соединения прерваны",
      .errorLabel = "Ошибка! См.\"Удаленное обслуживание\".",
      .readTriesErrorLabel = "\"Ошибка! См.\"Удаленное обслуживание\".",
      .readOkLabel = "Чтение OK.",
      .writeOkLabel = "Запись - OK.",
  };
  return e == Expander::kRielta ? rielta : astra;
}

std::string WithTry(std::string_view format, int tryNo) {
  std::string s(format);
  const size_t at = s.find("%d");
  if (at != std::string::npos) s.replace(at, 2, std::to_string(tryNo));
  return s;
}

bool SettlingTick(int& counter, int max) {
  if (counter >= max) return true;
  counter += max / 6;
  return false;
}

// ---- Model names ----

std::string_view RieltaModelName(uint16_t key) {
  static const struct {
    uint16_t key;
    std::string_view name;
  } names[] = {
      {0x1141, "ПД-РК"},        {0x1151, "ИПР-РК"},       {0x1185, "СТ3-РК"},
      {0x1211, "Пирон-8-РК"},   {0x1281, "СТ3-РК исп.1"}, {0x1311, "Пирон-8Б-РК"},
      {0x1331, "Стекло-3РК"},   {0x1411, "Фотон-12-РК"},  {0x1431, "Грань-РК"},
      {0x1510, "Пирон-5-РК"},   {0x1511, "Фотон-19-РК"},  {0x1521, "МК-РК"},
      {0x1610, "Фотон-Ш2-РК"},  {0x1621, "МК-РК исп.3"},  {0x1625, "МК-РК исп.1"},
      {0x1631, "Звон-РК"},      {0x1710, "Пирон-4-РК"},   {0x1711, "Фотон-12Б-РК"},
      {0x1721, "МК-РК исп.2"},  {0x1810, "Пирон-Ш2-РК"},  {0x1820, "МК-РК исп.4"},
      {0x2113, "БРВ-РК"},       {0x2121, "БКВ-РК"},       {0x2141, "Трубач-РК"},
      {0x3130, "КТС-РК"},       {0x3235, "ПУВ-РК"},       {0x3337, "КВ-РК"},
      {0x3430, "КТС-РК исп.1"}, {0x4115, "Цельсий-РК"},   {0xFFFF, "Закончить"},
  };
  for (const auto& n : names)
    if (n.key == key) return n.name;
  return {};
}

std::string_view AstraModelName(uint8_t type) {
  static const struct {
    uint8_t type;
    std::string_view name;
  } names[] = {
      {1, "СМК"},
      {2, "ИК"},
      {3, "АК"},
      {4, "РПД"},
      {5, "ВБР"},
      {9, "РИМ(поверхность-6131)"},
      {10, "РИМ АК"},
      {11, "РИМ СМК"},
      {12, "РИМ ИК"},
      {13, "РИМ ИКМ"},
      {14, "РИМ РПДУ"},
      {15, "РИМ РПДО"},
      {16, "РИМ ИКА(Астра-8 РК)"},
      {18, "БР"},
      {19, "РИМ КТС"},
      {20, "РИМ КТСУ"},
      {21, "КТС(Браслет Астра-3145)"},
      {25, "РИМ ДП(Астра-3531)"},
      {31, "ИП с 2 ЭП"},
      {32, "ИП"},
      {33, "ИПР"},
      {34, "ИПР с 2 ЭП"},
      {35, "ИПТ с 2 ЭП 4345"},
      {40, "РИМ ИП"},
      {41, "РИМ ИП РК2"},
      {42, "РИМ ИПР"},
      {43, "РИМ ИПР РК2"},
      {47, "РИМ РПДП"},
      {48, "ПУ 8145"},
      {65, "СЗО"},
      {66, "ОПР"},
      {67, "БРР(8245)"},
      {70, "ОПС 2745"},
      {80, "ОПИ"},
      {85, "ИТ(Астра-3745)"},
      {87, "РИМ ИТ(Астра-3731)"},
      {89, "РИМ ДУВ(Астра-361 РК)"},
      {90, "ДУВ 3645"},
      {224, "8745 исп.А(без реле, с АКБ)"},
      {225, "8745 исп.Б(1 реле, без АКБ)"},
      {227, "ПРГ 985"},
      {228, "8845 исп.А(1 реле, с АКБ)"},
      {229, "8845 исп.Б(2 реле, без АКБ)"},
      {230, "8845LC(Lowcost)"},
      {235, "РИМ РТР"},
  };
  for (const auto& n : names)
    if (n.type == type) return n.name;
  return {};
}

// ---- The detector tables ----

const TableLayout& Layout(Expander e) {
  static const TableLayout rielta = {.klass = 1, .type = 2, .channel = 3, .name = 4,
                                     .partition = 5, .zone = 6, .tamper = 7, .status = 8,
                                     .signal = 12, .count = 13, .ownerOver = 4,
                                     .fobLabelOver = 7, .menuFirst = 1, .menuLast = 4};
  static const TableLayout astra = {.klass = -1, .type = 1, .channel = 2, .name = 3,
                                    .partition = 4, .zone = 5, .tamper = 6, .status = 7,
                                    .signal = 11, .count = 12, .ownerOver = 3,
                                    .fobLabelOver = 6, .menuFirst = 1, .menuLast = 3};
  return e == Expander::kRielta ? rielta : astra;
}

const std::array<std::string_view, kColumns>& Headings(Expander e) {
  static const std::array<std::string_view, kColumns> rielta = {
      "Nпп.", "Класс", "Тип", "Nкан.", "Имя", "Nразд.", "Nзоны",
      "ВскрСр", "Вскр.", "ОП", "РП", "Асв.", "Uсигн.", "Сраб."};
  static const std::array<std::string_view, kColumns> astra = {
      "Nпп.", "Тип", "Nкан.", "Имя", "Nразд.", "Nзоны", "ВскрСр",
      "Вскр", "Нп", "Рп", "Асв", "Pсиг(RSSI)", "Сраб.", "Рез."};
  return e == Expander::kRielta ? rielta : astra;
}

const std::array<GroupCaption, 3>& GroupCaptions(Expander e) {
  static const std::array<GroupCaption, 3> rielta = {
      {{"Тип извещателей", 1, 4}, {"Настройки", 5, 7}, {"Сост.Извещ.", 8, 13}}};
  // "Рез." (column 13) is a hairline column outside the state group.
  static const std::array<GroupCaption, 3> astra = {
      {{"Тип извещателей", 1, 3}, {"Настройки", 4, 6}, {"Сост.Извещ.", 7, 12}}};
  return e == Expander::kRielta ? rielta : astra;
}

namespace {

void FillFromTable(Expander e, const ExpanderBlocks& blocks, DetectorRows& rows) {
  const TableLayout& l = Layout(e);
  for (int i = 0; i < kSlots; ++i) {
    DetectorRow& row = rows[i];
    row = DetectorRow{};
    row.cells[0] = Decimal(i + 1);
    const uint8_t type = blocks.table[1 + 3 * i];
    const uint8_t klass = blocks.table[2 + 3 * i];
    const uint8_t channel = blocks.table[3 + 3 * i];
    if (e == Expander::kRielta) {
      row.empty = type == 0 && klass == 0;
      row.keyFob = type == kRieltaKeyFob;
      row.cells[l.klass] = DecimalOrEmpty(klass);
      row.cells[l.name] = RieltaModelName(uint16_t(type + 256 * klass));
    } else {
      row.empty = type == 0;
      row.keyFob = IsAstraKeyFob(type);
      row.cells[l.name] = AstraModelName(type);
    }
    row.cells[l.type] = DecimalOrEmpty(type);
    row.cells[l.channel] = DecimalOrEmpty(channel);
  }
}

void FillFromSettings(Expander e, const ExpanderBlocks& blocks, DetectorRows& rows) {
  const TableLayout& l = Layout(e);
  for (int i = 0; i < kSlots; ++i) {
    DetectorRow& row = rows[i];
    const uint8_t partition = blocks.settings[1 + 3 * i];
    const uint8_t zone = blocks.settings[2 + 3 * i];
    const uint8_t flags = blocks.settings[3 + 3 * i];
    for (int c = l.partition; c < l.status + 4; ++c) row.cells[c].clear();
    if (row.empty) {
      if (e == Expander::kAstra && (flags & 0x80)) row.cells[l.tamper] = kTamperKept;
      continue;
    }
    row.cells[l.partition] = partition == 0 ? std::string(kPartitionOff) : Decimal(partition);
    row.cells[l.zone] = DecimalOrEmpty(zone);
    if (flags & 0x80) row.cells[l.tamper] = kTamperOn;
    for (int b = 0; b < 4; ++b) row.cells[l.status + b] = Bit(flags, 6 - b);
    // Astra-RR reports its "Асв" state in bit 3 or bit 0.
    if (e == Expander::kAstra && (flags & 0x01)) row.cells[l.status + 3] = "A";
  }
}

void FillOwners(const ExpanderBlocks& blocks, DetectorRows& rows) {
  for (int i = 0; i < kSlots; ++i)
    rows[i].owner = rows[i].keyFob ? Decimal(blocks.owners[1 + i]) : std::string();
}

}  // namespace

void FillRows(Expander e, Block b, const ExpanderBlocks& blocks, DetectorRows& rows) {
  switch (b) {
    case Block::kTable: FillFromTable(e, blocks, rows); break;
    case Block::kSettings: FillFromSettings(e, blocks, rows); break;
    case Block::kOwners: FillOwners(blocks, rows); break;
  }
}

DetectorRows RowsFromBlocks(Expander e, const ExpanderBlocks& blocks) {
  DetectorRows rows;
  for (Block b : {Block::kTable, Block::kSettings, Block::kOwners}) FillRows(e, b, blocks, rows);
  return rows;
}

void ApplyStates(Expander e, std::span<const uint8_t> d, DetectorRows& rows) {
  if (d.size() < kStateRecords) return;
  const TableLayout& l = Layout(e);
  for (int i = 0; i < kSlots; ++i) {
    DetectorRow& row = rows[i];
    const uint8_t count = d[3 * i], flags = d[3 * i + 1], signal = d[3 * i + 2];
    row.cells[l.count].clear();
    row.cells[l.signal].clear();
    for (int b = 0; b < 4; ++b) row.cells[l.status + b].clear();
    if (row.empty) continue;
    row.cells[l.count] = Decimal(count);
    for (int b = 0; b < 4; ++b) row.cells[l.status + b] = Bit(flags, 6 - b);
    row.cells[l.signal] =
        e == Expander::kRielta ? Decimal(signal) : "-" + Decimal(signal) + " dbm";
  }
}

void RowsIntoBlocks(Expander e, const DetectorRows& rows, ExpanderBlocks& blocks) {
  const TableLayout& l = Layout(e);
  for (int i = 0; i < kSlots; ++i) {
    const DetectorRow& row = rows[i];
    const std::string& part = row.cells[l.partition];
    const bool partOk = part.size() == 1 && part[0] >= '1' && part[0] <= '4';
    blocks.settings[1 + 3 * i] = partOk ? uint8_t(part[0] - '0') : 0;
    blocks.settings[2 + 3 * i] = NumberOrZero(row.cells[l.zone]);
    uint8_t& flags = blocks.settings[3 + 3 * i];
    flags = uint8_t((flags & 0x7F) | (row.cells[l.tamper].empty() ? 0 : 0x80));
    if (row.keyFob) blocks.owners[1 + i] = NumberOrZero(row.owner);
  }
}

// ---- Editing ----

bool PressToggles(Expander e, DetectorRow& row, int column) {
  const TableLayout& l = Layout(e);
  if (row.empty || column != l.tamper) return false;
  std::string& cell = row.cells[l.tamper];
  cell = cell.empty() ? std::string(kTamperOn) : std::string();
  return true;
}

ListKind ListFor(Expander e, const DetectorRow& row, int column) {
  const TableLayout& l = Layout(e);
  if (row.empty) return ListKind::kNone;
  if (column == l.partition) return ListKind::kPartition;
  if (column == l.zone) return ListKind::kZone;
  return ListKind::kNone;
}

bool OpensDetectorMenu(Expander e, int column) {
  const TableLayout& l = Layout(e);
  return column >= l.menuFirst && column <= l.menuLast;
}

std::span<const std::string_view> ListItems(ListKind k) {
  switch (k) {
    case ListKind::kPartition: return kPartitionItems;
    case ListKind::kZone: return kZoneItems;
    case ListKind::kNone: break;
  }
  return {};
}

int Preselect(ListKind k, std::string_view cell) {
  const int v = ParseByte(cell);
  switch (k) {
    case ListKind::kPartition:
      return v >= 1 && v <= 4 ? v - 1 : 4;
    case ListKind::kZone:
      return v >= 1 && v <= 32 ? v - 1 : 0;
    case ListKind::kNone: break;
  }
  return -1;
}

void WriteChoice(Expander e, DetectorRow& row, ListKind k, int item) {
  const std::span<const std::string_view> items = ListItems(k);
  if (item < 0 || size_t(item) >= items.size()) return;
  const TableLayout& l = Layout(e);
  if (k == ListKind::kPartition) {
    row.cells[l.partition] = items[item];
  } else {
    row.cells[l.zone] = items[item] == kZoneClear ? std::string() : std::string(items[item]);
  }
}

std::vector<std::string_view> ZoneWarnings(Expander e, const DetectorRows& rows, int slot,
                                           int item) {
  std::vector<std::string_view> out;
  if (item < 0 || item >= 32) return out;  // "Clr." or nothing chosen
  const TableLayout& l = Layout(e);
  const std::string zone = Decimal(item + 1);
  bool taken = false, partitionExists = false;
  for (int i = 0; i < kSlots; ++i) {
    if (i != slot && rows[i].cells[l.zone] == zone) taken = true;
    if (rows[i].cells[l.partition] == zone) partitionExists = true;
  }
  if (taken) out.push_back(kZoneTaken);
  if (item + 1 <= 4 && !partitionExists) out.push_back(kMaybeWired);
  return out;
}

// ---- Detector menu, deletion ----

std::vector<std::string_view> DetectorMenu(Expander e, bool imageHasAstraBit) {
  std::vector<std::string_view> items = {kMenuDeleteOne, kMenuRegister};
  if (Profile(e).deleteAllOffered && imageHasAstraBit) items.push_back(kMenuDeleteAll);
  return items;
}

DeletionTarget DeletionFor(Expander e, const DetectorRows& rows, int slot) {
  DeletionTarget t;
  if (slot < 0 || slot >= kSlots) return t;
  const TableLayout& l = Layout(e);
  t.name = rows[slot].cells[l.name];
  t.channel = rows[slot].cells[l.channel];
  t.index = uint8_t(e == Expander::kRielta ? slot : slot + 1);
  t.known = !t.name.empty() && !t.channel.empty();
  if (t.known)
    t.question = "Извещатель: \"" + t.name + "\"; N-канала: \"" + t.channel +
                 "\"- Будет Удален! Исполнить?";
  return t;
}

// ---- Network parameters ----

std::array<std::string, 2> NetworkFields(Expander e, const ExpanderBlocks& blocks) {
  if (e == Expander::kRielta) return {Decimal(blocks.table[97]), Decimal(blocks.table[98])};
  return {Decimal(blocks.table[98]), Decimal(blocks.table[99])};
}

RieltaNetwork RieltaNetworkOf(const ExpanderBlocks& blocks) {
  return {blocks.table[97], blocks.table[98], blocks.table[99] & 0x0F, blocks.table[99] >> 4};
}

std::string ControlPeriodText(int periodIndex, int missed) {
  static constexpr int kBase[] = {10, 15, 30, 1, 5, 10};
  if (periodIndex < 0 || periodIndex > 5) return {};
  const int total = kBase[periodIndex] * (missed + 1);
  const bool seconds = periodIndex <= 2;
  const char* small = seconds ? " сек" : " мин";
  const char* large = seconds ? " мин" : " час";
  if (total < 60) return Decimal(total) + small;
  return Decimal(total / 60) + large + " " + Decimal(total % 60) + small;
}

FieldVerdict AstraPeriodEdit(std::string_view candidate) {
  for (char c : candidate)
    if (c < '0' || c > '9') return {false, {}};
  if (candidate.size() > 3) return {false, {}};
  if (!candidate.empty() && std::stoi(std::string(candidate)) > kAstraPeriodRange.max)
    return {false, kAstraPeriodOutOfRange};
  return {true, {}};
}

FieldOnLeave AstraPeriodLeave(std::string_view text) {
  const std::string low = Decimal(kAstraPeriodRange.min);
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size())
    return {low, kAstraConvertError};
  if (v < kAstraPeriodRange.min) return {low, {}};
  return {std::string(text), {}};
}

}  // namespace configurator
