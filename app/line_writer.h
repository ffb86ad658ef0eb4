// Writes the message and trace lines to a file descriptor from a thread of its
// own: a reader that stalls (a terminal held with Ctrl-S, a pipe nobody reads)
// holds up only this thread, never the main tick. The queue behind it is
// bounded and counts what it drops.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "console/message_sink.h"

namespace app {

class LineWriter {
 public:
  LineWriter(console::MessageSink& sink, int fd) : sink_(sink), fd_(fd) {}
  // Finishes within two seconds, or ends the process.
  ~LineWriter();

  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  void Start();
  // Writes what is still queued and ends the thread. False when the reader
  // has not taken it all within `limit`: the thread is then still blocked in
  // a write, and the caller must end the process rather than return.
  bool Finish(std::chrono::milliseconds limit);

 private:
  void Loop();

  console::MessageSink& sink_;
  const int fd_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
};

}  // namespace app
