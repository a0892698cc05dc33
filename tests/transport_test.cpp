// Socket sets, polling, waiting and the exchange, on loopback in the test's
// private network namespace, against the emulator or datagrams queued by hand.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "lab/lab.h"
#include "platform/platform.h"
#include "result.h"
#include "transport.h"

namespace {

using namespace tarnix;
using transport::Received;
using transport::SocketSet;

const uint32_t kLoopback = inet_addr("127.0.0.1");
const uint32_t kDeviceAddr = inet_addr("127.0.0.2");
const std::string kDevice = "name=d,ip=127.0.0.2,app=0x80001234,model=0x4512,mac=02:00:5e:01:02:03";

static_assert(platform::tick_diff(5u, 0xFFFFFFF0u) == 21u, "tick differences survive the wrap");

// A plain UDP socket of the test, to occupy ports and to play stray senders.
struct TestSocket {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ~TestSocket() { close(fd); }
  bool bind(uint32_t addr, uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    sin.sin_port = htons(port);
    return ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
  }
  void send(uint32_t addr, uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    sin.sin_port = htons(port);
    ASSERT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sin), sizeof sin),
              static_cast<ssize_t>(bytes.size()));
  }
};

// Occupies the first n ports of the series on addr.
std::vector<std::unique_ptr<TestSocket>> take_ports(int n, uint32_t addr = transport::kWildcard) {
  std::vector<std::unique_ptr<TestSocket>> held;
  for (int k = 0; k < n; ++k) {
    held.push_back(std::make_unique<TestSocket>());
    EXPECT_TRUE(held.back()->bind(addr, transport::local_port(k)));
  }
  return held;
}

std::vector<uint8_t> search_request() {
  std::vector<uint8_t> r(transport::kHeaderSize);
  transport::encode_header(r.data(), 1, 8);
  return r;
}

// A reply to command 1: 0x81, status, length, zero word, then payload bytes.
std::vector<uint8_t> reply(size_t len, uint8_t code = 0x81, uint8_t status = 0, uint32_t word = 0) {
  std::vector<uint8_t> r(len, 0x5a);
  r[0] = code;
  if (len > 1) r[1] = status;
  if (len > 3) r[2] = 0, r[3] = static_cast<uint8_t>(len);
  for (size_t i = 4; i < 8 && i < len; ++i) r[i] = static_cast<uint8_t>(word >> (8 * (7 - i)));
  return r;
}

Timing timing(int32_t timeout, int32_t retries) {
  Timing t;
  t.timeout = timeout;
  t.retries = retries;
  return t;
}

TEST(SocketSet, BindsTheFirstFreePortOfTheSeries) {
  const struct {
    int taken;
    uint16_t want;
  } cases[] = {{0, 13316}, {1, 17412}, {2, 21508}, {12, 62468}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.taken);
    auto held = take_ports(c.taken);
    SocketSet set;
    const uint32_t wildcard[] = {transport::kWildcard};
    ASSERT_EQ(set.open(wildcard), kOk);
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set.port(0), c.want);
  }
}

TEST(SocketSet, AllThirteenPortsTakenLeavesTheSetEmptyAndSendFails) {
  auto held = take_ports(13);
  SocketSet set;
  const uint32_t wildcard[] = {transport::kWildcard};
  ASSERT_EQ(set.open(wildcard), kOk);
  EXPECT_EQ(set.size(), 0u);
  const auto req = search_request();
  EXPECT_EQ(set.send(kDeviceAddr, req.data(), req.size()), kSocketError);
  uint8_t buf[24];
  Received rx;
  EXPECT_EQ(transport::exchange(1, set, kDeviceAddr, req.data(), req.size(), buf, sizeof buf, timing(50, 2), &rx),
            kSocketError);
  EXPECT_EQ(export_result(kSocketError), DSC_ESOCKET);
}

TEST(SocketSet, PortOffsetCarriesOverToTheNextAddress) {
  auto held = take_ports(1, kLoopback);
  SocketSet set;
  const uint32_t addrs[] = {kLoopback, inet_addr("127.0.0.3")};
  ASSERT_EQ(set.open(addrs), kOk);
  ASSERT_EQ(set.size(), 2u);
  EXPECT_EQ(set.port(0), 17412);
  EXPECT_EQ(set.port(1), 17412) << "the second address starts where the first succeeded";
}

