#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <span>
#include <vector>

#include "frame.h"
#include "protocol.h"

namespace devsim {

inline constexpr uint16_t kChannelPort = 4900;
inline constexpr uint8_t kChannelOk = 1;
inline constexpr uint8_t kChannelRefused = 251;

// What one connection remembers between frames.
struct ChannelState {
  std::optional<std::array<uint8_t, wire::kChallengeSize>> challenge;  // used up by the next login
  bool logged_in = false;
  bool plain = false;  // the login sent the password itself
  std::string key;     // the password of this login; masks use it even after the password changes
  bool restart = false;  // the device restarts once the reply has left: every connection of it ends
};

struct ChannelAnswer {
  uint8_t status = kChannelOk;
  std::vector<uint8_t> payload;
};

// One row per command the channel understands; later commands are further rows.
struct ChannelCommand {
  uint8_t code;
  bool before_login;  // allowed without a successful login
  const char* what;   // for the device's notes on stderr
  ChannelAnswer (*answer)(Responder& device, ChannelState& state, std::span<const uint8_t> payload);
};

// Null for a code without a row of its own.
const ChannelCommand* FindChannelCommand(uint8_t code);

// The reply frame to one whole request frame, already shaped by the channel fault knobs.
std::vector<uint8_t> AnswerFrame(Responder& device, ChannelState& state, std::span<const uint8_t> request);
}  // namespace devsim
