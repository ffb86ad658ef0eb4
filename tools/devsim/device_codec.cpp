#include "tools/devsim/device_codec.h"

#include <cstring>

#include "devlink/crc8.h"

namespace devsim {
namespace {

void PutNumber(uint8_t* p, ConsoleNumber n) {
  p[0] = n.n1;
  p[1] = n.n2;
  p[2] = n.n3;
}

bool NumberAt(const uint8_t* p, ConsoleNumber n) { return p[0] == n.n1 && p[1] == n.n2 && p[2] == n.n3; }

size_t ServiceTelegram(ConsoleNumber n, uint8_t code, uint8_t seq, uint8_t out[kBufSize]) {
  out[0] = kTypeService;
  out[1] = 7;
  out[2] = kMarker;
  out[3] = code;
  PutNumber(out + 4, n);
  out[7] = seq;
  devlink::SetCheckByte(out);
  return 9;
}

}  // namespace

void SetKey(DeviceCipher& c, const Key10& keyMaterial, ConsoleNumber n) {
  c.keyMaterial = keyMaterial;
  const Key10 eff = devlink::EffectiveKey(keyMaterial.data(), n.n1, n.n2, n.n3);
  c.rc6.Setup(eff.data());
}

uint32_t InitialChaining(const Key10& keyMaterial) { return devlink::GetU32(keyMaterial.data()); }

Key10 DeriveDeviceKey(const Key10& base, const uint8_t devBytes[6], const uint8_t seed[4]) {
  return devlink::DeriveKeyMaterial(devlink::RegistrationKey(base, devBytes), seed);
}

size_t BuildRegistration(const RegistrationInput& in, const Key10& base, DeviceCipher& c,
                         uint8_t out[kBufSize]) {
  const Key10 km = DeriveDeviceKey(base, in.devBytes.data(), in.seed.data());
  SetKey(c, km, in.number);
  c.send = c.recv = InitialChaining(km);

  out[0] = kTypePlain;
  out[1] = kRegistrationL;
  out[2] = kMarker;
  out[3] = in.code;
  PutNumber(out + 4, in.number);
  out[7] = in.seq;
  std::memcpy(out + 8, in.seed.data(), 4);
  std::memcpy(out + 12, in.devBytes.data(), 6);

  uint8_t* t = out + 18;  // test telegram: 0xE9, 5, 0x55, 4, In0, In1, check
  std::memset(t, 0, 10);
  t[0] = kTypeService;
  t[1] = 5;
  t[2] = kMarker;
  t[3] = kCodeTest;
  t[4] = in.identity[0];
  t[5] = in.identity[1];
  devlink::SetCheckByte(t);
  uint8_t iv[4];
  devlink::PutU32(iv, c.send);
  devlink::CbcEncrypt(c.rc6, t, iv);
  ++c.send;

  devlink::SetCheckByte(out);
  return kRegistrationSize;
}

size_t BuildHeartbeat(ConsoleNumber n, uint8_t seq, uint8_t out[kBufSize]) {
  return ServiceTelegram(n, kCodeHeartbeat, seq, out);
}

size_t BuildTimeRequest(ConsoleNumber n, uint8_t seq, uint8_t out[kBufSize]) {
  return ServiceTelegram(n, kCodeTime, seq, out);
}

size_t BuildEvent(ConsoleNumber n, uint8_t seq, uint8_t code, const uint8_t* data, size_t dataLen,
                  uint8_t out[kBufSize]) {
  if (dataLen > 112) dataLen = 112;
  out[0] = kTypeEvent;
  out[1] = uint8_t(8 + dataLen);
  out[2] = 3;
  PutNumber(out + 3, n);
  out[6] = 0;
  out[7] = seq;
  out[8] = code;
  if (dataLen > 0) std::memcpy(out + 9, data, dataLen);
  devlink::SetCheckByte(out);
  return size_t(out[1]) + 2;
}

size_t BuildRequestAnswer(ConsoleNumber n, uint8_t seq, uint8_t command, uint8_t param,
                          uint8_t out[kBufSize]) {
  switch (command) {
    case 0x80: {  // channel type: LAN, channel IP1
      const uint8_t d[] = {0, 1};
      return BuildEvent(n, seq, 0x46, d, sizeof d, out);
    }
    case 0x7F: {  // signal level 20 on the SIM card asked for
      const uint8_t d[] = {20, param};
      return BuildEvent(n, seq, 0x45, d, sizeof d, out);
    }
    case 0x7E: {  // balance 150 on the SIM card asked for
      const uint8_t d[] = {0, 150, 0, param};
      return BuildEvent(n, seq, 0x44, d, sizeof d, out);
    }
    case 0x7D: {  // switched off (1) or on (2) as asked
      const uint8_t d[] = {param};
      return BuildEvent(n, seq, 0x7D, d, sizeof d, out);
    }
    default: {
      const uint8_t d[] = {0};
      return BuildEvent(n, seq, command, d, sizeof d, out);
    }
  }
}

size_t BuildEcho(ConsoleNumber n, uint8_t x, uint8_t flag, size_t extra, uint8_t out[kBufSize]) {
  if (extra > 118) extra = 118;
  out[0] = kTypePlain;
  out[1] = uint8_t(8 + extra);
  out[2] = kMarker;
  out[3] = kCodeEcho;
  PutNumber(out + 4, n);
  out[7] = x;
  out[8] = flag;
  for (size_t k = 0; k < extra; ++k) out[9 + k] = uint8_t(x + k);
  devlink::SetCheckByte(out);
  return size_t(out[1]) + 2;
}

size_t Wrap(DeviceCipher& c, uint16_t index, const uint8_t* inner, uint8_t out[kBufSize]) {
  const uint8_t L = inner[1];
  if (L == 0 || L > kMaxInnerL) return 0;
  const size_t innerSize = devlink::EncryptedSize(L);
  uint8_t t[kBufSize] = {};
  std::memcpy(t, inner, size_t(L) + 2);
  t[1] = L;
  uint8_t iv[4];
  devlink::PutU32(iv, c.send);
  devlink::CbcEncrypt(c.rc6, t, iv);
  ++c.send;

  out[0] = kTypeWrapper;
  out[1] = uint8_t(3 + innerSize);
  out[2] = uint8_t(index >> 8);
  out[3] = uint8_t(index);
  std::memcpy(out + 4, t, innerSize);
  devlink::SetCheckByte(out);
  return size_t(out[1]) + 2;
}

const char* AnswerKindName(AnswerKind k) {
  switch (k) {
    case AnswerKind::kRegistration: return "registration";
    case AnswerKind::kHeartbeat: return "heartbeat";
    case AnswerKind::kTime: return "time";
    case AnswerKind::kEventAck: return "event-ack";
    case AnswerKind::kRequest: return "request";
    case AnswerKind::kEcho: return "echo";
    case AnswerKind::kOther: return "other";
    case AnswerKind::kUndecryptable: return "undecryptable";
    case AnswerKind::kMalformed: return "malformed";
  }
  return "?";
}

Answer OpenAnswer(DeviceCipher& c, ConsoleNumber n, const uint8_t* data, size_t len) {
  Answer a;
  if (len < 2 || len > kBufSize) return a;
  const uint8_t L = data[1];
  uint8_t* t = a.plain.data();

  if (data[0] == kTypePlain) {
    if (!devlink::CheckByteOk(data, len)) return a;
    std::memcpy(t, data, size_t(L) + 2);
    a.plainSize = size_t(L) + 2;
    a.kind = AnswerKind::kOther;
    if (L >= 8 && t[2] == kMarker && t[3] == kCodeEcho && NumberAt(t + 4, n)) {
      a.kind = AnswerKind::kEcho;
      a.seq = t[7];
    }
    return a;
  }
  if (data[0] != kTypeWrapper) return a;

  if (L == 0 || L > devlink::kMaxEncryptL || devlink::EncryptedSize(L) > len) {
    a.kind = AnswerKind::kUndecryptable;
    return a;
  }
  std::memcpy(t, data, devlink::EncryptedSize(L));
  if (!devlink::CbcDecryptLookAhead(c.rc6, t, c.recv)) {
    a.kind = AnswerKind::kUndecryptable;
    a.plainSize = 0;
    return a;
  }
  a.plainSize = size_t(L) + 2;
  a.kind = AnswerKind::kOther;
  if (L >= 7 && t[2] == kMarker && NumberAt(t + 4, n)) {
    a.seq = t[7];
    switch (t[3]) {
      case kCodeRegister:
        if (L == 9) {
          a.kind = AnswerKind::kRegistration;
          a.index = uint16_t((t[8] << 8) | t[9]);
        }
        break;
      case kCodeHeartbeat:
        if (L == 7 || L == 8) {
          a.kind = AnswerKind::kHeartbeat;
          a.alarmFlag = L == 8 && t[8] == 1;
        }
        break;
      case kCodeTime:
        if (L == 13) {
          a.kind = AnswerKind::kTime;
          std::memcpy(a.clock.data(), t + 8, 6);
        }
        break;
      case kCodeEventAck:
        if (L == 7) a.kind = AnswerKind::kEventAck;
        break;
      default:
        break;
    }
  } else if (L >= 7 && t[2] == 3 && NumberAt(t + 3, n)) {
    a.kind = AnswerKind::kRequest;
    a.seq = t[7];
    a.command = L >= 8 ? t[8] : 0;
    a.param = L >= 9 ? t[9] : 0;
  }
  return a;
}

}  // namespace devsim
