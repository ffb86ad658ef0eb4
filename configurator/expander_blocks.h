// The radio expanders (Rielta and Astra-RR): their three settings blocks, the
// maintenance-framed requests and answer checks, the operator texts of the
// read and write procedures, model names, the two detector tables as cell
// texts with their editing rules, deletion targets and network parameters.
// Every function takes the expander explicitly: the table or window an action
// comes from decides it, never which expander happens to be active.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace configurator {

enum class Expander { kRielta, kAstra };

inline constexpr int kSlots = 32;

// The blocks exactly as the device sends them (the answers' data parts).
// Byte 0 of each is not interpreted and goes back as read.
struct ExpanderBlocks {
  std::array<uint8_t, 100> table{};    // slot i at 1+3i: type, class, channel; 97..99 network
  std::array<uint8_t, 97> settings{};  // slot i at 1+3i: partition, zone, flags
  std::array<uint8_t, 33> owners{};    // slot i at 1+i: owner number
};

enum class Block { kTable, kSettings, kOwners };

// Commands of the expander exchange (byte 3 of requests and answers).
enum ExpanderCommand : uint8_t {
  kNetworkParameters = 238,  // set network parameters; its answer is not used
  kOperation = 240,          // registration and deletion; as an answer: operation finished
  kReadTable = 241,
  kWriteOwners = 242,
  kStates = 244,
  kReadSettings = 245,
  kWriteSettings = 246,
  kReadOwners = 249,
  kVersion = 21,
};

size_t BlockSize(Block b);        // 100, 97, 33
uint8_t ReadCommand(Block b);     // 241, 245, 249
uint8_t WriteCommand(Block b);    // 0 (the table is never written), 246, 242
std::span<uint8_t> BlockBytes(Block b, ExpanderBlocks& blocks);
std::span<const uint8_t> BlockBytes(Block b, const ExpanderBlocks& blocks);

// ---- Requests: FE L 55 command data CRC-8 over bytes 0..L ----

std::vector<uint8_t> ExpanderRequest(uint8_t command, std::span<const uint8_t> data);
std::vector<uint8_t> VersionRequest();                // FE 03 55 15 CRC
std::vector<uint8_t> ReadRequest(Block b);            // FE 03 55 cmd CRC
// The settings (L = 100) or owners (L = 36) block as it stands; empty for the table.
std::vector<uint8_t> WriteRequest(Block b, const ExpanderBlocks& blocks);
std::vector<uint8_t> StatesRequest();                 // FE 04 55 F4 00 CRC

enum RegistrationMode : uint8_t { kDetectorsAndSensors = 3, kInterfaceDevices = 67 };
std::vector<uint8_t> StartRegistrationRequest(RegistrationMode mode);  // FE 05 55 F0 00 m
std::vector<uint8_t> EndRegistrationRequest();                         // FE 05 55 F0 00 04
std::vector<uint8_t> DeleteOneRequest(uint8_t index);                  // FE 04 55 F0 n
std::vector<uint8_t> DeleteAllRequest();                               // FE 05 55 F0 9A FF
// FE 06 55 EE net litera p, p = period index + 16 x missed check-ins.
std::vector<uint8_t> RieltaNetworkRequest(uint8_t net, uint8_t litera, uint8_t periodIndex,
                                          uint8_t missed);
// FE 06 55 EE litera period 00, the period in units of 10 s.
std::vector<uint8_t> AstraNetworkRequest(uint8_t litera, uint8_t period);

// ---- Answers, checked in the 128-byte answer buffer ----

// 0xEF, the check byte right within the buffer, marker 0x55, byte 3 = command.
bool AnswerValid(std::span<const uint8_t> answer, uint8_t command);
// As AnswerValid for the block's read command, and L = 3 + the block's size:
// a short or long answer is a failed read, so nothing stale is taken.
bool BlockAnswerValid(Block b, std::span<const uint8_t> answer);
// Copies a valid block answer's data into the block; false (block untouched)
// for an invalid one.
bool CopyBlockAnswer(Block b, std::span<const uint8_t> answer, ExpanderBlocks& blocks);
// A write is acknowledged by a valid answer carrying the write command; its
// length is not looked at.
bool WriteAnswerValid(Block b, std::span<const uint8_t> answer);

// The state answer: 3 bytes per slot from byte 4 on. Valid when AnswerValid
// for 244 and L >= 3 + 96, so that the records of all 32 shown slots lie
// inside the answer; an expander that reports more slots still shows its
// first 32.
inline constexpr size_t kStateRecords = 3 * kSlots;
bool StatesAnswerValid(std::span<const uint8_t> answer);
// The 96 bytes of the 32 records; empty when the answer is not valid.
std::span<const uint8_t> StatesData(std::span<const uint8_t> answer);

// The firmware gate on the version answer (code 21): byte 4 >= 77 and byte 5
// >= 48 (Rielta) or >= 51 (Astra-RR). Validity of the answer is AnswerValid's.
bool VersionAccepted(Expander e, std::span<const uint8_t> versionAnswer);

// ---- The read and write procedures' values and texts ----

