// The command exchange: one frame over the logged-in session channel, built
// from the command table, wrapped in the temporary entries when needed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"

namespace tarnix::command {

// What an export hands its row: up to five values and one record.
struct Args {
  int32_t v[5] = {};
  const void* p = nullptr;
};

struct Row {
  uint8_t code;
  uint16_t payload_len;
  void (*encode)(uint8_t* payload, const Args& a);  // into a zero-filled payload
};

constexpr size_t kMaxPayload = 364;
// The largest payload of any command, the masked ones included.
constexpr size_t kMaxFramePayload = 648;

const Row* find_row(uint8_t code);

// Runs the command `code` on the session's open channel; internal result.
int run(uint8_t code, Session& s, const Args& args);
// The same for a row of another family's table (the serial commands).
int run(const Row& row, Session& s, const Args& args);

// One frame with the given payload over the session's channel, inside the
// temporary entries; the reply lands in reply[0..cap), its length in *got.
int exchange(Session& s, uint8_t code, const uint8_t* payload, size_t len, uint8_t* reply, size_t cap, size_t* got);

}  // namespace tarnix::command
