// The client table: the growable array of client records, indexed by the
// 16-bit client index that devices put into their wrappers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "devlink/client_record.h"

namespace devlink {

class ClientTable {
 public:
  static constexpr size_t kMaxRecords = 65534;
  static constexpr size_t kInitialRecords = 20;

  // Room for the largest table is reserved once, so records never move while a
  // worker holds a reference; untouched pages cost no memory.
  ClientTable();

  size_t Size() const { return records_.size(); }
  size_t HighestIndex() const { return records_.size() - 1; }
  bool Valid(size_t i) const { return i < records_.size(); }

  ClientRecord& operator[](size_t i) { return records_[i]; }
  const ClientRecord& operator[](size_t i) const { return records_[i]; }
  ClientRecord* Data() { return records_.data(); }
  const ClientRecord* Data() const { return records_.data(); }

  // Sets the length within 1..kMaxRecords; added records are zero.
  void Resize(size_t n);

  // Becomes a copy of `n` records (1..kMaxRecords), as loaded from a file.
  void Assign(const ClientRecord* records, size_t n);

  // Takes over `records` (1..kMaxRecords of them, with room reserved for
  // kMaxRecords so they never move) and hands the old records back in it.
  // A loaded registry thus replaces the table without a second copy.
  void Swap(std::vector<ClientRecord>& records);

  // A record registered in this run that has forwarded no event, or answered
  // no heartbeat, holds no last sequence yet: its zero byte is not a sequence,
  // and the first one that comes is never taken for a repetition. Kept beside
  // the records, since the registry file has no room for it; records loaded
  // from a file keep the sequences they hold. Changed under Lock.
  void MarkRegistered(size_t i) { unseen_[i] = kNoEventSeq | kNoHeartbeatSeq; }
  bool EventSeqKnown(size_t i) const { return (unseen_[i] & kNoEventSeq) == 0; }
  void EventSeqSeen(size_t i) { unseen_[i] &= uint8_t(~kNoEventSeq); }
  bool HeartbeatSeqKnown(size_t i) const { return (unseen_[i] & kNoHeartbeatSeq) == 0; }
  void HeartbeatSeqSeen(size_t i) { unseen_[i] &= uint8_t(~kNoHeartbeatSeq); }

  // Raised when records may have come into use or changed their number, so
  // indexes over the table rebuild; Resize raises it too. Changed under Lock.
  uint64_t Generation() const { return generation_; }
  void Touch() { ++generation_; }

 private:
  static constexpr uint8_t kNoEventSeq = 1;
  static constexpr uint8_t kNoHeartbeatSeq = 2;

  std::vector<ClientRecord> records_;
  std::vector<uint8_t> unseen_;  // per record: kNoEventSeq | kNoHeartbeatSeq
  uint64_t generation_ = 0;
};

}  // namespace devlink
