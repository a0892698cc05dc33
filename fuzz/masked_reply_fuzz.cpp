// The masked read replies: byte 0 picks the decoder (mail account, PPP
// configuration, PPP authentication table), the rest is the reply frame.
// Outputs are allocated at their exact sizes so that any write past them shows.
#include <memory>

#include "fuzz_target.h"
#include "masked.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* reply = data + 1;
  const size_t len = size - 1;
  const char* key = "pw";
  switch (data[0] % 3) {
    case 0: {
      auto account = std::make_unique<char[]>(15);
      auto password = std::make_unique<char[]>(15);
      tarnix::masked::decode_mail_account(key, reply, len, account.get(), password.get());
      break;
    }
    case 1: {
      auto config = std::make_unique<PPPCONFIGINFO>();
      tarnix::masked::decode_ppp_config(key, reply, len, config.get());
      if (config->unused62[0] != 0 || config->unused62[1] != 0) __builtin_trap();
      break;
    }
    default: {
      auto table = std::make_unique<PPPAUTHTABLEINFO>();
      if (tarnix::masked::decode_auth_table(key, reply, len, table.get()) > 16) __builtin_trap();
    }
  }
  return 0;
}
