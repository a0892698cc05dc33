// tarnix-hostile: a device that answers every request with protocol-shaped
// garbage, for testing that the library survives whatever a peer sends. It
// listens on UDP ip:4800 and TCP ip:4900 like a device server; every answer is
// drawn from a random generator seeded from --seed (per connection, and for
// the datagrams), so that a failing run can be repeated.
//   tarnix-hostile --ip A.B.C.D --seed N
// Prints READY once it listens; runs until it is killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Rng = std::mt19937_64;

constexpr uint16_t kQueryPort = 4800;
constexpr uint16_t kChannelPort = 4900;
constexpr size_t kQueryHeader = 20;   // code, status, length, zero word, identity
constexpr size_t kFrameHeader = 4;    // code, status, length
constexpr int kMostConnections = 64;  // beyond this, connections are closed at once

void put_be16(uint8_t* p, size_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

size_t pick(Rng& rng, size_t n) { return static_cast<size_t>(rng() % n); }

void fill_random(Rng& rng, uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng());
}

// Lengths that probe the edges: empty, tiny, around the library's capacities, huge.
size_t hostile_length(Rng& rng) {
  static const size_t kEdges[] = {0, 1, 2, 3, 4, 5, 16, 20, 21, 24, 40, 64, 168, 176, 256, 648, 1024, 4096, 4120};
  if (rng() % 2 == 0) return kEdges[pick(rng, std::size(kEdges))] + pick(rng, 3);
  return pick(rng, 1500);
}

void sleep_ms(size_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int bound_socket(int type, uint32_t ip, uint16_t port) {
  const int fd = ::socket(AF_INET, type, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = ip;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One reply to a query datagram, or none.
void answer_datagram(int fd, Rng& rng, const Bytes& request, const sockaddr_in& peer) {
  const uint8_t code = request.empty() ? 0 : request[0];
  Bytes reply(kQueryHeader + hostile_length(rng));
  fill_random(rng, reply.data(), reply.size());
  switch (pick(rng, 8)) {
    case 0:
      return;  // silence
    case 1:
      reply.resize(pick(rng, kQueryHeader));  // shorter than a header
      break;
    case 2:
      reply[0] = static_cast<uint8_t>(rng());  // any code
      break;
    default: {
      // A reply the library accepts as one: its code, status 0, zero word, the request's identity;
      // length field, counts and payload random.
      reply[0] = static_cast<uint8_t>(code | 0x80);
      reply[1] = 0;
      if (rng() % 2 == 0) put_be16(&reply[2], reply.size());
      std::memset(&reply[4], 0, 4);
      if (request.size() >= kQueryHeader) std::memcpy(&reply[8], &request[8], 12);
    }
  }
  const int copies = rng() % 8 == 0 ? 2 : 1;
  for (int i = 0; i < copies; ++i) {
    ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  }
}

void serve_datagrams(int fd, uint64_t seed) {
  Rng rng(seed);
  Bytes buf(65536);
  for (;;) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const ssize_t n = ::recvfrom(fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&peer), &len);
    if (n < 0) continue;
    answer_datagram(fd, rng, Bytes(buf.begin(), buf.begin() + n), peer);
  }
}

bool send_all(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// Answers whatever arrived; false when the connection is to end.
bool answer_frame(int fd, Rng& rng, uint8_t code) {
  // Most logins get through, so that the commands behind them meet the garbage too.
  if ((code == 0 || code == 1) && rng() % 4 != 0) {
    uint8_t good[kFrameHeader + 4] = {code, 1, 0, 0};
    const size_t payload = code == 0 ? 4 : 0;
    put_be16(good + 2, payload);
    fill_random(rng, good + kFrameHeader, payload);
    return send_all(fd, good, kFrameHeader + payload);
  }
  Bytes reply(kFrameHeader + hostile_length(rng));
  fill_random(rng, reply.data(), reply.size());
  reply[0] = rng() % 8 == 0 ? static_cast<uint8_t>(rng()) : code;
  static const uint8_t kStatuses[] = {1, 1, 1, 1, 0, 2, 251, 252, 253, 254, 255};
  reply[1] = kStatuses[pick(rng, std::size(kStatuses))];
  if (code == 0 && rng() % 2 == 0) reply.resize(kFrameHeader + 4);  // a challenge the login can use
  if (rng() % 8 != 0) put_be16(&reply[2], reply.size() - kFrameHeader);
  switch (pick(rng, 10)) {
    case 0:
      return true;  // silence
    case 1: {
      linger off{1, 0};  // a reset
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off);
      return false;
    }
    case 2:
      return false;  // an orderly close
    case 3: {
      // Split at random points, a little apart.
      size_t at = 0;
      while (at < reply.size()) {
        const size_t n = std::min(reply.size() - at, 1 + pick(rng, 64));
        if (!send_all(fd, reply.data() + at, n)) return false;
        at += n;
        sleep_ms(pick(rng, 20));
      }
      return true;
    }
    case 4: {
      // A slow drip of at most 40 bytes, then the rest at once.
      size_t at = 0;
      for (; at < reply.size() && at < 40; ++at) {
        if (!send_all(fd, &reply[at], 1)) return false;
        sleep_ms(2);
      }
      return send_all(fd, reply.data() + at, reply.size() - at);
    }
    case 5: {
      // Far more than anyone asked for: an endless-looking transfer, bounded here.
      Bytes flood(4096);
      for (int i = 0; i < 16; ++i) {
        fill_random(rng, flood.data(), flood.size());
        if (!send_all(fd, flood.data(), flood.size())) return false;
      }
      return true;
    }
    default:
      return send_all(fd, reply.data(), reply.size());
  }
}

void serve_connection(int fd, uint64_t seed, std::atomic<int>* open) {
  Rng rng(seed);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Bytes buf(65536);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30'000) <= 0) break;  // an idle client is let go
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) break;
    if (!answer_frame(fd, rng, buf[0])) break;
  }
  ::close(fd);
  --*open;
}

void serve_channel(int listener, uint64_t seed) {
  std::atomic<int> open{0};
  for (uint64_t count = 1;; ++count) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    if (open >= kMostConnections) {
      ::close(fd);
      continue;
    }
    ++open;
    std::thread(serve_connection, fd, seed ^ (count * 0x9e3779b97f4a7c15ull), &open).detach();
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string ip;
  uint64_t seed = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--ip") {
      ip = argv[i + 1];
    } else if (key == "--seed") {
      seed = std::strtoull(argv[i + 1], nullptr, 0);
    }
  }
  in_addr addr{};
  if (ip.empty() || ::inet_pton(AF_INET, ip.c_str(), &addr) != 1) {
    std::fprintf(stderr, "usage: tarnix-hostile --ip A.B.C.D --seed N\n");
    return 2;
  }
  const int udp = bound_socket(SOCK_DGRAM, addr.s_addr, kQueryPort);
  const int tcp = bound_socket(SOCK_STREAM, addr.s_addr, kChannelPort);
  if (udp < 0 || tcp < 0) {
    std::perror("tarnix-hostile: bind");
    return 1;
  }
  std::thread(serve_datagrams, udp, seed).detach();
  std::printf("READY\n");
  std::fflush(stdout);
  serve_channel(tcp, seed);
}
