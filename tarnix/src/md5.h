// MD5 digest (RFC 1321) of a byte string, for the login and the masks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnix {

constexpr size_t kMd5Size = 16;
void md5(const uint8_t* data, size_t len, uint8_t out[kMd5Size]);

}  // namespace tarnix
