// The temporary neighbour entry and host route, written into the lab's
// workstation namespace only: every test enters it before the library touches
// a table, so the machine's own tables are never edited.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "lab/lab.h"
#include "platform/platform.h"
#include "reach.h"
#include "tarnix.h"

namespace {

using lab::Lab;
using tarnix::reach::TemporaryEntries;

const uint32_t kDevice = Lab::Addr("192.168.77.2");
const uint32_t kLocal = Lab::Addr("10.77.0.1");
constexpr uint8_t kMac[6] = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x04};
const std::string kOurNeighbour = "192.168.77.2 dev eth0 lladdr 02:00:5e:10:00:04 PERMANENT";
const std::string kOurRoute = "192.168.77.2 dev eth0 proto static scope link src 10.77.0.1 metric 20";

DSINFO record(uint32_t device_ip, uint32_t local_ip, uint8_t flags = 0, const uint8_t* mac = kMac) {
  DSINFO d{};
  d.flags = flags;
  d.reported_ip = device_ip;
  d.device_ip = device_ip;
  d.local_ip = local_ip;
  std::memcpy(d.mac, mac, sizeof d.mac);
  return d;
}

std::set<std::string> lines(const std::string& text) {
  std::set<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) out.insert(line);
  }
  return out;
}

std::set<std::string> minus(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::set<std::string> out;
  for (const std::string& s : a)
    if (!b.contains(s)) out.insert(s);
  return out;
}

struct Tables {
  std::set<std::string> neighbours;
  std::set<std::string> routes;
  bool operator==(const Tables&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Tables& t) {
  os << "neighbours:";
  for (const std::string& s : t.neighbours) os << "\n  " << s;
  os << "\nroutes:";
  for (const std::string& s : t.routes) os << "\n  " << s;
  return os;
}

class Reach : public ::testing::Test {
 protected:
  void SetUp() override { LAB_OR_SKIP(lab_); }

  Tables tables() const {
    return {lines(lab_->Run("ws", "ip -4 neigh show nud permanent")),
            lines(lab_->Run("ws", "ip -4 route show table all"))};
  }
  // Runs an `ip` command in the workstation and tells whether it succeeded.
  bool ws_ip(const std::string& args) const { return lab_->Run("ws", "ip " + args + " && echo ok") == "ok\n"; }

  std::unique_ptr<Lab> lab_;
};

TEST_F(Reach, BracketHoldsBothEntriesForItsLifetime) {
  Lab::InWorkstation inside(*lab_);
  const Tables before = tables();
  {
    TemporaryEntries bracket(record(kDevice, kLocal));
    const Tables during = tables();
    EXPECT_EQ(minus(during.neighbours, before.neighbours), std::set<std::string>{kOurNeighbour}) << during;
    EXPECT_EQ(minus(during.routes, before.routes), std::set<std::string>{kOurRoute}) << during;
    EXPECT_TRUE(minus(before.routes, during.routes).empty()) << during;
  }
  EXPECT_EQ(tables(), before);
}

TEST_F(Reach, RecordsThatNeedNoOrAllowNoEntriesLeaveTheTablesAlone) {
  const struct {
    const char* what;
    DSINFO device;
  } cases[] = {
      {"direct flag set", record(kDevice, kLocal, DSC_FLAG_DIRECT)},
      {"local address of no interface", record(kDevice, Lab::Addr("10.99.0.1"))},
      {"device address 0", record(0, kLocal)},
      {"device address 255.255.255.255", record(0xffffffffu, kLocal)},
      {"local address 0", record(kDevice, 0)},
      {"local address 255.255.255.255", record(kDevice, 0xffffffffu)},
  };
  Lab::InWorkstation inside(*lab_);
  const Tables before = tables();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      TemporaryEntries bracket(c.device);
      EXPECT_EQ(tables(), before);
    }
    EXPECT_EQ(tables(), before);
  }
}

