// The console settings: single values written by the console (or the headless
// front end) and read by the worker threads without a lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "devlink/client_record.h"

namespace console {

using devlink::ConsoleNumber;

// A console number replaced whole, so a reader never sees half of a change.
class AtomicNumber {
 public:
  ConsoleNumber Load() const {
    const uint32_t v = v_.load(std::memory_order_relaxed);
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
  }
  void Store(ConsoleNumber n) {
    v_.store(uint32_t(n.n1) | (uint32_t(n.n2) << 8) | (uint32_t(n.n3) << 16),
             std::memory_order_relaxed);
  }

 private:
  std::atomic<uint32_t> v_{0};
};

struct ConsoleSettings {
  // Link supervision and request repetition.
  std::atomic<uint16_t> GlNaruchUO{10};
  std::atomic<bool> GlPovtorOn{false};
  std::atomic<uint16_t> GlNPovtor{3};
  std::atomic<uint16_t> GlTimePovtor{15};
  std::atomic<bool> GlAvarInetBlock{false};

  // Event handling options.
  std::atomic<bool> GlBalanseOff{true};
  std::atomic<bool> GlSostAvar{false};
  std::atomic<bool> GlMoteKTS{false};
  std::atomic<bool> GlAutoPodmena{true};

  // Interface management.
  std::atomic<bool> GlMetricActive{false};
  std::atomic<uint8_t> GlMetricHold{0};

  // Message and traffic windows.
  std::atomic<bool> GlOutEthern{true};
  std::atomic<bool> GlOutCrypt{false};
  std::atomic<bool> GlOutCom{false};
  std::atomic<bool> GlComPustOff{false};
  std::atomic<bool> GlOtladka{false};
  std::atomic<bool> GlMsgStop{false};
  std::atomic<bool> GlTraficRun{false};
  std::atomic<uint16_t> GlTraficLines{999};
  std::atomic<bool> GlFiltrOn{false};
  AtomicNumber GlFiltrNPult;
  std::atomic<uint16_t> GlFiltrNStruct{0};  // client index of the followed device

  // Registration.
  std::atomic<bool> GlRegOn{false};
  std::atomic<bool> GlRegOne{false};
  AtomicNumber GlRegNPult;
  std::atomic<bool> GlRegOneStart{false};
  std::atomic<bool> GlRegPermanent{false};
  std::atomic<bool> GlSaveRequest{false};
};

}  // namespace console
