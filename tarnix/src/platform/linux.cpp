// Linux backend of the platform layer: POSIX sockets, poll, getifaddrs and the
// monotonic clock.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace tarnix::platform {

uint32_t tick_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Truncation to 32 bits is the point: callers only take wrap-safe differences.
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::vector<uint32_t> local_ipv4_addresses() {
  struct Entry {
    unsigned index;
    uint32_t addr;
  };
  std::vector<Entry> found;
  bool loopback_up = false;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    if ((it->ifa_flags & IFF_UP) == 0) continue;
    if ((it->ifa_flags & IFF_LOOPBACK) != 0) {
      loopback_up = true;
      continue;
    }
    sockaddr_in sin{};
    std::memcpy(&sin, it->ifa_addr, sizeof sin);
    found.push_back({if_nametoindex(it->ifa_name), sin.sin_addr.s_addr});
  }
  freeifaddrs(list);
  std::stable_sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.index < b.index; });

  std::vector<uint32_t> out;
  for (const Entry& e : found) {
    if (out.size() == kMaxLocalAddresses) break;
    out.push_back(e.addr);
  }
  if (out.empty() && loopback_up) out.push_back(htonl(INADDR_LOOPBACK));
  return out;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

UdpSocket UdpSocket::open() { return UdpSocket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)); }

void UdpSocket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool UdpSocket::set_broadcast() {
  int on = 1;
  return setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

static sockaddr_in make_sockaddr(uint32_t addr, uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = addr;
  sin.sin_port = htons(port);
  return sin;
}

bool UdpSocket::bind(uint32_t addr, uint16_t port) {
  sockaddr_in sin = make_sockaddr(addr, port);
  return ::bind(fd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
}

bool UdpSocket::send_to(uint32_t addr, uint16_t port, const uint8_t* data, size_t len) {
  sockaddr_in sin = make_sockaddr(addr, port);
  ssize_t n;
  do {
    n = ::sendto(fd_, data, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(len);
}

RecvStatus UdpSocket::recv_from(uint8_t* buf, size_t cap, size_t* len, uint32_t* from_addr, uint16_t* from_port) {
  sockaddr_in sin{};
  socklen_t sl = sizeof sin;
  ssize_t n;
  do {
    // MSG_TRUNC makes the kernel report the datagram's real length.
    n = ::recvfrom(fd_, buf, cap, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sin), &sl);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return RecvStatus::kError;
  *len = static_cast<size_t>(n);
  *from_addr = sin.sin_addr.s_addr;
  *from_port = ntohs(sin.sin_port);
  return static_cast<size_t>(n) > cap ? RecvStatus::kTooLarge : RecvStatus::kOk;
}

int first_readable(std::span<const UdpSocket* const> sockets, uint32_t timeout_ms) {
  pollfd fds[kMaxLocalAddresses];
  const size_t n = std::min(sockets.size(), kMaxLocalAddresses);
  for (size_t i = 0; i < n; ++i) fds[i] = pollfd{sockets[i]->handle(), POLLIN, 0};
  const uint32_t start = tick_ms();
  for (;;) {
    const uint32_t spent = tick_diff(tick_ms(), start);
    const int wait = spent >= timeout_ms ? 0 : static_cast<int>(timeout_ms - spent);
    const int r = ::poll(fds, static_cast<nfds_t>(n), wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -2;
    if (r == 0) return -1;
    for (size_t i = 0; i < n; ++i) {
      if ((fds[i].revents & POLLNVAL) != 0) return -2;
      if ((fds[i].revents & POLLIN) != 0) return static_cast<int>(i);
    }
    // Only a pending socket error (an ICMP report): clear it, as the datagram
    // model has no use for it, and report nothing readable.
    for (size_t i = 0; i < n; ++i) {
      if ((fds[i].revents & POLLERR) != 0) {
        int err = 0;
        socklen_t el = sizeof err;
        getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &err, &el);
      }
    }
    return -1;
  }
}

int tcp_open_nonblocking() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP); }

ConnectStart tcp_connect_start(int fd, uint32_t addr, uint16_t port) {
  sockaddr_in sin = make_sockaddr(addr, port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) return ConnectStart::kDone;
  return errno == EINPROGRESS || errno == EINTR ? ConnectStart::kPending : ConnectStart::kError;
}

ConnectPoll tcp_connect_poll(int fd, uint32_t timeout_ms) {
  pollfd p{fd, POLLOUT, 0};
  const int r = ::poll(&p, 1, static_cast<int>(timeout_ms));
  if (r < 0) return errno == EINTR ? ConnectPoll::kNotYet : ConnectPoll::kError;
  if (r == 0) return ConnectPoll::kNotYet;
  if ((p.revents & POLLNVAL) != 0) return ConnectPoll::kError;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return ConnectPoll::kError;
  return err == 0 ? ConnectPoll::kConnected : ConnectPoll::kFailed;
}

bool tcp_set_blocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void tcp_send(int fd, const uint8_t* data, size_t len) {
  ssize_t n;
  do {
    n = ::send(fd, data, len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
}

namespace {

// 1 when the socket is ready for these events, 0 after the time-out, -1 on failure.
int wait_ready(int fd, short events, uint32_t timeout_ms) {
  pollfd p{fd, events, 0};
  int r;
  do {
    r = ::poll(&p, 1, static_cast<int>(timeout_ms));
  } while (r < 0 && errno == EINTR);
  if (r < 0 || (p.revents & POLLNVAL) != 0) return -1;
  return r > 0 ? 1 : 0;
}

}  // namespace

// A closed or failed connection is readable: the receive tells what happened.
int tcp_wait_readable(int fd, uint32_t timeout_ms) { return wait_ready(fd, POLLIN, timeout_ms); }

long tcp_recv(int fd, uint8_t* buf, size_t cap) {
  ssize_t n;
  do {
    n = ::recv(fd, buf, cap, 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

void tcp_close(int fd) {
  if (fd >= 0) ::close(fd);
}

// A failed connection reads as writable: the send reports the failure.
int tcp_wait_writable(int fd, uint32_t timeout_ms) { return wait_ready(fd, POLLOUT, timeout_ms); }

bool tcp_send_all(int fd, const uint8_t* data, size_t len) {
  while (len > 0) {
    const ssize_t n = ::send(fd, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void tcp_flush(int fd) {
  // Switching Nagle's algorithm off pushes the pending segment; back on, later sends coalesce again.
  int on = 1, off = 0;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &off, sizeof off);
}

ReadFile::~ReadFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool ReadFile::open(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
  if (!buffer_) {
    ::close(fd);
    return false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  buffered_ = taken_ = 0;
  return true;
}

bool ReadFile::seek(uint64_t offset) {
  buffered_ = taken_ = 0;
  return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

size_t ReadFile::read(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (taken_ == buffered_) {
      ssize_t got;
      do {
        got = ::read(fd_, buffer_.get(), kBufferSize);
      } while (got < 0 && errno == EINTR);
      if (got <= 0) break;
      buffered_ = static_cast<size_t>(got);
      taken_ = 0;
    }
    const size_t take = std::min(n - done, buffered_ - taken_);
    std::memcpy(out + done, buffer_.get() + taken_, take);
    taken_ += take;
    done += take;
  }
  return done;
}

}  // namespace tarnix::platform
