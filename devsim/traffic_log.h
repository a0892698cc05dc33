#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "unique_fd.h"

namespace devsim {

// One line per datagram or channel frame received or sent, written with a single write() so a reader never
// waits for a flush:
// <t_ms> <device> <rx|tx> <peer-ip>:<port> <local-ip>:<port> <length> <hex, - when empty, or a marker>
// A marker (length 0) stands for a channel connection event: kOpenMarker when a peer's connection is
// accepted (rx), kCloseMarker when it ends (rx: the peer closed it, tx: the device did).
class TrafficLog {
 public:
  static constexpr std::string_view kOpenMarker = "tcp-open";
  static constexpr std::string_view kCloseMarker = "tcp-close";
  // Transfers: raw bytes received (rx) or sent (tx) after a frame, their count as the length; and, once an
  // upload or bank write is complete, "stored:<code>:<FNV-1a of the bytes, 8 hex digits>" with its size.
  static constexpr std::string_view kUploadDataMarker = "upload-data";
  static constexpr std::string_view kDownloadDataMarker = "download-data";
  static constexpr std::string_view kStoredMarker = "stored:";

  // Without Open() nothing is recorded.
  bool Open(const std::string& path, std::string* error);
  void Record(std::string_view device, bool rx, uint32_t peer_ip, uint16_t peer_port, uint32_t local_ip,
              uint16_t local_port, std::span<const uint8_t> bytes);
  void RecordEvent(std::string_view device, bool rx, uint32_t peer_ip, uint16_t peer_port, uint32_t local_ip,
                   uint16_t local_port, std::string_view marker, size_t length = 0);

 private:
  void Write(std::string_view device, bool rx, uint32_t peer_ip, uint16_t peer_port, uint32_t local_ip,
             uint16_t local_port, size_t length, std::string_view data);

  UniqueFd fd_;
};

// CLOCK_MONOTONIC in nanoseconds.
int64_t MonotonicNs();

std::string FormatIpv4(uint32_t ip);

}  // namespace devsim
