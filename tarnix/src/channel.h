// The session channel: a TCP connection to the device's port 4900, the command
// frame, the frame exchange with its status byte, login and logout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"

namespace tarnix::channel {

constexpr uint16_t kDevicePort = 4900;
constexpr uint32_t kConnectProgressCode = 0x80000001u;
constexpr uint32_t kCommandProgressBit = 0x80000000u;
constexpr uint32_t kConnectPollMs = 10;
// After a refused attempt, the next one starts this much later: a device that
// is restarting comes back within the budget, and nothing spins meanwhile.
constexpr uint32_t kReconnectPauseMs = 100;

// Command frame header: code, 1 (status in replies), payload length big-endian.
constexpr size_t kHeaderSize = 4;
constexpr size_t kMaxPassword = 15;
constexpr uint8_t kChallengeCommand = 0;
constexpr uint8_t kLoginCommand = 1;
constexpr size_t kChallengeSize = 4;
constexpr size_t kResponseSize = 16;

void encode_header(uint8_t* out, uint8_t code, uint16_t payload_len);

// Judges one received reply to `code`: kOk, kMalformed or a status result.
int judge_reply(uint8_t code, const uint8_t* data, size_t len);

// Connects within time-out x retry count: kOk with *fd (blocking mode),
// kTimeout, kSocketError or kCancelled.
int open_connection(uint32_t addr, const Timing& timing, int* fd);

// One request, up to retry count + 1 waits of time-out each, one receive into
// reply[0..cap) (cleared first). *got receives the count received.
int frame_exchange(uint8_t code, int fd, const uint8_t* request, size_t len, uint8_t* reply, size_t cap,
                   const Timing& timing, size_t* got);

// The response to a challenge: the password in plain form (zero-padded) for
// the application ID family 0x800040xx, else MD5(password, challenge).
// Returns whether the plain form was chosen.
bool login_response(uint32_t app_id, const char* password, const uint8_t challenge[kChallengeSize],
                    uint8_t out[kResponseSize]);

}  // namespace tarnix::channel
