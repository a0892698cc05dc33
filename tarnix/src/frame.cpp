#include "frame.h"

#include <atomic>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "result.h"

namespace tarnix {
namespace {

// Attach and detach may come from several threads; the lock keeps two callers
// from taking the same free session. Exchanges on one session are the caller's
// to serialise.
std::mutex g_session_lock;
Session g_sessions[kSessionCount];

std::atomic<int32_t> g_search_timeout{1000};
std::atomic<int32_t> g_search_retries{5};

std::mutex g_search_lock;

std::mutex g_address_lock;
std::vector<uint32_t> g_local_addresses;

// Reads the address list when the library is loaded.
const struct LoadTime {
  LoadTime() { refresh_local_addresses(); }
} g_load_time;

Session* locked_checked_session(int32_t number) {
  if (number < 0 || number >= kSessionCount) return nullptr;
  Session& s = g_sessions[number];
  return s.in_use ? &s : nullptr;
}

}  // namespace

Session* checked_session(int32_t number) {
  std::lock_guard<std::mutex> guard(g_session_lock);
  return locked_checked_session(number);
}

int32_t release_session(int32_t number) {
  std::lock_guard<std::mutex> guard(g_session_lock);
  Session* s = locked_checked_session(number);
  if (s == nullptr) return DSC_EINVAL;
  s->record.reset();
  s->in_use = 0;
  return DSC_OK;
}

Timing search_timing() {
  Timing t;
  t.timeout = g_search_timeout.load();
  t.retries = g_search_retries.load();
  return t;
}

void refresh_local_addresses() {
  std::vector<uint32_t> fresh = platform::local_ipv4_addresses();
  std::lock_guard<std::mutex> guard(g_address_lock);
  g_local_addresses.swap(fresh);
}

std::vector<uint32_t> local_addresses() {
  std::lock_guard<std::mutex> guard(g_address_lock);
  return g_local_addresses;
}

std::mutex& search_lock() { return g_search_lock; }

}  // namespace tarnix

using tarnix::Session;

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_Attach(const DSINFO* record, int32_t* session) {
  if (record == nullptr || session == nullptr) return DSC_EINVAL;
  std::lock_guard<std::mutex> guard(tarnix::g_session_lock);
  for (int32_t n = 0; n < tarnix::kSessionCount; ++n) {
    Session& s = tarnix::g_sessions[n];
    if (s.in_use) continue;
    s.record.reset(new (std::nothrow) DSINFO);
    if (!s.record) {
      *session = -1;
      return DSC_ENOMEM;
    }
    std::memcpy(s.record.get(), record, sizeof(DSINFO));
    s.in_use = 1;
    *session = n;
    return DSC_OK;
  }
  *session = -2;
  return DSC_ENOSESSION;
}

DSC_EXPORT int32_t DSC_CALL dsc_UpdateDSINFO(int32_t session, const DSINFO* record) {
  std::lock_guard<std::mutex> guard(tarnix::g_session_lock);
  Session* s = tarnix::locked_checked_session(session);
  if (s == nullptr || record == nullptr) return DSC_EINVAL;
  if (s->socket != -1) return DSC_EFAIL;
  std::memcpy(s->record.get(), record, sizeof(DSINFO));
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_LibSetTimeout(int32_t session, int32_t timeout, int32_t retries) {
  Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (timeout >= 0) s->timing.timeout = timeout;
  if (retries >= 0) s->timing.retries = retries;
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_LibSetProc(int32_t session, DSC_PROGRESS_PROC proc, int32_t user) {
  Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  s->timing.proc = proc;
  s->timing.user = user;
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_LibSetUpgTimeout(int32_t session, int32_t timeout) {
  Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  s->timing.upgrade_timeout = timeout;
  return DSC_OK;
}

DSC_EXPORT void DSC_CALL dsc_SetSearchOpt(int32_t timeout, int32_t retries) {
  if (timeout >= 0) tarnix::g_search_timeout.store(timeout);
  if (retries >= 0) tarnix::g_search_retries.store(retries);
}

}  // extern "C"
