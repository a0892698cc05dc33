// Sessions, timing values, search options and the result table.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "frame.h"
#include "result.h"
#include "tarnix.h"

static_assert(sizeof(DSINFO) == 28);
static_assert(offsetof(DSINFO, app_id) == 0);
static_assert(offsetof(DSINFO, model) == 4);
static_assert(offsetof(DSINFO, flags) == 6);
static_assert(offsetof(DSINFO, reserved1) == 7);
static_assert(offsetof(DSINFO, reported_ip) == 8);
static_assert(offsetof(DSINFO, device_ip) == 12);
static_assert(offsetof(DSINFO, local_ip) == 16);
static_assert(offsetof(DSINFO, mac) == 20);
static_assert(offsetof(DSINFO, reserved2) == 26);

namespace {

DSINFO device(uint8_t tag) {
  DSINFO d{};
  d.app_id = 0x80001000u + tag;
  d.model = 0x4512;
  d.device_ip = 0x0200007fu;
  d.mac[5] = tag;
  return d;
}

// Every test starts and ends with all sessions free.
class Sessions : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int32_t n = 0; n < tarnix::kSessionCount; ++n) dsc_Detach(n);
  }
};

TEST_F(Sessions, NumbersAreHandedOutLowestFirstUpTo256) {
  const DSINFO d = device(1);
  for (int32_t want = 0; want < 256; ++want) {
    int32_t s = -99;
    ASSERT_EQ(dsc_Attach(&d, &s), DSC_OK);
    ASSERT_EQ(s, want);
  }
  int32_t s = -99;
  EXPECT_EQ(dsc_Attach(&d, &s), DSC_ENOSESSION);
  EXPECT_EQ(s, -2);

  ASSERT_EQ(dsc_Detach(17), DSC_OK);
  EXPECT_EQ(dsc_Attach(&d, &s), DSC_OK);
  EXPECT_EQ(s, 17);
}

