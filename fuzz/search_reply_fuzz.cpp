// A search reply datagram, as it arrives from the network.
#include <cstring>

#include "fuzz_target.h"
#include "search.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DSINFO before;
  std::memset(&before, 0xa5, sizeof before);
  DSINFO out = before;
  if (!tarnix::search::decode_reply(data, size, &out) && std::memcmp(&out, &before, sizeof out) != 0) {
    __builtin_trap();  // a refused reply must leave the record alone
  }
  return 0;
}
