#include "emulator.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <utility>

#include "serial.h"
#include "transfer.h"

namespace devsim {

Emulator::Emulator(std::vector<DeviceConfig> devices, TrafficLog& log) : log_(log) {
  for (DeviceConfig& d : devices) devices_.push_back(Device{Responder(std::move(d))});
}

UniqueFd Emulator::BoundSocket(size_t device, int type, uint32_t ip, uint16_t port, bool reuse, std::string* error) {
  UniqueFd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(ip);
  addr.sin_port = htons(port);
  int one = 1;
  bool stream = type == SOCK_STREAM;
  bool ok = fd && (!reuse || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0) &&
            (!reuse || !stream || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) == 0) &&
            ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
            (!stream || ::listen(fd.get(), SOMAXCONN) == 0);
  if (!ok) {
    *error = "device " + devices_[device].responder.device().name + ": cannot " +
             (stream ? "listen on " : "bind ") + FormatIpv4(ip) + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    return UniqueFd();
  }
  return fd;
}

bool Emulator::Bind(size_t device, uint32_t ip, uint16_t port, bool reuse, std::string* error) {
  // Several devices may each listen for broadcasts on 0.0.0.0:4800, which Linux allows only when every socket
  // on that port, the unicast ones included, asks for address reuse.
  UniqueFd fd = BoundSocket(device, SOCK_DGRAM, ip, port, reuse, error);
  if (!fd) return false;
  endpoints_.push_back(Endpoint{std::move(fd), device, ip, port, port == kDevicePort});
  return true;
}

bool Emulator::Open(std::string* error) {
  for (size_t i = 0; i < devices_.size(); ++i) {
    const DeviceConfig& d = devices_[i].responder.device();
    if (!Bind(i, d.ip, kDevicePort, true, error)) return false;
    if (d.bcast && !Bind(i, INADDR_ANY, kDevicePort, true, error)) return false;
    if (d.faults.other_port) {
      if (!Bind(i, d.ip, kOtherReplyPort, false, error)) return false;
      devices_[i].other_port_endpoint = endpoints_.size() - 1;
    }
    if (!d.faults.tcp_refuse && !Listen(i, error)) return false;
  }
  // IP location reports leave from the device's own socket, the first as soon as it runs.
  for (size_t e = 0; e < endpoints_.size(); ++e) {
    const DeviceConfig& d = devices_[endpoints_[e].device].responder.device();
    if (!d.report.to || endpoints_[e].local_ip != d.ip || endpoints_[e].local_port != kDevicePort) continue;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(d.report.to->first);
    peer.sin_port = htons(d.report.to->second);
    pending_.push(Pending{MonotonicNs(), next_seq_++, 0, e, peer, IpLocationReport(d), {}, d.report.every_ms});
  }
  return true;
}

bool Emulator::Listen(size_t device, std::string* error) {
  // As with the UDP sockets, an emulator started for the same address while the one it replaces is still
  // stopping must be able to listen, and a restarted one while old connections linger in TIME_WAIT.
  UniqueFd fd = BoundSocket(device, SOCK_STREAM, devices_[device].responder.device().ip, kChannelPort, true, error);
  if (!fd) return false;
  if (devices_[device].responder.device().faults.upload_stall_ms > 0) {
    // A small window, inherited by accepted connections, makes a stall back up to the peer quickly.
    int small = 4096;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  listeners_.push_back(Listener{std::move(fd), device});
  return true;
}

void Emulator::LogFrame(const Connection& c, bool rx, std::span<const uint8_t> bytes) {
  const DeviceConfig& d = devices_[c.device].responder.device();
  log_.Record(d.name, rx, c.peer_ip, c.peer_port, d.ip, kChannelPort, bytes);
}

void Emulator::Accept(const Listener& listener) {
  const DeviceConfig& d = devices_[listener.device].responder.device();
  for (int budget = 16; budget > 0; --budget) {
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    UniqueFd fd(::accept4(listener.fd.get(), reinterpret_cast<sockaddr*>(&peer), &peer_len,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
        std::fprintf(stderr, "tarnix-devsim: %s: accept failed: %s\n", d.name.c_str(), std::strerror(errno));
      }
      return;
    }
    uint32_t peer_ip = ntohl(peer.sin_addr.s_addr);
    uint16_t peer_port = ntohs(peer.sin_port);
    log_.RecordEvent(d.name, true, peer_ip, peer_port, d.ip, kChannelPort, TrafficLog::kOpenMarker);
    if (connections_.size() >= kMaxConnections || devices_[listener.device].responder.Restarting()) {
      // A reset rather than an orderly close, as from a device that is not listening.
      linger off{1, 0};
      ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &off, sizeof off);
      log_.RecordEvent(d.name, false, peer_ip, peer_port, d.ip, kChannelPort, TrafficLog::kCloseMarker);
      continue;
    }
    int one = 1;
    // Each reply, and each half of a split one, should leave as its own segment.
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Connection c{std::move(fd), listener.device, peer_ip, peer_port, {}, {}, 0, 0, {}, false, 0};
    connections_.emplace(next_connection_++, std::move(c));
  }
}

