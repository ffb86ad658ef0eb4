#include "maintenance/exchange.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "devlink/cipher.h"

namespace maintenance {

namespace {
using Clock = std::chrono::steady_clock;
// How often a waiting exchange reports its progress.
constexpr auto kProgressStep = std::chrono::milliseconds(250);
}  // namespace

Exchange::Exchange(devlink::DeviceLink& link, State& state, EventQueue& events)
    : link_(link), state_(state), events_(events) {}

bool Exchange::Request(const Telegram& t, bool encrypt, uint8_t awaited, int timeoutMs) {
  link_.handoff.GlWaitCode = awaited;
  Send(t, encrypt);
  if (awaited == 0) return true;
  return WaitAnswer(timeoutMs);
}

bool Exchange::Request(std::span<const uint8_t> bytes, uint8_t awaited, int timeoutMs) {
  Telegram t;
  t.size = std::min(bytes.size(), t.bytes.size());
  std::copy_n(bytes.begin(), t.size, t.bytes.begin());
  return Request(t, false, awaited, timeoutMs);
}

bool Exchange::RequestTarget(std::span<const uint8_t> bytes, uint8_t awaited, int timeoutMs) {
  link_.handoff.GlWaitCode = awaited;
  SendToTarget(bytes);
  if (awaited == 0) return true;
  return WaitAnswer(timeoutMs);
}

void Exchange::SendToTarget(std::span<const uint8_t> bytes) {
  std::string address;
  uint16_t port = 0;
  {
    // The worker moves the target on a loader reply, under Lock.
    std::lock_guard<std::mutex> lock(link_.Lock);
    address = std::string(devlink::PStrView(link_.handoff.GlTargetHost));
    port = link_.handoff.GlTargetPort;
  }
  link_.sender.SendTo(state_.GlTargetIface, address, port, bytes.size(), bytes.data());
}

void Exchange::Send(const Telegram& t, bool encrypt) {
  std::array<uint8_t, 128> buf = t.bytes;
  size_t n = t.size;
  std::string address;
  uint16_t port = 0;
  int iface = 0;
  {
    // Lock only for the record and the shared cipher, never across the wait.
    std::lock_guard<std::mutex> lock(link_.Lock);
    const uint16_t i = link_.handoff.GlNumStruct;
    if (!link_.table.Valid(i)) return;
    devlink::ClientRecord& r = link_.table[i];
    if (encrypt) n = devlink::EncryptForSend(link_.cipher, buf.data(), r);
    address = std::string(devlink::PStrView(r.peerAddr));
    port = devlink::PeerPort(r);
    iface = r.iface;
  }
  if (n == 0) return;
  link_.sender.SendTo(iface, address, port, n, buf.data());
}

bool Exchange::WaitAnswer(int timeoutMs) {
  devlink::Handoff& h = link_.handoff;
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(timeoutMs / state_.timeDivisor);
  events_.Push({Event::Kind::kWait, "", timeoutMs, 0});
  bool arrived = false;
  {
    std::unique_lock<std::mutex> lock(h.waitMutex);
    auto nextReport = start + kProgressStep;
    for (;;) {
      if (state_.GlAbort) break;
      if (h.GlWaitCode == 0) {
        arrived = true;
        break;
      }
      const auto now = Clock::now();
      if (now >= deadline) break;
      if (now >= nextReport) {
        lock.unlock();
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start);
        events_.Push({Event::Kind::kWait, "", timeoutMs, int(elapsed.count()) * state_.timeDivisor});
        lock.lock();
        nextReport = now + kProgressStep;
        continue;
      }
      h.waitCv.wait_until(lock, std::min(deadline, nextReport));
    }
  }
  h.GlWaitCode = 0;
  events_.Push({Event::Kind::kWait, "", timeoutMs, arrived ? timeoutMs : 0});
  return arrived;
}

std::array<uint8_t, 128> Exchange::Answer() {
  std::array<uint8_t, 128> a;
  std::lock_guard<std::mutex> lock(link_.Lock);
  std::memcpy(a.data(), link_.handoff.GlAnswerBuf, a.size());
  return a;
}

void Exchange::Pause(int ms) {
  devlink::Handoff& h = link_.handoff;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms / state_.timeDivisor);
  std::unique_lock<std::mutex> lock(h.waitMutex);
  while (!state_.GlAbort && Clock::now() < deadline) h.waitCv.wait_until(lock, deadline);
}

std::array<uint8_t, 2> Exchange::WorkingKeyBytes() {
  std::lock_guard<std::mutex> lock(link_.Lock);
  const uint16_t i = link_.handoff.GlNumStruct;
  if (!link_.table.Valid(i)) return {0, 0};
  const devlink::ClientRecord& r = link_.table[i];
  const devlink::Key10 key = devlink::EffectiveKey(r.keyMaterial, r.n1, r.n2, r.n3);
  return {key[0], key[1]};
}

void Exchange::SetAbort() {
  state_.GlAbort = true;
  link_.handoff.Wake();
}

void Exchange::Log(const std::string& line) { events_.Push({Event::Kind::kLog, line}); }

void Exchange::DebugLog(const std::string& line) {
  if (link_.settings.GlOtladka) Log(line);
}

void Exchange::Operation(int max, int pos) { events_.Push({Event::Kind::kOperation, "", max, pos}); }

void Exchange::WaitProgress(int max, int pos) { events_.Push({Event::Kind::kWait, "", max, pos}); }

void Exchange::Status(Event::Line line, const std::string& text, Event::Colour colour,
                      bool append) {
  Event e{Event::Kind::kStatus, text};
  e.line = line;
  e.colour = colour;
  e.append = append;
  events_.Push(std::move(e));
}

}  // namespace maintenance
