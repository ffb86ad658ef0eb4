// Default routes of the three interfaces: which route operations a decision
// calls for, in the order that never leaves the host without a default route,
// and carrying them out on the kernel's routing table one by one, checked.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/routes.h"

namespace netsup {

struct InterfaceConfig;
struct NetworkConfig;

struct RouteOp {
  enum class Kind {
    kReplaceDefault,  // the default route of `iface` via its gateway, with `metric`
    kDeleteDefault,   // every default route via the gateway of `iface`
    kRenewGsmSubnet,  // the GSM address's /24 via the GSM gateway, metric 5
  };
  Kind kind;
  int iface;  // 0..2
  std::string gateway;
  std::string net;  // kRenewGsmSubnet: the network address
  uint32_t metric = 1;

  friend bool operator==(const RouteOp&, const RouteOp&) = default;
};

struct RoutePlan {
  int chosen = -1;  // the interface to carry the default route
  std::vector<RouteOp> ops;
  // The gateways of the usable interfaces: default routes through any other
  // gateway are not the server's and are never replaced or deleted.
  std::vector<std::string> managedGateways;
  // Set when the chosen interface cannot carry a default route: nothing is
  // changed, and this says why.
  std::string refusal;
};

// The address the GSM keep-alive echo goes to: the gateway text with its last
// character replaced by "6" when it was "5", and by "5" otherwise.
std::string GsmPingTarget(const std::string& gateway);

// The /24 network of an address: everything after its last "." replaced by "0".
std::string SubnetOf(const std::string& address);

// The default route moved to interface `chosen` (0..2) among those `usable`
// (in use, or running): its route is added or replaced first, then the
// default routes of the other usable interfaces with a gateway are deleted,
// and last the GSM subnet route is renewed when GSM is usable. An interface
// without a valid gateway is never touched; when the chosen one is not
// usable or has no valid gateway the plan is empty with the refusal.
RoutePlan PlanDefaultRoute(int chosen, const NetworkConfig& config, std::array<bool, 3> usable);

// After an apply with interface management on: the first running interface
// with a valid gateway carries the default route. Empty when none runs; a
// refusal when none of those running has a gateway.
RoutePlan PlanAfterApply(const NetworkConfig& config, std::array<bool, 3> running);

// The equivalent "ip route" command, for the debug line.
std::string IpRouteText(const RouteOp& op);

// Carries the plan out in order; stops at the first operation the kernel
// refuses, or at a default route of the same metric that is not the
// server's, and returns false with the command and the reason in `error`.
// Every command is first shown through `debugLine`.
bool ExecuteRoutePlan(const RoutePlan& plan, platform::RouteTable& table,
                      const std::function<void(const std::string&)>& debugLine,
                      std::string* error);

// The route the host sends by now: the default route with the lowest metric.
struct DefaultRouteState {
  bool present = false;
  platform::Ipv4Route route;
  int iface = -1;  // 0..2 when it goes via the gateway of an interface in use
};
DefaultRouteState ActiveDefaultRoute(const std::vector<platform::Ipv4Route>& routes,
                                     const NetworkConfig& config);

}  // namespace netsup
