#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "devsim_peer.h"
#include "lab/lab.h"
#include "process.h"

namespace {

using namespace devsim_peer;
using testing::HasSubstr;

const Bytes kSearch = {0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
const Bytes kReply = {0x81, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x4d, 0x3c, 0x2b, 0x1a,
                      0x01, 0x02, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 127,  0,    0,    2};

Bytes Search(const std::vector<Bytes>& entries) {
  Bytes list;
  for (const Bytes& e : entries) list.insert(list.end(), e.begin(), e.end());
  return Datagram(0x01, list);
}

TEST_F(DevsimTest, SearchGetsExactReplyFromDeviceAddressAndIsLogged) {
  ASSERT_NO_FATAL_FAILURE(StartDevice());
  ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, kSearch));
  auto reply = client_.Receive(1000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, kReply);
  EXPECT_EQ(reply->from, "127.0.0.2:4800");

  auto log = WaitLog(*devsim_, 2);
  ASSERT_EQ(Directions(log), "rx tx");
  for (const auto& e : log) {
    EXPECT_EQ(e.device, "d");
    EXPECT_EQ(Endpoint(e.peer_ip, e.peer_port), "127.0.0.1:" + std::to_string(client_.port()));
    EXPECT_EQ(Endpoint(e.local_ip, e.local_port), "127.0.0.2:4800");
  }
  EXPECT_EQ(log[0].bytes, kSearch);
  EXPECT_EQ(log[1].bytes, kReply);
  EXPECT_LE(log[0].t_ms, log[1].t_ms);
}

struct InputCase {
  const char* name;
  Bytes datagram;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }
std::string CaseName(const testing::TestParamInfo<InputCase>& info) { return info.param.name; }

class AnsweredTest : public DevsimTest, public testing::WithParamInterface<InputCase> {};

TEST_P(AnsweredTest, GetsTheSearchReply) {
  ASSERT_NO_FATAL_FAILURE(StartDevice());
  ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, GetParam().datagram));
  auto reply = client_.Receive(1000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, kReply);
}

INSTANTIATE_TEST_SUITE_P(
    Devsim, AnsweredTest,
    testing::Values(InputCase{"EmptyList", kSearch},
                    InputCase{"OthersListed", Search({Bytes(12, 0), Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}})},
                    InputCase{"SameAppAndModelOtherMac", Search({Replace(kOwnEntry, 11, {0x56})})},
                    InputCase{"SameModelAndMacOtherApp", Search({Replace(kOwnEntry, 0, {0x4e})})},
                    InputCase{"SameAppAndMacOtherModel", Search({Replace(kOwnEntry, 4, {0x02, 0x01})})},
                    InputCase{"BytesPastTheLengthField", Bytes{0x01, 0, 0, 8, 0, 0, 0, 0, 0xff, 0xff, 0xff}},
                    InputCase{"LongListOfOthers", Search(std::vector<Bytes>(5000, Bytes(12, 0xee)))}),
    CaseName);

class IgnoredTest : public DevsimTest, public testing::WithParamInterface<InputCase> {};

// A good search sent right after the bad input is answered; the log then shows whether the bad one was too.
TEST_P(IgnoredTest, IsLoggedButNotAnswered) {
  ASSERT_NO_FATAL_FAILURE(StartDevice());
  ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, GetParam().datagram));
  ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, kSearch));
  auto reply = client_.Receive(1000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, kReply);

  auto log = WaitLog(*devsim_, 3);
  log.resize(std::min<size_t>(log.size(), 3));
  ASSERT_EQ(Directions(log), "rx rx tx");
  EXPECT_EQ(log[0].bytes, GetParam().datagram);
  EXPECT_EQ(log[1].bytes, kSearch);
}

