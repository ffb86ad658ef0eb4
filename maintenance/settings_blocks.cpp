#include "maintenance/settings_blocks.h"

#include <algorithm>

namespace maintenance {

namespace {

template <size_t N, size_t M>
void Get(const std::array<uint8_t, M>& block, size_t at, std::array<uint8_t, N>& out) {
  std::copy_n(block.begin() + at, N, out.begin());
}

template <size_t N, size_t M>
void Put(const std::array<uint8_t, N>& in, std::array<uint8_t, M>& block, size_t at) {
  std::copy_n(in.begin(), N, block.begin() + at);
}

uint16_t GetU16(const NetworkBlock& b, size_t at) { return uint16_t(b[at] | (b[at + 1] << 8)); }

void PutU16(uint16_t v, NetworkBlock& b, size_t at) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}

// SMS block: options, then per telephone its flags and five digit bytes.
constexpr size_t kSmsOptions = 4;
constexpr size_t kSmsPhone = 5;
constexpr size_t kSmsPhoneStride = 6;

// NTP block.
constexpr size_t kNtpRegion = 4, kNtpServer = 5, kNtpFlags = 29, kNtpBalance1 = 30,
                 kNtpBalance2 = 40;

}  // namespace

NetworkSettings DecodeNetworkSettings(const NetworkBlock& b) {
  NetworkSettings s;
  Get(b, net::kDeviceIp, s.deviceIp);
  Get(b, net::kSubnetMask, s.subnetMask);
  Get(b, net::kGateway, s.gateway);
  Get(b, net::kPrimaryDns, s.primaryDns);
  Get(b, net::kSecondaryDns, s.secondaryDns);
  Get(b, net::kServer1Ip, s.server1Ip);
  Get(b, net::kServer2Ip, s.server2Ip);
  Get(b, net::kServer3Ip, s.server3Ip);
  Get(b, net::kServer4Ip, s.server4Ip);
  s.flagsA = b[net::kFlagsA];
  Get(b, net::kMac, s.mac);
  s.devicePort = GetU16(b, net::kDevicePort);
  s.server1Port = GetU16(b, net::kServer1Port);
  s.server2Port = GetU16(b, net::kServer2Port);
  s.server3Port = GetU16(b, net::kServer3Port);
  s.server4Port = GetU16(b, net::kServer4Port);
  Get(b, net::kConsoleNumber, s.consoleNumber);
  Get(b, net::kApn1, s.apn1);
  Get(b, net::kApn2, s.apn2);
  s.flagsB = b[net::kFlagsB];
  return s;
}

void EncodeNetworkSettings(const NetworkSettings& s, NetworkBlock& b) {
  Put(s.deviceIp, b, net::kDeviceIp);
  Put(s.subnetMask, b, net::kSubnetMask);
  Put(s.gateway, b, net::kGateway);
  Put(s.primaryDns, b, net::kPrimaryDns);
  Put(s.secondaryDns, b, net::kSecondaryDns);
  Put(s.server1Ip, b, net::kServer1Ip);
  Put(s.server2Ip, b, net::kServer2Ip);
  Put(s.server3Ip, b, net::kServer3Ip);
  Put(s.server4Ip, b, net::kServer4Ip);
  b[net::kFlagsA] = s.flagsA;
  Put(s.mac, b, net::kMac);
  PutU16(s.devicePort, b, net::kDevicePort);
  PutU16(s.server1Port, b, net::kServer1Port);
  PutU16(s.server2Port, b, net::kServer2Port);
  PutU16(s.server3Port, b, net::kServer3Port);
  PutU16(s.server4Port, b, net::kServer4Port);
  Put(s.consoleNumber, b, net::kConsoleNumber);
  Put(s.apn1, b, net::kApn1);
  Put(s.apn2, b, net::kApn2);
  b[net::kFlagsB] = s.flagsB;
}

SmsSettings DecodeSmsSettings(const SmsBlock& b) {
  SmsSettings s;
  s.options = b[kSmsOptions];
  for (size_t k = 0; k < s.phones.size(); ++k) {
    const size_t at = kSmsPhone + k * kSmsPhoneStride;
    s.phones[k].flags = b[at];
    Get(b, at + 1, s.phones[k].digits);
  }
  return s;
}

void EncodeSmsSettings(const SmsSettings& s, SmsBlock& b) {
  b[kSmsOptions] = s.options;
  for (size_t k = 0; k < s.phones.size(); ++k) {
    const size_t at = kSmsPhone + k * kSmsPhoneStride;
    b[at] = s.phones[k].flags;
    Put(s.phones[k].digits, b, at + 1);
  }
}

NtpSettings DecodeNtpSettings(const NtpBlock& b) {
  NtpSettings s;
  s.timeRegion = b[kNtpRegion];
  Get(b, kNtpServer, s.ntpServer);
  s.balanceFlags = b[kNtpFlags];
  Get(b, kNtpBalance1, s.balance1);
  Get(b, kNtpBalance2, s.balance2);
  return s;
}

void EncodeNtpSettings(const NtpSettings& s, NtpBlock& b) {
  b[kNtpRegion] = s.timeRegion;
  Put(s.ntpServer, b, kNtpServer);
  b[kNtpFlags] = s.balanceFlags;
  Put(s.balance1, b, kNtpBalance1);
  Put(s.balance2, b, kNtpBalance2);
}

}  // namespace maintenance
