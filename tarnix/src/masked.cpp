#include "masked.h"

#include <cstring>

#include "command.h"
#include "frame.h"
#include "platform/platform.h"
#include "result.h"
#include "tarnix.h"
#include "wire.h"

namespace tarnix::masked {

Mask::Mask(const char* key, const uint8_t nonce[4]) {
  const size_t n = strnlen(key, kPasswordField - 1);
  uint8_t material[kPasswordField + 4];
  std::memcpy(material, key, n);
  std::memcpy(material + n, nonce, 4);
  md5(material, n + 4, digest_);
}

void Mask::apply16(uint8_t* field) const {
  for (size_t i = 0; i < 16; ++i) field[i] ^= digest_[i];
}

void Mask::apply20(uint8_t* field) const {
  apply16(field);
  for (size_t i = 0; i < 4; ++i) field[16 + i] ^= digest_[i];
}

void put_text(uint8_t* field, size_t width, const char* text, size_t max) {
  std::memset(field, 0, width);
  std::memcpy(field, text, strnlen(text, max));
}

namespace {

constexpr size_t kHeader = 4;  // the reply's frame header; payloads follow it

// The session after the checks shared by every masked export: -5, then -12.
int32_t check(int32_t session, Session** out) {
  Session* s = checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  *out = s;
  return DSC_OK;
}

void put_tick(uint8_t* p) { wire::put_raw(p, platform::tick_ms()); }

// Password and private key: T, the masked value, T big-endian, check value.
int secret_payload(Session& s, uint8_t code, const char* value, bool plain_form) {
  uint8_t p[40] = {};
  const uint32_t t = platform::tick_ms();
  wire::put_raw(p, t);
  put_text(p + 4, 16, value, 15);
  Mask(s.password, p).apply16(p + 4);
  wire::put_be32(p + 20, t);
  const size_t n = std::strlen(value);
  uint8_t material[16 + 4];
  std::memcpy(material, value, n);
  std::memcpy(material + n, p + 20, 4);
  md5(material, n + 4, p + 24);
  if (plain_form) {
    std::memcpy(p + 24, value, n);
    p[24 + n] = 0;
  }
  uint8_t reply[kHeader];
  size_t got = 0;
  return command::exchange(s, code, p, sizeof p, reply, sizeof reply, &got);
}

// PPP configuration record at payload byte 8 (after the entry number and T).
constexpr size_t kPppRecord = 8;
constexpr size_t kSecretAt = offsetof(PPPCONFIGINFO, secret);
static_assert(sizeof(PPPCONFIGINFO) == 168 && kSecretAt == 24 && offsetof(PPPCONFIGINFO, unused62) == 62);

constexpr size_t kMaxPppEntries = 16;
constexpr size_t kPppConfigPayload = 176;
constexpr size_t kPppConfigReplyCap = 2700;
constexpr size_t kAuthPayload = 648;
constexpr size_t kAuthNames = 8;
constexpr size_t kAuthSecrets = 328;
constexpr size_t kField = 20;

int get_ppp_entry(Session& s, uint8_t entry, uint8_t* reply, size_t* got) {
  const uint8_t request[4] = {entry, 0, 0, 0};
  return command::exchange(s, 114, request, sizeof request, reply, kPppConfigReplyCap, got);
}

}  // namespace

namespace {

// Up to the first zero byte, at most 15 characters, the rest of 15 bytes zero.
void take_text15(char* out, const uint8_t* field) {
  const size_t n = strnlen(reinterpret_cast<const char*>(field), 15);
  std::memset(out, 0, 15);
  std::memcpy(out, field, n);
}

// The reply's payload, zero-filled to size where the reply is shorter.
template <size_t kSize>
struct Payload {
  uint8_t bytes[kSize] = {};
  Payload(const uint8_t* reply, size_t len) { wire::Bytes{reply, len}.copy(kHeader, bytes, kSize); }
};

}  // namespace

void decode_mail_account(const char* key, const uint8_t* reply, size_t len, char account[15], char password[15]) {
  const Payload<36> p(reply, len);
  uint8_t secret[16];
  std::memcpy(secret, p.bytes + 20, sizeof secret);
  Mask(key, p.bytes).apply16(secret);
  take_text15(account, p.bytes + 4);
  take_text15(password, secret);
}

// Every field but the unused bytes 62-63, the secret unmasked with the reply's own nonce.
uint8_t decode_ppp_config(const char* key, const uint8_t* reply, size_t len, PPPCONFIGINFO* out) {
  const Payload<kPppConfigPayload> p(reply, len);
  uint8_t rec[sizeof(PPPCONFIGINFO)];
  std::memcpy(rec, p.bytes + kPppRecord, sizeof rec);
  Mask(key, p.bytes + 4).apply20(rec + kSecretAt);
  std::memset(rec + offsetof(PPPCONFIGINFO, unused62), 0, sizeof out->unused62);
  std::memcpy(out, rec, sizeof rec);
  return p.bytes[2];
}

size_t decode_auth_table(const char* key, const uint8_t* reply, size_t len, PPPAUTHTABLEINFO* table) {
  const Payload<kAuthPayload> p(reply, len);
  const size_t n = p.bytes[0] < kMaxPppEntries ? p.bytes[0] : kMaxPppEntries;
  const Mask mask(key, p.bytes + 4);
  for (size_t i = 0; i < n; ++i) {
    std::memcpy(table->names[i], p.bytes + kAuthNames + kField * i, kField);
    uint8_t secret[kField];
    std::memcpy(secret, p.bytes + kAuthSecrets + kField * i, sizeof secret);
    mask.apply20(secret);
    std::memcpy(table->secrets[i], secret, sizeof secret);
  }
  return n;
}

}  // namespace tarnix::masked

