// The configuration image: the device's configuration memory byte for byte,
// its layout for the "VordaF" variants, and the rules by which the
// configurator window's controls read and change it. Every rule here is the
// whole rule; the window only binds its widgets to these functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace configurator {

inline constexpr size_t kImageSize = 2048;  // the largest variant's memory
using Image = std::array<uint8_t, kImageSize>;

// Variant codes of the identify answer and of the files.
inline constexpr uint8_t kVariantF = 250;     // "Гравен-Net"; the only one the device exchange takes
inline constexpr uint8_t kVariantGsm = 251;   // 2048 bytes, another layout; known from files only
inline constexpr uint8_t kVariantF2AT = 252;  // the 250 layout; known from files only

// Variants whose image has the layout below.
inline constexpr bool HasFLayout(uint8_t variant) {
  return variant == kVariantF || variant == kVariantF2AT;
}

// Offsets of the 250/252 layout.
namespace off {
inline constexpr size_t kCodes = 0;  // 20 user code records of 5 bytes
inline constexpr size_t kCodeRecordSize = 5;
inline constexpr size_t kCodeRecords = 20;
inline constexpr size_t kLoopTypes = 100;   // loops 1..4
inline constexpr size_t kDelaysOut = 104;   // column "Выход" (EditTimeIn1..4), loops 1..4
inline constexpr size_t kDelaysIn = 108;    // column "Вход" (EditTimeOut1..4), loops 1..4
inline constexpr size_t kOutput1Links = 112;  // bit n-1: loop n drives output 1
inline constexpr size_t kOutput2Links = 113;
inline constexpr size_t kSounderLinks = 114;
inline constexpr size_t kOutput1Time = 115;  // 255 = always
inline constexpr size_t kOutput2Time = 116;
inline constexpr size_t kSounderTime = 117;
inline constexpr size_t kOutput1Type = 118;  // bits 0..3 the type, bit 7 schedule arming
inline constexpr size_t kOutput2Type = 119;
inline constexpr size_t kPeriodEthernet = 121;  // "Я жив" period over Ethernet, 14..16 s
inline constexpr size_t kPeriodGsm = 123;       // over GSM, 15..60 s
inline constexpr size_t kOptionsA = 124;
inline constexpr size_t kOptionsB = 125;
inline constexpr size_t kClearedOnWrite = 127;  // 127..130
inline constexpr size_t kClearedOnWriteSize = 4;
inline constexpr size_t kKeys = 156;  // 16 keys of 4 bytes, last shown byte first
inline constexpr size_t kKeySize = 4;
inline constexpr size_t kKeyCount = 16;
inline constexpr size_t kKeyPermissions = 235;  // keys 1..16
inline constexpr size_t kEnd = 256;             // what a file of this layout holds
}  // namespace off

// Bit numbers of option byte A (the window's tags).
enum OptionABit : int {
  kBacklightAlways = 0,  // "Вкл. всегда"
  kBacklightOnKeys = 1,  // "по клавиатуре"
  kBacklightOnEvents = 2,  // "по событиям"
  kRieltaExpander = 3,   // "Подключить БРШС"
  kExpanderAddress1 = 4,  // address switches 1..3
  kExpanderAddress2 = 5,
  kExpanderAddress3 = 6,
  kAstraExpander = 7,
};

// Bit numbers of option byte B.
enum OptionBBit : int {
  kArmOpenCase = 0,
  kArmLinkFailure = 1,
  kAutoRearm = 2,
  kDs1990Keys = 3,
  kRemoteLedInverted = 4,
  kKeyFob = 5,
  kSurGardPartitions = 6,
  kNoEventAfterFailure = 7,
};

inline constexpr int kScheduleArmingBit = 7;  // of offset 118

// One bit of a flag byte, for the link, schedule and option boxes.
bool Flag(const Image& image, size_t offset, int bit);
void SetFlag(Image& image, size_t offset, int bit, bool on);

// The repairs made when the image is shown: loop types above the list become
// 0, an offset-118 byte whose type nibble is above 4 becomes 0 (bit 7 too),
// an output 2 type above 4 becomes 0.
void RepairForShow(Image& image);

// Offsets 127..130 are 0 in every write.
void PrepareForWrite(Image& image);

