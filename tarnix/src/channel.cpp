#include "channel.h"

#include <cstring>

#include "md5.h"
#include "platform/platform.h"
#include "reach.h"
#include "result.h"
#include "wire.h"

namespace tarnix::channel {

void encode_header(uint8_t* out, uint8_t code, uint16_t payload_len) {
  out[0] = code;
  out[1] = 1;
  wire::put_be16(out + 2, payload_len);
}

namespace {

// Codes whose replies may carry status 0 as success: the transfer commands.
bool status0_succeeds(uint8_t code) {
  switch (code) {
    case 4: case 5: case 6: case 8: case 11: case 12: case 13:
      return true;
    default:
      return false;
  }
}

}  // namespace

int judge_reply(uint8_t code, const uint8_t* data, size_t len) {
  if (len < kHeaderSize || data[0] != code || wire::get_be16(data + 2) != len - kHeaderSize) return kMalformed;
  switch (data[1]) {
    case 1:
      return kOk;
    case 0:
      return status0_succeeds(code) ? kOk : kMalformed;
    case 251:
      return kStatus251;
    case 252:
    case 255:
      return kStatus252;
    case 253:
      return kTimeout;
    case 254:
      return kStatus254;
    default:
      return kMalformed;
  }
}

int open_connection(uint32_t addr, const Timing& timing, int* fd) {
  const uint32_t budget = static_cast<uint32_t>(timing.timeout < 0 ? 0 : timing.timeout) *
                          static_cast<uint32_t>(timing.retries < 0 ? 0 : timing.retries);
  const uint32_t start = platform::tick_ms();
  for (;;) {
    const int s = platform::tcp_open_nonblocking();
    if (s < 0) return kSocketError;
    platform::ConnectStart started = platform::tcp_connect_start(s, addr, kDevicePort);
    if (started == platform::ConnectStart::kError) {
      platform::tcp_close(s);
      return kSocketError;
    }
    bool refused = false;
    while (started == platform::ConnectStart::kPending && !refused) {
      const uint32_t spent = platform::tick_diff(platform::tick_ms(), start);
      const uint32_t wait = spent >= budget ? 0 : (budget - spent < kConnectPollMs ? budget - spent : kConnectPollMs);
      switch (platform::tcp_connect_poll(s, wait)) {
        case platform::ConnectPoll::kConnected:
          started = platform::ConnectStart::kDone;
          continue;
        case platform::ConnectPoll::kError:
          platform::tcp_close(s);
          return kSocketError;
        case platform::ConnectPoll::kFailed:
          // A refusal is treated like a slow device: try again until the budget is spent.
          refused = true;
          break;
        case platform::ConnectPoll::kNotYet:
          break;
      }
      if (platform::tick_diff(platform::tick_ms(), start) >= budget) {
        platform::tcp_close(s);
        return kTimeout;
      }
      if (timing.proc != nullptr && timing.proc(kConnectProgressCode, 0, 0, timing.user) == 0) {
        platform::tcp_close(s);
        return kCancelled;
      }
    }
    if (!refused) {
      if (!platform::tcp_set_blocking(s)) {
        platform::tcp_close(s);
        return kSocketError;
      }
      *fd = s;
      return kOk;
    }
    platform::tcp_close(s);
    // Pause before the next attempt, asking the progress procedure as a pending connect would.
    const uint32_t pause_start = platform::tick_ms();
    while (platform::tick_diff(platform::tick_ms(), pause_start) < kReconnectPauseMs) {
      if (platform::tick_diff(platform::tick_ms(), start) >= budget) return kTimeout;
      platform::sleep_ms(kConnectPollMs);
      if (timing.proc != nullptr && timing.proc(kConnectProgressCode, 0, 0, timing.user) == 0) return kCancelled;
    }
  }
}

int frame_exchange(uint8_t code, int fd, const uint8_t* request, size_t len, uint8_t* reply, size_t cap,
                   const Timing& timing, size_t* got) {
  *got = 0;
  platform::tcp_send(fd, request, len);
  const uint32_t timeout = static_cast<uint32_t>(timing.timeout < 0 ? 0 : timing.timeout);
  const int waits = (timing.retries < 0 ? 0 : timing.retries) + 1;
  for (int empty = 0;;) {
    const int r = platform::tcp_wait_readable(fd, timeout);
    if (r < 0) return kSocketError;
    if (r > 0) break;
    if (timing.proc != nullptr && timing.proc(kCommandProgressBit | code, 0, 0, timing.user) == 0) return kCancelled;
    if (++empty >= waits) return kTimeout;
  }
  std::memset(reply, 0, cap);
  const long n = platform::tcp_recv(fd, reply, cap);
  if (n < 0) return kSocketError;
  *got = static_cast<size_t>(n);
  return judge_reply(code, reply, *got);
}

bool login_response(uint32_t app_id, const char* password, const uint8_t challenge[kChallengeSize],
                    uint8_t out[kResponseSize]) {
  const size_t n = std::strlen(password);
  std::memset(out, 0, kResponseSize);
  if ((app_id & ~0xFFu) == 0x80004000u) {
    std::memcpy(out, password, n);
    return true;
  }
  uint8_t material[kMaxPassword + kChallengeSize];
  std::memcpy(material, password, n);
  std::memcpy(material + n, challenge, kChallengeSize);
  md5(material, n + kChallengeSize, out);
  return false;
}

namespace {

// The entries exist only around each connect, exchange and close.
int bracketed_exchange(Session& s, uint8_t code, const uint8_t* request, size_t len, uint8_t* reply, size_t cap,
                       size_t* got) {
  const reach::TemporaryEntries bracket(*s.record);
  return frame_exchange(code, s.socket, request, len, reply, cap, s.timing, got);
}

void close_channel(Session& s) {
  {
    const reach::TemporaryEntries bracket(*s.record);
    platform::tcp_close(s.socket);
  }
  s.socket = -1;
}

int login(Session& s, const char* password) {
  // A second login replaces the channel: the old socket must not leak.
  if (s.socket != -1) close_channel(s);
  int fd = -1;
  int r;
  {
    const reach::TemporaryEntries bracket(*s.record);
    r = open_connection(s.record->device_ip, s.timing, &fd);
  }
  if (r != kOk) return r;
  s.socket = fd;

  uint8_t frame[kHeaderSize + kResponseSize];
  uint8_t reply[kHeaderSize + kChallengeSize];
  size_t got = 0;
  encode_header(frame, kChallengeCommand, 0);
  r = bracketed_exchange(s, kChallengeCommand, frame, kHeaderSize, reply, sizeof reply, &got);
  if (r != kOk) {
    close_channel(s);
    return r;
  }
  uint8_t challenge[kChallengeSize];
  std::memcpy(challenge, reply + kHeaderSize, kChallengeSize);

  encode_header(frame, kLoginCommand, kResponseSize);
  const bool plain = login_response(s.record->app_id, password, challenge, frame + kHeaderSize);
  r = bracketed_exchange(s, kLoginCommand, frame, sizeof frame, reply, kHeaderSize, &got);
  if (r != kOk) {
    close_channel(s);
    return r;
  }
  std::memset(s.password, 0, sizeof s.password);
  std::memcpy(s.password, password, std::strlen(password));
  std::memcpy(s.challenge, challenge, kChallengeSize);
  s.plain_password = plain;
  return kOk;
}

}  // namespace
}  // namespace tarnix::channel

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_Login(int32_t session, const char* password) {
  if (password == nullptr) return DSC_EINVAL;
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || strnlen(password, tarnix::channel::kMaxPassword + 1) > tarnix::channel::kMaxPassword)
    return DSC_EINVAL;
  return tarnix::export_result(tarnix::channel::login(*s, password));
}

DSC_EXPORT int32_t DSC_CALL dsc_Logout(int32_t session) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  tarnix::channel::close_channel(*s);
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_Detach(int32_t session) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (s->socket != -1) dsc_Logout(session);
  return tarnix::release_session(session);
}

}  // extern "C"
