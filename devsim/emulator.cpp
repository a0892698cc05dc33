#include "emulator.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace devsim {

Emulator::Emulator(std::vector<DeviceConfig> devices, TrafficLog& log) : log_(log) {
  for (DeviceConfig& d : devices) devices_.push_back(Device{Responder(std::move(d))});
}

bool Emulator::Bind(size_t device, uint32_t ip, uint16_t port, bool reuse, std::string* error) {
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(ip);
  addr.sin_port = htons(port);
  int one = 1;
  // Several devices may each listen for broadcasts on 0.0.0.0:4800, which Linux allows only when every socket
  // on that port, the unicast ones included, asks for address reuse.
  bool ok = fd && (!reuse || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0) &&
            ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  if (!ok) {
    *error = "device " + devices_[device].responder.device().name + ": cannot bind " + FormatIpv4(ip) + ":" +
             std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
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
  }
  return true;
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
        pending_.push(
            Pending{MonotonicNs() + int64_t{config.faults.delay_ms} * 1'000'000, next_seq_++, from, peer, *reply});
      }
    }
  }
}

void Emulator::SendDue() {
  int64_t now = MonotonicNs();
  while (!pending_.empty() && pending_.top().due_ns <= now) {
    const Pending& p = pending_.top();
    Send(p.endpoint, p.peer, p.bytes);
    pending_.pop();
  }
}

int Emulator::PollTimeoutMs() const {
  if (pending_.empty()) return -1;
  int64_t wait_ns = pending_.top().due_ns - MonotonicNs();
  if (wait_ns <= 0) return 0;
  return static_cast<int>((wait_ns + 999'999) / 1'000'000);
}

int Emulator::Run(int stop_fd) {
  std::vector<pollfd> fds;
  std::vector<size_t> polled;
  for (size_t i = 0; i < endpoints_.size(); ++i) {
    if (!endpoints_[i].listens) continue;
    fds.push_back(pollfd{endpoints_[i].fd.get(), POLLIN, 0});
    polled.push_back(i);
  }
  fds.push_back(pollfd{stop_fd, POLLIN, 0});
  for (;;) {
    SendDue();
    int n = ::poll(fds.data(), fds.size(), PollTimeoutMs());
    if (n < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "tarnix-devsim: poll failed: %s\n", std::strerror(errno));
      return 1;
    }
    if (fds.back().revents) return 0;
    for (size_t i = 0; i < polled.size(); ++i) {
      if (fds[i].revents & (POLLIN | POLLERR)) ReceiveAll(polled[i]);
    }
  }
}

}  // namespace devsim
