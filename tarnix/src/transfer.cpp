#include "transfer.h"

#include <algorithm>
#include <cstring>

#include "channel.h"
#include "reach.h"
#include "result.h"
#include "wire.h"

namespace tarnix::transfer {

bool FileSource::next(size_t n, const uint8_t** out) {
  if (n > sizeof chunk_ || file_.read(chunk_, n) != n) return false;
  *out = chunk_;
  return true;
}

bool MemorySource::next(size_t n, const uint8_t** out) {
  if (n > left_) return false;
  *out = data_;
  data_ += n;
  left_ -= n;
  return true;
}

int32_t percent(uint64_t part, int64_t whole, bool in_tens) {
  if (whole <= 0) return 100;
  uint64_t p = part * 100 / static_cast<uint64_t>(whole);
  if (in_tens) p = p / 10 * 10;
  return static_cast<int32_t>(std::min<uint64_t>(p, 100));
}

int judge_final(uint8_t code, const uint8_t* data, size_t len) {
  if (len != channel::kHeaderSize) return kMalformed;
  return channel::judge_reply(code, data, len);
}

namespace {

uint32_t non_negative(int32_t v) { return v < 0 ? 0u : static_cast<uint32_t>(v); }

struct Reporter {
  const Timing& timing;
  uint32_t code;
  // False when the progress procedure asks to cancel.
  bool operator()(int32_t stage, int32_t pct) const {
    return timing.proc == nullptr || timing.proc(code, stage, pct, timing.user) != 0;
  }
};

}  // namespace

int upload(uint8_t code, int fd, Source& source, uint32_t size, const Timing& timing, const Style& style) {
  const Reporter report{timing, kProgressBit | code};
  uint8_t start[channel::kHeaderSize + 4];
  channel::encode_header(start, code, 4);
  wire::put_be32(start + channel::kHeaderSize, size);
  if (style.answered_start) {
    uint8_t reply[channel::kHeaderSize];
    size_t got = 0;
    const int r = channel::frame_exchange(code, fd, start, sizeof start, reply, sizeof reply, timing, &got);
    if (r != kOk) return r;
  } else {
    platform::tcp_send(fd, start, sizeof start);
  }

  // The empty-wait count runs over the whole data phase.
  const uint32_t wait_ms = non_negative(timing.timeout);
  const uint32_t retries = non_negative(timing.retries);
  uint32_t empty = 0;
  for (uint32_t sent = 0; sent < size;) {
    if (!report(kStageData, percent(sent, size, style.in_tens))) return kCancelled;
    const int w = platform::tcp_wait_writable(fd, wait_ms);
    if (w < 0) return kSocketError;
    if (w == 0) {
      if (empty >= retries) return kTimeout;
      ++empty;
      continue;
    }
    const size_t n = std::min<size_t>(kChunk, size - sent);
    const uint8_t* chunk = nullptr;
    if (!source.next(n, &chunk)) return kFileError;
    if (!platform::tcp_send_all(fd, chunk, n)) return kSocketError;
    sent += static_cast<uint32_t>(n);
  }
  platform::tcp_flush(fd);
  if (!report(kStageData, 100)) return kCancelled;

  // Each look waits for the verdict instead of sleeping, so it is read the
  // moment it arrives; the looks still come about every kLookMs.
  const int64_t limit64 = std::max<int64_t>(0, int64_t{timing.upgrade_timeout} + style.margin_ms);
  const uint32_t limit = static_cast<uint32_t>(std::min<int64_t>(limit64, UINT32_MAX));
  const uint32_t begin = platform::tick_ms();
  for (;;) {
    uint32_t elapsed = platform::tick_diff(platform::tick_ms(), begin);
    if (!report(kStageStore, percent(elapsed, timing.upgrade_timeout, style.in_tens))) return kCancelled;
    const uint32_t left = elapsed >= limit ? 0 : limit - elapsed;
    const int r = platform::tcp_wait_readable(fd, std::min(kLookMs, left));
    if (r < 0) return kSocketError;
    elapsed = platform::tick_diff(platform::tick_ms(), begin);
    // Past the limit the verdict is not read, even when it has just come.
    if (elapsed >= limit) return kTimeout;
    if (r > 0) break;
  }
  if (!report(kStageStore, 100)) return kCancelled;
  uint8_t reply[channel::kHeaderSize] = {};
  const long n = platform::tcp_recv(fd, reply, sizeof reply);
  return judge_final(code, reply, n < 0 ? 0 : static_cast<size_t>(n));
}

int download(uint8_t code, int fd, uint8_t* buffer, uint32_t capacity, const Timing& timing, uint32_t* total) {
  uint8_t request[channel::kHeaderSize];
  channel::encode_header(request, code, 0);
  uint8_t reply[channel::kHeaderSize + 4];
  size_t got = 0;
  const int r = channel::frame_exchange(code, fd, request, sizeof request, reply, sizeof reply, timing, &got);
  if (r != kOk) return r;
  // A reply without the total is no download reply.
  if (got != sizeof reply) return kMalformed;
  const uint32_t announced = wire::get_be32(reply + channel::kHeaderSize);
  if (total != nullptr) *total = announced;

  const Reporter report{timing, kProgressBit | code};
  const uint32_t keep = std::min(announced, capacity);
  const uint32_t wait_ms = non_negative(timing.timeout);
  const uint32_t retries = non_negative(timing.retries);
  uint32_t empty = 0;
  uint8_t scratch[kScratch];
  for (uint32_t done = 0; done < announced;) {
    if (!report(kStageData, percent(done, announced, false))) return kCancelled;
    const int w = platform::tcp_wait_readable(fd, wait_ms);
    if (w < 0) return kSocketError;
    if (w == 0) {
      if (empty >= retries) return kTimeout;
      ++empty;
      continue;
    }
    // The kept part lands in the buffer; the excess goes through one reused scratch area.
    const bool keeping = done < keep;
    uint8_t* at = keeping ? buffer + done : scratch;
    const size_t most = keeping ? std::min<size_t>(kChunk, keep - done) : std::min<size_t>(kScratch, announced - done);
    const long n = platform::tcp_recv(fd, at, most);
    if (n < 0) return kSocketError;
    if (n == 0) return kMalformed;
    done += static_cast<uint32_t>(n);
  }
  return kOk;
}

bool has_magic(const uint8_t* data, size_t len) {
  return len >= kMagicSize && std::memcmp(data, "*FRM", kMagicSize) == 0;
}

bool decode_descriptors(const uint8_t* data, size_t len, Section out[2]) {
  if (len < kFirmwareHeaderSize) return false;
  for (size_t i = 0; i < 2; ++i) {
    const uint8_t* d = data + kDescriptorOffset + i * kDescriptorSize;
    out[i] = Section{wire::get_le16(d), wire::get_le32(d + 4), wire::get_le32(d + 8)};
  }
  return true;
}

uint8_t section_code(uint16_t type) {
  static constexpr struct {
    uint16_t type;
    uint8_t code;
  } kTypes[] = {{1, kKernelImage}, {2, kFileImage}, {3, kApplicationImage}};
  for (const auto& t : kTypes)
    if (t.type == type) return t.code;
  return 0;
}

void split_timeout(int32_t total, uint32_t l1, uint32_t l2, int32_t* t1, int32_t* t2) {
  const double sum = static_cast<double>(l1) + static_cast<double>(l2);
  const double share1 = sum > 0 ? static_cast<double>(l1) / sum : 0.5;
  const double share2 = sum > 0 ? static_cast<double>(l2) / sum : 0.5;
  *t1 = static_cast<int32_t>(static_cast<double>(total) * share1);
  *t2 = static_cast<int32_t>(static_cast<double>(total) * share2);
}

bool header_matches(const uint8_t* header, size_t len, const char* text) {
  const size_t n = std::min(len, kWebHeaderSize);
  const char* against = std::strlen(text) >= 4 ? text + 4 : "";
  const size_t against_len = std::strlen(against);
  for (size_t i = 0; i < n && header[i] != 0; ++i)
    if (i >= against_len || static_cast<char>(header[i]) != against[i]) return false;
  return true;
}

}  // namespace tarnix::transfer

