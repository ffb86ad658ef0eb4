#include "armlink/arm_frame.h"

#include "devlink/crc8.h"

namespace armlink {

bool FrameOk(const uint8_t* f, size_t avail) {
  return avail >= 1 && f[0] == kFrameStart && devlink::CheckByteOk(f, avail);
}

size_t BuildPoll(uint8_t* out, uint8_t group) {
  const uint8_t b[] = {kFrameStart, 4, 1, group, 0};
  for (size_t k = 0; k < sizeof b; ++k) out[k] = b[k];
  devlink::SetCheckByte(out);
  return 6;
}

size_t BuildAck(uint8_t* out, uint8_t group, uint8_t counter) {
  const uint8_t b[] = {kFrameStart, 5, 1, group, 0, counter};
  for (size_t k = 0; k < sizeof b; ++k) out[k] = b[k];
  devlink::SetCheckByte(out);
  return 7;
}

size_t BuildNotice(uint8_t* out, uint8_t n1, uint8_t n2, uint8_t n3, uint8_t counter,
                   uint8_t code) {
  const uint8_t b[] = {kFrameStart, 8, 3, n1, n2, n3, 0, counter, code};
  for (size_t k = 0; k < sizeof b; ++k) out[k] = b[k];
  devlink::SetCheckByte(out);
  return 10;
}

}  // namespace armlink
