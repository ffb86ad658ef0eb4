#include "platform/udp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Received {
  std::vector<uint8_t> bytes;
  std::string peer;
  uint16_t port;
};

// Collects what a server's handler is given, for the test thread to wait on.
class Inbox {
 public:
  platform::DatagramHandler Handler() {
    return [this](const uint8_t* data, size_t n, std::string_view peer, uint16_t port) {
      std::lock_guard<std::mutex> lock(m_);
      q_.push_back({std::vector<uint8_t>(data, data + n), std::string(peer), port});
      cv_.notify_all();
    };
  }
  bool Wait(Received& out, std::chrono::milliseconds timeout = 2000ms) {
    std::unique_lock<std::mutex> lock(m_);
    if (!cv_.wait_for(lock, timeout, [this] { return !q_.empty(); })) return false;
    out = std::move(q_.front());
    q_.pop_front();
    return true;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Received> q_;
};

// A plain loopback socket playing the peer.
class Client {
 public:
  Client() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Client() { ::close(fd_); }

  uint16_t Port() const { return port_; }

  void Send(uint16_t to, const std::vector<uint8_t>& bytes) {
    sockaddr_in a = Loopback(to);
    ASSERT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a),
                       sizeof a),
              ssize_t(bytes.size()));
  }
  bool Receive(Received& out, int timeoutMs = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return false;
    uint8_t buf[65535];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return false;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    out = {std::vector<uint8_t>(buf, buf + n), text, ntohs(from.sin_port)};
    return true;
  }

 private:
  static sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }
  int fd_ = -1;
  uint16_t port_ = 0;
};

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + 3);
  return v;
}

class UdpServerTest : public testing::Test {
 protected:
  void SetUp() override {
    server.AddBinding("127.0.0.1", 0);
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.Running());
    ASSERT_NE(server.BoundPort(), 0);
  }

  Inbox inbox;
  platform::UdpServer server{5000, inbox.Handler()};
  Client client;
};

TEST_F(UdpServerTest, DatagramsReachTheHandlerWithTheirPeer) {
  // A long datagram arrives whole: cutting to the telegram size is the ring's business.
  for (size_t size : {size_t(1), size_t(128), size_t(3000)}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> sent = Pattern(size);
    client.Send(server.BoundPort(), sent);
    Received r;
    ASSERT_TRUE(inbox.Wait(r));
    EXPECT_EQ(r.bytes, sent);
    EXPECT_EQ(r.peer, "127.0.0.1");
    EXPECT_EQ(r.port, client.Port());
  }
}

TEST_F(UdpServerTest, SendToLeavesFromTheServerPort) {
  const std::vector<uint8_t> sent = Pattern(40);
  ASSERT_TRUE(server.SendTo("127.0.0.1", client.Port(), sent.data(), sent.size()));
  Received r;
  ASSERT_TRUE(client.Receive(r));
  EXPECT_EQ(r.bytes, sent);
  EXPECT_EQ(r.peer, "127.0.0.1");
  EXPECT_EQ(r.port, server.BoundPort());
}

TEST_F(UdpServerTest, SendToBroadcastIsAllowed) {
  const uint8_t b[1] = {1};
  EXPECT_TRUE(server.SendTo("127.255.255.255", client.Port(), b, 1));
}

TEST_F(UdpServerTest, SendToRefusesWhatIsNotAnAddress) {
  const uint8_t b[1] = {1};
  for (const char* addr : {"", "localhost", "127.0.0", "127.0.0.1.", "127.0.0.256", " 127.0.0.1",
                           "127.000.0.1"}) {
    SCOPED_TRACE(addr);
    EXPECT_FALSE(server.SendTo(addr, client.Port(), b, 1));
  }
  Received r;
  EXPECT_FALSE(client.Receive(r, 100));
}

TEST_F(UdpServerTest, SendToFailsWhileStopped) {
  server.Stop();
  const uint8_t b[1] = {1};
  EXPECT_FALSE(server.SendTo("127.0.0.1", client.Port(), b, 1));
}

TEST_F(UdpServerTest, PortTakenFailsToStart) {
  Inbox other;
  platform::UdpServer second(5000, other.Handler());
  second.AddBinding("127.0.0.1", server.BoundPort());
  EXPECT_FALSE(second.Start());
  EXPECT_FALSE(second.Running());
  EXPECT_EQ(second.BoundPort(), 0);
  // "All addresses" on the same port clashes as well.
  second.ClearBindings();
  second.AddBinding("0.0.0.0", server.BoundPort());
  EXPECT_FALSE(second.Start());

  // The first server is untouched.
  client.Send(server.BoundPort(), {9});
  Received r;
  ASSERT_TRUE(inbox.Wait(r));
  EXPECT_EQ(r.bytes, std::vector<uint8_t>{9});
}

TEST(UdpServerStart, BadOrForeignAddressFailsToStart) {
  // A documentation address that no host here carries.
  for (const char* addr : {"203.0.113.77", "", "abc", "127.0.0", "300.0.0.1", "127.0.0.1 "}) {
    SCOPED_TRACE(addr);
    platform::UdpServer s(5000, nullptr);
    s.AddBinding(addr, 0);
    EXPECT_FALSE(s.Start());
    EXPECT_FALSE(s.Running());
  }
}

