#include "traffic_log.h"

#include <arpa/inet.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace devsim {

int64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

std::string FormatIpv4(uint32_t ip) {
  in_addr a{htonl(ip)};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

bool TrafficLog::Open(const std::string& path, std::string* error) {
  fd_ = UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
  if (!fd_) *error = "cannot open log " + path + ": " + std::strerror(errno);
  return static_cast<bool>(fd_);
}

void TrafficLog::Record(std::string_view device, bool rx, uint32_t peer_ip, uint16_t peer_port, uint32_t local_ip,
                        uint16_t local_port, std::span<const uint8_t> bytes) {
  if (!fd_) return;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : bytes) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  Write(device, rx, peer_ip, peer_port, local_ip, local_port, bytes.size(), bytes.empty() ? "-" : hex);
}

void TrafficLog::RecordEvent(std::string_view device, bool rx, uint32_t peer_ip, uint16_t peer_port,
                             uint32_t local_ip, uint16_t local_port, std::string_view marker, size_t length) {
  Write(device, rx, peer_ip, peer_port, local_ip, local_port, length, marker);
}

void TrafficLog::Write(std::string_view device, bool rx, uint32_t peer_ip, uint16_t peer_port, uint32_t local_ip,
                       uint16_t local_port, size_t length, std::string_view data) {
  if (!fd_) return;
  int64_t ns = MonotonicNs();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%lld.%03lld", static_cast<long long>(ns / 1'000'000),
                static_cast<long long>(ns / 1000 % 1000));
  std::string line = std::string(stamp) + " " + std::string(device) + (rx ? " rx " : " tx ") + FormatIpv4(peer_ip) +
                     ":" + std::to_string(peer_port) + " " + FormatIpv4(local_ip) + ":" + std::to_string(local_port) +
                     " " + std::to_string(length) + " " + std::string(data) + "\n";
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(fd_.get(), rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::fprintf(stderr, "tarnix-devsim: log write failed: %s\n", std::strerror(errno));
      return;
    }
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace devsim
