// Arbitrary bytes as a device network settings file, as the answers of the
// settings exchanges, and as the texts of the network settings window's
// fields. Whatever a file or a device holds must show as fields that convert
// back to the same fields, or be refused with a field named.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include <unistd.h>

#include "maintenance/settings_blocks.h"
#include "maintenance/settings_fields.h"
#include "maintenance/settings_file.h"
#include "maintenance/settings_telegrams.h"

namespace {

using namespace maintenance;

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

// Fields made from bytes either convert back to themselves or name a field.
template <class Settings>
void RoundTrip(const Settings& s) {
  const auto fields = ToFields(s);
  Settings back = s;
  const auto error = FromFields(fields, back);
  if (error) {
    Require(FindField(error->control) != nullptr && !error->message.empty());
    Require(back == s);
  } else {
    Require(ToFields(back) == fields);
  }
}

void NetworkBlockSeen(const NetworkBlock& b) {
  const NetworkSettings s = DecodeNetworkSettings(b);
  RoundTrip(s);
  NetworkBlock again = b;
  EncodeNetworkSettings(s, again);
  Require(again == b);
}

// What the key filters let through stays within the field's limits.
void TypedWithinLimits(FieldKind kind, const std::string& t) {
  auto count = [&](char c) { return std::count(t.begin(), t.end(), c); };
  switch (kind) {
    case FieldKind::kAddress: Require(count('.') <= 3); break;
    case FieldKind::kPort: Require(t.size() <= 5 && (t.size() < 5 || t <= "65535")); break;
    case FieldKind::kMac: Require(count(':') <= 5); break;
    case FieldKind::kConsoleNumber: Require(count('/') <= 2); break;
    case FieldKind::kText24: Require(t.size() <= 24 && count(' ') == 0); break;
    case FieldKind::kText10: Require(t.size() <= 10 && count(' ') == 0); break;
    case FieldKind::kPhone: Require(t.size() <= 10); break;
    case FieldKind::kTimeRegion: Require(t.size() <= 2); break;
  }
}

// The input's lines as the field texts, in the window's order, each also
// typed key by key into its field's filter.
void FieldTexts(std::string_view text) {
  NetworkFields net;
  SmsFields sms;
  NtpFields ntp;
  for (const FieldInfo& info : NetworkWindowFields()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::string typed;
    for (char c : line)
      if (uint8_t(c) < 0x80 && c != '\b' && FieldKey(info.kind, typed, char32_t(c)).accepted)
        typed += c;
    TypedWithinLimits(info.kind, typed);
    for (std::string* t : {TextOf(net, info.control), TextOf(sms, info.control),
                           TextOf(ntp, info.control)})
      if (t) *t = line;
  }
  NetworkSettings ns;
  if (!FromFields(net, ns)) RoundTrip(ns);
  SmsSettings ss;
  if (!FromFields(sms, ss)) RoundTrip(ss);
  NtpSettings ts;
  if (!FromFields(ntp, ts)) RoundTrip(ts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);

  // A settings file.
  NetworkBlock block{};
  block.fill(0x5A);
  if (LoadSettingsImage(input, block) == DatLoad::kLoaded) {
    Require(block[net::kMac] == 0x5A);
    NetworkBlockSeen(block);
  }
  static const std::string path = "/tmp/fuzz_settings_dat_" + std::to_string(::getpid()) + ".dat";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    NetworkBlock fromFile{};
    std::string error;
    const DatLoad r = ReadSettingsFile(path, fromFile, &error);
    Require((r == DatLoad::kLoaded) == (size >= kNetworkBlockSize));
    std::remove(path.c_str());
  }

  // An answer, as handed over and as its first bytes only.
  std::array<uint8_t, 128> buf{};
  std::copy_n(data, std::min(size, buf.size()), buf.begin());
  for (std::span<const uint8_t> answer : {std::span<const uint8_t>(buf), input}) {
    NetworkBlock n{};
    if (CheckNetworkReadAnswer(answer, &n) == AnswerCheck::kAccepted) NetworkBlockSeen(n);
    SmsBlock s{};
    if (CheckSmsReadAnswer(answer, &s) == AnswerCheck::kAccepted) RoundTrip(DecodeSmsSettings(s));
    NtpBlock t{};
    if (CheckNtpReadAnswer(answer, &t) == AnswerCheck::kAccepted) RoundTrip(DecodeNtpSettings(t));
    CheckNetworkWriteAnswer(answer);
    CheckSmsWriteAnswer(answer);
    CheckNtpWriteAnswer(answer);
    SmsVersionsSupported(answer);
  }

  FieldTexts(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