TEST(UdpServerStart, WithoutBindingListensEverywhereOnTheDefaultPort) {
  // Learn a free port, then give it to the server as its default port.
  uint16_t port = 0;
  {
    platform::UdpServer probe(0, nullptr);
    ASSERT_TRUE(probe.Start());
    port = probe.BoundPort();
  }
  Inbox inbox;
  platform::UdpServer s(port, inbox.Handler());
  ASSERT_TRUE(s.Start());
  EXPECT_EQ(s.BoundPort(), port);
  Client client;
  client.Send(port, {1, 2, 3});
  Received r;
  ASSERT_TRUE(inbox.Wait(r));
  EXPECT_EQ(r.port, client.Port());
}

TEST(UdpServerStart, FirstOfSeveralBindingsIsUsed) {
  platform::UdpServer s(5000, nullptr);
  s.AddBinding("127.0.0.1", 0);
  s.AddBinding("203.0.113.77", 0);
  EXPECT_TRUE(s.Start());
}

TEST_F(UdpServerTest, StopIsPromptAndTheServerStartsAgain) {
  const uint16_t port = server.BoundPort();
  const auto t0 = std::chrono::steady_clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
  EXPECT_FALSE(server.Running());
  EXPECT_EQ(server.BoundPort(), 0);

  // The port is free again, for this server or another.
  {
    Inbox other;
    platform::UdpServer s(5000, other.Handler());
    s.AddBinding("127.0.0.1", port);
    ASSERT_TRUE(s.Start());
  }  // destroyed running: the destructor stops it and frees the port

  server.ClearBindings();
  server.AddBinding("127.0.0.1", port);
  ASSERT_TRUE(server.Start());
  client.Send(port, {4, 5});
  Received r;
  ASSERT_TRUE(inbox.Wait(r));
  EXPECT_EQ(r.bytes, (std::vector<uint8_t>{4, 5}));
}

// The handler answers through its own server, as the device link does: a stop
// that arrives while the handler is about to send must wait for it, not hang.
TEST(UdpServerConcurrency, StopWaitsForAHandlerThatSends) {
  std::promise<void> entered;
  std::promise<void> stopping;
  std::shared_future<void> stoppingSeen = stopping.get_future().share();
  platform::UdpServer* self = nullptr;
  std::atomic<bool> echoed{false};
  platform::UdpServer s(5000, [&](const uint8_t* d, size_t n, std::string_view peer, uint16_t port) {
    entered.set_value();
    stoppingSeen.wait();
    // Gives Stop the time to get under way before the send.
    std::this_thread::sleep_for(20ms);
    echoed = self->SendTo(peer, port, d, n);
  });
  self = &s;
  s.AddBinding("127.0.0.1", 0);
  ASSERT_TRUE(s.Start());
  Client client;
  client.Send(s.BoundPort(), {7, 7});
  // Stop only once the listener is inside the handler.
  const bool inHandler = entered.get_future().wait_for(2s) == std::future_status::ready;
  stopping.set_value();
  ASSERT_TRUE(inHandler);
  std::future<void> stopped = std::async(std::launch::async, [&] { s.Stop(); });
  if (stopped.wait_for(2s) != std::future_status::ready) {
    ADD_FAILURE() << "Stop hangs while the handler sends through the server";
    std::fflush(stdout);
    std::_Exit(1);  // the listener can no longer be joined
  }
  EXPECT_TRUE(echoed.load());
  Received r;
  ASSERT_TRUE(client.Receive(r));
  EXPECT_EQ(r.bytes, (std::vector<uint8_t>{7, 7}));
}

// Starts and stops under traffic while other threads send: no hang, no send on
// a closed socket.
TEST(UdpServerConcurrency, StartAndStopUnderTraffic) {
  platform::UdpServer* self = nullptr;
  std::atomic<int> echoed{0};
  platform::UdpServer s(5000, [&](const uint8_t* d, size_t n, std::string_view peer, uint16_t port) {
    if (self->SendTo(peer, port, d, n)) echoed.fetch_add(1);
  });
  self = &s;
  s.AddBinding("127.0.0.1", 0);
  Client client;
  std::atomic<bool> done{false};
  std::vector<std::thread> senders;
  for (int t = 0; t < 2; ++t) {
    senders.emplace_back([&] {
      const uint8_t b[4] = {1, 2, 3, 4};
      while (!done.load()) s.SendTo("127.0.0.1", client.Port(), b, sizeof b);
    });
  }

  for (int round = 0; round < 20; ++round) {
    if (!s.Start()) {
      ADD_FAILURE() << "restart failed in round " << round;
      break;
    }
    const uint16_t port = s.BoundPort();
    const int before = echoed.load();
    for (int i = 0; i < 50; ++i) client.Send(port, {uint8_t(i)});
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (echoed.load() == before && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    EXPECT_GT(echoed.load(), before);
    const auto t0 = std::chrono::steady_clock::now();
    s.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
    s.ClearBindings();
    s.AddBinding("127.0.0.1", port);
  }
  done = true;
  for (std::thread& t : senders) t.join();
}

}  // namespace
