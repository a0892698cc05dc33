// Replies on the transfer paths: byte 0 picks the check (an upload's final
// reply, a bank read's reply header, a bank write's reply), byte 1 the upload
// code, the rest is the frame as received.
#include "bank.h"
#include "fuzz_target.h"
#include "result.h"
#include "transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t* reply = data + 2;
  const size_t len = size - 2;
  int r = tarnix::kOk;
  switch (data[0] % 3) {
    case 0:
      r = tarnix::transfer::judge_final(data[1], reply, len);
      break;
    case 1: {
      uint32_t bank_size = 0xa5a5a5a5;
      r = tarnix::bank::judge_read_reply(reply, len, &bank_size);
      if (r != tarnix::kOk && bank_size != 0xa5a5a5a5) __builtin_trap();  // written only on success
      break;
    }
    default:
      r = tarnix::bank::judge_write_reply(reply, len);
  }
  if (r > tarnix::kOk) __builtin_trap();
  return 0;
}
