// Configuration files (".dat"): a header of H bytes (H, variant, 1, the
// device name in Windows-1251, zeros up to H) and the image, 256 bytes for
// the "VordaF" variants and 2048 for "VordaGSM". One folder per variant
// beside the executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/image.h"

namespace configurator {

inline constexpr size_t kFileHeaderSize = 100;  // as written
inline constexpr size_t kMaxFileHeader = 200;   // the largest one read

// The message box shown for a file that is not what the device needs.
inline constexpr std::string_view kFormatErrorText = "Ошибка";
inline constexpr std::string_view kFormatErrorCaption = "Неверный формат файла";

struct VariantFiles {
  std::string_view folder;       // below the executable's folder
  std::string_view defaultName;  // proposed on saving
};
// Nullopt for a variant other than 250, 251, 252.
std::optional<VariantFiles> FilesOfVariant(uint8_t variant);

// The image bytes a file of the variant holds: 256, 2048, or 0 when unknown.
size_t FileImageSize(uint8_t variant);

// The folder for the variant's files, created when missing; the executable's
// folder itself for an unknown variant. Empty on failure, with the reason.
std::string ConfigFolder(const std::string& exeDir, uint8_t variant, std::string* error);

// The whole file for the image: 356 bytes for 250 and 252, 2148 for 251;
// empty for any other variant.
std::vector<uint8_t> ConfigFileBytes(uint8_t variant, const Image& image);

// Writes the file whole (the old one stays until the new one is complete).
// An unknown variant is refused. False with the message in `error`.
bool SaveConfigFile(const std::string& path, uint8_t variant, const Image& image,
                    std::string* error);

struct LoadedConfig {
  uint8_t variant = 0;  // the file's variant byte; 0 when it could not be read
  Image image{};        // what to show: offsets 0..255 zeroed, then the file's bytes
  bool formatError = false;  // show kFormatErrorText / kFormatErrorCaption
  std::string why;           // the reason, for the message log
};

// A file's bytes loaded over `before`: offsets 0..255 become 0 and take what
// the file supplies (0..2047 for 251). A format error is reported for a
// header length below 2 or above 200, a file shorter than its variant needs,
// an unknown variant, or a variant other than `currentVariant`; the image
// still holds what the file supplied.
LoadedConfig ParseConfigFile(std::span<const uint8_t> bytes, const Image& before,
                             uint8_t currentVariant);

// The same from a file; one that cannot be read is a format error with
// variant 0 and offsets 0..255 zero.
LoadedConfig LoadConfigFile(const std::string& path, const Image& before,
                            uint8_t currentVariant);

}  // namespace configurator
