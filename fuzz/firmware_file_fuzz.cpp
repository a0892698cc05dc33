// A firmware file's head as read from disk: magic, the two section
// descriptors, their upload codes, the time-out split between them and the
// web-kernel header check of the first section's bytes.
#include <climits>
#include <cstring>

#include "fuzz_target.h"
#include "transfer.h"

namespace transfer = tarnix::transfer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  transfer::Section sections[2];
  if (!transfer::has_magic(data, size) || !transfer::decode_descriptors(data, size, sections)) return 0;
  for (const transfer::Section& s : sections) (void)transfer::section_code(s.type);
  // Every time-out the library may hold, including the unchecked ones.
  for (const int32_t total : {INT32_MIN, -1, 0, 1, 85000, INT32_MAX}) {
    int32_t t1 = 0, t2 = 0;
    transfer::split_timeout(total, sections[0].length, sections[1].length, &t1, &t2);
    if (total >= 0 && (t1 < 0 || t2 < 0 || t1 > total || t2 > total)) __builtin_trap();
  }
  // The header text is whatever follows the descriptors, as if section 1 started there.
  const uint8_t* header = data + transfer::kFirmwareHeaderSize;
  const size_t len = size - transfer::kFirmwareHeaderSize;
  (void)transfer::header_matches(header, len < transfer::kWebHeaderSize ? len : transfer::kWebHeaderSize, "XYZABC");
  return 0;
}
