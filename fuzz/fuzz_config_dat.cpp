// Arbitrary bytes as a configuration file (the first input byte is the
// connected device's variant): whatever loads is shown in the code and key
// tables and saved again. A file that loads without a format error saves back
// to the same image bytes, and nothing outside what the file supplied changes.
// The largest file is 2248 bytes: run with -max_len=2400.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include <unistd.h>

#include "configurator/code_tables.h"
#include "configurator/config_file.h"
#include "configurator/image.h"

namespace {

using namespace configurator;

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

// What the window does with a loaded image: repair, show the tables, encode them.
void ShowAndEncode(Image image, uint8_t variant) {
  RepairForShow(image);
  Require(image[off::kOutput2Type] <= 4 && (image[off::kOutput1Type] & 0x0F) <= 4);
  const Image shown = image;
  KeysIntoImage(KeysFromImage(image, variant), image, variant);
  Require(image == shown);  // keys and their permissions survive the table
  CodesIntoImage(CodesFromImage(image), image);
  const Image once = image;
  CodesIntoImage(CodesFromImage(image), image);
  Require(image == once);  // the second pass changes nothing
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t device = data[0];
  const std::span<const uint8_t> file(data + 1, size - 1);

  Image before;
  before.fill(0x5A);
  const LoadedConfig r = ParseConfigFile(file, before, device);
  Require(r.formatError == !r.why.empty());
  const size_t supplied = r.variant == kVariantGsm ? kImageSize : off::kEnd;
  Require(std::all_of(r.image.begin() + supplied, r.image.end(),
                      [](uint8_t b) { return b == 0x5A; }));

  if (!r.formatError) {
    Require(HasFLayout(r.variant) || r.variant == kVariantGsm);
    Require(r.variant == device);
    const size_t h = file[0], n = FileImageSize(r.variant);
    Require(file.size() >= h + n);
    Require(std::equal(file.begin() + h, file.begin() + h + n, r.image.begin()));
    const std::vector<uint8_t> saved = ConfigFileBytes(r.variant, r.image);
    Require(saved.size() == kFileHeaderSize + n);
    const LoadedConfig again = ParseConfigFile(saved, before, device);
    Require(!again.formatError && again.image == r.image);
  }
  if (HasFLayout(r.variant)) ShowAndEncode(r.image, r.variant);

  // The same bytes through a file.
  static const std::string path = "/tmp/fuzz_config_dat_" + std::to_string(::getpid()) + ".dat";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    const LoadedConfig fromFile = LoadConfigFile(path, before, device);
    if (file.size() <= kMaxFileHeader + kImageSize)
      Require(fromFile.variant == r.variant && fromFile.image == r.image &&
              fromFile.formatError == r.formatError);
    std::remove(path.c_str());
  }
  return 0;
}
