#include "platform/replace_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t k = ::write(fd, p, n);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return false;
    p += k;
    n -= size_t(k);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReplaceFile(const std::string& path, const void* data, size_t n, std::string* error) {
  std::string tmp = path + ".XXXXXX";
  const auto fail = [&](const char* step, const std::string& file, int e) {
    if (error) *error = std::string(step) + " \"" + file + "\": " + std::strerror(e);
    return false;
  };

  struct stat st {};
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return fail("не удалось создать", tmp, errno);
  const char* step = nullptr;
  (void)::fchmod(fd, mode);  // mkstemp alone gives 0600
  if (!WriteAll(fd, static_cast<const char*>(data), n)) step = "не удалось записать";
  else if (::fsync(fd) != 0) step = "не удалось сбросить на диск";
  int e = errno;
  if (::close(fd) != 0 && !step) {
    step = "не удалось закрыть";
    e = errno;
  }
  if (!step && ::rename(tmp.c_str(), path.c_str()) != 0) {
    step = "не удалось переименовать";
    e = errno;
  }
  if (step) {
    ::unlink(tmp.c_str());
    return fail(step, tmp, e);
  }
  // Makes the rename itself durable; the file is complete either way.
  const int dfd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

void RemoveStaleTemporaries(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
  const std::string dir = DirectoryOf(path);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    bool made = true;  // mkstemp's six letters and digits
    for (size_t k = prefix.size(); k < name.size(); ++k)
      made = made && std::isalnum(static_cast<unsigned char>(name[k]));
    struct stat st {};
    const std::string full = dir + "/" + name;
    if (made && ::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(full.c_str());
  }
  ::closedir(d);
}

}  // namespace platform
