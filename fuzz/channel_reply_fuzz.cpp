// A session channel reply frame: byte 0 is the command code it answers, the
// rest the frame as received.
#include "channel.h"
#include "fuzz_target.h"
#include "result.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int r = tarnix::channel::judge_reply(data[0], data + 1, size - 1);
  switch (r) {
    case tarnix::kOk:
    case tarnix::kMalformed:
    case tarnix::kStatus251:
    case tarnix::kStatus252:
    case tarnix::kStatus254:
    case tarnix::kTimeout:
      return 0;
    default:
      __builtin_trap();  // only these results are documented for a reply
  }
}
