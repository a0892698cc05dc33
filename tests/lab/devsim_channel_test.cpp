#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "devsim_peer.h"

namespace {

using namespace devsim_peer;
using Clock = std::chrono::steady_clock;

constexpr const char* kIp = "127.0.0.2";

Bytes Md5(const Bytes& input) {
  Bytes out(16);
  unsigned int size = 0;
  EVP_Digest(input.data(), input.size(), out.data(), &size, EVP_md5(), nullptr);
  return out;
}

Bytes Digest(const std::string& password, const Bytes& challenge) {
  return Md5(Cat({Bytes(password.begin(), password.end()), challenge}));
}

Bytes Plain(const std::string& password) { return Resized(Bytes(password.begin(), password.end()), 16); }

Bytes ReplyFrame(uint8_t code, uint8_t status, const Bytes& payload = {}) { return Frame(code, payload, status); }

bool Contains(const Bytes& haystack, const std::string& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class ChannelTest : public DevsimTest {
 protected:
  void StartKeys(const std::string& keys) { Start({"--device", "name=d,ip=127.0.0.2," + keys}); }

  // The challenge the device hands out, after checking its reply frame.
  static Bytes FetchChallenge(const TcpClient& c) {
    auto reply = c.Exchange(Frame(0));
    if (!reply || reply->size() != 8) {
      ADD_FAILURE() << "no challenge";
      return Bytes(4, 0);
    }
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 4), (Bytes{0, 1, 0, 4}));
    return Bytes(reply->begin() + 4, reply->end());
  }
};

enum class Form { kDigest, kPlain };

struct LoginCase {
  const char* name;
  std::string keys;
  std::string typed;
  Form form;
  uint8_t status;
};

void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }

class LoginTest : public ChannelTest, public testing::WithParamInterface<LoginCase> {};

TEST_P(LoginTest, AnswersWithTheStatusAndOpensOnlyOnSuccess) {
  const LoginCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartKeys(c.keys));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected()) << client.error();
  Bytes challenge = FetchChallenge(client);
  Bytes response = c.form == Form::kDigest ? Digest(c.typed, challenge) : Plain(c.typed);
  EXPECT_EQ(client.Exchange(Frame(1, response)), ReplyFrame(1, c.status));
  // A later command shows whether the connection counts as logged in.
  EXPECT_EQ(client.Exchange(Frame(7, {1, 2})), ReplyFrame(7, c.status == 1 ? 1 : 251));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LoginTest,
    testing::Values(LoginCase{"Digest", "app=0x1a2b3c4d,pw=secret", "secret", Form::kDigest, 1},
                    LoginCase{"WrongPassword", "pw=secret", "secreT", Form::kDigest, 251},
                    LoginCase{"WrongPasswordOwnStatus", "pw=secret,login_status=254", "x", Form::kDigest, 254},
                    LoginCase{"EmptyByDefault", "", "", Form::kDigest, 1},
                    LoginCase{"FifteenCharacters", "pw=abcdefghijklmno", "abcdefghijklmno", Form::kDigest, 1},
                    LoginCase{"PlainInTheFamily", "app=0x80004012,pw=secret", "secret", Form::kPlain, 1},
                    LoginCase{"PlainFamilyWantsNoDigest", "app=0x80004012,pw=secret", "secret", Form::kDigest, 251},
                    LoginCase{"PlainOutsideTheFamily", "app=0x80004100,pw=secret", "secret", Form::kPlain, 251},
                    LoginCase{"DigestOutsideTheFamily", "app=0x80004100,pw=secret", "secret", Form::kDigest, 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(ChannelTest, ChallengeIsFreshAndAnswersOneLoginOnly) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("pw=pw1"));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  Bytes first = FetchChallenge(client);
  Bytes second = FetchChallenge(client);
  EXPECT_NE(first, second);
  EXPECT_EQ(client.Exchange(Frame(1, Digest("pw1", first))), ReplyFrame(1, 251));  // superseded
  EXPECT_EQ(client.Exchange(Frame(1, Digest("pw1", second))), ReplyFrame(1, 251));  // used up by that attempt
  Bytes third = FetchChallenge(client);
  EXPECT_EQ(client.Exchange(Frame(1, Digest("pw1", third))), ReplyFrame(1, 1));
}