INSTANTIATE_TEST_SUITE_P(Devsim, IgnoredTest,
                         testing::Values(InputCase{"Empty", {}},
                                         InputCase{"ShorterThanHeader", {0x01, 0, 0, 8, 0, 0, 0}},
                                         InputCase{"AReply", kReply},
                                         InputCase{"ReplyBitOnSearch", {0x81, 0, 0, 8, 0, 0, 0, 0}},
                                         InputCase{"NonZeroStatus", {0x01, 0x01, 0, 8, 0, 0, 0, 0}},
                                         InputCase{"NonZeroWordLastByte", {0x01, 0, 0, 8, 0, 0, 0, 0x01}},
                                         InputCase{"NonZeroWordFirstByte", {0x01, 0, 0, 8, 0x80, 0, 0, 0}},
                                         InputCase{"LengthZero", {0x01, 0, 0, 0, 0, 0, 0, 0}},
                                         InputCase{"LengthBelowHeader", {0x01, 0, 0, 7, 0, 0, 0, 0}},
                                         InputCase{"LengthBeyondDatagram", Resized({0x01, 0, 0, 20, 0, 0, 0, 0}, 19)},
                                         InputCase{"LengthHugeBeyondDatagram", {0x01, 0, 0xff, 0xff, 0, 0, 0, 0}},
                                         InputCase{"UnknownCommandZero", {0x00, 0, 0, 8, 0, 0, 0, 0}},
                                         InputCase{"QueryWithoutItsArguments", {0x02, 0, 0, 8, 0, 0, 0, 0}},
                                         InputCase{"UnknownCommand7f", {0x7f, 0, 0, 8, 0, 0, 0, 0}},
                                         InputCase{"ListNotMultipleOf12", Resized({0x01, 0, 0, 14, 0, 0, 0, 0}, 14)},
                                         InputCase{"ListsOwnIdentity", Search({kOwnEntry})},
                                         InputCase{"ListsOwnIdentityAmongOthers", Search({Bytes(12, 0), kOwnEntry})}),
                         CaseName);

// Arbitrary bytes, a third of them behind a plausible search header and a third behind a query header naming
// the device, with any command code it knows and any length field, so every decoder gets exercised; the
// emulator must survive all of it (under the sanitizers too) and still answer.
TEST_F(DevsimTest, SurvivesArbitraryDatagramsAndStillAnswers) {
  ASSERT_NO_FATAL_FAILURE(StartDevice("payload49=00"));
  const uint8_t kCodes[] = {1,  2,  16, 17, 18, 19, 20, 21, 22, 23, 24, 25,  26,  27,  28,  29,  33, 34,
                            35, 36, 37, 38, 39, 40, 41, 42, 49, 81, 82, 100, 101, 113, 114, 115, 127};
  std::mt19937 rng(4800);
  constexpr size_t kBatches = 6;
  constexpr size_t kBatch = 50;  // small enough for the socket buffer, so none are dropped
  for (size_t batch = 1; batch <= kBatches; ++batch) {
    for (size_t i = 0; i < kBatch; ++i) {
      Bytes d(rng() % 80);
      for (uint8_t& b : d) b = static_cast<uint8_t>(rng());
      auto length = static_cast<uint8_t>(rng() % 96);
      switch (rng() % 3) {
        case 0:
          if (d.size() >= 8) d = Replace(d, 0, {0x01, 0, 0, length, 0, 0, 0, 0});
          break;
        case 1:
          if (d.size() >= 20)
            d = Replace(d, 0, Cat({{kCodes[rng() % std::size(kCodes)], 0, 0, length, 0, 0, 0, 0}, kOwnEntry}));
          break;
      }
      ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, d));
    }
    ASSERT_EQ(devsim_->WaitReceived(batch * kBatch, 2000).size(), batch * kBatch);
  }
  UdpSocket fresh("127.0.0.1");
  ASSERT_TRUE(fresh.SendTo("127.0.0.2", kDevicePort, kSearch));
  auto reply = fresh.Receive(1000);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes, kReply);
}

struct KnobCase {
  const char* name;
  std::string knobs;
  std::vector<Bytes> requests;
  std::vector<Bytes> replies;
  std::string from;
  std::string log;
};

void PrintTo(const KnobCase& c, std::ostream* os) { *os << c.knobs; }

class KnobTest : public DevsimTest, public testing::WithParamInterface<KnobCase> {};

TEST_P(KnobTest, ShapesTheReplies) {
  const KnobCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDevice(c.knobs));
  for (const Bytes& request : c.requests) ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, request));
  for (const Bytes& expected : c.replies) {
    auto reply = client_.Receive(1000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, expected);
    EXPECT_EQ(reply->from, c.from);
  }
  EXPECT_FALSE(client_.Receive(150)) << "more replies than expected";
  EXPECT_EQ(Directions(WaitLog(*devsim_, c.requests.size() + c.replies.size())), c.log);
}

