#include "platform/routes.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/ipv4_text.h"

namespace platform {

namespace {

// A request of at most one route message with a few attributes.
struct RouteRequest {
  nlmsghdr header;
  rtmsg route;
  alignas(NLMSG_ALIGNTO) char attributes[256];
};

void AddAttribute(RouteRequest* request, unsigned short type, const void* data, size_t n) {
  auto* attr = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(request) +
                                         NLMSG_ALIGN(request->header.nlmsg_len));
  attr->rta_type = type;
  attr->rta_len = static_cast<unsigned short>(RTA_LENGTH(n));
  std::memcpy(RTA_DATA(attr), data, n);
  request->header.nlmsg_len = NLMSG_ALIGN(request->header.nlmsg_len) + RTA_ALIGN(attr->rta_len);
}

void AddAddress(RouteRequest* request, unsigned short type, uint32_t hostOrder) {
  const uint32_t net = htonl(hostOrder);
  AddAttribute(request, type, &net, sizeof net);
}

void AddU32(RouteRequest* request, unsigned short type, uint32_t value) {
  AddAttribute(request, type, &value, sizeof value);
}

std::string DottedText(const void* netOrder) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, netOrder, text, sizeof text);
  return text;
}

std::atomic<uint32_t> nextSequence{uint32_t(::getpid()) << 12};

// One rtnetlink socket for one request: opened in the caller's network
// namespace, closed when the exchange is over.
class RtNetlink {
 public:
  ~RtNetlink() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Open(std::string* error) {
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0) return Fail(error, "сокет rtnetlink: ", errno);
    // The kernel answers at once; a missing answer must not hold supervision.
    const timeval wait{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    socklen_t len = sizeof local;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) != 0)
      return Fail(error, "сокет rtnetlink: ", errno);
    portId_ = local.nl_pid;
    return true;
  }

  // Sends `request` and reads the kernel's answers to it until its
  // acknowledgement or, for a dump, its end, handing every other answer to
  // `onMessage`. False with the kernel's reason when it refused.
  bool Exchange(nlmsghdr* request, const std::function<void(const nlmsghdr&)>& onMessage,
                std::string* error) {
    request->nlmsg_seq = nextSequence.fetch_add(1, std::memory_order_relaxed);
    request->nlmsg_pid = 0;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, request, request->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != ssize_t(request->nlmsg_len))
      return Fail(error, "запрос rtnetlink: ", errno);

    std::vector<char> buf(1 << 16);
    for (;;) {
      sockaddr_nl from{};
      iovec iov{buf.data(), buf.size()};
      msghdr msg{};
      msg.msg_name = &from;
      msg.msg_namelen = sizeof from;
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      const ssize_t got = ::recvmsg(fd_, &msg, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          *error = "ядро не ответило на запрос rtnetlink";
          return false;
        }
        return Fail(error, "ответ rtnetlink: ", errno);
      }
      if ((msg.msg_flags & MSG_TRUNC) != 0) {
        *error = "ответ rtnetlink не поместился в буфер";
        return false;
      }
      if (from.nl_pid != 0) continue;  // only the kernel answers

      int left = int(got);
      for (auto* h = reinterpret_cast<nlmsghdr*>(buf.data()); NLMSG_OK(h, left);
           h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_seq != request->nlmsg_seq || h->nlmsg_pid != portId_) continue;
        if (h->nlmsg_type == NLMSG_DONE) return true;
        if (h->nlmsg_type == NLMSG_ERROR) {
          if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
            *error = "ответ rtnetlink искажён";
            return false;
          }
          const int code = static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
          if (code == 0) return true;  // the acknowledgement
          *error = std::strerror(-code);
          return false;
        }
        onMessage(*h);
      }
    }
  }

 private:
  static bool Fail(std::string* error, const char* what, int err) {
    *error = std::string(what) + std::strerror(err);
    return false;
  }

  int fd_ = -1;
  uint32_t portId_ = 0;
};

