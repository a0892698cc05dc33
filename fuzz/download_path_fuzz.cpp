// The download and bank read paths end to end: the input is everything a
// device sends after the request (reply frame, then data), written into one
// end of a socket pair that is then closed for writing; the library reads it
// from the other end with its real receive loop. Byte 0 picks the path
// (configuration, log, bank read), byte 1 the caller's capacity.
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "bank.h"
#include "fuzz_target.h"
#include "result.h"
#include "transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 60000) return 0;  // all of it must fit the pair's buffer at once
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
  const uint8_t* sent = data + 2;
  const size_t len = size - 2;
  const bool written = len == 0 || write(pair[1], sent, len) == static_cast<ssize_t>(len);
  shutdown(pair[1], SHUT_WR);
  if (written) {
    tarnix::Timing timing;
    timing.timeout = 0;  // everything is there already: never wait
    timing.retries = 0;
    const uint32_t capacity = 1 + data[1] * 64u;
    auto buffer = std::make_unique<uint8_t[]>(capacity);  // exactly the caller's buffer
    int r = tarnix::kOk;
    switch (data[0] % 3) {
      case 0:
        r = tarnix::transfer::download(12, pair[0], buffer.get(), capacity, timing, nullptr);
        break;
      case 1: {
        uint32_t total = 0;
        r = tarnix::transfer::download(13, pair[0], buffer.get(), capacity, timing, &total);
        break;
      }
      default: {
        uint8_t request[tarnix::bank::kReadRequestSize];
        const uint8_t bank[4] = {1, 0, 0, 0}, offset[4] = {}, length[4] = {0, 0, 1, 0};
        tarnix::bank::encode_read(request, bank, offset, length);
        uint32_t announced = 0;
        const tarnix::bank::ReadTarget target{buffer.get(), capacity, 0, &announced};
        r = tarnix::bank::read(pair[0], timing, request, target);
      }
    }
    if (r > tarnix::kOk) __builtin_trap();
  }
  close(pair[0]);
  close(pair[1]);
  return 0;
}
