// The three settings blocks a device keeps and the server reads and writes:
// the 110-byte network block, the 24-byte SMS block and the 51-byte NTP and
// balance block. Each lives in memory as a whole maintenance telegram (header,
// L, 0x55, code, data, check byte), so a read answer is kept unchanged and a
// write request goes out from the same bytes. The records here are the data
// bytes 4 .. L of each block; numbers are little-endian, an address a.b.c.d is
// stored a first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace maintenance {

inline constexpr size_t kNetworkBlockSize = 110;
inline constexpr size_t kSmsBlockSize = 24;
inline constexpr size_t kNtpBlockSize = 51;

using NetworkBlock = std::array<uint8_t, kNetworkBlockSize>;
using SmsBlock = std::array<uint8_t, kSmsBlockSize>;
using NtpBlock = std::array<uint8_t, kNtpBlockSize>;

using Ipv4 = std::array<uint8_t, 4>;
using MacAddress = std::array<uint8_t, 6>;
using ApnText = std::array<uint8_t, 24>;        // zero-filled, or 24 spaces when empty
using BalanceText = std::array<uint8_t, 10>;    // zero-filled
using PhoneDigits = std::array<uint8_t, 5>;     // ten digits, the first in the high half

// Byte offsets in the network block.
namespace net {
inline constexpr size_t kDeviceIp = 4, kSubnetMask = 8, kGateway = 12, kPrimaryDns = 16,
                        kSecondaryDns = 20, kServer1Ip = 24, kServer2Ip = 28, kServer3Ip = 32,
                        kServer4Ip = 36, kFlagsA = 40, kMac = 41, kDevicePort = 47,
                        kServer1Port = 49, kServer2Port = 51, kServer3Port = 53,
                        kServer4Port = 55, kConsoleNumber = 57, kApn1 = 60, kApn2 = 84,
                        kFlagsB = 108, kCheck = 109;
}  // namespace net

// Flags A (byte 40). Bit 1 is never set by this system.
inline constexpr uint8_t kDhcpOn = 0x01;         // CheckBox1
inline constexpr uint8_t kWebAndPingOn = 0x04;   // CheckBox2
inline constexpr uint8_t kServer1On = 0x08;      // CheckEnServ1
inline constexpr uint8_t kProgrammingOn = 0x10;  // CheckBox3
inline constexpr uint8_t kSim1On = 0x20;         // CheckBox6
inline constexpr uint8_t kSim1ApnGiven = 0x40;   // CheckBox7
inline constexpr uint8_t kServer2On = 0x80;      // CheckEnServ2

// Flags B (byte 108). Bit 7 is never set by this system.
inline constexpr uint8_t kSim2On = 0x01;          // CheckEnGsmGprs2
inline constexpr uint8_t kSim2ApnGiven = 0x02;    // CheckEnIpn2
inline constexpr uint8_t kServer3On = 0x04;       // CheckEnServ3, server 1(3)
inline constexpr uint8_t kSecondStation = 0x08;   // PCN_2 "ПЦН - 2"
inline constexpr uint8_t kServer4On = 0x10;       // CheckEnServ4, server 2(4)
inline constexpr uint8_t kSim1Priority = 0x20;    // CheckBoxPriorSIM1
inline constexpr uint8_t kMonthlyBalance = 0x40;  // CheckBoxBalMon

struct NetworkSettings {
  Ipv4 deviceIp{}, subnetMask{}, gateway{}, primaryDns{}, secondaryDns{};
  Ipv4 server1Ip{}, server2Ip{}, server3Ip{}, server4Ip{};  // servers 1, 2, 1(3), 2(4)
  uint8_t flagsA = 0;
  MacAddress mac{};
  uint16_t devicePort = 0;
  uint16_t server1Port = 0, server2Port = 0, server3Port = 0, server4Port = 0;
  std::array<uint8_t, 3> consoleNumber{};  // N1, N2, N3
  ApnText apn1{}, apn2{};
  uint8_t flagsB = 0;

  bool operator==(const NetworkSettings&) const = default;
};

// SMS options (byte 4).
inline constexpr uint8_t kSmsSound = 0x01;              // CheckSMSzvukPriem
inline constexpr uint8_t kSmsTime = 0x02;               // CheckSMSTimePriem
inline constexpr uint8_t kSmsAutonomous = 0x04;         // CheckSMSOnly
inline constexpr uint8_t kSmsArmingAfterAlarms = 0x08;  // CheckPrznVzSn

// What one telephone is sent (its flag byte).
inline constexpr uint8_t kSmsAlarms = 0x01;  // "Тр."
inline constexpr uint8_t kSmsArming = 0x02;  // "Вз/Сн."
inline constexpr uint8_t kSmsOther = 0x04;   // "Проч."

struct SmsPhone {
  uint8_t flags = 0;
  PhoneDigits digits{};
  bool operator==(const SmsPhone&) const = default;
};

struct SmsSettings {
  uint8_t options = 0;
  std::array<SmsPhone, 3> phones{};
  bool operator==(const SmsSettings&) const = default;
};

// Which balance request strings are given (byte 29 of the NTP block).
inline constexpr uint8_t kBalance1Given = 0x01;  // CheckBox5
inline constexpr uint8_t kBalance2Given = 0x02;  // CheckBox8

struct NtpSettings {
  uint8_t timeRegion = 0;
  ApnText ntpServer{};  // domain name, zero-filled
  uint8_t balanceFlags = 0;
  BalanceText balance1{}, balance2{};
  bool operator==(const NtpSettings&) const = default;
};

// Data bytes of a block to its record and back; the header bytes 0..3 and
// the check byte are neither read nor written.
NetworkSettings DecodeNetworkSettings(const NetworkBlock& block);
void EncodeNetworkSettings(const NetworkSettings& s, NetworkBlock& block);
SmsSettings DecodeSmsSettings(const SmsBlock& block);
void EncodeSmsSettings(const SmsSettings& s, SmsBlock& block);
NtpSettings DecodeNtpSettings(const NtpBlock& block);
void EncodeNtpSettings(const NtpSettings& s, NtpBlock& block);

}  // namespace maintenance
