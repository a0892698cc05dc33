// IP location reports: the decoder of one report datagram and the listener
// exports around it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarnix.h"

namespace tarnix::iplocation {

constexpr size_t kMaxReport = 128;
constexpr size_t kMagicSize = 4;

// Decodes the items of a report into *record, which is never cleared. kOk,
// or kMalformed (record untouched) for fewer than 4 bytes or a wrong magic.
int decode_report(const uint8_t* data, size_t len, IPLOCATIONPOLLINFO* record);

}  // namespace tarnix::iplocation
