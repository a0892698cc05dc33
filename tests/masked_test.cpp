// Masked commands against the emulator on loopback: the frames are unmasked
// here with the login password, so every layout is checked byte for byte, and
// no secret ever shows in the emulator's log.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "masked.h"
#include "md5.h"
#include "tarnix.h"
#include "wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes md5_of(const Bytes& data) {
  Bytes d(16);
  tarnix::md5(data.data(), data.size(), d.data());
  return d;
}
Bytes concat(const std::string& s, const uint8_t* four) {
  Bytes b(s.begin(), s.end());
  b.insert(b.end(), four, four + 4);
  return b;
}
Bytes field(const std::string& s, size_t width) {
  Bytes b(s.begin(), s.end());
  b.resize(width, 0);
  return b;
}
// XOR with MD5(key, nonce), repeated from its start for 20-byte fields.
Bytes unmask(const std::string& key, const uint8_t* nonce, const uint8_t* data, size_t n) {
  const Bytes d = md5_of(concat(key, nonce));
  Bytes out(data, data + n);
  for (size_t i = 0; i < n; ++i) out[i] ^= d[i % 16];
  return out;
}

TEST(Mask, IsItsOwnInverse) {
  const uint8_t nonce[4] = {1, 2, 3, 4};
  uint8_t f[20];
  for (int i = 0; i < 20; ++i) f[i] = static_cast<uint8_t>(i * 7);
  const tarnix::masked::Mask m("key", nonce);
  m.apply20(f);
  Bytes original(20);
  for (int i = 0; i < 20; ++i) original[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(Bytes(f, f + 20), unmask("key", nonce, original.data(), 20)) << "MD5(key, nonce), bytes 0-3 again";
  m.apply20(f);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(f[i], static_cast<uint8_t>(i * 7));
}

class Masked : public ::testing::Test {
 protected:
  int32_t start(uint32_t app = 0x80004100u, const std::string& keys = "", bool login = true) {
    if (!devsim_) {
      std::string error;
      devsim_ = lab::Devsim::Start({"--device", "name=m,ip=127.0.0.2,app=0x80004100,model=0x4512,mac=02:00:5e:00:00:0d,pw=pw" + keys,
                                    "--device", "name=p,ip=127.0.0.3,app=0x80004012,model=0x4512,mac=02:00:5e:00:00:0e,pw=pw" + keys},
                                   "", &error);
      EXPECT_NE(devsim_, nullptr) << error;
    }
    DSINFO d{};
    d.app_id = app;
    d.model = 0x4512;
    d.flags = DSC_FLAG_DIRECT;
    d.device_ip = inet_addr(app == 0x80004100u ? "127.0.0.2" : "127.0.0.3");
    d.mac[5] = app == 0x80004100u ? 0x0d : 0x0e;
    d.mac[0] = 0x02;
    d.mac[2] = 0x5e;
    int32_t s = -1;
    EXPECT_EQ(dsc_Attach(&d, &s), DSC_OK);
    sessions_.push_back(s);
    dsc_LibSetTimeout(s, 300, 2);
    if (login) {
      EXPECT_EQ(dsc_Login(s, "pw"), DSC_OK);
    }
    return s;
  }
  void TearDown() override {
    for (int32_t s : sessions_) dsc_Detach(s);
  }
  // The payload of the last frame of that code the emulator received.
  Bytes last_payload(uint8_t code) const {
    Bytes found;
    for (const auto& e : devsim_->Received())
      if (e.local_port == 4900 && e.bytes.size() >= 4 && e.bytes[0] == code) found.assign(e.bytes.begin() + 4, e.bytes.end());
    return found;
  }
  bool log_contains(const std::string& text) const {
    for (const auto& e : devsim_->Log())
      if (std::string(e.bytes.begin(), e.bytes.end()).find(text) != std::string::npos) return true;
    return false;
  }

  std::unique_ptr<lab::Devsim> devsim_;
  std::vector<int32_t> sessions_;
};

TEST_F(Masked, PasswordPayloadAfterADigestLogin) {
  const int32_t s = start();
  ASSERT_EQ(dsc_SetPassword(s, "newpass"), DSC_OK);
  const Bytes p = last_payload(17);
  ASSERT_EQ(p.size(), 40u);
  const uint32_t t = tarnix::wire::get_raw<uint32_t>(p.data());
  EXPECT_EQ(tarnix::wire::get_be32(p.data() + 20), t) << "T little-endian, then big-endian";
  EXPECT_EQ(unmask("pw", p.data(), p.data() + 4, 16), field("newpass", 16));
  EXPECT_EQ(Bytes(p.begin() + 24, p.end()), md5_of(concat("newpass", p.data() + 20)));
  EXPECT_FALSE(log_contains("newpass"));
}

TEST_F(Masked, PlainLoginWritesThePasswordOverTheCheckValue) {
  const int32_t plain = start(0x80004012u);
  const int32_t digest = start(0x80004100u);  // logged in later: must not change the first session's form
  ASSERT_EQ(dsc_SetPassword(plain, "newpass"), DSC_OK);
  const Bytes p = last_payload(17);
  ASSERT_EQ(p.size(), 40u);
  const Bytes check = md5_of(concat("newpass", p.data() + 20));
  Bytes want = field("newpass", 8);  // characters and one zero byte
  want.insert(want.end(), check.begin() + 8, check.end());
  EXPECT_EQ(Bytes(p.begin() + 24, p.end()), want);
  EXPECT_EQ(unmask("pw", p.data(), p.data() + 4, 16), field("newpass", 16));
  (void)digest;
}

TEST_F(Masked, LengthAndOrderChecks) {
  const int32_t s = start();
  EXPECT_EQ(dsc_SetPassword(s, std::string(16, 'p').c_str()), DSC_EINVAL);
  EXPECT_EQ(dsc_SetPassword(s, std::string(15, 'p').c_str()), DSC_OK);
  EXPECT_EQ(dsc_SetPrivateKey(s, std::string(15, 'k').c_str()), DSC_EINVAL);
  EXPECT_EQ(dsc_SetPrivateKey(s, std::string(14, 'k').c_str()), DSC_OK);
  EXPECT_EQ(dsc_SetPPPConfig(s, 17, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_SetPPPAuthTable(s, -1, nullptr), DSC_EINVAL);
  int32_t count = 0;
  EXPECT_EQ(dsc_GetPPPAuthTable(s, &count, nullptr), DSC_EINVAL);

  const int32_t out = start(0x80004100u, "", false);
  EXPECT_EQ(dsc_SetPassword(out, nullptr), DSC_EINVAL) << "text before session";
  EXPECT_EQ(dsc_SetPassword(300, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_SetPassword(out, "x"), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SetMailAcount(out, nullptr, nullptr), DSC_ENOCHANNEL) << "pointers after the login check";
  EXPECT_EQ(dsc_GetPPPAuthTable(out, nullptr, nullptr), DSC_ENOCHANNEL);
}

TEST_F(Masked, MailAccountIsCutAndMaskedWithTheLoginPassword) {
  const int32_t s = start();
  ASSERT_EQ(dsc_SetPassword(s, "changed"), DSC_OK);
  ASSERT_EQ(dsc_SetMailAcount(s, "a-very-long-account-name", "mailsecret"), DSC_OK);
  const Bytes p = last_payload(96);
  ASSERT_EQ(p.size(), 36u);
  EXPECT_EQ(Bytes(p.begin() + 4, p.begin() + 20), field("a-very-long-acc", 16));
  EXPECT_EQ(unmask("pw", p.data(), p.data() + 20, 16), field("mailsecret", 16)) << "still the login's password";
  EXPECT_FALSE(log_contains("mailsecret"));
}

TEST_F(Masked, PppSecretsAreCutAtNineteenAndMaskedOverTwenty) {
  const int32_t s = start();
  PPPCONFIGINFO cfg;
  std::memset(&cfg, 0x41, sizeof cfg);
  std::memcpy(cfg.secret, "0123456789abcdefghij", 20);  // 20 characters, no terminator
  cfg.unused62[0] = cfg.unused62[1] = 0x77;
  ASSERT_EQ(dsc_SetPPPConfig(s, 3, &cfg), DSC_OK);
  const Bytes p = last_payload(113);
  ASSERT_EQ(p.size(), 176u);
  EXPECT_EQ(p[0], 3);
  EXPECT_EQ(unmask("pw", p.data() + 4, p.data() + 8 + 24, 20), field("0123456789abcdefghi", 20));
  EXPECT_EQ(p[8 + 62], 0);
  EXPECT_EQ(p[8 + 63], 0);
  EXPECT_EQ(p[8 + 0], 0x41);
  EXPECT_EQ(p[8 + 167], 0x41);

  PPPAUTHTABLEINFO table;
  std::memset(&table, 0x42, sizeof table);
  std::strcpy(table.secrets[1], "authsecret");
  ASSERT_EQ(dsc_SetPPPAuthTable(s, 2, &table), DSC_OK);
  const Bytes a = last_payload(115);
  ASSERT_EQ(a.size(), 648u);
  EXPECT_EQ(a[0], 2);
  EXPECT_EQ(Bytes(a.begin() + 8, a.begin() + 28), Bytes(20, 0x42)) << "name 0 copied whole";
  EXPECT_EQ(unmask("pw", a.data() + 4, a.data() + 328 + 20, 20), field("authsecret", 20));
  EXPECT_EQ(Bytes(a.begin() + 48, a.begin() + 328), Bytes(280, 0)) << "names 2 to 15";
  EXPECT_EQ(Bytes(a.begin() + 368, a.end()), Bytes(280, 0)) << "secrets 2 to 15";
  EXPECT_FALSE(log_contains("authsecret"));
}

// The read commands against what the emulator kept from the writes.
PPPCONFIGINFO ppp_entry(uint8_t fill, const char* secret) {
  PPPCONFIGINFO c;
  std::memset(&c, fill, sizeof c);
  std::memset(c.secret, 0, sizeof c.secret);
  std::strcpy(c.secret, secret);
  c.unused62[0] = c.unused62[1] = 0;
  return c;
}
bool same(const PPPCONFIGINFO& a, const PPPCONFIGINFO& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(Masked, ReadsReturnWhatTheWritesStored) {
  const int32_t s = start(0x80004100u, ",ppp_entries=3");
  ASSERT_EQ(dsc_SetMailAcount(s, "account", "mailsecret"), DSC_OK);
  char account[15], password[15];
  std::memset(account, 'x', sizeof account);
  std::memset(password, 'x', sizeof password);
  ASSERT_EQ(dsc_RetriveMailAcount(s, account, password), DSC_OK);
  EXPECT_EQ(Bytes(account, account + 15), field("account", 15));
  EXPECT_EQ(Bytes(password, password + 15), field("mailsecret", 15));

  const PPPCONFIGINFO one = ppp_entry(0x31, "first"), two = ppp_entry(0x32, "0123456789abcdefghi");
  ASSERT_EQ(dsc_SetPPPConfig(s, 1, &one), DSC_OK);
  ASSERT_EQ(dsc_SetPPPConfig(s, 2, &two), DSC_OK);
  PPPCONFIGINFO single;
  ASSERT_EQ(dsc_GetPPPConfig(s, 2, &single), DSC_OK);
  EXPECT_TRUE(same(single, two));

  // Entry 0: the device counts 3, so entries 1 and 2 are asked for; the buffer
  // is cleared for three records and the fourth is not touched.
  PPPCONFIGINFO all[4];
  std::memset(all, 0xee, sizeof all);
  const size_t before = devsim_->Received().size();
  ASSERT_EQ(dsc_GetPPPConfig(s, 0, all), DSC_OK);
  EXPECT_TRUE(same(all[0], one));
  EXPECT_TRUE(same(all[1], two));
  EXPECT_TRUE(same(all[2], PPPCONFIGINFO{}));
  EXPECT_EQ(all[3].settings[0], 0xee);
  std::vector<uint8_t> asked;
  const auto received = devsim_->Received();
  for (size_t i = before; i < received.size(); ++i)
    if (received[i].local_port == 4900 && received[i].bytes.size() == 8 && received[i].bytes[0] == 114)
      asked.push_back(received[i].bytes[4]);
  EXPECT_EQ(asked, (std::vector<uint8_t>{1, 2}));

  PPPAUTHTABLEINFO table{};
  for (int i = 0; i < 3; ++i) {
    std::snprintf(table.names[i], sizeof table.names[i], "user%d", i);
    std::snprintf(table.secrets[i], sizeof table.secrets[i], "secret%d", i);
  }
  ASSERT_EQ(dsc_SetPPPAuthTable(s, 3, &table), DSC_OK);
  PPPAUTHTABLEINFO back;
  std::memset(&back, 0x55, sizeof back);
  int32_t count = -1;
  ASSERT_EQ(dsc_GetPPPAuthTable(s, &count, &back), DSC_OK);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(std::memcmp(&back, &table, sizeof table), 0) << "entries 3 to 15 zero";
}

TEST_F(Masked, FailedReadsLeaveNothingThatLooksMeaningful) {
  {
    const int32_t s = start(0x80004100u, ",cmd_status=97:254");
    char account[15], password[15];
    std::memset(account, 'x', sizeof account);
    std::memset(password, 'y', sizeof password);
    EXPECT_EQ(dsc_RetriveMailAcount(s, account, password), DSC_ESTATUS254);
    EXPECT_EQ(Bytes(account, account + 15), Bytes(15, 'x'));
    EXPECT_EQ(Bytes(password, password + 15), Bytes(15, 'y'));
  }
  TearDown();
  sessions_.clear();
  devsim_.reset();
  {
    const int32_t s = start(0x80004100u, ",cmd_status=116:254,ppp_auth_count=3");
    PPPAUTHTABLEINFO table;
    std::memset(&table, 0x55, sizeof table);
    int32_t count = 7;
    EXPECT_EQ(dsc_GetPPPAuthTable(s, &count, &table), DSC_ESTATUS254);
    EXPECT_EQ(count, 0);
    const PPPAUTHTABLEINFO cleared{};
    EXPECT_EQ(std::memcmp(&table, &cleared, sizeof table), 0);
  }
}

TEST_F(Masked, DeviceCountsAboveSixteenAreTakenAsSixteen) {
  // The third entry's command is refused: the two decoded stay, sixteen
  // records are cleared, and the seventeenth is never touched.
  const int32_t s = start(0x80004100u, ",ppp_entries=20,ppp_auth_count=20,cmd_status=114:254:3");
  const PPPCONFIGINFO one = ppp_entry(0x31, "a"), two = ppp_entry(0x32, "b");
  ASSERT_EQ(dsc_SetPPPConfig(s, 1, &one), DSC_OK);
  ASSERT_EQ(dsc_SetPPPConfig(s, 2, &two), DSC_OK);
  PPPCONFIGINFO all[17];
  std::memset(all, 0xee, sizeof all);
  EXPECT_EQ(dsc_GetPPPConfig(s, 0, all), DSC_ESTATUS254);
  EXPECT_TRUE(same(all[0], one));
  EXPECT_TRUE(same(all[1], two));
  for (int i = 2; i < 16; ++i) EXPECT_TRUE(same(all[i], PPPCONFIGINFO{})) << i;
  EXPECT_EQ(all[16].settings[0], 0xee);

  PPPAUTHTABLEINFO table;
  int32_t count = -1;
  ASSERT_EQ(dsc_GetPPPAuthTable(s, &count, &table), DSC_OK);
  EXPECT_EQ(count, 16);
}

TEST_F(Masked, NewPasswordServesTheNextLoginOfEitherForm) {
  for (const uint32_t app : {0x80004100u, 0x80004012u}) {
    SCOPED_TRACE(app);
    const int32_t s = start(app);
    ASSERT_EQ(dsc_SetPassword(s, "newpass"), DSC_OK);
    ASSERT_EQ(dsc_Logout(s), DSC_OK);
    EXPECT_NE(dsc_Login(s, "pw"), DSC_OK);
    EXPECT_EQ(dsc_Login(s, "newpass"), DSC_OK);
  }
}

}  // namespace
