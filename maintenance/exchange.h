// The request/answer pattern every maintenance exchange follows, on the
// session's own worker: build a telegram, arm the awaited code, send it to
// the selected device, wait for the device worker to hand the answer over.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "devlink/device_link.h"
#include "maintenance/events.h"
#include "maintenance/telegram.h"

namespace maintenance {

// Shared maintenance state beside the hand-off's: one device at a time.
struct State {
  std::atomic<bool> GlAbort{false};
  std::atomic<uint8_t> GlChipKind{0};     // 0 PIC18F4620, 1 PIC18F67K22, 2 PIC18F46K22
  std::atomic<uint8_t> GlTargetIface{0};  // interface of loader and TFTP packets
  // Every time-out and pause is divided by this: 1 in operation; tests and a
  // server run with a short tick shorten them alike.
  std::atomic<int> timeDivisor{1};
};

class Exchange {
 public:
  Exchange(devlink::DeviceLink& link, State& state, EventQueue& events);

  // Arms GlWaitCode with `awaited` (0: no answer awaited) before the send, so
  // that a fast answer is never missed; sends the telegram to the selected
  // device, encrypted with its key when `encrypt`; waits. True when the
  // awaited answer arrived; false on time-out or abort.
  bool Request(const Telegram& t, bool encrypt, uint8_t awaited, int timeoutMs);
  // The same for a telegram already laid out in full (a settings block).
  bool Request(std::span<const uint8_t> bytes, uint8_t awaited, int timeoutMs);
  // Arms `awaited` (0: none), sends `bytes` as they are to the maintenance
  // target (GlTargetHost, GlTargetPort through GlTargetIface) and waits as
  // Request does. Loader commands and packets go this way.
  bool RequestTarget(std::span<const uint8_t> bytes, uint8_t awaited, int timeoutMs);
  // Waits for the armed code; GlWaitCode is 0 afterwards either way.
  bool WaitAnswer(int timeoutMs);
  // A copy of GlAnswerBuf, taken under Lock.
  std::array<uint8_t, 128> Answer();
  // A plain pause that an abort ends early.
  void Pause(int ms);

  // The first two bytes of the selected device's working key (its key
  // material with its console number applied).
  std::array<uint8_t, 2> WorkingKeyBytes();

  bool Aborted() const { return state_.GlAbort.load(); }
  void SetAbort();
  void Log(const std::string& line);
  // Logged in debug mode ("Режим отладки") only.
  void DebugLog(const std::string& line);
  void Operation(int max, int pos);
  // The answer-wait progress of a wait the caller runs itself, in milliseconds.
  void WaitProgress(int max, int pos);
  void Status(Event::Line line, const std::string& text, Event::Colour colour,
              bool append = false);

  devlink::DeviceLink& Link() { return link_; }
  State& Shared() { return state_; }

 private:
  void Send(const Telegram& t, bool encrypt);
  void SendToTarget(std::span<const uint8_t> bytes);

  devlink::DeviceLink& link_;
  State& state_;
  EventQueue& events_;
};

}  // namespace maintenance
