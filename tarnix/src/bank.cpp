#include "bank.h"

#include <algorithm>
#include <cstring>

#include "channel.h"
#include "platform/platform.h"
#include "reach.h"
#include "result.h"
#include "transfer.h"
#include "wire.h"

namespace tarnix::bank {

void encode_read(uint8_t out[kReadRequestSize], const uint8_t bank[4], const uint8_t offset[4],
                 const uint8_t length[4]) {
  channel::encode_header(out, kRead, kReadRequestSize - channel::kHeaderSize);
  std::memcpy(out + 4, bank, 4);
  std::memcpy(out + 8, offset, 4);
  std::memcpy(out + 12, length, 4);
}

void encode_write(uint8_t out[kWriteRequestSize], uint32_t length, const uint8_t bank[4]) {
  channel::encode_header(out, kWrite, kWriteRequestSize - channel::kHeaderSize);
  wire::put_be32(out + 4, length);
  std::memcpy(out + 8, bank, 4);
}

int judge_read_reply(const uint8_t* data, size_t len, uint32_t* size) {
  // Status 0 is this reply's success; the size in bytes 4-7 must be there.
  if (len < channel::kHeaderSize + 4 || len > kReadReplyMost || data[0] != kRead ||
      wire::get_be16(data + 2) != len - channel::kHeaderSize || data[1] != 0)
    return kMalformed;
  *size = wire::get_be32(data + 4);
  return kOk;
}

int judge_write_reply(const uint8_t* data, size_t len) {
  if (len != channel::kHeaderSize || data[0] != kWrite || wire::get_be16(data + 2) != 0 || data[1] != 1)
    return kMalformed;
  return kOk;
}

namespace {

uint32_t non_negative(int32_t v) { return v < 0 ? 0u : static_cast<uint32_t>(v); }

// Waits for the reply: after each empty wait the progress procedure, then the
// count (shared with the data phase through *empty).
int await_reply(int fd, const Timing& timing, uint32_t wait_ms, uint32_t code, uint32_t* empty) {
  for (;;) {
    const int r = platform::tcp_wait_readable(fd, wait_ms);
    if (r < 0) return kSocketError;
    if (r > 0) return kOk;
    if (timing.proc != nullptr && timing.proc(transfer::kProgressBit | code, 0, 0, timing.user) == 0)
      return kCancelled;
    if (*empty >= non_negative(timing.retries)) return kTimeout;
    ++*empty;
  }
}

}  // namespace

int read(int fd, const Timing& timing, const uint8_t request[kReadRequestSize], const ReadTarget& target) {
  platform::tcp_send(fd, request, kReadRequestSize);
  uint32_t empty = 0;
  if (const int r = await_reply(fd, timing, non_negative(timing.timeout), kRead, &empty); r != kOk) return r;
  uint8_t reply[kReadReplyMost] = {};
  const long n = platform::tcp_recv(fd, reply, sizeof reply);
  uint32_t size = 0;
  if (n < 0 || judge_read_reply(reply, static_cast<size_t>(n), &size) != kOk) return kMalformed;
  if (size == 0) return kOk;
  if (target.size != nullptr) *target.size = size;

  // Bytes beyond what the target holds are read and dropped, so the channel stays in step.
  const uint32_t keep = std::min(size, target.capacity);
  uint8_t scratch[transfer::kScratch];
  for (uint32_t done = 0; done < size;) {
    const int w = platform::tcp_wait_readable(fd, target.data_wait_ms);
    if (w < 0) return kSocketError;
    if (w == 0) {
      if (empty >= non_negative(timing.retries)) return kTimeout;
      ++empty;
      continue;
    }
    const bool keeping = done < keep;
    const long got = keeping ? platform::tcp_recv(fd, target.data + done, keep - done)
                             : platform::tcp_recv(fd, scratch, std::min<size_t>(sizeof scratch, size - done));
    if (got <= 0) return kMalformed;
    done += static_cast<uint32_t>(got);
  }
  return kOk;
}

int write(int fd, const Timing& timing, const uint8_t request[kWriteRequestSize], const uint8_t* data,
          uint32_t length) {
  platform::tcp_send(fd, request, kWriteRequestSize);
  if (length > 0) platform::tcp_send(fd, data, length);
  platform::tcp_flush(fd);
  uint32_t empty = 0;
  const uint32_t wait_ms = kWriteWaitExtraMs + non_negative(timing.timeout);
  if (const int r = await_reply(fd, timing, wait_ms, kWrite, &empty); r != kOk) return r;
  uint8_t reply[channel::kHeaderSize] = {};
  const long n = platform::tcp_recv(fd, reply, sizeof reply);
  return n < 0 ? kMalformed : judge_write_reply(reply, static_cast<size_t>(n));
}

}  // namespace tarnix::bank

// ---- Exports ------------------------------------------------------------------