TEST_F(ChannelTest, LoginWithoutChallengeOrOfAnotherLengthIsRefused) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("pw=pw1"));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.Exchange(Frame(1, Digest("pw1", Bytes(4, 0)))), ReplyFrame(1, 251));
  Bytes challenge = FetchChallenge(client);
  EXPECT_EQ(client.Exchange(Frame(1, Cat({Digest("pw1", challenge), {0}}))), ReplyFrame(1, 251));
}

TEST_F(ChannelTest, CommandsBeforeLoginAreRefusedPerConnection) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("pw=pw1"));
  TcpClient in(kIp), out(kIp);
  ASSERT_TRUE(in.connected() && out.connected());
  EXPECT_EQ(out.Exchange(Frame(9)), ReplyFrame(9, 251));
  Bytes challenge = FetchChallenge(in);
  EXPECT_EQ(in.Exchange(Frame(1, Digest("pw1", challenge))), ReplyFrame(1, 1));
  EXPECT_EQ(in.Exchange(Frame(9)), ReplyFrame(9, 1));
  EXPECT_EQ(out.Exchange(Frame(9)), ReplyFrame(9, 251));
}

TEST_F(ChannelTest, FramesAreReassembledFromSingleBytesAndSplitFromOneWrite) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("pw=pw1"));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  for (uint8_t b : Frame(0)) {
    ASSERT_TRUE(client.Send({b}));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  auto reply = client.ReadFrame();
  ASSERT_TRUE(reply && reply->size() == 8);
  Bytes login = Frame(1, Digest("pw1", Bytes(reply->begin() + 4, reply->end())));
  for (uint8_t b : login) {
    ASSERT_TRUE(client.Send({b}));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(client.ReadFrame(), ReplyFrame(1, 1));
  ASSERT_TRUE(client.Send(Cat({Frame(20, {1}), Frame(21), Frame(22, {1, 2, 3})})));
  for (uint8_t code : {20, 21, 22}) EXPECT_EQ(client.ReadFrame(), ReplyFrame(code, 1));
}

struct LengthCase {
  const char* name;
  size_t payload;
  bool answered;
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

class FrameLengthTest : public ChannelTest, public testing::WithParamInterface<LengthCase> {};

TEST_P(FrameLengthTest, LongestFrameIsAnsweredLongerClosesTheConnection) {
  ASSERT_NO_FATAL_FAILURE(StartKeys(""));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send(Frame(5, Bytes(GetParam().payload, 0xab))));
  if (GetParam().answered) {
    EXPECT_EQ(client.ReadFrame(), ReplyFrame(5, 251));
  } else {
    EXPECT_TRUE(client.Closed(1000));
    auto log = WaitLog(*devsim_, 3);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].marker, "tcp-open");
    EXPECT_EQ(log[1].bytes.size(), 4u + GetParam().payload);  // what arrived, shown before the close
    EXPECT_EQ(log[2].marker, "tcp-close");
    EXPECT_FALSE(log[2].rx);
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, FrameLengthTest,
                         testing::Values(LengthCase{"Longest", 4096, true}, LengthCase{"TooLong", 4097, false}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ChannelTest, LogShowsFramesAndConnectionEventsButNoPasswordInClear) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("pw=hunter2"));
  uint16_t port = 0;
  {
    TcpClient client(kIp);
    ASSERT_TRUE(client.connected());
    port = client.port();
    Bytes challenge = FetchChallenge(client);
    ASSERT_EQ(client.Exchange(Frame(1, Digest("hunter2", challenge))), ReplyFrame(1, 1));
  }
  auto log = WaitLog(*devsim_, 6);
  ASSERT_EQ(log.size(), 6u);
  const char* shape[] = {"rx tcp-open", "rx 4", "tx 8", "rx 20", "tx 4", "rx tcp-close"};
  for (size_t i = 0; i < log.size(); ++i) {
    const auto& e = log[i];
    std::string size = e.marker.empty() ? std::to_string(e.bytes.size()) : e.marker;
    std::string what = std::string(e.rx ? "rx " : "tx ") + size;
    EXPECT_EQ(what, shape[i]) << i;
    EXPECT_EQ(e.peer_port, port);
    EXPECT_EQ(e.local_port, kChannelPort);
    EXPECT_EQ(e.local_ip, inet_addr(kIp));
    EXPECT_FALSE(Contains(e.bytes, "hunter2"));
  }
}

