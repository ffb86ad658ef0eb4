#include "devlink/requests.h"

#include <cstring>

namespace devlink {

bool AddRequest(ClientRecord& r, const uint8_t* request, const console::ConsoleSettings& s) {
  if (!s.GlPovtorOn) return false;
  for (int j = 0; j < 8; ++j) {
    if (r.sendsLeft[j] != 0) continue;
    std::memcpy(r.pending[j], request, 128);
    r.repeatTicks[j] = 0;
    r.sendsLeft[j] = uint8_t(s.GlNPovtor);
    r.requestsPending = 1;
    return true;
  }
  return false;
}

bool AckRequest(ClientRecord& r, const uint8_t* answer, const console::ConsoleSettings& s) {
  if (!s.GlPovtorOn) return false;
  for (int j = 0; j < 8; ++j) {
    if (r.sendsLeft[j] != 0 && r.pending[j][7] == answer[7]) {
      r.sendsLeft[j] = 0;
      r.requestsPending = 0;
      return true;
    }
  }
  return false;
}

}  // namespace devlink