struct ExpanderProfile {
  int waitMs;                  // every wait of the read and the write
  uint8_t minVersionByte4;
  uint8_t minVersionByte5;
  int tries;                   // per request
  int progressMax;             // the maintenance window's progress bar
  int pauseBetweenWritesMs;    // after the settings block, before the owners
  bool endsRegistration;       // the registration window sends the end request
  bool deleteAllOffered;       // "Удалить все извещатели" in the detector menu
  bool settlesAfterWrite;      // "Запись - OK." only after the settling display
  bool buttonsOffDuringWrite;  // ButtonRead/ButtonWrite off while writing

  std::string_view noVersionAnswer;
  std::string_view linkLost;
  std::string_view tryAgain;
  std::string_view firmwareWarning;      // first line
  std::string_view firmwareUnavailable;  // second line
  std::string_view readNoAnswer;         // "%d" = try number 1..3, see WithTry
  std::string_view readBadFormat;
  std::string_view readOk;
  std::string_view writeNoAnswer;        // "%d" = try number
  std::string_view writeBadFormat;
  std::string_view writeOk;
  std::string_view triesExhausted;

  // LabelBagRielta.
  std::string_view errorLabel;
  std::string_view readTriesErrorLabel;  // after triesExhausted in the read
  std::string_view readOkLabel;
  std::string_view writeOkLabel;
};
const ExpanderProfile& Profile(Expander e);

// A "... N-%d" text with the try number in place of %d.
std::string WithTry(std::string_view format, int tryNo);

// The Astra-RR settling display: one tick of its one-second timer. `counter`
// starts at 0 and grows by max / 6 while below `max`; true at the first tick
// that finds it at or above `max` (the display ends: "Запись - OK.").
bool SettlingTick(int& counter, int max);

// ---- Model names ----

// Key = type + 256 x class; 0xFFFF is "Закончить"; any other key is "".
std::string_view RieltaModelName(uint16_t key);
// By the device type; any other type is "".
std::string_view AstraModelName(uint8_t type);

// ---- The detector tables ----

// Where each kind of cell lies; -1 where the table has no such column.
struct TableLayout {
  int klass, type, channel, name;
  int partition, zone, tamper;  // "Nразд.", "Nзоны", "ВскрСр"
  int status;                   // first of the four "A"/"H" columns
  int signal, count;
  int ownerOver;     // the owner-number field lies over this column
  int fobLabelOver;  // the "В/С" label of a key fob lies over this column
  int menuFirst, menuLast;  // a right press here opens the detector menu
};
const TableLayout& Layout(Expander e);

inline constexpr int kColumns = 14;
const std::array<std::string_view, kColumns>& Headings(Expander e);

struct GroupCaption {
  std::string_view text;
  int first, last;  // columns
};
const std::array<GroupCaption, 3>& GroupCaptions(Expander e);

inline constexpr std::string_view kFobLabel = "В/С";
inline constexpr std::string_view kOwnerHint = "N-хозоргана";
inline constexpr int kOwnerMaxDigits = 2;
inline constexpr std::string_view kTamperOn = "  +";
// An empty Astra-RR slot with bit 7 set keeps it through a write with this.
inline constexpr std::string_view kTamperKept = "   ";

// Row r of the window's grid is slot r - 1. Column 0 numbers the rows.
struct DetectorRow {
  std::array<std::string, kColumns> cells;
  bool empty = true;
  bool keyFob = false;  // the row has an owner-number field
  std::string owner;    // its text
};
using DetectorRows = std::array<DetectorRow, kSlots>;

// Fills the rows from one block as its answer arrives: the table clears the
// rows and fills the type columns and key fobs; the settings fill the
// partition, zone, "ВскрСр" and status columns; the owners fill the owner
// fields of key-fob rows.
void FillRows(Expander e, Block b, const ExpanderBlocks& blocks, DetectorRows& rows);
// All three in order.
DetectorRows RowsFromBlocks(Expander e, const ExpanderBlocks& blocks);

// Shows the state records (StatesData) in the count, status and signal
// columns; empty slots get empty cells. Fewer than 96 bytes change nothing.
void ApplyStates(Expander e, std::span<const uint8_t> stateData, DetectorRows& rows);

// Encodes the edited rows back: partition ("1".."4" -> 1..4, else 0), zone
// (empty or " " -> 0, else the number), bit 7 set when the "ВскрСр" cell is
// not empty (other flag bits kept); owners from the owner fields of key-fob
// rows (empty or " " -> 0), other owner bytes kept. Byte 0 of each block kept.
void RowsIntoBlocks(Expander e, const DetectorRows& rows, ExpanderBlocks& blocks);

// ---- Editing ----

// A left press on the "ВскрСр" column of a non-empty row toggles "  +";
// true when it did.
bool PressToggles(Expander e, DetectorRow& row, int column);

enum class ListKind { kNone, kPartition, kZone };
// The list placed over a selected cell: partition or zone of a non-empty row.
ListKind ListFor(Expander e, const DetectorRow& row, int column);
bool OpensDetectorMenu(Expander e, int column);

