#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
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
  ASSERT_TRUE(client.Send(Cat({Frame(3, {1}), Frame(31), Frame(22, {1, 2, 3})})));
  for (uint8_t code : {3, 31, 22}) EXPECT_EQ(client.ReadFrame(), ReplyFrame(code, 1));
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
                                         FaultCase{"StatusOfTheFirstFrame", "cmd_status=0:254:1", {0, 254, 0, 4}},
                                         FaultCase{"StatusOfALaterFrame", "cmd_status=0:254:2", {0, 1, 0, 4}},
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

// The masked commands and the configuration commands, after a login with password kKey.
constexpr const char* kKey = "k3y";

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Xor(Bytes field, const Bytes& mask) {
  for (size_t i = 0; i < field.size(); ++i) field[i] ^= mask[i % mask.size()];
  return field;
}

Bytes Slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + static_cast<ptrdiff_t>(from), b.begin() + static_cast<ptrdiff_t>(from + n));
}

Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 4, frame.end()); }

class ConfigTest : public ChannelTest {
 protected:
  std::unique_ptr<TcpClient> LogIn(const std::string& password, Form form = Form::kDigest, uint8_t status = 1) {
    auto client = std::make_unique<TcpClient>(kIp);
    EXPECT_TRUE(client->connected()) << client->error();
    Bytes challenge = FetchChallenge(*client);
    Bytes response = form == Form::kDigest ? Digest(password, challenge) : Plain(password);
    EXPECT_EQ(client->Exchange(Frame(1, response)), ReplyFrame(1, status)) << password;
    return client;
  }

  // Every line of the log, so a test can look for a secret in the clear.
  bool LogHolds(const std::string& secret) {
    for (const auto& e : WaitLog(*devsim_, 1)) {
      if (Contains(e.bytes, secret)) return true;
    }
    return false;
  }
};

// Payload of commands 17 and 10: the secret masked under the login key, its check value, and with plain the
// secret itself and a zero over the check value's start.
Bytes SecretPayload(const std::string& key, const std::string& secret, bool plain, bool bad_check) {
  Bytes nonce = {0x78, 0x56, 0x34, 0x12}, nonce_be = {0x12, 0x34, 0x56, 0x78};
  Bytes check = Digest(secret, nonce_be);
  if (plain) check = Replace(check, 0, Cat({Text(secret), {0}}));
  if (bad_check) check[15] ^= 1;
  return Cat({nonce, Xor(Resized(Text(secret), 16), Digest(key, nonce)), nonce_be, check});
}

struct SecretCase {
  const char* name;
  std::string keys;
  Form form;
  uint8_t code;
  bool plain_check;
  bool bad_check;
  uint8_t status;
};

void PrintTo(const SecretCase& c, std::ostream* os) { *os << c.name; }

class SecretTest : public ConfigTest, public testing::WithParamInterface<SecretCase> {};

