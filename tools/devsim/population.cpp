#include "tools/devsim/population.h"

#include <charconv>

namespace devsim {
namespace {

uint64_t SplitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

bool NumberPlus(ConsoleNumber first, uint32_t k, ConsoleNumber* out) {
  const uint64_t v = (uint64_t(first.n1) << 16 | uint64_t(first.n2) << 8 | first.n3) + k;
  if (v > 0xFFFFFF) return false;
  *out = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  return true;
}

std::string CheckPopulation(const Population& p) {
  if (p.devices == 0) return "--devices must be at least 1";
  if (p.devices > kMaxDevices) return "--devices must be at most 65534";
  if (p.sockets == 0) return "--sockets must be at least 1";
  ConsoleNumber last;
  if (!NumberPlus(p.first, p.devices - 1, &last))
    return "the device numbers run past 255/255/255: lower --devices or --first";
  if (p.spread) {
    if (uint64_t(p.source) + p.devices - 1 >= 0xFFFFFFFFull)
      return "the device addresses run past 255.255.255.254: lower --source";
    if ((p.source >> 24) == 127 && ((uint64_t(p.source) + p.devices - 1) >> 24) != 127)
      return "the device addresses leave 127.0.0.0/8: lower --source or --devices";
  } else if (p.sockets < p.devices) {
    return "--no-spread gives each device a socket of its own: --sockets must be at least --devices";
  }
  if (p.port != 0 && uint32_t(p.port) + p.sockets - 1 > 65535)
    return "--port leaves no room for the sockets' ports below 65536";
  return {};
}

DevicePlan PlanDevice(const Population& p, uint32_t k) {
  DevicePlan d;
  NumberPlus(p.first, k, &d.number);
  const uint64_t h1 = SplitMix64(p.seed ^ (uint64_t(k) << 20) ^ 0xD5A1u);
  const uint64_t h2 = SplitMix64(h1);
  for (int b = 0; b < 4; ++b) d.seed[b] = uint8_t(h1 >> (8 * b));
  for (int b = 0; b < 4; ++b) d.devBytes[b] = uint8_t(h1 >> (32 + 8 * b));
  d.devBytes[4] = uint8_t(h2);
  d.devBytes[5] = uint8_t(h2 >> 8);
  if (p.identity) {
    d.identity = *p.identity;
  } else {
    d.identity = {uint8_t(h2 >> 16), uint8_t(h2 >> 24)};
  }
  d.address = p.spread ? p.source + k : p.source;
  d.socket = k % p.sockets;
  d.port = p.port == 0 ? 0 : uint16_t(p.port + d.socket);
  return d;
}

std::string Ipv4Text(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

bool ParseIpv4(std::string_view text, uint32_t* out) {
  uint32_t v = 0;
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (p == end || *p != '.') return false;
      ++p;
    }
    if (p == end || *p < '0' || *p > '9') return false;
    unsigned octet = 0;
    auto [q, ec] = std::from_chars(p, end, octet);
    if (ec != std::errc() || octet > 255 || q - p > 3) return false;
    v = (v << 8) | octet;
    p = q;
  }
  if (p != end) return false;
  *out = v;
  return true;
}

}  // namespace devsim
