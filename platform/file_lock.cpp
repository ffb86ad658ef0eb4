#include "platform/file_lock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

FileLock::Result FileLock::Take(const std::string& path, std::string* error) {
  Release();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // A lock needs no write access: a file left in a read-only folder will do.
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "\"" + path + "\": " + std::strerror(errno);
    return Result::kFailed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) return Result::kHeld;
    if (error) *error = "\"" + path + "\": " + std::strerror(e);
    return Result::kFailed;
  }
  fd_ = fd;
  return Result::kTaken;
}

void FileLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace platform
