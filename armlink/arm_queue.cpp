#include "armlink/arm_queue.h"

#include <cstring>

namespace armlink {
namespace {

// Indices come from the registry file too; a damaged one must not reach
// outside the eight slots.
uint8_t Slot(uint8_t index) { return index & 7; }
uint8_t Advance(uint8_t index) { return uint8_t((Slot(index) + 1) & 7); }

}  // namespace

bool PutToArm(devlink::ClientRecord& r, const uint8_t* frame, console::MessageSink& sink) {
  if (r.armFull) {
    sink.Message("Переполнение Буфера, нет связи с АРМ(ом)!");
    return true;
  }
  std::memcpy(r.armQueue[Slot(r.armWrite)], frame, 128);
  r.armWrite = Advance(r.armWrite);
  if (r.armWrite == Slot(r.armRead)) r.armFull = 1;
  return false;
}

bool GetForArm(devlink::ClientRecord& r, uint8_t* out) {
  if (!r.armFull && Slot(r.armRead) == Slot(r.armWrite)) return true;
  std::memcpy(out, r.armQueue[Slot(r.armRead)], 128);
  r.armRead = Advance(r.armRead);
  r.armFull = 0;
  return false;
}

}  // namespace armlink
