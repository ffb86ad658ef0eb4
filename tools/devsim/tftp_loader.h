// The Ethernet controller's (87J60) loader of a simulated device. After the
// main firmware's jump command it takes a TFTP write request on the device's
// socket and answers from a transfer socket of its own, on a new port, as a
// TFTP server answers from a new transfer ID; it acknowledges every block and
// writes the received file out. Faults play a loader or a link that misbehaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace devsim {

struct EthLoaderProfile {
  enum class Fault {
    kNone,
    kOack,           // the request is answered with an option acknowledgement, not ACK 0
    kError,          // an ERROR in place of the ACK of block `faultBlock` (0: of the request)
    kSilent,         // the loader never answers
    kNoLastAck,      // the last block is taken and stored but never acknowledged
    kDuplicateAcks,  // every acknowledgement goes out twice
  };
  // Each received file is stored here whole; empty: kept in memory only.
  std::string outFile;
  Fault fault = Fault::kNone;
  uint16_t faultBlock = 0;
};

// "oack", "error" or "error:N", "silent", "no-last-ack", "dup-acks"; false
// for anything else.
bool ParseEthLoaderFault(std::string_view text, EthLoaderProfile* p);

class EthLoader {
 public:
  explicit EthLoader(EthLoaderProfile p);
  ~EthLoader();
  EthLoader(const EthLoader&) = delete;
  EthLoader& operator=(const EthLoader&) = delete;

  // The jump command 0x11: the loader takes write requests until a file has
  // come in whole, then the device runs its main firmware again.
  void Arm() { armed_ = true; }
  bool Armed() const { return armed_; }

  // A datagram on the device's socket, sent to `local` from `peer`:`peerPort`
  // (host order). True when the armed loader took it as a write request;
  // `note` then says what it did. Any earlier transfer is dropped.
  bool OnDeviceDatagram(const uint8_t* d, size_t n, uint32_t local, uint32_t peer,
                        uint16_t peerPort, std::string* note);

  // The transfer socket, -1 while there is none; the engine watches it.
  int TransferFd() const { return fd_; }
  // Reads and answers what waits on the transfer socket; a note per datagram.
  void OnTransferReadable(std::vector<std::string>* notes);

  // Files received whole since the start.
  uint32_t FilesReceived() const { return files_; }

 private:
  void Send(const std::vector<uint8_t>& d);
  void Ack(uint16_t block);
  void Error(uint16_t code, const std::string& text);
  std::string OnData(const uint8_t* d, size_t n);
  std::string Store();

  EthLoaderProfile p_;
  bool armed_ = false;
  int fd_ = -1;
  uint32_t peer_ = 0;
  uint16_t peerPort_ = 0;
  size_t blockSize_ = 512;
  uint16_t lastAcked_ = 0;  // the block number of the last block taken
  bool done_ = false;       // the last block has come in
  bool failed_ = false;     // an ERROR ended the transfer
  std::vector<uint8_t> file_;
  uint32_t files_ = 0;
};

}  // namespace devsim
