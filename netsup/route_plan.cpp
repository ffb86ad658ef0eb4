#include "netsup/route_plan.h"

#include <algorithm>

#include "netsup/apply_network.h"
#include "platform/ipv4_text.h"

namespace netsup {

namespace {

// A gateway the kernel can route through: a dotted address, not 0.0.0.0.
bool ValidGateway(const std::string& gateway) {
  uint32_t a = 0;
  return platform::ParseDottedIPv4(gateway, a) && a != 0;
}

platform::Ipv4Route DefaultVia(const std::string& gateway, uint32_t metric) {
  platform::Ipv4Route r;
  r.gateway = gateway;
  r.metric = metric;
  return r;
}

bool IsDefault(const platform::Ipv4Route& r) {
  return r.prefix == 0 && r.destination == "0.0.0.0";
}

}  // namespace

std::string GsmPingTarget(const std::string& gateway) {
  if (gateway.empty()) return gateway;
  std::string target = gateway;
  target.back() = target.back() == '5' ? '6' : '5';
  return target;
}

std::string SubnetOf(const std::string& address) {
  const size_t dot = address.rfind('.');
  if (dot == std::string::npos) return address;
  return address.substr(0, dot + 1) + "0";
}

RoutePlan PlanDefaultRoute(int chosen, const NetworkConfig& config, std::array<bool, 3> usable) {
  RoutePlan plan;
  plan.chosen = chosen;
  const InterfaceConfig& c = config.iface[chosen];
  const std::string name = "интерфейс " + std::to_string(chosen + 1);
  if (!usable[chosen]) {
    plan.refusal = name + " не используется";
    return plan;
  }
  if (!ValidGateway(c.gateway)) {
    plan.refusal = "у интерфейса " + std::to_string(chosen + 1) + " нет действующего шлюза (\"" +
                   c.gateway + "\")";
    return plan;
  }
  for (int k = 0; k < 3; ++k)
    if (usable[k] && ValidGateway(config.iface[k].gateway))
      plan.managedGateways.push_back(config.iface[k].gateway);
  plan.ops.push_back({RouteOp::Kind::kReplaceDefault, chosen, c.gateway, "", 1});
  for (int k = 0; k < 3; ++k) {
    const InterfaceConfig& other = config.iface[k];
    if (k == chosen || !usable[k] || !ValidGateway(other.gateway) || other.gateway == c.gateway)
      continue;
    plan.ops.push_back({RouteOp::Kind::kDeleteDefault, k, other.gateway, "", 0});
  }
  // Last: a GSM link that is down must not keep the default route where it was.
  const InterfaceConfig& gsm = config.iface[2];
  uint32_t gsmAddress = 0;
  if (usable[2] && ValidGateway(gsm.gateway) && platform::ParseDottedIPv4(gsm.address, gsmAddress))
    plan.ops.push_back({RouteOp::Kind::kRenewGsmSubnet, 2, gsm.gateway, SubnetOf(gsm.address), 5});
  return plan;
}

RoutePlan PlanAfterApply(const NetworkConfig& config, std::array<bool, 3> running) {
  bool any = false;
  for (int k = 0; k < 3; ++k) {
    if (!running[k]) continue;
    any = true;
    if (ValidGateway(config.iface[k].gateway)) return PlanDefaultRoute(k, config, running);
  }
  RoutePlan none;
  if (any) none.refusal = "ни у одного работающего интерфейса нет действующего шлюза";
  return none;
}

std::string IpRouteText(const RouteOp& op) {
  switch (op.kind) {
    case RouteOp::Kind::kReplaceDefault:
      return "ip route replace default via " + op.gateway + " metric " + std::to_string(op.metric);
    case RouteOp::Kind::kDeleteDefault:
      return "ip route delete default via " + op.gateway;
    case RouteOp::Kind::kRenewGsmSubnet:
      return "ip route replace " + op.net + "/24 via " + op.gateway + " metric " +
             std::to_string(op.metric);
  }
  return {};
}

bool ExecuteRoutePlan(const RoutePlan& plan, platform::RouteTable& table,
                      const std::function<void(const std::string&)>& debugLine,
                      std::string* error) {
  for (const RouteOp& op : plan.ops) {
    const std::string text = IpRouteText(op);
    if (debugLine) debugLine(text);
    std::string why;
    bool ok = true;
    switch (op.kind) {
      case RouteOp::Kind::kReplaceDefault: {
        // A replace takes the place of any default route of the same metric.
        std::vector<platform::Ipv4Route> routes;
        ok = table.List(&routes, &why);
        for (size_t i = 0; ok && i < routes.size(); ++i) {
          const platform::Ipv4Route& r = routes[i];
          if (!IsDefault(r) || r.metric != op.metric || r.gateway == op.gateway) continue;
          if (std::find(plan.managedGateways.begin(), plan.managedGateways.end(), r.gateway) ==
              plan.managedGateways.end()) {
            ok = false;
            why = "маршрут по умолчанию с метрикой " + std::to_string(r.metric) + " через " +
                  (r.gateway.empty() ? r.device : r.gateway) + " не принадлежит серверу";
          }
        }
        if (ok) ok = table.Replace(DefaultVia(op.gateway, op.metric), &why);
        break;
      }
      case RouteOp::Kind::kRenewGsmSubnet: {
        platform::Ipv4Route r = DefaultVia(op.gateway, op.metric);
        r.destination = op.net;
        r.prefix = 24;
        ok = table.Replace(r, &why);
        break;
      }
      case RouteOp::Kind::kDeleteDefault: {
        // Every default route through that gateway, whatever its metric.
        std::vector<platform::Ipv4Route> routes;
        ok = table.List(&routes, &why);
        for (size_t i = 0; ok && i < routes.size(); ++i)
          if (IsDefault(routes[i]) && routes[i].gateway == op.gateway)
            ok = table.Delete(routes[i], &why);
        break;
      }
    }
    if (!ok) {
      *error = text + ": " + why;
      return false;
    }
  }
  return true;
}

DefaultRouteState ActiveDefaultRoute(const std::vector<platform::Ipv4Route>& routes,
                                     const NetworkConfig& config) {
  DefaultRouteState s;
  for (const platform::Ipv4Route& r : routes) {
    if (!IsDefault(r) || (s.present && r.metric >= s.route.metric)) continue;
    s.present = true;
    s.route = r;
  }
  if (!s.present) return s;
  for (int k = 0; k < 3; ++k) {
    const InterfaceConfig& c = config.iface[k];
    if (c.inUse && !s.route.gateway.empty() && c.gateway == s.route.gateway) {
      s.iface = k;
      break;
    }
  }
  return s;
}

}  // namespace netsup
