#include "configurator/config_session.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "configurator/expander_exchange.h"
#include "configurator/image.h"
#include "devlink/handoff.h"

namespace configurator {

namespace {
using Clock = std::chrono::steady_clock;
// The sequence byte goes on from run to run for the program's lifetime.
std::atomic<uint8_t> lastSeq{0};
}  // namespace

void ConfigChannel::Deliver(const uint8_t* block) {
  uint16_t len = 0;
  std::memcpy(&len, block + 128, 2);
  std::vector<uint8_t> bytes(block, block + std::min<size_t>(len, 128));
  {
    std::lock_guard<std::mutex> g(m_);
    deliveries_.push_back(std::move(bytes));
  }
  work_.notify_all();
}

void ConfigChannel::Post(ConfigCommand c) {
  {
    std::lock_guard<std::mutex> g(m_);
    commands_.push_back(std::move(c));
  }
  work_.notify_all();
}

std::vector<ConfigNotice> ConfigChannel::Drain(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_);
  notices_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !out_.empty(); });
  std::vector<ConfigNotice> all(std::make_move_iterator(out_.begin()),
                                std::make_move_iterator(out_.end()));
  out_.clear();
  return all;
}

void ConfigChannel::WaitWork(Clock::time_point until) {
  std::unique_lock<std::mutex> lock(m_);
  work_.wait_until(lock, until, [this] { return !deliveries_.empty() || !commands_.empty(); });
}

std::vector<std::vector<uint8_t>> ConfigChannel::TakeDeliveries() {
  std::lock_guard<std::mutex> g(m_);
  return std::exchange(deliveries_, {});
}

std::deque<ConfigCommand> ConfigChannel::TakeCommands() {
  std::lock_guard<std::mutex> g(m_);
  return std::exchange(commands_, {});
}

void ConfigChannel::Notify(ConfigNotice n) {
  {
    std::lock_guard<std::mutex> g(m_);
    out_.push_back(std::move(n));
  }
  notices_.notify_all();
}

// One run: the state the window's form keeps beside the transfer.
class ConfigRun {
 public:
  ConfigRun(maintenance::Exchange& x, ConfigChannel& ch) : x_(x), ch_(ch), t_(lastSeq.load()) {}
  ~ConfigRun() { lastSeq = t_.Seq(); }

  // With `script`, its steps stand in for the operator's commands.
  bool Run(const std::string& consoleLine, std::vector<ConfigCommand>* script = nullptr) {
    script_ = script;
    Hook(true);
    Send(t_.Identify(consoleLine));
    const int divisor = std::max(1, x_.Shared().timeDivisor.load());
    const auto period = std::max<Clock::duration>(std::chrono::microseconds(kTickMs * 1000 / divisor),
                                                  std::chrono::milliseconds(1));
    auto nextTick = Clock::now() + period;
    size_t step = 0;
    bool closed = false;
    while (!closed && !failed_ && !x_.Aborted()) {
      for (const std::vector<uint8_t>& d : ch_.TakeDeliveries()) Send(t_.Deliver(d));
      for (ConfigCommand& c : ch_.TakeCommands()) {
        if (script_) continue;  // a scripted run takes no other commands
        if ((closed = Command(std::move(c)))) break;
      }
      if (script_ && !failed_ && !closed && queued_.empty() && !t_.Busy() && !t_.Outstanding()) {
        if (t_.Variant() != kVariantAccepted) {
          Notice(ConfigNotice::Kind::kRefused, "Прибор не опознан как \"Гравен-Net\" (тип " +
                                                   std::to_string(t_.Variant()) + ").");
          break;
        }
        if (step == script_->size()) {
          ConfigCommand close;
          close.kind = ConfigCommand::Kind::kClose;
          closed = Command(std::move(close));
          break;
        }
        closed = Command(std::move((*script_)[step++]));
      }
      if (closed) break;
      StartQueued();
      if (Clock::now() >= nextTick) {
        Send(t_.Tick());
        nextTick += period;
        if (nextTick < Clock::now()) nextTick = Clock::now() + period;
        Flags();
      }
      Events();
      if (!failed_) ch_.WaitWork(nextTick);
    }
    Events();
    Hook(false);
    if (!closed) Send(t_.Close());
    ConfigNotice end;
    end.kind = ConfigNotice::Kind::kEnded;
    end.ok = closed && !failed_;
    ch_.Notify(std::move(end));
    return closed && !failed_;
  }