const Bytes kListsOwn = Search({kOwnEntry});
const Bytes kMalformed = {0x01, 0x01, 0, 8, 0, 0, 0, 0};
const Bytes kNameQuery = Query(16);
const Bytes kNameReply = QueryReply(16, Resized({'d'}, 40));
const Bytes kWatchdogQuery = Query(18);
const Bytes kWatchdogReply = QueryReply(18, {1, 0});

INSTANTIATE_TEST_SUITE_P(
    Devsim, KnobTest,
    testing::Values(
        KnobCase{"Status", "status=7", {kSearch}, {Replace(kReply, 1, {7})}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"Word",
                 "word=0xdeadbeef",
                 {kSearch},
                 {Replace(kReply, 4, {0xde, 0xad, 0xbe, 0xef})},
                 "127.0.0.2:4800",
                 "rx tx"},
        KnobCase{"Oversize", "oversize=3000", {kSearch}, {Resized(kReply, 3000)}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"OversizeBelowReplySize", "oversize=10", {kSearch}, {kReply}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"Truncate", "truncate=10", {kSearch}, {Resized(kReply, 10)}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"TruncateToNothing", "truncate=0", {kSearch}, {{}}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"Twice", "twice=1", {kSearch}, {kReply, kReply}, "127.0.0.2:4800", "rx tx tx"},
        KnobCase{"OtherPort", "other_port=1", {kSearch}, {kReply}, "127.0.0.2:4801", "rx tx"},
        KnobCase{"Together",
                 "status=3,twice=1,other_port=1",
                 {kSearch},
                 {Replace(kReply, 1, {3}), Replace(kReply, 1, {3})},
                 "127.0.0.2:4801",
                 "rx tx tx"},
        KnobCase{"Silent", "silent=1", {kSearch, kSearch}, {}, "", "rx rx"},
        KnobCase{"AnswerFirst", "answer_nth=1", {kSearch, kSearch, kSearch}, {kReply}, "127.0.0.2:4800", "rx tx rx rx"},
        KnobCase{
            "AnswerSecond", "answer_nth=2", {kSearch, kSearch, kSearch}, {kReply}, "127.0.0.2:4800", "rx rx tx rx"},
        KnobCase{"AnswerSecondCountsOneListingItself",
                 "answer_nth=2",
                 {kListsOwn, kSearch, kSearch},
                 {kReply},
                 "127.0.0.2:4800",
                 "rx rx tx rx"},
        KnobCase{"AnswerSecondSkipsMalformed",
                 "answer_nth=2",
                 {kMalformed, kSearch, kSearch},
                 {kReply},
                 "127.0.0.2:4800",
                 "rx rx rx tx"},
        KnobCase{"IgnoreList", "ignore_list=1", {kListsOwn}, {kReply}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"QueryStatus", "status=7", {kNameQuery}, {Replace(kNameReply, 1, {7})}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"QueryTruncate", "truncate=22", {kNameQuery}, {Resized(kNameReply, 22)}, "127.0.0.2:4800", "rx tx"},
        KnobCase{"QueryTwiceFromOtherPort",
                 "twice=1,other_port=1",
                 {kNameQuery},
                 {kNameReply, kNameReply},
                 "127.0.0.2:4801",
                 "rx tx tx"},
        KnobCase{"QueryAnswerSecondCountsPerCode",
                 "answer_nth=2",
                 {kNameQuery, kWatchdogQuery, kNameQuery, kWatchdogQuery, kNameQuery},
                 {kNameReply, kWatchdogReply},
                 "127.0.0.2:4800",
                 "rx rx rx tx rx tx rx"},
        KnobCase{"QueryAnswerSecondSkipsOneForAnotherDevice",
                 "answer_nth=2",
                 {Query(16, {}, Bytes(12, 0)), kNameQuery, kNameQuery},
                 {kNameReply},
                 "127.0.0.2:4800",
                 "rx rx rx tx"}),
    [](const testing::TestParamInfo<KnobCase>& info) { return info.param.name; });

