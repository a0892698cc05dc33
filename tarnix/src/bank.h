// Configuration banks: one request reads or writes part of a bank, with its
// own waits; the four bank exports return these internal results unmapped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"

namespace tarnix::bank {

constexpr uint8_t kWrite = 20;
constexpr uint8_t kRead = 21;
constexpr uint32_t kBankSize = 32768;  // the most one bank transfer carries
constexpr size_t kReadRequestSize = 16;
constexpr size_t kReadReplyMost = 12;
constexpr size_t kWriteRequestSize = 12;
constexpr uint32_t kWriteWaitExtraMs = 1000;
// Internal result of a length beyond the bank limit, returned as it is.
constexpr int kBeyondLimit = -14;

// The bank read request: bank, offset and length fields as the export fills
// them (each 4 bytes as they go on the wire).
void encode_read(uint8_t out[kReadRequestSize], const uint8_t bank[4], const uint8_t offset[4],
                 const uint8_t length[4]);
void encode_write(uint8_t out[kWriteRequestSize], uint32_t length, const uint8_t bank[4]);

// The reply header of a bank read: kOk with *size, or kMalformed.
int judge_read_reply(const uint8_t* data, size_t len, uint32_t* size);
// The reply of a bank write: kOk or kMalformed.
int judge_write_reply(const uint8_t* data, size_t len);

struct ReadTarget {
  uint8_t* data;        // where the kept bytes go
  uint32_t capacity;    // the most that is kept; the rest is read and dropped
  uint32_t data_wait_ms;
  uint32_t* size;       // receives the announced size when it is not 0 (may be null)
};

// Sends the request, awaits the reply and reads the data. Internal result.
int read(int fd, const Timing& timing, const uint8_t request[kReadRequestSize], const ReadTarget& target);
// Sends the request and the data, awaits the reply. Internal result.
int write(int fd, const Timing& timing, const uint8_t request[kWriteRequestSize], const uint8_t* data,
          uint32_t length);

}  // namespace tarnix::bank
