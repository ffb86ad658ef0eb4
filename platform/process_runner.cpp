#include "platform/process_runner.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  std::string w;
  for (char c : commandLine) {
    if (c == ' ' || c == '\t') {
      if (!w.empty()) words.push_back(std::move(w));
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) words.push_back(std::move(w));
  return words;
}

bool RunDetached(const std::string& commandLine, const std::string& workDir, std::string* error) {
  const std::vector<std::string> words = SplitCommandLine(commandLine);
  if (words.empty()) {
    if (error) *error = "пустая командная строка";
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);

  // The middle child exits at once, so the program is adopted by init and
  // never becomes our zombie.
  const pid_t middle = ::fork();
  if (middle < 0) {
    if (error) *error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (middle == 0) {
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

}  // namespace platform
