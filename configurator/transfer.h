// The configuration image exchange with one device, kept as a state machine
// without sockets or clocks: identify, programming start and end, read and
// write in 48-byte blocks, key polling, and the 50 ms tick's time-outs and
// repeats. The caller sends the frames it returns, hands in every delivery
// from the device and calls Tick every 50 ms.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "configurator/frame.h"

namespace configurator {

inline constexpr uint8_t kVariantAccepted = 250;  // the only variant the exchange reads and writes
inline constexpr int kTimeoutTicks = 100;  // above it (about 5 s) a request is repeated
inline constexpr int kAutoRepeats = 7;     // repeats before the operator is asked
inline constexpr int kAssemblyTicks = 2;   // above it a partial frame is dropped

struct ConfigEvent {
  enum class Kind {
    kProgress,    // pos of 256: bytes read or written so far
    kIdentified,  // the device answered identify; text is the device line (Label6)
    kReadDone,    // bytes: image offsets 0..256 as read
    kWriteDone,   // every block acknowledged
    kKeyRead,     // bytes: the key as the reader gave it (frame bytes 7..L)
    kAsk,         // seven repeats went unanswered: "Продолжить?" / "Прибор не отвечает"
    kGaveUp,      // the operator declined to go on: nothing is outstanding
  };
  Kind kind = Kind::kProgress;
  int pos = 0;
  uint8_t variant = 0;
  std::string text;
  std::vector<uint8_t> bytes;

  static ConfigEvent Of(Kind k, int pos = 0) {
    ConfigEvent e;
    e.kind = k;
    e.pos = pos;
    return e;
  }
};

class ConfigTransfer {
 public:
  using Frames = std::vector<std::vector<uint8_t>>;

  // `seq`: the sequence byte to go on from (the last run's).
  explicit ConfigTransfer(uint8_t seq = 0) : seq_(seq) {}

  // Identify, as the window does when it opens; `consoleLine` is the text
  // "<Пульт. номер - N1/N2/N3>" the device line starts with.
  Frames Identify(const std::string& consoleLine);
  // Reads offsets 0..256 in six blocks.
  Frames Read();
  // Writes offsets 0..287 of `image` in six blocks, 127..130 sent as 0.
  Frames Write(std::span<const uint8_t> image);
  // Polls the reader until a key is presented; the first answer never counts.
  Frames StartKeyPoll();
  // Ends key polling (and any exchange): nothing is sent or taken until the next start.
  void Stop();
  // ProgrammingEnd, then stopped.
  Frames Close();

  // A delivery from the device: bytes that may hold part of a frame, one
  // frame or several.
  Frames Deliver(std::span<const uint8_t> bytes);
  // The 50 ms tick.
  Frames Tick();
  // The operator's answer to kAsk: go on (the request goes again) or not.
  Frames Answer(bool goOn);

  std::vector<ConfigEvent> TakeEvents();

  bool Outstanding() const { return outstanding_; }
  bool Asking() const { return asking_; }
  bool Busy() const { return op_ != Op::kIdle; }
  uint8_t Variant() const { return variant_; }
  uint8_t Seq() const { return seq_; }

 private:
  enum class Op { kIdle, kIdentify, kProgrammingStart, kRead, kWrite, kKeyPoll };

  Frames SendNew(std::vector<uint8_t> frame, Op op);
  Frames SendPending();
  Frames Dispatch(const FrameView& f);
  bool Awaited(const FrameView& f) const;
  Frames OnRead(const FrameView& f);
  Frames OnWrite();
  Frames OnKeyPoll(const FrameView& f);
  Frames OnIdentify(const FrameView& f);
  void Emit(ConfigEvent e) { events_.push_back(std::move(e)); }

  Op op_ = Op::kIdle;
  uint8_t variant_ = 0;
  uint8_t seq_;  // wraps 255 to 0
  uint32_t address_ = 0;
  std::vector<uint8_t> pending_;  // the last request, kept for repeats
  bool outstanding_ = false;
  int idleTicks_ = 0;
  int repeatCount_ = 0;
  bool stopped_ = false;
  bool asking_ = false;
  bool keyPollArmed_ = false;
  std::string consoleLine_;
  std::string deviceLine_;
  std::array<uint8_t, kReadEnd + 1> read_{};
  std::array<uint8_t, kWriteEnd> write_{};
  FrameAssembler assembler_;
  std::vector<ConfigEvent> events_;
};

}  // namespace configurator
