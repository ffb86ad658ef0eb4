#include "registry/ndx_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/line_format.h"
#include "platform/replace_file.h"

namespace registry {

using devlink::ClientRecord;
using devlink::ClientTable;
using devlink::kRecordSize;
using Clock = std::chrono::steady_clock;

namespace {

void ReadError(console::MessageSink& sink, const std::string& path, int e) {
  sink.Message("Ошибка чтения файла \"" + path + "\": " + std::strerror(e));
}

void ZeroInterfaceBytes(ClientRecord& r) {
  std::memset(r.contactCount, 0, sizeof r.contactCount);
  std::memset(r.unansweredCount, 0, sizeof r.unansweredCount);
  std::memset(r.sentCount, 0, sizeof r.sentCount);
  std::memset(r.sentFlag, 0, sizeof r.sentFlag);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Copies the file to `keep`, created anew; false with errno set, and no `keep` left.
bool CopyFile(const std::string& path, const std::string& keep) {
  const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = ::open(keep.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    errno = e;
    return false;
  }
  std::vector<char> buf(1 << 20);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = ::write(out, buf.data() + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) ok = false;
      else done += w;
    }
    if (!ok) break;
  }
  ok = ok && ::fsync(out) == 0;
  int e = errno;
  if (::close(out) != 0 && ok) {
    ok = false;
    e = errno;
  }
  ::close(in);
  if (!ok) {
    ::unlink(keep.c_str());
    errno = e;
  }
  return ok;
}

// A registry that could not be loaded whole would be replaced by what was
// loaded at the next save: its bytes are kept under a second name first, by a
// hard link (no copy, no read access needed) or else by a copy. When neither
// works, no registry write of this run may replace it.
void KeepOriginal(TBuffClient& store, const std::string& path, console::MessageSink& sink) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  std::string keep = path + ".bad-" + stamp;
  for (int k = 1; ::access(keep.c_str(), F_OK) == 0; ++k)
    keep = path + ".bad-" + stamp + "-" + std::to_string(k);
  if (::link(path.c_str(), keep.c_str()) == 0) {
    sink.Message("Файл \"" + path + "\" сохранён без изменений как \"" + keep + "\".");
    return;
  }
  const int linkError = errno;
  if (CopyFile(path, keep)) {
    sink.Message("Файл \"" + path + "\" сохранён без изменений как \"" + keep + "\".");
    return;
  }
  const int copyError = errno;
  const std::string why = "Файл реестра \"" + path +
                          "\" не загружен целиком, и сохранить его как \"" + keep +
                          "\" не удалось (ссылка: " + std::strerror(linkError) +
                          "; копия: " + std::strerror(copyError) +
                          "). Запись реестра запрещена до перезапуска программы.";
  store.RefuseWrites(why);
  sink.Message(why);
}

}  // namespace

// Below this many records a loaded registry is copied into the table.
constexpr unsigned long long kAdoptRecords = 1024;

bool LoadNdx(TBuffClient& store, std::mutex& lock, const std::string& path,
             console::MessageSink& sink) {
  bool kept = false;
  const auto keep = [&] {
    if (!std::exchange(kept, true)) KeepOriginal(store, path, sink);
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    ReadError(sink, path, errno);
    keep();
    return false;
  }
  const unsigned long long size = (unsigned long long)st.st_size;
  unsigned long long n = size / kRecordSize;
  if (size == 0) {
    if (std::remove(path.c_str()) != 0) {
      sink.Message("Ошибка удаления файла \"" + path + "\": " + std::strerror(errno));
      return false;
    }
    return true;
  }
  if (size % kRecordSize != 0)
    sink.Message(console::Format("Файл %s: размер %llu байт не кратен записи %zu байт; "
                                 "загружено записей: %llu.",
                                 path.c_str(), size, kRecordSize, n));
  if (n > ClientTable::kMaxRecords) {
    sink.Message(console::Format("Файл %s: записей %llu, больше %zu; загружены первые %zu.",
                                 path.c_str(), n, ClientTable::kMaxRecords,
                                 ClientTable::kMaxRecords));
    n = ClientTable::kMaxRecords;
  }
  if (size % kRecordSize != 0 || n < size / kRecordSize) keep();
  if (n == 0) return true;

  // The file is read without Lock; only the replacement of the table holds it.
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    ReadError(sink, path, errno);
    keep();
    return false;
  }
  // A large registry becomes the table as it was read, without a second copy:
  // it gets the room of the largest table, so its records never move.
  const bool adopt = n > kAdoptRecords;
  std::vector<ClientRecord> records;
  if (adopt) records.reserve(ClientTable::kMaxRecords);
  records.resize(static_cast<size_t>(n));
  const size_t got = std::fread(records.data(), kRecordSize, records.size(), f.get());
  const bool ok = got == n;
  if (!ok)
    sink.Message("Ошибка чтения файла \"" + path + "\": " +
                 (std::ferror(f.get()) ? std::strerror(errno) : "файл короче, чем при открытии") +
                 console::Format("; прочитано записей: %zu.", got));
  f.reset();
  if (!ok) keep();
  if (got == 0) return false;
  records.resize(got);
  for (ClientRecord& r : records) ZeroInterfaceBytes(r);
  {
    std::lock_guard<std::mutex> hold(lock);
    ClientTable& table = store.Table();
    if (adopt) {
      table.Swap(records);
    } else {
      table.Assign(records.data(), got);
    }
  }
  std::vector<ClientRecord>().swap(records);  // the old table, released without Lock
  store.RefreshTable(lock);
  store.Grid().Resort();
  return ok;
}

