#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace devsim {

// One line per datagram received or sent, written with a single write() so a reader never waits for a flush:
// <t_ms> <device> <rx|tx> <peer-ip>:<port> <local-ip>:<port> <length> <hex or ->
class TrafficLog {
 public:
  // Without Open() nothing is recorded.
  bool Open(const std::string& path, std::string* error);
  void Record(std::string_view device, bool rx, uint32_t peer_ip, uint16_t peer_port, uint32_t local_ip,
              uint16_t local_port, std::span<const uint8_t> bytes);

 private:
  UniqueFd fd_;
};

// CLOCK_MONOTONIC in nanoseconds.
int64_t MonotonicNs();

std::string FormatIpv4(uint32_t ip);

}  // namespace devsim
