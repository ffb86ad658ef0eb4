#include "platform/folder.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace platform {

std::string EnsureFolder(const std::string& path, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec || !std::filesystem::is_directory(path, ec)) {
    if (error)
      *error = "Не удалось создать папку \"" + path + "\": " +
               (ec ? ec.message() : std::string(std::strerror(ENOTDIR)));
    return {};
  }
  return path;
}

}  // namespace platform
