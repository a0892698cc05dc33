#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <queue>
#include <string>
#include <vector>

#include "channel.h"
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
  static constexpr size_t kMaxConnections = 256;
  static constexpr size_t kMaxUnsent = 1 << 20;  // a peer that reads nothing is dropped beyond this
  static constexpr int64_t kSplitPauseNs = 50'000'000;

  struct Endpoint {
    UniqueFd fd;
    size_t device;
    uint32_t local_ip;
    uint16_t local_port;
    bool listens;  // the socket that only sends other_port replies is never read
  };
  struct Listener {
    UniqueFd fd;
    size_t device;
  };
  struct Connection {
    UniqueFd fd;
    size_t device;
    uint32_t peer_ip;
    uint16_t peer_port;
    wire::FrameReader reader;
    ChannelState state;
    int64_t last_due_ns = 0;  // replies leave in order, so a later one is never due before this
    size_t queued = 0;        // segments waiting in the timer queue; none may be overtaken
    std::vector<uint8_t> unsent;  // what the socket has not taken yet
    bool close_when_sent = false;  // the device restarts: its last reply leaves, then the connection ends
    int64_t stall_until_ns = 0;    // upload_stall=: nothing is read before then
  };
  struct Pending {
    int64_t due_ns;
    uint64_t seq;  // keeps replies due at the same time in the order they were made
    uint64_t connection;  // 0: a datagram from endpoint to peer
    size_t endpoint;
    sockaddr_in peer;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> frame;  // a channel frame, logged once its last segment is written; else empty
    uint32_t repeat_ms = 0;      // an IP location report sent again this much later; 0: once
    size_t raw = 0;              // raw bytes after the frame (a download's data), logged as a count
    bool operator>(const Pending& o) const { return due_ns != o.due_ns ? due_ns > o.due_ns : seq > o.seq; }
  };
  struct Device {
    Responder responder;
    size_t other_port_endpoint = kNone;
  };

  // A non-blocking socket bound to ip:port, listening when it is a stream; invalid and *error set on failure.
  UniqueFd BoundSocket(size_t device, int type, uint32_t ip, uint16_t port, bool reuse, std::string* error);
  bool Bind(size_t device, uint32_t ip, uint16_t port, bool reuse, std::string* error);
  bool Listen(size_t device, std::string* error);
  void ReceiveAll(size_t endpoint);
  void Send(size_t endpoint, const sockaddr_in& peer, const std::vector<uint8_t>& bytes);
  void Accept(const Listener& listener);
  void ReadConnection(uint64_t id);
  void Process(uint64_t id);
  bool TakeIncoming(uint64_t id);
  void ResumeStalled();
  void Reply(uint64_t id, std::vector<uint8_t> frame, std::vector<uint8_t> raw = {}, int64_t extra_ns = 0);
  void Write(uint64_t id, const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& frame, size_t raw);
  void Flush(uint64_t id);
  void Close(uint64_t id, bool by_peer);
  void Restart(uint64_t id);
  void LogFrame(const Connection& c, bool rx, std::span<const uint8_t> bytes);
  void SendDue();
  int PollTimeoutMs() const;

  std::vector<Device> devices_;
  std::vector<Endpoint> endpoints_;
  std::vector<Listener> listeners_;
  std::map<uint64_t, Connection> connections_;
  uint64_t next_connection_ = 1;
  TrafficLog& log_;
  std::priority_queue<Pending, std::vector<Pending>, std::greater<>> pending_;
  uint64_t next_seq_ = 0;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(65536);  // larger than any UDP datagram
};

}  // namespace devsim
