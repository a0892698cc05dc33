// Serial port, port operation and DIO queries and commands against the emulator
// on loopback: request bytes, reply conversions, frames, check orders.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "devsim_session.h"
#include "tarnix.h"

namespace {

using namespace devsim_session;

// A port-wise reply payload from byte 20: the port asked, the count, two bytes, then the entries.
Bytes Portwise(uint8_t port, uint8_t count, const Bytes& entries) { return Cat({{port, count, 0, 0}, entries}); }

Bytes Repeat(size_t n, const Bytes& entry) {
  Bytes all;
  for (size_t i = 0; i < n; ++i) all.insert(all.end(), entry.begin(), entry.end());
  return all;
}

class Serial : public Session {};

TEST_F(Serial, QueriesCarryTheirArguments) {
  Start(",ports=4", false);
  SERIALIOCTLINFO ioctl[16];
  uint8_t bytes[16];
  SERIALDATACOUNTINFO counts[16];
  char names[16][16];
  int32_t values[16];
  uint16_t times[16];
  DATAPACKINGINFO packing[16];
  _TCPSVRINFO server[16];
  TCPCLIENTMODEINFO client;
  UDPMODEINFO udp[16];
  PORTALERTINFO alert[16];
  const struct {
    const char* what;
    std::function<int32_t(int32_t)> call;
    uint8_t code;
    Bytes args;  // request bytes from 20
  } cases[] = {
      {"GetSerialIOCtl", [&](int32_t s) { return dsc_GetSerialIOCtl(s, 3, 0x101, ioctl); }, 0x31, {3, 1}},
      {"GetSerialFIFO", [&](int32_t s) { return dsc_GetSerialFIFO(s, 0, 1, bytes); }, 0x32, {0, 1}},
      {"GetSerialInterface", [&](int32_t s) { return dsc_GetSerialInterface(s, 2, 7, bytes); }, 0x34, {2, 7}},
      {"GetSerialLineStatus", [&](int32_t s) { return dsc_GetSerialLineStatus(s, 1, bytes); }, 0x35, {1}},
      {"GetSerialDataCount", [&](int32_t s) { return dsc_GetSerialDataCount(s, 2, counts); }, 0x36, {2}},
      {"GetSerialPortName", [&](int32_t s) { return dsc_GetSerialPortName(s, 4, names[0]); }, 0x37, {4}},
      {"GetOpMode", [&](int32_t s) { return dsc_GetOpMode(s, 2, values); }, 0x41, {2}},
      {"GetDataPacking", [&](int32_t s) { return dsc_GetDataPacking(s, 1, packing); }, 0x42, {1, 0}},
      {"GetInactivityTime", [&](int32_t s) { return dsc_GetInactivityTime(s, 1, times); }, 0x44, {1}},
      {"GetTCPAliveTime", [&](int32_t s) { return dsc_GetTCPAliveTime(s, 0, times); }, 0x45, {0}},
      {"GetDriverMode", [&](int32_t s) { return dsc_GetDriverMode(s, 3, bytes); }, 0x46, {3}},
      {"GetTCPServerMode", [&](int32_t s) { return dsc_GetTCPServerMode(s, 1, server); }, 0x47, {1}},
      {"GetTCPClientMode", [&](int32_t s) { return dsc_GetTCPClientMode(s, 2, &client); }, 0x48, {2}},
      {"GetUDPMode", [&](int32_t s) { return dsc_GetUDPMode(s, 1, udp); }, 0x49, {1}},
      {"GetPortAlert", [&](int32_t s) { return dsc_GetPortAlert(s, 2, alert); }, 0x53, {2, 0, 0, 0}},
      {"GetDIOMode 0..4", [&](int32_t s) { return dsc_GetDIOMode(s, 0, 4, values); }, 0x62, {1, 0, 4}},
      {"GetDIOState 1..1", [&](int32_t s) { return dsc_GetDIOState(s, 1, 1, values); }, 0x63, {0, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = Queries().size();
    EXPECT_EQ(c.call(session_), DSC_OK);
    const auto rx = Queries();
    ASSERT_EQ(rx.size(), before + 1);
    const Bytes want = Cat({{c.code, 0, 0, static_cast<uint8_t>(20 + c.args.size()), 0, 0, 0, 0}, kIdentity, c.args});
    EXPECT_EQ(rx.back(), want);
  }
}

TEST_F(Serial, BadArgumentsAreRefusedBeforeAnyDatagram) {
  Start("", false);
  SERIALIOCTLINFO ioctl[16];
  uint8_t bytes[16];
  int32_t values[16];
  TCPCLIENTMODEINFO client;
  const struct {
    const char* what;
    std::function<int32_t()> call;
  } cases[] = {
      {"port 17", [&] { return dsc_GetSerialIOCtl(session_, 17, 1, ioctl); }},
      {"port -1", [&] { return dsc_GetSerialFIFO(session_, -1, 1, bytes); }},
      {"null output", [&] { return dsc_GetSerialLineStatus(session_, 1, nullptr); }},
      {"null names", [&] { return dsc_GetSerialPortName(session_, 1, nullptr); }},
      {"TCP client port 0", [&] { return dsc_GetTCPClientMode(session_, 0, &client); }},
      {"TCP client port 17", [&] { return dsc_GetTCPClientMode(session_, 17, &client); }},
      {"DIO null", [&] { return dsc_GetDIOMode(session_, 0, 1, nullptr); }},
      {"DIO 4 + 5 > 8", [&] { return dsc_GetDIOMode(session_, 4, 5, values); }},
      {"DIO negative sum", [&] { return dsc_GetDIOState(session_, -3, 1, values); }},
      {"DIO negative first", [&] { return dsc_GetDIOState(session_, -1, 3, values); }},
      {"DIO negative end", [&] { return dsc_GetDIOState(session_, 5, -1, values); }},
      {"MaxDIO null", [&] { return dsc_GetMaxDIO(session_, nullptr); }},
      {"free session", [&] { return dsc_GetOpMode(session_ + 1, 1, values); }},
      {"session 256", [&] { return dsc_GetMaxDIO(256, values); }},
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), DSC_EINVAL) << c.what;
  EXPECT_TRUE(devsim_->Log().empty());
  // The DIO bound of the queries is the channel count, 8 here: 2 + 3 passes.
  EXPECT_EQ(dsc_GetDIOMode(session_, 2, 3, values), DSC_OK);
  EXPECT_EQ(Queries().size(), 1u);
}

TEST_F(Serial, ANamedPortYieldsOneElementWhateverTheCount) {
  // Four line-setting entries with bytes of the device's own after the option byte.
  const Bytes entry = {0x80, 0x25, 0x00, 0x00, 0x1b, 0x01, 0xaa, 0xbb};
  Start(",ports=4" + Payload(0x31, Portwise(3, 4, Repeat(4, entry))), false);
  SERIALIOCTLINFO out[2];
  std::memset(out, 0xee, sizeof out);
  ASSERT_EQ(dsc_GetSerialIOCtl(session_, 3, 1, out), DSC_OK);
  EXPECT_EQ(out[0].rate, 9600u);
  EXPECT_EQ(out[0].format, 0x1b);
  EXPECT_EQ(out[0].option, 0x01);
  EXPECT_EQ(out[0].zero6[0], 0);
  EXPECT_EQ(out[0].zero6[1], 0);
  EXPECT_EQ(out[1].rate, 0xeeeeeeeeu) << "one element only";
}

TEST_F(Serial, AllPortsAreCappedAtSixteen) {
  Bytes modes;
  for (int i = 0; i < 20; ++i) modes.push_back(static_cast<uint8_t>(0xff - i));
  Start(Payload(0x41, Portwise(0, 20, modes)), false);
  int32_t out[17];
  std::fill(std::begin(out), std::end(out), 77);
  ASSERT_EQ(dsc_GetOpMode(session_, 0, out), DSC_OK);
  EXPECT_EQ(out[0], -1) << "0xff sign-extended";
  EXPECT_EQ(out[15], -16);
  EXPECT_EQ(out[16], 77) << "capped at 16";
}

TEST_F(Serial, EntriesAreConvertedPerQuery) {
  const Bytes names = Cat({Text("ab", 16), Bytes(16, 'N'), Cat({{'x', 'y', 0}, Bytes(13, 'g')})});
  Start(Payload(0x44, Portwise(0, 2, {0x45, 0x23, 0x01, 0x00, 0x07, 0x00, 0x00, 0x00})) +
            Payload(0x37, Portwise(0, 3, names)) +
            Payload(0x36, Portwise(0, 3, Cat({Repeat(2, Bytes(16, 0x11)), Bytes(10, 0x22)}))) +
            Payload(0x48, Portwise(2, 9, [] {
                      Bytes r(172);
                      for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(i);
                      return r;
                    }())),
        false);
  uint16_t times[16];
  std::fill(std::begin(times), std::end(times), 0xeeee);
  ASSERT_EQ(dsc_GetInactivityTime(session_, 0, times), DSC_OK);
  EXPECT_EQ(times[0], 0x2345) << "the low 16 bits";
  EXPECT_EQ(times[1], 7);
  EXPECT_EQ(times[2], 0xeeee);

  char out[16][16];
  std::memset(out, 'z', sizeof out);
  ASSERT_EQ(dsc_GetSerialPortName(session_, 0, out[0]), DSC_OK);
  EXPECT_STREQ(out[0], "ab");
  EXPECT_EQ(out[0][3], 'z') << "copied up to and including the NUL";
  EXPECT_EQ(std::string(out[1]), std::string(15, 'N')) << "a full slot is cut to 15 characters";
  EXPECT_STREQ(out[2], "xy");
  EXPECT_EQ(out[2][3], 'z');
  EXPECT_EQ(out[3][0], 'z');

  // Three counters announced, two and a part sent: only whole entries arrive.
  SERIALDATACOUNTINFO counts[16];
  std::memset(counts, 0xee, sizeof counts);
  ASSERT_EQ(dsc_GetSerialDataCount(session_, 0, counts), DSC_OK);
  EXPECT_EQ(counts[1].counts[3], 0x11111111u);
  EXPECT_EQ(counts[2].counts[0], 0xeeeeeeeeu);

  TCPCLIENTMODEINFO client;
  ASSERT_EQ(dsc_GetTCPClientMode(session_, 2, &client), DSC_OK);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&client)[0], 0);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&client)[171], 171) << "the record unchanged";
}

