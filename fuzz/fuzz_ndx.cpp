// Arbitrary bytes as a registry file: loaded into the store, shown in the grid,
// sorted, updated a row at a time, compared with the table and exported.
// A record is 3166 bytes: run with -max_len=16000 -len_control=0.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "console/console_settings.h"
#include "console/device_grid.h"
#include "console/message_sink.h"
#include "platform/clock.h"
#include "registry/buff_client.h"
#include "registry/ndx_file.h"
#include "registry/registration_export.h"

namespace {

struct World {
  console::ConsoleSettings settings;
  console::LineQueue lines;
  platform::FixedClock clock;
  console::MessageSink sink{settings, lines, clock};
  // Made once: reserving room for the largest table is costly under the sanitizer.
  registry::TBuffClient store;
  std::mutex lock;
  const std::string path = "/tmp/fuzz_ndx_" + std::to_string(::getpid()) + ".ndx";

  // Every input starts from the same table and grid.
  void Reset() {
    devlink::ClientTable& t = store.Table();
    t.Resize(1);
    std::memset(t.Data(), 0, sizeof(devlink::ClientRecord));
    t.Resize(devlink::ClientTable::kInitialRecords);
    store.RefreshTable(lock);
    store.Grid().SortDefault();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World w;
  w.Reset();
  std::FILE* f = std::fopen(w.path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  // The first byte picks the grid's sort, so a loaded grid is sorted every way.
  if (size > 0)
    w.store.Grid().Sort(data[0] & 1 ? console::DeviceGrid::kIndexColumn
                                    : console::DeviceGrid::kNumberColumn,
                        data[0] & 2);
  registry::LoadNdx(w.store, w.lock, w.path, w.sink);
  registry::CompareNdx(w.store, w.lock, w.path, w.sink);
  const size_t length = w.store.TableLength(w.lock);
  volatile size_t sink = registry::RegistrationObjText(w.store.Grid(), length).size();
  (void)sink;
  if (size > 2) w.store.RefreshRow(w.lock, uint16_t(data[1] | (data[2] << 8)), w.sink);
  w.store.DeleteRegistration(w.lock, uint16_t(size % (length + 1)));
  w.store.ClearUnused(w.lock);

  std::vector<console::Line> drained;
  w.lines.Drain(drained, 0);
  std::remove(w.path.c_str());
  return 0;
}
