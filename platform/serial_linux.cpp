#include "platform/serial_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
  return left.count() > 0 ? int(left.count()) : 0;
}

// Waits for `events` on fd up to `ms`; the revents, 0 on time-out, -1 on error.
int PollFor(int fd, short events, int ms) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, MsLeft(end));
    if (r > 0) return p.revents;
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

bool SetLine(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
  t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (cfsetispeed(&t, B19200) != 0 || cfsetospeed(&t, B19200) != 0) return false;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Unix98 pty slaves (/dev/pts/N) have majors 136 to 143.
bool IsPtySlave(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;
}

}  // namespace

std::string SerialPortPath(const std::string& name, const std::string& portsDir) {
  if (name.find('/') != std::string::npos) return name;
  if (portsDir.empty()) return name;
  return portsDir.back() == '/' ? portsDir + name : portsDir + "/" + name;
}

TermiosPort::~TermiosPort() { Close(); }

bool TermiosPort::Fail(OpenError e, const std::string& text) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  error_ = e;
  errorText_ = path_ + ": " + text;
  return false;
}

bool TermiosPort::Open(const std::string& name, const std::string& portsDir) {
  Close();
  name_ = name;
  path_ = SerialPortPath(name, portsDir);
  error_ = OpenError::kNone;
  errorText_.clear();

  fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR || e == ENXIO || e == ENODEV)
      return Fail(OpenError::kNotFound, "порт не найден");
    if (e == EBUSY) return Fail(OpenError::kBusy, "порт занят другой программой");
    return Fail(OpenError::kFailed, std::string("порт не открыт: ") + std::strerror(e));
  }
  if (!isatty(fd_)) return Fail(OpenError::kNotTerminal, "это не последовательный порт");
  // The lock keeps out a second copy even when it runs as root, which
  // TIOCEXCL alone does not; it goes away with the process that holds it.
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return Fail(OpenError::kBusy, "порт занят другой программой");
    return Fail(OpenError::kFailed, std::string("порт не открыт: ") + std::strerror(errno));
  }
  // Programs that take no lock are kept out by the exclusive mode. Not on a
  // pty: its pair keeps it alive, so the mode would outlive a holder that dies
  // without closing and lock out every later open but root's.
  exclusiveMode_ = !IsPtySlave(fd_);
  if (exclusiveMode_ && ioctl(fd_, TIOCEXCL) != 0)
    return Fail(OpenError::kFailed, std::string("порт не открыт: ") + std::strerror(errno));
  if (!SetLine(fd_)) {
    const std::string why = std::strerror(errno);
    if (exclusiveMode_) ioctl(fd_, TIOCNXCL);
    return Fail(OpenError::kFailed, "не удалось настроить порт: " + why);
  }
  tcflush(fd_, TCIOFLUSH);
  return true;
}

void TermiosPort::Close() {
  if (fd_ < 0) return;
  if (exclusiveMode_) ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

size_t TermiosPort::Read(uint8_t* buf, size_t max, int waitMs) {
  if (fd_ < 0 || max == 0) return 0;
  const Clock::time_point start = Clock::now();
  int wait = waitMs > 0 ? waitMs : 0;
  size_t got = 0;
  while (got < max) {
    const int ev = PollFor(fd_, POLLIN, got == 0 ? wait : gapMs_);
    if (ev <= 0) break;
    if (ev & POLLIN) {
      const ssize_t n = ::read(fd_, buf + got, max - got);
      if (n > 0) {
        got += size_t(n);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    }
    // A hung-up line (the other end of a pty pair gone) reads as silence for
    // the time the caller was ready to wait, so a polling caller does not spin.
    if (got == 0) {
      const auto left = std::chrono::milliseconds(wait) - (Clock::now() - start);
      if (left.count() > 0) std::this_thread::sleep_for(left);
    }
    break;
  }
  return got;
}

bool TermiosPort::Write(const uint8_t* buf, size_t n) {
  if (fd_ < 0) return false;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(WriteTimeoutMs(n));
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd_, buf + done, n - done);
    if (w > 0) {
      done += size_t(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
    const int left = MsLeft(end);
    if (left == 0) return false;
    const int ev = PollFor(fd_, POLLOUT, left);
    if (ev < 0 || (ev & (POLLERR | POLLHUP | POLLNVAL))) return false;
  }
  return true;
}

void TermiosPort::Purge() {
  if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
}

}  // namespace platform