// Two devices in one process: the delayed one must not hold up the other.
TEST_F(DevsimTest, DelayedReplyComesLaterWithoutBlockingOtherDevices) {
  ASSERT_NO_FATAL_FAILURE(Start({"--device", kDevice + ",delay=250", "--device", "name=e,ip=127.0.0.3"}));
  auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, kSearch));
  ASSERT_TRUE(client_.SendTo("127.0.0.3", kDevicePort, kSearch));

  auto first = client_.Receive(1000);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->from, "127.0.0.3:4800");
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(200));
  auto second = client_.Receive(2000);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->from, "127.0.0.2:4800");
  EXPECT_EQ(second->bytes, kReply);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(250));

  std::vector<lab::LogEntry> d;
  for (const auto& e : WaitLog(*devsim_, 4)) {
    if (e.device == "d") d.push_back(e);
  }
  ASSERT_EQ(Directions(d), "rx tx");
  EXPECT_GE(d[1].t_ms - d[0].t_ms, 250.0);
  EXPECT_LT(d[1].t_ms - d[0].t_ms, 1250.0);
}

class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    path_ = testing::TempDir() + "devsim-config-" + std::to_string(getpid()) + "-" + std::to_string(++count_);
    std::ofstream(path_) << text;
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  static inline int count_ = 0;
  std::string path_;
};

TEST_F(DevsimTest, DevicesFromConfigAndCommandLineEachAnswerOnTheirOwnAddress) {
  TempFile config(
      "# two devices\n"
      "\n"
      "  name=a,ip=127.0.0.2,app=0x11,model=0x22,mac=02:00:00:00:00:0a  # trailing comment\n"
      "name=b,ip=127.0.0.3,app=287454020,model=13,mac=02:00:00:00:00:0b,reported=10.1.2.3\n");
  ASSERT_NO_FATAL_FAILURE(Start({"--config", config.path(), "--device=ip=127.0.0.4"}));

  const std::map<std::string, Bytes> expected = {
      {"127.0.0.2:4800", {0x81, 0, 0, 24, 0, 0, 0, 0, 0x11, 0, 0, 0, 0x22, 0, 2, 0, 0, 0, 0, 0x0a, 127, 0, 0, 2}},
      {"127.0.0.3:4800", {0x81, 0, 0, 24, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 13, 0, 2, 0, 0, 0, 0, 0x0b, 10, 1, 2, 3}},
      {"127.0.0.4:4800", {0x81, 0, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 127, 0, 0, 4, 127, 0, 0, 4}},
  };
  for (const auto& [to, reply_bytes] : expected) {
    SCOPED_TRACE(to);
    ASSERT_TRUE(client_.SendTo(to.substr(0, to.find(':')).c_str(), kDevicePort, kSearch));
    auto reply = client_.Receive(1000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->from, to);
    EXPECT_EQ(reply->bytes, reply_bytes);
  }
  std::map<std::string, std::string> device_at;
  for (const auto& e : WaitLog(*devsim_, 6)) device_at[Endpoint(e.local_ip, e.local_port)] += e.device;
  EXPECT_EQ(device_at, (std::map<std::string, std::string>{
                           {"127.0.0.2:4800", "aa"}, {"127.0.0.3:4800", "bb"}, {"127.0.0.4:4800", "dev3dev3"}}));
}

TEST_F(DevsimTest, StopsPromptlyAndCleanlyWithAReplyStillPending) {
  ASSERT_NO_FATAL_FAILURE(StartDevice("delay=10000"));
  ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, kSearch));
  ASSERT_EQ(devsim_->WaitReceived(1, 2000).size(), 1u);
  auto before = std::chrono::steady_clock::now();
  int status = devsim_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << lab::internal::DescribeStatus(status);
  EXPECT_EQ(Directions(devsim_->Log()), "rx");
}

struct BadArgsCase {
  const char* name;
  std::vector<std::string> args;
  int exit_status;
};

void PrintTo(const BadArgsCase& c, std::ostream* os) { *os << c.name; }

class BadArgsTest : public testing::TestWithParam<BadArgsCase> {};

TEST_P(BadArgsTest, EndsBeforeReadyWithExitStatus) {
  std::string error;
  EXPECT_FALSE(lab::Devsim::Start(GetParam().args, "", &error));
  EXPECT_THAT(error, HasSubstr("exit status " + std::to_string(GetParam().exit_status)));
}

std::vector<std::string> Device(const std::string& keys) { return {"--device", keys}; }

