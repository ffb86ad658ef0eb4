// The device link's shared state: what the device worker works on while it
// holds Lock, and what the other workers and the console reach through it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "console/console_settings.h"
#include "console/message_sink.h"
#include "devlink/cipher.h"
#include "devlink/client_table.h"
#include "devlink/handoff.h"
#include "devlink/intake_ring.h"
#include "devlink/sender.h"
#include "platform/clock.h"
#include "registry/buff_client.h"

namespace devlink {

enum class InternetState : uint8_t { Unknown, Present, Absent };

struct DeviceLink {
  DeviceLink(registry::TBuffClient& store, console::ConsoleSettings& settings,
             console::MessageSink& sink, Sender& sender, const platform::Clock& clock,
             const Key10& regKeyBase)
      : store(store), table(store.Table()), settings(settings), sink(sink), sender(sender),
        clock(clock), regKeyBase(regKeyBase) {}

  // Serialises all work on client records, the cipher state, the hand-off
  // buffers and the workstation port. Never taken twice by one thread.
  std::mutex Lock;

  registry::TBuffClient& store;
  ClientTable& table;
  console::ConsoleSettings& settings;
  console::MessageSink& sink;
  Sender& sender;
  const platform::Clock& clock;
  const Key10 regKeyBase;

  CipherState cipher;
  Handoff handoff;
  IntakeEntry work{};  // the datagram being processed, also the scratch telegram

  // Ticks given by the main tick and not yet worked by the device worker (the
  // sweep and the repetition of requests). A count, not a flag: ticks made up
  // after a late front end are each worked, in order.
  std::atomic<uint32_t> FlI_GivTimer{0};
  // Ticks of the device worker since the last link sweep (0..10).
  uint8_t sweepDivider = 0;
  // The workstation channel awaits an acknowledgement (written under Lock).
  bool armAwaitingAck = false;
  // What the internet check last found; Unknown until it has run.
  std::atomic<InternetState> internet{InternetState::Unknown};

  // Asks the front end to refresh the grid row of a client index.
  std::function<void(uint16_t)> onRowRefresh;
  // Told of each decoded answer to a service request: client index, answer
  // code, the SIM card it speaks of (0: none) and the message line. Called
  // under Lock; must not wait.
  std::function<void(uint16_t, uint8_t, uint8_t, const std::string&)> onServiceAnswer;

  void RefreshRow(uint16_t i) const {
    if (onRowRefresh) onRowRefresh(i);
  }
};

}  // namespace devlink
