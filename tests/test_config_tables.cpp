// The user code and key tables: their encoding into the image and back, key
// entry and keys read at the device.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "configurator/code_tables.h"

namespace {

using namespace configurator;

uint8_t Digits(std::mt19937& rng) {
  std::uniform_int_distribution<int> d(0, 9);
  return uint8_t(d(rng) | d(rng) << 4);
}

// A random image whose codes are digits (the only thing a code cell can hold)
// and whose installer code is 0 0 (the tables never carry it).
Image RandomImage(uint32_t seed) {
  std::mt19937 rng(seed);
  Image image;
  for (uint8_t& b : image) b = uint8_t(rng());
  for (size_t r = 0; r < off::kCodeRecords; ++r)
    for (size_t i = 0; i < 4; ++i) image[off::kCodeRecordSize * r + i] = Digits(rng);
  image[2] = image[3] = 0;
  image[off::kCodeRecordSize * 5] = image[off::kCodeRecordSize * 5 + 1] = 0;  // an empty code
  image[off::kKeys + 8] = image[off::kKeys + 9] = image[off::kKeys + 10] =
      image[off::kKeys + 11] = 0;  // an empty key
  return image;
}

TEST(ConfigTables, CodesAreNibblesInEntryOrder) {
  Image image{};
  image[2] = image[3] = 0x77;  // the installer code, never carried by the table
  image[5 * 3 + 1] = 0x99;
  CodeTable t = CodesFromImage(image);
  EXPECT_EQ(t[0].second, "Код Уст");
  EXPECT_EQ(t[1].code, "");

  const struct {
    const char* text;
    uint8_t b0, b1;
  } cells[] = {
      {"1234", 0x21, 0x43}, {"", 0x00, 0x00}, {"12", 0x00, 0x00},
      {"123", 0x21, 0x99},  // three characters reach only byte 0
      {"1x34", 0x01, 0x43}, {"123456", 0x21, 0x43},
  };
  for (const auto& c : cells) {
    SCOPED_TRACE(c.text);
    Image enc = image;
    CodeTable table = t;
    table[3].code = c.text;  // the 4th record, code at 15..16
    CodesIntoImage(table, enc);
    EXPECT_EQ(enc[15], c.b0);
    EXPECT_EQ(enc[16], c.b1);
  }

  t[2].code = "1234";
  t[2].marks = {true, false, false, true, false, false, false, true};
  t[0].second = "9999";  // not parsed
  CodesIntoImage(t, image);
  EXPECT_EQ(image[10], 0x21);
  EXPECT_EQ(image[11], 0x43);
  EXPECT_EQ(image[14], 0x89);
  EXPECT_EQ(image[2], 0);
  EXPECT_EQ(image[3], 0);
  EXPECT_EQ(CodesFromImage(image)[2].code, "1234");
}

TEST(ConfigTables, CellFiltersAndRowNumbers) {
  EXPECT_TRUE(CodeCellKey("123", '4'));
  EXPECT_FALSE(CodeCellKey("1234", '5'));
  EXPECT_TRUE(CodeCellKey("1234", kBackspace));
  EXPECT_FALSE(CodeCellKey("", 'a'));

  EXPECT_TRUE(KeyEntryKey("", 'f'));
  EXPECT_TRUE(KeyEntryKey("", 'F'));
  EXPECT_FALSE(KeyEntryKey("", 'g'));
  EXPECT_FALSE(KeyEntryKey(std::string(16, '0'), 'a'));
  EXPECT_TRUE(KeyEntryKey(std::string(16, '0'), kEnter));
  EXPECT_TRUE(KeyEntryKey(std::string(16, '0'), kBackspace));

  EXPECT_EQ(CodeRowNumber(1), "0");
  EXPECT_EQ(CodeRowNumber(2), "1");
  EXPECT_EQ(CodeRowNumber(20), "37");
  EXPECT_EQ(KeyRowNumber(1, false), "2");
  EXPECT_EQ(KeyRowNumber(16, false), "32");
  EXPECT_EQ(KeyRowNumber(1, true), "0");
  EXPECT_EQ(KeyRowNumber(16, true), "15");
}

TEST(ConfigTables, KeysAreStoredReversed) {
  Image image{};
  KeyTable t = KeysFromImage(image, kVariantF);
  t[1].hex = "A1B2C3D4";
  t[0].hex = "a1b";  // lower case; missing characters count as 0
  t[0].marks = {true, false, true, false, false, false, false, true};
  KeysIntoImage(t, image, kVariantF);
  EXPECT_EQ(image[163], 0xA1);
  EXPECT_EQ(image[162], 0xB2);
  EXPECT_EQ(image[161], 0xC3);
  EXPECT_EQ(image[160], 0xD4);
  EXPECT_EQ(image[159], 0xA1);
  EXPECT_EQ(image[158], 0xB0);
  EXPECT_EQ(image[157], 0x00);
  EXPECT_EQ(image[235], 0x85);
  const KeyTable back = KeysFromImage(image, kVariantF);
  EXPECT_EQ(back[1].hex, "A1B2C3D4");
  EXPECT_EQ(back[0].hex, "A1B00000");
  EXPECT_EQ(back[2].hex, "");
}

TEST(ConfigTables, OnlyTheVariantsOwnKeyFieldsAreEncoded) {
  Image image;
  image.fill(0x5A);
  KeyTable t{};
  t[0].hex = "01020304";

  Image f2at = image;
  KeysIntoImage(t, f2at, kVariantF2AT);
  EXPECT_EQ(f2at[156], 0x04);
  EXPECT_EQ(f2at[160], 0x00);
  for (size_t o = off::kKeyPermissions; o < off::kKeyPermissions + 16; ++o)
    EXPECT_EQ(f2at[o], 0x5A) << "252's permissions are kept, offset " << o;
  EXPECT_EQ(KeysFromImage(f2at, kVariantF2AT)[0].marks, (std::array<bool, 8>{}));

  for (uint8_t v : {kVariantGsm, uint8_t(0)}) {
    Image other = image;
    KeysIntoImage(t, other, v);
    EXPECT_EQ(other, image) << int(v);
  }
}

TEST(ConfigTables, TablesRoundTripTheImage) {
  for (uint8_t v : {kVariantF, kVariantF2AT}) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      SCOPED_TRACE(testing::Message() << int(v) << " seed " << seed);
      const Image image = RandomImage(seed);
      Image back = image;
      CodesIntoImage(CodesFromImage(image), back);
      KeysIntoImage(KeysFromImage(image, v), back, v);
      EXPECT_EQ(back, image);
    }
  }
}

