#include "devlink/sender.h"

#include <string>

#include "console/line_format.h"

namespace devlink {

void Sender::SendTo(int iface, std::string_view addr, uint16_t port, size_t count,
                    const uint8_t* bytes) {
  if (iface < 0 || iface > 2) return;
  platform::UdpEndpoint* ep = endpoints_[size_t(iface)];
  if (ep && ep->SendTo(addr, port, bytes, count)) return;
  sink_.RegMessage("Узел " + std::string(addr) + ":" + console::Format("%d недоступен.", port));
}

void Sender::SendToClient(const ClientRecord& r, size_t count, const uint8_t* bytes) {
  SendTo(r.iface, PStrView(r.peerAddr), PeerPort(r), count, bytes);
}

void Sender::SendTextTo(int iface, std::string_view addr, uint16_t port, std::string_view text) {
  SendTo(iface, addr, port, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
}

}  // namespace devlink
