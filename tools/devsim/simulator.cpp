#include "tools/devsim/simulator.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <queue>

#include "devlink/crc8.h"
#include "tools/devsim/sim_device.h"
#include "tools/devsim/udp_batch.h"

namespace devsim {
namespace {

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSlackNs = kMs / 2;     // timers this close are served together
constexpr size_t kTimerBudget = 1024;     // timers per loop pass, so answers are read in time
constexpr size_t kReceiveBudget = 16;     // receive batches per socket per pass
constexpr size_t kFlushAt = 4 * kBatch;   // queued datagrams that force a send
constexpr uint8_t kEchoFlag = 1;

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::string Hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 3);
  for (size_t k = 0; k < n; ++k) {
    if (k) s += ' ';
    s += d[p[k] >> 4];
    s += d[p[k] & 15];
  }
  return s;
}

struct Timer {
  int64_t when;
  uint32_t device;
  bool operator>(const Timer& o) const { return when > o.when; }
};

struct SocketSlot {
  UdpSocket sock;
  std::vector<OutDatagram> queue;
  size_t head = 0;
  bool wantOut = false;
};

}  // namespace

std::string CheckOptions(const SimOptions& o) {
  if (std::string e = CheckPopulation(o.population); !e.empty()) return e;
  if (o.serverPort == 0) return "--server needs a port above 0";
  if (!o.preset.empty() && o.preset.size() != o.population.devices)
    return "the registry's device list and --devices disagree";
  if (o.regCode != kCodeRegister && o.regCode != kCodeRegisterOpt) return "--reg-code must be 7 or 0x87";
  if (o.regRetryMs <= 0 || o.eventRetryMs <= 0 || o.answerTimeoutMs <= 0)
    return "retry and answer times must be above 0";
  if (o.heartbeatUs < 0 || o.durationMs < 0 || o.rate < 0) return "times and rates must not be negative";
  if (o.movePort && o.population.port != 0 &&
      uint32_t(o.population.port) + 2 * o.population.sockets - 1 > 65535)
    return "--move-port needs --port low enough for twice the sockets";
  return {};
}

struct Simulator::Impl {
  SimOptions o;
  uint32_t n = 0;
  std::vector<SimDevice> devs;
  std::vector<SocketSlot> socks;
  // The 87J60 loaders of maintained devices, by device, made at their first jump command.
  std::map<uint32_t, std::unique_ptr<EthLoader>> loaders;
  sockaddr_in server{};
  int ep = -1, tfd = -1, efd = -1;

  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers;
  std::deque<uint32_t> waitQ;
  double tokens = 0, burst = 1;
  int64_t lastRefill = 0;
  bool stopping = false;
  int64_t lingerUntil = 0;
  int64_t lastSend = 0;
  uint32_t finishedCount = 0;
  SimSummary s;
  uint32_t errorsLogged = 0;

  explicit Impl(SimOptions opt) : o(std::move(opt)) {}
  ~Impl() {
    for (int fd : {ep, tfd, efd})
      if (fd >= 0) ::close(fd);
  }

  void Log(const std::string& line) {
    if (o.log) o.log(line);
  }

  bool Open(std::string* error) {
    if (std::string e = CheckOptions(o); !e.empty()) {
      *error = e;
      return false;
    }
    n = o.population.devices;
    const uint32_t k = o.population.sockets;
    const uint32_t bindAddr = o.population.spread ? 0 : o.population.source;
    const uint32_t count = o.movePort ? 2 * k : k;
    socks.resize(count);
    for (uint32_t j = 0; j < count; ++j) {
      const uint16_t port = o.population.port == 0 ? 0 : uint16_t(o.population.port + j);
      if (!socks[j].sock.Open(bindAddr, port, error)) return false;
    }
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(o.serverAddr);
    server.sin_port = htons(o.serverPort);

    ep = epoll_create1(EPOLL_CLOEXEC);
    tfd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    efd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (ep < 0 || tfd < 0 || efd < 0) {
      *error = std::string("epoll/timerfd/eventfd: ") + std::strerror(errno);
      return false;
    }
    for (uint32_t j = 0; j < count; ++j) Watch(socks[j].sock.fd(), EPOLLIN, j);
    Watch(tfd, EPOLLIN, count);
    Watch(efd, EPOLLIN, count + 1);
    return true;
  }

