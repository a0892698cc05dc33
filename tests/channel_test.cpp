// The session channel against the emulator on loopback: MD5, the reply
// judgement, login forms, time-outs, cancellation and descriptor hygiene.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "channel.h"
#include "frame.h"
#include "lab/lab.h"
#include "md5.h"
#include "platform/platform.h"
#include "result.h"
#include "tarnix.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace tarnix;

std::string hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

TEST(Md5, MatchesTheReferenceVectors) {
  const struct {
    const char* text;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    uint8_t out[kMd5Size];
    md5(reinterpret_cast<const uint8_t*>(c.text), std::strlen(c.text), out);
    EXPECT_EQ(hex(out, sizeof out), c.digest) << '"' << c.text << '"';
  }
}

TEST(ChannelReply, StatusByteAndShapeDecide) {
  auto judge = [](uint8_t code, Bytes frame) { return channel::judge_reply(code, frame.data(), frame.size()); };
  const struct {
    uint8_t status;
    int internal;
    int32_t exported;
  } statuses[] = {
      {1, kOk, DSC_OK},           {0, kMalformed, DSC_EFAIL},      {2, kMalformed, DSC_EFAIL},
      {250, kMalformed, DSC_EFAIL}, {251, kStatus251, DSC_EINVAL},  {252, kStatus252, DSC_ESTATUS252},
      {253, kTimeout, DSC_ETIMEOUT}, {254, kStatus254, DSC_ESTATUS254}, {255, kStatus252, DSC_ESTATUS252},
  };
  for (const auto& c : statuses) {
    SCOPED_TRACE(int(c.status));
    EXPECT_EQ(judge(7, {7, c.status, 0, 0}), c.internal);
    EXPECT_EQ(export_result(c.internal), c.exported);
  }
  // Status 0 is success only for the transfer codes.
  for (int code = 0; code < 16; ++code) {
    const bool transfer = code == 4 || code == 5 || code == 6 || code == 8 || code == 11 || code == 12 || code == 13;
    EXPECT_EQ(judge(static_cast<uint8_t>(code), {static_cast<uint8_t>(code), 0, 0, 0}), transfer ? kOk : kMalformed)
        << code;
  }
  EXPECT_EQ(judge(7, {8, 1, 0, 0}), kMalformed) << "another code";
  EXPECT_EQ(judge(7, {7, 1, 0, 1}), kMalformed) << "length says 1, nothing follows";
  EXPECT_EQ(judge(7, {7, 1, 0, 0, 9}), kMalformed) << "a byte the length does not announce";
  EXPECT_EQ(judge(7, {7, 1, 0, 2, 9, 9}), kOk);
  EXPECT_EQ(judge(7, {7, 1, 0}), kMalformed) << "shorter than a header";
  EXPECT_EQ(channel::judge_reply(7, nullptr, 0), kMalformed);
}

TEST(LoginResponse, PlainFormOnlyForItsApplicationFamily) {
  const uint8_t challenge[4] = {0xde, 0xad, 0xbe, 0xef};
  uint8_t digest[16];
  const uint8_t material[] = {'p', 'w', 0xde, 0xad, 0xbe, 0xef};
  md5(material, sizeof material, digest);
  const uint8_t plain[16] = {'p', 'w'};
  const struct {
    uint32_t app_id;
    bool plain;
  } cases[] = {{0x80004000u, true}, {0x800040FFu, true}, {0x80004100u, false}, {0x80003FFFu, false}, {0, false}};
  for (const auto& c : cases) {
    uint8_t out[16];
    EXPECT_EQ(channel::login_response(c.app_id, "pw", challenge, out), c.plain) << std::hex << c.app_id;
    EXPECT_EQ(std::memcmp(out, c.plain ? plain : digest, 16), 0) << std::hex << c.app_id;
  }
}

