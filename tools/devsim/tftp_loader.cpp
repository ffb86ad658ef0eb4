#include "tools/devsim/tftp_loader.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/replace_file.h"

namespace devsim {

namespace {

constexpr uint8_t kOpWrq = 2, kOpData = 3, kOpAck = 4, kOpError = 5, kOpOack = 6;
constexpr size_t kDefaultBlock = 512;

// The zero-terminated text at `pos`, advancing past it; false when the
// datagram ends before the terminator.
bool NextText(const uint8_t* d, size_t n, size_t* pos, std::string* out) {
  if (*pos >= n) return false;
  const void* end = std::memchr(d + *pos, 0, n - *pos);
  if (end == nullptr) return false;
  const size_t len = size_t(static_cast<const uint8_t*>(end) - (d + *pos));
  out->assign(reinterpret_cast<const char*>(d + *pos), len);
  *pos += len + 1;
  return true;
}

std::string Num(uint64_t v) { return std::to_string(v); }

}  // namespace

bool ParseEthLoaderFault(std::string_view text, EthLoaderProfile* p) {
  using Fault = EthLoaderProfile::Fault;
  if (text == "oack") {
    p->fault = Fault::kOack;
  } else if (text == "silent") {
    p->fault = Fault::kSilent;
  } else if (text == "no-last-ack") {
    p->fault = Fault::kNoLastAck;
  } else if (text == "dup-acks") {
    p->fault = Fault::kDuplicateAcks;
  } else if (text == "error") {
    p->fault = Fault::kError;
    p->faultBlock = 0;
  } else if (text.rfind("error:", 0) == 0) {
    const std::string_view n = text.substr(6);
    uint16_t block = 0;
    auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), block);
    if (n.empty() || ec != std::errc() || end != n.data() + n.size()) return false;
    p->fault = Fault::kError;
    p->faultBlock = block;
  } else {
    return false;
  }
  return true;
}

EthLoader::EthLoader(EthLoaderProfile p) : p_(std::move(p)) {}

EthLoader::~EthLoader() {
  if (fd_ >= 0) ::close(fd_);
}

bool EthLoader::OnDeviceDatagram(const uint8_t* d, size_t n, uint32_t local, uint32_t peer,
                                 uint16_t peerPort, std::string* note) {
  if (!armed_ || n < 2 || d[0] != 0 || d[1] != kOpWrq) return false;
  size_t pos = 2;
  std::string name, mode, option, value;
  if (!NextText(d, n, &pos, &name) || !NextText(d, n, &pos, &mode)) {
    *note = "87J60 loader: malformed write request ignored";
    return true;
  }
  size_t asked = 0;  // a block size the request asks for, 0 for none
  while (NextText(d, n, &pos, &option) && NextText(d, n, &pos, &value)) {
    size_t v = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (strcasecmp(option.c_str(), "blksize") == 0 && ec == std::errc() &&
        end == value.data() + value.size() && v >= 8 && v <= 65464)
      asked = v;
  }
  // A new request is a new transfer, from a new port.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  peer_ = peer;
  peerPort_ = peerPort;
  blockSize_ = kDefaultBlock;
  lastAcked_ = 0;
  done_ = failed_ = false;
  file_.clear();
  *note = "87J60 loader: write request \"" + name + "\" (" + mode + ")";
  if (p_.fault == EthLoaderProfile::Fault::kSilent) {
    *note += ", left unanswered";
    return true;
  }
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(local);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    *note += std::string(", no transfer socket: ") + std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return true;
  }
  if (p_.fault == EthLoaderProfile::Fault::kOack) {
    std::vector<uint8_t> oack{0, kOpOack};
    if (asked > 0) {
      blockSize_ = asked;
      for (const std::string& s : {std::string("blksize"), Num(asked)}) {
        oack.insert(oack.end(), s.begin(), s.end());
        oack.push_back(0);
      }
    }
    Send(oack);
    *note += ", answered with an option acknowledgement";
  } else if (p_.fault == EthLoaderProfile::Fault::kError && p_.faultBlock == 0) {
    Error(2, "Access violation");
    *note += ", refused with an ERROR";
  } else {
    Ack(0);
    *note += ", acknowledged";
  }
  return true;
}

void EthLoader::OnTransferReadable(std::vector<std::string>* notes) {
  if (fd_ < 0) return;
  std::vector<uint8_t> buf(65536);
  for (;;) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    if (ntohl(from.sin_addr.s_addr) != peer_ || ntohs(from.sin_port) != peerPort_) {
      // As RFC 1350 says: the stranger is told, the transfer goes on.
      std::vector<uint8_t> e{0, kOpError, 0, 5};
      const std::string text = "Unknown transfer ID";
      e.insert(e.end(), text.begin(), text.end());
      e.push_back(0);
      ::sendto(fd_, e.data(), e.size(), 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
      notes->push_back("87J60 loader: datagram from another transfer ID refused");
      continue;
    }
    if (n >= 4 && buf[0] == 0 && buf[1] == kOpData) {
      notes->push_back(OnData(buf.data(), size_t(n)));
    } else {
      notes->push_back("87J60 loader: datagram other than DATA ignored");
    }
  }
}

std::string EthLoader::OnData(const uint8_t* d, size_t n) {
  const uint16_t block = uint16_t(d[2] << 8 | d[3]);
  const std::string what = "87J60 loader: block " + Num(block);
  if (failed_) return what + " after the ERROR ignored";
  const bool withhold = p_.fault == EthLoaderProfile::Fault::kNoLastAck;
  if (!done_ && block == uint16_t(lastAcked_ + 1)) {
    if (p_.fault == EthLoaderProfile::Fault::kError && p_.faultBlock == block) {
      Error(3, "Disk full or allocation exceeded");
      failed_ = true;
      return what + " refused with an ERROR";
    }
    file_.insert(file_.end(), d + 4, d + n);
    lastAcked_ = block;
    std::string stored;
    if (n - 4 < blockSize_) {
      // The last block: the file is whole and the device leaves its loader.
      done_ = true;
      armed_ = false;
      ++files_;
      stored = Store();
      if (withhold) return what + " (last) taken, " + stored + ", its ACK withheld";
    }
    Ack(block);
    return what + (done_ ? " (last) taken, " + stored : std::string(" taken"));
  }
  if (block == lastAcked_) {
    // Our ACK of it was lost or late: acknowledged again.
    if (done_ && withhold) return what + " again, its ACK withheld";
    Ack(block);
    return what + " again, acknowledged again";
  }
  return what + " out of order, ignored";
}

std::string EthLoader::Store() {
  const std::string size = Num(file_.size()) + " bytes";
  if (p_.outFile.empty()) return size + " received";
  std::string why;
  if (!platform::ReplaceFile(p_.outFile, file_.data(), file_.size(), &why))
    return size + " received, not stored: " + why;
  return size + " stored in " + p_.outFile;
}

void EthLoader::Send(const std::vector<uint8_t>& d) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(peer_);
  to.sin_port = htons(peerPort_);
  ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void EthLoader::Ack(uint16_t block) {
  const std::vector<uint8_t> ack{0, kOpAck, uint8_t(block >> 8), uint8_t(block)};
  Send(ack);
  if (p_.fault == EthLoaderProfile::Fault::kDuplicateAcks) Send(ack);
}

void EthLoader::Error(uint16_t code, const std::string& text) {
  std::vector<uint8_t> e{0, kOpError, uint8_t(code >> 8), uint8_t(code)};
  e.insert(e.end(), text.begin(), text.end());
  e.push_back(0);
  Send(e);
}

}  // namespace devsim