// ---- Loops ШС1..ШС4 (loop = 1..4) ----

inline constexpr int kLoops = 4;
// The type list of a loop's combo box; loop 4 has "Активный " and "Управление".
std::span<const std::string_view> LoopTypeTexts(int loop);
// The index of `text` in that list, 255 when it is not there.
uint8_t LoopTypeIndex(int loop, std::string_view text);
// Stores the type; types 1 ("Тревожный") and 4 ("Неиспольз.") also zero the
// loop's two delays and clear its bit in the three link bytes.
void SetLoopType(Image& image, int loop, uint8_t type);

// ---- Outputs (output = 1, 2) ----

std::span<const std::string_view> OutputTypeTexts();
uint8_t OutputTypeIndex(std::string_view text);  // 255 when not in the list
uint8_t OutputType(const Image& image, int output);
// Output 1 replaces bits 0..3 of 118 and keeps bit 7; output 2 replaces 119.
void SetOutputType(Image& image, int output, uint8_t type);

// An output's "Время" field with its "Всегда" box, and its unit label.
struct OutputTimeView {
  bool shown = false;
  std::string unit;  // "c", "c/16" or blank
  bool operator==(const OutputTimeView&) const = default;
};
// When the image is shown. Nullopt: the controls stay as they are (output 2
// of variant 252 with a type other than 1).
std::optional<OutputTimeView> OutputTimeOnShow(uint8_t variant, int output, uint8_t type);
// When the operator picks a type; it differs from the above (output 1 hides
// the time for type 0 too). Nullopt: the controls stay as they are (output 2
// of variant 252, or a type not in the list).
std::optional<OutputTimeView> OutputTimeOnChange(uint8_t variant, int output, uint8_t type);

// ---- Numeric fields: delays and times ----

// Leaving a numeric field: empty is 0; a text that is not a decimal integer
// gives the message for the operator and the image stays; otherwise the low
// 8 bits are stored and `shown` gets the stored value as the field shows it.
std::optional<std::string> StoreNumber(Image& image, size_t offset, std::string_view text,
                                       std::string* shown);

// The times with a "Всегда" box (115, 116, 117); checking it puts this text
// into the field, which the image takes when the field is left.
bool HasAlwaysBox(size_t offset);
inline constexpr std::string_view kAlwaysText = "255";
// The box is checked exactly when the value is 255.
bool AlwaysChecked(const Image& image, size_t offset);

// ---- "Я жив" periods ----

enum class Period { kEthernet, kGsm };

inline constexpr char kBackspace = '\b';
inline constexpr char kEnter = '\r';

inline constexpr std::string_view kPeriodRangeMessage = "Выход за границу диапазона.(>16)";
inline constexpr std::string_view kPeriodConvertMessage = "Ош. Преобр.";

struct PeriodKeyResult {
  bool accepted = false;
  // Label16 after the key: nullopt leaves it, empty hides it, else shows it.
  std::optional<std::string> label16;
};
// Whether the field holding `text` takes `key` (typed at its end). Digits and
// backspace only; at most two characters; the Ethernet period also refuses a
// value above 16 and reports it in Label16.
PeriodKeyResult PeriodKey(Period period, std::string_view text, char key);

// Leaving the field: as StoreNumber, but the value is clamped to 14..16
// (Ethernet) or 15..60 (GSM) before it is stored.
std::optional<std::string> StorePeriod(Image& image, Period period, std::string_view text,
                                       std::string* shown);

// ---- Option byte A boxes ----

// Leaving a box stores its bit and nothing else, except that a checked
// expander box clears the other expander's bit, and so does the Astra-RR box
// unchecked, since its bit kept the Rielta bit from being shown.
void LeaveOptionABox(Image& image, int bit, bool checked);
// The box's state when the image is shown: with both expander bits set the
// Astra-RR box wins and the Rielta box shows unchecked.
bool OptionABoxShown(const Image& image, int bit);

// ---- DS1990 / key fob (option byte B bits 3 and 5, on click) ----

// Checking one clears the other; unchecking clears only its own bit.
void ClickDs1990(Image& image, bool checked);
void ClickKeyFob(Image& image, bool checked);

}  // namespace configurator
