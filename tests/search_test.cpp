// Directed searches on loopback in the test's private network namespace, whose
// only local address is the loopback fallback 127.0.0.1. Broadcast searches
// run in the network lab (lab_search_test).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "lab/lab.h"
#include "platform/platform.h"
#include "search.h"
#include "search_recorder.h"
#include "tarnix.h"

namespace {

const uint32_t kA = inet_addr("127.0.0.2");
const uint32_t kSilent = inet_addr("127.0.0.9");
const std::string kDeviceA = "name=a,ip=127.0.0.2,app=0x80004012,model=0x4512,mac=02:00:5e:00:00:0a,reported=10.1.2.3";

using search_recorder::collect;
using search_recorder::g_seen;
using search_recorder::Seen;

class DirectedSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = &seen_;
    dsc_SetSearchOpt(100, 2);
  }
  void TearDown() override { dsc_SetSearchOpt(1000, 5); }
  void start(const std::string& keys) {
    std::string error;
    devsim_ = lab::Devsim::Start({"--device", keys}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
  }
  Seen seen_;
  std::unique_ptr<lab::Devsim> devsim_;
};

TEST_F(DirectedSearch, FindsTheDeviceOnceAndEndsAtOnce) {
  dsc_SetSearchOpt(2000, 5);
  start(kDeviceA);
  const uint32_t t0 = tarnix::platform::tick_ms();
  ASSERT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), collect), DSC_OK);
  EXPECT_LT(tarnix::platform::tick_diff(tarnix::platform::tick_ms(), t0), 1000u) << "no further rounds";
  ASSERT_EQ(seen_.records.size(), 1u);
  EXPECT_EQ(seen_.rounds, 0);
  const DSINFO& d = seen_.records[0];
  EXPECT_EQ(d.app_id, 0x80004012u);
  EXPECT_EQ(d.model, 0x4512);
  EXPECT_EQ(d.flags, DSC_FLAG_DIRECT);
  EXPECT_EQ(d.reserved1, 0);
  EXPECT_EQ(d.reported_ip, inet_addr("10.1.2.3"));
  EXPECT_EQ(d.device_ip, kA) << "the reply's source, not the reported address";
  EXPECT_EQ(d.local_ip, inet_addr("127.0.0.1"));
  const uint8_t mac[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x0a};
  EXPECT_EQ(std::memcmp(d.mac, mac, 6), 0);
  EXPECT_EQ(d.reserved2[0] | d.reserved2[1], 0);

  const auto rx = devsim_->Received();
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_EQ(rx[0].bytes, (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x08, 0, 0, 0, 0}));
  EXPECT_EQ(rx[0].peer_port, 13316);
}

TEST_F(DirectedSearch, NobodyAnsweringGivesTimeoutAfterAllRounds) {
  start(kDeviceA);  // listening elsewhere, so the log proves nothing reached it
  const uint32_t t0 = tarnix::platform::tick_ms();
  EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kSilent), collect), DSC_ETIMEOUT);
  const uint32_t spent = tarnix::platform::tick_diff(tarnix::platform::tick_ms(), t0);
  EXPECT_GE(spent, 200u);
  EXPECT_LT(spent, 800u);
  EXPECT_EQ(seen_.rounds, 2);
  EXPECT_TRUE(seen_.records.empty());
}

TEST_F(DirectedSearch, RoundsFollowTheSearchOptions) {
  const struct {
    int32_t retries;
    int rounds;
  } cases[] = {{0, 1}, {1, 1}, {3, 3}};
  start(kDeviceA + ",silent=1");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.retries);
    seen_ = Seen{};
    dsc_SetSearchOpt(50, c.retries);
    const size_t before = devsim_->Received().size();
    EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), collect), DSC_ETIMEOUT);
    EXPECT_EQ(seen_.rounds, c.rounds);
    EXPECT_EQ(devsim_->WaitReceived(before + c.rounds, 500).size(), before + c.rounds);
  }
}

TEST_F(DirectedSearch, AnswerToTheThirdRequestEndsTheSearchThere) {
  dsc_SetSearchOpt(80, 5);
  start(kDeviceA + ",answer_nth=3");
  EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), collect), DSC_OK);
  EXPECT_EQ(seen_.rounds, 2);
  EXPECT_EQ(seen_.records.size(), 1u);
  EXPECT_EQ(devsim_->Received().size(), 3u);
}

TEST_F(DirectedSearch, ProcedureDiscardingTheRecordGivesTimeout) {
  seen_.answer_record = 0;
  start(kDeviceA);
  EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), collect), DSC_ETIMEOUT);
  EXPECT_EQ(seen_.records.size(), 1u);
  EXPECT_EQ(seen_.rounds, 0);
}

TEST_F(DirectedSearch, NullProcedureIsRefusedAndSendsNothing) {
  start(kDeviceA);
  EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_EnumSearch(0, nullptr), DSC_EINVAL);
  // A real search afterwards proves the emulator was listening all along.
  ASSERT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), collect), DSC_OK);
  EXPECT_EQ(devsim_->Received().size(), 1u);
}

TEST_F(DirectedSearch, UnacceptableRepliesAreNotDevices) {
  for (const char* fault : {",status=1", ",word=0x00000001", ",oversize=3000"}) {
    SCOPED_TRACE(fault);
    seen_ = Seen{};
    start(kDeviceA + fault);
    EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), collect), DSC_ETIMEOUT);
    EXPECT_TRUE(seen_.records.empty());
  }
}

