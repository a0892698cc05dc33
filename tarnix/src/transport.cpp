#include "transport.h"

#include <cstring>

#include "result.h"
#include "wire.h"

namespace tarnix::transport {

void encode_header(uint8_t* out, uint8_t code, uint16_t total_length) {
  out[kOffCode] = code;
  out[kOffStatus] = 0;
  wire::put_be16(out + kOffLength, total_length);
  wire::put_be32(out + kOffZero, 0);
}

void encode_identity(uint8_t* out, const DSINFO& device) {
  wire::put_raw(out, device.app_id);
  wire::put_raw(out + 4, device.model);
  std::memcpy(out + 6, device.mac, sizeof device.mac);
}

void encode_query_header(uint8_t* out, uint8_t code, uint16_t total_length, const DSINFO& device) {
  encode_header(out, code, total_length);
  encode_identity(out + kHeaderSize, device);
}

bool is_reply_to(const uint8_t* data, size_t len, uint8_t code) {
  if (len < kHeaderSize) {
    // The caller's buffer was cleared, so a short reply is judged on zeros.
    uint8_t padded[kHeaderSize];
    wire::Bytes{data, len}.copy(0, padded, kHeaderSize);
    return is_reply_to(padded, kHeaderSize, code);
  }
  return data[kOffCode] == static_cast<uint8_t>(code | kReplyBit) && data[kOffStatus] == 0 &&
         wire::get_be32(data + kOffZero) == 0;
}

int SocketSet::open(std::span<const uint32_t> addresses) {
  close();
  int k = 0;  // not reset between addresses: each starts where the last one ended
  for (uint32_t addr : addresses) {
    platform::UdpSocket s = platform::UdpSocket::open();
    if (!s.valid() || !s.set_broadcast()) {
      close();
      return kSocketError;
    }
    bool bound = s.bind(addr, local_port(k));
    while (!bound && k < kLocalPortSteps) {
      ++k;
      bound = s.bind(addr, local_port(k));
    }
    if (bound) entries_.push_back({std::move(s), addr, local_port(k)});
    if (entries_.size() == platform::kMaxLocalAddresses) break;
  }
  return kOk;
}

void SocketSet::close() { entries_.clear(); }

int SocketSet::send(uint32_t dest, const uint8_t* data, size_t len) {
  bool any = false;
  for (Entry& e : entries_) any = e.socket.send_to(dest, kDevicePort, data, len) || any;
  return any ? kOk : kSocketError;
}

namespace {
struct SocketList {
  const platform::UdpSocket* items[platform::kMaxLocalAddresses];
  size_t count = 0;
};
}  // namespace

int SocketSet::poll(uint8_t* buf, size_t cap, Received* out) {
  *out = Received{};
  SocketList list;
  for (const Entry& e : entries_) list.items[list.count++] = &e.socket;
  const int ready = platform::first_readable({list.items, list.count}, 0);
  if (ready == -2) return kSocketError;
  if (ready < 0) return kOk;

  Entry& e = entries_[static_cast<size_t>(ready)];
  uint8_t datagram[kReceiveLimit];
  size_t len = 0;
  uint32_t from = 0;
  uint16_t from_port = 0;
  const platform::RecvStatus st = e.socket.recv_from(datagram, sizeof datagram, &len, &from, &from_port);
  if (st == platform::RecvStatus::kError) return kSocketError;
  out->local_addr = e.local_addr;
  if (st == platform::RecvStatus::kTooLarge) return kOk;

  std::memset(buf, 0, cap);
  const size_t kept = len < cap ? len : cap;
  std::memcpy(buf, datagram, kept);
  out->length = kept;
  out->from_addr = from;
  out->from_port = from_port;
  return kOk;
}

void SocketSet::wait_readable(uint32_t timeout_ms) const {
  SocketList list;
  for (const Entry& e : entries_) list.items[list.count++] = &e.socket;
  // A failure here shows up again in the next poll, which reports it.
  platform::first_readable({list.items, list.count}, timeout_ms);
}

int wait_reply(SocketSet& set, uint8_t code, uint8_t* buf, size_t cap, const Timing& timing, Received* out) {
  const uint32_t start = platform::tick_ms();
  const uint32_t timeout = timing.timeout < 0 ? 0u : static_cast<uint32_t>(timing.timeout);
  do {
    if (timing.proc != nullptr && timing.proc(code, 0, 0, timing.user) == 0) return kCancelled;
    if (set.poll(buf, cap, out) != kOk) return kSocketError;
    if (out->length == 0) {
      // Instead of a blind sleep, wake the moment a datagram arrives.
      set.wait_readable(kEmptyPollWaitMs);
    } else if (is_reply_to(buf, out->length, code)) {
      return kOk;
    }
  } while (platform::tick_diff(platform::tick_ms(), start) <= timeout);
  return kTimeout;
}

int exchange(uint8_t code, SocketSet& set, uint32_t dest, const uint8_t* request, size_t request_len, uint8_t* buf,
             size_t cap, const Timing& timing, Received* out) {
  int attempts = 0;
  for (;;) {
    if (set.send(dest, request, request_len) != kOk) return kSocketError;
    const int r = wait_reply(set, code, buf, cap, timing, out);
    if (r != kTimeout) return r;
    if (++attempts >= timing.retries) return kTimeout;
  }
}

}  // namespace tarnix::transport
