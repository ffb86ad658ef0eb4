// The network supervision of the front end's thread: applying the network
// settings with the GSM keep-alive and the default routes, retrying a failed
// apply every ten ticks, the GSM keep-alive echo, interface management and
// the debug buttons that move the default route by hand.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "console/console_settings.h"
#include "console/message_sink.h"
#include "devlink/client_table.h"
#include "netsup/apply_network.h"
#include "netsup/route_plan.h"
#include "platform/datagram.h"
#include "platform/routes.h"

namespace netsup {

// Sends one ICMP echo request without waiting; false with the reason.
using EchoSender = std::function<bool(const std::string& address, std::string* error)>;
using Report = std::function<void(const std::string&)>;

class NetworkSupervision {
 public:
  NetworkSupervision(std::array<platform::UdpEndpoint*, 3> servers, platform::RouteTable& routes,
                     EchoSender echo, console::ConsoleSettings& settings,
                     console::MessageSink& sink);

  // The whole apply: servers rebound, the GSM keep-alive armed, and with
  // `manageRoutes` the default route set. Failures set GlNetErr and go to
  // `report`. False when anything failed.
  bool Apply(const NetworkConfig& config, bool manageRoutes, const Report& report);

  // Every ten ticks: a failed apply redone with its reports as messages (or
  // only its default route, when that alone failed), or "Сетевые настройки
  // OK!" once per run; then the GSM keep-alive echo.
  void NetworkStep(const NetworkConfig& config, bool manageRoutes);

  // Every eight ticks while management is active: the statistics counted and
  // cleared under `lock`, the default route moved outside it.
  void ManagementStep(const NetworkConfig& config, devlink::ClientTable& table, std::mutex& lock);

  // "Метрика 1..3": the default route moved to interface `k` (0..2). False,
  // with a message, when that failed or was refused.
  bool MoveDefaultRoute(int k, const NetworkConfig& config);

  // Enter in a port field: servers 1 and 2 listen on every address, server 1
  // on `port1Text` (unchanged when not a number) and server 2 on the next
  // port, whose text is returned.
  std::string QuickRebind(const std::string& port1Text);

  // The default route the kernel uses now, read afresh.
  DefaultRouteState DefaultRoute(const NetworkConfig& config);
  // As last read (after an apply, a route change or a network step).
  const DefaultRouteState& LastDefaultRoute() const { return lastRoute_; }

  bool NetErr() const { return state_.GlNetErr; }
  bool GsmPingArmed() const { return GlGsmPing; }
  const std::string& PingTarget() const { return pingTarget_; }
  const std::array<bool, 3>& Selected() const { return GlKartaSel; }

 private:
  // The default route after an apply; false when it is to be tried again.
  bool SetRoutesAfterApply(const NetworkConfig& config, const Report& report);
  // Carries out `plan`, says what went wrong, and reads the route back: true
  // when the default route now goes through the chosen interface.
  bool Route(const RoutePlan& plan, const NetworkConfig& config, const Report& report);
  void ReadDefaultRoute(const NetworkConfig& config);

  std::array<platform::UdpEndpoint*, 3> servers_;
  platform::RouteTable& routes_;
  const EchoSender echo_;
  console::ConsoleSettings& settings_;
  console::MessageSink& sink_;

  NetworkState state_;  // GlNetErr and GlNetOkShown
  bool routesPending_ = false;  // the apply's default route failed: tried again
  std::string lastRefusal_;     // of interface management, said once
  bool GlGsmPing = false;
  std::string pingTarget_ = "8.8.8.8";
  std::array<bool, 3> GlKartaSel{};
  DefaultRouteState lastRoute_;
};

}  // namespace netsup
