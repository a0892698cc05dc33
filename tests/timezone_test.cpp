// Time zone by index and the clock as a SYSTEMTIME, against the emulator on
// loopback: the zone table, the conversions both ways, failures.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "devsim_session.h"
#include "tarnix.h"

namespace {

using namespace devsim_session;

Bytes Le32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
          static_cast<uint8_t>(u >> 24)};
}

Bytes Fields16(std::initializer_list<uint16_t> values) {
  Bytes b;
  for (uint16_t v : values) b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
  return b;
}

class TimeZone : public Session {};

TEST_F(TimeZone, EveryIndexSendsItsOffsetAndItself) {
  // The runs of equal offsets, in hours (x2 for the half hours).
  const struct {
    int first, last, half_hours;
  } runs[] = {{0, 0, 0},    {1, 1, -24},  {2, 2, -22},  {3, 3, -20},   {4, 4, -18},  {5, 5, -16},  {6, 7, -14},
              {8, 10, -12}, {11, 13, -10}, {14, 16, -8}, {17, 17, -7},  {18, 19, -6}, {20, 20, -4}, {21, 21, -2},
              {22, 23, 0},  {24, 27, 2},  {28, 33, 4},  {34, 36, 6},   {37, 37, 7},  {38, 39, 8},  {40, 40, 9},
              {41, 42, 10}, {43, 43, 11}, {44, 45, 12}, {46, 46, 14},  {47, 50, 16}, {51, 53, 18}, {54, 55, 19},
              {56, 60, 20}, {61, 61, 22}, {62, 63, 24}, {64, 69, 0}};
  Start();
  std::vector<Bytes> want;
  for (const auto& r : runs) {
    for (int index = r.first; index <= r.last; ++index) {
      ASSERT_EQ(dsc_Set_TimeZone_Index(session_, index), DSC_OK) << index;
      want.push_back(Cat({{0x1c, 1, 0, 8}, Le32(r.half_hours * 1800), Le32(index)}));
    }
  }
  ASSERT_EQ(want.size(), 70u);
  EXPECT_EQ(Frames(), want);
  // The device keeps the pair; the index reads back alone.
  int32_t index = -1;
  ASSERT_EQ(dsc_Get_TimeZone_Index(session_, &index), DSC_OK);
  EXPECT_EQ(index, 69);
}

TEST_F(TimeZone, SharpEdgesOfTheIndex) {
  Start();
  ASSERT_EQ(dsc_Set_TimeZone_Index(session_, 17), DSC_OK);
  ASSERT_EQ(dsc_Set_TimeZone_Index(session_, 22), DSC_OK);
  const auto f = Frames();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0], Cat({{0x1c, 1, 0, 8}, Le32(-12600), Le32(17)}));
  EXPECT_EQ(f[1], Cat({{0x1c, 1, 0, 8}, Le32(0), Le32(22)}));
  for (int32_t bad : {-1, 70, 0x10000}) EXPECT_EQ(dsc_Set_TimeZone_Index(session_, bad), DSC_EINVAL) << bad;
  EXPECT_EQ(dsc_Set_TimeZone_Index(session_ + 1, 5), DSC_EINVAL);
  EXPECT_EQ(Frames().size(), 2u) << "nothing sent for a refused index";
  EXPECT_EQ(dsc_Get_TimeZone_Index(session_, nullptr), DSC_EINVAL);
}

TEST_F(TimeZone, IndexChecksFollowTheCommandOrder) {
  Start("", false);
  EXPECT_EQ(dsc_Set_TimeZone_Index(session_, 5), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_Set_TimeZone_Index(session_, 70), DSC_ENOCHANNEL);
  EXPECT_TRUE(devsim_->Log().empty());
}

TEST_F(TimeZone, IndexIsZeroAfterAFailure) {
  Start(",tz_offset=-18000,tz_index=12", false);
  int32_t index = -1;
  ASSERT_EQ(dsc_Get_TimeZone_Index(session_, &index), DSC_OK);
  EXPECT_EQ(index, 12);
  Stop();
  Start(",silent=1", false);
  ASSERT_EQ(dsc_LibSetTimeout(session_, 50, 1), DSC_OK);
  index = 33;
  EXPECT_EQ(dsc_Get_TimeZone_Index(session_, &index), DSC_ETIMEOUT);
  EXPECT_EQ(index, 0);
}

