// The mask over secrets: MD5 over the session's login password and a 4-byte
// nonce, XORed over 16-byte fields (20-byte fields repeat its first 4 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "md5.h"
#include "tarnix.h"

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

// Decoders of the read replies. Each takes the reply frame as received (len
// bytes, header included; missing bytes read as zero) and the login password
// that the device masked the secrets with.
void decode_mail_account(const char* key, const uint8_t* reply, size_t len, char account[15], char password[15]);
// Clears *out and fills it; returns the device's entry count (payload byte 2).
uint8_t decode_ppp_config(const char* key, const uint8_t* reply, size_t len, PPPCONFIGINFO* out);
// Fills the entries below the device's count, taken as at most 16, into the
// table (entries beyond stay as they are); returns how many.
size_t decode_auth_table(const char* key, const uint8_t* reply, size_t len, PPPAUTHTABLEINFO* table);

}  // namespace tarnix::masked