 private:
  void Hook(bool on) {
    devlink::DeviceLink& link = x_.Link();
    std::lock_guard<std::mutex> lock(link.Lock);
    if (on) {
      // Notices from before this run are not this run's.
      link.handoff.statesArrived = 0;
      link.handoff.operationFinished = 0;
      ConfigChannel* ch = &ch_;
      link.handoff.configuratorDelivery = [ch](const uint8_t* block) { ch->Deliver(block); };
    } else {
      link.handoff.configuratorDelivery = nullptr;
    }
  }

  void Send(const ConfigTransfer::Frames& frames) {
    for (const std::vector<uint8_t>& f : frames) x_.Request(std::span<const uint8_t>(f), 0, 0);
  }

  void Notice(ConfigNotice::Kind kind, std::string text = {}) {
    if (kind == ConfigNotice::Kind::kRefused && script_) failed_ = true;
    ConfigNotice n;
    n.kind = kind;
    n.text = std::move(text);
    ch_.Notify(std::move(n));
  }

  // True for kClose.
  bool Command(ConfigCommand c) {
    using K = ConfigCommand::Kind;
    switch (c.kind) {
      case K::kClose:
        Send(t_.Close());
        return true;
      case K::kStop:
        t_.Stop();
        return false;
      case K::kAnswer:
        Send(t_.Answer(c.goOn));
        return false;
      case K::kSetActive:
        active_ = c.expander;
        return false;
      case K::kStates:
        statesFor_ = c.expander.value_or(Expander::kRielta);
        x_.Link().handoff.statesArrived = 0;
        x_.Request(StatesRequest(), 0, 0);
        return false;
      case K::kOperation:
      case K::kEndOperation:
        if (!c.request.empty()) x_.Request(std::span<const uint8_t>(c.request), 0, 0);
        if (c.kind == K::kOperation) ch_.reReadArmed_ = true;
        return false;
      default:
        break;
    }
    // A read, write or key poll waits until the exchange before it has ended.
    queued_.push_back(std::move(c));
    return false;
  }

  // The next queued read, write or key poll once the exchange is idle.
  void StartQueued() {
    if (t_.Busy() || t_.Outstanding()) return;
    if (reReadPending_) {
      reReadPending_ = false;
      Notice(ConfigNotice::Kind::kReReadStarted);
      Send(t_.Read());
      return;
    }
    if (queued_.empty()) return;
    ConfigCommand c = std::move(queued_.front());
    queued_.pop_front();
    using K = ConfigCommand::Kind;
    switch (c.kind) {
      case K::kRead:
        Send(t_.Read());
        break;
      case K::kKeyPoll:
        Send(t_.StartKeyPoll());
        break;
      case K::kWrite:
        StartWrite(std::move(c));
        break;
      default:
        break;
    }
  }

  // Nothing of a foreign layout goes to the device.
  void StartWrite(ConfigCommand c) {
    if (t_.Variant() != kVariantAccepted) {
      Notice(ConfigNotice::Kind::kRefused,
             "Запись запрещена: прибор не опознан как \"Гравен-Net\" (тип " +
                 std::to_string(t_.Variant()) + ").");
      return;
    }
    if (c.imageVariant != 250 && c.imageVariant != 252) {
      Notice(ConfigNotice::Kind::kRefused,
             "Запись запрещена: конфигурация другого типа прибора (тип " +
                 std::to_string(c.imageVariant) + ").");
      return;
    }
    if (c.image.size() < kWriteEnd) {
      Notice(ConfigNotice::Kind::kRefused, "Запись запрещена: конфигурация неполная.");
      return;
    }
    writeExpander_ = c.expander;
    writeSettingsRead_ = c.expanderSettingsRead;
    writeBlocks_ = c.blocks;
    if (c.expander) active_ = c.expander;
    Send(t_.Write(c.image));
  }

  // The device's notices, raised by the worker.
  void Flags() {
    devlink::Handoff& h = x_.Link().handoff;
    if (h.statesArrived.exchange(0)) {
      ConfigNotice n;
      n.kind = ConfigNotice::Kind::kStates;
      n.expander = statesFor_;
      const std::array<uint8_t, 128> a = x_.Answer();
      const std::span<const uint8_t> states = StatesData(a);
      // An answer too short for every slot is not shown.
      if (states.empty()) return;
      n.data.assign(states.begin(), states.end());
      ch_.Notify(std::move(n));
    }
    // A notice that comes during another exchange starts the re-read after it.
    if (h.operationFinished.exchange(0) && ch_.reReadArmed_ && active_) reReadPending_ = true;
  }