INSTANTIATE_TEST_SUITE_P(
    Devsim, BadArgsTest,
    testing::Values(BadArgsCase{"NoDevices", {}, 2}, BadArgsCase{"UnknownOption", {"--colour"}, 2},
                    BadArgsCase{"MissingValue", {"--log", "/dev/null", "--device"}, 2},
                    BadArgsCase{"NoIp", Device("name=a"), 2}, BadArgsCase{"BadIp", Device("ip=127.0.0.256"), 2},
                    BadArgsCase{"WildcardIp", Device("ip=0.0.0.0"), 2},
                    BadArgsCase{"ShortMac", Device("ip=127.0.0.2,mac=02:11:22:33:44"), 2},
                    BadArgsCase{"MacWithDashes", Device("ip=127.0.0.2,mac=02-11-22-33-44-55"), 2},
                    BadArgsCase{"AppTooBig", Device("ip=127.0.0.2,app=0x100000000"), 2},
                    BadArgsCase{"ModelTooBig", Device("ip=127.0.0.2,model=65536"), 2},
                    BadArgsCase{"StatusTooBig", Device("ip=127.0.0.2,status=256"), 2},
                    BadArgsCase{"NegativeNumber", Device("ip=127.0.0.2,word=-1"), 2},
                    BadArgsCase{"NotANumber", Device("ip=127.0.0.2,delay=12ms"), 2},
                    BadArgsCase{"EmptyHex", Device("ip=127.0.0.2,app=0x"), 2},
                    BadArgsCase{"FlagNotZeroOrOne", Device("ip=127.0.0.2,bcast=yes"), 2},
                    BadArgsCase{"OversizeBeyondUdp", Device("ip=127.0.0.2,oversize=65508"), 2},
                    BadArgsCase{"UnknownKey", Device("ip=127.0.0.2,colour=red"), 2},
                    BadArgsCase{"KeyTwice", Device("ip=127.0.0.2,ip=127.0.0.3"), 2},
                    BadArgsCase{"NotKeyValue", Device("ip=127.0.0.2,bcast"), 2},
                    BadArgsCase{"BadName", Device("name=a b,ip=127.0.0.2"), 2},
                    BadArgsCase{"SameName", {"--device", "name=a,ip=127.0.0.2", "--device", "name=a,ip=127.0.0.3"}, 2},
                    BadArgsCase{"SameIp", {"--device", "ip=127.0.0.2", "--device", "ip=127.0.0.2"}, 2},
                    BadArgsCase{"MissingConfig", {"--config", "/nonexistent/devsim.conf"}, 2},
                    BadArgsCase{"DevnameTooLong", Device("ip=127.0.0.2,devname=" + std::string(61, 'n')), 2},
                    BadArgsCase{"DevnameNotPrintable", Device("ip=127.0.0.2,devname=a\tb"), 2},
                    BadArgsCase{"TimeNoSuchDay", Device("ip=127.0.0.2,time=2023-02-29T00:00:00"), 2},
                    BadArgsCase{"TimeWithoutSeconds", Device("ip=127.0.0.2,time=2024-03-05T10:20"), 2},
                    BadArgsCase{"TzOffsetTooBig", Device("ip=127.0.0.2,tz_offset=2147483648"), 2},
                    BadArgsCase{"BadMask", Device("ip=127.0.0.2,mask=255.255.0"), 2},
                    BadArgsCase{"TooManyInterfaces", Device("ip=127.0.0.2,interfaces=65"), 2},
                    BadArgsCase{"NetstatPageZero", Device("ip=127.0.0.2,netstat_page=0"), 2},
                    BadArgsCase{"NetstatPageTooBig", Device("ip=127.0.0.2,netstat_page=257"), 2},
                    BadArgsCase{"TooManyRoutes", Device("ip=127.0.0.2,routes=33"), 2},
                    BadArgsCase{"TooManyFilters", Device("ip=127.0.0.2,ipfilter=17"), 2},
                    BadArgsCase{"TooManyPppPorts", Device("ip=127.0.0.2,ppp_ports=17"), 2},
                    BadArgsCase{"PayloadOddHex", Device("ip=127.0.0.2,payload21=414"), 2},
                    BadArgsCase{"PayloadNotHex", Device("ip=127.0.0.2,payload21=zz"), 2},
                    BadArgsCase{"PayloadCodeWithReplyBit", Device("ip=127.0.0.2,payload128=00"), 2},
                    BadArgsCase{"PayloadCodeZero", Device("ip=127.0.0.2,payload0=00"), 2},
                    BadArgsCase{"PayloadCodeLeadingZero", Device("ip=127.0.0.2,payload021=00"), 2},
                    BadArgsCase{"PayloadTwice", Device("ip=127.0.0.2,payload21=00,payload21=01"), 2},
                    BadArgsCase{"PasswordTooLong", Device("ip=127.0.0.2,pw=" + std::string(16, 'p')), 2},
                    BadArgsCase{"LoginStatusTooBig", Device("ip=127.0.0.2,login_status=256"), 2},
                    BadArgsCase{"CmdStatusWithoutStatus", Device("ip=127.0.0.2,cmd_status=0"), 2},
                    BadArgsCase{"CmdStatusTooBig", Device("ip=127.0.0.2,cmd_status=0:256"), 2},
                    BadArgsCase{"CmdBadlenTooBig", Device("ip=127.0.0.2,cmd_badlen=256"), 2},
                    BadArgsCase{"AddressNotHere", Device("ip=10.9.9.9"), 1},
                    BadArgsCase{"NoPorts", Device("ip=127.0.0.2,ports=0"), 2},
                    BadArgsCase{"TooManyPorts", Device("ip=127.0.0.2,ports=17"), 2},
                    BadArgsCase{"DioModeTooBig", Device("ip=127.0.0.2,dio_mode=256"), 2},
                    BadArgsCase{"ReportToWithoutPort", Device("ip=127.0.0.2,report_to=127.0.0.1"), 2},
                    BadArgsCase{"ReportToPortZero", Device("ip=127.0.0.2,report_to=127.0.0.1:0"), 2},
                    BadArgsCase{"ReportOddHex", Device("ip=127.0.0.2,report=4b5"), 2},
                    BadArgsCase{"ReportEveryTooLong", Device("ip=127.0.0.2,report_every=3600001"), 2}),
    [](const testing::TestParamInfo<BadArgsCase>& info) { return info.param.name; });

