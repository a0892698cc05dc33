// Byte helpers for everything that crosses the wire: fixed-order puts and gets
// and a bounds-checked reader, so no layout is expressed through pointer casts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnix::wire {

inline void put_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline uint16_t get_be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline void put_be32(uint8_t* p, uint32_t v) {
  put_be16(p, static_cast<uint16_t>(v >> 16));
  put_be16(p + 2, static_cast<uint16_t>(v));
}
inline uint32_t get_be32(const uint8_t* p) { return (uint32_t{get_be16(p)} << 16) | get_be16(p + 2); }

inline void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t get_le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Values that the protocol carries "as in memory" (little-endian on the wire,
// network-order addresses) are copied byte for byte.
template <typename T>
inline void put_raw(uint8_t* p, const T& v) {
  std::memcpy(p, &v, sizeof v);
}
template <typename T>
inline T get_raw(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Reads fields from a received buffer; any read past its end fails and leaves
// the output untouched, so a short datagram can never be over-read.
class Reader {
 public:
  Reader(const uint8_t* data, size_t len) : data_(data), len_(len) {}
  size_t remaining() const { return len_ - pos_; }
  bool skip(size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool bytes(void* out, size_t n) {
    if (n > remaining()) return false;
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  bool u8(uint8_t* out) { return bytes(out, 1); }
  bool be16(uint16_t* out) {
    uint8_t b[2];
    if (!bytes(b, 2)) return false;
    *out = get_be16(b);
    return true;
  }
  template <typename T>
  bool raw(T* out) {
    return bytes(out, sizeof *out);
  }

 private:
  const uint8_t* data_;
  size_t len_;
  size_t pos_ = 0;
};

// A received reply as the decoders see it: reads past its end yield zeros, as
// the bytes a short reply lacks would in a cleared buffer, so no decoder can
// read out of bounds whatever length arrived.
struct Bytes {
  const uint8_t* data;
  size_t len;

  void copy(size_t off, void* dst, size_t n) const {
    uint8_t* out = static_cast<uint8_t*>(dst);
    const size_t have = off < len ? (len - off < n ? len - off : n) : 0;
    if (have > 0) std::memcpy(out, data + off, have);
    if (have < n) std::memset(out + have, 0, n - have);
  }
  uint8_t u8(size_t off) const { return off < len ? data[off] : 0; }
  template <typename T>
  T raw(size_t off) const {
    T v;
    copy(off, &v, sizeof v);
    return v;
  }
  // Characters from off up to the first NUL, at most max.
  size_t text_length(size_t off, size_t max) const {
    size_t n = 0;
    while (n < max && u8(off + n) != 0) ++n;
    return n;
  }
};

}  // namespace tarnix::wire