void Emulator::Close(uint64_t id, bool by_peer) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  const Connection& c = it->second;
  const DeviceConfig& d = devices_[c.device].responder.device();
  log_.RecordEvent(d.name, by_peer, c.peer_ip, c.peer_port, d.ip, kChannelPort, TrafficLog::kCloseMarker);
  connections_.erase(it);
}

void Emulator::ReadConnection(uint64_t id) {
  for (int budget = 16; budget > 0; --budget) {
    auto it = connections_.find(id);
    if (it == connections_.end()) return;
    Connection& c = it->second;
    if (c.stall_until_ns != 0) return;
    ssize_t n = ::recv(c.fd.get(), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0) {
      // What never became a whole frame is still shown, so a test sees everything that arrived.
      if (!c.reader.pending().empty()) LogFrame(c, true, c.reader.pending());
      Close(id, true);
      return;
    }
    std::span<const uint8_t> got(buffer_.data(), static_cast<size_t>(n));
    // Raw upload data go straight to the transfer, without a detour through the frame buffer.
    if (c.state.incoming && c.reader.pending().empty()) {
      const Incoming& in = *c.state.incoming;
      size_t raw = static_cast<size_t>(std::min<uint64_t>(got.size(), in.size - in.received));
      if (raw > 0) {
        const DeviceConfig& d = devices_[c.device].responder.device();
        log_.RecordEvent(d.name, true, c.peer_ip, c.peer_port, d.ip, kChannelPort, TrafficLog::kUploadDataMarker, raw);
        AddIncoming(*c.state.incoming, got.first(raw));
        got = got.subspan(raw);
      }
    }
    c.reader.Append(got);
    Process(id);
  }
}

bool Emulator::TakeIncoming(uint64_t id) {
  Connection& c = connections_.at(id);
  Incoming& in = *c.state.incoming;
  const DeviceConfig& d = devices_[c.device].responder.device();
  if (in.received < in.size) {
    std::vector<uint8_t> raw;
    c.reader.TakeRaw(static_cast<size_t>(std::min<uint64_t>(in.size - in.received, SIZE_MAX)), &raw);
    if (raw.empty()) return false;
    log_.RecordEvent(d.name, true, c.peer_ip, c.peer_port, d.ip, kChannelPort, TrafficLog::kUploadDataMarker,
                     raw.size());
    AddIncoming(in, raw);
    if (in.received < in.size) return false;
  }
  Finished done = FinishIncoming(devices_[c.device].responder, c.state);
  char stored[64];
  std::snprintf(stored, sizeof stored, "%s%u:%08x", std::string(TrafficLog::kStoredMarker).c_str(), done.code,
                done.hash);
  log_.RecordEvent(d.name, true, c.peer_ip, c.peer_port, d.ip, kChannelPort, stored, done.size);
  if (done.reply) Reply(id, std::move(*done.reply), {}, done.delay_ns);
  return connections_.contains(id);
}

void Emulator::Process(uint64_t id) {
  Responder& responder = devices_[connections_.at(id).device].responder;
  const DeviceConfig& d = responder.device();
  std::vector<uint8_t> frame;
  for (;;) {
    auto it = connections_.find(id);
    if (it == connections_.end()) return;
    Connection& c = it->second;
    if (c.close_when_sent || c.stall_until_ns != 0) return;
    if (c.state.incoming) {
      if (!TakeIncoming(id)) return;
      continue;
    }
    auto next = c.reader.Take(&frame);
    if (next == wire::FrameReader::Next::kNeedMore) return;
    if (next == wire::FrameReader::Next::kTooLong) {
      LogFrame(c, true, c.reader.pending());
      Close(id, false);
      return;
    }
    LogFrame(c, true, frame);
    if (d.faults.tcp_silent) continue;
    ChannelReply reply = AnswerFrame(responder, c.state, frame);
    if (c.state.restart) Restart(id);
    if (c.state.incoming && d.faults.upload_stall_ms > 0) {
      c.stall_until_ns = MonotonicNs() + int64_t{d.faults.upload_stall_ms} * 1'000'000;
    }
    if (!reply.frame.empty()) Reply(id, std::move(reply.frame), std::move(reply.raw));
  }
}

