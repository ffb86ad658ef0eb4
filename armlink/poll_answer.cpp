#include "armlink/poll_answer.h"

#include <cstring>

#include "armlink/arm_queue.h"
#include "devlink/crc8.h"

namespace armlink {
namespace {

using devlink::ClientRecord;

enum class Step { Next, Empty, Stop, Frame };

constexpr uint8_t kPanicCode = 9;
constexpr uint8_t kAlarmCode = 1;

void Notice(devlink::DeviceLink& link, ArmChannel& ch, ClientRecord& r, uint8_t code) {
  BuildNotice(ch.output, r.n1, r.n2, r.n3, NewFrameCounter(ch, r, r.n1), code);
  SetAwaitingAck(link, ch, true);
}

// A queued frame may come from the registry file: it must lie within its slot
// and carry its frame counter before byte L + 1.
bool WellFormed(const uint8_t* f) {
  const size_t L = f[1];
  return f[0] == kFrameStart && L + 2 <= kFrameBuf && CounterOffset(f) <= L;
}

// The next queued frame of record i, prepared as the output frame.
Step QueuedFrame(devlink::DeviceLink& link, ArmChannel& ch, size_t i) {
  ClientRecord& r = link.table[i];
  uint8_t f[kFrameBuf];
  if (GetForArm(r, f)) return Step::Empty;
  if (!WellFormed(f)) return Step::Empty;  // dropped, as a damaged slot cannot be sent
  const size_t n = f[2];
  const size_t counter = CounterOffset(f);
  f[3 + n] = 0;
  if (f[1] == 8 && f[8] == kCodeSubstitution) {
    f[counter] = NewFrameCounter(ch, r, f[3]);
  } else {
    // A repetition of the event forwarded last is consumed unseen; a device
    // that has forwarded none since it registered has nothing to repeat.
    if (link.table.EventSeqKnown(i) && f[counter] == r.lastEventSeq) return Step::Stop;
    r.lastEventSeq = f[counter];
    link.table.EventSeqSeen(i);
    f[counter] = NewFrameCounter(ch, r, f[3]);
    if (link.settings.GlMoteKTS && n == 3 && f[1] >= 8 && f[8] == kPanicCode) f[8] = kAlarmCode;
  }
  devlink::SetCheckByte(f);
  std::memcpy(ch.output, f, kFrameBuf);
  SetAwaitingAck(link, ch, true);
  return Step::Frame;
}

Step PollRecord(devlink::DeviceLink& link, ArmChannel& ch, size_t i) {
  ClientRecord& r = link.table[i];
  if (r.linkState == 1 || r.linkState == 3) {
    const bool failed = r.linkState == 1;
    r.linkState = failed ? 2 : 0;
    Notice(link, ch, r, failed ? kCodeLinkFailure : kCodeLinkRestored);
    link.settings.GlSaveRequest = true;
    return Step::Frame;
  }
  if (r.maintNotice != 0) {
    const uint8_t notice = r.maintNotice;
    r.maintNotice = 0;
    if (notice != 1 && notice != 2) return Step::Stop;
    Notice(link, ch, r, notice == 1 ? kCodeMaintStart : kCodeMaintEnd);
    return Step::Frame;
  }
  return QueuedFrame(link, ch, i);
}

// The status frame of the internet check instead of the empty answer, when
// the check has news.
void InternetStatus(devlink::DeviceLink& link, ArmChannel& ch, uint8_t group) {
  const bool came = ch.internet.cameOnline.exchange(false);
  const bool went = ch.internet.wentOffline.exchange(false);
  if (!came && !went) return;
  if (came) link.sink.Message("\"Глобальная сеть OK!\"");
  if (went) link.sink.Message("\"Нет Глобальной сети!\"");
  const uint8_t counter = uint8_t(ch.lastCounter + 1);
  const uint8_t f[] = {kFrameStart, 8, 1, group, 0, counter, kCodeInternetStatus,
                       uint8_t(went ? 2 : 1), 0};
  std::memcpy(ch.output, f, sizeof f);
  devlink::SetCheckByte(ch.output);
  // The workstation acknowledges it by group and counter like any other frame.
  ch.lastGroup = group;
  ch.lastCounter = counter;
  SetAwaitingAck(link, ch, true);
}

}  // namespace

uint8_t NewFrameCounter(ArmChannel& ch, ClientRecord& r, uint8_t group) {
  r.armFrameCounter = uint8_t(r.armFrameCounter + 1);
  ch.lastCounter = r.armFrameCounter;
  ch.lastGroup = group;
  return r.armFrameCounter;
}

bool AnswerPoll(devlink::DeviceLink& link, ArmChannel& ch, uint8_t group, PollScan scan) {
  devlink::ClientTable& table = link.table;
  bool empty = false;
  bool stopped = false;
  // True when the scan is over with a frame prepared.
  auto visit = [&](size_t i) {
    const Step s = PollRecord(link, ch, i);
    if (s == Step::Empty) empty = true;
    stopped = s == Step::Stop;
    return s == Step::Frame;
  };
  if (scan == PollScan::Indexed) {
    const std::vector<uint16_t>& members = ch.groups.Group(table, group);
    for (size_t k = 0; k < members.size() && !stopped; ++k) {
      if (!InGroup(table, members[k], group)) continue;
      if (visit(members[k])) return true;
    }
  } else {
    for (size_t i = 0; i < table.Size() && !stopped; ++i) {
      if (!InGroup(table, i, group)) continue;
      if (visit(i)) return true;
    }
  }
  if (!empty) return false;
  BuildPoll(ch.output, group);
  InternetStatus(link, ch, group);
  return true;
}

}  // namespace armlink
