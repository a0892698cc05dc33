#include "md5.h"

#include <openssl/evp.h>

#include <cstring>

namespace tarnix {

void md5(const uint8_t* data, size_t len, uint8_t out[kMd5Size]) {
  unsigned int n = 0;
  // EVP_Digest fails only without memory; a zero digest then fails the login
  // or the mask at the device, which is the honest outcome.
  if (EVP_Digest(data, len, out, &n, EVP_md5(), nullptr) != 1 || n != kMd5Size) std::memset(out, 0, kMd5Size);
}

}  // namespace tarnix
