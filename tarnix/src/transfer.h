// File transfers over the logged-in session channel: the image upload (from a
// file or from memory), the download into a caller's buffer, and the firmware
// file that holds two images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"
#include "platform/platform.h"

namespace tarnix::transfer {

constexpr uint32_t kProgressBit = 0x80000000u;
constexpr int32_t kStageData = 20;
constexpr int32_t kStageStore = 40;
constexpr size_t kChunk = 256;          // most bytes per data send or keep receive
constexpr size_t kScratch = 1024;       // most bytes per receive of data that is dropped
constexpr uint32_t kLookMs = 500;       // longest wait between looks for the final reply
constexpr uint32_t kStoreMarginMs = 2000;

constexpr uint8_t kKernelImage = 5;
constexpr uint8_t kFileImage = 6;
constexpr uint8_t kApplicationImage = 8;

// Where the bytes of an upload come from, read just before they are sent.
class Source {
 public:
  virtual ~Source() = default;
  // Points *out at the next n bytes (n <= kChunk); false when they cannot all
  // be had, so that no byte is sent that was not read.
  virtual bool next(size_t n, const uint8_t** out) = 0;
};

class FileSource : public Source {
 public:
  explicit FileSource(platform::ReadFile& file) : file_(file) {}
  bool next(size_t n, const uint8_t** out) override;

 private:
  platform::ReadFile& file_;
  uint8_t chunk_[kChunk];
};

class MemorySource : public Source {
 public:
  MemorySource(const uint8_t* data, size_t len) : data_(data), left_(len) {}
  bool next(size_t n, const uint8_t** out) override;

 private:
  const uint8_t* data_;
  size_t left_;
};

// How the two kinds of upload differ: the images wait for an answer to their
// start frame, report percentages in tens and allow the device 2000 ms beyond
// the upgrade time-out; the configuration upload does none of that.
struct Style {
  bool answered_start;
  bool in_tens;
  uint32_t margin_ms;
};
constexpr Style kImageStyle{true, true, kStoreMarginMs};
constexpr Style kConfigStyle{false, false, 0};

// part x 100 / whole, truncated, optionally rounded down to a multiple of 10,
// at most 100; 100 when whole is 0 or less (nothing to divide by).
int32_t percent(uint64_t part, int64_t whole, bool in_tens);

// The final reply of an upload, exactly 4 bytes: code, status, length 0.
int judge_final(uint8_t code, const uint8_t* data, size_t len);

// Start frame, data in chunks after a writable wait each, then the wait for
// the final reply and its judgement. Internal result.
int upload(uint8_t code, int fd, Source& source, uint32_t size, const Timing& timing, const Style& style);

// Request, 8-byte reply with the total, then min(total, capacity) bytes into
// buffer and the rest dropped. *total (when not null) receives the announced
// total as soon as it is known. Internal result.
int download(uint8_t code, int fd, uint8_t* buffer, uint32_t capacity, const Timing& timing, uint32_t* total);

// ---- Firmware file ----------------------------------------------------------

constexpr size_t kMagicSize = 4;
constexpr size_t kDescriptorOffset = 64;
constexpr size_t kDescriptorSize = 16;
constexpr size_t kFirmwareHeaderSize = kDescriptorOffset + 2 * kDescriptorSize;
constexpr size_t kWebHeaderSize = 44;

struct Section {
  uint16_t type;
  uint32_t offset;
  uint32_t length;
};

// The two section descriptors of bytes 64-95 (little-endian).
bool decode_descriptors(const uint8_t* data, size_t len, Section out[2]);
bool has_magic(const uint8_t* data, size_t len);
// The upload code for a section type; 0 for a type outside the table.
uint8_t section_code(uint16_t type);
// The upgrade time-out of each section, in proportion to their lengths; two
// empty sections share it evenly.
void split_timeout(int32_t total, uint32_t l1, uint32_t l2, int32_t* t1, int32_t* t2);
// Section 1's header text (up to its first NUL) against text from its fifth
// character on; an empty header always passes.
bool header_matches(const uint8_t* header, size_t len, const char* text);

}  // namespace tarnix::transfer
