#include "maintenance/eth_update.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>
#include <span>

#include "maintenance/tftp.h"

namespace maintenance {

namespace {

using Clock = std::chrono::steady_clock;
// How often a waiting transfer reports its answer-wait progress.
constexpr auto kProgressStep = std::chrono::milliseconds(250);

// Runs one transfer to its end on the session's worker.
class Driver {
 public:
  Driver(Exchange& x, TftpTransfer& t)
      : x_(x), t_(t), h_(x.Link().handoff), divisor_(std::max(1, x.Shared().timeDivisor.load())) {}

  bool Run() {
    // Listening starts before the first send, so a fast reply is never missed.
    Listen(true);
    Send(t_.Start(Now()));
    Report();
    while (!t_.Done()) {
      devlink::IntakeEntry e{};
      if (TakeReply(&e)) {
        Send(t_.OnDatagram(e.Peer(), e.Port(), e.data, e.Length(), Now()));
      } else if (x_.Aborted()) {
        t_.Abort();
      } else if (Now() >= t_.Deadline().value_or(0)) {
        Send(t_.OnTime(Now()));
      } else {
        WaitForWork(*t_.Deadline());
      }
      Report();
    }
    Listen(false);
    x_.WaitProgress(1, 0);
    return t_.Succeeded();
  }

 private:
  // The transfer's clock: its waits and pauses shrink with the time divisor.
  uint64_t Now() const {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
    return uint64_t(ms.count()) * uint64_t(divisor_);
  }

  void Listen(bool on) {
    std::lock_guard<std::mutex> lock(x_.Link().Lock);
    h_.tftpReplies.Listen(on);
  }

  bool TakeReply(devlink::IntakeEntry* e) {
    if (h_.tftpReplies.Pending() == 0) return false;
    std::lock_guard<std::mutex> lock(x_.Link().Lock);
    return h_.tftpReplies.Pop(e);
  }

  // Until a reply arrives, the operator aborts, the transfer's deadline
  // passes or the wait progress is due.
  void WaitForWork(uint64_t due) {
    const uint64_t d = uint64_t(divisor_);
    const auto dueAt = start_ + std::chrono::milliseconds((due + d - 1) / d);
    std::unique_lock<std::mutex> lock(h_.waitMutex);
    h_.waitCv.wait_until(lock, std::min(dueAt, nextReport_),
                         [this] { return h_.tftpReplies.Pending() > 0 || x_.Aborted(); });
  }

  void Send(const std::vector<TftpDatagram>& out) {
    for (const TftpDatagram& d : out) {
      if (d.kind == TftpDatagram::Kind::kJumpCommand) {
        // A maintenance telegram like any other: to the device by its client index.
        x_.Request(std::span<const uint8_t>(d.bytes), 0, 0);
      } else {
        x_.Link().sender.SendTo(x_.Shared().GlTargetIface, d.address, d.port, d.bytes.size(),
                                d.bytes.data());
      }
    }
  }

  // The log lines, the operation progress (file bytes put into packets) and
  // the answer-wait progress of the current reply wait.
  void Report() {
    for (const std::string& line : t_.TakeLog()) x_.Log(line);
    const TftpProgress p = t_.Progress();
    if (p.bytesRead != reportedRead_ && p.bytesTotal > 0) {
      reportedRead_ = p.bytesRead;
      x_.Operation(int(p.bytesTotal), int(p.bytesRead));
    }
    const std::optional<uint64_t> deadline = t_.Deadline();
    const uint64_t length = t_.WaitLengthMs();
    const auto now = Clock::now();
    if (deadline != reportedDeadline_) {
      reportedDeadline_ = deadline;
      x_.WaitProgress(int(std::max<uint64_t>(length, 1)), 0);
      nextReport_ = now + kProgressStep;
    } else if (length > 0 && deadline && now >= nextReport_) {
      const uint64_t begun = *deadline - std::min(*deadline, length), nowMs = Now();
      x_.WaitProgress(int(length), int(std::min(nowMs > begun ? nowMs - begun : 0, length)));
      nextReport_ = now + kProgressStep;
    }
  }

  Exchange& x_;
  TftpTransfer& t_;
  devlink::Handoff& h_;
  const int divisor_;
  const Clock::time_point start_ = Clock::now();
  Clock::time_point nextReport_ = start_ + kProgressStep;
  size_t reportedRead_ = std::numeric_limits<size_t>::max();
  std::optional<uint64_t> reportedDeadline_;
};

}  // namespace

bool TransferEthernetFirmware(Exchange& x, const std::string& fileName,
                              const std::optional<std::vector<uint8_t>>& fileBytes) {
  x.Operation(10, 0);
  if (const auto problem = EthernetFirmwareFileProblem(fileName, fileBytes.has_value())) {
    x.Log(*problem);
    return false;
  }
  std::string address;
  uint16_t port = 0;
  {
    devlink::DeviceLink& link = x.Link();
    std::lock_guard<std::mutex> lock(link.Lock);
    const uint16_t i = link.handoff.GlNumStruct;
    if (!link.table.Valid(i)) return false;
    address = std::string(devlink::PStrView(link.table[i].peerAddr));
    port = devlink::PeerPort(link.table[i]);
  }
  TftpTransfer t(TftpRemoteName(fileName), *fileBytes, address, port);
  return Driver(x, t).Run();
}

}  // namespace maintenance
