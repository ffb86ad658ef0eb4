// Device network settings files: exactly the 110 bytes of the network block,
// header 0xEF 0x6C 0x55 0x0C, in the folder "Network_1" beside the executable.
// The check byte is the one the block holds, not recomputed; nothing of a
// file is tested when it is loaded.
#pragma once

#include <span>
#include <optional>
#include <string>
#include <string_view>

#include "maintenance/settings_blocks.h"

namespace maintenance {

inline constexpr const char* kSettingsFolderName = "Network_1";
inline constexpr const char* kDefaultSettingsFileName = "Untitled.dat";
// The warning shown when a settings file cannot be written.
inline constexpr const char* kFileAccessError = "File access error";

// "<exeDir>/Network_1", created when missing; empty on failure, with the
// reason in `error`.
std::string SettingsFolder(const std::string& exeDir, std::string* error);

enum class DatLoad {
  kLoaded,
  kNotOpened,  // ignored without a word
  kTooShort,   // reported; the block is unchanged
  kReadError,  // reported; the block is unchanged
};

// The first 110 bytes of a file's content into the block, except the MAC
// address (bytes 41..46), which stays the current device's.
DatLoad LoadSettingsImage(std::span<const uint8_t> content, NetworkBlock& block);

// Reads the file into the block as above; `error` says why it did not.
DatLoad ReadSettingsFile(const std::string& path, NetworkBlock& block, std::string* error);

// The 110 bytes a file holds for this block: its header made 0xEF 0x6C 0x55
// 0x0C, the rest as it stands.
NetworkBlock SettingsFileImage(const NetworkBlock& block);

// Writes the file image into a temporary file beside `path` that replaces it
// only when complete. False with the reason in `error`; the old file stays.
bool WriteSettingsFile(const std::string& path, const NetworkBlock& block, std::string* error);

// A settings image as 220 hexadecimal digits (upper case) and back, for the
// control socket; nullopt for any other text.
std::string ImageToHex(const NetworkBlock& block);
std::optional<NetworkBlock> ImageFromHex(std::string_view hex);

}  // namespace maintenance
