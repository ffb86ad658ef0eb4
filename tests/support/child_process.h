// Runs a program of this project as a child process for end-to-end tests and
// collects its standard output line by line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class ChildProcess {
 public:
  // Starts `path` with `args`; stdout is collected, and stderr too when
  // `withStderr`, else it passes through.
  ChildProcess(const std::string& path, const std::vector<std::string>& args,
               bool withStderr = false);
  ~ChildProcess();

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits until a line containing `text` has appeared; returns that line, or
  // an empty string after the time-out.
  std::string WaitForLine(const std::string& text, std::chrono::milliseconds timeout);
  // Every line so far.
  std::vector<std::string> Lines();
  // How many lines so far contain `text`.
  size_t Count(const std::string& text);

  // Sends SIGTERM and waits; returns the exit status (128 + signal if killed).
  int Terminate(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the child to end by itself; -1 after the time-out.
  int Wait(std::chrono::milliseconds timeout);

 private:
  void Reader(int fd);
  int Reap(std::chrono::milliseconds timeout);

  int pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::thread reader_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
};

// A UDP port on 127.0.0.1 that was free a moment ago, with the next port free too.
unsigned short FreeUdpPort();

// Waits until some process has bound UDP `port` on 127.0.0.1.
bool WaitUdpBound(unsigned short port, std::chrono::milliseconds timeout);

// A fresh empty directory under /tmp, removed with its files on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& text);

}  // namespace testsupport
