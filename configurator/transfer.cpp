#include "configurator/transfer.h"

#include <algorithm>
#include <utility>

namespace configurator {

namespace {

// Offsets a write always sends as 0.
constexpr size_t kZeroedFrom = 127, kZeroedTo = 130;

}  // namespace

ConfigTransfer::Frames ConfigTransfer::SendNew(std::vector<uint8_t> frame, Op op) {
  pending_ = std::move(frame);
  op_ = op;
  outstanding_ = true;
  return SendPending();
}

ConfigTransfer::Frames ConfigTransfer::SendPending() {
  idleTicks_ = 0;
  if (stopped_ || pending_.empty()) return {};
  return {pending_};
}

ConfigTransfer::Frames ConfigTransfer::Identify(const std::string& consoleLine) {
  stopped_ = false;
  consoleLine_ = consoleLine;
  deviceLine_.clear();
  return SendNew(IdentifyFrame(seq_), Op::kIdentify);
}

ConfigTransfer::Frames ConfigTransfer::Read() {
  address_ = 0;
  stopped_ = false;
  Emit(ConfigEvent::Of(ConfigEvent::Kind::kProgress));
  return SendNew(ReadBlockFrame(seq_, 0), Op::kRead);
}

ConfigTransfer::Frames ConfigTransfer::Write(std::span<const uint8_t> image) {
  write_.fill(0);
  std::copy_n(image.begin(), std::min(image.size(), write_.size()), write_.begin());
  std::fill(write_.begin() + kZeroedFrom, write_.begin() + kZeroedTo + 1, 0);
  address_ = 0;
  stopped_ = false;
  Emit(ConfigEvent::Of(ConfigEvent::Kind::kProgress));
  return SendNew(WriteBlockFrame(seq_, 0, std::span<const uint8_t, kBlockSize>(write_.data(), kBlockSize)),
                 Op::kWrite);
}

ConfigTransfer::Frames ConfigTransfer::StartKeyPoll() {
  keyPollArmed_ = false;
  stopped_ = false;
  return SendNew(KeyPollFrame(seq_), Op::kKeyPoll);
}

void ConfigTransfer::Stop() {
  stopped_ = true;
  outstanding_ = false;
  op_ = Op::kIdle;
}

ConfigTransfer::Frames ConfigTransfer::Close() {
  stopped_ = false;
  Frames out = {ProgrammingEndFrame(seq_)};
  pending_.clear();
  Stop();
  return out;
}

ConfigTransfer::Frames ConfigTransfer::Deliver(std::span<const uint8_t> bytes) {
  idleTicks_ = 0;
  if (bytes.empty() || stopped_) return {};
  Frames out;
  for (const std::vector<uint8_t>& frame : assembler_.Feed(bytes)) {
    Frames more = Dispatch(FrameView{frame});
    out.insert(out.end(), more.begin(), more.end());
  }
  return out;
}

// Only the answer to the request outstanding ends its wait: the reply's
// command with the request's sequence byte; programming start takes any frame.
bool ConfigTransfer::Awaited(const FrameView& f) const {
  if (!outstanding_ || pending_.size() < kFrameHeader) return false;
  if (op_ == Op::kProgrammingStart) return true;
  return f.Command() == uint8_t(pending_[6] + 1) && f.Seq() == pending_[4];
}

ConfigTransfer::Frames ConfigTransfer::Dispatch(const FrameView& f) {
  if (!Awaited(f)) return {};
  repeatCount_ = 0;
  outstanding_ = false;
  idleTicks_ = 0;
  const Op op = std::exchange(op_, Op::kIdle);
  switch (op) {
    case Op::kRead: return OnRead(f);
    case Op::kWrite: return OnWrite();
    case Op::kKeyPoll: return OnKeyPoll(f);
    case Op::kIdentify: return OnIdentify(f);
    default: return {};
  }
}

ConfigTransfer::Frames ConfigTransfer::OnRead(const FrameView& f) {
  for (const uint8_t b : f.Data()) {
    if (address_ > kReadEnd) break;
    read_[address_++] = b;
  }
  Emit(ConfigEvent::Of(ConfigEvent::Kind::kProgress, int(std::min(address_, kReadEnd))));
  seq_ = uint8_t(seq_ + 1);
  if (address_ < kReadEnd) return SendNew(ReadBlockFrame(seq_, address_), Op::kRead);
  ConfigEvent done = ConfigEvent::Of(ConfigEvent::Kind::kReadDone);
  done.bytes.assign(read_.begin(), read_.begin() + std::min<size_t>(address_, read_.size()));
  Emit(std::move(done));
  return {};
}

ConfigTransfer::Frames ConfigTransfer::OnWrite() {
  address_ += kBlockSize;
  Emit(ConfigEvent::Of(ConfigEvent::Kind::kProgress, int(std::min(address_, kReadEnd))));
  // Each acknowledged block moves the sequence on, so a late duplicate of
  // one block's acknowledgement is never taken for the next one's.
  seq_ = uint8_t(seq_ + 1);
  if (address_ < kReadEnd)
    return SendNew(
        WriteBlockFrame(seq_, address_,
                        std::span<const uint8_t, kBlockSize>(write_.data() + address_, kBlockSize)),
        Op::kWrite);
  Emit(ConfigEvent::Of(ConfigEvent::Kind::kWriteDone));
  return {};
}

ConfigTransfer::Frames ConfigTransfer::OnKeyPoll(const FrameView& f) {
  const std::span<const uint8_t> data = f.Data();
  if (data.empty() || data[0] == 0 || !keyPollArmed_) {
    keyPollArmed_ = true;
    return SendNew(KeyPollFrame(seq_), Op::kKeyPoll);
  }
  ConfigEvent key = ConfigEvent::Of(ConfigEvent::Kind::kKeyRead);
  key.bytes.assign(data.begin(), data.end());
  Emit(std::move(key));
  return {};
}

ConfigTransfer::Frames ConfigTransfer::OnIdentify(const FrameView& f) {
  const std::span<const uint8_t> data = f.Data();
  variant_ = data.empty() ? 0 : data[0];
  const uint8_t version = data.size() > 1 ? data[1] : 0;
  if (!(variant_ & 0x80)) {
    deviceLine_ = consoleLine_ + " -> Отказано в доступе!";
  } else if (variant_ == kVariantAccepted) {
    deviceLine_ = consoleLine_ + " \"Гравен-Net\"";
  } else {
    deviceLine_ += "Неизвестн. тип Ver." + std::to_string(version / 10 + 1) + "." +
                   std::to_string(version % 10);
  }
  ConfigEvent e = ConfigEvent::Of(ConfigEvent::Kind::kIdentified);
  e.variant = variant_;
  e.text = deviceLine_;
  Emit(std::move(e));
  return SendNew(ProgrammingStartFrame(seq_), Op::kProgrammingStart);
}

ConfigTransfer::Frames ConfigTransfer::Tick() {
  if (++idleTicks_ > kAssemblyTicks) assembler_.Reset();
  if (idleTicks_ <= kTimeoutTicks || !outstanding_ || asking_) return {};
  if (repeatCount_ < kAutoRepeats) {
    ++repeatCount_;
    Frames out = SendPending();
    stopped_ = false;
    return out;
  }
  asking_ = true;
  Emit(ConfigEvent::Of(ConfigEvent::Kind::kAsk));
  return {};
}

ConfigTransfer::Frames ConfigTransfer::Answer(bool goOn) {
  if (!asking_) return {};
  asking_ = false;
  if (!outstanding_) return {};
  if (goOn) {
    Frames out = SendPending();
    stopped_ = false;
    return out;
  }
  outstanding_ = false;
  op_ = Op::kIdle;
  Emit(ConfigEvent::Of(ConfigEvent::Kind::kGaveUp));
  return {};
}

std::vector<ConfigEvent> ConfigTransfer::TakeEvents() { return std::exchange(events_, {}); }

}  // namespace configurator
