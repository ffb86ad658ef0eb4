// ICMP echo on Linux: datagram ("ping") sockets where the system allows them,
// raw sockets otherwise. Used by the internet check and the GSM keep-alive.
#pragma once

#include <chrono>
#include <stop_token>
#include <string>

namespace platform {

enum class EchoOutcome {
  kReply,       // an echo reply with at least one byte arrived in time
  kNoReply,     // sent, no reply within the time-out
  kUnresolved,  // the host name gave no IPv4 address
  kSendFailed,  // the socket opened but the request could not be sent
  kNoIcmp,      // neither a ping socket nor a raw socket could be opened
  kCancelled,   // `stop` was requested while waiting
};

struct EchoResult {
  EchoOutcome outcome = EchoOutcome::kNoReply;
  std::string detail;  // the system's reason for anything but kReply
  // The request went out through a raw socket: the ping socket was refused.
  bool rawSocket = false;
};

// Resolves `host` (dotted IPv4 or a name), sends one echo request from a fresh
// socket and waits up to `timeout` for its reply. Name resolution and the
// wait end early, with kCancelled, once `stop` is requested.
EchoResult PingOnce(const std::string& host, std::chrono::milliseconds timeout,
                    std::stop_token stop);

// Sends one echo request to the dotted IPv4 `address` and returns at once
// without waiting for a reply. kReply here means "sent".
EchoResult SendEcho(const std::string& address);

}  // namespace platform
