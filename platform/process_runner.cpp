#include "platform/process_runner.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

bool RunDetached(const std::vector<std::string>& argv, const std::string& workDir,
                 std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (argv.empty() || argv[0].empty()) return fail("не задана программа");
  std::vector<char*> args;
  for (const std::string& w : argv) args.push_back(const_cast<char*>(w.c_str()));
  args.push_back(nullptr);

  // The program reports a failed start through this pipe; a successful exec
  // closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + std::strerror(errno));

  // The middle child exits at once, so the program is adopted by init and
  // never becomes our zombie.
  const pid_t middle = ::fork();
  if (middle < 0) {
    const int e = errno;
    ::close(report[0]);
    ::close(report[1]);
    return fail(std::string("fork: ") + std::strerror(e));
  }
  if (middle == 0) {
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    int e = 0;
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) {
      e = errno;
    } else {
      const int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != report[1]) ::close(fd);
      ::execv(args[0], args.data());
      e = errno;
    }
    (void)!::write(report[1], &e, sizeof e);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int e = 0;
  ssize_t got;
  while ((got = ::read(report[0], &e, sizeof e)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (got == sizeof e) return fail(argv[0] + ": " + std::strerror(e));
  return true;
}

}  // namespace platform
