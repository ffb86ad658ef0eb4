#include "devlink/supervision.h"

#include <algorithm>
#include <cstring>

#include "console/line_format.h"

namespace devlink {
namespace {

// The counters are single bytes: a threshold or period beyond 255 (from a
// damaged settings file) would let them wrap and never run out.
uint8_t ByteLimit(unsigned v) { return uint8_t(std::min(v, 255u)); }

void Resend(DeviceLink& link, ClientRecord& r, const uint8_t* stored) {
  link.sink.DeviceTrace(stored, PStrView(r.peerAddr), PeerPort(r), true, false, false);
  // The stored request stays plain, so each resend is a fresh encryption.
  uint8_t t[kTelegramBuf];
  std::memcpy(t, stored, sizeof t);
  const uint8_t n = EncryptForSend(link.cipher, t, r);
  if (n == 0) return;
  link.sender.SendToClient(r, n, t);
  link.sink.DeviceTrace(t, PStrView(r.peerAddr), PeerPort(r), true, true, true);
}

}  // namespace

void LinkSweep(DeviceLink& link) {
  const uint8_t limit = ByteLimit(unsigned(link.settings.GlNaruchUO) + 2);
  const bool blocked = AlarmBlocked(link);
  for (size_t i = 0; i < link.table.Size(); ++i) {
    ClientRecord& r = link.table[i];
    if (r.updateMark != 0 || r.inUse == 0) continue;
    if (r.linkFailCount < limit) {
      r.linkFailCount = blocked ? 0 : uint8_t(r.linkFailCount + 1);
    } else if (r.linkState == 0) {
      r.linkState = 1;
      r.linkFailCount = 0;
    }
  }
}

void RepeatRequests(DeviceLink& link) {
  if (!link.settings.GlPovtorOn) return;
  const uint8_t period = ByteLimit(link.settings.GlTimePovtor);
  for (size_t i = 0; i < link.table.Size(); ++i) {
    ClientRecord& r = link.table[i];
    if (r.requestsPending == 0) continue;
    bool active = false;
    for (int j = 0; j < 8; ++j) {
      if (r.sendsLeft[j] == 0) continue;
      active = true;
      if (r.repeatTicks[j] < period) {
        ++r.repeatTicks[j];
        continue;
      }
      r.repeatTicks[j] = 0;
      if (--r.sendsLeft[j] > 0) {
        Resend(link, r, r.pending[j]);
      } else {
        const uint8_t* q = r.pending[j];
        link.sink.Message(console::Format("Запрос Пульт.N=%d/%d/%d - не Выполнен.", q[3], q[4], q[5]));
      }
    }
    if (!active) r.requestsPending = 0;
  }
}

void DeviceTickWork(DeviceLink& link) {
  if (link.sweepDivider >= 10) {
    link.sweepDivider = 0;
    LinkSweep(link);
  } else {
    ++link.sweepDivider;
  }
  RepeatRequests(link);
}

}  // namespace devlink
