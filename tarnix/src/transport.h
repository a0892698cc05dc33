// Datagram transport: socket sets on the local port series, the datagram and
// query headers, polling, waiting for a reply and the request/reply exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "frame.h"
#include "platform/platform.h"
#include "tarnix.h"

namespace tarnix::transport {

constexpr uint16_t kDevicePort = 4800;
constexpr uint16_t kFirstLocalPort = 13316;
constexpr uint16_t kLocalPortStep = 4096;
constexpr int kLocalPortSteps = 12;  // ports 13316 + 4096*k, k = 0..12
constexpr size_t kReceiveLimit = 2048;
constexpr uint32_t kBroadcast = 0xFFFFFFFFu;
constexpr uint32_t kWildcard = 0;
constexpr uint32_t kEmptyPollWaitMs = 10;

// Datagram header, first 8 bytes of every query and search datagram.
constexpr size_t kHeaderSize = 8;
constexpr size_t kOffCode = 0;
constexpr size_t kOffStatus = 1;
constexpr size_t kOffLength = 2;  // total length, big-endian
constexpr size_t kOffZero = 4;    // zero word
// Query header: the datagram header plus the device identity block.
constexpr size_t kIdentitySize = 12;
constexpr size_t kQueryHeaderSize = kHeaderSize + kIdentitySize;
constexpr uint8_t kReplyBit = 0x80;

constexpr uint16_t local_port(int k) { return static_cast<uint16_t>(kFirstLocalPort + kLocalPortStep * k); }
static_assert(local_port(kLocalPortSteps) == 62468);

// Writes the 8-byte datagram header of a request.
void encode_header(uint8_t* out, uint8_t code, uint16_t total_length);
// Writes application ID, model code and MAC of `device`, 12 bytes.
void encode_identity(uint8_t* out, const DSINFO& device);
// Writes the 20-byte query header.
void encode_query_header(uint8_t* out, uint8_t code, uint16_t total_length, const DSINFO& device);
// The acceptance rule for replies: code | 0x80, status 0, zero word 0.
bool is_reply_to(const uint8_t* data, size_t len, uint8_t code);

struct Received {
  size_t length = 0;
  uint32_t from_addr = 0;
  uint16_t from_port = 0;
  uint32_t local_addr = 0;  // address of the set's socket that received it
};

// The UDP sockets of one exchange or one search; closed on destruction.
class SocketSet {
 public:
  // One socket per given local address (kWildcard for the wildcard kind), each
  // bound to the first free port of the series; an address on which all 13
  // ports are taken is left out. kOk, or kSocketError when a socket cannot be
  // created or set up.
  int open(std::span<const uint32_t> addresses);
  void close();
  size_t size() const { return entries_.size(); }
  uint16_t port(size_t i) const { return entries_[i].port; }

  // Sends from every socket to dest:4800. kOk when at least one send succeeded.
  int send(uint32_t dest, const uint8_t* data, size_t len);
  // Takes one waiting datagram, if any, without blocking. The caller's buffer
  // is cleared first, so bytes a short datagram lacks read as zero; a longer
  // one is cut to cap; one over the receive limit is dropped (length 0).
  int poll(uint8_t* buf, size_t cap, Received* out);
  // Blocks at most timeout_ms until a socket of the set is readable.
  void wait_readable(uint32_t timeout_ms) const;

 private:
  struct Entry {
    platform::UdpSocket socket;
    uint32_t local_addr;
    uint16_t port;
  };
  std::vector<Entry> entries_;
};

// Waits for the reply to `code`: kOk, kTimeout, kSocketError or kCancelled.
int wait_reply(SocketSet& set, uint8_t code, uint8_t* buf, size_t cap, const Timing& timing, Received* out);

// Sends the request and waits, resending on time-out up to the retry count.
int exchange(uint8_t code, SocketSet& set, uint32_t dest, const uint8_t* request, size_t request_len, uint8_t* buf,
             size_t cap, const Timing& timing, Received* out);

}  // namespace tarnix::transport