TEST(DevsimConfig, BadLineIsRejected) {
  TempFile config("ip=127.0.0.2\nip=127.0.0.3,model=0x1ffff\n");
  std::string error;
  EXPECT_FALSE(lab::Devsim::Start({"--config", config.path()}, "", &error));
  EXPECT_THAT(error, HasSubstr("exit status 2"));
}

// The lab.

Bytes ReplyFor(Bytes identity, Bytes address) {
  Bytes out = {0x81, 0, 0, 24, 0, 0, 0, 0};
  out.insert(out.end(), identity.begin(), identity.end());
  out.insert(out.end(), address.begin(), address.end());
  return out;
}

TEST(Lab, BroadcastFromWorkstationReachesSegmentAndOutsideDevices) {
  std::unique_ptr<lab::Lab> lab;
  LAB_OR_SKIP(lab);
  std::string error;
  lab::Devsim* dev1 = lab->StartDevsim(
      "dev1", {"--device", "name=d1,ip=10.77.0.2,bcast=1,app=0x11,model=0x1,mac=02:00:00:00:00:01"}, &error);
  ASSERT_TRUE(dev1) << error;
  ASSERT_TRUE(lab->StartDevsim(
      "outside", {"--device", "name=o,ip=192.168.77.2,bcast=1,app=0x22,model=0x2,mac=02:00:00:00:00:02"}, &error))
      << error;

  std::map<std::string, Bytes> replies;
  uint16_t ws_port = 0;
  {
    lab::Lab::InWorkstation in(*lab);
    UdpSocket ws("10.77.0.1", true);
    ASSERT_TRUE(ws.bound());
    ws_port = ws.port();
    ASSERT_TRUE(ws.SendTo("255.255.255.255", kDevicePort, kSearch));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (replies.size() < 2 && std::chrono::steady_clock::now() < deadline) {
      if (auto r = ws.Receive(200)) replies[r->from] = r->bytes;
    }
  }
  EXPECT_EQ(replies, (std::map<std::string, Bytes>{
                         {"10.77.0.2:4800", ReplyFor({0x11, 0, 0, 0, 1, 0, 2, 0, 0, 0, 0, 1}, {10, 77, 0, 2})},
                         {"192.168.77.2:4800", ReplyFor({0x22, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 2}, {192, 168, 77, 2})},
                     }));
  auto rx = dev1->WaitReceived(1, 1000);
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_EQ(Endpoint(rx[0].peer_ip, rx[0].peer_port), "10.77.0.1:" + std::to_string(ws_port));
  EXPECT_EQ(Endpoint(rx[0].local_ip, rx[0].local_port), "0.0.0.0:4800");
}

