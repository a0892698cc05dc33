#pragma once

// The client's side of the emulator tests: a UDP socket on a loopback address, the device most tests talk
// to, datagram builders and waits on the emulator's traffic log.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lab/lab.h"
#include "unique_fd.h"

namespace devsim_peer {

using Bytes = std::vector<uint8_t>;

inline constexpr uint16_t kDevicePort = 4800;

// The device most tests talk to, and its identity as it travels: application ID, model code, MAC.
inline const std::string kDevice = "name=d,ip=127.0.0.2,app=0x1a2b3c4d,model=0x0201,mac=02:11:22:33:44:55";
inline const Bytes kOwnEntry = {0x4d, 0x3c, 0x2b, 0x1a, 0x01, 0x02, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Replace(Bytes b, size_t offset, const Bytes& with) {
  std::copy(with.begin(), with.end(), b.begin() + static_cast<ptrdiff_t>(offset));
  return b;
}

inline Bytes Resized(Bytes b, size_t size) {
  b.resize(size, 0);
  return b;
}

// Header (code, status 0, big-endian length of the whole datagram, zero word) followed by body.
inline Bytes Datagram(uint8_t code, const Bytes& body) {
  size_t n = 8 + body.size();
  return Cat({{code, 0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0, 0, 0, 0}, body});
}

// A query to the usual device, or to whatever identity is given.
inline Bytes Query(uint8_t code, const Bytes& args = {}, const Bytes& identity = kOwnEntry) {
  return Datagram(code, Cat({identity, args}));
}

// What the usual device answers to a query of code: its identity, then the payload.
inline Bytes QueryReply(uint8_t code, const Bytes& payload = {}) {
  return Datagram(static_cast<uint8_t>(code | 0x80), Cat({kOwnEntry, payload}));
}

struct Received {
  Bytes bytes;
  std::string from;  // ip:port
};

inline std::string Endpoint(uint32_t ip_network_order, uint16_t port) {
  in_addr a{ip_network_order};
  return std::string(inet_ntoa(a)) + ":" + std::to_string(port);
}

class UdpSocket {
 public:
  explicit UdpSocket(const char* ip, bool broadcast = false) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    int one = 1;
    if (broadcast) setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(ip);
    socklen_t len = sizeof a;
    bound_ = bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), len) == 0 &&
             getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0;
    port_ = ntohs(a.sin_port);
  }
  bool bound() const { return bound_; }
  uint16_t port() const { return port_; }

  bool SendTo(const char* ip, uint16_t port, const Bytes& bytes) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(ip);
    a.sin_port = htons(port);
    return sendto(fd_.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(bytes.size());
  }

  std::optional<Received> Receive(int timeout_ms) const {
    pollfd p{fd_.get(), POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return std::nullopt;
    Bytes buf(65536);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd_.get(), buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    buf.resize(static_cast<size_t>(n));
    return Received{buf, Endpoint(from.sin_addr.s_addr, ntohs(from.sin_port))};
  }

 private:
  devsim::UniqueFd fd_;
  bool bound_ = false;
  uint16_t port_ = 0;
};

inline constexpr uint16_t kChannelPort = 4900;

// Request frame: code, 1, big-endian payload length, payload.
inline Bytes Frame(uint8_t code, const Bytes& payload = {}, uint8_t second = 1) {
  size_t n = payload.size();
  return Cat({{code, second, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}, payload});
}

// A raw client of a device's session channel, from 127.0.0.1; every wait is bounded.
class TcpClient {
 public:
  // Connected, or the connect's errno in error().
  explicit TcpClient(const char* ip, uint16_t port = kChannelPort)
      : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    int one = 1;
    setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(ip);
    a.sin_port = htons(port);
    error_ = connect(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
  }
  bool connected() const { return error_ == 0; }
  int error() const { return error_; }
  uint16_t port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }

  bool Send(const Bytes& bytes) const {
    return send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  // One recv() within the time-out: what one read delivers; empty on time-out or when the peer closed.
  Bytes ReadOnce(int timeout_ms) const {
    pollfd p{fd_.get(), POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return {};
    Bytes buf(65536);
    ssize_t n = recv(fd_.get(), buf.data(), buf.size(), 0);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
  }

  // Exactly n bytes, or fewer when the time-out passes or the peer closes first.
  Bytes Read(size_t n, int timeout_ms = 1000) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    Bytes out;
    while (out.size() < n) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd_.get(), POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) break;
      Bytes buf(n - out.size());
      ssize_t got = recv(fd_.get(), buf.data(), buf.size(), 0);
      if (got <= 0) break;
      out.insert(out.end(), buf.begin(), buf.begin() + got);
    }
    return out;
  }

  // One whole reply frame, or nothing within the time-out.
  std::optional<Bytes> ReadFrame(int timeout_ms = 1000) const {
    Bytes header = Read(4, timeout_ms);
    if (header.size() != 4) return std::nullopt;
    size_t length = size_t{header[2]} << 8 | header[3];
    Bytes payload = Read(length, timeout_ms);
    if (payload.size() != length) return std::nullopt;
    return Cat({header, payload});
  }

  // The reply to one request, as a whole frame.
  std::optional<Bytes> Exchange(const Bytes& request, int timeout_ms = 1000) const {
    if (!Send(request)) return std::nullopt;
    return ReadFrame(timeout_ms);
  }

  // True once the peer has closed the connection, within the time-out.
  bool Closed(int timeout_ms) const {
    pollfd p{fd_.get(), POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return false;
    char c;
    return recv(fd_.get(), &c, 1, MSG_PEEK) <= 0;
  }

 private:
  devsim::UniqueFd fd_;
  int error_ = 0;
};

// Waits (bounded) until the log holds n entries: the emulator writes a tx line only after the datagram left.
inline std::vector<lab::LogEntry> WaitLog(const lab::Devsim& devsim, size_t n) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    auto log = devsim.Log();
    if (log.size() >= n || std::chrono::steady_clock::now() >= deadline) return log;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

inline std::string Directions(const std::vector<lab::LogEntry>& log) {
  std::string out;
  for (const auto& e : log) out += std::string(out.empty() ? "" : " ") + (e.rx ? "rx" : "tx");
  return out;
}

class DevsimTest : public testing::Test {
 protected:
  void Start(const std::vector<std::string>& args) {
    std::string error;
    devsim_ = lab::Devsim::Start(args, "", &error);
    ASSERT_TRUE(devsim_) << error;
    ASSERT_TRUE(client_.bound());
  }
  void StartDevice(const std::string& knobs = "") { Start({"--device", kDevice + (knobs.empty() ? "" : ",") + knobs}); }

  // Sends to the usual device and returns its one reply, or nothing within the time-out.
  std::optional<Bytes> Ask(const Bytes& request, int timeout_ms = 1000) {
    if (!client_.SendTo("127.0.0.2", kDevicePort, request)) return std::nullopt;
    auto reply = client_.Receive(timeout_ms);
    if (!reply) return std::nullopt;
    return reply->bytes;
  }

  UdpSocket client_{"127.0.0.1"};
  std::unique_ptr<lab::Devsim> devsim_;
};

}  // namespace devsim_peer