class Exchange : public ::testing::Test {
 protected:
  void start(const std::string& faults = "") {
    std::string error;
    devsim_ = lab::Devsim::Start({"--device", kDevice + faults}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
  }
  int run(const Timing& t, size_t cap = 24) {
    const uint32_t wildcard[] = {transport::kWildcard};
    EXPECT_EQ(set_.open(wildcard), kOk);
    const auto req = search_request();
    buf_.assign(cap, 0);
    return transport::exchange(1, set_, kDeviceAddr, req.data(), req.size(), buf_.data(), cap, t, &rx_);
  }
  std::unique_ptr<lab::Devsim> devsim_;
  SocketSet set_;
  std::vector<uint8_t> buf_;
  Received rx_;
};

TEST_F(Exchange, ReplyArrivesFromTheDevice) {
  start();
  ASSERT_EQ(run(timing(1000, 1)), kOk);
  EXPECT_EQ(rx_.length, 24u);
  EXPECT_EQ(buf_[0], 0x81);
  EXPECT_EQ(rx_.from_addr, kDeviceAddr);
  EXPECT_EQ(rx_.from_port, transport::kDevicePort);
  EXPECT_EQ(rx_.local_addr, transport::kWildcard);
}

TEST_F(Exchange, WorksThroughTheNextPortWhen13316IsTaken) {
  auto held = take_ports(1);
  start();
  ASSERT_EQ(run(timing(1000, 1)), kOk);
  const auto rx = devsim_->Received();
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_EQ(rx[0].peer_port, 17412);
}

TEST_F(Exchange, SilentDeviceGetsRetryCountSendsThenTimeout) {
  start(",silent=1");
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(run(timing(200, 3)), kTimeout);
  const uint32_t spent = platform::tick_diff(platform::tick_ms(), t0);
  EXPECT_GE(spent, 600u);
  EXPECT_LT(spent, 1200u);
  const auto rx = devsim_->WaitReceived(3, 500);
  ASSERT_EQ(rx.size(), 3u);
  for (const auto& e : rx) EXPECT_EQ(e.bytes, search_request());
}

TEST_F(Exchange, RetryCountsZeroAndOneBothSendOnce) {
  start(",silent=1");
  for (int retries : {0, 1}) {
    SCOPED_TRACE(retries);
    const size_t before = devsim_->Received().size();
    EXPECT_EQ(run(timing(50, retries)), kTimeout);
    EXPECT_EQ(devsim_->WaitReceived(before + 1, 500).size(), before + 1);
  }
}

TEST_F(Exchange, UnacceptableRepliesCountAsSilence) {
  for (const char* fault : {",status=1", ",word=0x01000000", ",oversize=3000"}) {
    SCOPED_TRACE(fault);
    start(fault);
    EXPECT_EQ(run(timing(100, 2)), kTimeout);
    EXPECT_EQ(devsim_->WaitReceived(2, 500).size(), 2u);
    devsim_.reset();
  }
}

TEST_F(Exchange, LongReplyIsCutToTheCapacity) {
  start(",oversize=100");
  ASSERT_EQ(run(timing(1000, 1), 22), kOk);
  EXPECT_EQ(rx_.length, 22u);
}

TEST_F(Exchange, LateReplyToAnEarlierAttemptIsAccepted) {
  start(",delay=150");
  EXPECT_EQ(run(timing(100, 3)), kOk);
  EXPECT_EQ(devsim_->Received().size(), 2u) << "the first reply arrived during the second wait";
}

// Waits on datagrams queued before the wait starts, so every rule is seen on
// exact bytes.
class Wait : public ::testing::Test {
 protected:
  void SetUp() override {
    const uint32_t addrs[] = {kLoopback};
    ASSERT_EQ(set_.open(addrs), kOk);
    ASSERT_EQ(set_.size(), 1u);
  }
  void queue(const std::vector<uint8_t>& bytes) { sender_.send(kLoopback, set_.port(0), bytes); }
  SocketSet set_;
  TestSocket sender_;
  uint8_t buf_[24];
  Received rx_;
};

TEST_F(Wait, StrayDatagramsAreSkipped) {
  queue(reply(24, 0x82));                    // another command's reply
  queue(reply(24, 0x01));                    // a request, not a reply
  queue(reply(24, 0x81, 1));                 // failing status
  queue(reply(24, 0x81, 0, 0x00000100));     // non-zero word at 4 to 7
  queue(std::vector<uint8_t>(3000, 0x81));   // over the receive limit
  queue(std::vector<uint8_t>{0x81});         // one byte: its missing header reads as zeros
  auto good = reply(24);
  good[23] = 0x77;
  queue(good);
  ASSERT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, timing(500, 1), &rx_), kOk);
  // The one-byte datagram passes the rule on zeros, like any short reply.
  EXPECT_EQ(rx_.length, 1u);
  ASSERT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, timing(500, 1), &rx_), kOk);
  EXPECT_EQ(rx_.length, 24u);
  EXPECT_EQ(buf_[23], 0x77);
  EXPECT_EQ(rx_.local_addr, kLoopback);
}

