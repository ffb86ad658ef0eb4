#include "maintenance/settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/replace_file.h"

namespace maintenance {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string SettingsFolder(const std::string& exeDir, std::string* error) {
  const std::filesystem::path folder = std::filesystem::path(exeDir) / kSettingsFolderName;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec)) {
    if (error)
      *error = "Не удалось создать папку \"" + folder.string() + "\": " +
               (ec ? ec.message() : std::string(std::strerror(ENOTDIR)));
    return {};
  }
  return folder.string();
}

DatLoad LoadSettingsImage(std::span<const uint8_t> content, NetworkBlock& block) {
  if (content.size() < block.size()) return DatLoad::kTooShort;
  MacAddress mac;
  std::copy_n(block.begin() + net::kMac, mac.size(), mac.begin());
  std::copy_n(content.begin(), block.size(), block.begin());
  std::copy(mac.begin(), mac.end(), block.begin() + net::kMac);
  return DatLoad::kLoaded;
}

DatLoad ReadSettingsFile(const std::string& path, NetworkBlock& block, std::string* error) {
  auto say = [&](const std::string& what) {
    if (error) *error = "Файл настроек \"" + path + "\": " + what;
  };
  const std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    say(std::strerror(errno));
    return DatLoad::kNotOpened;
  }
  NetworkBlock content{};
  const size_t n = std::fread(content.data(), 1, content.size(), f.get());
  if (n < content.size() && std::ferror(f.get())) {
    say(std::string("ошибка чтения: ") + std::strerror(errno));
    return DatLoad::kReadError;
  }
  const DatLoad r = LoadSettingsImage(std::span(content.data(), n), block);
  if (r == DatLoad::kTooShort)
    say("короче " + std::to_string(block.size()) + " байт, настройки не изменены");
  return r;
}

NetworkBlock SettingsFileImage(const NetworkBlock& block) {
  NetworkBlock image = block;
  image[0] = 0xEF;
  image[1] = uint8_t(kNetworkBlockSize - 2);
  image[2] = 0x55;
  image[3] = 0x0C;
  return image;
}

bool WriteSettingsFile(const std::string& path, const NetworkBlock& block, std::string* error) {
  const NetworkBlock image = SettingsFileImage(block);
  return platform::ReplaceFile(path, image.data(), image.size(), error);
}

std::string ImageToHex(const NetworkBlock& block) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t v : block) {
    out += kDigits[v >> 4];
    out += kDigits[v & 15];
  }
  return out;
}

std::optional<NetworkBlock> ImageFromHex(std::string_view hex) {
  NetworkBlock block{};
  if (hex.size() != 2 * block.size()) return std::nullopt;
  const auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < block.size(); ++i) {
    const int hi = digit(hex[2 * i]), lo = digit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    block[i] = uint8_t(hi * 16 + lo);
  }
  return block;
}

}  // namespace maintenance
