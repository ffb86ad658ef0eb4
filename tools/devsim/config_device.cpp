#include "tools/devsim/config_device.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>

#include "configurator/frame.h"
#include "devlink/crc8.h"
#include "platform/cp1251.h"

namespace devsim {

namespace {

constexpr size_t kHeaderLength = 100;  // as the configurator writes it

// The header a configurator writes for variant 250: length, variant, 1, the name.
std::vector<uint8_t> DefaultHeader() {
  std::vector<uint8_t> h(kHeaderLength, 0);
  h[0] = uint8_t(kHeaderLength);
  h[1] = 250;
  h[2] = 1;
  const std::string name = platform::Utf8ToCp1251("Ворда-Ф");
  std::copy(name.begin(), name.end(), h.begin() + 3);
  return h;
}

// Image bytes a file of the variant holds; 0 for a variant the files do not know.
size_t ImageBytes(uint8_t variant) {
  switch (variant) {
    case 250:
    case 252: return 256;
    case 251: return 2048;
    default: return 0;
  }
}

// The frame with another sequence byte and its check byte made anew.
void Restamp(std::vector<uint8_t>* f, uint8_t seq) {
  (*f)[4] = seq;
  f->back() = devlink::Crc8Bytes(f->data(), f->size() - 1);
}

std::string Hex6(uint32_t v) {
  static const char* d = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 20; shift >= 0; shift -= 4) s += d[(v >> shift) & 15];
  return s;
}

// Reads a .dat file into the header and the image; the reason it cannot, or
// empty. Nothing is taken from a file that cannot be used.
std::string LoadDat(const std::string& file, std::vector<uint8_t>* header,
                    std::array<uint8_t, ConfigDevice::kImageSize>* image) {
  std::ifstream f(file, std::ios::binary);
  if (!f) return "cannot be read";
  const std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (b.size() < 2) return "too short for a header";
  const size_t h = b[0];
  if (h < 2 || h > 200) return "header length " + std::to_string(h) + " outside 2..200";
  const size_t n = ImageBytes(b[1]);
  if (n == 0) return "unknown variant " + std::to_string(b[1]);
  if (b.size() < h + n)
    return "holds " + std::to_string(b.size()) + " bytes, variant " + std::to_string(b[1]) + " needs " +
           std::to_string(h + n);
  header->assign(b.begin(), b.begin() + ptrdiff_t(h));
  std::copy_n(b.begin() + ptrdiff_t(h), n, image->begin());
  return {};
}

}  // namespace

bool ParseConfigFault(std::string_view text, ConfigFaults* f) {
  if (text == "join") {
    f->join = true;
    return true;
  }
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view name = text.substr(0, colon);
  std::string_view value = text.substr(colon + 1);
  const auto number = [](std::string_view t, uint32_t* out) {
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), *out);
    return !t.empty() && ec == std::errc() && p == t.data() + t.size() && *out != 0;
  };
  // "split:MS:K": every K-th answer split; "split:MS": every answer.
  uint32_t every = 1;
  if (const size_t second = value.find(':'); name == "split" && second != std::string_view::npos) {
    if (!number(value.substr(second + 1), &every)) return false;
    value = value.substr(0, second);
  }
  uint32_t v = 0;
  if (!number(value, &v)) return false;
  if (name == "drop") {
    f->dropEvery = v;
  } else if (name == "late") {
    f->lateMs = v;
  } else if (name == "stale") {
    f->staleEvery = v;
  } else if (name == "split") {
    f->splitGapMs = v;
    f->splitEvery = every;
  } else if (name == "badcrc") {
    f->badCrcEvery = v;
  } else {
    return false;
  }
  return true;
}

ConfigDevice::ConfigDevice(ConfigProfile p, std::string* error) : p_(std::move(p)), header_(DefaultHeader()) {
  if (p_.seedFile.empty()) return;
  if (const std::string why = LoadDat(p_.seedFile, &header_, &image_); !why.empty() && error)
    *error = p_.seedFile + ": " + why;
}

bool ConfigDevice::IsFrame(const uint8_t* t) {
  return t[0] == 0xFE && t[1] >= 7 && t[2] == 0x01 && t[3] == 0x7F && t[5] == 0x00;
}

std::vector<uint8_t> ConfigDevice::Handle(const uint8_t* frame, int64_t nowMs, std::string* note) {
  std::vector<uint8_t> answer = Answer(frame, note);
  if (answer.empty()) return {};
  return Faulted(std::move(answer), frame[4], nowMs, note);
}

