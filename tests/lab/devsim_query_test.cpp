#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "devsim_peer.h"

namespace {

using namespace devsim_peer;

Bytes Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes Le32(uint32_t v) { return Cat({Le16(static_cast<uint16_t>(v)), Le16(static_cast<uint16_t>(v >> 16))}); }
Bytes Be16(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
Bytes Text(const std::string& s, size_t width) { return Resized(Bytes(s.begin(), s.end()), width); }
uint16_t Le16At(const Bytes& b, size_t at) { return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8); }

const Bytes kPrimary = Le16(255);
const Bytes kFourZeros(4, 0);

// The table entries a device generates, as its help text states them.
Bytes IfConfigEntry(uint8_t i) {
  if (i == 0) return {0, 0, 0, 0, 127, 0, 0, 2, 255, 255, 255, 0, 127, 0, 0, 1};
  return {i, 0, 0, 0, 10, i, 0, 2, 255, 255, 255, 0, 10, i, 0, 254};
}
Bytes NetstatEntry(uint16_t i) {
  auto lo = static_cast<uint8_t>(i), hi = static_cast<uint8_t>(i >> 8);
  return Cat({{127, 0, 0, 2, 10, 1, hi, lo}, Le16(4900), Le16(static_cast<uint16_t>(20000 + i)), {1, lo, hi, 0}});
}
Bytes IpFilterEntry(uint8_t n) { return {10, 2, 0, n, 255, 255, 255, 255, n, 1, 0, 0}; }
Bytes PppStatusEntry(uint8_t p) { return {p, 1, 0, 0, 10, 3, p, 1, 10, 3, p, 2}; }

struct ExactCase {
  const char* name;
  std::string knobs;
  Bytes request;
  Bytes payload;  // the reply from byte 20 on
};

void PrintTo(const ExactCase& c, std::ostream* os) { *os << c.name; }

class ExactReplyTest : public DevsimTest, public testing::WithParamInterface<ExactCase> {};

TEST_P(ExactReplyTest, CarriesTheIdentityAndThePayload) {
  const ExactCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDevice(c.knobs));
  auto reply = Ask(c.request);
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, QueryReply(c.request[0], c.payload));
}

const std::string k45 = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRS";

