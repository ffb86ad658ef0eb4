// Unix domain stream sockets for the control socket: a listener that is the
// only one on its path, the peer's credentials, and a client connection.
#pragma once

#include <string>
#include <sys/types.h>

namespace platform {

enum class ListenResult {
  kListening,  // `*fd` listens, non-blocking, the file has mode 0600
  kLive,       // another process listens on `path`
  kFailed,     // `*error` says why
};

// Listens on `path`. A socket file that nobody listens on any more (left by
// a server that died) is replaced; any other file there is left alone.
ListenResult ListenUnix(const std::string& path, int* fd, std::string* error);

// The user and process at the other end of a connected socket.
bool PeerCredentials(int fd, uid_t* uid, pid_t* pid);

// A blocking connection to `path`, retried while the listener's queue is
// full for up to `waitMs`; -1 with errno set when none is made (EAGAIN: the
// queue stayed full).
int ConnectUnix(const std::string& path, int waitMs = 0);

// The longest path a Unix socket address holds.
size_t MaxUnixPathLength();

}  // namespace platform
