// State of one simulated device inside the engine.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "tools/devsim/device_codec.h"
#include "tools/devsim/maintained.h"
#include "tools/devsim/population.h"

namespace devsim {

inline constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

// Which of the 256 sequence bytes still await an answer.
class SeqSet {
 public:
  void Set(uint8_t s) { bits_[s >> 6] |= uint64_t(1) << (s & 63); }
  // True when s was awaited; it no longer is.
  bool Take(uint8_t s) {
    const uint64_t m = uint64_t(1) << (s & 63);
    const bool was = (bits_[s >> 6] & m) != 0;
    bits_[s >> 6] &= ~m;
    return was;
  }
  bool Empty() const { return (bits_[0] | bits_[1] | bits_[2] | bits_[3]) == 0; }
  // Takes any awaited value; false when none is awaited.
  bool TakeAny() {
    for (uint64_t& w : bits_) {
      if (w != 0) {
        w &= w - 1;
        return true;
      }
    }
    return false;
  }

 private:
  std::array<uint64_t, 4> bits_{};
};

// An event sent until the server acknowledges its sequence byte.
struct PendingEvent {
  int64_t nextSend = 0;
  bool request = false;  // the answer to a server request
  bool sent = false;
  uint8_t len = 0;
  uint8_t plain[24] = {};
  uint8_t seq() const { return plain[7]; }
};

// A planned device and what it does while the run lasts; `socket` is the slot
// it sends from now (it changes with --move-port).
struct SimDevice : DevicePlan {
  // Set when the run plays remote maintenance.
  std::shared_ptr<MaintainedDevice> maint;

  DeviceCipher cipher;
  uint32_t regChaining = 0;  // receive value a registration answer is made with
  uint16_t index = 0;
  bool registered = false;
  bool moved = false;
  bool skipDone = false;

  uint8_t svcSeq = 1;
  uint8_t lastHbSeq = 0;
  uint8_t eventSeq = 1;
  uint8_t echoX = 0;
  uint8_t regSeq = 0;
  uint8_t timeSeq = 0;

  uint32_t regSent = 0;
  uint32_t hbSent = 0;
  uint32_t timeIssued = 0;
  uint32_t eventsIssued = 0;
  uint32_t echoesIssued = 0;
  bool timeInFlight = false;
  bool echoInFlight = false;

  int64_t nextReg = 0;
  int64_t nextHb = 0;
  int64_t nextTime = 0;
  int64_t timeDeadline = 0;
  int64_t nextEvent = 0;
  int64_t nextEcho = 0;
  int64_t echoDeadline = 0;
  int64_t hbQuietAt = 0;  // the last heartbeat's answer is given up after this

  SeqSet hbAwait, timeAwait, echoAwait;
  std::vector<PendingEvent> pending;

  int64_t wakeAt = kNever;  // time of its valid timer entry
  bool waiting = false;     // queued for a send token
  bool finished = false;

  bool HasOwnEvent() const {
    for (const auto& p : pending)
      if (!p.request) return true;
    return false;
  }
};

}  // namespace devsim
