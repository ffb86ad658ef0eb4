#include "maintenance/tftp.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "devlink/crc8.h"

namespace maintenance {

namespace {

constexpr uint8_t kOpWrq = 2, kOpData = 3, kOpAck = 4, kOpError = 5, kOpOack = 6;

const char kSuccessLine[] = "Обновление 87J60 успешно завершено!";
const char kFailureLine1[] = "Ошибка при Обновлении 87J60, или запрещено обновление.";
const char kFailureLine2[] = "Загрузка 87J60 прервана!";

uint16_t Wire(uint64_t block) { return uint16_t(block & 0xFFFF); }

void Append(std::vector<uint8_t>& v, std::string_view s) {
  v.insert(v.end(), s.begin(), s.end());
  v.push_back(0);
}

// The loader's text, shown only as far as it is printable ASCII.
std::string PrintableText(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i] != 0; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? char(p[i]) : '?';
  return s;
}

}  // namespace

std::optional<std::string> EthernetFirmwareFileProblem(const std::string& path, bool exists) {
  if (!exists) return "Загрузочный файл 87J60-> (" + path + ") не найден. Уточните путь к файлу.";
  if (TftpRemoteName(path).find("87j60") == std::string::npos)
    return "Файл -> (" + path + ") не корректен. Ошибочный файл.";
  return std::nullopt;
}

std::string TftpRemoteName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

TftpTransfer::TftpTransfer(std::string remoteName, std::vector<uint8_t> file,
                           std::string deviceAddress, uint16_t devicePort, TftpMode mode,
                           uint64_t jumpPauseMs)
    : remoteName_(std::move(remoteName)),
      file_(std::move(file)),
      deviceAddress_(std::move(deviceAddress)),
      devicePort_(devicePort),
      mode_(mode),
      jumpPauseMs_(jumpPauseMs) {}

std::vector<TftpDatagram> TftpTransfer::Start(uint64_t nowMs) {
  if (phase_ != Phase::kIdle) return {};
  if (file_.empty()) {
    Log("Загрузочный файл 87J60-> (" + remoteName_ + ") пуст. Передавать нечего.");
    phase_ = Phase::kDone;
    outcome_ = TftpOutcome::kEmptyFile;
    error_ = "Загрузочный файл 87J60 пуст: передавать нечего.";
    return {};
  }
  return SendJump(nowMs);
}

std::vector<TftpDatagram> TftpTransfer::SendJump(uint64_t nowMs) {
  ++try_;
  std::vector<uint8_t> t{0xEF, 0x03, 0x55, 0x11, 0};
  t[4] = devlink::Crc8Bytes(t.data(), 4);
  Log("Команда-\"Перейти в загрузчик 87J60\".");
  phase_ = Phase::kPause;
  deadline_ = nowMs + jumpPauseMs_;
  waitLength_ = 0;
  return {{TftpDatagram::Kind::kJumpCommand, deviceAddress_, devicePort_, std::move(t)}};
}

std::vector<TftpDatagram> TftpTransfer::SendWriteRequest(uint64_t nowMs) {
  std::vector<uint8_t> wrq{0, kOpWrq};
  Append(wrq, remoteName_);
  Append(wrq, mode_ == TftpMode::kNetAscii ? "netascii" : "octet");
  Append(wrq, "blksize");
  Append(wrq, std::to_string(kTftpRequestedBlockSize));
  phase_ = Phase::kAwaitAck0;
  deadline_ = nowMs + kAck0WaitMs;
  waitLength_ = kAck0WaitMs;
  Log("Init.Block0 N=" + std::to_string(try_) + ".");
  Log("Ожидание ответа.");
  return {{TftpDatagram::Kind::kWriteRequest, deviceAddress_, devicePort_, std::move(wrq)}};
}

std::vector<TftpDatagram> TftpTransfer::NextTry(uint64_t nowMs) {
  if (try_ < kStartTries) return SendJump(nowMs);
  Log("Нет ACK от Прибора.");
  Log("Запрос прерван.");
  std::string why = "Нет ACK от Прибора: загрузчик не ответил на запрос записи.";
  if (sawOack_)
    why = "Нет ACK от Прибора: загрузчик ответил подтверждением параметров (OACK), "
          "а передача идёт только блоками по 512 байт без параметров.";
  else if (!peerError_.empty())
    why = "Нет ACK от Прибора: загрузчик ответил " + peerError_ + ".";
  Finish(TftpOutcome::kNoAck0, std::move(why));
  return {};
}

std::vector<TftpDatagram> TftpTransfer::OnTime(uint64_t nowMs) {
  if (Done() || phase_ == Phase::kIdle || nowMs < deadline_) return {};
  switch (phase_) {
    case Phase::kPause:
      return SendWriteRequest(nowMs);
    case Phase::kAwaitAck0:
      return NextTry(nowMs);
    case Phase::kData:
      if (retries_ > kMaxRetries) {
        RetriesExhausted();
        return {};
      }
      Log("Повтор пакета N-" + std::to_string(Wire(current_)));
      ++retries_;
      return Resend(nowMs);
    default:
      return {};
  }
}

bool TftpTransfer::Accepts(std::string_view address, uint16_t port) const {
  if (address != deviceAddress_) return false;
  if (phase_ == Phase::kAwaitAck0) return true;
  return phase_ == Phase::kData && port == transferPort_;
}

