#include "configurator/image.h"

#include <algorithm>
#include <charconv>

namespace configurator {

namespace {

constexpr std::string_view kLoopTypes13[] = {"Охранный", "Тревожный", "Пожарный", "Активный",
                                             "Неиспольз.", "Вход", "Коридор"};
// Loop 4's list has its own "Активный " (with the space) and "Управление".
constexpr std::string_view kLoopTypes4[] = {"Охранный", "Тревожный", "Пожарный",
                                            "Активный ", "Неиспольз.", "Вход",
                                            "Коридор", "Управление"};
constexpr std::string_view kOutputTypes[] = {"ПЦН", "Лампа", "Сирена",
                                             "Вкл. на время при снятии",
                                             "Вкл. на время при взятии"};

constexpr uint8_t kAlarmLoop = 1;
constexpr uint8_t kUnusedLoop = 4;
constexpr uint8_t kLampOutput = 1;
constexpr uint8_t kLastOutputType = 4;

uint8_t IndexIn(std::span<const std::string_view> list, std::string_view text) {
  const auto it = std::find(list.begin(), list.end(), text);
  return it == list.end() ? 255 : uint8_t(it - list.begin());
}

// A decimal integer as the platform's conversion takes it: an optional sign
// and digits, within 32 bits.
std::optional<int32_t> ParseInt(std::string_view text) {
  std::string_view digits = text;
  const bool plus = !digits.empty() && digits.front() == '+';
  if (plus) digits.remove_prefix(1);
  if (digits.empty() || (plus && digits.front() == '-')) return std::nullopt;
  int32_t v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return v;
}

std::string NotAnInteger(std::string_view text) {
  return "\"" + std::string(text) + "\" не является целым числом.";
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool Flag(const Image& image, size_t offset, int bit) { return (image[offset] >> bit) & 1; }

void SetFlag(Image& image, size_t offset, int bit, bool on) {
  if (on)
    image[offset] |= uint8_t(1u << bit);
  else
    image[offset] &= uint8_t(~(1u << bit));
}

void RepairForShow(Image& image) {
  for (int loop = 1; loop <= kLoops; ++loop) {
    uint8_t& t = image[off::kLoopTypes + loop - 1];
    if (t >= LoopTypeTexts(loop).size()) t = 0;
  }
  if ((image[off::kOutput1Type] & 0x0F) > kLastOutputType) image[off::kOutput1Type] = 0;
  if (image[off::kOutput2Type] > kLastOutputType) image[off::kOutput2Type] = 0;
}

void PrepareForWrite(Image& image) {
  std::fill_n(image.begin() + off::kClearedOnWrite, off::kClearedOnWriteSize, 0);
}

std::span<const std::string_view> LoopTypeTexts(int loop) {
  if (loop == 4) return kLoopTypes4;
  return kLoopTypes13;
}

uint8_t LoopTypeIndex(int loop, std::string_view text) {
  return IndexIn(LoopTypeTexts(loop), text);
}

void SetLoopType(Image& image, int loop, uint8_t type) {
  image[off::kLoopTypes + loop - 1] = type;
  // An alarm loop or an unused one has no delays and drives no output.
  if (type != kAlarmLoop && type != kUnusedLoop) return;
  image[off::kDelaysOut + loop - 1] = 0;
  image[off::kDelaysIn + loop - 1] = 0;
  for (size_t links : {off::kOutput1Links, off::kOutput2Links, off::kSounderLinks})
    SetFlag(image, links, loop - 1, false);
}

std::span<const std::string_view> OutputTypeTexts() { return kOutputTypes; }

uint8_t OutputTypeIndex(std::string_view text) { return IndexIn(kOutputTypes, text); }

uint8_t OutputType(const Image& image, int output) {
  return output == 1 ? image[off::kOutput1Type] & 0x0F : image[off::kOutput2Type];
}

void SetOutputType(Image& image, int output, uint8_t type) {
  if (output == 1)
    image[off::kOutput1Type] = uint8_t((image[off::kOutput1Type] & 0x80) | (type & 0x0F));
  else
    image[off::kOutput2Type] = type;
}

std::optional<OutputTimeView> OutputTimeOnShow(uint8_t variant, int output, uint8_t type) {
  if (type == kLampOutput) return OutputTimeView{false, ""};
  if (output == 2 && variant == kVariantF2AT) return std::nullopt;
  return OutputTimeView{true, type <= 2 ? "c" : "c/16"};
}

std::optional<OutputTimeView> OutputTimeOnChange(uint8_t variant, int output, uint8_t type) {
  if (type > kLastOutputType) return std::nullopt;
  if (output == 1) {
    if (type <= 1) return OutputTimeView{false, ""};
    return OutputTimeView{true, type == 2 ? "c" : "c/16"};
  }
  if (variant == kVariantF2AT) return std::nullopt;
  if (type == kLampOutput) return OutputTimeView{false, ""};
  return OutputTimeView{true, type <= 2 ? "c" : "c/16"};
}

std::optional<std::string> StoreNumber(Image& image, size_t offset, std::string_view text,
                                       std::string* shown) {
  if (text.empty()) text = "0";
  const std::optional<int32_t> v = ParseInt(text);
  if (!v) return NotAnInteger(text);
  image[offset] = uint8_t(*v);
  if (shown) *shown = std::to_string(image[offset]);
  return std::nullopt;
}

bool HasAlwaysBox(size_t offset) {
  return offset == off::kOutput1Time || offset == off::kOutput2Time ||
         offset == off::kSounderTime;
}

bool AlwaysChecked(const Image& image, size_t offset) { return image[offset] == 255; }

PeriodKeyResult PeriodKey(Period period, std::string_view text, char key) {
  if (key == kBackspace) return {true, std::nullopt};
  if (!IsDigit(key)) return {false, std::nullopt};
  if (period == Period::kGsm) return {text.size() < 2, std::nullopt};
  if (text.empty()) return {true, ""};
  const std::string next = std::string(text) + key;
  const std::optional<int32_t> v = ParseInt(next);
  if (!v) return {false, std::string(kPeriodConvertMessage)};
  if (next.size() > 2 || *v > 16) return {false, std::string(kPeriodRangeMessage)};
  return {true, ""};
}

std::optional<std::string> StorePeriod(Image& image, Period period, std::string_view text,
                                       std::string* shown) {
  if (text.empty()) text = "0";
  const std::optional<int32_t> v = ParseInt(text);
  if (!v) return NotAnInteger(text);
  const bool ethernet = period == Period::kEthernet;
  const size_t offset = ethernet ? off::kPeriodEthernet : off::kPeriodGsm;
  image[offset] = uint8_t(ethernet ? std::clamp(*v, 14, 16) : std::clamp(*v, 15, 60));
  if (shown) *shown = std::to_string(image[offset]);
  return std::nullopt;
}

void LeaveOptionABox(Image& image, int bit, bool checked) {
  // Beside a set Astra-RR bit the Rielta bit is not shown: it goes when the Astra-RR box does.
  const bool hiddenRielta = bit == kAstraExpander && Flag(image, off::kOptionsA, kAstraExpander);
  SetFlag(image, off::kOptionsA, bit, checked);
  // The two radio expanders never stay enabled together.
  if ((checked || hiddenRielta) && bit == kAstraExpander)
    SetFlag(image, off::kOptionsA, kRieltaExpander, false);
  if (checked && bit == kRieltaExpander) SetFlag(image, off::kOptionsA, kAstraExpander, false);
}

bool OptionABoxShown(const Image& image, int bit) {
  if (bit == kRieltaExpander && Flag(image, off::kOptionsA, kAstraExpander)) return false;
  return Flag(image, off::kOptionsA, bit);
}

void ClickDs1990(Image& image, bool checked) {
  SetFlag(image, off::kOptionsB, kDs1990Keys, checked);
  if (checked) SetFlag(image, off::kOptionsB, kKeyFob, false);
}

void ClickKeyFob(Image& image, bool checked) {
  SetFlag(image, off::kOptionsB, kKeyFob, checked);
  if (checked) SetFlag(image, off::kOptionsB, kDs1990Keys, false);
}

}  // namespace configurator