TEST_P(SecretTest, ChecksTheValueAndAPasswordChangeMovesTheLogin) {
  const SecretCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartKeys(std::string("pw=") + kKey + c.keys));
  auto client = LogIn(kKey, c.form);
  EXPECT_EQ(client->Exchange(Frame(c.code, SecretPayload(kKey, "n3w", c.plain_check, c.bad_check))),
            ReplyFrame(c.code, c.status));
  // Later masks of the same login still use the password it logged in with.
  Bytes nonce = {1, 2, 3, 4};
  Bytes mail = Cat({nonce, Resized(Text("acct"), 16), Xor(Resized(Text("m"), 16), Digest(kKey, nonce))});
  ASSERT_EQ(client->Exchange(Frame(96, mail)), ReplyFrame(96, 1));
  auto read = client->Exchange(Frame(97));
  ASSERT_TRUE(read && read->size() == 40);
  EXPECT_EQ(Xor(Slice(*read, 24, 16), Digest(kKey, Slice(*read, 4, 4))), Resized(Text("m"), 16));

  bool changed = c.code == 17 && c.status == 1;
  LogIn(kKey, c.form, changed ? 251 : 1);
  LogIn("n3w", c.form, changed ? 1 : 251);
  // The plain form carries the password itself by design.
  if (c.form == Form::kDigest && !c.plain_check) {
    EXPECT_FALSE(LogHolds("n3w"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SecretTest,
    testing::Values(SecretCase{"Password", "", Form::kDigest, 17, false, false, 1},
                    SecretCase{"PasswordBadCheck", "", Form::kDigest, 17, false, true, 251},
                    SecretCase{"PasswordPlainNeedsPlainLogin", "", Form::kDigest, 17, true, false, 251},
                    SecretCase{"PasswordPlainAfterPlainLogin", ",app=0x80004000", Form::kPlain, 17, true, false, 1},
                    SecretCase{"PasswordCheckAfterPlainLogin", ",app=0x80004000", Form::kPlain, 17, false, false, 1},
                    SecretCase{"PrivateKey", "", Form::kDigest, 10, false, false, 1},
                    SecretCase{"PrivateKeyBadCheck", "", Form::kDigest, 10, false, true, 251},
                    SecretCase{"PrivateKeyNeverPlain", ",app=0x80004000", Form::kPlain, 10, true, false, 251}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigTest, MailAccountReadsBackUnderTheReadsOwnNonce) {
  ASSERT_NO_FATAL_FAILURE(StartKeys(std::string("pw=") + kKey));
  auto client = LogIn(kKey);
  Bytes nonce = {9, 8, 7, 6};
  Bytes write = Cat({nonce, Resized(Text("postmaster"), 16), Xor(Resized(Text("s3cr3tmail"), 16), Digest(kKey, nonce))});
  ASSERT_EQ(client->Exchange(Frame(96, write)), ReplyFrame(96, 1));
  auto first = client->Exchange(Frame(97));
  auto second = client->Exchange(Frame(97));
  ASSERT_TRUE(first && second && first->size() == 40 && second->size() == 40);
  EXPECT_NE(Slice(*first, 4, 4), Slice(*second, 4, 4));
  for (const Bytes& read : {*first, *second}) {
    EXPECT_EQ(Slice(read, 0, 4), (Bytes{97, 1, 0, 36}));
    EXPECT_EQ(Slice(read, 8, 16), Resized(Text("postmaster"), 16));
    EXPECT_EQ(Xor(Slice(read, 24, 16), Digest(kKey, Slice(read, 4, 4))), Resized(Text("s3cr3tmail"), 16));
  }
  EXPECT_EQ(client->Exchange(Frame(96, Bytes(35, 0))), ReplyFrame(96, 251));
  EXPECT_FALSE(LogHolds("s3cr3tmail"));
}

TEST_F(ConfigTest, PppConfigRoundTripsPerEntryWithTheSecretMasked) {
  ASSERT_NO_FATAL_FAILURE(StartKeys(std::string("pw=") + kKey));
  auto client = LogIn(kKey);
  Bytes record(168);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i + 1);
  record = Replace(record, 24, Resized(Text("ppp-s3cret-19-chars"), 20));
  Bytes nonce = {4, 3, 2, 1};
  Bytes sent = Replace(record, 24, Xor(Slice(record, 24, 20), Digest(kKey, nonce)));
  ASSERT_EQ(client->Exchange(Frame(113, Cat({{3, 0, 0, 0}, nonce, sent}))), ReplyFrame(113, 1));
  EXPECT_EQ(client->Exchange(Frame(113, Cat({{17, 0, 0, 0}, nonce, sent}))), ReplyFrame(113, 251));

  Bytes stored = Replace(record, 62, {0, 0});
  for (auto [entry, expected] : {std::pair<uint8_t, Bytes>{3, stored}, {4, Bytes(168)}}) {
    auto reply = client->Exchange(Frame(114, {entry, 0, 0, 0}));
    ASSERT_TRUE(reply && reply->size() == 180);
    Bytes p = Payload(*reply);
    EXPECT_EQ(p[0], entry);
    EXPECT_EQ(p[2], 1);  // entries written
    Bytes got = Slice(p, 8, 168);
    EXPECT_EQ(Replace(got, 24, Xor(Slice(got, 24, 20), Digest(kKey, Slice(p, 4, 4)))), expected);
  }
  EXPECT_EQ(client->Exchange(Frame(114, {3})), ReplyFrame(114, 251));
  EXPECT_FALSE(LogHolds("ppp-s3cret"));
}

struct AuthCase {
  const char* name;
  std::string keys;
  uint8_t reported;
};

void PrintTo(const AuthCase& c, std::ostream* os) { *os << c.name; }

class PppAuthTest : public ConfigTest, public testing::WithParamInterface<AuthCase> {};

TEST_P(PppAuthTest, TableRoundTripsAndReportsItsCount) {
  ASSERT_NO_FATAL_FAILURE(StartKeys(std::string("pw=") + kKey + GetParam().keys));
  auto client = LogIn(kKey);
  Bytes names(320), secrets(320);
  for (size_t i = 0; i < 2; ++i) {
    names = Replace(names, 20 * i, Text("user" + std::to_string(i)));
    secrets = Replace(secrets, 20 * i, Text("auth-s3cret-" + std::to_string(i)));
  }
  Bytes nonce = {0xaa, 0xbb, 0xcc, 0xdd};
  Bytes mask = Digest(kKey, nonce);
  Bytes masked;
  for (size_t i = 0; i < 16; ++i) masked = Cat({masked, Xor(Slice(secrets, 20 * i, 20), mask)});
  ASSERT_EQ(client->Exchange(Frame(115, Cat({{2, 0, 0, 0}, nonce, names, masked}))), ReplyFrame(115, 1));

  auto reply = client->Exchange(Frame(116));
  ASSERT_TRUE(reply && reply->size() == 652);
  Bytes p = Payload(*reply);
  EXPECT_EQ(p[0], GetParam().reported);
  EXPECT_EQ(Slice(p, 8, 320), names);
  Bytes read_mask = Digest(kKey, Slice(p, 4, 4));
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(Xor(Slice(p, 328 + 20 * i, 20), read_mask), Slice(secrets, 20 * i, 20)) << i;
  EXPECT_FALSE(LogHolds("auth-s3cret"));
}

INSTANTIATE_TEST_SUITE_P(Counts, PppAuthTest,
                         testing::Values(AuthCase{"Written", "", 2}, AuthCase{"Overridden", ",ppp_auth_count=20", 20}),
                         [](const auto& info) { return info.param.name; });

struct SettingCase {
  const char* name;
  uint8_t code;
  Bytes payload;
  Bytes query_args;
  Bytes reported;  // the query's payload afterwards
};

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }

class SettingTest : public ConfigTest, public testing::WithParamInterface<SettingCase> {};

TEST_P(SettingTest, QueryReportsWhatTheChannelWrote) {
  const SettingCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDevice(std::string("pw=") + kKey));
  auto client = LogIn(kKey);
  ASSERT_EQ(client->Exchange(Frame(c.code, c.payload)), ReplyFrame(c.code, 1));
  EXPECT_EQ(Ask(Query(c.code, c.query_args)), QueryReply(c.code, c.reported));
  // A short payload changes nothing.
  if (!c.payload.empty()) {
    EXPECT_EQ(client->Exchange(Frame(c.code, Bytes(c.payload.begin(), c.payload.end() - 1))),
              ReplyFrame(c.code, 251));
  }
  ASSERT_EQ(client->Exchange(Frame(23)), ReplyFrame(23, 1));
  EXPECT_NE(Ask(Query(c.code, c.query_args)), QueryReply(c.code, c.reported));
}