std::vector<TftpDatagram> TftpTransfer::OnDatagram(std::string_view fromAddress, uint16_t fromPort,
                                                   const uint8_t* data, size_t n, uint64_t nowMs) {
  if (!Accepts(fromAddress, fromPort)) return {};
  // Only the loader's replies count; a maintenance answer of the main
  // firmware arriving on the same socket is not one.
  if (n < 2 || data[0] != 0 || (data[1] != kOpAck && data[1] != kOpError && data[1] != kOpOack))
    return {};
  if (data[1] == kOpError) NotePeerError(data, n);
  return phase_ == Phase::kAwaitAck0 ? OnStartReply(data, n, fromPort, nowMs)
                                     : OnDataReply(data, n, nowMs);
}

std::vector<TftpDatagram> TftpTransfer::OnStartReply(const uint8_t* data, size_t n,
                                                     uint16_t fromPort, uint64_t nowMs) {
  const bool ack0 = n == 4 && data[1] == kOpAck && data[2] == 0 && data[3] == 0;
  if (!ack0) {
    // Anything else, an option acknowledgement or an ERROR included, costs the try.
    sawOack_ = sawOack_ || data[1] == kOpOack;
    return NextTry(nowMs);
  }
  Log("Init.Block-OK.");
  transferPort_ = fromPort;
  phase_ = Phase::kData;
  return SendNextBlock(nowMs);
}

std::vector<TftpDatagram> TftpTransfer::OnDataReply(const uint8_t* data, size_t n, uint64_t nowMs) {
  // The loader's ERROR or option acknowledgement is a failed try of the block,
  // which goes again up to the retry limit.
  if (data[1] == kOpError || data[1] == kOpOack) {
    Log("Ошибка " + std::to_string(data[1]) + " в ответе.Повтор пакета N-" +
        std::to_string(Wire(current_)));
    if (retries_ >= kMaxRetries) {
      RetriesExhausted();
      return {};
    }
    ++retries_;
    return Resend(nowMs);
  }
  if (n < 4) return {};
  const uint16_t acked = uint16_t(data[2] << 8 | data[3]);
  if (acked == Wire(current_)) {
    if (packet_.size() < 4 + kTftpBlock) {
      Log(kSuccessLine);
      Finish(TftpOutcome::kSucceeded, {});
      return {};
    }
    echoesExpected_ = copiesCurrent_ - 1;
    return SendNextBlock(nowMs);
  }
  if (acked == Wire(current_ - 1)) {
    if (echoesExpected_ > 0) {
      --echoesExpected_;
      return {};
    }
    // One resend per block: a peer that acknowledges every copy twice would
    // otherwise double the traffic with each block.
    if (duplicateResent_) return {};
    duplicateResent_ = true;
    retries_ = 0;
    return Resend(nowMs);
  }
  // Beyond the last block built, or older than the previous one: stale or bogus.
  return {};
}

std::vector<TftpDatagram> TftpTransfer::SendNextBlock(uint64_t nowMs) {
  ++current_;
  const size_t f = std::min(kTftpBlock, file_.size() - readPos_);
  packet_ = {0, kOpData, uint8_t(Wire(current_) >> 8), uint8_t(Wire(current_))};
  packet_.insert(packet_.end(), file_.begin() + ptrdiff_t(readPos_),
                 file_.begin() + ptrdiff_t(readPos_ + f));
  readPos_ += f;
  copiesCurrent_ = 1;
  duplicateResent_ = false;
  retries_ = 0;
  deadline_ = nowMs + kAckWaitMs;
  waitLength_ = kAckWaitMs;
  return {{TftpDatagram::Kind::kData, deviceAddress_, transferPort_, packet_}};
}

std::vector<TftpDatagram> TftpTransfer::Resend(uint64_t nowMs) {
  ++copiesCurrent_;
  deadline_ = nowMs + kAckWaitMs;
  waitLength_ = kAckWaitMs;
  return {{TftpDatagram::Kind::kData, deviceAddress_, transferPort_, packet_}};
}

void TftpTransfer::NotePeerError(const uint8_t* data, size_t n) {
  const unsigned code = n >= 4 ? unsigned(data[2] << 8 | data[3]) : 0;
  const std::string text = n > 4 ? PrintableText(data + 4, n - 4) : std::string();
  peerError_ = "ошибкой TFTP " + std::to_string(code) + " \"" + text + "\"";
}

void TftpTransfer::RetriesExhausted() {
  std::string why = "Нет ACK блока N-" + std::to_string(Wire(current_)) + ": повторы исчерпаны.";
  if (!peerError_.empty()) why += " Загрузчик последний раз ответил " + peerError_ + ".";
  Finish(TftpOutcome::kRetriesExhausted, std::move(why));
}

void TftpTransfer::Abort() {
  if (Done()) return;
  Finish(TftpOutcome::kAborted, "Загрузка 87J60 прервана оператором.");
}

void TftpTransfer::Finish(TftpOutcome outcome, std::string error) {
  phase_ = Phase::kDone;
  outcome_ = outcome;
  error_ = std::move(error);
  waitLength_ = 0;
  if (outcome != TftpOutcome::kSucceeded) {
    Log(kFailureLine1);
    Log(kFailureLine2);
  }
}

TftpProgress TftpTransfer::Progress() const {
  return {readPos_, file_.size(), size_t(current_), file_.size() / kTftpBlock + 1};
}

std::optional<uint64_t> TftpTransfer::Deadline() const {
  if (phase_ == Phase::kIdle || phase_ == Phase::kDone) return std::nullopt;
  return deadline_;
}

uint64_t TftpTransfer::WaitLengthMs() const { return waitLength_; }

std::vector<std::string> TftpTransfer::TakeLog() { return std::exchange(log_, {}); }

}  // namespace maintenance
