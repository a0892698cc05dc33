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
  explicit Responder(DeviceConfig device)
      : device_(std::move(device)), defaults_(device_.settings), state_(InitialState(device_)) {}

  const DeviceConfig& device() const { return device_; }
  // The session channel changes what the queries report.
  DeviceConfig& device() { return device_; }
  DeviceState& state() { return state_; }

  void FactoryDefault() { device_.settings = defaults_; }
  // For restart_ms= from now the device answers nothing and takes no connection.
  void Restart();
  bool Restarting() const;
  // How many frames of this code the session channel has seen, this one included.
  uint64_t CountChannelFrame(uint8_t code) { return ++channel_seen_[code]; }

  // The reply datagram, already shaped by the fault knobs that change bytes; nothing when the device stays silent.
  std::optional<std::vector<uint8_t>> Respond(std::span<const uint8_t> datagram);

 private:
  DeviceConfig device_;
  Settings defaults_;
  DeviceState state_;
  int64_t back_at_ns_ = 0;
  std::array<uint64_t, 128> well_formed_seen_{};  // per command code, for answer_nth
  std::array<uint64_t, 256> channel_seen_{};      // per channel command code, for cmd_status's N
};

}  // namespace devsim
