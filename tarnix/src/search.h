// Device search: rounds of search requests listing the devices found so far.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarnix.h"

namespace tarnix::search {

constexpr uint8_t kCommand = 1;
constexpr size_t kReplySize = 24;
constexpr size_t kMaxFound = 256;
// The request lists at most 255 entries: the search ends with the 256th device.
constexpr size_t kMaxRequestSize = 8 + 12 * (kMaxFound - 1);

// Search reply layout after the datagram header.
constexpr size_t kOffAppId = 8;
constexpr size_t kOffModel = 12;
constexpr size_t kOffMac = 14;
constexpr size_t kOffReported = 20;
static_assert(kOffReported + 4 == kReplySize);

// Fills the identity and reported address of *out from a search reply (missing
// bytes read as zero; a longer datagram's tail is ignored). False, with *out
// untouched, when the datagram is not an acceptable search reply.
bool decode_reply(const uint8_t* data, size_t len, DSINFO* out);

}  // namespace tarnix::search
