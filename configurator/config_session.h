// The configurator's run with one device inside the one maintenance session:
// the image exchange on the session's worker with its 50 ms tick, the
// expander procedures chained to a read or a write, and the re-read chain
// after a detector operation. The window or relayctl drives it through a
// channel: commands in, notices out; the device worker posts deliveries.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "configurator/expander_blocks.h"
#include "configurator/transfer.h"
#include "maintenance/session.h"

namespace configurator {

inline constexpr int kTickMs = 50;

struct ConfigCommand {
  enum class Kind {
    kRead,         // read the image (and then the expander's settings)
    kWrite,        // write `image` (and then the active expander's settings)
    kKeyPoll,      // poll the reader for a key
    kStop,         // stop key polling or the exchange under way
    kAnswer,       // `goOn`: the operator's answer to "Продолжить?"
    kStates,       // query the detector states of `expander`
    kOperation,    // send `request` (registration, deletion, network parameters) and re-read on its notice
    kEndOperation, // "Завершить": send `request` if any; the re-read is no longer awaited
    kSetActive,    // the window's active expander changed (a box was clicked)
    kClose,        // programming end; the run ends
  };
  Kind kind = Kind::kRead;
  std::vector<uint8_t> image;  // kWrite: at least 288 bytes
  uint8_t imageVariant = 0;    // kWrite: the layout the image has
  std::optional<Expander> expander;  // kWrite, kSetActive: the active one; kStates: whose table
  bool expanderSettingsRead = false;  // kWrite: its settings were read since the last image read
  ExpanderBlocks blocks;              // kWrite: its settings, encoded from the window's table
  bool goOn = false;                  // kAnswer
  std::vector<uint8_t> request;       // kOperation, kEndOperation
};

struct ConfigNotice {
  enum class Kind {
    kTransfer,         // an event of the image exchange
    kExpanderRead,     // `ok`, `expander`, `blocks`
    kExpanderWritten,  // `ok`, `expander`
    kStates,           // `expander`, `data`: 3 bytes per slot
    kStatus,           // the status line (LabelBagRielta): `text`
    kReReadStarted,    // the run began the re-read after an operation's notice
    kReReadDone,       // the re-read after an operation cleared its mark
    kWriteBackStarted, // the run began writing the re-read image back: `expander`
    kRefused,          // a command refused: `text` says why
    kEnded,            // the run is over
  };
  Kind kind = Kind::kTransfer;
  ConfigEvent transfer;
  bool ok = false;
  Expander expander = Expander::kRielta;
  ExpanderBlocks blocks;
  int blocksArrived = 0;  // kExpanderRead: how many of table, settings, owners came, in that order
  std::vector<uint8_t> data;
  std::string text;
};

// Shared by the run, its watcher and the device worker's delivery.
class ConfigChannel {
 public:
  // The device worker, under Lock: a copy of the block is queued, nothing waits.
  void Deliver(const uint8_t* block);
  void Post(ConfigCommand c);
  // The notices so far, waiting up to `timeoutMs` for the first.
  std::vector<ConfigNotice> Drain(int timeoutMs);

  // The run's side.
  void WaitWork(std::chrono::steady_clock::time_point until);
  std::vector<std::vector<uint8_t>> TakeDeliveries();
  std::deque<ConfigCommand> TakeCommands();
  void Notify(ConfigNotice n);
  bool ReReadArmed() const { return reReadArmed_.load(); }

 private:
  friend class ConfigRun;
  std::mutex m_;
  std::condition_variable work_;
  std::condition_variable notices_;
  std::vector<std::vector<uint8_t>> deliveries_;
  std::deque<ConfigCommand> commands_;
  std::deque<ConfigNotice> out_;
  std::atomic<bool> reReadArmed_{false};
};

// The device line's start: "<Пульт. номер - N1/N2/N3>".
std::string ConsoleLine(const std::string& consoleNumber);

// The job of a configurator run on the maintenance session: identify, then
// commands from the channel until kClose or an abort. `consoleLine` is
// "<Пульт. номер - N1/N2/N3>". True when the run ended by kClose.
maintenance::Maintenance::Job ConfiguratorJob(std::shared_ptr<ConfigChannel> channel,
                                              std::string consoleLine);

// A run without an operator (relayctl): identify, then each step once the
// one before has ended, then programming end. Nobody answers "Продолжить?":
// the step fails. True when the device identified as the accepted variant
// and every step succeeded.
bool RunConfigScript(maintenance::Exchange& x, ConfigChannel& channel,
                     const std::string& consoleLine, std::vector<ConfigCommand> steps);

}  // namespace configurator