TEST_F(ChannelTest, PlainFamilyPasswordShowsInTheLog) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("app=0x80004000,pw=hunter2"));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  FetchChallenge(client);
  ASSERT_EQ(client.Exchange(Frame(1, Plain("hunter2"))), ReplyFrame(1, 1));
  auto rx = devsim_->WaitReceived(3, 1000);
  ASSERT_EQ(rx.size(), 3u);
  EXPECT_TRUE(Contains(rx[2].bytes, "hunter2"));
}

struct FaultCase {
  const char* name;
  std::string knobs;
  Bytes header;  // of the challenge reply, whose payload is always the 4 challenge bytes
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class ReplyFaultTest : public ChannelTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(ReplyFaultTest, ShapesTheNamedCommandsReplyOnly) {
  ASSERT_NO_FATAL_FAILURE(StartKeys(GetParam().knobs));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send(Frame(0)));
  Bytes reply = client.Read(8);
  ASSERT_EQ(reply.size(), 8u);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4), GetParam().header);
  EXPECT_EQ(client.Exchange(Frame(1, Digest("", Bytes(reply.begin() + 4, reply.end())))), ReplyFrame(1, 1));
  EXPECT_TRUE(client.ReadOnce(50).empty());
}

INSTANTIATE_TEST_SUITE_P(Knobs, ReplyFaultTest,
                         testing::Values(FaultCase{"Status", "cmd_status=0:254", {0, 254, 0, 4}},
                                         FaultCase{"StatusOfAnotherCode", "cmd_status=3:254", {0, 1, 0, 4}},
                                         FaultCase{"WrongCode", "cmd_wrongcode=0", {1, 1, 0, 4}},
                                         FaultCase{"BadLength", "cmd_badlen=0", {0, 1, 0, 5}}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ChannelTest, SplitSendsEachReplyInTwoSegmentsApart) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("cmd_split=1"));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send(Cat({Frame(0), Frame(9)})));
  Bytes first = client.ReadOnce(1000);
  auto t0 = Clock::now();
  Bytes second = client.ReadOnce(1000);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(35));
  EXPECT_EQ(first.size(), 4u);
  ASSERT_LE(second.size(), 8u);
  Bytes all = Cat({first, second, client.Read(8 - second.size())});
  ASSERT_EQ(all.size(), 12u);
  EXPECT_EQ(Bytes(all.begin(), all.begin() + 4), (Bytes{0, 1, 0, 4}));
  // The next reply keeps its place behind both halves of the first.
  EXPECT_EQ(Bytes(all.begin() + 8, all.end()), (Bytes{9, 251, 0, 0}));
}

TEST_F(ChannelTest, DelayHoldsChannelReplies) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("delay=300"));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  auto t0 = Clock::now();
  auto reply = client.Exchange(Frame(9), 2000);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(280));
  EXPECT_EQ(reply, ReplyFrame(9, 251));
}

TEST_F(ChannelTest, SilentReadsButNeverAnswers) {
  ASSERT_NO_FATAL_FAILURE(StartKeys("tcp_silent=1"));
  TcpClient client(kIp);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send(Frame(0)));
  EXPECT_TRUE(client.ReadOnce(300).empty());
  auto rx = devsim_->WaitReceived(2, 1000);
  ASSERT_EQ(rx.size(), 2u);
  EXPECT_EQ(rx[1].bytes, Frame(0));
}

TEST_F(ChannelTest, RefuseHasNoListenerButStillAnswersQueries) {
  ASSERT_NO_FATAL_FAILURE(StartDevice("tcp_refuse=1"));
  TcpClient client(kIp);
  EXPECT_FALSE(client.connected());
  EXPECT_EQ(client.error(), ECONNREFUSED);
  EXPECT_TRUE(Ask(Query(16)));
}

}  // namespace