Bytes Snmp() {
  Bytes b(164);
  b[0] = 7;
  for (size_t i = 0; i < 4; ++i) b = Replace(b, 4 + 40 * i, Text("block" + std::to_string(i)));
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SettingTest,
    testing::Values(SettingCase{"Name", 16, Resized(Text("renamed"), 40), {}, Resized(Text("renamed"), 40)},
                    SettingCase{"Watchdog", 18, {5}, {}, {5, 0}},
                    SettingCase{"Console", 25, {9}, {}, {9, 0}},
                    SettingCase{"TimeServer", 27, Resized(Text("pool.lan"), 40), {}, Resized(Text("pool.lan"), 40)},
                    SettingCase{"TimeZone", 28, {0x10, 0x0e, 0, 0, 5, 0, 0, 0}, {}, {0x10, 0x0e, 0, 0, 5, 0, 0, 0}},
                    SettingCase{"Ip", 33, {10, 9, 8, 7, 255, 0}, {0, 0}, {10, 9, 8, 7}},
                    SettingCase{"Netmask", 34, {255, 255, 0, 0, 0, 0}, {255, 0}, {255, 255, 0, 0}},
                    SettingCase{"IpMode", 36, {255, 0, 1}, {0, 0}, {1}},
                    SettingCase{"Dns", 39, {255, 0, 0, 0, 1, 1, 1, 1, 8, 8, 4, 4}, {0, 0}, {1, 1, 1, 1, 8, 8, 4, 4}},
                    SettingCase{"Snmp", 40, Snmp(), {}, Snmp()},
                    SettingCase{"Alert", 82, {1, 0, 2, 0, 3, 0, 0, 0}, {}, {1, 0, 2, 0, 3, 0}},
                    SettingCase{"CmdState", 100, {1, 2, 3, 4, 5, 6, 7, 8}, {}, {1, 2, 3, 4, 5, 6, 7, 8}},
                    SettingCase{"Modem", 101, {3}, {}, {3}}),
    [](const auto& info) { return info.param.name; });

