#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device.h"

namespace devsim {

// What changes while a device runs.
struct DeviceState {
  int64_t clock_offset_ms = 0;  // the device's clock minus the host's real-time clock
  std::optional<uint16_t> last_locate;
};

using Request = std::span<const uint8_t>;  // the datagram up to its length field
using Reply = std::optional<std::vector<uint8_t>>;

// One row per command a device understands.
struct Command {
  uint8_t code;
  bool query;                            // bytes 8-19 must name this device
  size_t request_length;                 // the least length field accepted
  bool (*well_formed)(Request request);  // further checks; null when there are none
  // The whole reply, at least the query header long, which the caller fills in; nothing: no answer.
  Reply (*answer)(const DeviceConfig& device, DeviceState& state, Request request);
};

// Null for a code no device understands.
const Command* FindCommand(uint8_t code);

DeviceState InitialState(const DeviceConfig& device);

// Sets the device's clock to a reading in milliseconds since 1970 as the device counts them.
void SetClock(DeviceState& state, int64_t device_ms);

}  // namespace devsim
