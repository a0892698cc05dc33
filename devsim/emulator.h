#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <queue>
#include <string>
#include <vector>

#include "protocol.h"
#include "traffic_log.h"
#include "unique_fd.h"

namespace devsim {

// Every device's sockets served by one poll() loop; delayed replies wait in a timer queue instead of blocking it.
class Emulator {
 public:
  Emulator(std::vector<DeviceConfig> devices, TrafficLog& log);

  // Binds every socket; on failure *error names the device and address.
  bool Open(std::string* error);

  // Serves until stop_fd becomes readable; returns the process exit code.
  int Run(int stop_fd);

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  struct Endpoint {
    UniqueFd fd;
    size_t device;
    uint32_t local_ip;
    uint16_t local_port;
    bool listens;  // the socket that only sends other_port replies is never read
  };
  struct Pending {
    int64_t due_ns;
    uint64_t seq;  // keeps replies due at the same time in the order they were made
    size_t endpoint;
    sockaddr_in peer;
    std::vector<uint8_t> bytes;
    bool operator>(const Pending& o) const { return due_ns != o.due_ns ? due_ns > o.due_ns : seq > o.seq; }
  };
  struct Device {
    Responder responder;
    size_t other_port_endpoint = kNone;
  };

  bool Bind(size_t device, uint32_t ip, uint16_t port, bool reuse, std::string* error);
  void ReceiveAll(size_t endpoint);
  void Send(size_t endpoint, const sockaddr_in& peer, const std::vector<uint8_t>& bytes);
  void SendDue();
  int PollTimeoutMs() const;

  std::vector<Device> devices_;
  std::vector<Endpoint> endpoints_;
  TrafficLog& log_;
  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> pending_;
  uint64_t next_seq_ = 0;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(65536);  // larger than any UDP datagram
};

}  // namespace devsim
