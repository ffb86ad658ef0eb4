// udp_echo PORT [ADDR]: receives datagrams and sends each straight back, with
// no processing; the baseline for the server's loopback throughput. Runs until
// SIGINT or SIGTERM.
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: udp_echo PORT [ADDR]\n");
    return 2;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;  // no SA_RESTART: recvfrom returns on a signal
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  int buf = 4 << 20;  // the same kernel queue as the server's sockets
  if (setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &buf, sizeof buf) != 0)
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &buf, sizeof buf);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(std::atoi(argv[1])));
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (argc > 2 && inet_pton(AF_INET, argv[2], &a.sin_addr) != 1) return 2;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("udp_echo: bind");
    return 1;
  }
  unsigned long echoed = 0;
  unsigned char data[2048];
  while (!gStop) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const ssize_t n = recvfrom(s, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&peer), &len);
    if (n < 0) continue;
    sendto(s, data, size_t(n), 0, reinterpret_cast<sockaddr*>(&peer), len);
    ++echoed;
  }
  std::fprintf(stderr, "udp_echo: %lu datagrams echoed\n", echoed);
  close(s);
  return 0;
}
