#pragma once

// Layout of the frames on a device's session channel (TCP), expressed once: a 4-byte header, then the payload.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "wire.h"

namespace devsim::wire {

struct FrameHeader {
  uint8_t code = 0;
  uint8_t second = 0;   // 1 in requests, the status in replies
  uint16_t length = 0;  // payload bytes after the header, big-endian
};
inline constexpr size_t kFrameSecondOffset = 1;
inline constexpr size_t kFrameLengthOffset = 2;
inline constexpr size_t kFrameHeaderSize = kFrameLengthOffset + 2;
static_assert(kFrameHeaderSize == 4);
// A device gives up on a peer that announces more; no command carries nearly as much.
inline constexpr size_t kMaxFramePayload = 4096;

inline constexpr size_t kChallengeSize = 4;
inline constexpr size_t kLoginResponseSize = 16;
inline constexpr size_t kMaxPasswordLength = kLoginResponseSize - 1;  // the plain form keeps a terminating zero

inline std::optional<FrameHeader> DecodeFrameHeader(std::span<const uint8_t> bytes) {
  Reader r(bytes);
  FrameHeader h;
  h.code = r.u8();
  h.second = r.u8();
  h.length = r.be16();
  if (!r.ok()) return std::nullopt;
  return h;
}

inline std::vector<uint8_t> EncodeFrame(const FrameHeader& h, std::span<const uint8_t> payload) {
  std::vector<uint8_t> out(kFrameHeaderSize + payload.size());
  out[0] = h.code;
  out[kFrameSecondOffset] = h.second;
  put_be16(&out[kFrameLengthOffset], h.length);
  std::copy(payload.begin(), payload.end(), out.begin() + kFrameHeaderSize);
  return out;
}

// Cuts a connection's byte stream into whole frames, however the segments fell.
class FrameReader {
 public:
  enum class Next { kFrame, kNeedMore, kTooLong };

  void Append(std::span<const uint8_t> bytes) { buffer_.insert(buffer_.end(), bytes.begin(), bytes.end()); }

  // On kFrame *frame holds the next whole frame, header included, and it leaves the buffer.
  Next Take(std::vector<uint8_t>* frame) {
    auto header = DecodeFrameHeader(buffer_);
    if (!header) return Next::kNeedMore;
    if (header->length > kMaxFramePayload) return Next::kTooLong;
    size_t size = kFrameHeaderSize + header->length;
    if (buffer_.size() < size) return Next::kNeedMore;
    frame->assign(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(size));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(size));
    return Next::kFrame;
  }

  // Bytes received that make no whole frame yet.
  std::span<const uint8_t> pending() const { return buffer_; }

 private:
  std::vector<uint8_t> buffer_;
};

}  // namespace devsim::wire
