// Counts the records of a registry file by in-use flag and link state, so a
// load run can show whether any link failure was declared.
//   ndx_stats FILE
#include <cstdio>

#include "devlink/client_record.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ndx_stats FILE\n");
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  devlink::ClientRecord r;
  unsigned long records = 0, inUse = 0, state[4] = {}, other = 0;
  while (std::fread(&r, sizeof r, 1, f) == 1) {
    ++records;
    if (!r.inUse) continue;
    ++inUse;
    if (r.linkState < 4) ++state[r.linkState]; else ++other;
  }
  std::fclose(f);
  std::printf("records=%lu in_use=%lu link_state0=%lu link_state1=%lu link_state2=%lu "
              "link_state3=%lu other=%lu\n",
              records, inUse, state[0], state[1], state[2], state[3], other);
  return 0;
}
