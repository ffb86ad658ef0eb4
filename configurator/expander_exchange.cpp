#include "configurator/expander_exchange.h"

#include "maintenance/identity.h"

namespace configurator {

namespace {

// The version gate: the firmware must know the expander. False with the
// messages logged; `status` empty when the operator aborted.
bool VersionGate(maintenance::Exchange& x, const ExpanderProfile& p, Expander e,
                 std::string* status) {
  for (int t = 1; t <= p.tries; ++t) {
    const bool answered = x.Request(VersionRequest(), kVersion, p.waitMs);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log(std::string(p.noVersionAnswer));
      continue;
    }
    const std::array<uint8_t, 128> a = x.Answer();
    if (!AnswerValid(a, kVersion)) continue;
    uint8_t chip = 0;
    if (const std::string line = maintenance::VersionLine(a, &chip); !line.empty()) x.Log(line);
    if (VersionAccepted(e, a)) return true;
    x.Log(std::string(p.firmwareWarning));
    x.Log(std::string(p.firmwareUnavailable));
    *status = p.errorLabel;
    return false;
  }
  x.Log(std::string(p.linkLost));
  x.Log(std::string(p.tryAgain));
  *status = p.errorLabel;
  return false;
}

}  // namespace

bool ReadExpanderSettings(maintenance::Exchange& x, Expander e, ExpanderBlocks& blocks,
                          std::string* status, int* arrived) {
  const ExpanderProfile& p = Profile(e);
  status->clear();
  *arrived = 0;
  if (!VersionGate(x, p, e, status)) return false;
  for (const Block b : {Block::kTable, Block::kSettings, Block::kOwners}) {
    x.Operation(p.progressMax, 0);
    bool read = false;
    for (int t = 1; t <= p.tries && !read; ++t) {
      x.Operation(p.progressMax, t);
      const bool answered = x.Request(ReadRequest(b), ReadCommand(b), p.waitMs);
      if (x.Aborted()) return false;
      if (!answered) {
        x.Log(WithTry(p.readNoAnswer, t));
        continue;
      }
      // A wrong code, check byte or length: nothing of it is kept.
      if (!CopyBlockAnswer(b, x.Answer(), blocks)) {
        x.Log(std::string(p.readBadFormat));
        *status = p.errorLabel;
        return false;
      }
      read = true;
      ++*arrived;
    }
    if (!read) {
      x.Log(std::string(p.triesExhausted));
      *status = p.readTriesErrorLabel;
      return false;
    }
  }
  x.Log(std::string(p.readOk));
  *status = p.readOkLabel;
  return true;
}

bool WriteExpanderSettings(maintenance::Exchange& x, Expander e, const ExpanderBlocks& blocks,
                           std::string* status) {
  const ExpanderProfile& p = Profile(e);
  status->clear();
  bool first = true;
  for (const Block b : {Block::kSettings, Block::kOwners}) {
    if (!first) x.Pause(p.pauseBetweenWritesMs);
    first = false;
    x.Operation(p.progressMax, 0);
    bool written = false;
    for (int t = 1; t <= p.tries && !written; ++t) {
      x.Operation(p.progressMax, t);
      const bool answered = x.Request(WriteRequest(b, blocks), WriteCommand(b), p.waitMs);
      if (x.Aborted()) return false;
      if (!answered) {
        x.Log(WithTry(p.writeNoAnswer, t));
        continue;
      }
      if (!WriteAnswerValid(b, x.Answer())) {
        x.Log(std::string(p.writeBadFormat));
        *status = p.errorLabel;
        return false;
      }
      written = true;
    }
    if (!written) {
      x.Log(std::string(p.triesExhausted));
      *status = p.errorLabel;
      return false;
    }
  }
  x.Log(std::string(p.writeOk));
  *status = p.writeOkLabel;
  return true;
}

}  // namespace configurator