TEST(Lab, TopologyIsAsDocumented) {
  std::unique_ptr<lab::Lab> lab;
  LAB_OR_SKIP(lab, .second_ws_interface = true);
  struct Check {
    const char* host;
    const char* command;
    const char* expected;
  };
  const Check checks[] = {
      {"ws", "ip -4 -o addr show dev eth0", "inet 10.77.0.1/24"},
      {"ws", "ip -4 -o addr show dev eth1", "inet 10.77.0.11/24"},
      {"ws",
       "cat /proc/sys/net/ipv4/conf/all/rp_filter /proc/sys/net/ipv4/conf/eth0/rp_filter "
       "/proc/sys/net/ipv4/conf/eth1/rp_filter",
       "0\n0\n0\n"},
      {"dev1", "ip -4 -o addr show dev eth0", "inet 10.77.0.2/24"},
      {"dev2", "ip -4 -o addr show dev eth0", "inet 10.77.0.3/24"},
      {"outside", "ip -4 -o addr show dev eth0", "inet 192.168.77.2/24"},
      {"outside", "ip route show 10.77.0.0/24", "10.77.0.0/24 dev eth0 scope link"},
      {"dev2", "ip -o link show dev lo", "UP"},
      {"outside", "ip -o link show dev lo", "UP"},
  };
  for (const Check& c : checks) {
    EXPECT_THAT(lab->Run(c.host, c.command), HasSubstr(c.expected)) << c.host << ": " << c.command;
  }
  EXPECT_THROW(lab->Netns("hub"), std::out_of_range);
}

ino_t NetnsInode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(Lab, InWorkstationMovesTheThreadAndItsNewThreadsThenBack) {
  std::unique_ptr<lab::Lab> lab;
  LAB_OR_SKIP(lab);
  const ino_t home = NetnsInode("/proc/thread-self/ns/net");
  const ino_t ws = NetnsInode("/var/run/netns/" + lab->Netns("ws"));
  ASSERT_NE(home, 0u);
  ASSERT_NE(home, ws);
  {
    lab::Lab::InWorkstation in(*lab);
    EXPECT_EQ(NetnsInode("/proc/thread-self/ns/net"), ws);
    ino_t in_thread = 0;
    std::thread([&] { in_thread = NetnsInode("/proc/thread-self/ns/net"); }).join();
    EXPECT_EQ(in_thread, ws);
  }
  EXPECT_EQ(NetnsInode("/proc/thread-self/ns/net"), home);
}

TEST(Lab, StopDevsimsFreesTheirAddresses) {
  std::unique_ptr<lab::Lab> lab;
  LAB_OR_SKIP(lab);
  std::string error;
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(lab->StartDevsim("dev2", {"--device", "ip=10.77.0.3,bcast=1"}, &error)) << error;
    lab->StopDevsims();
  }
}

TEST(Lab, DestructionStopsEmulatorsAndDeletesEveryNamespace) {
  std::unique_ptr<lab::Lab> lab;
  LAB_OR_SKIP(lab);
  std::string error;
  lab::Devsim* devsim = lab->StartDevsim("dev2", {"--device", "ip=10.77.0.3"}, &error);
  ASSERT_TRUE(devsim) << error;
  pid_t pid = devsim->pid();
  std::string ws = lab->Netns("ws");
  std::string prefix = ws.substr(0, ws.size() - 2);
  EXPECT_THAT(lab::internal::RunProgram({"/usr/sbin/ip", "netns", "list"}).out, HasSubstr(prefix));

  lab.reset();
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  auto listed = lab::internal::RunProgram({"/usr/sbin/ip", "netns", "list"});
  ASSERT_TRUE(listed.ok()) << listed.err;
  EXPECT_THAT(listed.out, testing::Not(HasSubstr(prefix)));
}

}  // namespace
