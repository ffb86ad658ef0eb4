#include "configurator/config_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/cp1251.h"
#include "platform/folder.h"
#include "platform/replace_file.h"

namespace configurator {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string HeaderText(uint8_t variant) {
  return platform::Utf8ToCp1251(variant == kVariantGsm ? "Ворда-GSM" : "Ворда-Ф");
}

std::string Num(size_t n) { return std::to_string(n); }

}  // namespace

std::optional<VariantFiles> FilesOfVariant(uint8_t variant) {
  switch (variant) {
    case kVariantF: return VariantFiles{"VordaF", "Vordaf.dat"};
    case kVariantGsm: return VariantFiles{"VordaGSM", "VordaGSM.dat"};
    case kVariantF2AT: return VariantFiles{"VordaF2AT", "Vordaf2AT.dat"};
    default: return std::nullopt;
  }
}

size_t FileImageSize(uint8_t variant) {
  if (HasFLayout(variant)) return off::kEnd;
  if (variant == kVariantGsm) return kImageSize;
  return 0;
}

std::string ConfigFolder(const std::string& exeDir, uint8_t variant, std::string* error) {
  std::filesystem::path folder(exeDir);
  if (const auto files = FilesOfVariant(variant)) folder /= files->folder;
  return platform::EnsureFolder(folder.string(), error);
}

std::vector<uint8_t> ConfigFileBytes(uint8_t variant, const Image& image) {
  const size_t n = FileImageSize(variant);
  if (n == 0) return {};
  std::vector<uint8_t> file(kFileHeaderSize, 0);
  file[0] = uint8_t(kFileHeaderSize);
  file[1] = variant;
  file[2] = 1;
  const std::string text = HeaderText(variant);
  std::copy(text.begin(), text.end(), file.begin() + 3);
  file.insert(file.end(), image.begin(), image.begin() + n);
  return file;
}

bool SaveConfigFile(const std::string& path, uint8_t variant, const Image& image,
                    std::string* error) {
  const std::vector<uint8_t> file = ConfigFileBytes(variant, image);
  if (file.empty()) {
    if (error)
      *error = "Файл не сохранён: неизвестный тип прибора (" + Num(variant) +
               "), его конфигурация не известна.";
    return false;
  }
  return platform::ReplaceFile(path, file.data(), file.size(), error);
}

LoadedConfig ParseConfigFile(std::span<const uint8_t> bytes, const Image& before,
                             uint8_t currentVariant) {
  LoadedConfig r;
  r.image = before;
  std::fill_n(r.image.begin(), off::kEnd, 0);
  auto fail = [&](std::string why) {
    r.formatError = true;
    if (r.why.empty()) r.why = std::move(why);
  };

  if (bytes.empty()) {
    fail("файл пуст");
    return r;
  }
  const size_t h = bytes[0];
  if (h > kMaxFileHeader) {
    fail("длина заголовка " + Num(h) + " больше " + Num(kMaxFileHeader));
    return r;
  }
  if (h < 2) {
    fail("длина заголовка " + Num(h) + " меньше 2");
    return r;
  }
  if (bytes.size() >= 2) r.variant = bytes[1];

  const size_t need = FileImageSize(r.variant);
  if (bytes.size() < h + need)
    fail("файл короче, чем нужно: " + Num(bytes.size()) + " байт из " + Num(h + need));
  if (bytes.size() > h) {
    const size_t n = std::min(need, bytes.size() - h);
    std::copy_n(bytes.begin() + h, n, r.image.begin());
  }

  if (!FilesOfVariant(r.variant))
    fail("неизвестный тип прибора " + Num(r.variant));
  else if (r.variant != currentVariant)
    fail("файл для прибора типа " + Num(r.variant) + ", а тип прибора " +
         Num(currentVariant));
  return r;
}

LoadedConfig LoadConfigFile(const std::string& path, const Image& before,
                            uint8_t currentVariant) {
  const std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  std::string why;
  if (f) {
    // Nothing past the longest header and the largest image is read.
    std::vector<uint8_t> bytes(kMaxFileHeader + kImageSize);
    const size_t n = std::fread(bytes.data(), 1, bytes.size(), f.get());
    if (!std::ferror(f.get())) {
      bytes.resize(n);
      return ParseConfigFile(bytes, before, currentVariant);
    }
    why = std::string("ошибка чтения: ") + std::strerror(errno);
  } else {
    why = std::strerror(errno);
  }
  LoadedConfig r;
  r.image = before;
  std::fill_n(r.image.begin(), off::kEnd, 0);
  r.formatError = true;
  r.why = "файл \"" + path + "\" не прочитан: " + why;
  return r;
}

}  // namespace configurator
