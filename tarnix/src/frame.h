// Library frame: the session table, timing values, search options, the local
// address list and the locks that the rest of the library stands on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "tarnix.h"

namespace tarnix {

constexpr int kSessionCount = 256;
constexpr size_t kPasswordField = 17;  // 15 characters, NUL, and one spare byte

// What every wait reads: a session's own values, or the search options.
struct Timing {
  int32_t timeout = 1000;  // ms per wait
  int32_t retries = 5;     // sends per query, wait count on the channel
  DSC_PROGRESS_PROC proc = nullptr;
  int32_t user = 0;
  int32_t upgrade_timeout = 60000;  // ms, for file transfers
};

struct Session {
  int32_t in_use = 0;
  std::unique_ptr<DSINFO> record;
  int socket = -1;  // session channel; -1 while none is open
  char password[kPasswordField] = {};
  uint8_t challenge[4] = {};
  // Set by this session's own login: the password went in plain form. Kept
  // per session, so that two devices of different families do not overwrite
  // each other's form.
  bool plain_password = false;
  Timing timing;
};

// The session for a number, or null when the number is outside 0 to 255 or the
// session is free (the caller then returns DSC_EINVAL).
Session* checked_session(int32_t number);

// Frees an attached session's record and marks it free (DSC_EINVAL when the
// number is bad or the session already free). Its channel must be closed.
int32_t release_session(int32_t number);

// The search options as a timing group (no progress procedure).
Timing search_timing();

// Re-reads the workstation's addresses; the search calls it at its start so
// that a long-running program follows address changes.
void refresh_local_addresses();
std::vector<uint32_t> local_addresses();

// Held for the whole of a search, so that searches run one after the other.
std::mutex& search_lock();

}  // namespace tarnix
