#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "commands.h"
#include "device.h"

namespace devsim {

// Decides, for one device, what it answers to each datagram, the way a device would: anything it does not
// understand or that is not meant for it gets no answer.
class Responder {
 public:
  explicit Responder(DeviceConfig device) : device_(std::move(device)), state_(InitialState(device_)) {}

  const DeviceConfig& device() const { return device_; }

  // The reply datagram, already shaped by the fault knobs that change bytes; nothing when the device stays silent.
  std::optional<std::vector<uint8_t>> Respond(std::span<const uint8_t> datagram);

 private:
  DeviceConfig device_;
  DeviceState state_;
  std::array<uint64_t, 128> well_formed_seen_{};  // per command code, for answer_nth
};

}  // namespace devsim
