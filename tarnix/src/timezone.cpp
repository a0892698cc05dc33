// Time zone by index and the device clock as a SYSTEMTIME, on top of the
// time zone and time queries and commands.
#include <cstdint>

#include "command.h"
#include "frame.h"
#include "query.h"
#include "result.h"
#include "tarnix.h"

namespace tarnix::timezone {
namespace {

constexpr int32_t kHour = 3600;

// The offset from UTC in seconds of every zone index; several indexes share
// an offset, so the index travels with it.
constexpr int32_t kZoneOffsets[DSC_TIMEZONE_COUNT] = {
    0,                                                                      // 0
    -12 * kHour, -11 * kHour, -10 * kHour, -9 * kHour, -8 * kHour,          // 1-5
    -7 * kHour, -7 * kHour,                                                 // 6-7
    -6 * kHour, -6 * kHour, -6 * kHour,                                     // 8-10
    -5 * kHour, -5 * kHour, -5 * kHour,                                     // 11-13
    -4 * kHour, -4 * kHour, -4 * kHour,                                     // 14-16
    -12600,                                                                 // 17
    -3 * kHour, -3 * kHour, -2 * kHour, -1 * kHour,                         // 18-21
    0, 0,                                                                   // 22-23
    kHour, kHour, kHour, kHour,                                             // 24-27
    2 * kHour, 2 * kHour, 2 * kHour, 2 * kHour, 2 * kHour, 2 * kHour,       // 28-33
    3 * kHour, 3 * kHour, 3 * kHour,                                        // 34-36
    12600, 4 * kHour, 4 * kHour, 16200,                                     // 37-40
    5 * kHour, 5 * kHour, 19800,                                            // 41-43
    6 * kHour, 6 * kHour, 7 * kHour,                                        // 44-46
    8 * kHour, 8 * kHour, 8 * kHour, 8 * kHour,                             // 47-50
    9 * kHour, 9 * kHour, 9 * kHour, 34200, 34200,                          // 51-55
    10 * kHour, 10 * kHour, 10 * kHour, 10 * kHour, 10 * kHour,             // 56-60
    11 * kHour, 12 * kHour, 12 * kHour,                                     // 61-63
    0, 0, 0, 0, 0, 0,                                                       // 64-69
};
static_assert(kZoneOffsets[17] == -12600 && kZoneOffsets[43] == 19800 && kZoneOffsets[63] == 43200 &&
              kZoneOffsets[69] == 0);

constexpr uint16_t kYearBase = 1900;
constexpr uint8_t kTimeKey = 26;

}  // namespace
}  // namespace tarnix::timezone

namespace tz = tarnix::timezone;

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_Get_TimeZone_Index(int32_t session, int32_t* index) {
  if (index == nullptr) return DSC_EINVAL;
  *index = 0;
  int32_t offset = 0;
  const int32_t r = dsc_GetTimeZone(session, &offset, index);
  if (r != DSC_OK) *index = 0;
  return r;
}

DSC_EXPORT int32_t DSC_CALL dsc_Set_TimeZone_Index(int32_t session, int32_t index) {
  // The table has no offset for other indexes; the usual check order first,
  // so that the index is judged only where a command could be sent.
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  if (index < 0 || index >= DSC_TIMEZONE_COUNT) return DSC_EINVAL;
  return dsc_SetTimeZone(session, tz::kZoneOffsets[index], index);
}

DSC_EXPORT int32_t DSC_CALL dsc_GetWinTime(int32_t session, SYSTEMTIME* time) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || time == nullptr) return DSC_EINVAL;
  // The device record has the field order of SYSTEMTIME: it lands in place.
  tarnix::query::Args a;
  a.out = time;
  const int r = tarnix::query::run(tz::kTimeKey, *s->record, a, s->timing);
  if (r == tarnix::kOk) {
    time->wYear = static_cast<uint16_t>(time->wYear + tz::kYearBase);
    time->wMonth = static_cast<uint16_t>(time->wMonth + 1);
  }
  return tarnix::export_result(r);
}

DSC_EXPORT int32_t DSC_CALL dsc_SetWinTime(int32_t session, SYSTEMTIME* time) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || time == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  // In the caller's structure itself, which keeps the device's counting.
  time->wYear = time->wYear > tz::kYearBase ? static_cast<uint16_t>(time->wYear - tz::kYearBase) : 0;
  if (time->wMonth > 0) time->wMonth = static_cast<uint16_t>(time->wMonth - 1);
  tarnix::command::Args a;
  a.p = time;
  return tarnix::export_result(tarnix::command::run(tz::kTimeKey, *s, a));
}

}  // extern "C"