TEST(ConfigTables, KeyEntryAndKeysReadAtTheDevice) {
  EXPECT_EQ(ParseKeyEntry("5e000001a2b3c401"),
            (KeyBuffer{0x5E, 0x00, 0x00, 0x01, 0xA2, 0xB3, 0xC4, 0x01}));
  EXPECT_FALSE(ParseKeyEntry("5E000001A2B3C4"));
  EXPECT_FALSE(ParseKeyEntry("5E000001A2B3C40G"));

  // The device sends the key as read from the wire: family code first, CRC last.
  const std::vector<uint8_t> data = {0x01, 0xC4, 0xB3, 0xA2, 0x01, 0x00, 0x00, 0x5E};
  const PolledKey k = KeyBufferFromReply(data, KeyBuffer{});
  EXPECT_EQ(k.buffer, (KeyBuffer{0x5E, 0x00, 0x00, 0x01, 0xA2, 0xB3, 0xC4, 0x01}));
  EXPECT_EQ(k.text, "5E000001A2B3C401");
  EXPECT_EQ(KeyTextFromBuffer(k.buffer, kVariantF), "01A2B3C4");
  EXPECT_EQ(KeyTextFromBuffer(k.buffer, kVariantF2AT), "01A2B3C4");
  EXPECT_EQ(KeyTextFromBuffer(k.buffer, kVariantGsm), "5E000001A2B3C401");

  // A longer answer shows every byte; a shorter one leaves the rest of the buffer.
  const std::vector<uint8_t> ten = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
  const PolledKey longer = KeyBufferFromReply(ten, KeyBuffer{});
  EXPECT_EQ(longer.text, "00010203040506070809");
  EXPECT_EQ(longer.buffer, (KeyBuffer{0, 1, 2, 3, 4, 5, 6, 7}));
  const std::vector<uint8_t> two = {0xAA, 0xBB};
  EXPECT_EQ(KeyBufferFromReply(two, KeyBuffer{1, 2, 3, 4, 5, 6, 7, 8}).buffer,
            (KeyBuffer{0xBB, 0xAA, 3, 4, 5, 6, 7, 8}));

  KeyTable t{};
  t[0].hex = "01A2B3C4";
  t[15].hex = "01A2B3C4";
  t[7].hex = "01A2B3C5";
  EXPECT_EQ(RowsHoldingKey(t, "01A2B3C4"), (std::vector<int>{0, 15}));
}

}  // namespace
