// Registry files for the simulator: writing the records the server would hold
// for a freshly registered population, and loading devices back from a
// server's registry (array of 3166-byte client records).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "devlink/client_record.h"
#include "tools/devsim/device_codec.h"
#include "tools/devsim/population.h"

namespace devsim {

// A device as the server's registry knows it.
struct DeviceInit {
  uint16_t index = 0;
  ConsoleNumber number;
  std::array<uint8_t, 2> identity{};
  Key10 keyMaterial{};
  uint32_t send = 0;  // the record's C_iResiv
  uint32_t recv = 0;  // the record's C_iTransm
  uint8_t lastHbSeq = 0;
  uint8_t lastEventSeq = 0;
};

// The record a registration of the planned device leaves on the server: key
// by the same derivation, both chaining values = first 4 key bytes, in use,
// link state 2, peer address and port of the device, interface 0.
devlink::ClientRecord MakeRegisteredRecord(const DevicePlan& plan, const Key10& base,
                                           uint8_t linkState = 2);

// Writes record k = device k for the whole population to a temporary file
// beside `path` and renames it over `path` once complete.
bool WriteRegistry(const std::string& path, const Population& p, const Key10& base,
                   std::string* error, uint8_t linkState = 2);

// Loads every in-use record, in index order; at most 65535 records are read
// and a trailing partial record is ignored.
bool LoadRegistry(const std::string& path, std::vector<DeviceInit>* out, std::string* error);

}  // namespace devsim
