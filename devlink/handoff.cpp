#include "devlink/handoff.h"

#include <cstring>

#include "devlink/cipher.h"
#include "devlink/crc8.h"
#include "devlink/device_link.h"

namespace devlink {
namespace {

// Whether the working copy came from the address and port of the selected device.
bool FromSelectedDevice(const DeviceLink& link) {
  const uint16_t sel = link.handoff.GlNumStruct;
  if (!link.table.Valid(sel)) return false;
  const ClientRecord& r = link.table[sel];
  return PStrView(r.peerAddr) == link.work.Peer() && PeerPort(r) == link.work.Port();
}

// Whether it came from the selected device's address, whatever the port: the
// device's loaders answer from ports of their own.
bool FromSelectedAddress(const DeviceLink& link) {
  const uint16_t sel = link.handoff.GlNumStruct;
  return link.table.Valid(sel) && PStrView(link.table[sel].peerAddr) == link.work.Peer();
}

}  // namespace

bool IsMaintenanceAnswerCode(uint8_t c) {
  return (c >= 1 && c <= 6) || c == 0x0A || c == 0x0B || c == 0x0C || c == 0x12 || c == 0x13 ||
         c == 0x15 || c == 0x24 || c == 0x25 || c == 0x64 || c == 0xF1 || c == 0xF2 ||
         (c >= 0xF5 && c <= 0xF9);
}

bool IsRefusalCode(uint8_t c) { return c == 0x81 || c == 0x82 || c == 0x8B || c == 0x8C; }

void LoaderReplyQueue::Listen(bool on) {
  listening_ = on;
  head_ = 0;
  pending_ = 0;
}

void LoaderReplyQueue::Push(const IntakeEntry& e) {
  if (!listening_ || pending_ == kSlots) return;
  slots_[(head_ + pending_) % kSlots] = e;
  ++pending_;
}

bool LoaderReplyQueue::Pop(IntakeEntry* out) {
  if (pending_ == 0) return false;
  *out = slots_[head_];
  head_ = (head_ + 1) % kSlots;
  --pending_;
  return true;
}

void LoaderReplyChannel(DeviceLink& link) {
  const IntakeEntry& w = link.work;
  if (w.Length() < 2 || w.data[0] != 0x00) return;
  const uint8_t op = w.data[1];
  if (op != 4 && op != 5 && op != 6) return;  // ACK, ERROR, option acknowledgement
  // Another device's loader must not steer where the firmware goes.
  if (!FromSelectedAddress(link)) return;
  Handoff& h = link.handoff;
  h.tftpReplies.Push(w);
  if (op == 4) {
    h.loaderReplyLen = uint8_t(w.Length());
    std::memcpy(h.GlLoaderReply, w.data, h.loaderReplyLen);
    h.GlTargetHost = w.peer;
    h.GlTargetPort = w.Port();
    h.GlLoaderReplyFlag = 1;
  }
  h.Wake();
}

void ConfiguratorChannel(DeviceLink& link, size_t avail) {
  const IntakeEntry& w = link.work;
  if (w.data[0] != 0xFE || !CheckByteOk(w.data, avail) || !FromSelectedDevice(link)) return;
  if (link.handoff.configuratorDelivery) {
    uint8_t block[kDeliveryBlock] = {};
    std::memcpy(block, w.data, 128);
    std::memcpy(block + 128, w.len, 2);
    link.handoff.configuratorDelivery(block);
  }
}

void EncryptedAnswerChannel(DeviceLink& link, size_t avail) {
  uint8_t* t = link.work.data;
  if (t[0] != 0xE9 || !FromSelectedDevice(link)) return;
  // An answer that claims more bytes than the datagram holds is not decrypted.
  if (avail < 2 || t[1] == 0 || EncryptedSize(t[1]) > avail) return;
  ClientRecord& r = link.table[link.handoff.GlNumStruct];
  if (DecryptBuff_CBC(link.cipher, t, r) && Crc8(t) == t[size_t(t[1]) + 1]) {
    Handoff& h = link.handoff;
    std::memcpy(h.GlAnswerBuf, t, 128);
    if (h.GlWaitCode == t[3]) h.GlWaitCode = 0;
    h.Wake();
  }
}

void PlainAnswerChannel(DeviceLink& link, uint8_t code) {
  Handoff& h = link.handoff;
  const uint8_t* t = link.work.data;
  // Only the maintained device answers: another one's would end a wait falsely.
  if (!FromSelectedAddress(link)) return;
  if (IsMaintenanceAnswerCode(code)) {
    std::memcpy(h.GlAnswerBuf, t, 128);
    if (h.GlWaitCode == code) h.GlWaitCode = 0;
  } else if (IsRefusalCode(code)) {
    std::memcpy(h.GlAnswerBuf, t, 128);
    if (h.GlWaitCode == (code & 0x7F)) h.GlWaitCode = 0;
  } else if (code == 0xF4) {
    std::memcpy(h.GlAnswerBuf, t, 128);
    h.statesArrived = 1;
  } else if (code == 0xF0) {
    h.operationFinished = 1;
  }
  h.Wake();
}

}  // namespace devlink
