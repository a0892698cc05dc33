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

// Raw bytes a connection expects after a start frame: an image, a
// configuration or a bank write.
struct Incoming {
  uint8_t code = 0;
  uint64_t size = 0;
  uint64_t received = 0;
  uint32_t hash = 2166136261u;  // FNV-1a over every byte, for the log
  std::vector<uint8_t> kept = {};  // the bytes, while they fit what the device keeps
  uint32_t bank = 0;
};

// What one connection remembers between frames.
struct ChannelState {
  std::optional<std::array<uint8_t, wire::kChallengeSize>> challenge;  // used up by the next login
  bool logged_in = false;
  bool plain = false;  // the login sent the password itself
  std::string key;     // the password of this login; masks use it even after the password changes
  bool restart = false;  // the device restarts once the reply has left: every connection of it ends
  std::optional<Incoming> incoming;  // raw data follows before the next frame
};

struct ChannelAnswer {
  uint8_t status = kChannelOk;
  std::vector<uint8_t> payload = {};
  bool no_reply = false;     // the request is not answered (a configuration upload's start frame)
  std::vector<uint8_t> raw = {};  // bytes sent right after the reply frame (a download's data)
};

// A reply frame and the raw bytes that follow it; neither when nothing is sent.
struct ChannelReply {
  std::vector<uint8_t> frame;
  std::vector<uint8_t> raw;
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

// The reply frame to one whole request frame, already shaped by the channel fault knobs; an empty frame
// when the request is not answered.
ChannelReply AnswerFrame(Responder& device, ChannelState& state, std::span<const uint8_t> request);

// A reply frame shaped by cmd_status=, cmd_wrongcode= and cmd_badlen=.
std::vector<uint8_t> ShapeReply(const Faults& faults, uint8_t code, uint8_t status, std::span<const uint8_t> payload,
                                bool status_fault = true);
}  // namespace devsim
