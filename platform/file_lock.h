// An exclusive lock on a file, held while the object lives: one process at a
// time holds it, and it ends with the holder, however that ends.
#pragma once

#include <string>

namespace platform {

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  enum class Result { kTaken, kHeld, kFailed };
  // Creates `path` when missing (mode 0600) and takes its lock without
  // waiting: kHeld while another process holds it, kFailed with the reason in
  // `error` when the file cannot be opened or locked.
  Result Take(const std::string& path, std::string* error);
  void Release();
  bool Taken() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