class Login : public ::testing::Test {
 protected:
  void start(uint32_t app, const std::string& keys = "") {
    char device_keys[160];
    std::snprintf(device_keys, sizeof device_keys, "name=c,ip=127.0.0.2,app=0x%X,model=0x4512,mac=02:00:5e:00:00:0c,pw=secret",
                  app);
    std::string error;
    devsim_ = lab::Devsim::Start({"--device", device_keys + keys}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
    DSINFO d{};
    d.app_id = app;
    d.model = 0x4512;
    d.flags = DSC_FLAG_DIRECT;
    d.device_ip = inet_addr("127.0.0.2");
    ASSERT_EQ(dsc_Attach(&d, &session_), DSC_OK);
    ASSERT_EQ(dsc_LibSetTimeout(session_, 300, 2), DSC_OK);
  }
  void TearDown() override {
    if (session_ >= 0) dsc_Detach(session_);
  }
  // Every payload byte the emulator received over its channel.
  std::string channel_bytes() const {
    std::string all;
    for (const auto& e : devsim_->Received())
      if (e.local_port == 4900) all.append(e.bytes.begin(), e.bytes.end());
    return all;
  }
  bool has_channel() const { return checked_session(session_)->socket != -1; }

  std::unique_ptr<lab::Devsim> devsim_;
  int32_t session_ = -1;
};

TEST_F(Login, DigestFamilyNeverSendsThePasswordInClear) {
  start(0x80004100u);
  ASSERT_EQ(dsc_Login(session_, "secret"), DSC_OK);
  EXPECT_TRUE(has_channel());
  EXPECT_STREQ(checked_session(session_)->password, "secret");
  EXPECT_FALSE(checked_session(session_)->plain_password);
  EXPECT_EQ(channel_bytes().find("secret"), std::string::npos);
  EXPECT_EQ(dsc_Logout(session_), DSC_OK);
  EXPECT_EQ(dsc_Logout(session_), DSC_ENOCHANNEL);
}

TEST_F(Login, PlainFamilySendsThePasswordZeroPadded) {
  start(0x80004012u);
  ASSERT_EQ(dsc_Login(session_, "secret"), DSC_OK);
  EXPECT_TRUE(checked_session(session_)->plain_password);
  const std::string frame("\x01\x01\x00\x10secret\0\0\0\0\0\0\0\0\0\0", 20);
  EXPECT_NE(channel_bytes().find(frame), std::string::npos);
}

TEST_F(Login, WrongPasswordIsRefusedAndLeavesNoChannel) {
  const struct {
    const char* keys;
    int32_t result;
  } cases[] = {{"", DSC_EINVAL}, {",login_status=254", DSC_ESTATUS254}, {",login_status=252", DSC_ESTATUS252}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    start(0x80004100u, c.keys);
    const int before = lab::OpenDescriptors();
    EXPECT_EQ(dsc_Login(session_, "wrong"), c.result);
    EXPECT_FALSE(has_channel());
    EXPECT_EQ(lab::OpenDescriptors(), before);
    EXPECT_EQ(dsc_Logout(session_), DSC_ENOCHANNEL);
    dsc_Detach(session_);
    devsim_.reset();
  }
}

TEST_F(Login, ArgumentsAreCheckedBeforeAnyConnection) {
  start(0x80004100u);
  EXPECT_EQ(dsc_Login(session_, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_Login(session_, "sixteen-chars-xx"), DSC_EINVAL);
  EXPECT_EQ(dsc_Login(session_ + 1, "secret"), DSC_EINVAL);
  EXPECT_EQ(dsc_Login(-1, "secret"), DSC_EINVAL);
  EXPECT_EQ(dsc_Logout(300), DSC_EINVAL);
  EXPECT_TRUE(channel_bytes().empty());
  EXPECT_EQ(devsim_->Log().size(), 0u) << "not even a connection";
  // Fifteen characters are accepted (and refused by the device as wrong).
  EXPECT_EQ(dsc_Login(session_, "fifteen-chars-x"), DSC_EINVAL);
  EXPECT_FALSE(channel_bytes().empty());
}

TEST_F(Login, SecondLoginReplacesTheChannelWithoutLeaking) {
  start(0x80004100u);
  ASSERT_EQ(dsc_Login(session_, "secret"), DSC_OK);
  const int before = lab::OpenDescriptors();
  ASSERT_EQ(dsc_Login(session_, "secret"), DSC_OK);
  EXPECT_EQ(lab::OpenDescriptors(), before);
}

TEST_F(Login, RecordUpdateIsRefusedWhileLoggedInAndDetachCloses) {
  start(0x80004100u);
  const int before = lab::OpenDescriptors();
  ASSERT_EQ(dsc_Login(session_, "secret"), DSC_OK);
  DSINFO d = *checked_session(session_)->record;
  EXPECT_EQ(dsc_UpdateDSINFO(session_, &d), DSC_EFAIL);
  ASSERT_EQ(dsc_Logout(session_), DSC_OK);
  EXPECT_EQ(dsc_UpdateDSINFO(session_, &d), DSC_OK);
  ASSERT_EQ(dsc_Login(session_, "secret"), DSC_OK);
  EXPECT_EQ(dsc_Detach(session_), DSC_OK);
  session_ = -1;
  EXPECT_EQ(lab::OpenDescriptors(), before);
}

struct Progress {
  std::vector<uint32_t> codes;
  int cancel_at = 0;
};
Progress* g_progress = nullptr;
int32_t DSC_CALL watch(uint32_t code, int32_t, int32_t, int32_t) {
  g_progress->codes.push_back(code);
  return static_cast<int>(g_progress->codes.size()) == g_progress->cancel_at ? 0 : 1;
}

TEST_F(Login, RefusedConnectionTimesOutAfterTheWholeBudget) {
  start(0x80004100u, ",tcp_refuse=1");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 3), DSC_OK);
  const int before = lab::OpenDescriptors();
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(dsc_Login(session_, "secret"), DSC_ETIMEOUT);
  const uint32_t spent = platform::tick_diff(platform::tick_ms(), t0);
  EXPECT_GE(spent, 290u) << "a refusal is not told apart from a slow device";
  EXPECT_LT(spent, 800u);
  EXPECT_EQ(lab::OpenDescriptors(), before);

  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 0), DSC_OK);
  const uint32_t t1 = platform::tick_ms();
  EXPECT_EQ(dsc_Login(session_, "secret"), DSC_ETIMEOUT);
  EXPECT_LT(platform::tick_diff(platform::tick_ms(), t1), 100u) << "retry count 0 gives up at once";
}

