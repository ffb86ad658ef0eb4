#include "tools/armsim/session.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "armlink/arm_frame.h"

namespace armsim {

namespace {

using Clock = std::chrono::steady_clock;

// Room for a whole answer and a frame that runs on past it.
constexpr size_t kReadBuf = 2 * armlink::kFrameBuf;

}  // namespace

Session::Session(platform::SerialPort& port, SessionOptions options,
                 std::function<void(const std::string&)> out)
    : port_(port), opt_(std::move(options)), out_(std::move(out)) {}

bool Session::Done() const {
  if (stop_.load()) return true;
  if (opt_.items > 0 && stats_.items >= uint64_t(opt_.items)) return true;
  return opt_.durationMs > 0 && Clock::now() >= deadline_;
}

void Session::Pause(int ms) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  while (!Done()) {
    const Clock::time_point now = Clock::now();
    if (now >= end) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

bool Session::Send(const Bytes& frame) {
  if (port_.Write(frame.data(), frame.size())) return true;
  error_ = "cannot write to the port " + port_.Name();
  exitCode_ = kExitPortFailed;
  return false;
}

int Session::Run() {
  if (opt_.groups.empty()) return kExitOk;
  deadline_ = Clock::now() + std::chrono::milliseconds(opt_.durationMs);
  port_.Purge();
  size_t next = 0;     // group of the next poll
  size_t command = 0;  // next command to send
  while (!Done()) {
    uint8_t poll[armlink::kFrameBuf];
    const size_t n = armlink::BuildPoll(poll, opt_.groups[next]);
    next = (next + 1) % opt_.groups.size();
    if (!Send(Bytes(poll, poll + n))) return exitCode_;
    ++stats_.polls;
    if (!Exchange()) return exitCode_;
    if (command < opt_.sends.size() && !Done()) {
      if (!Send(opt_.sends[command++])) return exitCode_;
      ++stats_.commandsSent;
      if (!Exchange()) return exitCode_;
    }
    Pause(opt_.pollMs);
  }
  return exitCode_;
}

bool Session::Exchange() {
  uint8_t buf[kReadBuf];
  size_t have = port_.Read(buf, kReadBuf, opt_.answerMs);
  if (have == 0) {
    ++stats_.noAnswer;
    return true;
  }
  SplitResult r = SplitFrames(buf, have);
  // A frame cut by a pause on the line gets one more wait for its end.
  if (r.status == SplitStatus::kIncomplete && have < kReadBuf) {
    have += port_.Read(buf + have, kReadBuf - have, opt_.answerMs);
    r = SplitFrames(buf, have);
  }
  for (const Frame& f : r.frames)
    if (!Handle(f)) return false;
  if (r.status != SplitStatus::kOk) {
    error_ = "malformed frame from the server: " + r.error + " (read: " + Hex(buf, have, true) + ")";
    exitCode_ = kExitMalformed;
    return false;
  }
  return true;
}

bool Session::Handle(const Frame& f) {
  switch (f.kind) {
    case FrameKind::kEmpty:
      ++stats_.empty;
      return true;
    case FrameKind::kAck:
      ++stats_.serverAcks;
      out_(AckJson(f));
      return true;
    case FrameKind::kItem:
      break;
  }
  // Items past the count asked for are left to the server to resend.
  if (opt_.items > 0 && stats_.items >= uint64_t(opt_.items)) return true;
  ++stats_.items;
  const bool resend = !lastUnacked_.empty() && f.bytes == lastUnacked_;
  stats_.resends += resend;
  std::optional<int64_t> arrival;
  if (opt_.timestamps)
    arrival = std::chrono::duration_cast<std::chrono::microseconds>(
                  Clock::now().time_since_epoch()).count();
  out_(ItemJson(f, resend, arrival));
  if (opt_.noAckEvery > 0 && stats_.items % uint64_t(opt_.noAckEvery) == 0) {
    ++stats_.acksWithheld;
    lastUnacked_ = f.bytes;
    return true;
  }
  lastUnacked_.clear();
  uint8_t ack[armlink::kFrameBuf];
  const size_t n = armlink::BuildAck(ack, f.group, uint8_t(f.counter));
  if (!Send(Bytes(ack, ack + n))) return false;
  ++stats_.acksSent;
  return true;
}

std::string SummaryJson(const SessionStats& s, int exitCode) {
  auto field = [](const char* name, uint64_t v) {
    return std::string(",\"") + name + "\":" + std::to_string(v);
  };
  return "{\"type\":\"summary\"" + field("polls", s.polls) + field("items", s.items) +
         field("resends", s.resends) + field("acks_sent", s.acksSent) +
         field("acks_withheld", s.acksWithheld) + field("server_acks", s.serverAcks) +
         field("empty", s.empty) + field("no_answer", s.noAnswer) +
         field("commands_sent", s.commandsSent) + ",\"exit\":" + std::to_string(exitCode) + "}";
}

}  // namespace armsim