TEST_F(Sessions, AttachRefusesNullPointersWithoutWriting) {
  const DSINFO d = device(1);
  int32_t s = 1234;
  EXPECT_EQ(dsc_Attach(nullptr, &s), DSC_EINVAL);
  EXPECT_EQ(s, 1234);
  EXPECT_EQ(dsc_Attach(&d, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_Attach(&d, &s), DSC_OK);
  EXPECT_EQ(s, 0) << "the refused calls took no session";
}

TEST_F(Sessions, AttachKeepsItsOwnCopy) {
  DSINFO d = device(7);
  int32_t s = -1;
  ASSERT_EQ(dsc_Attach(&d, &s), DSC_OK);
  d.app_id = 0;
  const tarnix::Session* session = tarnix::checked_session(s);
  ASSERT_NE(session, nullptr);
  const DSINFO want = device(7);
  EXPECT_EQ(std::memcmp(session->record.get(), &want, sizeof want), 0);

  const DSINFO other = device(9);
  EXPECT_EQ(dsc_UpdateDSINFO(s, &other), DSC_OK);
  EXPECT_EQ(std::memcmp(session->record.get(), &other, sizeof other), 0);
  EXPECT_EQ(dsc_UpdateDSINFO(s, nullptr), DSC_EINVAL);
}

TEST_F(Sessions, BadOrFreeSessionNumbersAreRefused) {
  const DSINFO d = device(1);
  int32_t s = -1;
  ASSERT_EQ(dsc_Attach(&d, &s), DSC_OK);
  ASSERT_EQ(s, 0);
  for (int32_t bad : {-1, 1, 255, 256, 0x7fffffff, static_cast<int32_t>(0x80000000)}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(dsc_Detach(bad), DSC_EINVAL);
    EXPECT_EQ(dsc_UpdateDSINFO(bad, &d), DSC_EINVAL);
    EXPECT_EQ(dsc_LibSetTimeout(bad, 1, 1), DSC_EINVAL);
    EXPECT_EQ(dsc_LibSetProc(bad, nullptr, 0), DSC_EINVAL);
    EXPECT_EQ(dsc_LibSetUpgTimeout(bad, 1), DSC_EINVAL);
  }
  EXPECT_EQ(dsc_Detach(0), DSC_OK);
  EXPECT_EQ(dsc_Detach(0), DSC_EINVAL) << "detaching twice";
}

int32_t DSC_CALL never_called(uint32_t, int32_t, int32_t, int32_t) { return 1; }

TEST_F(Sessions, TimingValuesStartAtDefaultsAndSurviveDetach) {
  const DSINFO d = device(1);
  int32_t s = -1;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(dsc_Attach(&d, &s), DSC_OK);
  ASSERT_EQ(s, 3);
  const tarnix::Timing& t = tarnix::checked_session(3)->timing;
  EXPECT_EQ(t.timeout, 1000);
  EXPECT_EQ(t.retries, 5);
  EXPECT_EQ(t.proc, nullptr);
  EXPECT_EQ(t.user, 0);
  EXPECT_EQ(t.upgrade_timeout, 60000);

  // Negative values keep the field; zero is a value.
  EXPECT_EQ(dsc_LibSetTimeout(3, 3000, -1), DSC_OK);
  EXPECT_EQ(t.timeout, 3000);
  EXPECT_EQ(t.retries, 5);
  EXPECT_EQ(dsc_LibSetTimeout(3, -1, 0), DSC_OK);
  EXPECT_EQ(t.timeout, 3000);
  EXPECT_EQ(t.retries, 0);

  EXPECT_EQ(dsc_LibSetTimeout(3, 500, 2), DSC_OK);
  EXPECT_EQ(dsc_LibSetProc(3, never_called, 42), DSC_OK);
  EXPECT_EQ(dsc_LibSetUpgTimeout(3, -7), DSC_OK) << "stored unchecked";
  ASSERT_EQ(dsc_Detach(3), DSC_OK);
  ASSERT_EQ(dsc_Attach(&d, &s), DSC_OK);
  ASSERT_EQ(s, 3);
  EXPECT_EQ(t.timeout, 500);
  EXPECT_EQ(t.retries, 2);
  EXPECT_EQ(t.proc, never_called);
  EXPECT_EQ(t.user, 42);
  EXPECT_EQ(t.upgrade_timeout, -7);

  EXPECT_EQ(dsc_LibSetProc(3, nullptr, 0), DSC_OK);
  EXPECT_EQ(t.proc, nullptr);
}

TEST_F(Sessions, ConcurrentAttachAndDetachNeverShareASession) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([i, &failures] {
      const DSINFO d = device(static_cast<uint8_t>(i));
      for (int r = 0; r < kRounds; ++r) {
        int32_t s = -1;
        if (dsc_Attach(&d, &s) != DSC_OK) {
          ++failures[i];
          continue;
        }
        // Nobody else may have overwritten our copy in between.
        const tarnix::Session* session = tarnix::checked_session(s);
        if (session == nullptr || session->record->mac[5] != i) ++failures[i];
        if (dsc_Detach(s) != DSC_OK) ++failures[i];
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(failures[i], 0) << "thread " << i;
}

TEST(SearchOptions, NegativeKeepsAndZeroSets) {
  dsc_SetSearchOpt(1000, 5);
  EXPECT_EQ(tarnix::search_timing().timeout, 1000);
  dsc_SetSearchOpt(250, -1);
  EXPECT_EQ(tarnix::search_timing().timeout, 250);
  EXPECT_EQ(tarnix::search_timing().retries, 5);
  dsc_SetSearchOpt(-1, 0);
  EXPECT_EQ(tarnix::search_timing().timeout, 250);
  EXPECT_EQ(tarnix::search_timing().retries, 0);
  EXPECT_EQ(tarnix::search_timing().proc, nullptr);
  dsc_SetSearchOpt(1000, 5);
}

TEST(ResultTable, MapsEveryInternalResult) {
  const struct {
    int internal;
    int32_t exported;
  } cases[] = {
      {1, DSC_OK},          {0, DSC_EFAIL},          {-1, DSC_EFAIL},         {-11, DSC_ETIMEOUT},
      {-12, DSC_ESOCKET},   {-13, DSC_ECANCELLED},   {-14, DSC_EINVAL},       {-15, DSC_ESTATUS254},
      {-17, DSC_ESTATUS252}, {-19, DSC_EFAIL},       {-16, DSC_EFAIL},        {-18, DSC_EFAIL},
      {2, DSC_EFAIL},       {-1000, DSC_EFAIL},
  };
  for (const auto& c : cases) EXPECT_EQ(tarnix::export_result(c.internal), c.exported) << c.internal;
}

}  // namespace
