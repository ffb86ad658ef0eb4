#include "armlink/commands.h"

#include <cstring>
#include <string_view>

#include "devlink/cipher.h"
#include "devlink/crc8.h"
#include "devlink/requests.h"

namespace armlink {
namespace {

using devlink::ClientRecord;

constexpr uint8_t kRequestType = 0xEA;
constexpr size_t kSeqByte = 7;  // sequence byte of a request, echoed by the device

struct ServiceKind {
  uint8_t L, command, parameter;
};
constexpr ServiceKind kServiceKinds[] = {
    {8, 0x80, 0}, {9, 0x7F, 1}, {9, 0x7F, 2}, {9, 0x7E, 1},
    {9, 0x7E, 2}, {9, 0x7D, 1}, {9, 0x7D, 2},
};

// A request must not carry the sequence byte of the device's last forwarded
// event: the channel would take the device's answer for a repetition.
uint8_t AvoidLastEvent(uint8_t s, const ClientRecord& r) {
  return s == r.lastEventSeq ? uint8_t(s + 2) : s;
}

void Relay(devlink::DeviceLink& link, ClientRecord& r, const uint8_t* f) {
  const uint8_t L = f[1];
  // Not encryptable into a telegram buffer: never stored, never sent.
  if (L > devlink::kMaxEncryptL) return;
  uint8_t req[kFrameBuf] = {};
  std::memcpy(req, f, size_t(L) + 2);
  req[0] = kRequestType;
  req[kSeqByte] = AvoidLastEvent(req[kSeqByte], r);
  devlink::SetCheckByte(req);
  devlink::AddRequest(r, req, link.settings);
  const std::string_view addr = devlink::PStrView(r.peerAddr);
  const uint16_t port = devlink::PeerPort(r);
  link.sink.DeviceTraceUnfiltered(req, addr, port, true, false, false);
  const uint8_t n = devlink::EncryptForSend(link.cipher, req, r);
  if (n == 0) return;
  link.sender.SendToClient(r, n, req);
  link.sink.DeviceTraceUnfiltered(req, addr, port, true, true, true);
}

// The reply code of a command the server answers itself; 0 to relay it.
uint8_t OwnReply(const uint8_t* f, const ClientRecord& r) {
  if (f[1] != 8) return 0;
  switch (f[8]) {
    case kCmdQuerySwitchedOff: return r.switchedOff ? kCodeSwitchedOff : 0;
    case kCmdSwitchOn: return kCodeSwitchedOn;
    case kCmdSwitchOff: return kCodeSwitchedOff;
    default: return 0;
  }
}

}  // namespace

int FindRecord(devlink::DeviceLink& link, ArmChannel& ch, const uint8_t* n) {
  for (uint16_t i : ch.groups.Group(link.table, n[0]))
    if (InGroup(link.table, i, n[0]) && devlink::NumberIs(link.table[i], n)) return i;
  return -1;
}

bool HandleCommand(devlink::DeviceLink& link, ArmChannel& ch, const uint8_t* f,
                   bool serviceRequest) {
  const size_t counter = CounterOffset(f);
  // Without a counter inside the frame there is nothing to acknowledge.
  if (counter > f[1]) return false;
  bool write = false;
  if (!serviceRequest) {
    BuildAck(ch.output, f[3], f[counter]);
    write = true;
  }
  if (f[2] != 3) return write;
  const int i = FindRecord(link, ch, f + 3);
  if (i < 0) return write;
  ClientRecord& r = link.table[size_t(i)];

  if (const uint8_t code = OwnReply(f, r)) {
    BuildNotice(ch.output, f[3], f[4], f[5], f[counter], code);
    ch.lastGroup = f[3];
    ch.lastCounter = f[counter];
    SetAwaitingAck(link, ch, true);
    if (f[8] != kCmdQuerySwitchedOff) {
      const bool off = f[8] == kCmdSwitchOff;
      r.switchedOff = off ? 1 : 0;
      link.RefreshRow(uint16_t(i));
      if (!ServiceRequest(link, ch, uint16_t(i), off ? kServiceSwitchOff : kServiceSwitchOn))
        link.sink.DebugLine("Очередь сервисных запросов заполнена: прибор не извещён.");
    }
    return true;
  }
  Relay(link, r, f);
  return write;
}

bool ServiceRequest(devlink::DeviceLink& link, ArmChannel& ch, uint16_t i, int kind) {
  if (kind < 0 || kind > 6 || !link.table.Valid(i)) return false;
  ClientRecord& r = link.table[i];
  const ServiceKind& k = kServiceKinds[kind];
  const uint8_t s = AvoidLastEvent(ch.serviceSeq, r);
  uint8_t f[kFrameBuf] = {kFrameStart, k.L, 3, r.n1, r.n2, r.n3, 0, s, k.command, k.parameter};
  devlink::SetCheckByte(f);
  if (!ch.service.Push(f)) return false;
  r.serviceSeq = s;
  r.serviceAnswerExpected = 1;
  ch.serviceSeq = uint8_t(s + 1);
  return true;
}

}  // namespace armlink
