#include "app/line_writer.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace app {
namespace {

// False when the reader is gone (or the descriptor fails): nothing more goes out.
bool WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

LineWriter::~LineWriter() {
  // A thread left blocked in a write would outlive what it writes from: a
  // reader that takes nothing for this long ends the process instead.
  if (!Finish(std::chrono::seconds(2))) std::_Exit(1);
}

void LineWriter::Start() { thread_ = std::thread([this] { Loop(); }); }

bool LineWriter::Finish(std::chrono::milliseconds limit) {
  if (!thread_.joinable()) return true;
  stop_ = true;
  std::unique_lock<std::mutex> g(m_);
  if (!cv_.wait_for(g, limit, [this] { return done_; })) return false;
  g.unlock();
  thread_.join();
  return true;
}

void LineWriter::Loop() {
  std::vector<console::Line> lines;
  std::string bytes;
  bool open = true;
  for (;;) {
    const bool last = stop_;
    sink_.Drain(lines, last ? 0 : 100);
    for (const console::Line& l : lines) {
      bytes += l.text;
      bytes += '\n';
    }
    lines.clear();
    // One write for the whole batch; after a failed one the lines are only taken.
    if (open && !bytes.empty()) open = WriteAll(fd_, bytes);
    bytes.clear();
    if (last) break;
  }
  std::lock_guard<std::mutex> g(m_);
  done_ = true;
  cv_.notify_all();
}

}  // namespace app