void Emulator::ResumeStalled() {
  int64_t now = MonotonicNs();
  std::vector<uint64_t> due;
  for (const auto& [id, c] : connections_) {
    if (c.stall_until_ns != 0 && c.stall_until_ns <= now) due.push_back(id);
  }
  for (uint64_t id : due) {
    connections_.at(id).stall_until_ns = 0;
    Process(id);
  }
}

void Emulator::Reply(uint64_t id, std::vector<uint8_t> frame, std::vector<uint8_t> raw, int64_t extra_ns) {
  Connection& c = connections_.at(id);
  const Faults& f = devices_[c.device].responder.device().faults;
  int64_t now = MonotonicNs();
  int64_t due = std::max(now + int64_t{f.delay_ms} * 1'000'000 + extra_ns, c.last_due_ns);
  size_t raw_size = raw.size();
  std::vector<uint8_t> bytes = frame;
  bytes.insert(bytes.end(), raw.begin(), raw.end());
  if (due <= now && c.queued == 0 && !f.cmd_split) {
    Write(id, bytes, frame, raw_size);
    return;
  }
  if (!f.cmd_split) {
    pending_.push(Pending{due, next_seq_++, id, 0, {}, std::move(bytes), std::move(frame), 0, raw_size});
    c.last_due_ns = due;
    ++c.queued;
    return;
  }
  auto half = static_cast<ptrdiff_t>(bytes.size() / 2);
  pending_.push(Pending{due, next_seq_++, id, 0, {}, {bytes.begin(), bytes.begin() + half}, {}, 0, 0});
  pending_.push(
      Pending{due + kSplitPauseNs, next_seq_++, id, 0, {}, {bytes.begin() + half, bytes.end()}, frame, 0, raw_size});
  c.last_due_ns = due + kSplitPauseNs;
  c.queued += 2;
}

void Emulator::Write(uint64_t id, const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& frame, size_t raw) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;  // closed while the reply waited
  Connection& c = it->second;
  c.unsent.insert(c.unsent.end(), bytes.begin(), bytes.end());
  if (!frame.empty()) LogFrame(c, false, frame);
  if (raw > 0) {
    const DeviceConfig& d = devices_[c.device].responder.device();
    log_.RecordEvent(d.name, false, c.peer_ip, c.peer_port, d.ip, kChannelPort, TrafficLog::kDownloadDataMarker, raw);
  }
  Flush(id);
}

void Emulator::Flush(uint64_t id) {
  Connection& c = connections_.at(id);
  while (!c.unsent.empty()) {
    ssize_t n = ::send(c.fd.get(), c.unsent.data(), c.unsent.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      Close(id, true);
      return;
    }
    c.unsent.erase(c.unsent.begin(), c.unsent.begin() + n);
  }
  if (c.unsent.size() > kMaxUnsent || (c.close_when_sent && c.unsent.empty() && c.queued == 0)) Close(id, false);
}

void Emulator::Restart(uint64_t id) {
  Connection& c = connections_.at(id);
  c.state.restart = false;
  c.close_when_sent = true;
  std::vector<uint64_t> others;
  for (const auto& [other, o] : connections_) {
    if (other != id && o.device == c.device) others.push_back(other);
  }
  for (uint64_t other : others) Close(other, false);
}

void Emulator::Send(size_t endpoint, const sockaddr_in& peer, const std::vector<uint8_t>& bytes) {
  const Endpoint& ep = endpoints_[endpoint];
  const std::string& name = devices_[ep.device].responder.device().name;
  ssize_t n =
      ::sendto(ep.fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  if (n < 0) {
    std::fprintf(stderr, "tarnix-devsim: %s: send to %s:%u failed: %s\n", name.c_str(),
                 FormatIpv4(ntohl(peer.sin_addr.s_addr)).c_str(), ntohs(peer.sin_port), std::strerror(errno));
    return;
  }
  log_.Record(name, false, ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port), ep.local_ip, ep.local_port, bytes);
}

