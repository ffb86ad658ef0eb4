// What the server sends to the main controller's loader during one firmware
// update, byte for byte, and the checks of the loader's answers. The exchange
// itself (waits, tries, progress, messages) belongs to `UpdateMainController`;
// nothing here waits or sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "maintenance/intel_hex.h"

namespace maintenance {

// Main controller chip as the version answer names it (`GlChipKind`).
enum class ChipKind : uint8_t { k4620 = 0, k67k22 = 1, k46k22 = 2 };

// The chip of a `GlChipKind` value; nothing for a kind this server does not know.
std::optional<ChipKind> ChipKindOf(uint8_t glChipKind);
// The chip's name in file names and messages: "4620", "67k22", "46k22".
const char* ChipName(ChipKind chip);

inline constexpr uint8_t kCodeJumpToLoader = 0x7F;
inline constexpr uint8_t kCodeErase = 0x13;
// The erase request carries 0x13 and is answered with 0x12.
inline constexpr uint8_t kCodeEraseAnswer = 0x12;
inline constexpr uint8_t kCodePacketAnswer = 0x13;

// The file name test made before anything is sent: empty when the file at
// `path` may go to a chip of kind `glChipKind`, otherwise the message for the
// log. The name (without folder) must contain "67k22", "4620" or "46k22"; a
// 67k22 needs "67k22", a 4620 needs "4620", a 46k22 takes any of the three;
// an unknown chip kind refuses every file.
std::string FirmwareNameRefusal(const std::string& path, uint8_t glChipKind);

// 0xFE, 0x06, 0x01, 0x7F, 0x00, 0x00, 0xD9, check byte: the same for every chip kind.
std::vector<uint8_t> JumpToLoaderTelegram(ChipKind chip);
// 0xFE, 0x03, 0x55, 0x13, check byte.
std::vector<uint8_t> EraseTelegram();

// Whole lines of the file without their CR LF, one after the other, at most
// 511 characters; sent as they are, no framing and no check byte.
struct LoaderPacket {
  std::vector<uint8_t> bytes;  // upper-case text
  uint8_t lastChecksum = 0;    // checksum of the last record: the loader answers with it
  size_t fileOffset = 0;       // the file's read position once the packet is built
  size_t firstLine = 0;        // 1-based line numbers of the first and the last line
  size_t lastLine = 0;

  friend bool operator==(const LoaderPacket&, const LoaderPacket&) = default;
};

// The file's lines grouped in file order: a line joins the packet while the
// packet stays below 512 characters, otherwise it opens the next packet.
std::vector<LoaderPacket> BuildLoaderPackets(const HexFile& file);

// Everything one update sends, in order: the jump (repeated before each erase
// try), the erase, then each packet until it is taken.
struct LoaderPlan {
  ChipKind chip = ChipKind::k4620;
  std::vector<uint8_t> jump;
  std::vector<uint8_t> erase;
  std::vector<LoaderPacket> packets;
  size_t fileSize = 0;  // the operation progress maximum
};

// The plan for a checked file and a `GlChipKind` value; nothing, with `why`
// (may be null) for the log, when the chip kind is unknown.
std::optional<LoaderPlan> PlanMainControllerUpdate(const HexFile& file, uint8_t glChipKind,
                                                   std::string* why);

// True when `answer` (as `GlAnswerBuf` holds it) is a valid maintenance answer,
// 0xEF, L, 0x55, code, data, check byte, with the erase answer code 0x12.
bool EraseAnswered(std::span<const uint8_t> answer);

// True when `answer` takes `packet`: a valid maintenance answer with code
// 0x13, byte 4 equal to 0 and byte 5 equal to the checksum of the packet's
// last record.
bool PacketTaken(std::span<const uint8_t> answer, const LoaderPacket& packet);

}  // namespace maintenance
