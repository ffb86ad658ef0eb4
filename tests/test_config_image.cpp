// The configuration image's rules: repairs on show, loop and output types,
// numeric and period fields, the option boxes.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "configurator/image.h"

namespace {

using namespace configurator;

TEST(ConfigImage, RepairForShowResetsOnlyWhatTheWindowCannotShow) {
  const struct {
    size_t offset;
    uint8_t value, shown;
  } cases[] = {
      {off::kLoopTypes + 0, 6, 6},  {off::kLoopTypes + 0, 7, 0},
      {off::kLoopTypes + 2, 7, 0},  {off::kLoopTypes + 3, 7, 7},
      {off::kLoopTypes + 3, 8, 0},  {off::kOutput1Type, 0x84, 0x84},
      {off::kOutput1Type, 0x85, 0}, {off::kOutput1Type, 0x8F, 0},
      {off::kOutput2Type, 4, 4},    {off::kOutput2Type, 5, 0},
      {off::kPeriodGsm, 200, 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " value " << int(c.value));
    Image image{};
    image[c.offset] = c.value;
    RepairForShow(image);
    EXPECT_EQ(image[c.offset], c.shown);
  }
}

TEST(ConfigImage, LoopTypesOneAndFourDropTheLoopsDelaysAndLinks) {
  Image image{};
  for (size_t i = 0; i < 4; ++i) image[off::kDelaysOut + i] = image[off::kDelaysIn + i] = 30;
  image[off::kOutput1Links] = 0x0F;
  image[off::kOutput2Links] = 0x03;
  image[off::kSounderLinks] = 0x0A;
  const Image before = image;

  SetLoopType(image, 2, LoopTypeIndex(2, "Неиспольз."));
  EXPECT_EQ(image[off::kLoopTypes + 1], 4);
  EXPECT_EQ(image[off::kOutput1Links], 0x0D);
  EXPECT_EQ(image[off::kOutput2Links], 0x01);
  EXPECT_EQ(image[off::kSounderLinks], 0x08);
  EXPECT_EQ(image[105], 0);
  EXPECT_EQ(image[109], 0);
  for (size_t o : {104, 106, 107, 108, 110, 111}) EXPECT_EQ(image[o], 30) << o;

  // Any other type, or a text not in the list, changes the type byte only.
  for (const char* text : {"Охранный", "Пожарный", "Вход", "Коридор", "нечто"}) {
    Image other = before;
    SetLoopType(other, 3, LoopTypeIndex(3, text));
    other[off::kLoopTypes + 2] = 0;
    EXPECT_EQ(other, before) << text;
  }
  Image alarm = before;
  SetLoopType(alarm, 4, 1);
  EXPECT_EQ(alarm[off::kOutput1Links], 0x07);
  EXPECT_EQ(alarm[off::kDelaysIn + 3], 0);
}

TEST(ConfigImage, LoopFourHasItsOwnList) {
  EXPECT_EQ(LoopTypeIndex(4, "Активный "), 3);
  EXPECT_EQ(LoopTypeIndex(4, "Активный"), 255);
  EXPECT_EQ(LoopTypeIndex(1, "Активный"), 3);
  EXPECT_EQ(LoopTypeIndex(4, "Управление"), 7);
  EXPECT_EQ(LoopTypeIndex(3, "Управление"), 255);
}

TEST(ConfigImage, OutputTypeAndItsTimeField) {
  Image image{};
  image[off::kOutput1Type] = 0x83;
  RepairForShow(image);
  EXPECT_EQ(OutputType(image, 1), 3);
  EXPECT_EQ(OutputTypeTexts()[3], "Вкл. на время при снятии");
  EXPECT_EQ(OutputTimeOnShow(kVariantF, 1, 3), (OutputTimeView{true, "c/16"}));
  EXPECT_TRUE(Flag(image, off::kOutput1Type, kScheduleArmingBit));
  SetOutputType(image, 1, OutputTypeIndex("Сирена"));
  EXPECT_EQ(image[off::kOutput1Type], 0x82);
  SetOutputType(image, 2, 3);
  EXPECT_EQ(image[off::kOutput2Type], 3);

  // Showing and changing differ for output 1's type 0, and 252 leaves output 2 alone.
  const OutputTimeView hidden{false, ""}, sec{true, "c"}, sixteenths{true, "c/16"};
  const struct {
    uint8_t variant;
    int output;
    uint8_t type;
    std::optional<OutputTimeView> show, change;
  } cases[] = {
      {kVariantF, 1, 0, sec, hidden},
      {kVariantF, 1, 1, hidden, hidden},
      {kVariantF, 1, 2, sec, sec},
      {kVariantF, 1, 4, sixteenths, sixteenths},
      {kVariantF2AT, 1, 0, sec, hidden},
      {kVariantF, 2, 0, sec, sec},
      {kVariantF, 2, 1, hidden, hidden},
      {kVariantF, 2, 4, sixteenths, sixteenths},
      {kVariantF2AT, 2, 1, hidden, std::nullopt},
      {kVariantF2AT, 2, 3, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.variant) << " output " << c.output << " type "
                                    << int(c.type));
    EXPECT_EQ(OutputTimeOnShow(c.variant, c.output, c.type), c.show);
    EXPECT_EQ(OutputTimeOnChange(c.variant, c.output, c.type), c.change);
  }
}

