// The query exchange and its command table: every read-only request to a
// device goes through here, one row per query key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"
#include "tarnix.h"
#include "transport.h"
#include "wire.h"

namespace tarnix::query {

// What an export hands its row: a value (interface, port, count, index) and
// up to two output pointers.
struct Args {
  int32_t value = 0;
  void* out = nullptr;
  void* out2 = nullptr;
  int32_t value2 = 0;  // a second value: the serial selector, the DIO end channel
};

struct Row;
using Handler = int (*)(const Row& row, transport::SocketSet& set, DSINFO& device, const Args& args,
                        const Timing& timing);

// One query: its key (also its command code), request length, reply capacity,
// how the arguments go into request bytes 20 on, and how a successful reply
// reaches the caller. A row with its own handler replaces the one-exchange
// pattern (the identity query, the paged connection table).
struct Row {
  uint16_t key;
  uint16_t request_len;
  uint16_t reply_cap;
  void (*encode)(uint8_t* args, const Args& a);
  void (*decode)(const wire::Bytes& reply, const Args& a);
  Handler handler;
};

constexpr size_t kMaxReplyCapacity = 4120;
constexpr size_t kMaxRequestLength = 24;

const Row* find_row(uint16_t key);

// Runs one query against the device: wildcard socket set, temporary entries
// when the direct flag is clear, the row's handler. Returns an internal result.
int run(uint16_t key, DSINFO& device, const Args& args, const Timing& timing);
// The same for a row of another family's table (the serial queries).
int run(const Row& row, DSINFO& device, const Args& args, const Timing& timing);

}  // namespace tarnix::query