// ---- Exports ------------------------------------------------------------------

namespace {

using namespace tarnix;
using namespace tarnix::transfer;

// Session (-5 with a null path), then the channel (-12); nothing is opened before.
int32_t check(int32_t session, const char* path, Session** out) {
  Session* s = checked_session(session);
  if (s == nullptr || path == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  *out = s;
  return DSC_OK;
}

int32_t upgrade_image(int32_t session, const char* path, uint8_t code) {
  Session* s = nullptr;
  if (const int32_t r = check(session, path, &s); r != DSC_OK) return r;
  platform::ReadFile file;
  // An image larger than the 32-bit size field cannot be announced.
  if (!file.open(path) || file.size() > UINT32_MAX) return DSC_EFILE;
  FileSource source(file);
  const reach::TemporaryEntries bracket(*s->record);
  return export_result(upload(code, s->socket, source, static_cast<uint32_t>(file.size()), s->timing, kImageStyle));
}

// Puts the session's upgrade time-out back on every path.
class KeepUpgradeTimeout {
 public:
  explicit KeepUpgradeTimeout(Timing& t) : timing_(t), saved_(t.upgrade_timeout) {}
  ~KeepUpgradeTimeout() { timing_.upgrade_timeout = saved_; }
  KeepUpgradeTimeout(const KeepUpgradeTimeout&) = delete;
  KeepUpgradeTimeout& operator=(const KeepUpgradeTimeout&) = delete;
  int32_t saved() const { return saved_; }

 private:
  Timing& timing_;
  int32_t saved_;
};

int32_t upgrade_firmware(int32_t session, const char* path, const char* text) {
  Session* s = nullptr;
  if (const int32_t r = check(session, path, &s); r != DSC_OK) return r;
  platform::ReadFile file;
  if (!file.open(path)) return DSC_EFILE;
  uint8_t head[kFirmwareHeaderSize];
  const size_t got = file.read(head, sizeof head);
  Section sections[2];
  if (!has_magic(head, got) || !decode_descriptors(head, got, sections)) return DSC_ESTATUS252;
  const uint8_t codes[2] = {section_code(sections[0].type), section_code(sections[1].type)};
  // A section without an upload code of its own is refused before anything is sent.
  if (codes[0] == 0 || codes[1] == 0) return DSC_ESTATUS252;
  if (text != nullptr && text[0] != '\0') {
    uint8_t header[kWebHeaderSize] = {};
    if (!file.seek(sections[0].offset)) return DSC_EFILE;
    const size_t have = file.read(header, sizeof header);
    if (!header_matches(header, have, text)) return DSC_ESTATUS252;
  }

  const KeepUpgradeTimeout keep(s->timing);
  int32_t shares[2];
  split_timeout(keep.saved(), sections[0].length, sections[1].length, &shares[0], &shares[1]);
  for (size_t i = 0; i < 2; ++i) {
    if (!file.seek(sections[i].offset)) return DSC_EFILE;
    s->timing.upgrade_timeout = shares[i];
    FileSource source(file);
    const reach::TemporaryEntries bracket(*s->record);
    const int r = upload(codes[i], s->socket, source, sections[i].length, s->timing, kImageStyle);
    if (r != kOk) return export_result(r);
  }
  return DSC_OK;
}

}  // namespace

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_Upgrade(int32_t session, const char* path) {
  return upgrade_image(session, path, kKernelImage);
}
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeKernel(int32_t session, const char* path) {
  Session* s = nullptr;
  if (const int32_t r = check(session, path, &s); r != DSC_OK) return r;
  return dsc_Upgrade(session, path);
}
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAP(int32_t session, const char* path) {
  return upgrade_image(session, path, kApplicationImage);
}
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeFile(int32_t session, const char* path) {
  return upgrade_image(session, path, kFileImage);
}
DSC_EXPORT int32_t DSC_CALL dsc_UpgradeAPKernel(int32_t session, const char* path) {
  return upgrade_firmware(session, path, nullptr);
}
DSC_EXPORT int32_t DSC_CALL dsc_Upgrade_WebKernel(int32_t session, const char* path, const char* text) {
  return upgrade_firmware(session, path, text);
}

}  // extern "C"
