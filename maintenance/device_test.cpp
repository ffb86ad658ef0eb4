#include "maintenance/device_test.h"

#include "console/line_format.h"

namespace maintenance {

namespace {

constexpr int kTries = 3;
constexpr int kTimeoutMs = 15000;
constexpr uint8_t kChannelMask = 0x01;  // sub-command: the channel masks
constexpr uint8_t kEthReset = 0x05;     // sub-command: reset the Ethernet controller

// The device's answer to the channel command; its byte 5 must belong to it.
bool ChannelAnswer(const std::array<uint8_t, 128>& a) {
  return ValidAnswer(a) && a[3] == kTestCode && a[1] >= 5 && a[4] == kChannelMask;
}

}  // namespace

ChannelMasks MasksOf(const std::array<bool, 12>& ticked) {
  ChannelMasks m;
  for (int k = 0; k < 4; ++k)
    if (ticked[size_t(k)]) m.lan |= uint8_t(1u << k);
  for (int k = 0; k < 8; ++k)
    if (ticked[size_t(4 + k)]) m.sim |= uint8_t(1u << k);
  return m;
}

Telegram ChannelCommand(ChannelMasks m) {
  const uint8_t data[] = {kChannelMask, m.lan, m.sim};
  return BuildTelegram(kEncrypted, kTestCode, data, sizeof data);
}

Telegram EndOfTest() { return BuildTelegram(kPlain, 0x00, nullptr, 0); }

Telegram EthernetResetCommand() {
  const uint8_t data[] = {kEthReset, 0x7B};
  return BuildTelegram(kEncrypted, kTestCode, data, sizeof data);
}

bool RunChannelTest(Exchange& x, ChannelMasks m) {
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    x.Log(console::Format("Отправить->\",HEX Регистр:->%X", unsigned(m.lan)));
    const bool answered = x.Request(ChannelCommand(m), true, kTestCode, kTimeoutMs);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log("Нет ответа на ком.(Тест)\"Блок. ответа Сервера по каналам.\"");
      continue;
    }
    const auto a = x.Answer();
    if (!ChannelAnswer(a)) continue;
    x.Log(console::Format("OK \"Блок.<-\",HEX Регистр:->%X", unsigned(a[5])));
    x.Request(EndOfTest(), false, 0, 0);
    return true;
  }
  x.Log("Обрыв связи с прибором");
  x.Log("Процедура прервана, попробуйте вновь.");
  x.SetAbort();
  return false;
}

bool ResetEthernetController(Exchange& x) {
  x.Request(EthernetResetCommand(), true, 0, 0);
  return true;
}

}  // namespace maintenance