  void Events() {
    for (ConfigEvent& e : t_.TakeEvents()) {
      const ConfigEvent::Kind kind = e.kind;
      if (kind == ConfigEvent::Kind::kAsk && script_) {
        Send(t_.Answer(false));
        failed_ = true;
      }
      std::vector<uint8_t> read;
      if (kind == ConfigEvent::Kind::kReadDone) read = e.bytes;
      ConfigNotice n;
      n.transfer = std::move(e);
      ch_.Notify(std::move(n));
      if (kind == ConfigEvent::Kind::kReadDone) AfterRead(std::move(read));
      if (kind == ConfigEvent::Kind::kWriteDone) AfterWrite();
    }
  }

  // The expander whose box the shown image checks: Astra-RR wins when both bits are set.
  static std::optional<Expander> ExpanderOf(const std::vector<uint8_t>& image) {
    if (image.size() <= kOptionsA) return std::nullopt;
    if (image[kOptionsA] & 0x80) return Expander::kAstra;
    if (image[kOptionsA] & 0x08) return Expander::kRielta;
    return std::nullopt;
  }

  void AfterRead(std::vector<uint8_t> image) {
    if (image.size() <= 255) return;
    active_ = ExpanderOf(image);
    if (!active_) {
      Notice(ConfigNotice::Kind::kStatus, "Чтение OK.");
      return;
    }
    ConfigNotice n;
    n.kind = ConfigNotice::Kind::kExpanderRead;
    n.expander = *active_;
    std::string status;
    n.ok = ReadExpanderSettings(x_, *active_, n.blocks, &status, &n.blocksArrived);
    const bool ok = n.ok;
    if (!ok && script_) failed_ = true;
    const ExpanderBlocks blocks = n.blocks;
    ch_.Notify(std::move(n));
    Notice(ConfigNotice::Kind::kStatus, status);
    if (!ok || !ch_.reReadArmed_) return;
    // The re-read after a detector operation: the device's state is written back.
    ch_.reReadArmed_ = false;
    reReadPending_ = false;
    Notice(ConfigNotice::Kind::kReReadDone);
    // What goes back is what the window shows: the image with its repairs.
    Image shown{};
    std::copy_n(image.begin(), std::min(image.size(), shown.size()), shown.begin());
    RepairForShow(shown);
    ConfigCommand w;
    w.kind = ConfigCommand::Kind::kWrite;
    w.image.assign(shown.begin(), shown.begin() + kWriteEnd);
    w.imageVariant = kVariantAccepted;
    w.expander = active_;
    w.expanderSettingsRead = true;
    w.blocks = blocks;
    ConfigNotice started;
    started.kind = ConfigNotice::Kind::kWriteBackStarted;
    started.expander = *active_;
    ch_.Notify(std::move(started));
    StartWrite(std::move(w));
  }

  void AfterWrite() {
    if (!writeExpander_ || !writeSettingsRead_) {
      Notice(ConfigNotice::Kind::kStatus, "Запись OK.");
      return;
    }
    ConfigNotice n;
    n.kind = ConfigNotice::Kind::kExpanderWritten;
    n.expander = *writeExpander_;
    std::string status;
    n.ok = WriteExpanderSettings(x_, *writeExpander_, writeBlocks_, &status);
    if (!n.ok && script_) failed_ = true;
    ch_.Notify(std::move(n));
    Notice(ConfigNotice::Kind::kStatus, status);
  }

  static constexpr size_t kOptionsA = 124;

  maintenance::Exchange& x_;
  ConfigChannel& ch_;
  ConfigTransfer t_;
  std::optional<Expander> active_;
  Expander statesFor_ = Expander::kRielta;
  std::optional<Expander> writeExpander_;
  bool writeSettingsRead_ = false;
  ExpanderBlocks writeBlocks_;
  std::deque<ConfigCommand> queued_;
  bool reReadPending_ = false;
  std::vector<ConfigCommand>* script_ = nullptr;
  bool failed_ = false;
};

std::string ConsoleLine(const std::string& consoleNumber) {
  return "<Пульт. номер - " + consoleNumber + ">";
}

maintenance::Maintenance::Job ConfiguratorJob(std::shared_ptr<ConfigChannel> channel,
                                              std::string consoleLine) {
  return [channel = std::move(channel), consoleLine = std::move(consoleLine)](
             maintenance::Exchange& x) { return ConfigRun(x, *channel).Run(consoleLine); };
}

bool RunConfigScript(maintenance::Exchange& x, ConfigChannel& channel,
                     const std::string& consoleLine, std::vector<ConfigCommand> steps) {
  return ConfigRun(x, channel).Run(consoleLine, &steps);
}

}  // namespace configurator
