// The simulated workstation's exchange with the server on a serial port:
// polls the groups in turn, acknowledges items (or withholds every K-th
// acknowledgement), sends commands between polls, and reports every frame.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "tools/armsim/arm_codec.h"

namespace armsim {

struct SessionOptions {
  std::vector<uint8_t> groups{1};
  int pollMs = 100;    // pause after each poll cycle
  int answerMs = 500;  // wait for an answer; the server may pause 300 ms before a resend
  int noAckEvery = 0;  // withhold the acknowledgement of every K-th item; 0: never
  std::vector<Bytes> sends;  // whole command frames, one after each poll, in order
  int durationMs = 0;  // 0: no time limit
  int items = 0;       // stop after this many items; 0: no limit
  bool timestamps = false;  // items carry "mono_us", CLOCK_MONOTONIC at their arrival
};

struct SessionStats {
  uint64_t polls = 0;
  uint64_t items = 0;
  uint64_t resends = 0;
  uint64_t acksSent = 0;
  uint64_t acksWithheld = 0;
  uint64_t serverAcks = 0;
  uint64_t empty = 0;
  uint64_t noAnswer = 0;
  uint64_t commandsSent = 0;
};

// Exit codes of a run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitPortFailed = 1;
inline constexpr int kExitMalformed = 3;

class Session {
 public:
  // `out` receives one JSON line per frame reported.
  Session(platform::SerialPort& port, SessionOptions options,
          std::function<void(const std::string&)> out);

  // Runs until the duration passes, the items are in, Stop() is called, or
  // the server sends a malformed frame; returns the exit code.
  int Run();
  void Stop() { stop_.store(true); }

  const SessionStats& Stats() const { return stats_; }
  // Why the run ended early (malformed frame, failed write).
  const std::string& Error() const { return error_; }

 private:
  bool Send(const Bytes& frame);
  // Reads the answer to what was just written and handles its frames;
  // false when the run must end.
  bool Exchange();
  bool Handle(const Frame& f);
  bool Done() const;
  void Pause(int ms);

  platform::SerialPort& port_;
  const SessionOptions opt_;
  const std::function<void(const std::string&)> out_;
  std::atomic<bool> stop_{false};
  SessionStats stats_;
  std::string error_;
  int exitCode_ = kExitOk;
  Bytes lastUnacked_;  // the last item whose acknowledgement was withheld
  std::chrono::steady_clock::time_point deadline_;
};

// {"type":"summary",...} of a finished run.
std::string SummaryJson(const SessionStats& s, int exitCode);

}  // namespace armsim