TEST_F(TimeZone, GetWinTimeCountsYearsInFullAndMonthsFromOne) {
  Start(Payload(26, Fields16({124, 0, 3, 17, 23, 59, 58, 999})), false);
  SYSTEMTIME t;
  std::memset(&t, 0xee, sizeof t);
  ASSERT_EQ(dsc_GetWinTime(session_, &t), DSC_OK);
  EXPECT_EQ(t.wYear, 2024);
  EXPECT_EQ(t.wMonth, 1);
  EXPECT_EQ(t.wDayOfWeek, 3);
  EXPECT_EQ(t.wDay, 17);
  EXPECT_EQ(t.wHour, 23);
  EXPECT_EQ(t.wMinute, 59);
  EXPECT_EQ(t.wSecond, 58);
  EXPECT_EQ(t.wMilliseconds, 999);
  EXPECT_EQ(Queries().back(), Cat({{0x1a, 0, 0, 20, 0, 0, 0, 0}, kIdentity}));
}

TEST_F(TimeZone, GetWinTimeFailuresLeaveTheRecord) {
  Start(",silent=1", false);
  ASSERT_EQ(dsc_LibSetTimeout(session_, 50, 1), DSC_OK);
  SYSTEMTIME t;
  std::memset(&t, 0x5a, sizeof t);
  EXPECT_EQ(dsc_GetWinTime(session_, &t), DSC_ETIMEOUT);
  for (size_t i = 0; i < sizeof t; ++i) EXPECT_EQ(reinterpret_cast<uint8_t*>(&t)[i], 0x5a) << i;
  EXPECT_EQ(dsc_GetWinTime(session_, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_GetWinTime(session_ + 1, &t), DSC_EINVAL);
}

TEST_F(TimeZone, SetWinTimeConvertsInPlace) {
  const struct {
    uint16_t year, month;  // given
    uint16_t device_year, device_month;
  } cases[] = {{1900 + 124, 3, 124, 2}, {1901, 1, 1, 0}, {1900, 12, 0, 11}, {1850, 0, 0, 0}, {0, 5, 0, 4}};
  Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.year);
    SYSTEMTIME t = {c.year, c.month, 2, 9, 8, 7, 6, 5};
    ASSERT_EQ(dsc_SetWinTime(session_, &t), DSC_OK);
    EXPECT_EQ(t.wYear, c.device_year);
    EXPECT_EQ(t.wMonth, c.device_month);
    EXPECT_EQ(Frames().back(),
              Cat({{0x1a, 1, 0, 16}, Fields16({c.device_year, c.device_month, 2, 9, 8, 7, 6, 5})}));
  }
  // The device's clock now reads what was sent last: 1900 + 0, month 4.
  SYSTEMTIME back{};
  ASSERT_EQ(dsc_GetWinTime(session_, &back), DSC_OK);
  EXPECT_EQ(back.wYear, 1900);
  EXPECT_EQ(back.wMonth, 5);
}

TEST_F(TimeZone, SetWinTimeConvertsEvenWhenTheCommandFails) {
  Start(",cmd_status=26:254");
  SYSTEMTIME t = {2024, 3, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(dsc_SetWinTime(session_, &t), DSC_ESTATUS254);
  EXPECT_EQ(t.wYear, 124);
  EXPECT_EQ(t.wMonth, 2);
  EXPECT_EQ(dsc_SetWinTime(session_, nullptr), DSC_EINVAL);
}

TEST_F(TimeZone, SetWinTimeWithoutAChannelConvertsNothing) {
  Start("", false);
  SYSTEMTIME t = {2024, 3, 0, 1, 0, 0, 0, 0};
  EXPECT_EQ(dsc_SetWinTime(session_, &t), DSC_ENOCHANNEL);
  EXPECT_EQ(t.wYear, 2024);
  EXPECT_EQ(t.wMonth, 3);
  EXPECT_EQ(dsc_SetWinTime(session_ + 1, &t), DSC_EINVAL);
  EXPECT_TRUE(devsim_->Log().empty());
}

}  // namespace
