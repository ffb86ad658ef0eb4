// A device link over a registry store, console settings, a message queue with a
// fixed clock and three recording UDP endpoints, plus the device's side of the
// exchange written from the telegram formats with the shared cipher functions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/console_settings.h"
#include "console/message_sink.h"
#include "devlink/crc8.h"
#include "devlink/device_link.h"
#include "devlink/device_worker.h"
#include "devlink/intake_ring.h"
#include "devlink/process.h"
#include "devlink/sender.h"
#include "devlink/telegram_cipher.h"
#include "platform/clock.h"
#include "platform/datagram.h"
#include "tests/support/link_world.h"
#include "tests/support/stub_endpoint.h"
#include "registry/buff_client.h"

namespace dltest {

using devlink::ClientRecord;
using devlink::ConsoleNumber;
using devlink::Key10;
using Bytes = std::vector<uint8_t>;

inline const Key10 kRegBase = {0x5A, 0x3C, 0x96, 0xE1, 0xB4, 0x07, 0x2D, 0xF8, 0xC6, 0x13};

struct Sent {
  int iface;
  std::string addr;
  uint16_t port;
  Bytes bytes;
};

class FakeEndpoint final : public testsupport::StubEndpoint {
 public:
  FakeEndpoint(int iface, std::vector<Sent>& log)
      : StubEndpoint(uint16_t(5000 + iface)), iface_(iface), log_(log) {}
  bool fail = false;

  bool SendTo(std::string_view address, uint16_t port, const uint8_t* data, size_t n) override {
    log_.push_back({iface_, std::string(address), port, Bytes(data, data + n)});
    return !fail;
  }

 private:
  int iface_;
  std::vector<Sent>& log_;
};

// Stores the check byte of a plain telegram held in `t` (L = t[1]).
inline Bytes WithCheck(Bytes t) {
  t.resize(size_t(t[1]) + 2);
  t[t.size() - 1] = devlink::Crc8Bytes(t.data(), t.size() - 1);
  return t;
}

// The device's side: its key material, number, client index and the two
// chaining values (`send` mirrors the server's C_iResiv, `recv` its C_iTransm).
struct Device {
  ConsoleNumber n;
  Key10 km{};
  uint16_t index = 0;
  uint32_t send = 0, recv = 0;

  // Encrypted form of a plain telegram (check byte included), 2 + 4n bytes.
  Bytes Encrypt(const Bytes& plain) {
    uint8_t buf[128] = {};
    std::memcpy(buf, plain.data(), plain.size());
    devlink::Rc6w8r8b10 c;
    c.Setup(devlink::EffectiveKey(km.data(), n.n1, n.n2, n.n3).data());
    uint8_t iv[4];
    devlink::PutU32(iv, send++);
    devlink::CbcEncrypt(c, buf, iv);
    return Bytes(buf, buf + devlink::EncryptedSize(buf[1]));
  }

  Bytes Wrap(const Bytes& plainInner, uint16_t idx) {
    const Bytes inner = Encrypt(plainInner);
    Bytes w = {0xEA, uint8_t(inner.size() + 3), uint8_t(idx >> 8), uint8_t(idx)};
    w.insert(w.end(), inner.begin(), inner.end());
    w.push_back(0);
    return WithCheck(w);
  }
  Bytes Wrap(const Bytes& plainInner) { return Wrap(plainInner, index); }

  Bytes Service(uint8_t code, uint8_t seq, ConsoleNumber num) const {
    return WithCheck({0xE9, 7, 0x55, code, num.n1, num.n2, num.n3, seq, 0});
  }
  Bytes Heartbeat(uint8_t seq) const { return Service(8, seq, n); }
  Bytes Event(uint8_t seq, uint8_t code, Bytes data = {}, std::optional<ConsoleNumber> num = {}) const {
    const ConsoleNumber a = num.value_or(n);
    Bytes t = {0xFE, uint8_t(8 + data.size()), 3, a.n1, a.n2, a.n3, 0, seq, code};
    t.insert(t.end(), data.begin(), data.end());
    t.push_back(0);
    return WithCheck(t);
  }