INSTANTIATE_TEST_SUITE_P(StatedPayload, ExactReplyTest,
                         testing::Values(ExactCase{"OfARecord", "payload21=414243", Query(21), {0x41, 0x42, 0x43}},
                                         ExactCase{"Empty", "payload26=", Query(26), {}},
                                         ExactCase{"ForACodeWithoutState", "payload51=0102", Query(51, {1, 0}), {1, 2}},
                                         ExactCase{"OverATable",
                                                   "payload29=0100000011223344",
                                                   Query(29, Cat({Be16(100), Le16(0)})),
                                                   {1, 0, 0, 0, 0x11, 0x22, 0x33, 0x44}},
                                         ExactCase{"OfTheIdentityQuery", "payload1=0909", Datagram(1, {}), {9, 9}}),
                         [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Records, ExactReplyTest,
    testing::Values(
        ExactCase{"IdentityQueryGetsTheSearchReply", "", Datagram(1, {}), {127, 0, 0, 2}},
        ExactCase{"Locate", "", Query(2, Le16(5)), {}},
        ExactCase{"NameDefaultsToTheDeviceName", "", Query(16), Text("d", 40)},
        ExactCase{"Devname", "devname=Hall 3 / east", Query(16), Text("Hall 3 / east", 40)},
        ExactCase{"LongDevnameCutToItsField", "devname=" + k45, Query(16), Text(k45.substr(0, 40), 40)},
        ExactCase{"LongerRequestIsFine", "", Query(16, {1, 2, 3}), Text("d", 40)},
        ExactCase{"AnyIdentity", "any_identity=1", Query(16, {}, Bytes(12, 0xee)), Text("d", 40)},
        ExactCase{"FsInfo", "", Query(17), Resized(Cat({Le32(0x400000), Le32(0x180000), Le32(3)}), 48)},
        ExactCase{"WatchdogOff", "watchdog=0", Query(18), Le16(0)},
        ExactCase{"Debug", "debug=0x1234", Query(19), Le16(0x1234)},
        ExactCase{"ApInfo", "apname=relay,apver=0xaabbccdd", Query(21),
                  Cat({Text("relay", 40), Le32(0xaabbccdd), Bytes(12, 0)})},
        ExactCase{"KernelInfoDefault", "", Query(22), Cat({Le32(0x02010000), Bytes(12, 0)})},
        ExactCase{"KernelInfoWithPassword", "kver=0x03040500,password=1", Query(22),
                  Cat({Le32(0x03040500), Bytes(8, 0), Le16(1), Le16(0)})},
        ExactCase{"ApStatus", "apstatus=0", Query(23), Le16(0)},
        ExactCase{"EnvironmentMode", "env=1", Query(24), Le16(1)},
        ExactCase{"Console", "console=2", Query(25), Le16(2)},
        ExactCase{"TimeServer", "timeserver=clock.lan", Query(27), Text("clock.lan", 40)},
        ExactCase{"TimeZone", "tz_offset=-12600,tz_index=17", Query(28), Cat({Le32(0xffffcec8), Le32(17)})},
        ExactCase{"AddressOfInterface255", "", Query(33, kPrimary), {127, 0, 0, 2}},
        ExactCase{"AddressOfInterface0", "", Query(33, Le16(0)), {127, 0, 0, 2}},
        ExactCase{"AddressOfInterface2", "interfaces=3", Query(33, Le16(2)), {10, 2, 0, 2}},
        ExactCase{"AddressOfUnconfiguredInterface", "", Query(33, Le16(64)), kFourZeros},
        ExactCase{"Netmask", "mask=255.255.0.0", Query(34, kPrimary), {255, 255, 0, 0}},
        ExactCase{"DefaultGateway", "", Query(35, kPrimary), {127, 0, 0, 1}},
        ExactCase{"Gateway", "gateway=127.0.0.254", Query(35, kPrimary), {127, 0, 0, 254}},
        ExactCase{"IpConfig", "ipmode=1", Query(36, kPrimary), {1}},
        ExactCase{"IpLocation", "", Query(37, Le16(0)), Cat({Text("locator.lan", 40), Le16(4802), Le16(60)})},
        ExactCase{"DefaultDns", "", Query(39, kPrimary), {127, 0, 0, 1, 0, 0, 0, 0}},
        ExactCase{"Dns", "dns=1.2.3.4,dns2=5.6.7.8", Query(39, kPrimary), {1, 2, 3, 4, 5, 6, 7, 8}},
        ExactCase{"Snmp", "", Query(40),
                  Cat({kFourZeros, Text("snmp-a", 40), Text("snmp-c", 40), Text("snmp-b", 40), Text("snmp-d", 40)})},
        ExactCase{"PhyStatusOfPort3", "", Query(42, {3}), {3, 1, 100, 0, 1, 0, 0, 0}},
        ExactCase{"Alert", "", Query(82), Bytes(6, 0)}, ExactCase{"CmdState", "", Query(100), Bytes(8, 0)},
        ExactCase{"Modem", "modem=7", Query(101), {7}}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Tables, ExactReplyTest,
    testing::Values(ExactCase{"IpFilterIndex0GivesAll", "ipfilter=3,ipfilter_setting=9", Query(81, {0}),
                              Cat({{0, 3, 9, 0}, IpFilterEntry(1), IpFilterEntry(2), IpFilterEntry(3)})},
                    ExactCase{"IpFilterIndexNGivesEntryN", "ipfilter=3,ipfilter_setting=9", Query(81, {2}),
                              Cat({{0, 1, 9, 0}, IpFilterEntry(2)})},
                    ExactCase{
                        "IpFilterIndexBeyondGivesNone", "ipfilter=3,ipfilter_setting=9", Query(81, {4}), {0, 0, 9, 0}},
                    ExactCase{"PppStatusPort0GivesAll", "ppp_ports=2", Query(113, kFourZeros),
                              Cat({{0, 2, 0, 0}, PppStatusEntry(1), PppStatusEntry(2)})},
                    ExactCase{"PppStatusPortNGivesPortN", "ppp_ports=2", Query(113, {2, 0, 0, 0}),
                              Cat({{0, 1, 0, 0}, PppStatusEntry(2)})},
                    ExactCase{"PppStatusPortBeyondGivesNone", "ppp_ports=2", Query(113, {3, 0, 0, 0}), kFourZeros},
                    ExactCase{"PppStatistic", "", Query(114, {1, 0, 0, 0}),
                              Cat({{0, 1, 0, 0, 1, 0, 0, 0}, Le32(1000), Le32(2000), Le32(0)})},
                    ExactCase{"Routing", "routes=1,gateway=127.0.0.254", Query(115, kFourZeros),
                              Cat({{0, 1, 0, 0, 10, 4, 0, 0, 255, 255, 255, 0, 127, 0, 0, 254}, Le32(0), Le32(1)})},
                    ExactCase{"NoRoutes", "routes=0", Query(115, kFourZeros), kFourZeros}),
    [](const auto& info) { return info.param.name; });

// The replies of a plain device fit the reply buffers the library gives each query, and all repeat the
// device's identity and state their own length.
TEST_F(DevsimTest, PlainDeviceAnswersEveryQueryWithinItsReplyBuffer) {
  ASSERT_NO_FATAL_FAILURE(StartDevice());
  struct Case {
    uint8_t code;
    Bytes args;
    size_t size;
    size_t capacity;
  };
  const Case cases[] = {
      {2, Le16(1), 20, 20},     {16, {}, 60, 60},           {17, {}, 68, 68},           {18, {}, 22, 22},
      {19, {}, 22, 22},         {20, Be16(256), 72, 4120},  {21, {}, 76, 76},           {22, {}, 36, 36},
      {23, {}, 22, 22},         {24, {}, 22, 22},           {25, {}, 22, 22},           {26, {}, 36, 36},
      {27, {}, 60, 60},         {28, {}, 28, 28},           {29, Be16(256), 72, 4120},  {33, kPrimary, 24, 24},
      {34, kPrimary, 24, 24},   {35, kPrimary, 24, 24},     {36, kPrimary, 21, 21},     {37, kPrimary, 64, 64},
      {38, Be16(64), 40, 1048}, {39, kPrimary, 28, 28},     {40, {}, 184, 184},         {41, {}, 384, 384},
      {42, {1}, 28, 32},        {81, {0}, 48, 216},         {82, {}, 26, 28},           {100, {}, 28, 28},
      {101, {}, 21, 21},        {113, kFourZeros, 36, 216}, {114, kFourZeros, 40, 280}, {115, kFourZeros, 64, 664},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code));
    Bytes args = c.code == 29 ? Cat({c.args, Le16(0)}) : c.args;
    auto reply = Ask(Query(c.code, args));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), c.size);
    EXPECT_LE(reply->size(), c.capacity);
    EXPECT_EQ(Resized(*reply, 20), Resized(QueryReply(c.code, Bytes(reply->size() - 20, 0)), 20));
  }
}