// "1".."4","Выкл." and "1".."32","Clr.".
std::span<const std::string_view> ListItems(ListKind k);
// The item preselected for a cell: partition "1".."4" or else "Выкл."; zone
// "1".."32" or else the first item (an empty cell included).
int Preselect(ListKind k, std::string_view cell);
// Leaving the list writes item `item` into the row's cell: "Clr." empties a
// zone cell.
void WriteChoice(Expander e, DetectorRow& row, ListKind k, int item);

inline constexpr std::string_view kZoneTaken = "Такая зона уже есть!";
inline constexpr std::string_view kMaybeWired = "Извещатель может быть проводным!";
inline constexpr std::string_view kWarningCaption = "Предупреждение.";
// The warnings, in order, for choosing zone item `item` in slot `slot`:
// another row already has that zone; the zone is 1..4 and no row has it as
// its partition. Both can apply; "Clr." gives none.
std::vector<std::string_view> ZoneWarnings(Expander e, const DetectorRows& rows, int slot,
                                           int item);

// ---- Detector menu, deletion ----

inline constexpr std::string_view kMenuDeleteOne = "Удалить этот извещ.";
inline constexpr std::string_view kMenuRegister = "Зарегистрировать извещ.";
inline constexpr std::string_view kMenuDeleteAll = "Удалить все извещатели";
inline constexpr std::string_view kMenuNetwork = "Параметры сети";
// The detector menu's items; delete-all only for Astra-RR and only when the
// shown image has the Astra-RR option bit.
std::vector<std::string_view> DetectorMenu(Expander e, bool imageHasAstraBit);

inline constexpr std::string_view kUnknownDetector = "Неизвестный извещатель или N-канала!";
inline constexpr std::string_view kDeletionCaption = "Удаление извещателя.";
inline constexpr std::string_view kQuestionCaption = "\"Конфигуратор прибора\".";
inline constexpr std::string_view kDeleteAllQuestion = "Все извещатели будут Удалены! Исполнить?";

struct DeletionTarget {
  bool known = false;     // false: refuse with kUnknownDetector / kDeletionCaption
  std::string name, channel;
  uint8_t index = 0;      // sent in the delete request: Rielta slot, Astra-RR slot + 1
  std::string question;   // Извещатель: "NAME"; N-канала: "CH"- Будет Удален! Исполнить?
};
DeletionTarget DeletionFor(Expander e, const DetectorRows& rows, int slot);

// ---- Network parameters ----

struct Range {
  int min, max;
};
inline constexpr Range kRieltaNetRange{1, 126};
inline constexpr Range kRieltaLiteraRange{1, 4};
inline constexpr Range kRieltaMissedRange{1, 15};
inline constexpr Range kAstraLiteraRange{1, 3};
inline constexpr Range kAstraPeriodRange{18, 240};

// The operation windows' seconds counters.
inline constexpr int kRegistrationSeconds = 100;
inline constexpr int kDeletionSeconds = 64;
inline constexpr int kRieltaNetworkSeconds = 30;
inline constexpr int kAstraNetworkSeconds = 80;

// The two network fields of the tab: Rielta bytes 97, 98 (network, litera),
// Astra-RR bytes 98, 99 (litera, period), in decimal.
std::array<std::string, 2> NetworkFields(Expander e, const ExpanderBlocks& blocks);

struct RieltaNetwork {
  int net, litera, periodIndex, missed;
};
// Bytes 97, 98 and 99 (bits 0..3 period index, bits 4..7 missed), as stored.
RieltaNetwork RieltaNetworkOf(const ExpanderBlocks& blocks);

inline constexpr std::array<std::string_view, 6> kPeriodItems = {
    " 10 сек.", " 15 сек.", " 30 сек.", " 1 мин.", " 5 мин", " 10 мин."};
// "Период контроля:" for list item `periodIndex` and `missed` check-ins:
// base x (missed + 1) as "N сек" / "M мин S сек" (items 0..2) or "N мин" /
// "H час M мин" (items 3..5). A stored index above 5 selects no item, so
// there is no base and the text is empty.
std::string ControlPeriodText(int periodIndex, int missed);

inline constexpr std::string_view kRieltaConvertErrors[3] = {"Ош. Преобр.1", "Ош. Преобр.2",
                                                             "Ош. Преобр.3"};
inline constexpr std::string_view kAstraPeriodOutOfRange =
    "Выход за границу диапазона.(<18 или >240)";
inline constexpr std::string_view kAstraConvertError = "Ош. Преобр.";

struct FieldVerdict {
  bool accept;
  std::string_view message;  // for the window's message line; empty: none
};
// The Astra-RR period field's key filter, given the text the keystroke would
// leave: only digits (a deletion passes), at most three, at most 240.
FieldVerdict AstraPeriodEdit(std::string_view candidate);

struct FieldOnLeave {
  std::string text;
  std::string_view message;
};
// Leaving the period field: a value below 18 becomes "18"; a text that is no
// number becomes "18" too, with "Ош. Преобр.".
FieldOnLeave AstraPeriodLeave(std::string_view text);

}  // namespace configurator
