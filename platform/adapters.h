// The host's network adapters and their IPv4 addresses, for the address boxes
// of tab "Настройки".
#pragma once

#include <string>
#include <vector>

namespace platform {

struct AdapterAddress {
  std::string adapter;  // interface name
  std::string address;  // dotted IPv4
  // The adapter's first gateway in the kernel's routing table, or the
  // address itself when the adapter has none.
  std::string gateway;
};

// Every IPv4 address of every adapter that is up, loopback included, in the
// system's order. False with the reason when the system cannot be asked.
bool ListAdapters(std::vector<AdapterAddress>* out, std::string* error);

}  // namespace platform