  void Watch(int fd, uint32_t events, uint32_t tag) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u32 = tag;
    epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
  }

  // ---- set-up ----

  void InitDevices(int64_t t0) {
    devs.assign(n, SimDevice{});
    int64_t spread = 0;
    if (o.startSpreadUs >= 0) {
      spread = o.startSpreadUs * 1000;
    } else if (o.rate > 0) {
      spread = int64_t(double(n) * 1e9 / o.rate);
    } else {
      spread = o.heartbeatUs * 1000;
    }
    for (uint32_t k = 0; k < n; ++k) {
      SimDevice& d = devs[k];
      static_cast<DevicePlan&>(d) = PlanDevice(o.population, k);
      if (o.maintained) d.maint = std::make_shared<MaintainedDevice>(o.maint);
      if (!o.preset.empty()) {
        const DeviceInit& p = o.preset[k];
        d.number = p.number;
        if (!o.population.identity) d.identity = p.identity;  // --identity overrides, for substitution runs
        d.svcSeq = uint8_t(p.lastHbSeq + 1);
        d.eventSeq = uint8_t(p.lastEventSeq + 1);
        if (!o.registerDevices) {
          SetKey(d.cipher, p.keyMaterial, d.number);
          d.cipher.send = p.send;
          d.cipher.recv = p.recv;
          d.index = p.index;
          d.registered = true;
          ++s.registered;
        }
      }
      if (o.firstSeq >= 0) d.svcSeq = d.eventSeq = uint8_t(o.firstSeq);
      const int64_t start = t0 + (n > 1 ? int64_t(double(spread) * k / n) : 0);
      d.nextReg = d.nextHb = d.nextTime = d.nextEvent = d.nextEcho = start;
      UpdateFinished(d, start);
      Reschedule(k);
    }
  }

  // ---- sending ----

  bool Take() {
    if (o.rate <= 0) return true;
    if (tokens < 1) return false;
    tokens -= 1;
    return true;
  }

  void Refill(int64_t now) {
    if (o.rate <= 0) return;
    tokens = std::min(burst, tokens + double(now - lastRefill) * o.rate / 1e9);
    lastRefill = now;
  }

  void Emit(const SimDevice& d, const uint8_t* bytes, size_t len) {
    lastSend = NowNs();
    SocketSlot& slot = socks[d.socket];
    OutDatagram& out = slot.queue.emplace_back();
    out.source = o.population.spread ? d.address : 0;
    out.len = uint16_t(len);
    std::memcpy(out.bytes, bytes, len);
    if (slot.queue.size() - slot.head >= kFlushAt) Flush(slot);
  }

  void Flush(SocketSlot& slot) {
    if (slot.head < slot.queue.size()) {
      const SendResult r = slot.sock.Send(slot.queue.data() + slot.head, slot.queue.size() - slot.head, server);
      slot.head += r.done;
      s.datagramsSent += r.done - r.failed;
      s.sendErrors += r.failed;
      if (r.failed > 0 && errorsLogged < 5) {
        ++errorsLogged;
        Log(std::string("devsim: send failed: ") + std::strerror(r.lastError));
      }
    }
    if (slot.head == slot.queue.size()) {
      slot.queue.clear();
      slot.head = 0;
    }
    const bool want = slot.head < slot.queue.size();
    if (want != slot.wantOut) {
      slot.wantOut = want;
      epoll_event ev{};
      ev.events = want ? uint32_t(EPOLLIN | EPOLLOUT) : uint32_t(EPOLLIN);
      ev.data.u32 = uint32_t(&slot - socks.data());
      epoll_ctl(ep, EPOLL_CTL_MOD, slot.sock.fd(), &ev);
    }
  }

  void FlushAll() {
    for (auto& slot : socks) Flush(slot);
  }

  void SendWrapped(SimDevice& d, const uint8_t* inner) {
    if (!d.skipDone) {
      d.cipher.send += o.skip;  // values the server must look ahead over
      d.skipDone = true;
    }
    uint8_t w[kBufSize];
    const size_t len = Wrap(d.cipher, d.index, inner, w);
    if (len > 0) Emit(d, w, len);
  }

  void SendRegistration(SimDevice& d) {
    RegistrationInput in;
    in.number = d.number;
    in.code = o.regCode;
    in.seq = d.regSeq++;
    in.seed = d.seed;
    in.devBytes = d.devBytes;
    in.identity = d.identity;
    uint8_t t[kBufSize];
    const size_t len = BuildRegistration(in, o.regKey, d.cipher, t);
    d.regChaining = d.cipher.recv;
    ++d.regSent;
    ++s.registrationsSent;
    Emit(d, t, len);
  }

  void SendHeartbeat(SimDevice& d, int64_t now) {
    uint8_t seq = d.svcSeq++;
    if (o.repeatSeq && d.hbSent == 1) {
      seq = d.lastHbSeq;  // the second heartbeat repeats the first one's sequence byte
      --d.svcSeq;
    }
    d.lastHbSeq = seq;
    uint8_t t[kBufSize];
    BuildHeartbeat(d.number, seq, t);
    SendWrapped(d, t);
    d.hbAwait.Set(seq);
    ++d.hbSent;
    ++s.heartbeatsSent;
    d.hbQuietAt = now + o.answerTimeoutMs * kMs;
  }

  void SendTime(SimDevice& d, int64_t now) {
    d.timeSeq = d.svcSeq++;
    uint8_t t[kBufSize];
    BuildTimeRequest(d.number, d.timeSeq, t);
    SendWrapped(d, t);
    d.timeAwait.Set(d.timeSeq);
    ++d.timeIssued;
    ++s.timeSent;
    d.timeInFlight = true;
    d.timeDeadline = now + o.answerTimeoutMs * kMs;
  }

  void SendEcho(SimDevice& d, int64_t now) {
    const uint8_t x = ++d.echoX;
    uint8_t t[kBufSize];
    const size_t len = BuildEcho(d.number, x, kEchoFlag, 0, t);
    Emit(d, t, len);
    d.echoAwait.Set(x);
    ++d.echoesIssued;
    ++s.echoesSent;
    d.echoInFlight = true;
    d.echoDeadline = now + o.answerTimeoutMs * kMs;
  }

  void NewOwnEvent(SimDevice& d, int64_t now) {
    PendingEvent p;
    p.nextSend = now;
    const uint8_t data = uint8_t(d.eventsIssued);
    p.len = uint8_t(BuildEvent(d.number, d.eventSeq++, o.eventCode, &data, 1, p.plain));
    d.pending.push_back(p);
    ++d.eventsIssued;
    ++s.eventsSent;
  }

  // Does what is due for the device at `now`; false when it ran out of send
  // tokens and must wait for more.
  bool Service(SimDevice& d, int64_t now) {
    if (d.maint) SendDue(d, now);
    if (!d.registered && o.registerDevices && now >= d.nextReg) {
      if (!Take()) return false;
      SendRegistration(d);
      d.nextReg = now + o.regRetryMs * kMs;
    }
    if (d.echoInFlight && now >= d.echoDeadline) {
      d.echoInFlight = false;
      d.nextEcho = now;
    }
    if (!d.echoInFlight && d.echoesIssued < o.echoes && now >= d.nextEcho) {
      if (!Take()) return false;
      SendEcho(d, now);
    }
    if (!d.registered) return true;

    if (!d.HasOwnEvent() && d.eventsIssued < o.events && now >= d.nextEvent) NewOwnEvent(d, now);
    for (auto& p : d.pending) {
      if (now < p.nextSend) continue;
      if (!Take()) return false;
      SendWrapped(d, p.plain);
      if (!p.sent && !p.request && o.onEventSent) o.onEventSent(d.number, p.plain[9], NowNs() / 1000);
      if (p.sent) ++s.eventResends;
      p.sent = true;
      p.nextSend = now + o.eventRetryMs * kMs;
    }
    if (WantsHeartbeat(d) && now >= d.nextHb) {
      if (!Take()) return false;
      SendHeartbeat(d, now);
      d.nextHb += o.heartbeatUs * 1000;
      if (d.nextHb <= now) d.nextHb = now + o.heartbeatUs * 1000;  // fell behind: no burst
    }
    if (d.timeInFlight && now >= d.timeDeadline) {
      d.timeInFlight = false;
      d.nextTime = now;
    }
    if (!d.timeInFlight && d.timeIssued < o.timeRequests && now >= d.nextTime) {
      if (!Take()) return false;
      SendTime(d, now);
    }
    return true;
  }

  // A maintained device's late answers and notices that have fallen due.
  void SendDue(const SimDevice& d, int64_t now) {
    for (const Delayed& x : d.maint->Due(now / kMs)) {
      if (o.verbose && o.log)
        Log("devsim: #" + std::to_string(&d - devs.data()) + " " + NumberText(d.number) + " -> " + x.note +
            ": " + Hex(x.bytes.data(), x.bytes.size()));
      Emit(d, x.bytes.data(), x.bytes.size());
    }
  }

  bool WantsHeartbeat(const SimDevice& d) const {
    return o.heartbeatUs > 0 && (o.heartbeats == 0 || d.hbSent < o.heartbeats);
  }

  // ---- timers ----

  int64_t NextWake(const SimDevice& d) const {
    if (stopping) return kNever;
    int64_t t = kNever;
    if (!d.registered && o.registerDevices) t = std::min(t, d.nextReg);
    if (d.echoInFlight) {
      t = std::min(t, d.echoDeadline);
    } else if (d.echoesIssued < o.echoes) {
      t = std::min(t, d.nextEcho);
    }
    if (d.registered) {
      for (const auto& p : d.pending) t = std::min(t, p.nextSend);
      if (!d.HasOwnEvent() && d.eventsIssued < o.events) t = std::min(t, d.nextEvent);
      if (WantsHeartbeat(d)) t = std::min(t, d.nextHb);
      if (d.timeInFlight) {
        t = std::min(t, d.timeDeadline);
      } else if (d.timeIssued < o.timeRequests) {
        t = std::min(t, d.nextTime);
      }
    }
    if (!d.finished && !d.hbAwait.Empty()) t = std::min(t, d.hbQuietAt);
    if (d.maint && d.maint->NextDue() != kNoneDue) t = std::min(t, d.maint->NextDue() * kMs);
    return t;
  }

  void Reschedule(uint32_t k) {
    SimDevice& d = devs[k];
    if (d.waiting) return;
    const int64_t w = NextWake(d);
    if (w == d.wakeAt) return;
    d.wakeAt = w;
    if (w != kNever) timers.push({w, k});
  }

  void UpdateFinished(SimDevice& d, int64_t now) {
    const bool f = IsFinished(d, now);
    if (f != d.finished) {
      d.finished = f;
      if (f) {
        ++finishedCount;
      } else {
        --finishedCount;
      }
    }
  }

  bool IsFinished(const SimDevice& d, int64_t now) const {
    if (!d.registered && o.registerDevices) return false;
    if (d.maint) return false;  // maintained devices wait for the operator: until --duration-ms
    if (d.echoInFlight || d.echoesIssued < o.echoes) return false;
    if (!d.registered) return true;  // without an index only echoes can be sent
    if (WantsHeartbeat(d)) return false;
    if (d.timeInFlight || d.timeIssued < o.timeRequests) return false;
    if (!d.pending.empty() || d.eventsIssued < o.events) return false;
    if (!d.hbAwait.Empty() && now < d.hbQuietAt) return false;
    return true;
  }

  void ServeWaiting(int64_t now) {
    while (!waitQ.empty() && (o.rate <= 0 || tokens >= 1)) {
      const uint32_t k = waitQ.front();
      waitQ.pop_front();
      SimDevice& d = devs[k];
      d.waiting = false;
      if (!Service(d, now)) {
        d.waiting = true;
        waitQ.push_front(k);
        break;
      }
      UpdateFinished(d, now);
      Reschedule(k);
    }
  }

  void FireTimers(int64_t now) {
    for (size_t done = 0; done < kTimerBudget && !timers.empty() && timers.top().when <= now; ++done) {
      const Timer t = timers.top();
      timers.pop();
      SimDevice& d = devs[t.device];
      if (d.wakeAt != t.when || d.waiting) continue;  // superseded
      d.wakeAt = kNever;
      if (!Service(d, now)) {
        d.waiting = true;
        waitQ.push_back(t.device);
        continue;
      }
      UpdateFinished(d, now);
      Reschedule(t.device);
    }
  }

  int64_t NextTimer() {
    while (!timers.empty()) {
      const Timer& t = timers.top();
      const SimDevice& d = devs[t.device];
      if (d.wakeAt == t.when && !d.waiting) return t.when;
      timers.pop();
    }
    return kNever;
  }

  // ---- receiving ----

  SimDevice* DeviceFor(uint32_t slot, uint32_t local, uint32_t* k) {
    if (o.population.spread) {
      if (local < o.population.source) return nullptr;
      *k = local - o.population.source;
    } else {
      *k = slot % o.population.sockets;
    }
    return *k < n ? &devs[*k] : nullptr;
  }

  void ReceiveFrom(uint32_t slot, int64_t now) {
    InDatagram in[kBatch];
    for (size_t b = 0; b < kReceiveBudget; ++b) {
      const size_t got = socks[slot].sock.Receive(in, kBatch);
      for (size_t j = 0; j < got; ++j) Handle(slot, in[j], now);
      if (got < kBatch) break;
    }
  }

  void Handle(uint32_t slot, const InDatagram& in, int64_t now) {
    ++s.datagramsReceived;
    uint32_t k = 0;
    SimDevice* dp = DeviceFor(slot, in.local, &k);
    if (dp == nullptr) {
      ++s.stray;
      return;
    }
    SimDevice& d = *dp;
    if (o.bareEcho) {
      if (d.hbAwait.TakeAny()) {
        ++s.heartbeatsAnswered;
      } else {
        ++s.duplicates;
      }
      return;
    }
    if (d.maint && !in.truncated && LoaderRequest(k, d, in)) return;
    if (d.maint && !in.truncated && MainLoaderPacket(k, d, in)) return;
    if (d.maint && !in.truncated && Maintenance(k, d, in, now)) return;
    Answer a;
    if (!in.truncated) a = OpenAnswer(d.cipher, d.number, in.bytes, in.len);
    if (a.kind == AnswerKind::kUndecryptable && d.regSent > 0 && IsLateRegistrationAnswer(d, in)) {
      a.kind = AnswerKind::kRegistration;  // made before a registration retry crossed it
      Trace(k, d, a, in, " (late, ignored)");
      ++s.duplicates;
      return;
    }
    Trace(k, d, a, in, "");
    if (o.movePort && !d.moved && !o.registerDevices && a.kind != AnswerKind::kUndecryptable &&
        a.kind != AnswerKind::kMalformed)
      Move(d);

    switch (a.kind) {
      case AnswerKind::kRegistration:
        if (!d.registered && o.registerDevices) {
          d.registered = true;
          d.index = a.index;
          ++s.registered;
          d.nextHb = d.nextTime = d.nextEvent = now;
          if (o.movePort) Move(d);
        } else {
          ++s.duplicates;
        }
        break;
      case AnswerKind::kHeartbeat:
        if (d.hbAwait.Take(a.seq)) {
          ++s.heartbeatsAnswered;
        } else {
          ++s.duplicates;
        }
        break;
      case AnswerKind::kTime:
        if (d.timeAwait.Take(a.seq)) {
          ++s.timeAnswered;
          if (d.timeInFlight && a.seq == d.timeSeq) {
            d.timeInFlight = false;
            d.nextTime = now;
          }
        } else {
          ++s.duplicates;
        }
        break;
      case AnswerKind::kEventAck: {
        auto it = std::find_if(d.pending.begin(), d.pending.end(),
                               [&](const PendingEvent& p) { return p.sent && p.seq() == a.seq; });
        if (it == d.pending.end()) {
          ++s.duplicates;
          break;
        }
        if (it->request) {
          ++s.requestsAnswered;
        } else {
          ++s.eventsAcked;
          d.nextEvent = now;
        }
        d.pending.erase(it);
        break;
      }
      case AnswerKind::kRequest:
        OnRequest(d, a, now);
        break;
      case AnswerKind::kEcho:
        OnEcho(d, a, now);
        break;
      case AnswerKind::kUndecryptable:
        ++s.undecryptable;
        break;
      case AnswerKind::kOther:
      case AnswerKind::kMalformed:
        ++s.unexpected;
        break;
    }
    UpdateFinished(d, now);
    Reschedule(k);
  }

  // A packet of HEX lines for the main controller's loader, longer than any
  // telegram, answered from the device's socket; false for any other datagram.
  bool MainLoaderPacket(uint32_t k, SimDevice& d, const InDatagram& in) {
    std::vector<std::vector<uint8_t>> replies;
    std::string note;
    if (!d.maint->MainController().Packet(d.number, in.bytes, in.len, &replies, &note)) return false;
    ++s.maintenanceRequests;
    if (o.verbose && o.log)
      Log("devsim: #" + std::to_string(k) + " " + NumberText(d.number) + " <- loader: " + note);
    for (const std::vector<uint8_t>& r : replies) Emit(d, r.data(), r.size());
    Reschedule(k);
    return true;
  }

  // A remote maintenance request, answered from the device's socket; false
  // for any other datagram.
  bool Maintenance(uint32_t k, SimDevice& d, const InDatagram& in, int64_t now) {
    uint8_t t[kBufSize] = {};
    if (in.len < 4 || in.len > kBufSize) return false;
    std::memcpy(t, in.bytes, in.len);
    if (t[0] == kTypeService) {
      // Encrypted with this device's key: opened with its receive value.
      if (t[1] == 0 || t[1] > devlink::kMaxEncryptL || devlink::EncryptedSize(t[1]) > in.len)
        return false;
      uint32_t recv = d.cipher.recv;
      if (!devlink::CbcDecryptLookAhead(d.cipher.rc6, t, recv)) return false;
      if (!devlink::CheckByteOk(t, kBufSize) || !MaintainedDevice::IsRequest(t)) return false;
      d.cipher.recv = recv;
    } else if (!devlink::CheckByteOk(t, in.len) || !MaintainedDevice::IsRequest(t)) {
      return false;
    }
    ++s.maintenanceRequests;
    std::string note;
    const std::vector<uint8_t> answer = d.maint->Handle(t, &note, now / kMs);
    if (t[0] == 0xEF && t[3] == 0x11) {
      Loader(k).Arm();
      note = "jump to the 87J60 loader";
    }
    if (o.verbose && o.log)
      Log("devsim: #" + std::to_string(k) + " " + NumberText(d.number) + " <- maintenance: " +
          note + ": " + Hex(t, size_t(t[1]) + 2));
    if (!answer.empty()) Emit(d, answer.data(), answer.size());
    Reschedule(k);
    return true;
  }

  EthLoader& Loader(uint32_t k) {
    std::unique_ptr<EthLoader>& l = loaders[k];
    if (!l) l = std::make_unique<EthLoader>(o.ethLoader);
    return *l;
  }

  // Epoll tags after the sockets, the timer and the stop event.
  uint32_t LoaderTag(uint32_t k) const { return uint32_t(socks.size()) + 2 + k; }

  // A TFTP write request to the device's armed 87J60 loader, which answers
  // from a transfer socket of its own; false for any other datagram.
  bool LoaderRequest(uint32_t k, const SimDevice& d, const InDatagram& in) {
    const auto it = loaders.find(k);
    if (it == loaders.end()) return false;
    EthLoader& l = *it->second;
    std::string note;
    if (!l.OnDeviceDatagram(in.bytes, in.len, in.local, in.peer, in.peerPort, &note)) return false;
    // The old transfer socket, if any, left the epoll set when it was closed.
    if (l.TransferFd() >= 0) Watch(l.TransferFd(), EPOLLIN, LoaderTag(k));
    LoaderNote(k, d, note);
    return true;
  }

  void OnLoaderReadable(uint32_t k) {
    const auto it = loaders.find(k);
    if (it == loaders.end()) return;
    std::vector<std::string> notes;
    it->second->OnTransferReadable(&notes);
    for (const std::string& note : notes) LoaderNote(k, devs[k], note);
  }

  void LoaderNote(uint32_t k, const SimDevice& d, const std::string& note) {
    if (o.verbose) Log("devsim: #" + std::to_string(k) + " " + NumberText(d.number) + " " + note);
  }

  bool IsLateRegistrationAnswer(const SimDevice& d, const InDatagram& in) const {
    DeviceCipher c = d.cipher;
    c.recv = d.regChaining;
    return OpenAnswer(c, d.number, in.bytes, in.len).kind == AnswerKind::kRegistration;
  }

  void Move(SimDevice& d) {
    d.moved = true;
    d.socket = o.population.sockets + d.socket % o.population.sockets;
  }

  void OnRequest(SimDevice& d, const Answer& a, int64_t now) {
    for (const auto& p : d.pending) {
      if (p.request && p.seq() == a.seq) {  // a repeat of a request being answered
        ++s.duplicates;
        return;
      }
    }
    ++s.requestsReceived;
    if (!o.answerRequests) return;
    PendingEvent p;
    p.request = true;
    p.nextSend = now;
    p.len = uint8_t(BuildRequestAnswer(d.number, a.seq, a.command, a.param, p.plain));
    d.pending.push_back(p);
  }

  void OnEcho(SimDevice& d, const Answer& a, int64_t now) {
    uint8_t expect[kBufSize];
    const size_t len = BuildEcho(d.number, a.seq, kEchoFlag, 0, expect);
    if (a.plainSize != len || std::memcmp(expect, a.plain.data(), len) != 0) {
      ++s.unexpected;
      return;
    }
    if (!d.echoAwait.Take(a.seq)) {
      ++s.duplicates;
      return;
    }
    ++s.echoesReturned;
    if (d.echoInFlight && a.seq == d.echoX) {
      d.echoInFlight = false;
      d.nextEcho = now;
    }
  }

  void Trace(uint32_t k, const SimDevice& d, const Answer& a, const InDatagram& in, const char* note) {
    if (!o.verbose || !o.log) return;
    std::string line = "devsim: #" + std::to_string(k) + " " + NumberText(d.number) + " <- " +
                       AnswerKindName(a.kind) + note + ": ";
    if (a.plainSize > 0) {
      line += Hex(a.plain.data(), a.plainSize);
    } else {
      line += "raw " + Hex(in.bytes, in.len);
    }
    Log(line);
  }

  // ---- run ----

  // Each maintained device's configuration image, to its file at the end of the run.
  void DumpImages() {
    for (const SimDevice& d : devs) {
      if (!d.maint) continue;
      std::string note;
      const bool ok = d.maint->Config().Dump(d.number, &note);
      if (!note.empty() && (!ok || o.verbose)) Log("devsim: " + NumberText(d.number) + " " + note);
    }
  }

  uint64_t Outstanding() const {
    uint64_t u = (s.heartbeatsSent - s.heartbeatsAnswered) + (s.timeSent - s.timeAnswered) +
                 (s.eventsSent - s.eventsAcked) + (s.echoesSent - s.echoesReturned);
    if (o.answerRequests) u += s.requestsReceived - s.requestsAnswered;
    if (o.registerDevices) u += n - s.registered;
    return u;
  }

  void ArmTimer(int64_t when) {
    itimerspec its{};
    if (when != kNever) {
      its.it_value.tv_sec = when / 1'000'000'000;
      its.it_value.tv_nsec = when % 1'000'000'000;
      if (its.it_value.tv_sec == 0 && its.it_value.tv_nsec == 0) its.it_value.tv_nsec = 1;
    }
    timerfd_settime(tfd, TFD_TIMER_ABSTIME, &its, nullptr);
  }

  SimSummary Run() {
    const int64_t t0 = NowNs();
    s.devices = n;
    burst = std::max(1.0, o.rate * 0.005);
    tokens = o.rate > 0 ? 1 : 0;
    lastRefill = t0;
    InitDevices(t0);
    const int64_t end = o.durationMs > 0 ? t0 + o.durationMs * kMs : kNever;
    bool stopAsked = false;
    const uint32_t tfdTag = uint32_t(socks.size()), efdTag = tfdTag + 1;

    for (;;) {
      int64_t now = NowNs();
      if (!stopping) {
        if (stopAsked || now >= end) {
          stopping = true;
          lingerUntil = std::min(now, lastSend) + o.answerTimeoutMs * kMs;  // older sends are given up
        } else if (finishedCount == n) {
          break;
        }
      }
      if (stopping && (Outstanding() == 0 || now >= lingerUntil)) break;

      Refill(now);
      if (!stopping) {
        ServeWaiting(now + kSlackNs);
        FireTimers(now + kSlackNs);
      }
      FlushAll();
      if (!stopping && finishedCount == n) continue;  // the last device just finished

      int64_t next = kNever;
      if (stopping) {
        next = lingerUntil;
      } else {
        next = std::min(NextTimer(), end);
        if (!waitQ.empty() && o.rate > 0) {
          // Wait for a slack's worth of tokens at least, so waiting devices go out in batches.
          const int64_t need = int64_t(std::max(0.0, 1 - tokens) * 1e9 / o.rate) + 1;
          next = std::min(next, now + std::max(need, kSlackNs));
        }
      }
      int timeout = -1;
      now = NowNs();
      if (next <= now) {
        timeout = 0;
      } else {
        ArmTimer(next);
      }
      epoll_event evs[64];
      const int got = epoll_wait(ep, evs, 64, timeout);
      now = NowNs();
      for (int j = 0; j < got; ++j) {
        const uint32_t tag = evs[j].data.u32;
        if (tag == tfdTag) {
          uint64_t x;
          while (::read(tfd, &x, sizeof x) > 0) {
          }
        } else if (tag == efdTag) {
          uint64_t x;
          while (::read(efd, &x, sizeof x) > 0) {
          }
          stopAsked = true;
        } else if (tag > efdTag) {
          OnLoaderReadable(tag - efdTag - 1);
        } else if (evs[j].events & EPOLLIN) {
          ReceiveFrom(tag, now);
        }
      }
    }
    FlushAll();
    DumpImages();
    s.unanswered = Outstanding();
    s.elapsedMs = (NowNs() - t0) / kMs;
    return s;
  }
};

Simulator::Simulator(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Simulator::~Simulator() = default;

bool Simulator::Open(std::string* error) { return impl_->Open(error); }

std::vector<uint16_t> Simulator::LocalPorts() const {
  std::vector<uint16_t> ports;
  for (const auto& slot : impl_->socks) ports.push_back(slot.sock.LocalPort());
  return ports;
}

SimSummary Simulator::Run() { return impl_->Run(); }

void Simulator::RequestStop() {
  if (impl_->efd >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(impl_->efd, &one, sizeof one);
  }
}

}  // namespace devsim
