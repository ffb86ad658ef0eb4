// The simulator engine: plays a population of object devices against the
// relay server over UDP from one thread, with one or a few sockets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/devsim/device_codec.h"
#include "tools/devsim/maintained.h"
#include "tools/devsim/population.h"
#include "tools/devsim/registry_file.h"
#include "tools/devsim/tftp_loader.h"

namespace devsim {

struct SimOptions {
  uint32_t serverAddr = 0;  // host order
  uint16_t serverPort = 0;
  Population population;
  Key10 regKey = kDefaultRegKey;
  uint8_t regCode = kCodeRegister;

  // Devices from a registry file (already registered); when not empty they
  // replace the planned population's numbers, keys and indices.
  std::vector<DeviceInit> preset;

  bool registerDevices = true;
  int64_t regRetryMs = 3000;
  int64_t heartbeatUs = 15'000'000;  // heartbeat period per device; 0 = no heartbeats
  uint32_t heartbeats = 0;           // per device; 0 = until the run ends
  uint32_t timeRequests = 0;
  uint32_t events = 0;
  uint8_t eventCode = 0x01;
  int64_t eventRetryMs = 2000;
  uint32_t echoes = 0;
  int64_t answerTimeoutMs = 3000;    // wait for an answer before giving it up
  int64_t durationMs = 0;            // 0 = until the work is done or a stop request
  bool answerRequests = true;
  // Every device also answers remote maintenance, from this profile.
  bool maintained = false;
  MaintProfile maint;
  // The Ethernet controller's loader of every maintained device.
  EthLoaderProfile ethLoader;
  uint32_t skip = 0;
  bool repeatSeq = false;
  // First sequence byte of every device's heartbeats and time requests, and of
  // its events; -1 = 1, or one past the record's last ones with a registry file.
  int firstSeq = -1;
  // The peer is a bare UDP echo loop, the baseline of load runs: any datagram
  // that comes back for a device answers one of its awaited heartbeats.
  bool bareEcho = false;
  bool movePort = false;
  double rate = 0;                   // telegrams per second over all devices; 0 = unlimited
  int64_t startSpreadUs = -1;        // device starts spread over this; -1 = by rate or period

  bool verbose = false;
  // Called at the first send of each of a device's own events with its
  // number, data byte and the CLOCK_MONOTONIC time in microseconds.
  std::function<void(const ConsoleNumber&, uint8_t data, int64_t monoUs)> onEventSent;
  std::function<void(std::string_view)> log;  // one line, no newline; null = silent
};

struct SimSummary {
  uint32_t devices = 0;
  uint32_t registered = 0;
  uint64_t registrationsSent = 0;
  uint64_t heartbeatsSent = 0, heartbeatsAnswered = 0;
  uint64_t timeSent = 0, timeAnswered = 0;
  uint64_t eventsSent = 0, eventsAcked = 0, eventResends = 0;
  uint64_t echoesSent = 0, echoesReturned = 0;
  uint64_t requestsReceived = 0, requestsAnswered = 0;
  uint64_t maintenanceRequests = 0;  // remote maintenance requests received
  uint64_t undecryptable = 0;
  uint64_t duplicates = 0;   // answers for something already answered
  uint64_t unexpected = 0;   // readable telegrams the device had no use for
  uint64_t stray = 0;        // datagrams for no simulated device
  uint64_t datagramsSent = 0, datagramsReceived = 0;
  uint64_t sendErrors = 0;
  uint64_t unanswered = 0;
  int64_t elapsedMs = 0;

  // Everything asked for was answered, nothing was undecryptable, every
  // datagram could be sent.
  bool Ok() const { return unanswered == 0 && undecryptable == 0 && sendErrors == 0; }
};

// Empty when the options are usable, else the reason in one line.
std::string CheckOptions(const SimOptions& o);

class Simulator {
 public:
  explicit Simulator(SimOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the sockets; false with a reason when one cannot be bound.
  bool Open(std::string* error);
  // Local ports of the sockets, in socket order (moved sockets last).
  std::vector<uint16_t> LocalPorts() const;
  // Runs until the work is done, the duration is over or a stop is requested.
  SimSummary Run();
  // Ends the run soon; safe from another thread and from a signal handler.
  void RequestStop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace devsim
