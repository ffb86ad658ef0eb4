#include "platform/unix_socket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

bool AddressOf(const std::string& path, sockaddr_un* a) {
  std::memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  if (path.empty() || path.size() > MaxUnixPathLength()) return false;
  std::memcpy(a->sun_path, path.data(), path.size());
  return true;
}

}  // namespace

size_t MaxUnixPathLength() { return sizeof(sockaddr_un::sun_path) - 1; }

int ConnectUnix(const std::string& path, int waitMs) {
  sockaddr_un a;
  if (!AddressOf(path, &a)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  // Non-blocking, so that a listener that takes no connections (a hung
  // server with its queue full) gives EAGAIN instead of holding us.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  for (int waited = 0;; waited += 50) {
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) break;
    const int e = errno;
    if (e != EAGAIN || waited >= waitMs) {
      ::close(fd);
      errno = e;
      return -1;
    }
    ::usleep(50 * 1000);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

ListenResult ListenUnix(const std::string& path, int* fd, std::string* error) {
  sockaddr_un a;
  if (!AddressOf(path, &a)) {
    *error = "путь сокета " + path + " длиннее " + std::to_string(MaxUnixPathLength()) + " байт";
    return ListenResult::kFailed;
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = path + " существует и не является сокетом";
      return ListenResult::kFailed;
    }
    const int probe = ConnectUnix(path);
    if (probe >= 0 || errno == EAGAIN) {  // a full queue has a listener behind it
      if (probe >= 0) ::close(probe);
      return ListenResult::kLive;
    }
    if (errno != ECONNREFUSED && errno != ENOENT) {
      *error = "сокет " + path + ": " + std::strerror(errno);
      return ListenResult::kFailed;
    }
    ::unlink(path.c_str());  // left by a server that is gone
  }
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return ListenResult::kFailed;
  }
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    const int e = errno;
    ::close(s);
    if (e == EADDRINUSE) return ListenResult::kLive;  // another server was quicker
    *error = "сокет " + path + ": " + std::strerror(e);
    return ListenResult::kFailed;
  }
  // Owner only; until this is done the peer check still keeps others out.
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(s, 128) != 0) {
    *error = "сокет " + path + ": " + std::strerror(errno);
    ::close(s);
    ::unlink(path.c_str());
    return ListenResult::kFailed;
  }
  *fd = s;
  return ListenResult::kListening;
}

bool PeerCredentials(int fd, uid_t* uid, pid_t* pid) {
  ucred c;
  socklen_t n = sizeof c;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &c, &n) != 0 || n != sizeof c) return false;
  *uid = c.uid;
  *pid = c.pid;
  return true;
}

}  // namespace platform