struct IgnoredCase {
  const char* name;
  std::string knobs;
  Bytes request;
};

void PrintTo(const IgnoredCase& c, std::ostream* os) { *os << c.name; }

class IgnoredQueryTest : public DevsimTest, public testing::WithParamInterface<IgnoredCase> {};

// A good query sent right after the bad one is answered; the log then shows whether the bad one was too.
TEST_P(IgnoredQueryTest, IsLoggedButNotAnswered) {
  const IgnoredCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDevice(c.knobs));
  ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, c.request));
  auto reply = Ask(Query(16));
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, QueryReply(16, Text("d", 40)));

  auto log = WaitLog(*devsim_, 3);
  log.resize(std::min<size_t>(log.size(), 3));
  ASSERT_EQ(Directions(log), "rx rx tx");
  EXPECT_EQ(log[0].bytes, c.request);
}

INSTANTIATE_TEST_SUITE_P(
    Devsim, IgnoredQueryTest,
    testing::Values(
        IgnoredCase{"OtherMac", "", Query(21, {}, Replace(kOwnEntry, 11, {0x56}))},
        IgnoredCase{"OtherApp", "", Query(21, {}, Replace(kOwnEntry, 0, {0x4e}))},
        IgnoredCase{"OtherModel", "", Query(21, {}, Replace(kOwnEntry, 4, {0x02, 0x01}))},
        IgnoredCase{"NoIdentity", "", Query(21, {}, Bytes(12, 0))},
        IgnoredCase{"OtherIdentityWithStatedPayload", "payload21=41", Query(21, {}, Bytes(12, 0))},
        IgnoredCase{"ShorterThanTheQueryHeader", "", Datagram(21, Resized(kOwnEntry, 11))},
        IgnoredCase{"LengthFieldCutsTheIdentity", "", Replace(Query(21), 3, {19})},
        IgnoredCase{"LocateWithoutValue", "", Query(2)}, IgnoredCase{"LocateWithHalfAValue", "", Query(2, {5})},
        IgnoredCase{"InterfaceWithoutNumber", "", Query(33)},
        IgnoredCase{"LengthFieldCutsTheInterface", "", Replace(Query(33, Le16(0)), 3, {21})},
        IgnoredCase{"Interface65", "", Query(33, Le16(65))}, IgnoredCase{"Interface254", "", Query(39, Le16(254))},
        IgnoredCase{"Interface256", "", Query(36, Le16(256))}, IgnoredCase{"PhyWithoutPort", "", Query(42)},
        IgnoredCase{"IfConfigWithoutCount", "", Query(38, {1})},
        IgnoredCase{"PageWithoutPageNumber", "", Query(29, Be16(100))},
        IgnoredCase{"IpFilterWithoutIndex", "", Query(81)}, IgnoredCase{"PppWithoutPadding", "", Query(113, {0})},
        IgnoredCase{"RoutingWithoutPadding", "", Query(115)}, IgnoredCase{"CodeWithoutState", "", Query(51, {1, 0})},
        IgnoredCase{"MutedCode", "mute=21", Query(21)}),
    [](const auto& info) { return info.param.name; });

