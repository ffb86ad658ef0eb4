// The kernel's IPv4 routing table (main table), as the network supervision
// changes it: whole routes added, replaced and deleted one by one, each
// acknowledged by the kernel. The Linux implementation speaks rtnetlink;
// tests of the core use a fake.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct Ipv4Route {
  std::string destination = "0.0.0.0";  // dotted network address
  int prefix = 0;                       // 0 for the default route
  std::string gateway;                  // dotted; empty for an on-link route
  std::string device;                   // interface name; empty lets the kernel choose by gateway
  uint32_t metric = 0;

  friend bool operator==(const Ipv4Route&, const Ipv4Route&) = default;
};

class RouteTable {
 public:
  virtual ~RouteTable() = default;
  // Adds the route, or replaces the one with the same destination, prefix
  // and metric. False with the kernel's reason when it was refused.
  virtual bool Replace(const Ipv4Route& route, std::string* error) = 0;
  // Deletes exactly this route (destination, prefix, gateway, metric).
  virtual bool Delete(const Ipv4Route& route, std::string* error) = 0;
  // Every IPv4 unicast route of the main table.
  virtual bool List(std::vector<Ipv4Route>* routes, std::string* error) = 0;
};

// The routing table of the network namespace the calling thread is in when
// each call is made.
class NetlinkRouteTable final : public RouteTable {
 public:
  bool Replace(const Ipv4Route& route, std::string* error) override;
  bool Delete(const Ipv4Route& route, std::string* error) override;
  bool List(std::vector<Ipv4Route>* routes, std::string* error) override;
};

}  // namespace platform
