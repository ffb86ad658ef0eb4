// The registry file: the client records, 3166 bytes each, in index order, with
// nothing else in the file.
//
// These run on the front-end thread. `lock` is the device link's Lock, not held
// by the caller: it is taken only while the table is read or replaced, never
// while the file is read or written.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "console/message_sink.h"
#include "registry/buff_client.h"

namespace registry {

// Loads the file into the store's table. A missing file changes nothing; an
// empty one is deleted. A size that is not a whole number of records, or more
// records than the table can hold, is reported and the file kept under a
// second name: the whole records that fit are loaded. A file that cannot be
// kept so is never written over in this run (TBuffClient::WriteRefusal). The per-interface statistics start at zero.
// Then the grid is filled and sorted with its remembered order.
// False on an input/output error, reported as a message; the records read
// before it are loaded.
bool LoadNdx(TBuffClient& store, std::mutex& lock, const std::string& path,
             console::MessageSink& sink);

struct SaveTimings {
  std::chrono::nanoseconds lockHeld{0};  // while the table was copied
  std::chrono::nanoseconds total{0};
};

// Writes the table to the file: copied under `lock`, then written whole into
// a temporary file of its own beside it and renamed over the file. False on
// failure, reported as a message naming the file and the reason; the old file
// stays as it was. A store that refuses writes writes nothing and says why.
bool SaveNdx(TBuffClient& store, std::mutex& lock, const std::string& path,
             console::MessageSink& sink, SaveTimings* timings = nullptr);

inline constexpr const char* kCompareEqual = "ФАЙЛ.NDX и БУФЕР-OK!";
inline constexpr const char* kCompareDiffer = "ФАЙЛ.NDX и БУФЕР не РАВНЫ!";
inline constexpr const char* kCompareAdvice = "Включить РЕГИСТРАЦИЮ!!!";

enum class NdxCompare { Equal, Different, Failed };

// Compares the in-use flag of every file record with that of the table record
// of the same index, and reports. Records present on one side only differ
// when they are in use; a difference in count is reported on its own line.
NdxCompare CompareNdx(TBuffClient& store, std::mutex& lock, const std::string& path,
                      console::MessageSink& sink);

}  // namespace registry
