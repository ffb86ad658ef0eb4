#include "platform/adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "platform/routes.h"

namespace platform {

bool ListAdapters(std::vector<AdapterAddress>* out, std::string* error) {
  std::vector<Ipv4Route> routes;
  NetlinkRouteTable table;
  if (!table.List(&routes, error)) return false;

  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    *error = std::string("список адаптеров: ") + std::strerror(errno);
    return false;
  }
  std::vector<AdapterAddress> found;
  for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_UP) == 0)
      continue;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr, text,
                sizeof text);
    AdapterAddress entry{a->ifa_name, text, text};
    // An address label ("eth0:1") names the adapter before the colon in routes.
    const std::string device = entry.adapter.substr(0, entry.adapter.find(':'));
    for (const Ipv4Route& r : routes) {
      if (r.device == device && !r.gateway.empty() && r.gateway != "0.0.0.0") {
        entry.gateway = r.gateway;
        break;
      }
    }
    found.push_back(std::move(entry));
  }
  ::freeifaddrs(list);
  *out = std::move(found);
  return true;
}

}  // namespace platform
