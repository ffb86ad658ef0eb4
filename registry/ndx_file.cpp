#include "registry/ndx_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "console/line_format.h"

namespace registry {

using devlink::ClientTable;
using devlink::kRecordSize;

bool LoadNdx(TBuffClient& store, const std::string& path, console::MessageSink& sink) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    sink.Message("Ошибка чтения " + path + ": " + std::strerror(errno));
    return false;
  }
  const unsigned long long size = (unsigned long long)st.st_size;
  unsigned long long n = size / kRecordSize;
  if (size == 0) {
    if (std::remove(path.c_str()) != 0) {
      sink.Message("Ошибка удаления " + path + ": " + std::strerror(errno));
      return false;
    }
    return true;
  }
  if (size % kRecordSize != 0)
    sink.Message(console::Format("Файл %s: размер %llu байт не кратен записи %zu байт; "
                                 "загружено записей: %llu, файл сохранён.",
                                 path.c_str(), size, kRecordSize, n));
  if (n > ClientTable::kMaxRecords) {
    sink.Message(console::Format("Файл %s: записей %llu, больше %zu; загружены первые %zu, "
                                 "файл сохранён.",
                                 path.c_str(), n, ClientTable::kMaxRecords,
                                 ClientTable::kMaxRecords));
    n = ClientTable::kMaxRecords;
  }
  if (n == 0) return true;

  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    sink.Message("Ошибка чтения " + path + ": " + std::strerror(errno));
    return false;
  }
  ClientTable& table = store.Table();
  table.Resize(size_t(n));
  const size_t got = std::fread(table.Data(), kRecordSize, size_t(n), f);
  const bool ok = got == n;
  if (!ok)
    sink.Message("Ошибка чтения " + path + ": " +
                 (std::ferror(f) ? std::strerror(errno) : "файл короче, чем при открытии") +
                 console::Format("; прочитано записей: %zu.", got));
  std::fclose(f);
  for (size_t i = 0; i < got; ++i) {
    devlink::ClientRecord& r = table[i];
    std::memset(r.contactCount, 0, 3);
    std::memset(r.unansweredCount, 0, 3);
    std::memset(r.sentCount, 0, 3);
    std::memset(r.sentFlag, 0, 3);
  }
  return ok;
}

}  // namespace registry