bool SaveNdx(TBuffClient& store, std::mutex& lock, const std::string& path,
             console::MessageSink& sink, SaveTimings* timings) {
  if (const std::string refusal = store.WriteRefusal(); !refusal.empty()) {
    sink.Message(refusal);
    return false;
  }
  const auto start = Clock::now();
  // The copy's pages are touched before Lock is taken; a table grown since
  // then by a registration needs at most a few more records.
  std::vector<ClientRecord> copy;
  const size_t expected = store.TableLength(lock);
  copy.reserve(std::min(expected + 40, ClientTable::kMaxRecords));
  copy.resize(expected);
  Clock::duration held;
  {
    std::lock_guard<std::mutex> hold(lock);
    const auto locked = Clock::now();
    const ClientTable& table = store.Table();
    copy.resize(table.Size());
    std::memcpy(copy.data(), table.Data(), table.Size() * kRecordSize);
    held = Clock::now() - locked;
  }
  std::string error;
  const bool ok = platform::ReplaceFile(path, copy.data(), copy.size() * kRecordSize, &error);
  if (!ok) sink.Message("Ошибка записи файла \"" + path + "\": " + error);
  if (timings) {
    timings->lockHeld = held;
    timings->total = Clock::now() - start;
  }
  return ok;
}

NdxCompare CompareNdx(TBuffClient& store, std::mutex& lock, const std::string& path,
                      console::MessageSink& sink) {
  // The in-use flags of the file, read in blocks of records without Lock.
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    ReadError(sink, path, errno);
    return NdxCompare::Failed;
  }
  std::vector<uint8_t> fileFlags;
  std::vector<ClientRecord> block(256);
  for (;;) {
    const size_t got = std::fread(block.data(), kRecordSize, block.size(), f.get());
    for (size_t k = 0; k < got; ++k) fileFlags.push_back(block[k].inUse);
    if (got < block.size()) break;
  }
  if (std::ferror(f.get())) {
    ReadError(sink, path, errno);
    return NdxCompare::Failed;
  }
  f.reset();

  std::vector<uint8_t> tableFlags;
  {
    std::lock_guard<std::mutex> hold(lock);
    const ClientTable& table = store.Table();
    tableFlags.resize(table.Size());
    for (size_t i = 0; i < table.Size(); ++i) tableFlags[i] = table[i].inUse;
  }

  const size_t common = std::min(fileFlags.size(), tableFlags.size());
  bool differ = !std::equal(fileFlags.begin(), fileFlags.begin() + ptrdiff_t(common),
                            tableFlags.begin());
  const auto inUse = [](uint8_t flag) { return flag != 0; };
  differ = differ || std::any_of(fileFlags.begin() + ptrdiff_t(common), fileFlags.end(), inUse) ||
           std::any_of(tableFlags.begin() + ptrdiff_t(common), tableFlags.end(), inUse);
  if (differ) {
    sink.Message(kCompareDiffer);
    sink.Message(kCompareAdvice);
  } else {
    sink.Message(kCompareEqual);
  }
  if (fileFlags.size() != tableFlags.size())
    sink.Message(console::Format("Записей в файле: %zu, в памяти: %zu.", fileFlags.size(),
                                 tableFlags.size()));
  return differ ? NdxCompare::Different : NdxCompare::Equal;
}

}  // namespace registry
