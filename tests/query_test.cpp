// Queries against the emulator on loopback, in the test's private network
// namespace: request bytes, argument checks, reply decoding, failures.
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

const uint32_t kDeviceIp = inet_addr("127.0.0.2");
const std::string kIdentity = "name=q,ip=127.0.0.2,app=0x80004012,model=0x4512,mac=02:00:5e:00:00:0a";

std::string hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t v : b) {
    s += digits[v >> 4];
    s += digits[v & 15];
  }
  return s;
}

Bytes text_bytes(const std::string& s, size_t width) {
  Bytes b(s.begin(), s.end());
  b.resize(width, 0);
  return b;
}

DSINFO device_record() {
  DSINFO d{};
  d.app_id = 0x80004012u;
  d.model = 0x4512;
  d.flags = DSC_FLAG_DIRECT;
  d.device_ip = kDeviceIp;
  d.reported_ip = kDeviceIp;
  d.local_ip = inet_addr("127.0.0.1");
  const uint8_t mac[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x0a};
  std::memcpy(d.mac, mac, 6);
  return d;
}

class Query : public ::testing::Test {
 protected:
  // Starts the emulator with extra keys for the device, attaches it.
  void start(const std::string& keys = "") {
    std::string error;
    devsim_ = lab::Devsim::Start({"--device", kIdentity + keys}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
    const DSINFO d = device_record();
    ASSERT_EQ(dsc_Attach(&d, &session_), DSC_OK);
    ASSERT_EQ(dsc_LibSetTimeout(session_, 300, 2), DSC_OK);
  }
  void TearDown() override {
    if (session_ >= 0) dsc_Detach(session_);
  }
  // Bytes from 20 of a reply the emulator is told to send for that key.
  static std::string payload(int key, const Bytes& bytes) { return ",payload" + std::to_string(key) + "=" + hex(bytes); }

  std::unique_ptr<lab::Devsim> devsim_;
  int32_t session_ = -1;
};

TEST_F(Query, RequestsCarryTheQueryHeaderAndTheirArguments) {
  start();
  int32_t i32 = 0, i32b = 0;
  uint32_t u32 = 0, u32b = 0;
  char text[40];
  IFCONFIGINFO ifs[64];
  NETSTATINFO conns[256];
  IPFILTERINFO filters[16];
  PPPSTATUSINFO ppp[16];
  ROUTINGINFO routes[32];
  TIMEINFO time{};
  const struct {
    const char* what;
    std::function<int32_t(int32_t)> call;
    uint8_t code;
    Bytes args;  // request bytes from 20
  } cases[] = {
      {"Locate", [](int32_t s) { return dsc_Locate(s, 0x12345); }, 0x02, {0x45, 0x23}},
      {"GetName", [&](int32_t s) { return dsc_GetName(s, text); }, 0x10, {}},
      {"GetTime", [&](int32_t s) { return dsc_GetTime(s, &time); }, 0x1a, {}},
      {"GetTimeZone", [&](int32_t s) { return dsc_GetTimeZone(s, &i32, &i32b); }, 0x1c, {}},
      {"GetIP 255", [&](int32_t s) { return dsc_GetIP(s, 255, &u32); }, 0x21, {0xff, 0x00}},
      {"GetNetmask 7", [&](int32_t s) { return dsc_GetNetmask(s, 7, &u32); }, 0x22, {0x07, 0x00}},
      {"GetGateway 64", [&](int32_t s) { return dsc_GetGateway(s, 64, &u32); }, 0x23, {0x40, 0x00}},
      {"GetIPConfig 0", [&](int32_t s) { return dsc_GetIPConfig(s, 0, &i32); }, 0x24, {0x00, 0x00}},
      {"GetDNS 1", [&](int32_t s) { return dsc_GetDNS(s, 1, &u32, &u32b); }, 0x27, {0x01, 0x00}},
      {"GetPHYStatus 0x1ff", [&](int32_t s) {
         PHYSTATUSINFO phy;
         return dsc_GetPHYStatus(s, 0x1ff, &phy);
       }, 0x2a, {0xff}},
      {"GetModemSetting", [&](int32_t s) { return dsc_GetModemSetting(s, text); }, 0x65, {}},
      {"GetIfConfig 1", [&](int32_t s) { return dsc_GetIfConfig(s, 1, &i32, ifs); }, 0x26, {0x00, 0x01}},
      {"GetNetstat 256", [&](int32_t s) { return dsc_GetNetstat(s, 256, &i32, conns); }, 0x14, {0x01, 0x00}},
      {"GetNetstat_ex 5", [&](int32_t s) { return dsc_GetNetstat_ex(s, 5, &i32, conns); }, 0x1d,
       {0x00, 0x05, 0x00, 0x00}},
      {"GetIPFilter 0x103", [&](int32_t s) { return dsc_GetIPFilter(s, 0x103, &i32, filters); }, 0x51, {0x03}},
      {"GetPPPStatus 5", [&](int32_t s) { return dsc_GetPPPStatus(s, 5, ppp); }, 0x71, {0x05, 0, 0, 0}},
      {"GetRouting", [&](int32_t s) { return dsc_GetRouting(s, &i32, routes); }, 0x73, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = devsim_->Received().size();
    EXPECT_EQ(c.call(session_), DSC_OK);
    const auto rx = devsim_->Received();
    ASSERT_EQ(rx.size(), before + 1);
    const Bytes& req = rx.back().bytes;
    Bytes want = {c.code, 0x00, 0x00, static_cast<uint8_t>(20 + c.args.size()), 0, 0, 0, 0,
                  0x12, 0x40, 0x00, 0x80,                // application ID
                  0x12, 0x45,                            // model code
                  0x02, 0x00, 0x5e, 0x00, 0x00, 0x0a};  // MAC
    want.insert(want.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(req, want);
  }
}

TEST_F(Query, BadArgumentsAreRefusedBeforeAnyDatagram) {
  start();
  uint32_t u32 = 0;
  int32_t i32 = 0;
  char text[40];
  IFCONFIGINFO ifs[64];
  NETSTATINFO conns[256];
  PPPSTATUSINFO ppp[16];
  PPPSTATISTICINFO pstat[16];
  ROUTINGINFO routes[32];
  const struct {
    const char* what;
    std::function<int32_t()> call;
  } cases[] = {
      {"GetIP 65", [&] { return dsc_GetIP(session_, 65, &u32); }},
      {"GetIP -1", [&] { return dsc_GetIP(session_, -1, &u32); }},
      {"GetIPLocation 254", [&] {
         IPLOCATIONINFO l;
         return dsc_GetIPLocation(session_, 254, &l);
       }},
      {"GetIP null", [&] { return dsc_GetIP(session_, 0, nullptr); }},
      {"GetDNS second null", [&] { return dsc_GetDNS(session_, 0, &u32, nullptr); }},
      {"GetTimeZone null", [&] { return dsc_GetTimeZone(session_, nullptr, &i32); }},
      {"GetName null", [&] { return dsc_GetName(session_, nullptr); }},
      {"GetDSINFO null", [&] { return dsc_GetDSINFO(session_, nullptr); }},
      {"GetIfConfig 0", [&] { return dsc_GetIfConfig(session_, 0, &i32, ifs); }},
      {"GetIfConfig 65", [&] { return dsc_GetIfConfig(session_, 65, &i32, ifs); }},
      {"GetNetstat 257", [&] { return dsc_GetNetstat(session_, 257, &i32, conns); }},
      {"GetNetstat_ex 0", [&] { return dsc_GetNetstat_ex(session_, 0, &i32, conns); }},
      {"GetNetstat got null", [&] { return dsc_GetNetstat(session_, 1, nullptr, conns); }},
      {"GetPPPStatus 17", [&] { return dsc_GetPPPStatus(session_, 17, ppp); }},
      {"GetPPPStatistic -1", [&] { return dsc_GetPPPStatistic(session_, -1, pstat); }},
      {"GetRouting count null", [&] { return dsc_GetRouting(session_, nullptr, routes); }},
      {"GetIPFilter null", [&] { return dsc_GetIPFilter(session_, 0, &i32, nullptr); }},
      {"free session", [&] { return dsc_GetName(session_ + 1, text); }},
      {"session 256", [&] { return dsc_GetName(256, text); }},
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), DSC_EINVAL) << c.what;
  // A query afterwards proves the emulator was listening all along.
  EXPECT_EQ(dsc_GetName(session_, text), DSC_OK);
  EXPECT_EQ(devsim_->Received().size(), 1u);
}

TEST_F(Query, NamesArePaddedToThirtyNineBytes) {
  const struct {
    std::string name;
    size_t chars;
  } cases[] = {{"abc", 3}, {std::string(45, 'n'), 39}, {std::string(39, 'x'), 39}, {"", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.size());
    start(payload(16, Bytes(c.name.begin(), c.name.end())));
    char out[48];
    std::memset(out, 0xaa, sizeof out);
    ASSERT_EQ(dsc_GetName(session_, out), DSC_OK);
    EXPECT_EQ(std::string(out, c.chars), c.name.substr(0, c.chars));
    for (size_t i = c.chars; i < 39; ++i) EXPECT_EQ(out[i], '\0') << i;
    EXPECT_EQ(static_cast<uint8_t>(out[39]), 0xaa) << "exactly 39 bytes are written";
    dsc_Detach(session_);
    devsim_.reset();
  }
}

TEST_F(Query, APInfoClearsTheNameAndKeepsBytes50And51) {
  Bytes p = text_bytes("ap", 40);               // 20-59 name
  p.insert(p.end(), {0x04, 0x03, 0x02, 0x01});   // 60 version
  p.insert(p.end(), {0x34, 0x12});               // 64
  p.insert(p.end(), {0x46, 0x47, 0x48, 0x49});   // 66-69
  p.insert(p.end(), {0x70, 0x71});               // 70-71, unused
  p.insert(p.end(), {0x78, 0x56, 0x34, 0x12});   // 72
  start(payload(21, p));
  APINFO info;
  std::memset(&info, 0xee, sizeof info);
  std::strcpy(info.name, "a much longer old name");
  ASSERT_EQ(dsc_GetAPInfo(session_, &info), DSC_OK);
  EXPECT_STREQ(info.name, "ap");
  for (size_t i = 2; i < sizeof info.name; ++i) EXPECT_EQ(info.name[i], '\0');
  EXPECT_EQ(info.version, 0x01020304u);
  EXPECT_EQ(info.value44, 0x1234);
  EXPECT_EQ(info.byte46, 0x46);
  EXPECT_EQ(info.byte49, 0x49);
  EXPECT_EQ(info.unwritten50[0], 0xee);
  EXPECT_EQ(info.unwritten50[1], 0xee);
  EXPECT_EQ(info.value52, 0x12345678u);
}

TEST_F(Query, SnmpTradesTheMiddleBlocks) {
  Bytes p = {0x07, 0x21, 0x22, 0x23};
  for (const char* t : {"A", "B", "C", "D"}) {
    const Bytes block = text_bytes(t, 40);
    p.insert(p.end(), block.begin(), block.end());
  }
  start(payload(40, p));
  SNMPINFO info;
  std::memset(&info, 0xee, sizeof info);
  ASSERT_EQ(dsc_GetSNMP(session_, &info), DSC_OK);
  EXPECT_EQ(info.setting, 0x07);
  EXPECT_EQ(info.unwritten1[0], 0xee);
  EXPECT_STREQ(info.text[0], "A");
  EXPECT_STREQ(info.text[1], "C");
  EXPECT_STREQ(info.text[2], "B");
  EXPECT_STREQ(info.text[3], "D");
}

TEST_F(Query, ValuesAreDecodedFromTheirBytes) {
  start(payload(18, {0x00, 0x01}) + payload(24, {0x01, 0x00}) + payload(36, {0x02}) +
        payload(28, {0xf0, 0xf1, 0xff, 0xff, 0x05, 0x00, 0x00, 0x00}) +
        payload(39, {10, 0, 0, 1, 10, 0, 0, 2}) + payload(101, {'M'}) +
        payload(37, [] {
          Bytes b = text_bytes("here", 40);
          b.insert(b.end(), {0x01, 0x02, 0x03, 0x04});
          return b;
        }()));
  int32_t v = -1;
  ASSERT_EQ(dsc_GetWatchdog(session_, &v), DSC_OK);
  EXPECT_EQ(v, 1) << "0x0100 is on";
  ASSERT_EQ(dsc_GetEnvironmentMode(session_, &v), DSC_OK);
  EXPECT_EQ(v, 1);
  ASSERT_EQ(dsc_GetIPConfig(session_, 0, &v), DSC_OK);
  EXPECT_EQ(v, 2);
  int32_t offset = 0, index = 0;
  ASSERT_EQ(dsc_GetTimeZone(session_, &offset, &index), DSC_OK);
  EXPECT_EQ(offset, -3600);
  EXPECT_EQ(index, 5);
  uint32_t a = 0, b = 0;
  ASSERT_EQ(dsc_GetDNS(session_, 0, &a, &b), DSC_OK);
  EXPECT_EQ(a, inet_addr("10.0.0.1"));
  EXPECT_EQ(b, inet_addr("10.0.0.2"));
  char modem = 0;
  ASSERT_EQ(dsc_GetModemSetting(session_, &modem), DSC_OK);
  EXPECT_EQ(modem, 'M');
  IPLOCATIONINFO loc;
  std::memset(&loc, 'z', sizeof loc);
  ASSERT_EQ(dsc_GetIPLocation(session_, 0, &loc), DSC_OK);
  EXPECT_STREQ(loc.text, "here");
  EXPECT_EQ(loc.text[5], 'z') << "bytes after the terminator keep their values";
  EXPECT_EQ(loc.value40, 0x0201);
  EXPECT_EQ(loc.value42, 0x0403);
}

TEST_F(Query, ShortReplyReadsAsZerosAndLongReplyIsCut) {
  start(",truncate=22");  // only two payload bytes of every reply survive
  KERNELINFO k;
  std::memset(&k, 0xee, sizeof k);
  ASSERT_EQ(dsc_GetKernelInfo(session_, &k), DSC_OK);
  EXPECT_EQ(k.value4 | k.value8 | k.flags | k.value14, 0u);
  MAILALERTINFO mail;
  ASSERT_EQ(dsc_GetMailAlert(session_, &mail), DSC_OK);
  EXPECT_EQ(mail.blocks[4][63], 0);
}

TEST_F(Query, FailedQueriesLeaveOutputsUntouched) {
  for (const char* fault : {",silent=1", ",status=1"}) {
    SCOPED_TRACE(fault);
    start(fault);
    ASSERT_EQ(dsc_LibSetTimeout(session_, 50, 1), DSC_OK);
    TIMEINFO t;
    std::memset(&t, 0x5a, sizeof t);
    EXPECT_EQ(dsc_GetTime(session_, &t), DSC_ETIMEOUT);
    for (size_t i = 0; i < sizeof t; ++i) EXPECT_EQ(reinterpret_cast<uint8_t*>(&t)[i], 0x5a);
    IFCONFIGINFO ifs[2];
    std::memset(ifs, 0x5a, sizeof ifs);
    int32_t got = 77;
    EXPECT_EQ(dsc_GetIfConfig(session_, 2, &got, ifs), DSC_ETIMEOUT);
    EXPECT_EQ(got, 77);
    EXPECT_EQ(ifs[1].gateway, 0x5a5a5a5au) << "not cleared on failure";
    dsc_Detach(session_);
    devsim_.reset();
  }
}

uint32_t g_progress_code = 0;
int32_t DSC_CALL cancel_at_once(uint32_t code, int32_t, int32_t, int32_t) {
  g_progress_code = code;
  return 0;
}

TEST_F(Query, ProgressProcedureCancelsWithTheQueryCode) {
  start();
  ASSERT_EQ(dsc_LibSetProc(session_, cancel_at_once, 0), DSC_OK);
  char name[40];
  EXPECT_EQ(dsc_GetName(session_, name), DSC_ECANCELLED);
  EXPECT_EQ(g_progress_code, 0x10u);
  ASSERT_EQ(dsc_LibSetProc(session_, nullptr, 0), DSC_OK);
}

// ---- The identity query -------------------------------------------------

TEST_F(Query, GetDSINFOCompletesARecordHoldingOnlyTheAddress) {
  start(",reported=10.9.8.7");
  DSINFO bare{};
  bare.flags = DSC_FLAG_DIRECT;
  bare.device_ip = kDeviceIp;
  bare.local_ip = inet_addr("127.0.0.1");
  ASSERT_EQ(dsc_GetDSINFO(session_, &bare), DSC_OK);
  const DSINFO want = [] {
    DSINFO d = device_record();
    d.reported_ip = inet_addr("10.9.8.7");
    return d;
  }();
  EXPECT_EQ(std::memcmp(&bare, &want, sizeof want), 0);
  const auto rx = devsim_->Received();
  ASSERT_EQ(rx.size(), 1u);
  EXPECT_EQ(rx[0].bytes, (Bytes{0x01, 0x00, 0x00, 0x08, 0, 0, 0, 0}));

  // The session keeps the completed record: a query with its identity works.
  int32_t mode = -1;
  EXPECT_EQ(dsc_GetEnvironmentMode(session_, &mode), DSC_OK);
}

TEST_F(Query, GetDSINFOKeepsKnownFieldsAndRestoresOnFailure) {
  start();
  DSINFO wrong_mac = device_record();
  wrong_mac.mac[5] ^= 1;
  wrong_mac.reported_ip = inet_addr("1.2.3.4");
  DSINFO given = wrong_mac;
  EXPECT_EQ(dsc_GetDSINFO(session_, &given), DSC_EFAIL);
  EXPECT_EQ(std::memcmp(&given, &wrong_mac, sizeof given), 0) << "the caller's record is not written";

  // The session's previous record is back: its identity still reaches the device.
  int32_t mode = -1;
  EXPECT_EQ(dsc_GetEnvironmentMode(session_, &mode), DSC_OK);

  // A known reported address is kept as it is.
  DSINFO known = device_record();
  known.reported_ip = inet_addr("1.2.3.4");
  ASSERT_EQ(dsc_GetDSINFO(session_, &known), DSC_OK);
  EXPECT_EQ(known.reported_ip, inet_addr("1.2.3.4"));

  // A time-out restores too.
  ASSERT_EQ(dsc_LibSetTimeout(session_, 50, 1), DSC_OK);
  DSINFO elsewhere = device_record();
  elsewhere.device_ip = inet_addr("127.0.0.9");
  EXPECT_EQ(dsc_GetDSINFO(session_, &elsewhere), DSC_ETIMEOUT);
  EXPECT_EQ(dsc_GetEnvironmentMode(session_, &mode), DSC_OK);
}

// ---- Table queries ----------------------------------------------------------

// A table reply payload: count as the key has it, then entries from byte 24.
Bytes table(bool count16, size_t count, size_t entries, size_t size, uint8_t extra = 0) {
  Bytes p(4, 0);
  if (count16) {
    p[0] = static_cast<uint8_t>(count);
    p[1] = static_cast<uint8_t>(count >> 8);
  } else {
    p[1] = static_cast<uint8_t>(count);
    p[2] = extra;
  }
  for (size_t i = 0; i < entries; ++i)
    for (size_t j = 0; j < size; ++j) p.push_back(static_cast<uint8_t>(0x10 * (i + 1) + j));
  return p;
}

TEST_F(Query, InterfacesAndConnectionsAreCappedAndTheRestCleared) {
  start(payload(38, table(true, 3, 3, 16)) + payload(20, table(true, 4, 4, 16)));
  IFCONFIGINFO ifs[2];
  std::memset(ifs, 0xee, sizeof ifs);
  int32_t got = -1;
  ASSERT_EQ(dsc_GetIfConfig(session_, 1, &got, ifs), DSC_OK);
  EXPECT_EQ(got, 1);
  EXPECT_EQ(ifs[0].number, 0x1110);
  EXPECT_EQ(ifs[1].number, 0xeeee) << "only count entries are touched";

  NETSTATINFO conns[10];
  std::memset(conns, 0xee, sizeof conns);
  ASSERT_EQ(dsc_GetNetstat(session_, 10, &got, conns), DSC_OK);
  EXPECT_EQ(got, 4);
  EXPECT_EQ(conns[3].value0, 0x43424140u);
  EXPECT_EQ(conns[3].byte14, 0x4e);
  EXPECT_EQ(conns[3].zero15, 0) << "byte 15 is never copied";
  for (int i = 4; i < 10; ++i) EXPECT_EQ(conns[i].value0 | conns[i].byte14, 0u) << i;
}

TEST_F(Query, NetstatPagesFollowTheContinuation) {
  start(",netstat=100,netstat_page=40");
  NETSTATINFO conns[100];
  int32_t got = -1;
  ASSERT_EQ(dsc_GetNetstat_ex(session_, 100, &got, conns), DSC_OK);
  EXPECT_EQ(got, 100);
  const auto rx = devsim_->Received();
  ASSERT_EQ(rx.size(), 3u);
  const uint8_t want[3][4] = {{0, 100, 0, 0}, {0, 60, 2, 0}, {0, 20, 3, 0}};  // wanted (big-endian), page
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(Bytes(rx[i].bytes.begin() + 20, rx[i].bytes.end()), Bytes(want[i], want[i] + 4));
}

TEST_F(Query, NetstatPagingEndsOnContinuationZeroOrAnEmptyPage) {
  const struct {
    const char* what;
    Bytes reply;
    int32_t count;
    int32_t got;
    size_t requests;
  } cases[] = {
      {"continuation 0", table(true, 2, 2, 16), 10, 2, 1},
      {"endless continuation without entries", [] {
         Bytes b = table(true, 0, 0, 0);
         b[2] = 5;
         return b;
       }(), 10, 0, 1},
      {"endless continuation, one entry a page", [] {
         Bytes b = table(true, 1, 1, 16);
         b[2] = 5;
         return b;
       }(), 3, 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    start(payload(29, c.reply));
    NETSTATINFO conns[10];
    int32_t got = -1;
    ASSERT_EQ(dsc_GetNetstat_ex(session_, c.count, &got, conns), DSC_OK);
    EXPECT_EQ(got, c.got);
    EXPECT_EQ(devsim_->Received().size(), c.requests);
    dsc_Detach(session_);
    devsim_.reset();
  }
}

TEST_F(Query, FilterPppAndRoutingCopySelectedEntries) {
  start(payload(81, table(false, 20, 20, 12, 0x33)) + payload(113, table(false, 5, 5, 12)) +
        payload(115, table(false, 40, 40, 20)));
  IPFILTERINFO filters[17];
  std::memset(filters, 0xee, sizeof filters);
  int32_t setting = -1;
  ASSERT_EQ(dsc_GetIPFilter(session_, 3, &setting, filters), DSC_OK);
  EXPECT_EQ(setting, 0x33);
  EXPECT_EQ(filters[0].data[0], 0x10);
  EXPECT_EQ(filters[1].data[0], 0xee) << "a named index copies one entry";
  ASSERT_EQ(dsc_GetIPFilter(session_, 0, &setting, filters), DSC_OK);
  EXPECT_EQ(filters[15].data[1], 0x01);  // entry 15, byte 1
  EXPECT_EQ(filters[16].data[0], 0xee) << "capped at 16";

  PPPSTATUSINFO ppp[16];
  std::memset(ppp, 0xee, sizeof ppp);
  ASSERT_EQ(dsc_GetPPPStatus(session_, 0, ppp), DSC_OK);
  EXPECT_EQ(ppp[4].data[0], 0x50);
  EXPECT_EQ(ppp[5].data[0], 0xee) << "not cleared";

  ROUTINGINFO routes[33];
  std::memset(routes, 0xee, sizeof routes);
  int32_t count = -1;
  ASSERT_EQ(dsc_GetRouting(session_, &count, routes), DSC_OK);
  EXPECT_EQ(count, 32);
  EXPECT_EQ(routes[32].data[0], 0xee);
}

}  // namespace
