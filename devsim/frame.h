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

// Payloads of the commands that write settings, as offsets from the first payload byte. Interfaces are
// little-endian, addresses in network order.
struct TextPayload {  // name, time server
  static constexpr size_t kText = 0, kWidth = 40, kSize = kText + kWidth;
};
struct BytePayload {  // watchdog, debug, console, modem
  static constexpr size_t kValue = 0, kSize = 1;
};
struct RestartPayload {
  static constexpr size_t kMode = 0, kSize = 2;
};
inline constexpr uint8_t kSaveAndRestart = 0;
inline constexpr uint8_t kRestartOnly = 2;
struct TimePayload {  // the record a time query returns
  static constexpr size_t kSize = 16;
};
struct TimeZonePayload {
  static constexpr size_t kOffset = 0, kIndex = kOffset + 4, kSize = kIndex + 4;
};
struct AddressPayload {  // IP, netmask, gateway
  static constexpr size_t kAddress = 0, kInterface = kAddress + 4, kSize = kInterface + 2;
};
struct IpModePayload {
  static constexpr size_t kInterface = 0, kValue = kInterface + 2, kSize = kValue + 1;
};
struct DnsPayload {
  static constexpr size_t kInterface = 0, kFirst = kInterface + 4, kSecond = kFirst + 4, kSize = kSecond + 4;
};
// These carry the payload that the query of the same code returns, SNMP's blocks already in wire order.
struct SnmpPayload {
  static constexpr size_t kSetting = 0, kUnused = 1, kBlocks = 4, kSize = 164;
};
struct MailAlertPayload {
  static constexpr size_t kSize = 364;
};
struct AlertPayload {  // three 16-bit values, then two zero bytes the query does not return
  static constexpr size_t kValues = 0, kValuesWidth = 6, kSize = 8;
};
struct CmdStatePayload {
  static constexpr size_t kSize = 8;
};

// Masked commands: a field holding a secret travels XORed with MD5 over the login password and a nonce of the
// same frame; a 20-byte field repeats the digest's first four bytes.
inline constexpr size_t kMaskSize = 16;
inline constexpr size_t kNonceSize = 4;
inline constexpr size_t kLongSecretSize = 20;
struct SecretPayload {  // new password, private key
  static constexpr size_t kNonce = 0, kSecret = kNonce + kNonceSize, kCheckNonce = kSecret + kMaskSize,
                          kCheck = kCheckNonce + kNonceSize, kSize = kCheck + kMaskSize;
};
static_assert(SecretPayload::kCheck == 24 && SecretPayload::kSize == 40);
struct MailAccountPayload {
  static constexpr size_t kNonce = 0, kAccount = kNonce + kNonceSize, kAccountWidth = 16,
                          kPassword = kAccount + kAccountWidth, kSize = kPassword + kMaskSize;
};
static_assert(MailAccountPayload::kPassword == 20 && MailAccountPayload::kSize == 36);
struct PppConfigRecord {
  static constexpr size_t kSecret = 24, kUnused = 62, kUnusedWidth = 2, kSize = 168;
};
struct PppConfigPayload {
  static constexpr size_t kEntry = 0, kCount = 2, kNonce = 4, kRecord = kNonce + kNonceSize,
                          kSize = kRecord + PppConfigRecord::kSize;
};
static_assert(PppConfigPayload::kSize == 176);
struct PppConfigRequest {
  static constexpr size_t kEntry = 0, kSize = 4;
};
inline constexpr uint8_t kMaxPppEntry = 16;
struct PppAuthTable {  // as the device keeps it: names, then secrets
  static constexpr size_t kEntries = 16, kWidth = kLongSecretSize, kNames = 0, kSecrets = kEntries * kWidth,
                          kSize = 2 * kEntries * kWidth;
};
struct PppAuthPayload {
  static constexpr size_t kCount = 0, kNonce = 4, kTable = kNonce + kNonceSize, kSize = kTable + PppAuthTable::kSize;
};
static_assert(PppAuthPayload::kTable + PppAuthTable::kSecrets == 328 && PppAuthPayload::kSize == 648);

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

  // Up to max raw bytes from the front into *out (replacing it): data that follow a transfer's start frame.
  void TakeRaw(size_t max, std::vector<uint8_t>* out) {
    size_t n = std::min(max, buffer_.size());
    out->assign(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(n));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(n));
  }

  // Bytes received that make no whole frame yet.
  std::span<const uint8_t> pending() const { return buffer_; }

 private:
  std::vector<uint8_t> buffer_;
};

}  // namespace devsim::wire