TEST_F(ConfigTest, TimeSetsTheClockThatTheQueryReads) {
  ASSERT_NO_FATAL_FAILURE(StartDevice(std::string("pw=") + kKey));
  auto client = LogIn(kKey);
  // 2031-04-05 06:07:08.000, a Saturday.
  Bytes time = {131, 0, 3, 0, 6, 0, 5, 0, 6, 0, 7, 0, 8, 0, 0, 0};
  ASSERT_EQ(client->Exchange(Frame(26, time)), ReplyFrame(26, 1));
  auto reply = Ask(Query(26));
  ASSERT_TRUE(reply && reply->size() == 36);
  EXPECT_EQ(Slice(*reply, 20, 12), Slice(time, 0, 12));
  EXPECT_EQ(client->Exchange(Frame(26, Replace(time, 2, {12, 0}))), ReplyFrame(26, 251));
}

TEST_F(ConfigTest, RestartClosesEveryConnectionAndKeepsTheDeviceAway) {
  ASSERT_NO_FATAL_FAILURE(StartDevice(std::string("pw=") + kKey + ",restart_ms=400"));
  auto other = LogIn(kKey);
  auto client = LogIn(kKey);
  auto t0 = Clock::now();
  EXPECT_EQ(client->Exchange(Frame(2, {0, 0})), ReplyFrame(2, 1));
  EXPECT_TRUE(client->Closed(1000));
  EXPECT_TRUE(other->Closed(1000));
  EXPECT_FALSE(Ask(Query(16), 100));
  TcpClient refused(kIp);
  EXPECT_TRUE(!refused.connected() || refused.Closed(1000));
  std::this_thread::sleep_for(std::chrono::milliseconds(400) - (Clock::now() - t0));
  EXPECT_TRUE(Ask(Query(16)));
  LogIn(kKey);
}

}  // namespace