namespace {

using namespace tarnix;

constexpr uint8_t kConfigUpload = 11;
constexpr uint8_t kConfigUploadNoErase = 30;
constexpr uint8_t kConfigDownload = 12;
constexpr uint8_t kLogDownload = 13;

// Session and pointer (-5), then the channel (-12).
int32_t check(int32_t session, bool args_ok, Session** out) {
  Session* s = checked_session(session);
  if (s == nullptr || !args_ok) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  *out = s;
  return DSC_OK;
}

int32_t config_upload(int32_t session, const void* data, int32_t length, uint8_t code) {
  Session* s = nullptr;
  // A negative length would read far beyond the caller's data.
  if (const int32_t r = check(session, data != nullptr && length > 0, &s); r != DSC_OK) return r;
  transfer::MemorySource source(static_cast<const uint8_t*>(data), static_cast<size_t>(length));
  const reach::TemporaryEntries bracket(*s->record);
  return export_result(
      transfer::upload(code, s->socket, source, static_cast<uint32_t>(length), s->timing, transfer::kConfigStyle));
}

int32_t receive(int32_t session, void* buffer, uint32_t capacity, uint32_t* total, bool total_ok, uint8_t code) {
  Session* s = nullptr;
  if (const int32_t r = check(session, buffer != nullptr && capacity > 0 && total_ok, &s); r != DSC_OK) return r;
  const reach::TemporaryEntries bracket(*s->record);
  return export_result(
      transfer::download(code, s->socket, static_cast<uint8_t*>(buffer), capacity, s->timing, total));
}

// The short form of the bank field: the bank's low byte, then three zeros.
void short_bank(int32_t bank, uint8_t out[4]) { wire::put_le32(out, static_cast<uint8_t>(bank)); }

}  // namespace

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfig(int32_t session, const void* data, int32_t length) {
  return config_upload(session, data, length, kConfigUpload);
}
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfig_NoErase(int32_t session, const void* data, int32_t length) {
  return config_upload(session, data, length, kConfigUploadNoErase);
}
DSC_EXPORT int32_t DSC_CALL dsc_RecvAPConfig(int32_t session, void* buffer, uint32_t capacity) {
  return receive(session, buffer, capacity, nullptr, true, kConfigDownload);
}
DSC_EXPORT int32_t DSC_CALL dsc_RecvLog(int32_t session, void* buffer, uint32_t capacity, uint32_t* total) {
  return receive(session, buffer, capacity, total, total != nullptr, kLogDownload);
}

DSC_EXPORT int32_t DSC_CALL dsc_RecvAPConfigBank(int32_t session, int32_t bank, uint32_t offset, void* buffer,
                                                 uint32_t length) {
  Session* s = nullptr;
  if (const int32_t r = check(session, buffer != nullptr, &s); r != DSC_OK) return r;
  // Summed in 64 bits, so that a large offset cannot wrap past the limit.
  if (uint64_t{offset} + length > bank::kBankSize) return bank::kBeyondLimit;
  uint8_t fields[3][4];
  short_bank(bank, fields[0]);
  wire::put_le32(fields[1], offset);
  wire::put_be32(fields[2], length);
  uint8_t request[bank::kReadRequestSize];
  bank::encode_read(request, fields[0], fields[1], fields[2]);
  const uint32_t half = s->timing.timeout < 0 ? 0u : static_cast<uint32_t>(s->timing.timeout) / 2;
  const reach::TemporaryEntries bracket(*s->record);
  return bank::read(s->socket, s->timing, request, {static_cast<uint8_t*>(buffer), length, half, nullptr});
}

DSC_EXPORT int32_t DSC_CALL dsc_RecvAPConfig_Bank(int32_t session, uint32_t bank, uint32_t offset, uint32_t length,
                                                  APCONFIGBANKINFO* out) {
  Session* s = nullptr;
  if (const int32_t r = check(session, out != nullptr, &s); r != DSC_OK) return r;
  std::memset(out, 0, sizeof *out);
  uint8_t fields[3][4];
  wire::put_le32(fields[0], bank);
  wire::put_le32(fields[1], offset);
  wire::put_le32(fields[2], length);
  uint8_t request[bank::kReadRequestSize];
  bank::encode_read(request, fields[0], fields[1], fields[2]);
  const uint32_t wait = s->timing.timeout < 0 ? 0u : static_cast<uint32_t>(s->timing.timeout);
  const reach::TemporaryEntries bracket(*s->record);
  return bank::read(s->socket, s->timing, request, {out->data, sizeof out->data, wait, &out->size});
}

DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfigBank(int32_t session, int32_t bank, const void* data, uint32_t length) {
  Session* s = nullptr;
  if (const int32_t r = check(session, data != nullptr, &s); r != DSC_OK) return r;
  if (length > bank::kBankSize) return bank::kBeyondLimit;
  uint8_t field[4];
  short_bank(bank, field);
  uint8_t request[bank::kWriteRequestSize];
  bank::encode_write(request, length, field);
  const reach::TemporaryEntries bracket(*s->record);
  return bank::write(s->socket, s->timing, request, static_cast<const uint8_t*>(data), length);
}

DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPConfig_Bank(int32_t session, uint32_t length, uint32_t bank,
                                                     const void* data) {
  Session* s = nullptr;
  if (const int32_t r = check(session, data != nullptr, &s); r != DSC_OK) return r;
  // Refused before the entries are added: nothing to add or remove for a call that sends nothing.
  if (length == 0 || length > bank::kBankSize) return kMalformed;
  uint8_t field[4];
  wire::put_le32(field, bank);
  uint8_t request[bank::kWriteRequestSize];
  bank::encode_write(request, length, field);
  const reach::TemporaryEntries bracket(*s->record);
  return bank::write(s->socket, s->timing, request, static_cast<const uint8_t*>(data), length);
}

}  // extern "C"