TEST_F(Wait, OnlyStraysMeansTimeout) {
  queue(reply(24, 0x81, 2));
  queue(std::vector<uint8_t>(2049, 0x81));
  EXPECT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, timing(100, 1), &rx_), kTimeout);
}

TEST_F(Wait, DatagramOfExactlyTheLimitIsTaken) {
  auto big = reply(2048);
  queue(big);
  EXPECT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, timing(100, 1), &rx_), kOk);
  EXPECT_EQ(rx_.length, sizeof buf_);
}

TEST_F(Wait, ShortReplyLeavesZerosNotOldBytes) {
  std::memset(buf_, 0xaa, sizeof buf_);
  queue(reply(10));
  ASSERT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, timing(500, 1), &rx_), kOk);
  EXPECT_EQ(rx_.length, 10u);
  for (size_t i = 10; i < sizeof buf_; ++i) EXPECT_EQ(buf_[i], 0) << i;
}

TEST_F(Wait, ZeroTimeoutStillPollsOnce) {
  queue(reply(24));
  EXPECT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, timing(0, 1), &rx_), kOk);
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, timing(0, 1), &rx_), kTimeout);
  EXPECT_LT(platform::tick_diff(platform::tick_ms(), t0), 100u);
}

TEST_F(Wait, ReplyIsTakenTheMomentItArrives) {
  // The emulator answers after 30 ms; a blind 10 ms sleep would be fine too,
  // but the reply must not wait for the whole time-out.
  std::string error;
  auto dev = lab::Devsim::Start({"--device", kDevice + ",delay=30"}, "", &error);
  ASSERT_NE(dev, nullptr) << error;
  const auto req = search_request();
  const uint32_t t0 = platform::tick_ms();
  ASSERT_EQ(transport::exchange(1, set_, kDeviceAddr, req.data(), req.size(), buf_, sizeof buf_, timing(2000, 1), &rx_),
            kOk);
  EXPECT_LT(platform::tick_diff(platform::tick_ms(), t0), 500u);
}

struct ProgressLog {
  int calls = 0;
  int stop_at = 0;  // 0: never cancel
  bool args_ok = true;
};
ProgressLog* g_progress = nullptr;

int32_t DSC_CALL progress(uint32_t code, int32_t stage, int32_t percent, int32_t user) {
  ++g_progress->calls;
  if (code != 1 || stage != 0 || percent != 0 || user != 0x1234) g_progress->args_ok = false;
  return g_progress->calls == g_progress->stop_at ? 0 : 1;
}

TEST_F(Wait, ProgressIsAskedAboutEveryTenMilliseconds) {
  ProgressLog log;
  g_progress = &log;
  Timing t = timing(300, 1);
  t.proc = progress;
  t.user = 0x1234;
  EXPECT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, t, &rx_), kTimeout);
  EXPECT_TRUE(log.args_ok);
  EXPECT_GE(log.calls, 15);
  EXPECT_LE(log.calls, 40);
}

TEST_F(Wait, ProgressReturningZeroCancels) {
  for (int stop_at : {1, 3}) {
    SCOPED_TRACE(stop_at);
    ProgressLog log;
    log.stop_at = stop_at;
    g_progress = &log;
    Timing t = timing(5000, 1);
    t.proc = progress;
    t.user = 0x1234;
    EXPECT_EQ(transport::wait_reply(set_, 1, buf_, sizeof buf_, t, &rx_), kCancelled);
    EXPECT_EQ(log.calls, stop_at);
  }
  EXPECT_EQ(export_result(kCancelled), DSC_ECANCELLED);
}

}  // namespace
