// The Ethernet controller's firmware transfer: a TFTP write to the 87J60
// loader, kept as a state machine without sockets or clocks. The caller sends
// what it returns, hands in every datagram from the device and calls OnTime
// when Deadline() has passed; time is a millisecond tick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace maintenance {

// Mode text of the write request. The file's bytes go unchanged in both; a
// server that honours netascii stores CR LF as LF and CR NUL as CR.
enum class TftpMode { kNetAscii, kOctet };

inline constexpr size_t kTftpBlock = 512;                  // data bytes per DATA packet
inline constexpr unsigned kTftpRequestedBlockSize = 2048;  // "blksize" asked in the request
inline constexpr uint64_t kJumpPauseMs = 2000;  // after the jump command, before the request
inline constexpr uint64_t kAck0WaitMs = 6000;   // for the ACK of block 0
inline constexpr uint64_t kAckWaitMs = 4000;    // for the ACK of a DATA block
inline constexpr int kStartTries = 4;
// Time-outs in a row are answered with a resend while at most this many came
// before: eleven resends, and the twelfth time-out ends the transfer.
inline constexpr int kMaxRetries = 10;

struct TftpDatagram {
  // The maintenance telegram that sends the device's main firmware into the
  // loader; it awaits no reply. The others await the loader's reply, so the
  // caller arms its reply wait before it sends them.
  enum class Kind { kJumpCommand, kWriteRequest, kData };
  Kind kind;
  std::string address;
  uint16_t port;
  std::vector<uint8_t> bytes;

  bool AwaitsReply() const { return kind != Kind::kJumpCommand; }
};

enum class TftpOutcome {
  kRunning,
  kSucceeded,         // the last block was acknowledged
  kEmptyFile,         // refused: nothing sent
  kNoAck0,            // four tries of the start without the ACK of block 0
  kRetriesExhausted,  // twelve time-outs (or failed tries) in a row in the data phase
  kAborted,
};

struct TftpProgress {
  size_t bytesRead = 0;    // the operation progress: file bytes put into packets
  size_t bytesTotal = 0;   // its maximum, the file size
  size_t blocksSent = 0;   // DATA blocks built and sent (resends not counted)
  size_t blocksTotal = 0;  // file size / 512 + 1: a multiple of 512 ends with an empty block
};

// The refusal line for a firmware file, or nothing when it may be sent: it must
// exist and its name without folder must contain "87j60" (lower case only).
std::optional<std::string> EthernetFirmwareFileProblem(const std::string& path, bool exists);

// The remote name of the request: the local file's name without its folder.
std::string TftpRemoteName(const std::string& path);

class TftpTransfer {
 public:
  // `deviceAddress` and `devicePort` are those recorded for the maintained
  // device: the jump command and every write request go there, and replies
  // are taken only from that address. `jumpPauseMs` is the pause between the
  // jump command and the request (tests against a plain TFTP server shorten it).
  TftpTransfer(std::string remoteName, std::vector<uint8_t> file, std::string deviceAddress,
               uint16_t devicePort, TftpMode mode = TftpMode::kNetAscii,
               uint64_t jumpPauseMs = kJumpPauseMs);

  // The first try's jump command; an empty file is refused and nothing is sent.
  std::vector<TftpDatagram> Start(uint64_t nowMs);
  // Any datagram that reached the device socket from the network; what does
  // not come from the loader of this transfer is ignored.
  std::vector<TftpDatagram> OnDatagram(std::string_view fromAddress, uint16_t fromPort,
                                       const uint8_t* data, size_t n, uint64_t nowMs);
  // Handles the pause's end or a time-out once `nowMs` has reached Deadline().
  std::vector<TftpDatagram> OnTime(uint64_t nowMs);
  // The operator's "Прервать": the transfer ends at once and sends nothing more.
  void Abort();

  bool Done() const { return outcome_ != TftpOutcome::kRunning; }
  bool Succeeded() const { return outcome_ == TftpOutcome::kSucceeded; }
  TftpOutcome Outcome() const { return outcome_; }
  // Why it failed, for the operator; empty while running or after success.
  const std::string& Error() const { return error_; }
  TftpProgress Progress() const;

  // When OnTime is next due; nothing once done or before Start.
  std::optional<uint64_t> Deadline() const;
  // Length of the current reply wait (the answer-wait progress maximum); 0 in the pause.
  uint64_t WaitLengthMs() const;
  // Whether a datagram from there is a reply of this transfer: the device's
  // address, and once ACK 0 has come only from the port it came from.
  bool Accepts(std::string_view address, uint16_t port) const;

  // The log lines since the last call, in order.
  std::vector<std::string> TakeLog();

 private:
  enum class Phase { kIdle, kPause, kAwaitAck0, kData, kDone };

  std::vector<TftpDatagram> SendJump(uint64_t nowMs);
  std::vector<TftpDatagram> SendWriteRequest(uint64_t nowMs);
  std::vector<TftpDatagram> NextTry(uint64_t nowMs);
  std::vector<TftpDatagram> OnStartReply(const uint8_t* data, size_t n, uint16_t fromPort,
                                         uint64_t nowMs);
  std::vector<TftpDatagram> OnDataReply(const uint8_t* data, size_t n, uint64_t nowMs);
  std::vector<TftpDatagram> SendNextBlock(uint64_t nowMs);
  std::vector<TftpDatagram> Resend(uint64_t nowMs);
  void NotePeerError(const uint8_t* data, size_t n);
  void RetriesExhausted();
  void Finish(TftpOutcome outcome, std::string error);
  void Log(std::string line) { log_.push_back(std::move(line)); }

  std::string remoteName_;
  std::vector<uint8_t> file_;
  std::string deviceAddress_;
  uint16_t devicePort_;
  TftpMode mode_;
  uint64_t jumpPauseMs_;

  Phase phase_ = Phase::kIdle;
  TftpOutcome outcome_ = TftpOutcome::kRunning;
  std::string error_;
  std::vector<std::string> log_;
  uint64_t deadline_ = 0;
  uint64_t waitLength_ = 0;

  int try_ = 0;                // 1..4 in the start phase
  bool sawOack_ = false;       // a start try was answered with an option acknowledgement
  std::string peerError_;      // the loader's last ERROR, for the reason of a failure
  uint16_t transferPort_ = 0;  // the loader's port, from its ACK 0

  // Blocks are counted from 1 without wrapping; the wire carries the low 16 bits.
  uint64_t current_ = 0;  // the block in `packet_`, awaiting its ACK
  size_t readPos_ = 0;
  std::vector<uint8_t> packet_;
  int retries_ = 0;        // consecutive failed tries of the current packet
  int copiesCurrent_ = 0;  // how often the current block has gone out
  // Duplicate ACKs of the previous block still expected as echoes of our own
  // resends of it; only duplicates beyond them make a resend.
  int echoesExpected_ = 0;
  bool duplicateResent_ = false;  // the current block went again for a duplicate ACK
};

}  // namespace maintenance
