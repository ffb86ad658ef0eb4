// The device's test of blocked server answers per channel: a mask of its
// twelve channels to the monitoring servers (LAN, SIM 1 and SIM 2, each to
// server addresses 1..4), and the reset of its Ethernet controller.
#pragma once

#include <array>
#include <cstdint>

#include "maintenance/exchange.h"
#include "maintenance/telegram.h"

namespace maintenance {

// LAN: bit k is "LAN IP<k+1>". SIM: bits 0..3 "SIM1 IP1".."SIM1 IP4", bits
// 4..7 "SIM2 IP1".."SIM2 IP4".
struct ChannelMasks {
  uint8_t lan = 0;
  uint8_t sim = 0;
};

inline constexpr uint8_t kTestCode = 0x64;
inline constexpr uint8_t kLanMaskMax = 0x0F;

// The masks of the twelve tick boxes in their order: LAN IP1..IP4, SIM1
// IP1..IP4, SIM2 IP1..IP4; a ticked box sets its bit.
ChannelMasks MasksOf(const std::array<bool, 12>& ticked);

// 0xE9, 0x06, 0x55, 0x64, 0x01, LAN mask, SIM mask, check byte; sent encrypted.
Telegram ChannelCommand(ChannelMasks m);
// 0xEF, 0x03, 0x55, 0x00, check byte: the end of the test exchange, plain.
Telegram EndOfTest();
// 0xE9, 0x05, 0x55, 0x64, 0x05, 0x7B, check byte; sent encrypted.
Telegram EthernetResetCommand();

// The channel command, three tries of 15 s; on the device's answer its
// register is logged and the end of the test exchange sent. Sets GlAbort
// after three tries without an answer.
bool RunChannelTest(Exchange& x, ChannelMasks m);

// The Ethernet controller's reset, sent once; nothing is awaited or logged.
bool ResetEthernetController(Exchange& x);

}  // namespace maintenance
