// Writes the registry file on a thread of its own, one save at a time, so the
// front end's thread never waits for the disk: only the copy of the table
// under Lock is paid by the saving thread. Requests made while a save runs
// are served by one more save after it, with the table as it is then.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "console/message_sink.h"
#include "registry/buff_client.h"

namespace registry {

class RegistrySaver {
 public:
  RegistrySaver(TBuffClient& store, std::mutex& lock, std::string path,
                console::MessageSink& sink);
  ~RegistrySaver() { Finish(); }
  RegistrySaver(const RegistrySaver&) = delete;
  RegistrySaver& operator=(const RegistrySaver&) = delete;

  // Asks for a save; returns at once.
  void Request();
  // Waits until no save runs or is asked for.
  void Wait();
  // Waits for the saves asked for, then ends the thread; later requests are
  // dropped (the caller writes the registry itself from then on).
  void Finish();

  // True when no save runs or is asked for.
  bool Idle() const;
  // Saves done so far, and how many of them failed.
  uint64_t Saves() const;
  uint64_t Failures() const;

 private:
  void Loop();

  TBuffClient& store_;
  std::mutex& lock_;
  const std::string path_;
  console::MessageSink& sink_;

  mutable std::mutex m_;
  std::condition_variable cv_;
  bool requested_ = false;
  bool saving_ = false;
  bool stop_ = false;
  uint64_t saves_ = 0, failures_ = 0;
  std::thread thread_;
};

}  // namespace registry
