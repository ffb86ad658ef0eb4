// Arbitrary bytes as a firmware file: a refusal names a line of the file; an
// accepted file is exactly its records' lines with CR LF (digits aside from
// case), reads back the same, and its packets carry every line once, in
// order, in as few packets as fit under 512 characters, each taken by its
// own checksum answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "devlink/crc8.h"
#include "maintenance/intel_hex.h"
#include "maintenance/loader_packets.h"

using namespace maintenance;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  HexRefusal why;
  const auto file = ReadFirmwareHex(in, &why);
  if (!file) {
    size_t lines = 1;
    for (char c : in) lines += c == '\n';
    if (why.line < 1 || why.line > lines + 1) std::abort();
    if (why.reason.rfind("Строка " + std::to_string(why.line) + ": ", 0) != 0) std::abort();
    return 0;
  }

  std::string upper(in);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
  }
  std::string joined, carried;
  for (size_t i = 0; i < file->records.size(); ++i) {
    const HexRecord& r = file->records[i];
    if ((r.type == kRecordEnd) != (i + 1 == file->records.size())) std::abort();
    if (r.text.size() > kMaxPacketChars || r.line != i + 1) std::abort();
    joined += r.text + "\r\n";
    carried += r.text;
    if (r.end != joined.size()) std::abort();
  }
  if (joined != upper) std::abort();
  const auto again = ReadFirmwareHex(joined, nullptr);
  if (!again || again->records != file->records) std::abort();

  std::string sent;
  const auto packets = BuildLoaderPackets(*file);
  for (size_t k = 0; k < packets.size(); ++k) {
    const LoaderPacket& p = packets[k];
    if (p.bytes.empty() || p.bytes.size() > kMaxPacketChars) std::abort();
    // A packet closes only when the next line would not fit.
    if (k + 1 < packets.size() &&
        p.bytes.size() + file->records[packets[k + 1].firstLine - 1].text.size() <= kMaxPacketChars)
      std::abort();
    sent.append(p.bytes.begin(), p.bytes.end());
    const HexRecord& last = file->records[p.lastLine - 1];
    if (p.lastChecksum != last.checksum || p.fileOffset != last.end) std::abort();
    uint8_t answer[7] = {0xEF, 5, 0x55, kCodePacketAnswer, 0, p.lastChecksum, 0};
    devlink::SetCheckByte(answer);
    if (!PacketTaken(answer, p)) std::abort();
  }
  if (sent != carried || packets.back().fileOffset != size) std::abort();
  return 0;
}