// The route message for `route`; false with the reason when a field is not valid.
bool BuildRequest(const Ipv4Route& route, uint16_t type, uint16_t flags, RouteRequest* request,
                  std::string* error) {
  uint32_t destination = 0, gateway = 0;
  if (!ParseDottedIPv4(route.destination, destination)) {
    *error = "неверный адрес назначения: \"" + route.destination + "\"";
    return false;
  }
  if (route.prefix < 0 || route.prefix > 32) {
    *error = "неверная длина префикса: " + std::to_string(route.prefix);
    return false;
  }
  if (!route.gateway.empty() && !ParseDottedIPv4(route.gateway, gateway)) {
    *error = "неверный адрес шлюза: \"" + route.gateway + "\"";
    return false;
  }
  unsigned device = 0;
  if (!route.device.empty()) {
    device = ::if_nametoindex(route.device.c_str());
    if (device == 0) {
      *error = "нет адаптера \"" + route.device + "\"";
      return false;
    }
  }

  *request = {};
  request->header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request->header.nlmsg_type = type;
  request->header.nlmsg_flags = flags;
  request->route.rtm_family = AF_INET;
  request->route.rtm_dst_len = static_cast<unsigned char>(route.prefix);
  request->route.rtm_table = RT_TABLE_MAIN;
  if (type == RTM_NEWROUTE) {
    request->route.rtm_protocol = RTPROT_STATIC;
    request->route.rtm_scope = route.gateway.empty() ? RT_SCOPE_LINK : RT_SCOPE_UNIVERSE;
    request->route.rtm_type = RTN_UNICAST;
  } else {
    // Deletion matches whatever protocol and scope the route was made with.
    request->route.rtm_scope = RT_SCOPE_NOWHERE;
  }
  AddAddress(request, RTA_DST, destination);
  if (!route.gateway.empty()) AddAddress(request, RTA_GATEWAY, gateway);
  if (device != 0) AddU32(request, RTA_OIF, device);
  AddU32(request, RTA_PRIORITY, route.metric);
  return true;
}

// The IPv4 unicast route of the main table in `h`, if it is one.
bool ParseRoute(const nlmsghdr& h, Ipv4Route* route) {
  if (h.nlmsg_type != RTM_NEWROUTE || h.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return false;
  const auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(&h));
  if (rt->rtm_family != AF_INET || rt->rtm_type != RTN_UNICAST ||
      (rt->rtm_flags & RTM_F_CLONED) != 0)
    return false;
  uint32_t table = rt->rtm_table;
  *route = {};
  route->prefix = rt->rtm_dst_len;
  int left = int(RTM_PAYLOAD(&h));
  // A route of several next hops shows neither gateway nor device here.
  for (const rtattr* a = RTM_RTA(rt); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
    const size_t n = RTA_PAYLOAD(a);
    if (a->rta_type == RTA_TABLE && n == 4) {
      std::memcpy(&table, RTA_DATA(a), 4);
    } else if (a->rta_type == RTA_DST && n == 4) {
      route->destination = DottedText(RTA_DATA(a));
    } else if (a->rta_type == RTA_GATEWAY && n == 4) {
      route->gateway = DottedText(RTA_DATA(a));
    } else if (a->rta_type == RTA_PRIORITY && n == 4) {
      std::memcpy(&route->metric, RTA_DATA(a), 4);
    } else if (a->rta_type == RTA_OIF && n == 4) {
      uint32_t index = 0;
      std::memcpy(&index, RTA_DATA(a), 4);
      char name[IF_NAMESIZE] = {};
      if (::if_indextoname(index, name) != nullptr) route->device = name;
    }
  }
  return table == RT_TABLE_MAIN;
}

bool ListRoutes(std::vector<Ipv4Route>* routes, std::string* error) {
  RtNetlink nl;
  if (!nl.Open(error)) return false;
  RouteRequest request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  request.header.nlmsg_type = RTM_GETROUTE;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.route.rtm_family = AF_INET;
  std::vector<Ipv4Route> found;
  if (!nl.Exchange(&request.header,
                   [&](const nlmsghdr& h) {
                     Ipv4Route route;
                     if (ParseRoute(h, &route)) found.push_back(std::move(route));
                   },
                   error))
    return false;
  *routes = std::move(found);
  return true;
}

bool Send(RouteRequest* request, std::string* error) {
  RtNetlink nl;
  return nl.Open(error) && nl.Exchange(&request->header, [](const nlmsghdr&) {}, error);
}

}  // namespace

bool NetlinkRouteTable::Replace(const Ipv4Route& route, std::string* error) {
  RouteRequest request;
  if (!BuildRequest(route, RTM_NEWROUTE,
                    NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE, &request, error))
    return false;
  return Send(&request, error);
}

bool NetlinkRouteTable::Delete(const Ipv4Route& route, std::string* error) {
  RouteRequest request;
  if (!BuildRequest(route, RTM_DELROUTE, NLM_F_REQUEST | NLM_F_ACK, &request, error))
    return false;
  // The kernel takes metric 0 and a missing gateway for "any" and would delete
  // another route of the same destination; such a route must exist exactly.
  if (route.metric == 0 || route.gateway.empty()) {
    std::vector<Ipv4Route> routes;
    if (!ListRoutes(&routes, error)) return false;
    bool exists = false;
    for (const Ipv4Route& r : routes)
      exists |= r.destination == route.destination && r.prefix == route.prefix &&
                r.gateway == route.gateway && r.metric == route.metric &&
                (route.device.empty() || r.device == route.device);
    if (!exists) {
      *error = std::strerror(ESRCH);
      return false;
    }
  }
  return Send(&request, error);
}

bool NetlinkRouteTable::List(std::vector<Ipv4Route>* routes, std::string* error) {
  return ListRoutes(routes, error);
}

}  // namespace platform
