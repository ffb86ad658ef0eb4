#include "maintenance/settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/folder.h"
#include "platform/hex_text.h"
#include "platform/replace_file.h"

namespace maintenance {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string SettingsFolder(const std::string& exeDir, std::string* error) {
  return platform::EnsureFolder((std::filesystem::path(exeDir) / kSettingsFolderName).string(), error);
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

std::string ImageToHex(const NetworkBlock& block) { return platform::HexEncode(block); }

std::optional<NetworkBlock> ImageFromHex(std::string_view hex) {
  const auto bytes = platform::HexDecode(hex);
  NetworkBlock block{};
  if (!bytes || bytes->size() != block.size()) return std::nullopt;
  std::copy(bytes->begin(), bytes->end(), block.begin());
  return block;
}

}  // namespace maintenance
