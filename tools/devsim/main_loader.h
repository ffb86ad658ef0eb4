// The main controller's loader of a simulated device. After the jump command
// it takes the erase, then packets of Intel HEX lines (each line's count,
// digits and checksum checked), answers each packet with the checksum of its
// last line, and once the end record has come writes the assembled image out
// as an Intel HEX file. Faults play a loader or a link that misbehaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devlink/client_record.h"

namespace devsim {

using devlink::ConsoleNumber;

struct MainLoaderProfile {
  // Where the image goes once the end record has come; "{n}" in the name
  // becomes the device's number as N1-N2-N3. Empty: kept in memory only.
  std::string imageOut;
  uint32_t eraseSilent = 0;  // erase requests left unanswered first
  // Packets by their order of arrival after the erase, from 1, repeats
  // counted: the answer
  // lost; answered with a wrong checksum; answered again, late, just before
  // the answer to the next packet.
  std::set<uint32_t> drop, badSum, late;
  // Devices whose loader takes no packet (every one answered as refused).
  std::vector<ConsoleNumber> refuse;
};

// "K[,K...]" of packet numbers from 1; false for anything else.
bool ParsePacketList(std::string_view text, std::set<uint32_t>* out);

class MainLoader {
 public:
  explicit MainLoader(MainLoaderProfile p) : p_(std::move(p)) {}

  // The jump command (0xFE, 0x7F): the loader waits for its erase.
  void Jump();
  // The erase (0xFE, 0x13): the answer with code 0x12, or nothing when the
  // loader was not entered or keeps silent.
  std::vector<uint8_t> Erase(std::string* note);
  // A datagram that may be a packet of HEX lines for device `n`: false when
  // it is none (no erase before it, or not text beginning with ':');
  // otherwise the datagrams to send back go to `replies`.
  bool Packet(ConsoleNumber n, const uint8_t* bytes, size_t len,
              std::vector<std::vector<uint8_t>>* replies, std::string* note);

  // Programmed bytes by address.
  const std::map<uint32_t, uint8_t>& Image() const { return image_; }
  bool Complete() const { return complete_; }

 private:
  void WriteImage(ConsoleNumber n, std::string* note) const;

  MainLoaderProfile p_;
  bool jumped_ = false, erased_ = false, complete_ = false;
  uint32_t erases_ = 0;   // erase requests seen
  uint32_t packets_ = 0;  // packets received since the erase, repeats counted
  std::map<uint32_t, uint8_t> image_;
  uint32_t base_ = 0;  // upper address of the data records (types 02 and 04)
  // The last packet and the base it started from: a repeat is written again
  // from the same place.
  std::string lastText_;
  uint32_t lastBase_ = 0;
  std::vector<uint8_t> late_;  // an answer to send again before the next one
};

}  // namespace devsim
