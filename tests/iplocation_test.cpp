// The IP location report decoder on its own, and the listener exports against
// reports from the emulator and from the test itself, on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "iplocation.h"
#include "lab/lab.h"
#include "result.h"
#include "tarnix.h"

namespace {

using Bytes = std::vector<uint8_t>;
using tarnix::iplocation::decode_report;

const Bytes kMagic = {'K', 'R', 'V', 'N'};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Record(const IPLOCATIONPOLLINFO& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return Bytes(p, p + sizeof r);
}

IPLOCATIONPOLLINFO Filled(uint8_t b) {
  IPLOCATIONPOLLINFO r;
  std::memset(&r, b, sizeof r);
  return r;
}

// The record bytes expected after decoding: 0xee everywhere but the given runs.
Bytes Expect(std::initializer_list<std::pair<size_t, Bytes>> runs) {
  Bytes r(sizeof(IPLOCATIONPOLLINFO), 0xee);
  for (const auto& [at, bytes] : runs) std::copy(bytes.begin(), bytes.end(), r.begin() + static_cast<ptrdiff_t>(at));
  return r;
}

TEST(IpLocationDecoder, ItemsLandInTheirFieldsAndNothingElseChanges) {
  const Bytes text12(12, 'T');
  const struct {
    const char* what;
    Bytes report;
    Bytes record;
  } cases[] = {
      {"type 2", Cat({kMagic, {2, 2, 0x50, 0x00}}), Expect({{44, {0x50, 0x00}}})},
      {"types 7 and 8 are skipped", Cat({kMagic, {7, 3, 1, 2, 3, 8, 0, 4, 4, 9, 8, 7, 6}}), Expect({{52, {9, 8, 7, 6}}})},
      {"a 12-byte text", Cat({kMagic, {1, 12}, text12}), Expect({{0, text12}})},
      {"a text cut to 40", Cat({kMagic, {1, 50}, Bytes(50, 'L')}), Expect({{0, Bytes(40, 'L')}})},
      {"only the magic", kMagic, Expect({})},
      {"a last item longer than the rest", Cat({kMagic, {6, 2, 1, 2, 5, 4, 1, 2, 3}}), Expect({{60, {1, 2}}})},
      {"a lone type byte at the end", Cat({kMagic, {9, 4, 1, 2, 3, 4, 5}}), Expect({{40, {1, 2, 3, 4}}})},
      {"item 3: four bytes then two", Cat({kMagic, {3, 6, 1, 2, 3, 4, 5, 6}}), Expect({{46, {1, 2, 3, 4, 5, 6}}})},
      {"a short value overwrites its own bytes", Cat({kMagic, {5, 1, 0x42}}), Expect({{56, {0x42}}})},
      {"a long value gives the field's width", Cat({kMagic, {2, 4, 1, 2, 3, 4, 6, 2, 7, 7}}),
       Expect({{44, {1, 2}}, {60, {7, 7}}})},
      {"a zero-length item", Cat({kMagic, {1, 0, 2, 2, 9, 9}}), Expect({{44, {9, 9}}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    IPLOCATIONPOLLINFO r = Filled(0xee);
    EXPECT_EQ(decode_report(c.report.data(), c.report.size(), &r), tarnix::kOk);
    EXPECT_EQ(Record(r), c.record);
  }
}

TEST(IpLocationDecoder, NoReportLeavesTheRecord) {
  const Bytes cases[] = {{}, {'K', 'R', 'V'}, {'K', 'R', 'V', 'M', 2, 2, 1, 1}, {'k', 'r', 'v', 'n'}};
  for (const Bytes& c : cases) {
    IPLOCATIONPOLLINFO r = Filled(0x11);
    EXPECT_EQ(decode_report(c.data(), c.size(), &r), tarnix::kMalformed) << c.size();
    EXPECT_EQ(Record(r), Bytes(sizeof r, 0x11));
  }
}

// A UDP sender of the test's own, from 127.0.0.1.
class Sender {
 public:
  Sender() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~Sender() { close(fd_); }
  bool Send(uint16_t port, const Bytes& b) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    a.sin_port = htons(port);
    return sendto(fd_, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(b.size());
  }

 private:
  int fd_;
};

constexpr uint16_t kPort = 4802;

class Listener : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(dsc_IPLocationStart(&socket_, inet_addr("127.0.0.1"), kPort), DSC_OK); }
  void TearDown() override {
    if (socket_ != -1) {
      EXPECT_EQ(dsc_IPLocationEnd(socket_), DSC_OK);
    }
  }
  // Polls until something other than "nothing waiting" comes back, for at most two seconds.
  int32_t PollFor(IPLOCATIONPOLLINFO* r) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int32_t result = DSC_EFAIL;
    while ((result = dsc_IPLocationPoll(socket_, r)) == DSC_EFAIL && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return result;
  }

  int32_t socket_ = -1;
};

TEST_F(Listener, DecodesTheEmulatorsReport) {
  std::string error;
  auto devsim = lab::Devsim::Start(
      {"--device", "name=r,ip=127.0.0.2,app=0x80004100,model=0x4512,devname=Hall,report_to=127.0.0.1:4802"}, "",
      &error);
  ASSERT_NE(devsim, nullptr) << error;
  IPLOCATIONPOLLINFO r = Filled(0xee);
  ASSERT_EQ(PollFor(&r), DSC_OK);
  EXPECT_EQ(std::string(r.text, 4), "Hall");
  EXPECT_EQ(static_cast<uint8_t>(r.text[4]), 0xee) << "no terminator added";
  EXPECT_EQ(Bytes(r.item9, r.item9 + 4), (Bytes{127, 0, 0, 2}));
  EXPECT_EQ(Bytes(r.item2, r.item2 + 2), (Bytes{0xc0, 0x12}));  // 4800
  EXPECT_EQ(Bytes(r.item3, r.item3 + 6), (Bytes{127, 0, 0, 2, 0x24, 0x13}));  // and 4900
  EXPECT_EQ(Bytes(r.item4, r.item4 + 4), (Bytes{0x00, 0x41, 0x00, 0x80}));
  EXPECT_EQ(Bytes(r.item6, r.item6 + 2), (Bytes{0x12, 0x45}));
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_EFAIL) << "one report, one poll";
}

TEST_F(Listener, TakesAStatedReportAndRepeats) {
  std::string error;
  auto devsim = lab::Devsim::Start(
      {"--device", "name=r,ip=127.0.0.2,report_to=127.0.0.1:4802,report_every=20,report=4b52564e"}, "", &error);
  ASSERT_NE(devsim, nullptr) << error;
  for (int i = 0; i < 2; ++i) {
    IPLOCATIONPOLLINFO r = Filled(0x33);
    ASSERT_EQ(PollFor(&r), DSC_OK) << i;
    EXPECT_EQ(Record(r), Bytes(sizeof r, 0x33)) << "a 4-byte report changes nothing";
  }
}

TEST_F(Listener, NothingWaitingGivesFailAtOnce) {
  IPLOCATIONPOLLINFO r = Filled(0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_EFAIL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100)) << "a poll never waits";
}