void Emulator::ReceiveAll(size_t endpoint) {
  // Bounded so one busy socket cannot starve the others or the stop signal.
  for (int budget = 64; budget > 0; --budget) {
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    const Endpoint& ep = endpoints_[endpoint];
    ssize_t n = ::recvfrom(ep.fd.get(), buffer_.data(), buffer_.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&peer), &peer_len);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        std::fprintf(stderr, "tarnix-devsim: receive failed: %s\n", std::strerror(errno));
      }
      return;
    }
    std::span<const uint8_t> datagram(buffer_.data(), static_cast<size_t>(n));
    Device& device = devices_[ep.device];
    const DeviceConfig& config = device.responder.device();
    log_.Record(config.name, true, ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port), ep.local_ip, ep.local_port,
                datagram);

    auto reply = device.responder.Respond(datagram);
    if (!reply) continue;
    size_t from = config.faults.other_port ? device.other_port_endpoint : endpoint;
    int copies = config.faults.twice ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
      if (config.faults.delay_ms == 0) {
        Send(from, peer, *reply);
      } else {
        pending_.push(Pending{MonotonicNs() + int64_t{config.faults.delay_ms} * 1'000'000, next_seq_++, 0, from, peer,
                              *reply, {}, 0});
      }
    }
  }
}

void Emulator::SendDue() {
  int64_t now = MonotonicNs();
  while (!pending_.empty() && pending_.top().due_ns <= now) {
    Pending p = pending_.top();
    pending_.pop();
    if (p.connection != 0) {
      if (auto it = connections_.find(p.connection); it != connections_.end()) --it->second.queued;
      Write(p.connection, p.bytes, p.frame, p.raw);
    } else {
      Send(p.endpoint, p.peer, p.bytes);
      if (p.repeat_ms != 0) {
        p.due_ns = now + int64_t{p.repeat_ms} * 1'000'000;
        p.seq = next_seq_++;
        pending_.push(std::move(p));
      }
    }
  }
}

int Emulator::PollTimeoutMs() const {
  int64_t next_ns = pending_.empty() ? INT64_MAX : pending_.top().due_ns;
  for (const auto& [id, c] : connections_) {
    if (c.stall_until_ns != 0) next_ns = std::min(next_ns, c.stall_until_ns);
  }
  if (next_ns == INT64_MAX) return -1;
  int64_t wait_ns = next_ns - MonotonicNs();
  if (wait_ns <= 0) return 0;
  return static_cast<int>((wait_ns + 999'999) / 1'000'000);
}

int Emulator::Run(int stop_fd) {
  std::vector<pollfd> fds;
  enum class Kind { kDatagram, kListener, kConnection };
  std::vector<std::pair<Kind, uint64_t>> polled;
  for (;;) {
    SendDue();
    ResumeStalled();
    // Connections come and go, so the set is made anew each round.
    fds.clear();
    polled.clear();
    for (size_t i = 0; i < endpoints_.size(); ++i) {
      if (!endpoints_[i].listens) continue;
      fds.push_back(pollfd{endpoints_[i].fd.get(), POLLIN, 0});
      polled.emplace_back(Kind::kDatagram, i);
    }
    for (size_t i = 0; i < listeners_.size(); ++i) {
      fds.push_back(pollfd{listeners_[i].fd.get(), POLLIN, 0});
      polled.emplace_back(Kind::kListener, i);
    }
    for (const auto& [id, c] : connections_) {
      // A stalled connection is not read, so its peer's sends back up.
      short in = c.stall_until_ns != 0 ? 0 : POLLIN;
      fds.push_back(pollfd{c.fd.get(), static_cast<short>(in | (c.unsent.empty() ? 0 : POLLOUT)), 0});
      polled.emplace_back(Kind::kConnection, id);
    }
    fds.push_back(pollfd{stop_fd, POLLIN, 0});
    int n = ::poll(fds.data(), fds.size(), PollTimeoutMs());
    if (n < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "tarnix-devsim: poll failed: %s\n", std::strerror(errno));
      return 1;
    }
    if (fds.back().revents) return 0;
    for (size_t i = 0; i < polled.size(); ++i) {
      short revents = fds[i].revents;
      auto [kind, index] = polled[i];
      if (kind == Kind::kDatagram && (revents & (POLLIN | POLLERR))) ReceiveAll(index);
      if (kind == Kind::kListener && (revents & POLLIN)) Accept(listeners_[index]);
      if (kind == Kind::kConnection) {
        if ((revents & POLLOUT) && connections_.contains(index)) Flush(index);
        if (revents & (POLLIN | POLLERR | POLLHUP)) ReadConnection(index);
      }
    }
  }
}

}  // namespace devsim
