// Linux backend of the listener sockets: plain handles the caller keeps.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace tarnix::platform {

int udp_listen(uint32_t addr, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return -1;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = addr;
  sin.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int udp_readable_now(int fd) {
  pollfd p{fd, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0 || (p.revents & POLLNVAL) != 0) return -1;
  return r > 0 ? 1 : 0;
}

ListenRecv udp_recv_now(int fd, uint8_t* buf, size_t cap, size_t* len) {
  ssize_t n;
  do {
    // MSG_TRUNC makes the kernel report the datagram's real length.
    n = ::recv(fd, buf, cap, MSG_TRUNC | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? ListenRecv::kNothing : ListenRecv::kError;
  *len = static_cast<size_t>(n);
  return *len > cap ? ListenRecv::kTooLarge : ListenRecv::kOk;
}

void udp_close(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace tarnix::platform
