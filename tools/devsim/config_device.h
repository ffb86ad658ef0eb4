// A device as the configurator sees it: a configuration image of 2048 bytes
// seeded from a .dat file and dumped to one at exit, and the answers to the
// configurator's frames (identify, programming start, reads, writes, key
// polls), with link faults played on request. Free of I/O but for the two
// files; the engine sends what it returns, and later what falls due.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "devlink/client_record.h"
#include "tools/devsim/delayed.h"

namespace devsim {

// Faults of the link to the configurator, each on the answers counted from 1.
struct ConfigFaults {
  uint32_t dropEvery = 0;   // every K-th answer is lost
  uint32_t lateMs = 0;      // every answer leaves this much later
  uint32_t staleEvery = 0;  // every K-th answer carries the request's sequence byte minus 1
  uint32_t splitGapMs = 0;  // an answer comes in two datagrams this far apart; 0 = whole
  uint32_t splitEvery = 1;  // ... every K-th answer
  // Every answer but the first comes in one datagram behind a stale copy of
  // the previous answer (its sequence byte the request's minus 1).
  bool join = false;
  uint32_t badCrcEvery = 0;  // every K-th answer with a wrong check byte
};

// "drop:K", "late:MS", "stale:K", "split:MS[:K]", "join" or "badcrc:K" added to
// `f`; false for anything else (K from 1).
bool ParseConfigFault(std::string_view text, ConfigFaults* f);

struct ConfigProfile {
  // The image at the start: a .dat file (header length H, variant, header,
  // then 256 or 2048 image bytes from H); empty for a zero image of variant 250.
  std::string seedFile;
  // Where the image goes at exit, in the same format with the seed's header;
  // "{n}" becomes the device's number N1-N2-N3. Empty: not written.
  std::string outFile;
  int identifyVariant = -1;  // the identify answer's variant code; -1 = the image's
  uint8_t version = 23;      // the identify answer's version byte
  uint32_t keyAfter = 2;     // key polls answered "no key" before the key is presented
  // The key at the reader in the order its bytes come off the wire: family
  // code first, CRC-8 last.
  std::array<uint8_t, 8> key = {0x01, 0x5A, 0x3C, 0x96, 0xE1, 0x07, 0x00, 0x93};
  ConfigFaults faults;
};

// How often each fault was played.
struct ConfigFaultCounts {
  uint32_t answers = 0;  // answers made, faults or not
  uint32_t dropped = 0, late = 0, stale = 0, split = 0, joined = 0, badCrc = 0;
};

class ConfigDevice {
 public:
  static constexpr size_t kImageSize = 2048;

  // Loads the seed file; a file that cannot be used leaves the image zero,
  // the variant 250, and says why in `error`.
  explicit ConfigDevice(ConfigProfile p, std::string* error = nullptr);

  // Whether a telegram (check byte right) is a configurator frame:
  // FE L 01 7F seq 00 command, L at least 7.
  static bool IsFrame(const uint8_t* t);

  // Answers one frame received at `nowMs`: the datagram to send now, empty
  // for none; late parts wait for Due. `note` says what happened.
  std::vector<uint8_t> Handle(const uint8_t* frame, int64_t nowMs, std::string* note);
  // The datagrams due by `nowMs`, and when the next one is.
  std::vector<Delayed> Due(int64_t nowMs) { return TakeDue(&later_, nowMs); }
  int64_t NextDue() const { return EarliestDue(later_); }

  // Writes the image to the profile's out file for device `n`; true when
  // there is none. `note` names the file written or says why not.
  bool Dump(const devlink::ConsoleNumber& n, std::string* note) const;

  const std::array<uint8_t, kImageSize>& Image() const { return image_; }
  uint8_t Variant() const { return header_[1]; }
  const ConfigFaultCounts& Counts() const { return counts_; }

  // The .dat bytes the dump writes: the header, then the variant's image size.
  std::vector<uint8_t> FileBytes() const;

 private:
  std::vector<uint8_t> Answer(const uint8_t* frame, std::string* note);
  std::vector<uint8_t> Faulted(std::vector<uint8_t> answer, uint8_t seq, int64_t nowMs, std::string* note);

  ConfigProfile p_;
  std::vector<uint8_t> header_;
  std::array<uint8_t, kImageSize> image_{};
  uint32_t polls_ = 0;  // key polls since the key was last presented
  std::vector<uint8_t> previous_;  // the last answer made, as made
  ConfigFaultCounts counts_;
  std::vector<Delayed> later_;
};

}  // namespace devsim