// ---- Exports ------------------------------------------------------------------

using tarnix::Session;
namespace masked = tarnix::masked;

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_SetPassword(int32_t session, const char* password) {
  if (password == nullptr) return DSC_EINVAL;
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (strnlen(password, 16) >= 16) return DSC_EINVAL;
  return tarnix::export_result(masked::secret_payload(*s, 17, password, s->plain_password));
}

DSC_EXPORT int32_t DSC_CALL dsc_SetPrivateKey(int32_t session, const char* key) {
  if (key == nullptr) return DSC_EINVAL;
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (strnlen(key, 15) >= 15) return DSC_EINVAL;
  return tarnix::export_result(masked::secret_payload(*s, 10, key, false));
}

DSC_EXPORT int32_t DSC_CALL dsc_SetMailAcount(int32_t session, const char* account, const char* password) {
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (account == nullptr || password == nullptr) return DSC_EINVAL;
  uint8_t p[36] = {};
  masked::put_tick(p);
  masked::put_text(p + 4, 16, account, 15);
  masked::put_text(p + 20, 16, password, 15);
  masked::Mask(s->password, p).apply16(p + 20);
  uint8_t reply[4];
  size_t got = 0;
  return tarnix::export_result(tarnix::command::exchange(*s, 96, p, sizeof p, reply, sizeof reply, &got));
}

