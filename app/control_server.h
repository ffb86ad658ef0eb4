// The control socket: a Unix stream socket in the data folder on which the
// server's own user (and root) send requests, one JSON object per line, and
// get one answer line each. It is served on the front end's thread without
// ever waiting: each Poll accepts, reads, answers and writes what is ready.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "platform/unix_socket.h"

namespace app {

// A request that goes on after its first answer: a stream of lines, or a
// wait for a device's answer.
class ControlJob {
 public:
  virtual ~ControlJob() = default;
  // Appends the lines to send now to `out`; false once the job is done.
  virtual bool Continue(std::string& out) = 0;
};

class ControlHandler {
 public:
  virtual ~ControlHandler() = default;
  // Answers one request line: the answer line(s), each ending in a newline,
  // into `out`, and the job when the request goes on.
  virtual std::unique_ptr<ControlJob> Handle(std::string_view line, std::string& out) = 0;
};

class ControlServer {
 public:
  struct Limits {
    // A longer request line ends the connection. A firmware update carries
    // its file: a 128 KiB image is about 370 KB of HEX text, 490 KB in base64.
    size_t maxLine = 768 * 1024;
    size_t maxClients = 64;         // more are refused
    // An idle client that says nothing, or one that takes no answer, is closed.
    std::chrono::milliseconds silence{10000};
    size_t maxUnsent = 4 << 20;     // a client that reads no answer is dropped
  };

  explicit ControlServer(ControlHandler& handler);
  ControlServer(ControlHandler& handler, Limits limits);
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Listens on `path` (see platform::ListenUnix).
  platform::ListenResult Open(const std::string& path, std::string* error);
  // Ends every connection and removes the socket file.
  void Close();
  bool IsOpen() const { return listenFd_ >= 0; }

  void Poll();
  // Waits up to `ms` for a connection or a request, so that a front end with
  // nothing else to wait for answers at once rather than on its next pass.
  void Wait(int ms);
  size_t Clients() const { return clients_.size(); }

  // The refusal a connection of another user gets.
  static constexpr const char* kForeignPeer =
      "доступ запрещён: управлять сервером может только его пользователь или root";

 private:
  struct Client {
    int fd = -1;
    std::string in, out;
    std::unique_ptr<ControlJob> job;
    std::chrono::steady_clock::time_point idleSince;   // since the last request or job ended
    std::chrono::steady_clock::time_point writeSince;  // since the reader last took something
    bool peerDone = false;  // the peer sends no more: closed once answered
    bool overlong = false;  // a line over the limit: nothing more is served
  };
  void Accept();
  void Refuse(int fd, const std::string& why);
  // False when the connection is to be dropped now.
  bool Read(Client& c);
  void Serve(Client& c);
  bool Write(Client& c, std::chrono::steady_clock::time_point now);
  // A request waits to be served, or a job to go on.
  bool Ready(const Client& c) const;
  short Events(const Client& c) const;

  ControlHandler& handler_;
  const Limits limits_;
  std::string path_;
  int listenFd_ = -1;
  std::vector<std::unique_ptr<Client>> clients_;
};

// One answer line: {"ok":false,"error":why} (with "usage":true for a request
// that is wrong in itself rather than refused).
std::string ErrorAnswer(std::string_view why, bool usage);

}  // namespace app
