// The mask over secrets: MD5 over the session's login password and a 4-byte
// nonce, XORed over 16-byte fields (20-byte fields repeat its first 4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "md5.h"

namespace tarnix::masked {

class Mask {
 public:
  Mask(const char* key, const uint8_t nonce[4]);
  void apply16(uint8_t* field) const;
  void apply20(uint8_t* field) const;

 private:
  uint8_t digest_[kMd5Size];
};

// Copies at most max characters of text into a zero-filled field of width bytes.
void put_text(uint8_t* field, size_t width, const char* text, size_t max);

}  // namespace tarnix::masked
