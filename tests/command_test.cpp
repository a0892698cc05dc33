// Configuration commands over the session channel, against the emulator on
// loopback: exact frames, the order of the checks, refusals and time-outs.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "tarnix.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes text(const std::string& s, size_t width) {
  Bytes b(s.begin(), s.end());
  b.resize(width, 0);
  return b;
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
uint32_t ip(const char* dotted) { return inet_addr(dotted); }

class Command : public ::testing::Test {
 protected:
  void start(const std::string& keys = "", bool login = true) {
    std::string error;
    devsim_ = lab::Devsim::Start(
        {"--device", "name=c,ip=127.0.0.2,app=0x80004100,model=0x4512,mac=02:00:5e:00:00:0c,pw=pw" + keys}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
    DSINFO d{};
    d.app_id = 0x80004100u;
    d.model = 0x4512;
    d.flags = DSC_FLAG_DIRECT;
    d.device_ip = ip("127.0.0.2");
    d.reported_ip = d.device_ip;
    d.local_ip = ip("127.0.0.1");  // queries go out from here
    const uint8_t mac[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x0c};
    std::memcpy(d.mac, mac, sizeof mac);
    ASSERT_EQ(dsc_Attach(&d, &session_), DSC_OK);
    ASSERT_EQ(dsc_LibSetTimeout(session_, 300, 2), DSC_OK);
    if (login) {
      ASSERT_EQ(dsc_Login(session_, "pw"), DSC_OK);
    }
  }
  void TearDown() override {
    if (session_ < 0) return;
    // The procedure outlives the session and would reach the next test's one.
    dsc_LibSetProc(session_, nullptr, 0);
    dsc_Detach(session_);
  }
  // Frames received on the channel after the login.
  std::vector<Bytes> frames() const {
    std::vector<Bytes> out;
    for (const auto& e : devsim_->Received())
      if (e.local_port == 4900 && !e.bytes.empty() && e.bytes[0] > 1) out.push_back(e.bytes);
    return out;
  }

  std::unique_ptr<lab::Devsim> devsim_;
  int32_t session_ = -1;
};

TEST_F(Command, FramesCarryTheirPayloads) {
  start();
  IPLOCATIONINFO loc{};
  std::strcpy(loc.text, "loc");
  loc.text[10] = 'x';  // after the terminator: not sent
  loc.value40 = 0x0201;
  loc.value42 = 0x0403;
  SNMPINFO snmp{};
  snmp.setting = 7;
  snmp.unwritten1[0] = 9;  // not sent
  std::strcpy(snmp.text[0], "W");
  std::strcpy(snmp.text[1], "A");
  std::strcpy(snmp.text[2], "B");
  std::strcpy(snmp.text[3], "Z");
  MAILALERTINFO mail{};
  std::strcpy(mail.text, "m");
  mail.text[5] = 'x';
  mail.value40 = 0x11223344;
  std::strcpy(mail.blocks[4], "last");
  const ALERTINFO alert = {{1, 2, 3}};
  const CMDSTATEINFO state = {{0x04030201u, 0x08070605u}};
  const unsigned char phy[2] = {0xab, 0xcd};
  const std::string name39(39, 'n');
  const struct {
    const char* what;
    std::function<int32_t(int32_t)> call;
    Bytes frame;
  } cases[] = {
      {"SetNetmask", [](int32_t s) { return dsc_SetNetmask(s, 1, ip("255.255.255.0")); },
       {0x22, 0x01, 0x00, 0x06, 0xff, 0xff, 0xff, 0x00, 0x01, 0x00}},
      {"SetIP", [](int32_t s) { return dsc_SetIP(s, 0, ip("192.168.1.1")); },
       {0x21, 0x01, 0x00, 0x06, 192, 168, 1, 1, 0x00, 0x00}},
      {"SetGateway 255", [](int32_t s) { return dsc_SetGateway(s, 255, ip("10.0.0.0")); },
       {0x23, 0x01, 0x00, 0x06, 10, 0, 0, 0, 0xff, 0x00}},
      {"SetIPConfig", [](int32_t s) { return dsc_SetIPConfig(s, 255, 0x102); }, {0x24, 0x01, 0x00, 0x03, 0xff, 0x00, 0x02}},
      {"SetDNS", [](int32_t s) { return dsc_SetDNS(s, 1, ip("10.0.0.1"), ip("10.0.0.2")); },
       {0x27, 0x01, 0x00, 0x0c, 0x01, 0x00, 0x00, 0x00, 10, 0, 0, 1, 10, 0, 0, 2}},
      {"SaveAndRestart", [](int32_t s) { return dsc_SaveAndRestart(s); }, {0x02, 0x01, 0x00, 0x02, 0x00, 0x00}},
      {"Restart", [](int32_t s) { return dsc_Restart(s); }, {0x02, 0x01, 0x00, 0x02, 0x02, 0x00}},
      {"RunOrStopUserAp", [](int32_t s) { return dsc_RunOrStopUserAp(s, 0x301); }, {0x09, 0x01, 0x00, 0x01, 0x01}},
      {"ClearUserAP", [](int32_t s) { return dsc_ClearUserAP(s); }, {0x0e, 0x01, 0x00, 0x00}},
      {"SetSDKDevFlag", [](int32_t s) { return dsc_SetSDKDevFlag(s, 1); }, {0x0f, 0x01, 0x00, 0x01, 0x01}},
      {"SetWatchdog", [](int32_t s) { return dsc_SetWatchdog(s, 0); }, {0x12, 0x01, 0x00, 0x01, 0x00}},
      {"SetDebug", [](int32_t s) { return dsc_SetDebug(s, 2); }, {0x13, 0x01, 0x00, 0x01, 0x02}},
      {"SetToFactoryDefault", [](int32_t s) { return dsc_SetToFactoryDefault(s); }, {0x17, 0x01, 0x00, 0x00}},
      {"SetConsole", [](int32_t s) { return dsc_SetConsole(s, 1); }, {0x19, 0x01, 0x00, 0x01, 0x01}},
      {"SetModemSetting", [](int32_t s) { return dsc_SetModemSetting(s, 0x1ff); }, {0x65, 0x01, 0x00, 0x01, 0xff}},
      {"Erase_APConfig_Bank", [](int32_t s) { return dsc_Erase_APConfig_Bank(s, 0); }, {0x1d, 0x01, 0x00, 0x01, 0x00}},
      {"ClearLog", [](int32_t s) { return dsc_ClearLog(s); }, {0x54, 0x01, 0x00, 0x00}},
      {"SetTimeZone", [](int32_t s) { return dsc_SetTimeZone(s, -3600, 5); },
       {0x1c, 0x01, 0x00, 0x08, 0xf0, 0xf1, 0xff, 0xff, 0x05, 0x00, 0x00, 0x00}},
      {"SetChangeFirmware", [](int32_t s) { return dsc_SetChangeFirmware(s, ip("10.0.0.1"), 2, 3, ip("10.0.0.2"), 0x101); },
       {0x18, 0x01, 0x00, 0x11, 10, 0, 0, 1, 2, 0, 0, 0, 3, 0, 0, 0, 10, 0, 0, 2, 0x01}},
      {"SetAlert", [&](int32_t s) { return dsc_SetAlert(s, &alert); },
       {0x52, 0x01, 0x00, 0x08, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00}},
      {"SetCmdState", [&](int32_t s) { return dsc_SetCmdState(s, &state); },
       {0x64, 0x01, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"SetPhyMode", [&](int32_t s) { return dsc_SetPhyMode(s, phy); }, {0x2a, 0x01, 0x00, 0x02, 0xab, 0xcd}},
      {"SetName 39", [&](int32_t s) { return dsc_SetName(s, name39.c_str()); },
       cat({{0x10, 0x01, 0x00, 0x28}, text(name39, 40)})},
      {"SetTimeServer", [](int32_t s) { return dsc_SetTimeServer(s, "ntp"); }, cat({{0x1b, 0x01, 0x00, 0x28}, text("ntp", 40)})},
      {"SetIPLocation", [&](int32_t s) { return dsc_SetIPLocation(s, 3, &loc); },
       cat({{0x25, 0x01, 0x00, 0x30, 0x03, 0x00, 0x00, 0x00}, text("loc", 40), {0x01, 0x02, 0x03, 0x04}})},
      {"SetSNMP", [&](int32_t s) { return dsc_SetSNMP(s, &snmp); },
       cat({{0x28, 0x01, 0x00, 0xa4, 0x07, 0x00, 0x00, 0x00}, text("W", 40), text("B", 40), text("A", 40), text("Z", 40)})},
      {"SetMailAlert", [&](int32_t s) { return dsc_SetMailAlert(s, &mail); },
       cat({{0x29, 0x01, 0x01, 0x6c}, text("m", 40), {0x44, 0x33, 0x22, 0x11}, Bytes(256, 0), text("last", 64)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = frames().size();
    EXPECT_EQ(c.call(session_), DSC_OK);
    const auto got = devsim_->WaitReceived(1, 100).empty() ? std::vector<Bytes>{} : frames();
    ASSERT_EQ(got.size(), before + 1);
    EXPECT_EQ(got.back(), c.frame);
    // A restart ends the device's connections; it is back at once, so log in again.
    if (c.frame[0] == 0x02) {
      ASSERT_EQ(dsc_Login(session_, "pw"), DSC_OK);
    }
  }
}

TEST_F(Command, SessionThenChannelThenArguments) {
  start("", false);
  const IPFILTERINFO filters[16] = {};
  // Not logged in: the channel check comes before the arguments.
  EXPECT_EQ(dsc_SetNetmask(session_, 1, 0), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SetIP(session_, 99, ip("1.2.3.0")), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SetSNMP(session_, nullptr), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SetIPFilter(session_, 0, filters), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SaveAndRestart(session_), DSC_ENOCHANNEL);
  // These two test their pointer first.
  EXPECT_EQ(dsc_SetName(session_, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_SetIPLocation(session_, 0, nullptr), DSC_EINVAL);
  // A bad session before anything else.
  EXPECT_EQ(dsc_SetNetmask(session_ + 1, 1, 0), DSC_EINVAL);
  EXPECT_EQ(dsc_SetNetmask(256, 1, 0), DSC_EINVAL);
  EXPECT_TRUE(devsim_->Log().empty()) << "nothing reached the device";
}

TEST_F(Command, ArgumentChecksRefuseBeforeSending) {
  start();
  const std::string name40(40, 'n');
  const struct {
    const char* what;
    std::function<int32_t(int32_t)> call;
  } refused[] = {
      {"SetIP .0", [](int32_t s) { return dsc_SetIP(s, 0, ip("192.168.1.0")); }},
      {"SetIP .255", [](int32_t s) { return dsc_SetIP(s, 0, ip("192.168.1.255")); }},
      {"SetIP 65", [](int32_t s) { return dsc_SetIP(s, 65, ip("192.168.1.1")); }},
      {"SetNetmask -1", [](int32_t s) { return dsc_SetNetmask(s, -1, 0); }},
      {"SetDNS 0", [](int32_t s) { return dsc_SetDNS(s, 0, 0, 0); }},
      {"SetDNS 65", [](int32_t s) { return dsc_SetDNS(s, 65, 0, 0); }},
      {"SetName 40", [&](int32_t s) { return dsc_SetName(s, name40.c_str()); }},
      {"SetTimeServer 40", [&](int32_t s) { return dsc_SetTimeServer(s, name40.c_str()); }},
      {"SetTimeServer null", [](int32_t s) { return dsc_SetTimeServer(s, nullptr); }},
      {"SetIPLocation 40", [&](int32_t s) {
         IPLOCATIONINFO loc;
         std::memset(loc.text, 'l', sizeof loc.text);
         return dsc_SetIPLocation(s, 0, &loc);
       }},
      {"SetChangeFirmware type 3", [](int32_t s) { return dsc_SetChangeFirmware(s, ip("1.1.1.1"), 0, 0, ip("1.1.1.2"), 3); }},
      {"SetChangeFirmware .255", [](int32_t s) { return dsc_SetChangeFirmware(s, ip("1.1.1.1"), 0, 0, ip("1.1.1.255"), 1); }},
      {"SetChangeFirmware .0", [](int32_t s) { return dsc_SetChangeFirmware(s, ip("1.1.1.0"), 0, 0, ip("1.1.1.2"), 2); }},
      {"SetTime null", [](int32_t s) { return dsc_SetTime(s, nullptr); }},
      {"SetPhyMode null", [](int32_t s) { return dsc_SetPhyMode(s, nullptr); }},
      {"SetIPFilter null", [](int32_t s) { return dsc_SetIPFilter(s, 0, nullptr); }},
      {"SetCmdState null", [](int32_t s) { return dsc_SetCmdState(s, nullptr); }},
      {"SetSNMP null", [](int32_t s) { return dsc_SetSNMP(s, nullptr); }},
      {"SetMailAlert null", [](int32_t s) { return dsc_SetMailAlert(s, nullptr); }},
      {"SetAlert null", [](int32_t s) { return dsc_SetAlert(s, nullptr); }},
  };
  for (const auto& c : refused) EXPECT_EQ(c.call(session_), DSC_EINVAL) << c.what;
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ(dsc_SetIP(session_, 255, ip("192.168.1.1")), DSC_OK);
  EXPECT_EQ(dsc_SetDNS(session_, 255, 0, 0), DSC_OK);
  EXPECT_EQ(frames().size(), 2u);
}

TEST_F(Command, IPFilterSendsSeventeenFramesAndStopsAtARefusal) {
  start();
  IPFILTERINFO filters[16];
  for (int i = 0; i < 16; ++i) std::memset(filters[i].data, 0x10 + i, sizeof filters[i].data);
  ASSERT_EQ(dsc_SetIPFilter(session_, 0x1A5, filters), DSC_OK);
  const auto f = frames();
  ASSERT_EQ(f.size(), 17u);
  EXPECT_EQ(f[0], cat({{0x51, 0x01, 0x00, 0x10, 0x01, 0x00, 0x00, 0x00}, Bytes(12, 0x10)}));
  EXPECT_EQ(f[15], cat({{0x51, 0x01, 0x00, 0x10, 0x01, 0x0f, 0x00, 0x00}, Bytes(12, 0x1f)}));
  EXPECT_EQ(f[16], cat({{0x51, 0x01, 0x00, 0x10, 0xa5, 0x00, 0x00, 0x00}, Bytes(12, 0x10)}));

  dsc_Detach(session_);
  devsim_.reset();
  start(",cmd_status=81:254:4");
  EXPECT_EQ(dsc_SetIPFilter(session_, 0, filters), DSC_ESTATUS254);
  const auto stopped = frames();
  ASSERT_EQ(stopped.size(), 4u) << "no frame after the refused fourth";
  EXPECT_EQ(stopped[3][5], 3) << "the fourth filter entry";
}

TEST_F(Command, DeviceStatusesMapToResults) {
  const struct {
    const char* keys;
    int32_t result;
  } cases[] = {
      {",cmd_status=34:0", DSC_EFAIL},  // status 0 is success only for transfers
      {",cmd_status=34:2", DSC_EFAIL},
      {",cmd_status=34:251", DSC_EINVAL},
      {",cmd_status=34:252", DSC_ESTATUS252},
      {",cmd_status=34:253", DSC_ETIMEOUT},
      {",cmd_status=34:254", DSC_ESTATUS254},
      {",cmd_status=34:255", DSC_ESTATUS252},
      {",cmd_wrongcode=34", DSC_EFAIL},
      {",cmd_badlen=34", DSC_EFAIL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    start(c.keys);
    EXPECT_EQ(dsc_SetNetmask(session_, 1, 0), c.result);
    EXPECT_EQ(dsc_SetNetmask(session_, 1, 0), c.result) << "the channel stays open after a refusal";
    dsc_Detach(session_);
    devsim_.reset();
  }
}

std::vector<uint32_t> g_codes;
int32_t DSC_CALL record_code(uint32_t code, int32_t, int32_t, int32_t) {
  g_codes.push_back(code);
  return 1;
}
int32_t DSC_CALL cancel(uint32_t, int32_t, int32_t, int32_t) { return 0; }

TEST_F(Command, SlowReplyWaitsRetryCountPlusOneTimesThenTimesOut) {
  start(",delay=400");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 1), DSC_OK);
  g_codes.clear();
  ASSERT_EQ(dsc_LibSetProc(session_, record_code, 0), DSC_OK);
  EXPECT_EQ(dsc_SetNetmask(session_, 1, 0), DSC_ETIMEOUT);
  EXPECT_EQ(g_codes, (std::vector<uint32_t>{0x80000022u, 0x80000022u}));
  ASSERT_EQ(dsc_LibSetProc(session_, cancel, 0), DSC_OK);
  EXPECT_EQ(dsc_SetWatchdog(session_, 1), DSC_ECANCELLED);
}

// What a command writes, the query of the same setting reads back from the
// device: both ends agree on every layout, the SNMP text swap included.
TEST_F(Command, QueriesReadBackWhatTheCommandsWrote) {
  start();
  ASSERT_EQ(dsc_SetName(session_, "renamed"), DSC_OK);
  char name[40] = {};
  ASSERT_EQ(dsc_GetName(session_, name), DSC_OK);
  EXPECT_STREQ(name, "renamed");

  ASSERT_EQ(dsc_SetTimeServer(session_, "ntp.example"), DSC_OK);
  char server[40] = {};
  ASSERT_EQ(dsc_GetTimeServer(session_, server), DSC_OK);
  EXPECT_STREQ(server, "ntp.example");

  ASSERT_EQ(dsc_SetWatchdog(session_, 1), DSC_OK);
  int32_t watchdog = -1;
  ASSERT_EQ(dsc_GetWatchdog(session_, &watchdog), DSC_OK);
  EXPECT_EQ(watchdog, 1);

  ASSERT_EQ(dsc_SetTimeZone(session_, -3600, 5), DSC_OK);
  int32_t offset = 0, index = 0;
  ASSERT_EQ(dsc_GetTimeZone(session_, &offset, &index), DSC_OK);
  EXPECT_EQ(offset, -3600);
  EXPECT_EQ(index, 5);

  ASSERT_EQ(dsc_SetGateway(session_, 255, ip("127.0.0.254")), DSC_OK);
  ASSERT_EQ(dsc_SetDNS(session_, 255, ip("10.0.0.1"), ip("10.0.0.2")), DSC_OK);
  uint32_t gateway = 0, dns = 0, dns2 = 0;
  ASSERT_EQ(dsc_GetGateway(session_, 255, &gateway), DSC_OK);
  ASSERT_EQ(dsc_GetDNS(session_, 255, &dns, &dns2), DSC_OK);
  EXPECT_EQ(gateway, ip("127.0.0.254"));
  EXPECT_EQ(dns, ip("10.0.0.1"));
  EXPECT_EQ(dns2, ip("10.0.0.2"));

  SNMPINFO snmp{};
  snmp.setting = 3;
  std::strcpy(snmp.text[0], "W");
  std::strcpy(snmp.text[1], "A");
  std::strcpy(snmp.text[2], "B");
  std::strcpy(snmp.text[3], "Z");
  ASSERT_EQ(dsc_SetSNMP(session_, &snmp), DSC_OK);
  SNMPINFO back;
  std::memset(&back, 0x5a, sizeof back);
  ASSERT_EQ(dsc_GetSNMP(session_, &back), DSC_OK);
  EXPECT_EQ(back.setting, 3);
  EXPECT_EQ(std::memcmp(back.text, snmp.text, sizeof snmp.text), 0) << "read back in the record's order";
}

}  // namespace