TEST_F(Listener, OversizeAndForeignDatagramsAreConsumed) {
  const Sender sender;
  const Bytes good = Cat({kMagic, {2, 2, 0x50, 0x00}});
  ASSERT_TRUE(sender.Send(kPort, Cat({kMagic, Bytes(125, 0)})));        // 129 bytes
  ASSERT_TRUE(sender.Send(kPort, Cat({{'X', 'R', 'V', 'N'}, {2, 2, 1, 1}})));  // no magic
  ASSERT_TRUE(sender.Send(kPort, {}));                                  // empty
  ASSERT_TRUE(sender.Send(kPort, Cat({kMagic, Bytes(120, 0), {2, 2, 0x51, 0}})));  // exactly 128 bytes
  ASSERT_TRUE(sender.Send(kPort, good));
  // Loopback queues a datagram before sendto() returns: each poll takes the next one.
  IPLOCATIONPOLLINFO r = Filled(0xee);
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_ESOCKET) << "over 128 bytes";
  EXPECT_EQ(Record(r), Expect({})) << "and not decoded";
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_EFAIL) << "no magic";
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_EFAIL) << "empty";
  EXPECT_EQ(Record(r), Expect({}));
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_OK);
  EXPECT_EQ(Record(r), Expect({{44, {0x51, 0x00}}}));
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_OK);
  EXPECT_EQ(Record(r), Expect({{44, {0x50, 0x00}}}));
  EXPECT_EQ(dsc_IPLocationPoll(socket_, &r), DSC_EFAIL) << "all taken";
}

TEST_F(Listener, ArgumentsAndSocketFailures) {
  int32_t other = 12345;
  EXPECT_EQ(dsc_IPLocationStart(&other, inet_addr("127.0.0.1"), kPort), DSC_ESOCKET) << "the port is bound";
  EXPECT_EQ(dsc_IPLocationStart(&other, 0, kPort), DSC_ESOCKET) << "also on every address";
  EXPECT_EQ(other, 12345) << "not written";
  EXPECT_EQ(dsc_IPLocationStart(nullptr, 0, kPort + 1), DSC_EINVAL);
  EXPECT_EQ(dsc_IPLocationStart(&other, 0, 70000), DSC_EINVAL);
  EXPECT_EQ(dsc_IPLocationStart(&other, 0, -1), DSC_EINVAL);
  EXPECT_EQ(dsc_IPLocationStart(&other, inet_addr("192.0.2.1"), kPort + 1), DSC_ESOCKET) << "not a local address";
  EXPECT_EQ(other, 12345);
  IPLOCATIONPOLLINFO r;
  EXPECT_EQ(dsc_IPLocationPoll(socket_, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_IPLocationPoll(-1, &r), DSC_EINVAL);

  // A second listener on another port, ended: polling it is a socket error.
  int32_t second = -1;
  ASSERT_EQ(dsc_IPLocationStart(&second, 0, kPort + 1), DSC_OK);
  EXPECT_NE(second, socket_);
  EXPECT_EQ(dsc_IPLocationEnd(second), DSC_OK);
  EXPECT_EQ(dsc_IPLocationPoll(second, &r), DSC_ESOCKET);
  EXPECT_EQ(dsc_IPLocationEnd(-1), DSC_OK);
}

}  // namespace
