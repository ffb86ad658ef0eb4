#include "devlink/process.h"

#include <cstring>
#include <string>

#include "armlink/arm_queue.h"
#include "armlink/service_answer.h"
#include "console/line_format.h"
#include "devlink/crc8.h"
#include "devlink/registration.h"
#include "devlink/requests.h"

namespace devlink {
namespace {

std::string NumberText(const ClientRecord& r) {
  return console::Format("Пульт.N=%d/%d/%d", r.n1, r.n2, r.n3);
}

// Copies the datagram's source into record D when it differs, and says so.
void TrackAddress(DeviceLink& link, uint16_t d, bool variantEA) {
  ClientRecord& r = link.table[d];
  const IntakeEntry& w = link.work;
  if (PStrView(r.peerAddr) == w.Peer() && PeerPort(r) == w.Port() && r.iface == w.iface) return;
  r.peerAddr = w.peer;
  std::memcpy(r.peerPort, w.port, 2);
  r.iface = w.iface;
  const std::string addr(w.Peer());
  if (variantEA) {
    link.sink.RegMessage("Новый IP и Port(EA). IP=" + addr + console::Format(" Port=%d", w.Port()) +
                         " " + NumberText(r));
    link.RefreshRow(d);
  } else {
    link.sink.RegMessage("Новый IP и Port E9. IP=" + addr + console::Format("Port=%d", w.Port()) +
                         NumberText(r));
  }
}

// Fills the working copy with 0xEA, L, 0x55, code, N1..N3, s and its check byte.
uint8_t* BuildServiceAnswer(DeviceLink& link, const ClientRecord& r, uint8_t L, uint8_t code,
                            uint8_t s) {
  uint8_t* t = link.work.data;
  t[0] = 0xEA;
  t[1] = L;
  t[2] = 0x55;
  t[3] = code;
  t[4] = r.n1;
  t[5] = r.n2;
  t[6] = r.n3;
  t[7] = s;
  return t;
}

void ServiceTelegram(DeviceLink& link, uint16_t d) {
  ClientRecord& r = link.table[d];
  uint8_t* t = link.work.data;
  const uint8_t code = t[3];
  const uint8_t s = t[7];
  if (code == 8) {
    if (s != r.lastHbSeq || !link.table.HeartbeatSeqKnown(d)) {
      r.linkFailCount = 0;
      if (r.linkState == 2) r.linkState = 3;
    }
    r.substCount = 0;
    if (link.settings.GlSostAvar) {
      BuildServiceAnswer(link, r, 8, 8, s)[8] = 1;
    } else {
      BuildServiceAnswer(link, r, 7, 8, s);
    }
    r.lastHbSeq = s;
    link.table.HeartbeatSeqSeen(d);
    SetCheckByte(t);
    SendAnswer(link, r);
  } else if (code == 0x80) {
    const platform::LocalTime now = link.clock.Now();
    BuildServiceAnswer(link, r, 13, 0x80, s);
    t[8] = uint8_t(now.year - 2000);
    t[9] = uint8_t(now.month);
    t[10] = uint8_t(now.day);
    t[11] = uint8_t(now.hour);
    t[12] = uint8_t(now.minute);
    t[13] = uint8_t(now.second);
    SetCheckByte(t);
    SendAnswer(link, r);
  }
  TrackAddress(link, d, true);
}

void EventTelegram(DeviceLink& link, uint16_t d) {
  ClientRecord& r = link.table[d];
  uint8_t* t = link.work.data;
  const uint8_t s = t[7];
  r.linkFailCount = 0;
  if (r.linkState == 2) r.linkState = 3;
  AckRequest(r, t, link.settings);
  std::string answer;
  bool accepted = armlink::DecodeServiceAnswer(r, t, link.sink, &answer);
  if (!answer.empty() && link.onServiceAnswer)
    link.onServiceAnswer(d, t[8], armlink::AnswerSim(t), answer);
  if (!accepted) accepted = !armlink::PutToArm(r, t, link.sink);
  if (accepted) {
    r.substCount = 0;
    BuildServiceAnswer(link, r, 7, 9, s);
    SetCheckByte(t);
    SendAnswer(link, r);
  }
  TrackAddress(link, d, false);
}

// Wrapper 0xEA: client index and one encrypted inner telegram. `avail` is the
// number of bytes the datagram holds. False when the datagram was dropped.
bool DeviceTelegram(DeviceLink& link, size_t& avail) {
  uint8_t* t = link.work.data;
  if (!CheckByteOk(t, avail)) return false;
  const size_t L = t[1];
  if (L < 5) return false;
  const uint16_t d = uint16_t(t[2] * 256 + t[3]);
  if (!link.table.Valid(d) || link.table[d].inUse == 0) return false;
  // The inner telegram must lie within what the wrapper carried.
  const uint8_t innerL = t[5];
  if (innerL == 0 || EncryptedSize(innerL) > L - 3) return false;
  ClientRecord& r = link.table[d];

  std::memmove(t, t + 4, L - 3);
  avail = L - 3;
  if (!DecryptBuff_CBC(link.cipher, t, r) || Crc8(t) != t[size_t(t[1]) + 1]) return false;
  link.sink.DeviceTrace(t, link.work.Peer(), link.work.Port(), false, false, false);

  if (link.settings.GlMetricActive && r.iface < 3) r.unansweredCount[r.iface] = 0;

  if (t[0] == 0xE9 && t[2] == 0x55 && NumberIs(r, t + 4)) {
    ServiceTelegram(link, d);
  } else if (t[0] == 0xFE && NumberIs(r, t + 3)) {
    EventTelegram(link, d);
  }
  return true;
}

// Plain 0xEF: registration, echo and maintenance answers.
void PlainServiceTelegram(DeviceLink& link, size_t avail) {
  const uint8_t* t = link.work.data;
  if (!CheckByteOk(t, avail) || t[2] != 0x55) return;
  const uint8_t code = t[3];
  if (code == 7 || code == 0x87) {
    Register(link);
  } else if (code == 0xBC) {
    Echo(link, avail);
  } else {
    PlainAnswerChannel(link, code);
  }
}

}  // namespace

void SendAnswer(DeviceLink& link, ClientRecord& target) {
  IntakeEntry& w = link.work;
  link.sink.DeviceTrace(w.data, w.Peer(), w.Port(), true, false, false);
  const uint8_t n = EncryptForSend(link.cipher, w.data, target);
  if (n == 0) return;
  link.sender.SendTo(w.iface, w.Peer(), w.Port(), n, w.data);
  link.sink.DeviceTrace(w.data, w.Peer(), w.Port(), true, true, true);
}

void ProcessEntry(DeviceLink& link) {
  IntakeEntry& w = link.work;
  const uint8_t* t = w.data;
  size_t avail = w.Length();
  link.sink.DeviceTrace(t, w.Peer(), w.Port(), false, false, true);
  // The type byte is read afresh at each step: a decrypted inner telegram is
  // what the later steps see.
  LoaderReplyChannel(link);
  ConfiguratorChannel(link, avail);
  EncryptedAnswerChannel(link, avail);
  // A dropped device telegram ends here, whatever its unwrapped bytes say.
  if (t[0] == 0xEA && !DeviceTelegram(link, avail)) return;
  if (t[0] == 0xEF) PlainServiceTelegram(link, avail);
}

}  // namespace devlink