// Routes to the device address that differ from ours in one respect (all but
// the first are, like ours, of protocol "static"). Those with our metric cannot
// exist before the bracket (writing ours replaces them), so they are put in
// front of ours while it lives, where a loose removal would take them first.
TEST_F(Reach, RemovalTakesOnlyTheRouteItWrote) {
  const struct {
    const char* what;
    const char* route;
    bool before_bracket;
  } cases[] = {
      {"gateway and another metric", "192.168.77.2/32 via 10.77.0.254 dev eth0 metric 5", true},
      {"another metric", "192.168.77.2/32 dev eth0 proto static scope link src 10.77.0.1 metric 5", true},
      {"another mask", "192.168.77.2/31 dev eth0 proto static scope link src 10.77.0.1 metric 20", true},
      {"another interface", "192.168.77.2/32 dev lo proto static scope link src 10.77.0.1 metric 20", false},
      {"a gateway", "192.168.77.2/32 via 10.77.0.254 dev eth0 proto static src 10.77.0.1 metric 20", false},
      {"no preferred source", "192.168.77.2/32 dev eth0 proto static scope link metric 20", false},
  };
  Lab::InWorkstation inside(*lab_);
  const Tables baseline = tables();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.before_bracket) {
      ASSERT_TRUE(ws_ip(std::string("route add ") + c.route));
    }
    std::set<std::string> foreign;
    {
      TemporaryEntries bracket(record(kDevice, kLocal));
      if (!c.before_bracket) {
        ASSERT_TRUE(ws_ip(std::string("route prepend ") + c.route));
      }
      const Tables during = tables();
      foreign = minus(minus(during.routes, baseline.routes), {kOurRoute});
      ASSERT_EQ(foreign.size(), 1u) << during;
      EXPECT_TRUE(during.routes.contains(kOurRoute)) << during;
    }
    const Tables after = tables();
    EXPECT_EQ(minus(after.routes, baseline.routes), foreign) << after;
    EXPECT_EQ(after.neighbours, baseline.neighbours) << after;
    ASSERT_TRUE(ws_ip(std::string("route del ") + c.route));
    ASSERT_EQ(tables(), baseline);
  }
}

// Sends one search request to the device from the workstation's address and
// returns the length of the reply, or nothing when none came in time.
std::optional<size_t> search_reply_length(uint32_t timeout_ms) {
  using tarnix::platform::UdpSocket;
  UdpSocket socket = UdpSocket::open();
  if (!socket.valid() || !socket.bind(kLocal, 0)) return std::nullopt;
  const uint8_t request[8] = {0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00};
  if (!socket.send_to(kDevice, 4800, request, sizeof request)) return std::nullopt;
  const UdpSocket* set[] = {&socket};
  if (tarnix::platform::first_readable(set, timeout_ms) != 0) return std::nullopt;
  uint8_t reply[512];
  size_t len = 0;
  uint32_t from = 0;
  uint16_t port = 0;
  if (socket.recv_from(reply, sizeof reply, &len, &from, &port) != tarnix::platform::RecvStatus::kOk) {
    return std::nullopt;
  }
  if (from != kDevice || port != 4800) return std::nullopt;
  return len;
}

TEST_F(Reach, EntriesMakeTheOutOfSubnetDeviceReachable) {
  std::string mac_text = lab_->Run("outside", "cat /sys/class/net/eth0/address");
  while (!mac_text.empty() && (mac_text.back() == '\n' || mac_text.back() == ' ')) mac_text.pop_back();
  uint8_t mac[6];
  ASSERT_EQ(std::sscanf(mac_text.c_str(), "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx", &mac[0], &mac[1], &mac[2], &mac[3],
                        &mac[4], &mac[5]),
            6)
      << mac_text;
  std::string error;
  ASSERT_NE(lab_->StartDevsim("outside", {"--device", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512,mac=" +
                                                          mac_text + ",bcast=1"},
                              &error),
            nullptr)
      << error;

  Lab::InWorkstation inside(*lab_);
  EXPECT_EQ(search_reply_length(300), std::nullopt) << "reachable without the entries";
  {
    TemporaryEntries bracket(record(kDevice, kLocal, 0, mac));
    EXPECT_EQ(search_reply_length(2000), std::optional<size_t>(24));
  }
  EXPECT_EQ(search_reply_length(300), std::nullopt) << "still reachable after the bracket";
}

TEST_F(Reach, ParallelBracketsForOneDeviceLeaveNothingBehind) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  Lab::InWorkstation inside(*lab_);
  const Tables before = tables();
  {
    // Threads started here inherit the workstation namespace.
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([] {
        const DSINFO device = record(kDevice, kLocal);
        for (int i = 0; i < kRounds; ++i) TemporaryEntries bracket(device);
      });
    }
  }
  EXPECT_EQ(tables(), before);
}

// Overlapping exchanges with one device share its entries: the first bracket
// to close must not take them from the one still waiting for its reply.
TEST_F(Reach, OverlappingBracketsKeepTheEntriesUntilTheLastCloses) {
  Lab::InWorkstation inside(*lab_);
  const Tables before = tables();
  auto first = std::make_unique<TemporaryEntries>(record(kDevice, kLocal));
  {
    TemporaryEntries second(record(kDevice, kLocal));
  }
  const Tables during = tables();
  EXPECT_EQ(minus(during.neighbours, before.neighbours), std::set<std::string>{kOurNeighbour}) << during;
  EXPECT_EQ(minus(during.routes, before.routes), std::set<std::string>{kOurRoute}) << during;
  {
    TemporaryEntries other(record(Lab::Addr("192.168.77.3"), kLocal));
  }
  EXPECT_EQ(tables(), during) << "another device's bracket leaves these entries alone";
  first.reset();
  EXPECT_EQ(tables(), before);
}

}  // namespace