  // Opens a telegram of the server: only the expected chaining value is
  // accepted, the check byte must be right and the size must fit L.
  std::optional<Bytes> Open(const Bytes& wire) {
    if (wire.size() < 2 || wire.size() != devlink::EncryptedSize(wire[1])) return std::nullopt;
    uint8_t buf[128] = {};
    std::memcpy(buf, wire.data(), wire.size());
    devlink::Rc6w8r8b10 c;
    c.Setup(devlink::EffectiveKey(km.data(), n.n1, n.n2, n.n3).data());
    uint32_t w = recv;
    if (!devlink::CbcDecryptLookAhead(c, buf, w) || w != recv + 1) return std::nullopt;
    recv = w;
    return Bytes(buf, buf + buf[1] + 2);
  }
};

// The plain test telegram of a registration carrying the identity.
inline Bytes TestTelegram(uint8_t id0, uint8_t id1) { return WithCheck({0xE9, 5, 0x55, 4, id0, id1, 0}); }

struct RegInput {
  ConsoleNumber n;
  uint8_t code = 7;
  uint8_t seq = 0x31;
  std::array<uint8_t, 4> seed{0x10, 0x20, 0x30, 0x40};
  std::array<uint8_t, 6> dev{1, 2, 3, 4, 5, 6};
  std::array<uint8_t, 2> identity{0xA1, 0xB2};
};

// The registration telegram as a device builds it; `dev` receives the derived
// key and the chaining values. `test` replaces the plain test telegram.
inline Bytes Registration(const RegInput& in, Device& dev, std::optional<Bytes> test = {}) {
  dev.n = in.n;
  const Key10 regKey = devlink::RegistrationKey(kRegBase, in.dev.data());
  dev.km = devlink::DeriveKeyMaterial(regKey, in.seed.data());
  dev.send = dev.recv = devlink::GetU32(dev.km.data());
  Bytes enc = dev.Encrypt(test.value_or(TestTelegram(in.identity[0], in.identity[1])));
  enc.resize(10);
  Bytes t = {0xEF, 27, 0x55, in.code, in.n.n1, in.n.n2, in.n.n3, in.seq};
  t.insert(t.end(), in.seed.begin(), in.seed.end());
  t.insert(t.end(), in.dev.begin(), in.dev.end());
  t.insert(t.end(), enc.begin(), enc.end());
  t.push_back(0);
  return WithCheck(t);
}

inline std::vector<uint8_t> RecordBytes(const ClientRecord& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return {p, p + sizeof r};
}

class LinkFixture : public ::testing::Test, protected testsupport::LinkWorld {
 protected:
  LinkFixture() : LinkWorld(kRegBase) {
    sender.SetEndpoint(0, &ep0);
    sender.SetEndpoint(1, &ep1);
    sender.SetEndpoint(2, &ep2);
    clock.now = {2024, 3, 5, 14, 7, 9};
    link.onRowRefresh = [this](uint16_t i) { refreshed.push_back(i); };
  }

  ClientRecord& Rec(size_t i) { return link.table[i]; }

  // A registered device written straight into record `index`.
  Device AddDevice(uint16_t index, ConsoleNumber n, const std::string& addr = "10.0.0.5",
                   uint16_t port = 4001, uint8_t iface = 0) {
    Device d;
    d.n = n;
    d.index = index;
    for (int k = 0; k < 10; ++k) d.km[size_t(k)] = uint8_t(0x21 * (k + 1) + index + n.n3);
    d.send = d.recv = devlink::GetU32(d.km.data());
    ClientRecord& r = Rec(index);
    r.inUse = 1;
    r.n1 = n.n1, r.n2 = n.n2, r.n3 = n.n3;
    link.table.Touch();
    std::memcpy(r.keyMaterial, d.km.data(), 10);
    std::memcpy(r.C_iTransm, d.km.data(), 4);
    std::memcpy(r.C_iResiv, d.km.data(), 4);
    devlink::SetPStr(r.peerAddr, addr);
    devlink::PutU16(r.peerPort, port);
    r.iface = iface;
    return d;
  }

  // A datagram through the intake ring and one pass of the device worker.
  void Feed(const Bytes& d, const std::string& addr = "10.0.0.5", uint16_t port = 4001,
            uint8_t iface = 0) {
    ring->Receive(iface, d.data(), d.size(), addr, port);
    ASSERT_TRUE(worker->RunOnce());
  }

  // The working copy set directly: `len` may claim fewer bytes than `data`
  // holds, as a short datagram over bytes left in its slot.
  void FeedWork(const Bytes& data, size_t len, const std::string& addr = "10.0.0.5",
                uint16_t port = 4001, uint8_t iface = 0) {
    std::lock_guard<std::mutex> lock(link.Lock);
    devlink::IntakeEntry& w = link.work;
    std::memset(w.data, 0, sizeof w.data);
    std::memcpy(w.data, data.data(), std::min<size_t>(data.size(), 128));
    devlink::PutU16(w.len, uint16_t(len));
    devlink::SetPStr(w.peer, addr);
    devlink::PutU16(w.port, port);
    w.iface = iface;
    devlink::ProcessEntry(link);
  }

  // Texts of the message window, time stamp checked and removed.
  std::vector<std::string> Messages() {
    std::vector<console::Line> lines;
    this->lines.Drain(lines, 0);
    std::vector<std::string> out;
    for (const auto& l : lines) {
      if (l.window != console::Window::Message) continue;
      EXPECT_EQ(l.text.rfind("14:7:9 ", 0), 0u) << l.text;
      out.push_back(l.text.substr(7));
    }
    return out;
  }

  std::vector<uint8_t> TableBytes() {
    const auto* p = reinterpret_cast<const uint8_t*>(link.table.Data());
    return {p, p + link.table.Size() * sizeof(ClientRecord)};
  }

  std::vector<Sent> sent;
  FakeEndpoint ep0{0, sent}, ep1{1, sent}, ep2{2, sent};
  devlink::WorkSignal signal;
  std::unique_ptr<devlink::IntakeRing> ring = std::make_unique<devlink::IntakeRing>(&signal);
  std::unique_ptr<devlink::TEthernThread> worker =
      std::make_unique<devlink::TEthernThread>(link, *ring, signal);
  std::vector<uint16_t> refreshed;
};

}  // namespace dltest
