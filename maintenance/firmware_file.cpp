#include "maintenance/firmware_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace maintenance {

std::optional<std::vector<uint8_t>> ReadFirmwareFile(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  if (f.bad()) return std::nullopt;
  return bytes;
}

}  // namespace maintenance
