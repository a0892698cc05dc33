// Our thin layer over the operating system. Everything above it speaks in
// IPv4 addresses in network byte order and millisecond ticks; the Linux backend
// lives in linux.cpp, a Windows one can sit beside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tarnix::platform {

// ---- Time -------------------------------------------------------------

// Millisecond tick counter; wraps at 2^32, so compare with tick_diff only.
uint32_t tick_ms();
// Elapsed milliseconds from `from` to `to`, correct across one wrap.
constexpr uint32_t tick_diff(uint32_t to, uint32_t from) { return to - from; }
void sleep_ms(uint32_t ms);

// ---- Addresses ----------------------------------------------------------

constexpr size_t kMaxLocalAddresses = 16;

// IPv4 addresses of the interfaces that are up, loopback excluded, in interface
// order, at most 16; when there is none, 127.0.0.1 if loopback is up.
std::vector<uint32_t> local_ipv4_addresses();

// ---- UDP sockets --------------------------------------------------------

enum class RecvStatus { kOk, kTooLarge, kError };

// An owned IPv4 UDP socket in blocking mode; closed on destruction.
class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() { close(); }
  UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  static UdpSocket open();  // !valid() on failure
  bool valid() const { return fd_ >= 0; }
  int handle() const { return fd_; }
  void close();

  bool set_broadcast();
  bool bind(uint32_t addr, uint16_t port);
  bool send_to(uint32_t addr, uint16_t port, const uint8_t* data, size_t len);
  // Receives one datagram into buf[0..cap). A datagram longer than cap is
  // consumed and reported as kTooLarge, with its real length in *len.
  RecvStatus recv_from(uint8_t* buf, size_t cap, size_t* len, uint32_t* from_addr, uint16_t* from_port);

 private:
  explicit UdpSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Waits at most timeout_ms (0: just looks) for any of the sockets to have data.
// Returns the index of the first readable socket in the given order, -1 when
// none became readable, -2 on failure.
int first_readable(std::span<const UdpSocket* const> sockets, uint32_t timeout_ms);

// ---- TCP ----------------------------------------------------------------
// The session channel keeps a plain descriptor in the session table, so these
// work on handles; the channel layer owns and closes them.

enum class ConnectStart { kDone, kPending, kError };
enum class ConnectPoll { kConnected, kNotYet, kFailed, kError };

int tcp_open_nonblocking();  // -1 on failure
ConnectStart tcp_connect_start(int fd, uint32_t addr, uint16_t port);
// Waits at most timeout_ms for the pending connect: kFailed when the attempt
// ended without a connection (refused, unreachable), kError when the wait
// itself failed.
ConnectPoll tcp_connect_poll(int fd, uint32_t timeout_ms);
bool tcp_set_blocking(int fd);
// One send call; a peer that has gone raises no signal.
void tcp_send(int fd, const uint8_t* data, size_t len);
// 1 readable, 0 not within timeout_ms, -1 failure.
int tcp_wait_readable(int fd, uint32_t timeout_ms);
// One receive of at most cap bytes: the count (0 when the peer closed) or -1.
long tcp_recv(int fd, uint8_t* buf, size_t cap);
void tcp_close(int fd);
// 1 writable, 0 not within timeout_ms, -1 failure.
int tcp_wait_writable(int fd, uint32_t timeout_ms);
// Blocking send of all len bytes; false when the connection failed.
bool tcp_send_all(int fd, const uint8_t* data, size_t len);
// Sends what the stack still holds back for coalescing, at once: the tail of
// a run of small sends would otherwise wait for the peer's delayed ack.
void tcp_flush(int fd);

// ---- Files --------------------------------------------------------------

// A regular file opened for reading, closed on destruction. Reads go through
// a fixed buffer, so memory does not depend on the file's size.
class ReadFile {
 public:
  ReadFile() = default;
  ~ReadFile();
  ReadFile(const ReadFile&) = delete;
  ReadFile& operator=(const ReadFile&) = delete;

  // False for a missing or unreadable path and for anything but a regular
  // file (a directory).
  bool open(const char* path);
  uint64_t size() const { return size_; }
  bool seek(uint64_t offset);
  // Up to n bytes from the current position; fewer only at the end of the
  // file or on a read error.
  size_t read(uint8_t* out, size_t n);

 private:
  static constexpr size_t kBufferSize = 64 * 1024;
  int fd_ = -1;
  uint64_t size_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t buffered_ = 0;
  size_t taken_ = 0;
};

// ---- Listener sockets held by the caller ------------------------------------
// The IP location listener hands its socket to the caller as a plain handle.

enum class ListenRecv { kOk, kNothing, kTooLarge, kError };

// A UDP socket bound to addr:port (network order address, host order port),
// without address reuse so that a port in use is refused; -1 on failure, with
// nothing left open.
int udp_listen(uint32_t addr, uint16_t port);
// Without waiting: 1 when a datagram (or an error) waits, 0 when nothing does,
// -1 when the handle cannot be looked at.
int udp_readable_now(int fd);
// Takes one datagram without blocking. A datagram longer than cap is consumed
// and reported as kTooLarge.
ListenRecv udp_recv_now(int fd, uint8_t* buf, size_t cap, size_t* len);
void udp_close(int fd);

}  // namespace tarnix::platform
