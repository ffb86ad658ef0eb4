#include "devlink/registration.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "armlink/arm_queue.h"
#include "console/line_format.h"
#include "devlink/crc8.h"
#include "devlink/process.h"

namespace devlink {
namespace {

constexpr size_t kRegMinL = 27;  // the fields end with the test telegram at byte 27

std::string NumberText(const ClientRecord& r) {
  return console::Format(" Пульт.N=%d/%d/%d", r.n1, r.n2, r.n3);
}

std::string AddressText(std::string_view addr, size_t maxLen) {
  return std::string(addr.substr(0, std::min(addr.size(), maxLen)));
}

void Saturating(uint8_t& v) {
  if (v < 255) ++v;
}

// Key material, chaining values and identity pass from the newcomer to M.
void TakeOverKeys(ClientRecord& m, const ClientRecord& d) {
  std::memcpy(m.keyMaterial, d.keyMaterial, 10);
  std::memcpy(m.C_iTransm, d.C_iTransm, 4);
  std::memcpy(m.C_iResiv, d.C_iResiv, 4);
  std::memcpy(m.identity, d.identity, 2);
}

// The frame telling the workstation that another device answers under M's number.
void QueueSubstitutionNotice(DeviceLink& link, ClientRecord& m) {
  uint8_t f[128] = {0xFE, 8, 3, m.n1, m.n2, m.n3, 0, 0, 0x10};
  SetCheckByte(f);
  if (armlink::PutToArm(m, f, link.sink))
    link.sink.RegMessage("Ош.Буфер COM полон \"Подмена не передана\"");
}

}  // namespace

Classification Classify(DeviceLink& link, uint16_t d) {
  const ClientRecord& rd = link.table[d];
  for (size_t i = 0; i < link.table.Size(); ++i) {
    const ClientRecord& ri = link.table[i];
    if (i == d || ri.inUse == 0 || !(NumberOf(ri) == NumberOf(rd))) continue;
    if (std::memcmp(ri.identity, rd.identity, 2) != 0)
      return {RegResult::OtherDevice, uint16_t(i)};
    const bool same = PStrView(ri.peerAddr) == PStrView(rd.peerAddr) && PeerPort(ri) == PeerPort(rd);
    if (!link.settings.GlRegOn)
      link.sink.RegMessage(" Иниц. IP=" + AddressText(PStrView(rd.peerAddr), 26) +
                           console::Format(" Port=%d", PeerPort(rd)) + NumberText(rd));
    return {same ? RegResult::SameAddress : RegResult::Moved, uint16_t(i)};
  }
  return {RegResult::NewNumber, 0};
}

bool Substitute(DeviceLink& link, uint16_t d, uint16_t mi) {
  ClientRecord& m = link.table[mi];
  const ClientRecord& rd = link.table[d];
  if (m.substCount > 25) {
    m.substCount = 0;
    m.regAttempts = 0;
    if (link.settings.GlAutoPodmena) m.substPermit = 1;
    link.sink.Message(" ПОДМЕНА! или двойные пульт. номера" + NumberText(m) +
                      console::Format(" In[0]=%x In[1]=%x Str[0]=%x Str[1]=%x", rd.identity[0],
                                      rd.identity[1], m.identity[0], m.identity[1]));
    if (std::memcmp(m.notifiedIdentity, m.identity, 2) != 0) {
      std::memcpy(m.notifiedIdentity, m.identity, 2);
      QueueSubstitutionNotice(link, m);
    }
  } else {
    if (m.regAttempts > 8 && m.substCount < 6) {
      if (m.secondDevice) link.sink.Message(" Второй прибор на одном номере!" + NumberText(m));
      m.regAttempts = 0;
      m.substCount = 0;
      m.secondDevice = 1;
    }
    ++m.substCount;
    ++m.regAttempts;
  }
  if (!m.substPermit) return false;
  m.substPermit = 0;
  m.updateMark = 1;
  TakeOverKeys(m, rd);
  m.updateMark = 0;
  return true;
}

void Register(DeviceLink& link) {
  IntakeEntry& w = link.work;
  uint8_t* t = w.data;
  if (t[1] < kRegMinL) return;
  const uint16_t d = link.store.FindFreeCell();
  if (d == registry::kNoFreeCell) return;

  ClientRecord& rd = link.table[d];
  rd.updateMark = 1;
  rd.peerAddr = w.peer;
  std::memcpy(rd.peerPort, w.port, 2);
  rd.iface = w.iface;
  rd.n1 = t[4];
  rd.n2 = t[5];
  rd.n3 = t[6];
  const uint8_t code = t[3];
  const uint8_t s = t[7];
  MakeClientKey(link.cipher, link.regKeyBase, rd, t);

  // The test telegram, encrypted with the new key, follows at bytes 18..27.
  std::memmove(t, t + 18, 10);
  const bool fits = t[1] != 0 && EncryptedSize(t[1]) <= 10;
  const bool decrypted = fits && DecryptBuff_CBC(link.cipher, t, rd);
  link.sink.DeviceTrace(t, w.Peer(), w.Port(), false, false, false);
  const bool testOk =
      decrypted && t[0] == 0xE9 && t[2] == 0x55 && t[3] == 4 && CheckByteOk(t, 10);

  ClientRecord* target = nullptr;
  uint16_t answerIndex = 0;
  if (testOk) {
    rd.identity[0] = t[4];
    rd.identity[1] = t[5];
    const Classification c = Classify(link, d);
    ClientRecord& m = link.table[c.m];
    switch (c.result) {
      case RegResult::NewNumber: {
        const console::ConsoleSettings& cs = link.settings;
        if (!cs.GlRegOn) break;
        if (cs.GlRegOne && !(cs.GlRegNPult.Load() == NumberOf(rd))) break;
        rd.inUse = 1;
        link.table.MarkRegistered(d);
        link.table.Touch();
        rd.linkState = 2;
        target = &rd;
        answerIndex = d;
        link.RefreshRow(d);
        link.sink.Message(" РЕГИСТРАЦИЯ! IP=" + AddressText(PStrView(rd.peerAddr), 33) +
                             console::Format(" Port=%d", PeerPort(rd)) + NumberText(rd));
        if (cs.GlRegOne) {
          link.settings.GlRegOn = false;
          link.settings.GlSaveRequest = true;
        }
        break;
      }
      case RegResult::SameAddress:
      case RegResult::Moved:
        m.updateMark = 1;
        TakeOverKeys(m, rd);
        if (c.result == RegResult::Moved) {
          m.peerAddr = rd.peerAddr;
          std::memcpy(m.peerPort, rd.peerPort, 2);
          m.iface = rd.iface;
        }
        if (code == 7) m.linkFailCount = 0;
        m.updateMark = 0;
        target = &m;
        answerIndex = c.m;
        break;
      case RegResult::OtherDevice:
        if (Substitute(link, d, c.m)) {
          // Another device now owns the record: the old one's sequences mean nothing to it.
          link.table.MarkRegistered(c.m);
          target = &m;
          answerIndex = c.m;
        }
        break;
    }
  }

  if (target) {
    if (link.settings.GlMetricActive) {
      for (int j = 0; j < 3; ++j) {
        if (j == target->iface) {
          Saturating(target->contactCount[j]);
          Saturating(target->unansweredCount[j]);
        } else {
          target->contactCount[j] = 0;
        }
      }
    }
    target->secondDevice = 0;
    t[0] = 0xEA;
    t[1] = 9;
    t[2] = 0x55;
    t[3] = 7;
    t[4] = target->n1;
    t[5] = target->n2;
    t[6] = target->n3;
    t[7] = s;
    t[8] = uint8_t(answerIndex >> 8);
    t[9] = uint8_t(answerIndex);
    SetCheckByte(t);
    SendAnswer(link, *target);
  }
  rd.updateMark = 0;
}

void Echo(DeviceLink& link, size_t avail) {
  const IntakeEntry& w = link.work;
  link.sink.DeviceTrace(w.data, w.Peer(), w.Port(), true, false, false);
  link.sender.SendTo(w.iface, w.Peer(), w.Port(), avail, w.data);
  if (!link.settings.GlMetricActive) return;
  for (size_t i = 0; i < link.table.Size(); ++i) {
    ClientRecord& r = link.table[i];
    if (r.inUse == 0 || !NumberIs(r, w.data + 4)) continue;
    for (int j = 0; j < 3; ++j) {
      if (j == w.iface) {
        Saturating(r.sentCount[j]);
        Saturating(r.unansweredCount[j]);
        r.sentFlag[j] = w.data[8] != 0 ? 1 : 0;
      } else {
        r.sentCount[j] = 0;
        r.sentFlag[j] = 0;
      }
    }
    break;
  }
}

void CheckOneNumber(DeviceLink& link) {
  const ConsoleNumber n = link.settings.GlRegNPult.Load();
  for (size_t i = 0; i < link.table.Size(); ++i) {
    const ClientRecord& r = link.table[i];
    if (r.inUse && NumberOf(r) == n) {
      link.sink.Message(" ВНИМАНИЕ! Прибор с таким номером " +
                        console::Format(" уже есть.N=%d/%d/%d", n.n1, n.n2, n.n3));
      return;
    }
  }
}

}  // namespace devlink
