// A UDP endpoint without a socket, for tests, benchmarks and fuzz targets:
// binding always works; what a send does is the subclass's business.
#pragma once

#include <cstdint>
#include <string>

#include "platform/datagram.h"

namespace testsupport {

class StubEndpoint : public platform::UdpEndpoint {
 public:
  explicit StubEndpoint(uint16_t defaultPort = 5000) : defaultPort_(defaultPort) {}

  void Stop() override {}
  void ClearBindings() override {}
  void AddBinding(const std::string&, uint16_t) override {}
  uint16_t DefaultPort() const override { return defaultPort_; }
  void SetDefaultPort(uint16_t port) override { defaultPort_ = port; }
  bool Start() override { return true; }
  bool Running() const override { return true; }

 private:
  uint16_t defaultPort_;
};

}  // namespace testsupport
