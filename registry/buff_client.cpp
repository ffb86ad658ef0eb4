#include "registry/buff_client.h"

#include <cstring>

namespace registry {

using devlink::ClientRecord;
using Lock = std::lock_guard<std::mutex>;

void FreeRecord(ClientRecord& r) {
  r.updateMark = 0;
  r.inUse = 0;
  r.switchedOff = 0;
  r.armRead = r.armWrite = r.armFull = 0;
  std::memset(r.sendsLeft, 0, sizeof r.sendsLeft);
  std::memset(r.repeatTicks, 0, sizeof r.repeatTicks);
  r.requestsPending = 0;
  r.substPermit = 0;
  r.secondDevice = 0;
  r.serviceAnswerExpected = 0;
  r.maintNotice = 0;
  // The sequences belong to the device that leaves.
  r.lastEventSeq = 0;
  r.lastHbSeq = 0;
}

uint16_t TBuffClient::FindFreeCell() {
  for (size_t i = 0; i < table_.Size(); ++i) {
    if (table_[i].inUse == 0) {
      lastFree_ = uint16_t(i);
      return lastFree_;
    }
  }
  const size_t h = table_.HighestIndex();
  constexpr size_t kMax = devlink::ClientTable::kMaxRecords;
  if (h > kMax - 21) {
    table_.Resize(kMax);
    if (h + 1 >= kMax) return kNoFreeCell;
  } else {
    table_.Resize(h + 1 + 20);
  }
  lastFree_ = uint16_t(h + 1);
  return lastFree_;
}

size_t TBuffClient::TableLength(std::mutex& lock) const {
  Lock hold(lock);
  return table_.Size();
}

void TBuffClient::RefreshTable(std::mutex& lock) {
  console::GridSnapshot s;
  {
    Lock hold(lock);
    s = Snapshot();
  }
  grid_.Fill(s);
}

void TBuffClient::RefreshRow(std::mutex& lock, uint16_t index, console::MessageSink& sink) {
  size_t records;
  console::GridRecord r;
  {
    Lock hold(lock);
    records = table_.Size();
    r = console::GridRecordOf(table_, index);
  }
  if (grid_.UpdateRow(records, r, sink) == console::DeviceGrid::RowUpdate::NeedsFill)
    RefreshTable(lock);
}

void TBuffClient::ClearUnused(std::mutex& lock) {
  console::GridSnapshot s;
  {
    Lock hold(lock);
    size_t length = 4;
    for (size_t i = table_.Size(); i-- > 0;)
      if (table_[i].inUse != 0) {
        length = i + 4;
        break;
      }
    table_.Resize(length);
    s = Snapshot();
  }
  grid_.Fill(s);
}

void TBuffClient::ClearAllRegistrations(std::mutex& lock) {
  console::GridSnapshot s;
  {
    Lock hold(lock);
    for (size_t i = 0; i < table_.Size(); ++i) FreeRecord(table_[i]);
    table_.Touch();
    s = Snapshot();
  }
  grid_.Fill(s);
}

bool TBuffClient::DeleteRegistration(std::mutex& lock, uint16_t index,
                                     std::optional<devlink::ConsoleNumber> expected) {
  console::GridSnapshot s;
  {
    Lock hold(lock);
    if (!table_.Valid(index)) return false;
    const devlink::ClientRecord& r = table_[index];
    if (expected && !(r.inUse && devlink::NumberOf(r) == *expected)) return false;
    FreeRecord(table_[index]);
    table_.Touch();
    s = Snapshot();
  }
  grid_.Fill(s);
  grid_.Resort();
  return true;
}

}  // namespace registry
