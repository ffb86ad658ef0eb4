// Configuration files: hand-built files of each variant load and save back
// byte for byte; malformed ones are reported and load what they hold.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "configurator/config_file.h"

namespace {

using namespace configurator;
using Bytes = std::vector<uint8_t>;

// A file as the device's own program writes it: H = 100, the variant, 1, the
// name in Windows-1251, zeros, then the image bytes 0, 1, 2, ...
Bytes GoldenFile(uint8_t variant) {
  Bytes f = {100, variant, 1};
  const Bytes name = variant == 251
                         ? Bytes{0xC2, 0xEE, 0xF0, 0xE4, 0xE0, 0x2D, 'G', 'S', 'M'}   // Ворда-GSM
                         : Bytes{0xC2, 0xEE, 0xF0, 0xE4, 0xE0, 0x2D, 0xD4};          // Ворда-Ф
  f.insert(f.end(), name.begin(), name.end());
  f.resize(100, 0);
  const size_t n = variant == 251 ? 2048 : 256;
  for (size_t i = 0; i < n; ++i) f.push_back(uint8_t(i * 7 + 3));
  return f;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                              std::streamsize(b.size()));
}

class ConfigFile : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/test_config_file.XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

TEST_F(ConfigFile, GoldenFilesLoadAndSaveByteForByte) {
  for (uint8_t v : {kVariantF, kVariantGsm, kVariantF2AT}) {
    SCOPED_TRACE(int(v));
    const Bytes golden = GoldenFile(v);
    ASSERT_EQ(golden.size(), v == kVariantGsm ? 2148u : 356u);
    const std::string path = File("in.dat");
    WriteAll(path, golden);

    Image before;
    before.fill(0xEE);
    const LoadedConfig loaded = LoadConfigFile(path, before, v);
    EXPECT_FALSE(loaded.formatError) << loaded.why;
    EXPECT_EQ(loaded.variant, v);
    EXPECT_TRUE(std::equal(golden.begin() + 100, golden.end(), loaded.image.begin()));
    if (v != kVariantGsm) {
      EXPECT_EQ(loaded.image[256], 0xEE) << "beyond the file: kept";
    }

    EXPECT_EQ(ConfigFileBytes(v, loaded.image), golden);
    std::string error;
    ASSERT_TRUE(SaveConfigFile(File("out.dat"), v, loaded.image, &error)) << error;
    EXPECT_EQ(ReadAll(File("out.dat")), golden);
  }
}

TEST_F(ConfigFile, MalformedFilesAreFormatErrorsAndLoadWhatTheyHold) {
  const Bytes f250 = GoldenFile(kVariantF);
  Bytes longHeader(201, 0);
  longHeader[0] = 201;
  longHeader[1] = kVariantF;
  longHeader.resize(201 + 256, 0x11);
  Bytes h1 = f250;
  h1[0] = 1;
  Bytes h0 = f250;
  h0[0] = 0;
  const Bytes shortFile(f250.begin(), f250.begin() + 300);
  Bytes unknown = f250;
  unknown[1] = 253;
  Bytes shortHeader = {2, kVariantF};  // H = 2 and an image right after it
  for (int i = 0; i < 256; ++i) shortHeader.push_back(uint8_t(i * 7 + 3));

  const struct {
    const char* name;
    Bytes file;
    uint8_t device;
    bool formatError;
    uint8_t variant;
    size_t supplied;  // image bytes the file gave
  } cases[] = {
      {"LongHeader", longHeader, kVariantF, true, 0, 0},
      {"HeaderOfOne", h1, kVariantF, true, 0, 0},
      {"HeaderOfZero", h0, kVariantF, true, 0, 0},
      {"Short", shortFile, kVariantF, true, kVariantF, 200},
      {"UnknownVariant", unknown, kVariantF, true, 253, 0},
      {"F2ATFileOnFDevice", GoldenFile(kVariantF2AT), kVariantF, true, kVariantF2AT, 256},
      {"NoDeviceIdentified", f250, 0, true, kVariantF, 256},
      {"Empty", {}, kVariantF, true, 0, 0},
      {"SmallestHeader", shortHeader, kVariantF, false, kVariantF, 256},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Image before;
    before.fill(0xEE);
    const LoadedConfig r = ParseConfigFile(c.file, before, c.device);
    EXPECT_EQ(r.formatError, c.formatError);
    EXPECT_EQ(r.formatError, !r.why.empty()) << r.why;
    EXPECT_EQ(r.variant, c.variant);
    for (size_t o = 0; o < 256; ++o) {
      const uint8_t want = o < c.supplied ? uint8_t(o * 7 + 3) : 0;
      ASSERT_EQ(r.image[o], want) << "offset " << o;
    }
    EXPECT_EQ(r.image[256], 0xEE);
  }
}

TEST_F(ConfigFile, UnreadableAndUnsavable) {
  Image before;
  before.fill(0xEE);
  const LoadedConfig r = LoadConfigFile(File("missing.dat"), before, kVariantF);
  EXPECT_TRUE(r.formatError);
  EXPECT_EQ(r.variant, 0);
  EXPECT_EQ(r.image[0], 0);
  EXPECT_EQ(r.image[255], 0);
  EXPECT_EQ(r.image[256], 0xEE);

  std::string error;
  EXPECT_TRUE(ConfigFileBytes(0, before).empty());
  EXPECT_FALSE(SaveConfigFile(File("x.dat"), 0, before, &error));
  EXPECT_NE(error.find("неизвестный тип прибора"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(File("x.dat")));
  EXPECT_FALSE(SaveConfigFile(File("no/such/dir/x.dat"), kVariantF, before, &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(ConfigFile, FoldersPerVariant) {
  std::string error;
  EXPECT_EQ(ConfigFolder(dir_, kVariantF, &error), File("VordaF"));
  EXPECT_TRUE(std::filesystem::is_directory(File("VordaF")));
  EXPECT_EQ(ConfigFolder(dir_, kVariantGsm, &error), File("VordaGSM"));
  EXPECT_EQ(ConfigFolder(dir_, kVariantF2AT, &error), File("VordaF2AT"));
  EXPECT_EQ(ConfigFolder(dir_, 7, &error), dir_);
  EXPECT_EQ(FilesOfVariant(kVariantF)->defaultName, "Vordaf.dat");
  EXPECT_EQ(FilesOfVariant(kVariantGsm)->defaultName, "VordaGSM.dat");
  EXPECT_EQ(FilesOfVariant(kVariantF2AT)->defaultName, "Vordaf2AT.dat");
  WriteAll(File("plain"), {1});
  EXPECT_EQ(ConfigFolder(File("plain"), kVariantF, &error), "");
  EXPECT_FALSE(error.empty());
}

}  // namespace
