#include "netsup/network_supervision.h"

#include <utility>

#include "netsup/interface_management.h"

namespace netsup {

namespace {

std::array<bool, 3> InUse(const NetworkConfig& config) {
  return {config.iface[0].inUse, config.iface[1].inUse, config.iface[2].inUse};
}

}  // namespace

NetworkSupervision::NetworkSupervision(std::array<platform::UdpEndpoint*, 3> servers,
                                       platform::RouteTable& routes, EchoSender echo,
                                       console::ConsoleSettings& settings,
                                       console::MessageSink& sink)
    : servers_(servers), routes_(routes), echo_(std::move(echo)), settings_(settings),
      sink_(sink) {}

bool NetworkSupervision::Apply(const NetworkConfig& config, bool manageRoutes,
                               const Report& report) {
  const auto fail = [&](const std::string& text) {
    state_.GlNetErr = true;
    if (report) report(text);
  };
  if (!ApplyNetworkSettings(config, servers_, state_, report)) return false;

  // The GSM link is kept awake by an echo to the neighbour of its gateway.
  const InterfaceConfig& gsm = config.iface[2];
  if (gsm.inUse && servers_[2]->Running()) {
    if (!gsm.gateway.empty()) {
      pingTarget_ = GsmPingTarget(gsm.gateway);
      GlGsmPing = true;
    }
    std::string why;
    if (!echo_(pingTarget_, &why)) {
      fail("Ош. Конфликт 4(GSM)(ICMP) >" + gsm.address + ".Ош. Шлюза GSM!");
      sink_.DebugLine(why);
      GlGsmPing = false;
    }
  }

  routesPending_ = manageRoutes && !SetRoutesAfterApply(config, report);
  if (!manageRoutes) ReadDefaultRoute(config);
  return !state_.GlNetErr && !routesPending_;
}

bool NetworkSupervision::SetRoutesAfterApply(const NetworkConfig& config, const Report& report) {
  std::array<bool, 3> running{};
  for (int k = 0; k < 3; ++k) running[k] = config.iface[k].inUse && servers_[k]->Running();
  const RoutePlan plan = PlanAfterApply(config, running);
  if (!plan.refusal.empty()) {
    // Trying again cannot help before the settings change, which applies anew.
    if (report) report("Маршрут по умолчанию не установлен: " + plan.refusal);
    ReadDefaultRoute(config);
    return true;
  }
  if (plan.ops.empty()) {
    ReadDefaultRoute(config);
    return true;
  }
  return Route(plan, config, report);
}

void NetworkSupervision::NetworkStep(const NetworkConfig& config, bool manageRoutes) {
  const Report message = [this](const std::string& text) { sink_.Message(text); };
  if (!manageRoutes) routesPending_ = false;
  if (state_.GlNetErr) {
    Apply(config, manageRoutes, message);
  } else if (routesPending_) {
    routesPending_ = !SetRoutesAfterApply(config, message);
  } else {
    if (!state_.GlNetOkShown) {
      sink_.Message("Сетевые настройки OK!");
      state_.GlNetOkShown = true;
    }
    // The mark follows changes made to the routes by others too.
    ReadDefaultRoute(config);
  }
  if (config.iface[2].inUse && GlGsmPing) {
    std::string why;
    if (!echo_(pingTarget_, &why)) sink_.DebugLine("Ош. доступа к \"Службе ICMP-GSM\"");
  }
}

void NetworkSupervision::ManagementStep(const NetworkConfig& config, devlink::ClientTable& table,
                                        std::mutex& lock) {
  ManagementDecision d;
  {
    // The device worker writes the statistics under Lock.
    std::lock_guard<std::mutex> g(lock);
    d = DecideManagement(CountStatistics(table), GlKartaSel);
    ClearStatistics(table, d.clearUnanswered);
  }
  if (d.hold) settings_.GlMetricHold = kManagementHold;
  if (d.chosen < 0) return;
  const RoutePlan plan = PlanDefaultRoute(d.chosen, config, InUse(config));
  const Report message = [this](const std::string& text) { sink_.Message(text); };
  if (!plan.refusal.empty()) {
    // Chosen again at a later tick, once the settings allow it; said once.
    GlKartaSel[d.chosen] = false;
    const std::string text = "Маршрут по умолчанию не перенесён: " + plan.refusal;
    if (text != lastRefusal_) message(text);
    lastRefusal_ = text;
    ReadDefaultRoute(config);
    return;
  }
  lastRefusal_.clear();
  if (!Route(plan, config, message)) GlKartaSel[d.chosen] = false;  // tried at the next tick
}

bool NetworkSupervision::MoveDefaultRoute(int k, const NetworkConfig& config) {
  const RoutePlan plan = PlanDefaultRoute(k, config, InUse(config));
  if (plan.refusal.empty())
    return Route(plan, config, [this](const std::string& text) { sink_.Message(text); });
  sink_.Message("Маршрут по умолчанию не перенесён: " + plan.refusal);
  ReadDefaultRoute(config);
  return false;
}

std::string NetworkSupervision::QuickRebind(const std::string& port1Text) {
  platform::UdpEndpoint& s1 = *servers_[0];
  platform::UdpEndpoint& s2 = *servers_[1];
  const auto restart = [this](platform::UdpEndpoint& s, const char* prefix) {
    if (s.Start()) return;
    sink_.Message(std::string(prefix) + "0.0.0.0:" + std::to_string(s.DefaultPort()) +
                  ".Парам. не вступили в силу!");
  };
  s1.Stop();
  s1.ClearBindings();
  uint16_t port = 0;
  if (ParsePortText(port1Text, port)) s1.SetDefaultPort(port);
  else sink_.DebugLine("Ош. Преобр.поля \"Порт Ethernet\"");
  restart(s1, "Ош. Конфликт карты 1 >");
  s2.Stop();
  s2.ClearBindings();
  // 65535 has no next port: server 2 keeps its own.
  if (s1.DefaultPort() < 65535) s2.SetDefaultPort(uint16_t(s1.DefaultPort() + 1));
  restart(s2, "Ош. Конфликт карты 2 >");
  return std::to_string(s2.DefaultPort());
}

DefaultRouteState NetworkSupervision::DefaultRoute(const NetworkConfig& config) {
  ReadDefaultRoute(config);
  return lastRoute_;
}

bool NetworkSupervision::Route(const RoutePlan& plan, const NetworkConfig& config,
                               const Report& report) {
  std::string why;
  const bool done = ExecuteRoutePlan(
      plan, routes_, [this](const std::string& line) { sink_.DebugLine(line); }, &why);
  if (!done && report) report("Ош. Маршрута >" + why);
  ReadDefaultRoute(config);
  if (lastRoute_.iface == plan.chosen) return true;
  // Every step was taken, yet another route carries the traffic.
  if (done && report)
    report("Маршрут по умолчанию через интерфейс " + std::to_string(plan.chosen + 1) +
           " не действует: " +
           (lastRoute_.present ? "трафик идёт через " + lastRoute_.route.gateway + " (" +
                                     lastRoute_.route.device + ", метрика " +
                                     std::to_string(lastRoute_.route.metric) + ")"
                               : std::string("маршрута по умолчанию нет")));
  return false;
}

void NetworkSupervision::ReadDefaultRoute(const NetworkConfig& config) {
  std::vector<platform::Ipv4Route> routes;
  std::string why;
  if (routes_.List(&routes, &why)) {
    lastRoute_ = ActiveDefaultRoute(routes, config);
    return;
  }
  lastRoute_ = DefaultRouteState{};
  sink_.DebugLine("Таблица маршрутов не прочитана: " + why);
}

}  // namespace netsup