// The library reads 100 connections as pages 0, 2, 3 asking for 100, 60 and 20.
TEST_F(DevsimTest, NetstatPagesFollowTheirContinuation) {
  ASSERT_NO_FATAL_FAILURE(StartDevice("netstat=100,netstat_page=40"));
  struct Step {
    uint16_t wanted, page;
    uint16_t first, count, continuation;
  };
  const Step steps[] = {
      {100, 0, 0, 40, 1}, {60, 2, 40, 40, 2}, {20, 3, 80, 20, 0},  // the library's sequence
      {100, 1, 0, 40, 1}, {10, 0, 0, 10, 1},  {100, 4, 0, 0, 0},   // page 1 serves page 0; short; beyond
  };
  for (const Step& s : steps) {
    SCOPED_TRACE("wanted " + std::to_string(s.wanted) + " page " + std::to_string(s.page));
    auto reply = Ask(Query(29, Cat({Be16(s.wanted), Le16(s.page)})));
    ASSERT_TRUE(reply);
    Bytes entries;
    for (uint16_t i = 0; i < s.count; ++i) entries = Cat({entries, NetstatEntry(static_cast<uint16_t>(s.first + i))});
    EXPECT_EQ(*reply, QueryReply(29, Cat({Le16(s.count), Le16(s.continuation), entries})));
  }
}

struct CountCase {
  const char* name;
  std::string knobs;
  uint8_t code;
  uint16_t requested;
  uint16_t answered;
};

void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }

class CountedTableTest : public DevsimTest, public testing::WithParamInterface<CountCase> {};

TEST_P(CountedTableTest, AnswersTheSmallerOfAskedAndConfigured) {
  const CountCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDevice(c.knobs));
  auto reply = Ask(Query(c.code, Be16(c.requested)));
  ASSERT_TRUE(reply);
  Bytes entries;
  for (uint16_t i = 0; i < c.answered; ++i) {
    entries = Cat({entries, c.code == 38 ? IfConfigEntry(static_cast<uint8_t>(i)) : NetstatEntry(i)});
  }
  EXPECT_EQ(*reply, QueryReply(c.code, Cat({Le16(c.answered), Le16(0), entries})));
}

INSTANTIATE_TEST_SUITE_P(Devsim, CountedTableTest,
                         testing::Values(CountCase{"IfConfigAsk1Of3", "interfaces=3", 38, 1, 1},
                                         CountCase{"IfConfigAsk5Of3", "interfaces=3", 38, 5, 3},
                                         CountCase{"IfConfigAsk64Of64", "interfaces=64", 38, 64, 64},
                                         CountCase{"IfConfigNone", "interfaces=0", 38, 5, 0},
                                         CountCase{"NetstatAsk10Of4", "netstat=4", 20, 10, 4},
                                         CountCase{"NetstatAsk256Of300", "netstat=300", 20, 256, 256},
                                         CountCase{"NetstatAsk0", "", 20, 0, 0}),
                         [](const auto& info) { return info.param.name; });

