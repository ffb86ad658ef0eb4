// The client record: one packed 3166-byte record per object device. The same
// bytes are the records of the registry file, so the layout is fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace devlink {

// Length-prefixed address text: 1 length byte, then up to 16 characters.
struct PStr17 {
  uint8_t len;
  char text[16];
};

struct ConsoleNumber {
  uint8_t n1 = 0, n2 = 0, n3 = 0;
  friend bool operator==(const ConsoleNumber&, const ConsoleNumber&) = default;
};

struct ClientRecord {
  uint8_t updateMark;              // 0: set while a registration rewrites the record
  uint8_t inUse;                   // 1: registered device
  uint8_t linkFailCount;           // 2: sweeps without a sign of life
  uint8_t linkState;               // 3: 0 normal, 1 failure, 2 reported, 3 restored
  PStr17 peerAddr;                 // 4
  uint8_t peerPort[2];             // 21
  uint8_t n1, n2, n3;              // 23: console number
  uint8_t keyMaterial[10];         // 26
  uint8_t C_iTransm[4];            // 36: send chaining value
  uint8_t C_iResiv[4];             // 40: receive chaining value
  uint8_t identity[2];             // 44: In[0], In[1] of the registration test telegram
  uint8_t notifiedIdentity[2];     // 46: identity last reported as substituted
  uint8_t reserved48[5];           // 48
  uint8_t regAttempts;             // 53: registrations under this number by another identity
  uint8_t armFrameCounter;         // 54: frame counter towards the workstation
  uint8_t reserved55[1017];        // 55
  uint8_t surGard1072;             // 1072: optional SurGard output only
  uint8_t substCount;              // 1073: substitution attempts since last sign of life
  uint8_t reserved1074;            // 1074
  uint8_t armQueue[8][128];        // 1075: frames waiting for the workstation
  uint8_t armRead;                 // 2099
  uint8_t armWrite;                // 2100
  uint8_t armFull;                 // 2101
  uint8_t lastHbSeq;               // 2102: sequence of the last heartbeat answered
  uint8_t reserved2103;            // 2103
  uint8_t iface;                   // 2104: interface 0..2 the device was last heard on
  uint8_t lastEventSeq;            // 2105: sequence of the last event forwarded
  uint8_t switchedOff;             // 2106: switched off for non-payment
  uint8_t secondDevice;            // 2107: a second device seems to answer
  uint8_t reserved2108;            // 2108
  uint8_t maintNotice;             // 2109: 1 start, 2 end of maintenance to report
  uint8_t pending[8][128];         // 2110: requests awaiting an answer
  uint8_t sendsLeft[8];            // 3134
  uint8_t repeatTicks[8];          // 3142
  uint8_t requestsPending;         // 3150
  uint8_t serviceAnswerExpected;   // 3151
  uint8_t serviceSeq;              // 3152
  uint8_t contactCount[3];         // 3153
  uint8_t unansweredCount[3];      // 3156
  uint8_t sentCount[3];            // 3159
  uint8_t sentFlag[3];             // 3162
  uint8_t substPermit;             // 3165
};

static_assert(sizeof(ClientRecord) == 3166, "the registry file depends on this size");
static_assert(alignof(ClientRecord) == 1);

inline constexpr size_t kRecordSize = sizeof(ClientRecord);

// Little-endian helpers for the byte fields above.
inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}

// A length byte above 16 (from a damaged file) is read as 16.
inline std::string_view PStrView(const PStr17& s) {
  return {s.text, s.len > 16 ? size_t(16) : size_t(s.len)};
}
inline void SetPStr(PStr17& s, std::string_view v) {
  if (v.size() > 16) v = v.substr(0, 16);
  s.len = uint8_t(v.size());
  for (size_t k = 0; k < v.size(); ++k) s.text[k] = v[k];
}

inline ConsoleNumber NumberOf(const ClientRecord& r) { return {r.n1, r.n2, r.n3}; }
// "1/0/5", as the console shows a number.
inline std::string NumberText(const ConsoleNumber& n) {
  return std::to_string(n.n1) + "/" + std::to_string(n.n2) + "/" + std::to_string(n.n3);
}
inline bool NumberIs(const ClientRecord& r, const uint8_t* n) {
  return r.n1 == n[0] && r.n2 == n[1] && r.n3 == n[2];
}
inline uint16_t PeerPort(const ClientRecord& r) { return GetU16(r.peerPort); }

}  // namespace devlink
