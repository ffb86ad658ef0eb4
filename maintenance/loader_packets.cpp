#include "maintenance/loader_packets.h"

#include "devlink/crc8.h"

namespace maintenance {

namespace {

// A plain maintenance request with its check byte at L + 1.
std::vector<uint8_t> PlainRequest(std::vector<uint8_t> t) {
  t[1] = uint8_t(t.size() - 1);
  t.push_back(0);
  devlink::SetCheckByte(t.data());
  return t;
}

// 0xEF, L, 0x55, code, data, check byte, with at least `dataBytes` data bytes.
bool IsAnswer(std::span<const uint8_t> a, uint8_t code, size_t dataBytes) {
  if (a.size() < 4 || a[0] != 0xEF || a[2] != 0x55 || a[3] != code) return false;
  if (size_t(a[1]) < 3 + dataBytes) return false;
  return devlink::CheckByteOk(a.data(), a.size());
}

std::string UnknownChip(uint8_t glChipKind) {
  return "Неизвестный тип микросхемы прибора (" + std::to_string(glChipKind) +
         "). Обновление запрещено.";
}

}  // namespace

std::optional<ChipKind> ChipKindOf(uint8_t glChipKind) {
  if (glChipKind > uint8_t(ChipKind::k46k22)) return std::nullopt;
  return ChipKind(glChipKind);
}

const char* ChipName(ChipKind chip) {
  switch (chip) {
    case ChipKind::k4620: return "4620";
    case ChipKind::k67k22: return "67k22";
    case ChipKind::k46k22: return "46k22";
  }
  return "";
}

std::string FirmwareNameRefusal(const std::string& path, uint8_t glChipKind) {
  const auto chip = ChipKindOf(glChipKind);
  if (!chip) return UnknownChip(glChipKind);
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto has = [&name](const char* s) { return name.find(s) != std::string::npos; };
  if (!has("67k22") && !has("4620") && !has("46k22"))
    return "Файл -> (" + path + ") не корректен. Ошибочный файл.";
  if (*chip == ChipKind::k67k22 && !has("67k22"))
    return "Файл -> (" + path + ") не корректен(не 67k22). Ошибочный файл.";
  if (*chip == ChipKind::k4620 && !has("4620"))
    return "Файл -> (" + path + ") не корректен(не 4620). Ошибочный файл.";
  return "";
}

std::vector<uint8_t> JumpToLoaderTelegram(ChipKind) {
  // Byte 2 is 0x01 here, not the marker 0x55 of other requests.
  return PlainRequest({0xFE, 0, 0x01, kCodeJumpToLoader, 0x00, 0x00, 0xD9});
}

std::vector<uint8_t> EraseTelegram() { return PlainRequest({0xFE, 0, 0x55, kCodeErase}); }

std::vector<LoaderPacket> BuildLoaderPackets(const HexFile& file) {
  std::vector<LoaderPacket> packets;
  LoaderPacket p;
  for (const HexRecord& r : file.records) {
    if (!p.bytes.empty() && p.bytes.size() + r.text.size() > kMaxPacketChars) {
      packets.push_back(std::move(p));
      p = LoaderPacket{};
    }
    if (p.bytes.empty()) p.firstLine = r.line;
    p.bytes.insert(p.bytes.end(), r.text.begin(), r.text.end());
    p.lastChecksum = r.checksum;
    p.fileOffset = r.end;
    p.lastLine = r.line;
  }
  if (!p.bytes.empty()) packets.push_back(std::move(p));
  return packets;
}

std::optional<LoaderPlan> PlanMainControllerUpdate(const HexFile& file, uint8_t glChipKind,
                                                   std::string* why) {
  const auto chip = ChipKindOf(glChipKind);
  if (!chip) {
    if (why) *why = UnknownChip(glChipKind);
    return std::nullopt;
  }
  LoaderPlan plan;
  plan.chip = *chip;
  plan.jump = JumpToLoaderTelegram(*chip);
  plan.erase = EraseTelegram();
  plan.packets = BuildLoaderPackets(file);
  plan.fileSize = file.size;
  return plan;
}

bool EraseAnswered(std::span<const uint8_t> answer) {
  return IsAnswer(answer, kCodeEraseAnswer, 0);
}

bool PacketTaken(std::span<const uint8_t> answer, const LoaderPacket& packet) {
  return IsAnswer(answer, kCodePacketAnswer, 2) && answer[4] == 0 &&
         answer[5] == packet.lastChecksum;
}

}  // namespace maintenance
