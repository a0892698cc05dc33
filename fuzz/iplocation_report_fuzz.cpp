// An IP location report datagram as the listener receives it.
#include <cstring>
#include <memory>

#include "fuzz_target.h"
#include "iplocation.h"
#include "result.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Longer datagrams than the listener lets through are decoded too: the
  // decoder must not rely on the listener's limit.
  auto record = std::make_unique<IPLOCATIONPOLLINFO>();
  std::memset(record.get(), 0xa5, sizeof *record);
  const int r = tarnix::iplocation::decode_report(data, size, record.get());
  if (r != tarnix::kOk && r != tarnix::kMalformed) __builtin_trap();
  return 0;
}