TEST_F(DirectedSearch, ReplyFromAnotherPortStillCounts) {
  start(kDeviceA + ",other_port=1");
  ASSERT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), collect), DSC_OK);
  ASSERT_EQ(seen_.records.size(), 1u);
  EXPECT_EQ(seen_.records[0].device_ip, kA);
}

TEST_F(DirectedSearch, SearchesOfTwoThreadsRunOneAfterTheOther) {
  dsc_SetSearchOpt(150, 2);  // each search: two silent rounds
  start(kDeviceA + ",silent=1");
  std::atomic<uint32_t> ends[2] = {0, 0};
  auto search = [&](int i) {
    EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA), [](DSINFO*) -> int32_t { return 1; }), DSC_ETIMEOUT);
    ends[i] = tarnix::platform::tick_ms();
  };
  const uint32_t t0 = tarnix::platform::tick_ms();
  std::thread a(search, 0), b(search, 1);
  a.join();
  b.join();
  const uint32_t first = std::min(ends[0] - t0, ends[1] - t0);
  const uint32_t last = std::max(ends[0] - t0, ends[1] - t0);
  EXPECT_GE(first, 300u);
  EXPECT_GE(last, 600u) << "the second search ran only after the first";
  const auto rx = devsim_->WaitReceived(4, 500);
  ASSERT_EQ(rx.size(), 4u);
  // Both used port 13316: the second opened its sockets after the first closed them.
  for (const auto& e : rx) EXPECT_EQ(e.peer_port, 13316);
}

TEST_F(DirectedSearch, SearchProcedureCannotStartANestedSearch) {
  start(kDeviceA);
  static int32_t nested = 0;
  nested = 0;
  EXPECT_EQ(dsc_EnumSearch(static_cast<int32_t>(kA),
                           [](DSINFO* info) -> int32_t {
                             if (info != nullptr) nested = dsc_EnumSearch(static_cast<int32_t>(kA), collect);
                             return 1;
                           }),
            DSC_OK);
  EXPECT_EQ(nested, DSC_EFAIL);
  EXPECT_EQ(devsim_->Received().size(), 1u);
}

TEST(Search, NoLocalAddressFailsWithSocketError) {
  // A thread of its own in a fresh namespace, whose loopback is down.
  int32_t result = 0;
  bool isolated = false;
  std::thread t([&] {
    if (unshare(CLONE_NEWNET) != 0) return;
    isolated = tarnix::platform::local_ipv4_addresses().empty();
    result = dsc_EnumSearch(static_cast<int32_t>(kA), [](DSINFO*) -> int32_t { return 1; });
  });
  t.join();
  if (!isolated) GTEST_SKIP() << "cannot make a namespace without addresses here";
  EXPECT_EQ(result, DSC_ESOCKET);
}

TEST(SearchReply, DecodesFieldsAndRejectsUnacceptableReplies) {
  const uint8_t good[24] = {
      0x81, 0x00, 0x00, 0x18,              // reply to command 1, status 0, length 24
      0x00, 0x00, 0x00, 0x00,              // zero word
      0x12, 0x40, 0x00, 0x80,              // application ID 0x80004012
      0x12, 0x45,                          // model code 0x4512
      0x02, 0x00, 0x5e, 0x11, 0x22, 0x33,  // MAC
      192,  168,  1,    7,                 // reported address
  };
  DSINFO d{};
  ASSERT_TRUE(tarnix::search::decode_reply(good, sizeof good, &d));
  EXPECT_EQ(d.app_id, 0x80004012u);
  EXPECT_EQ(d.model, 0x4512);
  EXPECT_EQ(d.reported_ip, inet_addr("192.168.1.7"));
  EXPECT_EQ(d.mac[5], 0x33);
  EXPECT_EQ(d.device_ip | d.local_ip | d.flags, 0u);

  // Short: missing bytes are zero. Long: the tail is ignored.
  ASSERT_TRUE(tarnix::search::decode_reply(good, 14, &d));
  EXPECT_EQ(d.model, 0x4512);
  EXPECT_EQ(d.reported_ip, 0u);
  std::vector<uint8_t> longer(good, good + 24);
  longer.resize(100, 0xff);
  ASSERT_TRUE(tarnix::search::decode_reply(longer.data(), longer.size(), &d));
  EXPECT_EQ(d.reported_ip, inet_addr("192.168.1.7"));

  for (size_t byte : {0u, 1u, 4u, 7u}) {
    SCOPED_TRACE(byte);
    uint8_t bad[24];
    std::memcpy(bad, good, sizeof bad);
    bad[byte] ^= 0x01;
    DSINFO untouched{};
    untouched.app_id = 0xdeadbeef;
    EXPECT_FALSE(tarnix::search::decode_reply(bad, sizeof bad, &untouched));
    EXPECT_EQ(untouched.app_id, 0xdeadbeefu);
  }
  // An empty datagram may come with no buffer at all (found by the fuzz replay under UBSan).
  DSINFO untouched{};
  EXPECT_FALSE(tarnix::search::decode_reply(nullptr, 0, &untouched));
}

}  // namespace