DSC_EXPORT int32_t DSC_CALL dsc_RetriveMailAcount(int32_t session, char* account, char* password) {
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (account == nullptr || password == nullptr) return DSC_EINVAL;
  uint8_t reply[40];
  size_t got = 0;
  const int r = tarnix::command::exchange(*s, 97, nullptr, 0, reply, sizeof reply, &got);
  // Only a good reply means anything: a failure leaves the caller's buffers alone.
  if (r != tarnix::kOk) return tarnix::export_result(r);
  masked::decode_mail_account(s->password, reply, got, account, password);
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_SetPPPConfig(int32_t session, int32_t entry, const PPPCONFIGINFO* config) {
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (entry < 0 || entry > 16 || config == nullptr) return DSC_EINVAL;
  uint8_t p[masked::kPppConfigPayload] = {};
  p[0] = static_cast<uint8_t>(entry);
  masked::put_tick(p + 4);
  uint8_t* rec = p + masked::kPppRecord;
  std::memcpy(rec, config, sizeof *config);
  masked::put_text(rec + masked::kSecretAt, masked::kField, config->secret, masked::kField - 1);
  masked::Mask(s->password, p + 4).apply20(rec + masked::kSecretAt);
  std::memset(rec + offsetof(PPPCONFIGINFO, unused62), 0, 2);
  uint8_t reply[4];
  size_t got = 0;
  return tarnix::export_result(tarnix::command::exchange(*s, 113, p, sizeof p, reply, sizeof reply, &got));
}

DSC_EXPORT int32_t DSC_CALL dsc_GetPPPConfig(int32_t session, int32_t entry, PPPCONFIGINFO* config) {
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (entry < 0 || entry > 16 || config == nullptr) return DSC_EINVAL;
  uint8_t reply[masked::kPppConfigReplyCap];
  size_t got = 0;
  if (entry != 0) {
    const int r = masked::get_ppp_entry(*s, static_cast<uint8_t>(entry), reply, &got);
    if (r == tarnix::kOk) masked::decode_ppp_config(s->password, reply, got, config);
    return tarnix::export_result(r);
  }
  // Every entry: the first reply's count (at most 16, so the walk stays
  // inside a buffer sized for the device's entries) decides how many follow.
  int r = masked::get_ppp_entry(*s, 1, reply, &got);
  if (r != tarnix::kOk) return tarnix::export_result(r);
  PPPCONFIGINFO first;
  const uint8_t reported = masked::decode_ppp_config(s->password, reply, got, &first);
  const size_t count = reported < masked::kMaxPppEntries ? reported : masked::kMaxPppEntries;
  std::memset(config, 0, count * sizeof *config);
  config[0] = first;
  for (size_t next = 2; next < count; ++next) {
    r = masked::get_ppp_entry(*s, static_cast<uint8_t>(next), reply, &got);
    if (r != tarnix::kOk) return tarnix::export_result(r);
    masked::decode_ppp_config(s->password, reply, got, &config[next - 1]);
  }
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_SetPPPAuthTable(int32_t session, int32_t count, const PPPAUTHTABLEINFO* table) {
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (count < 0 || count > 16 || table == nullptr) return DSC_EINVAL;
  uint8_t p[masked::kAuthPayload] = {};
  p[0] = static_cast<uint8_t>(count);
  masked::put_tick(p + 4);
  const masked::Mask mask(s->password, p + 4);
  for (int32_t i = 0; i < count; ++i) {
    std::memcpy(p + masked::kAuthNames + masked::kField * i, table->names[i], masked::kField);
    uint8_t* secret = p + masked::kAuthSecrets + masked::kField * i;
    masked::put_text(secret, masked::kField, table->secrets[i], masked::kField - 1);
    mask.apply20(secret);
  }
  uint8_t reply[4];
  size_t got = 0;
  return tarnix::export_result(tarnix::command::exchange(*s, 115, p, sizeof p, reply, sizeof reply, &got));
}

DSC_EXPORT int32_t DSC_CALL dsc_GetPPPAuthTable(int32_t session, int32_t* count, PPPAUTHTABLEINFO* table) {
  Session* s = nullptr;
  if (const int32_t r = masked::check(session, &s); r != DSC_OK) return r;
  if (count == nullptr || table == nullptr) return DSC_EINVAL;
  std::memset(table, 0, sizeof *table);
  uint8_t reply[masked::kHeader + masked::kAuthPayload];
  size_t got = 0;
  const int r = tarnix::command::exchange(*s, 116, nullptr, 0, reply, sizeof reply, &got);
  // A failure reports no entries, so that no caller walks a count without meaning.
  *count = 0;
  if (r != tarnix::kOk) return tarnix::export_result(r);
  const size_t n = masked::decode_auth_table(s->password, reply, got, table);
  *count = static_cast<int32_t>(n);
  return DSC_OK;
}

}  // extern "C"