struct Clock {
  uint16_t year, month, weekday, day, hour, minute, second, millisecond;
};

std::optional<Clock> ReadClock(const Bytes& reply) {
  if (reply.size() != 36) return std::nullopt;
  auto f = [&](size_t i) { return Le16At(reply, 20 + 2 * i); };
  return Clock{f(0), f(1), f(2), f(3), f(4), f(5), f(6), f(7)};
}

TEST_F(DevsimTest, ClockStartsAtTheStatedTimeAndRuns) {
  ASSERT_NO_FATAL_FAILURE(StartDevice("time=2024-03-05T10:20:30"));
  auto reply = Ask(Query(26));
  ASSERT_TRUE(reply);
  auto clock = ReadClock(*reply);
  ASSERT_TRUE(clock);
  // Tuesday 5 March 2024, counted from 1900 and from January = 0.
  EXPECT_EQ(clock->year, 124);
  EXPECT_EQ(clock->month, 2);
  EXPECT_EQ(clock->weekday, 2);
  EXPECT_EQ(clock->day, 5);
  EXPECT_EQ(clock->hour, 10);
  EXPECT_EQ(clock->minute, 20);
  EXPECT_GE(clock->second, 30);
  EXPECT_LE(clock->second, 32);
  EXPECT_LT(clock->millisecond, 1000);
}

TEST_F(DevsimTest, ClockIsTheHostsShiftedByTheZoneOffset) {
  ASSERT_NO_FATAL_FAILURE(StartDevice("tz_offset=-3600"));
  auto reply = Ask(Query(26));
  ASSERT_TRUE(reply);
  auto clock = ReadClock(*reply);
  ASSERT_TRUE(clock);
  tm at{};
  at.tm_year = clock->year;
  at.tm_mon = clock->month;
  at.tm_mday = clock->day;
  at.tm_hour = clock->hour;
  at.tm_min = clock->minute;
  at.tm_sec = clock->second;
  EXPECT_LE(std::llabs(static_cast<long long>(timegm(&at)) - (static_cast<long long>(time(nullptr)) - 3600)), 2);
}

TEST_F(DevsimTest, SerialQueriesAnswerPortByPort) {
  ASSERT_NO_FATAL_FAILURE(StartDevice("ports=3"));
  // Every port: the port asked, the port count, then rate, format, option, rate index and port number.
  auto all = Ask(Query(0x31, {0, 1}));
  ASSERT_TRUE(all);
  const Bytes entry = {0x80, 0x25, 0, 0, 0x03, 0, 12};
  EXPECT_EQ(*all, QueryReply(0x31, Cat({{0, 3, 0, 0}, entry, {1}, entry, {2}, entry, {3}})));
  auto one = Ask(Query(0x37, {2}));
  ASSERT_TRUE(one);
  EXPECT_EQ(*one, QueryReply(0x37, Cat({{2, 3, 0, 0}, Text("Port2", 16)})));
  auto alert = Ask(Query(0x53, Le32(3)));
  ASSERT_TRUE(alert);
  EXPECT_EQ(*alert, QueryReply(0x53, {3, 3, 0, 0, 0, 0, 0, 0}));
  // A port the device does not have, and the TCP client mode of port 0, get no answer.
  EXPECT_FALSE(Ask(Query(0x31, {4, 1}), 200));
  EXPECT_FALSE(Ask(Query(0x48, {0}), 200));
}

TEST_F(DevsimTest, DioMasksKeepToTheModelsChannels) {
  const struct {
    const char* model;
    uint8_t mask;
  } cases[] = {{"0x4102", 0x0f}, {"0x4512", 0xff}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    Start({"--device", "name=d,ip=127.0.0.2,app=0x1a2b3c4d,model=" + std::string(c.model) +
                           ",mac=02:11:22:33:44:55,dio_state=0xff"});
    Bytes identity = kOwnEntry;
    identity[4] = static_cast<uint8_t>(std::stoul(c.model, nullptr, 16));
    identity[5] = static_cast<uint8_t>(std::stoul(c.model, nullptr, 16) >> 8);
    ASSERT_TRUE(client_.SendTo("127.0.0.2", kDevicePort, Query(0x63, {1, 0, 8}, identity)));
    auto reply = client_.Receive(1000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes.size(), 24u);
    EXPECT_EQ(reply->bytes.back(), c.mask);
    devsim_.reset();
  }
}

}  // namespace