TEST(ConfigImage, NumericFields) {
  const struct {
    const char* text;
    bool ok;
    uint8_t stored;
    const char* shown;
  } cases[] = {
      {"", true, 0, "0"},        {"45", true, 45, "45"},     {"255", true, 255, "255"},
      {"300", true, 44, "44"},   {"-1", true, 255, "255"},   {"+7", true, 7, "7"},
      {"12a", false, 99, ""},    {"1.5", false, 99, ""},     {" 5", false, 99, ""},
      {"+-5", false, 99, ""},    {"99999999999", false, 99, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Image image{};
    image[off::kOutput1Time] = 99;
    std::string shown;
    const auto error = StoreNumber(image, off::kOutput1Time, c.text, &shown);
    EXPECT_EQ(!error, c.ok);
    EXPECT_EQ(image[off::kOutput1Time], c.stored);
    if (c.ok) {
      EXPECT_EQ(shown, c.shown);
      EXPECT_EQ(AlwaysChecked(image, off::kOutput1Time), c.stored == 255);
    } else {
      EXPECT_NE(error->find(c.text), std::string::npos) << *error;
    }
  }
  EXPECT_TRUE(HasAlwaysBox(off::kSounderTime));
  EXPECT_FALSE(HasAlwaysBox(off::kDelaysOut));
}

// Types the keys one by one into an empty period field; returns what it holds
// and Label16 as the last key left it.
struct Typed {
  std::string text;
  std::string label16;
  bool refused = false;
};
Typed TypeInto(Period p, const std::string& keys) {
  Typed t;
  for (char k : keys) {
    const PeriodKeyResult r = PeriodKey(p, t.text, k);
    if (r.label16) t.label16 = *r.label16;
    if (!r.accepted) {
      t.refused = true;
      continue;
    }
    if (k == kBackspace) {
      if (!t.text.empty()) t.text.pop_back();
    } else {
      t.text += k;
    }
  }
  return t;
}

TEST(ConfigImage, PeriodKeysAndClamping) {
  const struct {
    Period period;
    const char* keys;
    const char* text;
    const char* label16;
    bool refused;
  } typed[] = {
      {Period::kGsm, "45", "45", "", false},
      {Period::kGsm, "456", "45", "", true},
      {Period::kGsm, "4x", "4", "", true},
      {Period::kEthernet, "20", "2", "Выход за границу диапазона.(>16)", true},
      {Period::kEthernet, "17", "1", "Выход за границу диапазона.(>16)", true},
      {Period::kEthernet, "170\b6", "16", "", true},
      {Period::kEthernet, "9", "9", "", false},
      {Period::kEthernet, "015", "01", "Выход за границу диапазона.(>16)", true},
  };
  for (const auto& c : typed) {
    SCOPED_TRACE(c.keys);
    const Typed t = TypeInto(c.period, c.keys);
    EXPECT_EQ(t.text, c.text);
    EXPECT_EQ(t.label16, c.label16);
    EXPECT_EQ(t.refused, c.refused);
  }
  // A pasted text that does not convert.
  EXPECT_EQ(PeriodKey(Period::kEthernet, "x", '1').label16, "Ош. Преобр.");

  const struct {
    Period period;
    const char* text;
    uint8_t stored;
  } left[] = {
      {Period::kGsm, "45", 45},     {Period::kGsm, "9", 15},      {Period::kGsm, "99", 60},
      {Period::kGsm, "", 15},       {Period::kEthernet, "9", 14}, {Period::kEthernet, "15", 15},
      {Period::kEthernet, "300", 16},
  };
  for (const auto& c : left) {
    SCOPED_TRACE(c.text);
    Image image{};
    std::string shown;
    ASSERT_FALSE(StorePeriod(image, c.period, c.text, &shown));
    const size_t o = c.period == Period::kGsm ? off::kPeriodGsm : off::kPeriodEthernet;
    EXPECT_EQ(image[o], c.stored);
    EXPECT_EQ(shown, std::to_string(c.stored));
  }
  Image image{};
  image[off::kPeriodGsm] = 30;
  EXPECT_TRUE(StorePeriod(image, Period::kGsm, "3a", nullptr));
  EXPECT_EQ(image[off::kPeriodGsm], 30);
}

TEST(ConfigImage, OptionABoxesChangeOnlyTheirBitExceptTheExpanderPair) {
  // Astra-RR on: the backlight and address boxes leave it on.
  for (int bit : {kBacklightAlways, kBacklightOnKeys, kBacklightOnEvents, kExpanderAddress1,
                  kExpanderAddress2, kExpanderAddress3}) {
    for (bool checked : {true, false}) {
      Image image{};
      image[off::kOptionsA] = 0x80;
      LeaveOptionABox(image, bit, checked);
      EXPECT_EQ(image[off::kOptionsA], checked ? (0x80 | 1 << bit) : 0x80) << bit;
    }
  }
  const struct {
    uint8_t before;
    int bit;
    bool checked;
    uint8_t after;
  } pair[] = {
      {0x08, kAstraExpander, true, 0x80}, {0x80, kRieltaExpander, true, 0x08},
      {0x88, kAstraExpander, true, 0x80}, {0x87, kAstraExpander, false, 0x07},
      {0x81, kRieltaExpander, false, 0x81}, {0x09, kRieltaExpander, false, 0x01},
      {0x88, kAstraExpander, false, 0x00}, {0x08, kAstraExpander, false, 0x08},
  };
  for (const auto& c : pair) {
    Image image{};
    image[off::kOptionsA] = c.before;
    LeaveOptionABox(image, c.bit, c.checked);
    EXPECT_EQ(image[off::kOptionsA], c.after) << int(c.before) << " bit " << c.bit;
  }

  Image both{};
  both[off::kOptionsA] = 0x88;
  EXPECT_TRUE(OptionABoxShown(both, kAstraExpander));
  EXPECT_FALSE(OptionABoxShown(both, kRieltaExpander));
  both[off::kOptionsA] = 0x08;
  EXPECT_TRUE(OptionABoxShown(both, kRieltaExpander));
}

TEST(ConfigImage, Ds1990AndKeyFobExcludeEachOther) {
  Image image{};
  image[off::kOptionsB] = 0x20 | 0x41;
  ClickDs1990(image, true);
  EXPECT_EQ(image[off::kOptionsB], 0x08 | 0x41);
  ClickKeyFob(image, true);
  EXPECT_EQ(image[off::kOptionsB], 0x20 | 0x41);
  ClickKeyFob(image, false);
  EXPECT_EQ(image[off::kOptionsB], 0x41);
  ClickDs1990(image, true);
  ClickDs1990(image, false);
  EXPECT_EQ(image[off::kOptionsB], 0x41);
}

TEST(ConfigImage, PrepareForWriteClearsOnly127To130) {
  Image image;
  image.fill(0x5A);
  PrepareForWrite(image);
  for (size_t o = 125; o < 133; ++o)
    EXPECT_EQ(image[o], o >= 127 && o <= 130 ? 0 : 0x5A) << o;
}

}  // namespace
