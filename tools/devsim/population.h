// The simulated population: which number, identity, key inputs, source
// address, port and socket device k gets. Deterministic from the device's
// position and the run's seed, so runs and registry files are reproducible.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devlink/client_record.h"

namespace devsim {

using devlink::ConsoleNumber;

inline constexpr uint32_t kDefaultSource = 0x7F010001;  // 127.1.0.1
inline constexpr uint32_t kMaxDevices = 65534;

struct Population {
  uint32_t devices = 1;
  ConsoleNumber first{1, 0, 1};
  uint64_t seed = 1;
  std::optional<std::array<uint8_t, 2>> identity;  // forced identity for every device
  uint32_t source = kDefaultSource;                // first device address, host order
  bool spread = true;                              // device k sends from source + k
  uint16_t port = 0;                               // first local port, 0 = ephemeral
  uint32_t sockets = 1;                            // device k uses socket k mod sockets
};

struct DevicePlan {
  ConsoleNumber number;
  std::array<uint8_t, 2> identity{};
  std::array<uint8_t, 4> seed{};
  std::array<uint8_t, 6> devBytes{};
  uint32_t address = 0;  // source address, host order
  uint16_t port = 0;     // local port, 0 when ephemeral
  uint32_t socket = 0;   // socket slot 0 .. sockets - 1
};

// Empty when the population can be planned, else the reason in one line.
std::string CheckPopulation(const Population& p);

// Number `first` + k, counting up in N3, then N2, then N1. False past 255/255/255.
bool NumberPlus(ConsoleNumber first, uint32_t k, ConsoleNumber* out);

// The plan of device k; the population must have passed CheckPopulation.
DevicePlan PlanDevice(const Population& p, uint32_t k);

std::string Ipv4Text(uint32_t hostOrder);
bool ParseIpv4(std::string_view text, uint32_t* hostOrder);
using devlink::NumberText;

}  // namespace devsim