TEST_F(Serial, DioMasksGiveEachBitItsWeight) {
  Start(Payload(0x62, {1, 0, 4, 0x05}) + Payload(0x63, {1, 3, 4, 0x08}), false);
  int32_t modes[4] = {-1, -1, -1, -1};
  ASSERT_EQ(dsc_GetDIOMode(session_, 0, 4, modes), DSC_OK);
  EXPECT_EQ(std::vector<int32_t>(modes, modes + 4), (std::vector<int32_t>{1, 0, 4, 0}));
  int32_t state = -1;
  ASSERT_EQ(dsc_GetDIOState(session_, 3, 4, &state), DSC_OK);
  EXPECT_EQ(state, 8);
  int32_t untouched = -1;
  ASSERT_EQ(dsc_GetDIOState(session_, 4, 4, &untouched), DSC_OK);
  EXPECT_EQ(untouched, -1) << "an empty range writes nothing";
}

TEST_F(Serial, MaxDioFollowsTheModelAndBoundsTheQueries) {
  const struct {
    uint16_t model;
    int32_t channels;
    int32_t two_three;  // dsc_GetDIOMode(s, 2, 3) afterwards
  } cases[] = {{0x4102, 4, DSC_EINVAL}, {0x41ff, 4, DSC_EINVAL}, {0x4512, 8, DSC_OK}, {0x4200, 8, DSC_OK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    Start("", false, c.model);
    int32_t n = 0;
    ASSERT_EQ(dsc_GetMaxDIO(session_, &n), DSC_OK);
    EXPECT_EQ(n, c.channels);
    int32_t out[3];
    EXPECT_EQ(dsc_GetDIOMode(session_, 2, 3, out), c.two_three);
    Stop();
  }
}

TEST_F(Serial, CommandsSendTheirFrames) {
  Start(",ports=4");
  const uint8_t driver = 5;
  const DATAPACKINGINFO packing = {{1, 2, 3}, 0xee, 0x04030201u};
  const _TCPSVRINFO server = {0x1234, 0x5678, 9, {0xee, 0xee, 0xee}};
  const PORTALERTINFO alert = {{1, 2, 3}, 0xee};
  UDPMODEINFO udp;
  for (size_t i = 0; i < sizeof udp.block; ++i) udp.block[i] = static_cast<uint8_t>(i);
  udp.value48 = 0xbeef;
  udp.unsent50[0] = udp.unsent50[1] = 0xee;
  TCPCLIENTMODEINFO client;
  std::memset(&client, 0, sizeof client);
  std::memset(client.texts[0], 'h', sizeof client.texts[0]);  // 40 characters, no terminator
  std::strcpy(client.texts[3], "last");
  client.texts[3][10] = 'x';  // after the terminator: not sent
  client.values[0] = 0x0102;
  client.values[3] = 0x0708;
  client.setting168 = 0x33;
  client.unsent169[0] = 0xee;
  const int32_t dio_mode[] = {5, 0};
  const int32_t dio_state[] = {1, 0};
  const int32_t one[] = {1};
  const std::string name20 = "abcdefghijklmnopqrst";
  const struct {
    const char* what;
    std::function<int32_t(int32_t)> call;
    Bytes frame;
  } cases[] = {
      {"SetSerialIOCtl", [](int32_t s) { return dsc_SetSerialIOCtl(s, 1, 12, 0x1b, 0x100); },
       {0x31, 1, 0, 4, 1, 12, 0x1b, 0x00}},
      {"SetSerialFIFO", [](int32_t s) { return dsc_SetSerialFIFO(s, 2, 0); }, {0x32, 1, 0, 2, 2, 0}},
      {"SetSerialInterface port 0", [](int32_t s) { return dsc_SetSerialInterface(s, 0, 0x102); }, {0x34, 1, 0, 2, 0, 2}},
      {"SetSerialPortName 20 characters", [&](int32_t s) { return dsc_SetSerialPortName(s, 1, name20.c_str()); },
       Cat({{0x37, 1, 0, 20, 1, 0, 0, 0}, Text(name20.substr(0, 15), 16)})},
      {"SetOPMode", [](int32_t s) { return dsc_SetOPMode(s, 1, -1); }, {0x41, 1, 0, 4, 1, 0xff, 0, 0}},
      {"SetDataPacking", [&](int32_t s) { return dsc_SetDataPacking(s, 2, &packing); },
       {0x42, 1, 0, 8, 2, 1, 2, 3, 1, 2, 3, 4}},
      {"SetInactivityTime", [](int32_t s) { return dsc_SetInactivityTime(s, 1, 0x12345); },
       {0x44, 1, 0, 8, 1, 0, 0, 0, 0x45, 0x23, 0x01, 0x00}},
      {"SetTCPAlive", [](int32_t s) { return dsc_SetTCPAlive(s, 3, 7); }, {0x45, 1, 0, 8, 3, 0, 0, 0, 7, 0, 0, 0}},
      {"SetDriverMode", [&](int32_t s) { return dsc_SetDriverMode(s, 1, &driver); }, {0x46, 1, 0, 2, 1, 5}},
      {"SetTCPSvrMode", [&](int32_t s) { return dsc_SetTCPSvrMode(s, 1, &server); },
       {0x47, 1, 0, 9, 1, 0, 0, 0, 0x34, 0x12, 0x78, 0x56, 9}},
      {"SetTCPCliMode", [&](int32_t s) { return dsc_SetTCPCliMode(s, 4, &client); },
       Cat({{0x48, 1, 0, 172, 4, 0x33, 0, 0}, Text(std::string(39, 'h'), 40), Bytes(80, 0), Text("last", 40),
            {0x02, 0x01, 0, 0, 0, 0, 0x08, 0x07}})},
      {"SetUDPMode", [&](int32_t s) { return dsc_SetUDPMode(s, 1, &udp); },
       Cat({{0x49, 1, 0, 54, 1, 0, 0, 0}, Bytes(udp.block, udp.block + 48), {0xef, 0xbe}})},
      {"SetPortAlert", [&](int32_t s) { return dsc_SetPortAlert(s, 1, &alert); }, {0x53, 1, 0, 8, 1, 0, 0, 0, 1, 2, 3, 0}},
      {"SetDIOMode 0..2", [&](int32_t s) { return dsc_SetDIOMode(s, 0, 2, dio_mode); }, {0x62, 1, 0, 4, 1, 0, 2, 0x01}},
      {"SetDIOState 1..3", [&](int32_t s) { return dsc_SetDIOState(s, 1, 3, dio_state); },
       {0x63, 1, 0, 4, 1, 1, 3, 0x02}},
      {"SetDIOState 0..1", [&](int32_t s) { return dsc_SetDIOState(s, 0, 1, one); }, {0x63, 1, 0, 4, 0, 0, 1, 0x01}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = Frames().size();
    EXPECT_EQ(c.call(session_), DSC_OK);
    const auto got = Frames();
    ASSERT_EQ(got.size(), before + 1);
    EXPECT_EQ(got.back(), c.frame);
  }
}

TEST_F(Serial, SessionThenChannelThenArguments) {
  Start("", false);
  const int32_t values[4] = {};
  // Not logged in: the channel check comes before the port and the pointers.
  EXPECT_EQ(dsc_SetSerialIOCtl(session_, 17, 0, 0, 0), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SetSerialPortName(session_, 1, nullptr), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SetUDPMode(session_, -1, nullptr), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_SetSerialIOCtl(session_ + 1, 1, 0, 0, 0), DSC_EINVAL);
  // The DIO commands have no channel check: the socket fails, nothing is sent.
  EXPECT_EQ(dsc_SetDIOMode(session_, 0, 2, values), DSC_ESOCKET);
  EXPECT_EQ(dsc_SetDIOState(session_, 1, 3, values), DSC_ESOCKET);
  EXPECT_EQ(dsc_SetDIOState(session_, 2, 3, values), DSC_EINVAL) << "their own checks come first";
  EXPECT_TRUE(devsim_->Log().empty()) << "nothing reached the device";
}

TEST_F(Serial, CommandArgumentsAreRefusedBeforeSending) {
  Start();
  const int32_t values[8] = {};
  const struct {
    const char* what;
    std::function<int32_t(int32_t)> call;
  } refused[] = {
      {"port 17", [](int32_t s) { return dsc_SetSerialFIFO(s, 17, 0); }},
      {"port -1", [](int32_t s) { return dsc_SetOPMode(s, -1, 0); }},
      {"null name", [](int32_t s) { return dsc_SetSerialPortName(s, 1, nullptr); }},
      {"null packing", [](int32_t s) { return dsc_SetDataPacking(s, 1, nullptr); }},
      {"null driver mode", [](int32_t s) { return dsc_SetDriverMode(s, 1, nullptr); }},
      {"null server", [](int32_t s) { return dsc_SetTCPSvrMode(s, 1, nullptr); }},
      {"null client", [](int32_t s) { return dsc_SetTCPCliMode(s, 1, nullptr); }},
      {"null UDP", [](int32_t s) { return dsc_SetUDPMode(s, 1, nullptr); }},
      {"null alert", [](int32_t s) { return dsc_SetPortAlert(s, 1, nullptr); }},
      {"DIO 2 + 3 > 4", [&](int32_t s) { return dsc_SetDIOMode(s, 2, 3, values); }},
      {"DIO negative first", [&](int32_t s) { return dsc_SetDIOMode(s, -1, 2, values); }},
      {"DIO null", [](int32_t s) { return dsc_SetDIOState(s, 0, 1, nullptr); }},
  };
  for (const auto& c : refused) EXPECT_EQ(c.call(session_), DSC_EINVAL) << c.what;
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(dsc_SetDIOMode(session_, 1, 3, values), DSC_OK) << "1 + 3 is within the fixed bound";
}

TEST_F(Serial, SettingsComeBackFromTheDevice) {
  Start(",ports=3");
  ASSERT_EQ(dsc_SetSerialIOCtl(session_, 2, 12, DSC_LINE_PARITY_EVEN | DSC_LINE_STOP_TWO | 3, 0), DSC_OK);
  SERIALIOCTLINFO ioctl[16];
  ASSERT_EQ(dsc_GetSerialIOCtl(session_, 0, 1, ioctl), DSC_OK);
  static const uint32_t kRates[DSC_SERIAL_RATE_COUNT] = DSC_SERIAL_RATES;
  EXPECT_EQ(ioctl[1].rate, kRates[12]);
  EXPECT_EQ(ioctl[1].rate, 9600u);
  EXPECT_EQ(ioctl[1].format, 0x1f);
  EXPECT_EQ(ioctl[1].zero6[0] | ioctl[1].zero6[1] | ioctl[2].zero6[1], 0) << "the device's own bytes are dropped";
  ASSERT_EQ(dsc_SetSerialIOCtl(session_, 1, 17, 3, 0), DSC_OK);
  ASSERT_EQ(dsc_GetSerialIOCtl(session_, 1, 1, ioctl), DSC_OK);
  EXPECT_EQ(ioctl[0].rate, 230400u);
  EXPECT_EQ(dsc_SetSerialIOCtl(session_, 1, 18, 3, 0), DSC_EINVAL) << "the device refuses index 18 with 251";

  ASSERT_EQ(dsc_SetSerialPortName(session_, 2, "Dock"), DSC_OK);
  char names[16][16];
  ASSERT_EQ(dsc_GetSerialPortName(session_, 0, names[0]), DSC_OK);
  EXPECT_STREQ(names[0], "Port1");
  EXPECT_STREQ(names[1], "Dock");
  EXPECT_STREQ(names[2], "Port3");

  ASSERT_EQ(dsc_SetOPMode(session_, 0, -3), DSC_OK);
  int32_t modes[16];
  ASSERT_EQ(dsc_GetOpMode(session_, 0, modes), DSC_OK);
  EXPECT_EQ(std::vector<int32_t>(modes, modes + 3), (std::vector<int32_t>{-3, -3, -3})) << "port 0 sets every port";

  ASSERT_EQ(dsc_SetInactivityTime(session_, 3, 0x12345), DSC_OK);
  uint16_t inactivity = 0;
  ASSERT_EQ(dsc_GetInactivityTime(session_, 3, &inactivity), DSC_OK);
  EXPECT_EQ(inactivity, 0x2345);

  TCPCLIENTMODEINFO client{};
  std::strcpy(client.texts[1], "10.0.0.9");
  client.values[1] = 4001;
  client.setting168 = 2;
  client.unsent169[0] = 0xee;
  ASSERT_EQ(dsc_SetTCPCliMode(session_, 1, &client), DSC_OK);
  TCPCLIENTMODEINFO back;
  std::memset(&back, 0xee, sizeof back);
  ASSERT_EQ(dsc_GetTCPClientMode(session_, 1, &back), DSC_OK);
  client.unsent169[0] = 0;
  EXPECT_EQ(std::memcmp(&back, &client, sizeof back), 0);

  const uint8_t driver = 4;
  ASSERT_EQ(dsc_SetDriverMode(session_, 1, &driver), DSC_OK);
  ASSERT_EQ(dsc_SetSerialFIFO(session_, 1, 0), DSC_OK);
  ASSERT_EQ(dsc_SetSerialInterface(session_, 1, 2), DSC_OK);
  uint8_t byte = 0xee;
  ASSERT_EQ(dsc_GetDriverMode(session_, 1, &byte), DSC_OK);
  EXPECT_EQ(byte, 4);
  ASSERT_EQ(dsc_GetSerialFIFO(session_, 1, 1, &byte), DSC_OK);
  EXPECT_EQ(byte, 0);
  ASSERT_EQ(dsc_GetSerialInterface(session_, 1, 1, &byte), DSC_OK);
  EXPECT_EQ(byte, 2);

  const DATAPACKINGINFO packing = {{1, 2, 3}, 0xee, 500};
  const _TCPSVRINFO server = {4100, 3, 1, {0xee, 0xee, 0xee}};
  UDPMODEINFO udp{};
  udp.block[47] = 9;
  udp.value48 = 0x4444;
  udp.unsent50[0] = 0xee;
  const PORTALERTINFO alert = {{7, 8, 9}, 0xee};
  ASSERT_EQ(dsc_SetDataPacking(session_, 1, &packing), DSC_OK);
  ASSERT_EQ(dsc_SetTCPSvrMode(session_, 1, &server), DSC_OK);
  ASSERT_EQ(dsc_SetUDPMode(session_, 1, &udp), DSC_OK);
  ASSERT_EQ(dsc_SetPortAlert(session_, 1, &alert), DSC_OK);
  ASSERT_EQ(dsc_SetTCPAlive(session_, 1, 30), DSC_OK);
  DATAPACKINGINFO packing_back{};
  _TCPSVRINFO server_back{};
  UDPMODEINFO udp_back{};
  PORTALERTINFO alert_back{};
  uint16_t alive = 0;
  ASSERT_EQ(dsc_GetDataPacking(session_, 1, &packing_back), DSC_OK);
  ASSERT_EQ(dsc_GetTCPServerMode(session_, 1, &server_back), DSC_OK);
  ASSERT_EQ(dsc_GetUDPMode(session_, 1, &udp_back), DSC_OK);
  ASSERT_EQ(dsc_GetPortAlert(session_, 1, &alert_back), DSC_OK);
  ASSERT_EQ(dsc_GetTCPAliveTime(session_, 1, &alive), DSC_OK);
  EXPECT_EQ(packing_back.settings[2], 3);
  EXPECT_EQ(packing_back.unsent3, 0);
  EXPECT_EQ(packing_back.value4, 500u);
  EXPECT_EQ(server_back.value0, 4100);
  EXPECT_EQ(server_back.setting4, 1);
  EXPECT_EQ(server_back.unsent5[0], 0);
  EXPECT_EQ(udp_back.block[47], 9);
  EXPECT_EQ(udp_back.value48, 0x4444);
  EXPECT_EQ(udp_back.unsent50[0], 0);
  EXPECT_EQ(alert_back.settings[0], 7);
  EXPECT_EQ(alert_back.unsent3, 0);
  EXPECT_EQ(alive, 30);

  const int32_t in[] = {1, 0};
  ASSERT_EQ(dsc_SetDIOState(session_, 1, 3, in), DSC_OK);
  int32_t states[4];
  ASSERT_EQ(dsc_GetDIOState(session_, 0, 4, states), DSC_OK);
  EXPECT_EQ(std::vector<int32_t>(states, states + 4), (std::vector<int32_t>{0, 2, 0, 0}));
}

TEST_F(Serial, FailedQueriesLeaveOutputsUntouched) {
  Start(",silent=1", false);
  ASSERT_EQ(dsc_LibSetTimeout(session_, 50, 1), DSC_OK);
  SERIALIOCTLINFO ioctl;
  std::memset(&ioctl, 0x5a, sizeof ioctl);
  EXPECT_EQ(dsc_GetSerialIOCtl(session_, 1, 1, &ioctl), DSC_ETIMEOUT);
  EXPECT_EQ(ioctl.rate, 0x5a5a5a5au);
  EXPECT_EQ(ioctl.zero6[1], 0x5a) << "not cleared before the reply";
  int32_t dio[2] = {7, 7};
  EXPECT_EQ(dsc_GetDIOMode(session_, 0, 2, dio), DSC_ETIMEOUT);
  EXPECT_EQ(dio[0], 7);
  TCPCLIENTMODEINFO client;
  std::memset(&client, 0x5a, sizeof client);
  EXPECT_EQ(dsc_GetTCPClientMode(session_, 1, &client), DSC_ETIMEOUT);
  EXPECT_EQ(client.setting168, 0x5a);
}

}  // namespace
