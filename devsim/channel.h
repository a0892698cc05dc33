#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device.h"
#include "frame.h"

namespace devsim {

inline constexpr uint16_t kChannelPort = 4900;
inline constexpr uint8_t kChannelOk = 1;
inline constexpr uint8_t kChannelRefused = 251;

// What one connection remembers between frames.
struct ChannelState {
  std::optional<std::array<uint8_t, wire::kChallengeSize>> challenge;  // used up by the next login
  bool logged_in = false;
};

struct ChannelAnswer {
  uint8_t status = kChannelOk;
  std::vector<uint8_t> payload;
};

// One row per command the channel understands; later commands are further rows.
struct ChannelCommand {
  uint8_t code;
  bool before_login;  // allowed without a successful login
  ChannelAnswer (*answer)(const DeviceConfig& device, ChannelState& state, std::span<const uint8_t> payload);
};

// Null for a code without a row of its own.
const ChannelCommand* FindChannelCommand(uint8_t code);

// The reply frame to one whole request frame, already shaped by the channel fault knobs.
std::vector<uint8_t> AnswerFrame(const DeviceConfig& device, ChannelState& state, std::span<const uint8_t> request);


}  // namespace devsim
