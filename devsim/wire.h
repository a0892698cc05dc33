#pragma once

// Byte layouts of the datagrams a device server exchanges, each expressed once.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace devsim::wire {

inline void put_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
  put_be16(p, static_cast<uint16_t>(v >> 16));
  put_be16(p + 2, static_cast<uint16_t>(v));
}
inline void put_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
  put_le16(p, static_cast<uint16_t>(v));
  put_le16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline uint16_t get_be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t get_be32(const uint8_t* p) { return uint32_t{get_be16(p)} << 16 | get_be16(p + 2); }
inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
inline uint32_t get_le32(const uint8_t* p) { return uint32_t{get_le16(p + 2)} << 16 | get_le16(p); }

// Sequential reads that never step past the end; after a short read ok() stays false and every value is zero.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> data) : data_(data) {}

  bool ok() const { return ok_; }
  size_t remaining() const { return data_.size() - pos_; }

  std::span<const uint8_t> bytes(size_t n) {
    if (!ok_ || n > remaining()) {
      ok_ = false;
      return {};
    }
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  uint8_t u8() {
    auto b = bytes(1);
    return b.empty() ? 0 : b[0];
  }
  uint16_t be16() { return Fixed<2>(get_be16); }
  uint32_t be32() { return Fixed<4>(get_be32); }
  uint16_t le16() { return Fixed<2>(get_le16); }
  uint32_t le32() { return Fixed<4>(get_le32); }

 private:
  template <size_t N, class Get>
  auto Fixed(Get get) -> decltype(get(nullptr)) {
    auto b = bytes(N);
    return b.empty() ? 0 : get(b.data());
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

using Mac = std::array<uint8_t, 6>;

// Every datagram starts with this header.
struct Header {
  uint8_t code = 0;
  uint8_t status = 0;
  uint16_t length = 0;  // whole datagram, header included
  uint32_t word = 0;    // zero in every well-formed request
};
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kHeaderStatusOffset = 1;
inline constexpr size_t kHeaderLengthOffset = 2;
inline constexpr size_t kHeaderWordOffset = 4;
static_assert(kHeaderWordOffset + 4 == kHeaderSize);
inline constexpr uint8_t kReplyBit = 0x80;

inline std::optional<Header> DecodeHeader(std::span<const uint8_t> datagram) {
  Reader r(datagram);
  Header h;
  h.code = r.u8();
  h.status = r.u8();
  h.length = r.be16();
  h.word = r.be32();
  if (!r.ok()) return std::nullopt;
  return h;
}

inline void EncodeHeader(const Header& h, std::span<uint8_t, kHeaderSize> out) {
  out[0] = h.code;
  out[kHeaderStatusOffset] = h.status;
  put_be16(&out[kHeaderLengthOffset], h.length);
  put_be32(&out[kHeaderWordOffset], h.word);
}

// Who a device is: the searcher lists these for devices it already knows, and a search reply carries one.
struct Identity {
  uint32_t app = 0;
  uint16_t model = 0;
  Mac mac{};
  friend bool operator==(const Identity&, const Identity&) = default;
};
inline constexpr size_t kIdentitySize = 12;
inline constexpr size_t kIdentityModelOffset = 4;
inline constexpr size_t kIdentityMacOffset = 6;
static_assert(kIdentityMacOffset + std::tuple_size_v<Mac> == kIdentitySize);

inline Identity DecodeIdentity(Reader& r) {
  Identity id;
  id.app = r.le32();
  id.model = r.le16();
  auto mac = r.bytes(id.mac.size());
  if (!mac.empty()) std::copy(mac.begin(), mac.end(), id.mac.begin());
  return id;
}

inline void EncodeIdentity(const Identity& id, std::span<uint8_t, kIdentitySize> out) {
  put_le32(&out[0], id.app);
  put_le16(&out[kIdentityModelOffset], id.model);
  std::copy(id.mac.begin(), id.mac.end(), &out[kIdentityMacOffset]);
}

// A query, and every reply: the header, then the identity of the device asked (a reply repeats its own), then
// the command's arguments or the reply's payload.
inline constexpr size_t kQueryIdentityOffset = kHeaderSize;
inline constexpr size_t kQueryHeaderSize = kQueryIdentityOffset + kIdentitySize;
static_assert(kQueryHeaderSize == 20);

inline Identity QueryIdentity(std::span<const uint8_t> datagram) {
  Reader r(datagram.size() >= kQueryHeaderSize ? datagram.subspan(kQueryIdentityOffset, kIdentitySize)
                                               : std::span<const uint8_t>{});
  return DecodeIdentity(r);
}

// Reads from a fixed offset; past the end every value is zero.
inline Reader ReaderAt(std::span<const uint8_t> data, size_t offset) {
  return Reader(offset <= data.size() ? data.subspan(offset) : std::span<const uint8_t>{});
}

// A reply of fixed size filled field by field at datagram offsets. A field beyond the end is a layout error.
class Fields {
 public:
  explicit Fields(size_t size) : bytes_(size, 0) {}

  Fields& u8(size_t at, uint8_t v) {
    Span(at, 1)[0] = v;
    return *this;
  }
  Fields& le16(size_t at, uint16_t v) {
    put_le16(Span(at, 2).data(), v);
    return *this;
  }
  Fields& le32(size_t at, uint32_t v) {
    put_le32(Span(at, 4).data(), v);
    return *this;
  }
  Fields& ip(size_t at, uint32_t v) {
    put_be32(Span(at, 4).data(), v);
    return *this;
  }
  // Cut to width, zero-filled after it.
  Fields& text(size_t at, size_t width, std::string_view s) {
    auto out = Span(at, width);
    std::copy_n(s.begin(), std::min(width, s.size()), out.begin());
    return *this;
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::span<uint8_t> Span(size_t at, size_t n) {
    if (at > bytes_.size() || n > bytes_.size() - at) std::abort();
    return std::span(bytes_).subspan(at, n);
  }

  std::vector<uint8_t> bytes_;
};

inline constexpr uint8_t kSearchCode = 1;

// A search reply: header, identity, then the IPv4 address the device reports, in network order.
inline constexpr size_t kSearchReplyIdentityOffset = kQueryIdentityOffset;
inline constexpr size_t kSearchReplyAddressOffset = kQueryHeaderSize;
inline constexpr size_t kSearchReplySize = kSearchReplyAddressOffset + 4;
static_assert(kSearchReplyIdentityOffset == 8 && kSearchReplyAddressOffset == 20 && kSearchReplySize == 24);

}  // namespace devsim::wire
