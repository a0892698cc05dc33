#pragma once

// Transfers on the session channel: images and configurations uploaded as raw bytes after a start frame,
// the configuration and the log downloaded after their reply, and the configuration banks.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "channel.h"
#include "protocol.h"

namespace devsim {

inline constexpr uint32_t kBankSize = 32768;
inline constexpr uint32_t kBanks = 16;
// An image up to this size is kept whole; of a larger one only its size, checksum and header count.
inline constexpr uint64_t kKeptImageMost = 64u << 20;

// Small header of the device's own by which an application or kernel image states its version:
//   bytes 0-3 "TDVI", 4-7 version u32 little-endian (as codes 21 and 22 report it),
//   8-47 optional name, NUL-padded (an application image's name, reported by code 21)
struct VersionHeader {
  static constexpr size_t kMagic = 0, kVersion = 4, kName = 8, kNameWidth = 40, kSize = kName + kNameWidth;
};
inline constexpr char kVersionMagic[] = "TDVI";

// Whether a reply status lets the data of a transfer start frame follow.
bool TransferAccepted(uint8_t code, uint8_t status);

// Codes 5, 6 and 8 (images, start frame answered), 11 and 30 (configuration, start frame unanswered).
template <uint8_t kCode>
ChannelAnswer StartUpload(Responder& device, ChannelState& state, std::span<const uint8_t> payload);
ChannelAnswer SendConfig(Responder& device, ChannelState& state, std::span<const uint8_t> payload);
ChannelAnswer SendLog(Responder& device, ChannelState& state, std::span<const uint8_t> payload);
ChannelAnswer StartBankWrite(Responder& device, ChannelState& state, std::span<const uint8_t> payload);
ChannelAnswer ReadBank(Responder& device, ChannelState& state, std::span<const uint8_t> payload);
ChannelAnswer EraseBank(Responder& device, ChannelState& state, std::span<const uint8_t> payload);

// Adds raw bytes to what the connection expects (no more than it still lacks).
void AddIncoming(Incoming& incoming, std::span<const uint8_t> bytes);

struct Finished {
  uint8_t code;
  uint64_t size;
  uint32_t hash;
  std::optional<std::vector<uint8_t>> reply;  // nothing with upload_noreply=1
  int64_t delay_ns;
};
// Once every byte is in: applies the transfer, clears state.incoming and gives the final reply.
Finished FinishIncoming(Responder& device, ChannelState& state);

}  // namespace devsim