std::vector<uint8_t> ConfigDevice::Answer(const uint8_t* f, std::string* note) {
  using namespace configurator;
  const uint8_t seq = f[4];
  const uint8_t* d = f + kFrameHeader;
  const size_t n = size_t(f[1]) - 6;  // data bytes 7..L
  const uint32_t address = n >= 3 ? uint32_t(d[0] | d[1] << 8 | d[2] << 16) : 0;
  switch (f[6]) {
    case kIdentify: {
      const uint8_t variant = p_.identifyVariant >= 0 ? uint8_t(p_.identifyVariant) : Variant();
      *note = "configurator: identify, variant " + std::to_string(variant);
      const uint8_t a[] = {variant, p_.version};
      return BuildFrame(seq, kIdentifyReply, a);
    }
    case kProgrammingStart:
      *note = "configurator: programming start";
      return BuildFrame(seq, kProgrammingStart, std::span<const uint8_t>(d, n));
    case kReadBlock: {
      if (n < 4) break;
      std::vector<uint8_t> bytes(std::min<size_t>(d[3], kBlockSize), 0);
      for (size_t k = 0; k < bytes.size() && address + k < kImageSize; ++k) bytes[k] = image_[address + k];
      *note = "configurator: read " + std::to_string(bytes.size()) + " bytes at " + Hex6(address);
      return BuildFrame(seq, kReadBlockReply, bytes);
    }
    case kWriteBlock: {
      if (n < 3) break;
      for (size_t k = 3; k < n && address + k - 3 < kImageSize; ++k) image_[address + k - 3] = d[k];
      *note = "configurator: wrote " + std::to_string(n - 3) + " bytes at " + Hex6(address);
      return BuildFrame(seq, kWriteBlockReply, std::span<const uint8_t>(d, 3));
    }
    case kKeyPoll:
      if (polls_ < p_.keyAfter) {
        ++polls_;
        *note = "configurator: key poll, no key";
        const uint8_t none[] = {0};
        return BuildFrame(seq, kKeyPollReply, none);
      }
      polls_ = 0;  // the next polling finds the reader empty again first
      *note = "configurator: key poll, key presented";
      return BuildFrame(seq, kKeyPollReply, p_.key);
    case kProgrammingEnd:
      *note = "configurator: programming end";
      return {};
    default:
      *note = "configurator: command " + std::to_string(f[6]) + " not played";
      return {};
  }
  *note = "configurator: command " + std::to_string(f[6]) + " too short, not answered";
  return {};
}

std::vector<uint8_t> ConfigDevice::Faulted(std::vector<uint8_t> answer, uint8_t seq, int64_t nowMs,
                                           std::string* note) {
  const ConfigFaults& x = p_.faults;
  const uint32_t k = ++counts_.answers;
  auto every = [k](uint32_t e) { return e != 0 && k % e == 0; };
  std::vector<uint8_t> previous = std::move(previous_);
  previous_ = answer;
  if (every(x.dropEvery)) {
    ++counts_.dropped;
    *note += "; fault: answer dropped";
    return {};
  }
  if (every(x.staleEvery)) {
    Restamp(&answer, uint8_t(seq - 1));
    ++counts_.stale;
    *note += "; fault: stale sequence byte";
  }
  if (every(x.badCrcEvery)) {
    answer.back() ^= 0x5A;
    ++counts_.badCrc;
    *note += "; fault: bad check byte";
  }
  std::vector<uint8_t> out;
  if (x.join && !previous.empty()) {
    Restamp(&previous, uint8_t(seq - 1));
    out = std::move(previous);
    ++counts_.joined;
    *note += "; fault: joined behind a stale copy of the previous answer";
  }
  out.insert(out.end(), answer.begin(), answer.end());
  int64_t at = nowMs;
  if (x.lateMs > 0) {
    at += x.lateMs;
    ++counts_.late;
    *note += "; fault: late by " + std::to_string(x.lateMs) + " ms";
  }
  if (x.splitGapMs > 0 && every(x.splitEvery)) {
    const size_t half = out.size() / 2;
    later_.push_back({at + x.splitGapMs, std::vector<uint8_t>(out.begin() + half, out.end()),
                      "configurator: second part of a split answer"});
    out.resize(half);
    ++counts_.split;
    *note += "; fault: split, second part " + std::to_string(x.splitGapMs) + " ms later";
  }
  if (at == nowMs) return out;
  later_.push_back({at, std::move(out), "configurator: late answer"});
  return {};
}

std::vector<uint8_t> ConfigDevice::FileBytes() const {
  std::vector<uint8_t> b = header_;
  const size_t n = ImageBytes(Variant());
  b.insert(b.end(), image_.begin(), image_.begin() + n);
  return b;
}

bool ConfigDevice::Dump(const devlink::ConsoleNumber& n, std::string* note) const {
  if (p_.outFile.empty()) return true;
  std::string name = p_.outFile;
  if (const size_t at = name.find("{n}"); at != std::string::npos)
    name.replace(at, 3, std::to_string(n.n1) + "-" + std::to_string(n.n2) + "-" + std::to_string(n.n3));
  const std::vector<uint8_t> b = FileBytes();
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  f.close();
  if (!f) {
    *note = "configuration image not written to " + name;
    return false;
  }
  *note = "configuration image written to " + name;
  return true;
}

}  // namespace devsim