TEST_F(Login, CancelWhileConnectingLeavesNoSocket) {
  start(0x80004100u, ",tcp_refuse=1");
  Progress p;
  p.cancel_at = 3;
  g_progress = &p;
  ASSERT_EQ(dsc_LibSetProc(session_, watch, 0), DSC_OK);
  const int before = lab::OpenDescriptors();
  EXPECT_EQ(dsc_Login(session_, "secret"), DSC_ECANCELLED);
  EXPECT_EQ(lab::OpenDescriptors(), before);
  ASSERT_EQ(p.codes.size(), 3u);
  for (uint32_t c : p.codes) EXPECT_EQ(c, channel::kConnectProgressCode);
  EXPECT_FALSE(has_channel());
}

TEST_F(Login, SilentDeviceCostsRetryCountPlusOneWaits) {
  start(0x80004100u, ",tcp_silent=1");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 2), DSC_OK);
  Progress p;
  g_progress = &p;
  ASSERT_EQ(dsc_LibSetProc(session_, watch, 0), DSC_OK);
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(dsc_Login(session_, "secret"), DSC_ETIMEOUT);
  EXPECT_GE(platform::tick_diff(platform::tick_ms(), t0), 290u);
  EXPECT_EQ(p.codes, (std::vector<uint32_t>{0x80000000u, 0x80000000u, 0x80000000u})) << "challenge is command 0";
  EXPECT_FALSE(has_channel());
  const auto rx = devsim_->Received();
  size_t challenges = 0;
  for (const auto& e : rx)
    if (e.local_port == 4900 && !e.bytes.empty()) ++challenges;
  EXPECT_EQ(challenges, 1u) << "the request is never sent twice";
}

TEST_F(Login, MalformedOrRefusedChallengeFailsTheLogin) {
  const struct {
    const char* keys;
    int32_t result;
  } cases[] = {
      {",cmd_wrongcode=0", DSC_EFAIL},
      {",cmd_badlen=0", DSC_EFAIL},
      {",cmd_split=1", DSC_EFAIL},  // a reply in pieces is judged on the first piece
      {",cmd_status=0:254", DSC_ESTATUS254},
      {",cmd_status=1:255", DSC_ESTATUS252},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    start(0x80004100u, c.keys);
    const int before = lab::OpenDescriptors();
    EXPECT_EQ(dsc_Login(session_, "secret"), c.result);
    EXPECT_FALSE(has_channel());
    EXPECT_EQ(lab::OpenDescriptors(), before);
    dsc_Detach(session_);
    devsim_.reset();
  }
}

}  // namespace
