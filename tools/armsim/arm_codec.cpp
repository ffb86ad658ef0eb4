#include "tools/armsim/arm_codec.h"

#include <cstdio>

#include "armlink/arm_frame.h"
#include "devlink/crc8.h"

namespace armsim {

namespace {

std::string Byte(uint8_t b) {
  char t[8];
  std::snprintf(t, sizeof t, "0x%02X", b);
  return t;
}

// One frame that is known to be whole and to have a right check byte.
bool Classify(const uint8_t* f, Frame* out, std::string* error) {
  const size_t L = f[1];
  const size_t n = f[2];
  if (n != 1 && n != 3) {
    *error = "bad address length " + std::to_string(n);
    return false;
  }
  out->group = f[3];
  out->bytes.assign(f, f + L + 2);
  if (L == 4 && n == 1) {
    out->kind = FrameKind::kEmpty;
    out->number = std::to_string(f[3]);
    return true;
  }
  if (L < 4 + n) {
    *error = "frame too short for its address (L " + std::to_string(L) + ")";
    return false;
  }
  out->number = n == 1 ? std::to_string(f[3])
                       : std::to_string(f[3]) + "/" + std::to_string(f[4]) + "/" +
                             std::to_string(f[5]);
  out->counter = f[4 + n];
  if (L == 5 && n == 1) {
    out->kind = FrameKind::kAck;
    return true;
  }
  out->kind = FrameKind::kItem;
  if (L >= 5 + n) {
    out->code = f[5 + n];
    out->data.assign(f + 6 + n, f + L + 1);
  }
  return true;
}

}  // namespace

SplitResult SplitFrames(const uint8_t* p, size_t n) {
  SplitResult r;
  size_t at = 0;
  while (at < n) {
    const uint8_t* f = p + at;
    const size_t left = n - at;
    if (f[0] != armlink::kFrameStart) {
      r.status = SplitStatus::kMalformed;
      r.error = "bad start byte " + Byte(f[0]) + " at offset " + std::to_string(at);
      return r;
    }
    if (left < 2 || size_t(f[1]) + 2 > left) {
      r.status = SplitStatus::kIncomplete;
      r.error = left < 2 ? "frame cut after its start byte"
                         : "L " + std::to_string(f[1]) + " beyond the " + std::to_string(left) +
                               " bytes that arrived";
      return r;
    }
    const size_t size = size_t(f[1]) + 2;
    if (!devlink::CheckByteOk(f, left)) {
      r.status = SplitStatus::kMalformed;
      r.error = "bad check byte in " + Hex(f, size, true);
      return r;
    }
    Frame fr;
    if (f[1] < 4) r.error = "frame too short (L " + std::to_string(f[1]) + ")";
    if (f[1] < 4 || !Classify(f, &fr, &r.error)) {
      r.status = SplitStatus::kMalformed;
      r.error += " in " + Hex(f, size, true);
      return r;
    }
    r.frames.push_back(std::move(fr));
    at += size;
    r.used = at;
  }
  return r;
}

std::string Hex(const uint8_t* p, size_t n, bool spaced) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t k = 0; k < n; ++k) {
    if (spaced && k > 0) s += ' ';
    s += kDigits[p[k] >> 4];
    s += kDigits[p[k] & 15];
  }
  return s;
}

std::string ItemJson(const Frame& f, bool resend, std::optional<int64_t> monoUs) {
  return "{\"type\":\"item\",\"group\":" + std::to_string(f.group) + ",\"number\":\"" + f.number +
         "\",\"counter\":" + std::to_string(f.counter) +
         ",\"code\":" + (f.code < 0 ? std::string("null") : std::to_string(f.code)) +
         ",\"data\":\"" + Hex(f.data) + "\",\"resend\":" + (resend ? "true" : "false") +
         (monoUs ? ",\"mono_us\":" + std::to_string(*monoUs) : std::string()) + "}";
}

std::string AckJson(const Frame& f) {
  return "{\"type\":\"ack\",\"group\":" + std::to_string(f.group) +
         ",\"counter\":" + std::to_string(f.counter) + "}";
}

bool ParseHexFrame(std::string_view text, Bytes* out, std::string* error) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':') continue;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) {
      *error = "'" + std::string(text) + "' is not hex";
      return false;
    }
    digits += c;
  }
  if (digits.size() % 2 != 0) {
    *error = "'" + std::string(text) + "' has an odd number of hex digits";
    return false;
  }
  Bytes b;
  for (size_t k = 0; k < digits.size(); k += 2)
    b.push_back(uint8_t(std::stoi(digits.substr(k, 2), nullptr, 16)));
  if (b.size() < 2) {
    *error = "'" + std::string(text) + "' is shorter than two bytes";
    return false;
  }
  // Bytes given: 0 .. L; the check byte at L + 1 is ours.
  if (size_t(b[1]) + 1 != b.size() || b[1] > 126) {
    *error = "'" + std::string(text) + "': byte 1 (L = " + std::to_string(b[1]) + ") needs " +
             std::to_string(size_t(b[1]) + 1) + " bytes before the check byte, " +
             std::to_string(b.size()) + " given";
    return false;
  }
  b.push_back(0);
  devlink::SetCheckByte(b.data());
  *out = std::move(b);
  return true;
}

}  // namespace armsim
