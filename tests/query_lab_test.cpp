// Queries in the network lab: a device outside the workstation's subnet is
// reached through the temporary neighbour entry and host route, which exist
// only while a query runs.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <atomic>
#include <thread>

#include "lab/lab.h"
#include "platform/platform.h"
#include "tarnix.h"

namespace {

using lab::Lab;

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

DSINFO g_found;
int g_found_count = 0;
int32_t DSC_CALL keep_outside(DSINFO* d) {
  if (d != nullptr && d->device_ip == inet_addr("192.168.77.2")) {
    g_found = *d;
    ++g_found_count;
  }
  return 1;
}

class QueryLab : public ::testing::Test {
 protected:
  void SetUp() override { LAB_OR_SKIP(lab_); }
  void TearDown() override {
    for (int32_t s : sessions_) dsc_Detach(s);
  }

  // The outside device, with the MAC its interface really has, so that the
  // neighbour entry the library writes lets frames reach it.
  void start_outside(const std::string& faults = "") {
    mac_ = trim(lab_->Run("outside", "cat /sys/class/net/eth0/address"));
    std::string error;
    ASSERT_NE(lab_->StartDevsim("outside",
                                {"--device", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512,mac=" + mac_ +
                                                 ",bcast=1" + faults},
                                &error),
              nullptr)
        << error;
  }
  // The search waits longer than any reply delay the test gave the device.
  DSINFO find_outside(int32_t timeout = 200) {
    g_found = DSINFO{};
    g_found_count = 0;
    dsc_SetSearchOpt(timeout, 1);
    {
      Lab::InWorkstation inside(*lab_);
      EXPECT_EQ(dsc_EnumSearch(0, keep_outside), DSC_OK);
    }
    dsc_SetSearchOpt(1000, 5);
    EXPECT_EQ(g_found_count, 1);
    EXPECT_EQ(g_found.flags & DSC_FLAG_DIRECT, 0);
    return g_found;
  }
  int32_t attach(const DSINFO& d, int32_t timeout = 300) {
    int32_t s = -1;
    EXPECT_EQ(dsc_Attach(&d, &s), DSC_OK);
    sessions_.push_back(s);
    dsc_LibSetTimeout(s, timeout, 1);
    return s;
  }
  int32_t get_name(int32_t session) {
    Lab::InWorkstation inside(*lab_);
    char name[40];
    return dsc_GetName(session, name);
  }
  std::string neighbours() const { return trim(lab_->Run("ws", "ip neigh show nud permanent")); }
  std::string host_routes() const { return trim(lab_->Run("ws", "ip -4 route show | grep 'metric 20' || true")); }
  bool tables_empty() const { return neighbours().empty() && host_routes().empty(); }

  // Runs the query in a thread and returns what the tables held meanwhile
  // (waiting, bounded, until both entries show up).
  struct During {
    std::string neigh, route;
    int32_t result;
  };
  During query_while_watching(int32_t session) {
    During d{};
    std::atomic<bool> done{false};
    std::thread t([&] {
      d.result = get_name(session);
      done = true;
    });
    // Watch for as long as the query runs: on a loaded machine each look takes a while.
    while (!done) {
      const std::string neigh = neighbours();
      const std::string route = host_routes();
      if (!neigh.empty() && !route.empty()) {
        d.neigh = neigh;
        d.route = route;
        break;
      }
    }
    t.join();
    return d;
  }

  std::unique_ptr<Lab> lab_;
  std::vector<int32_t> sessions_;
  std::string mac_;
};

TEST_F(QueryLab, OutsideDeviceIsReachedOnlyThroughTheTemporaryEntries) {
  start_outside();
  const DSINFO found = find_outside();
  EXPECT_EQ(get_name(attach(found)), DSC_OK);
  EXPECT_TRUE(tables_empty()) << neighbours() << "\n" << host_routes();

  DSINFO direct = found;
  direct.flags |= DSC_FLAG_DIRECT;
  EXPECT_NE(get_name(attach(direct, 100)), DSC_OK) << "without the entries there is no way there";
}

TEST_F(QueryLab, EntriesExistWhileTheReplyIsAwaitedAndGoAfterwards) {
  start_outside(",delay=400");
  const int32_t s = attach(find_outside(700), 1000);
  const During d = query_while_watching(s);
  EXPECT_EQ(d.result, DSC_OK);
  EXPECT_NE(d.neigh.find("192.168.77.2 dev eth0 lladdr " + mac_ + " PERMANENT"), std::string::npos) << d.neigh;
  EXPECT_NE(d.route.find("192.168.77.2 dev eth0"), std::string::npos) << d.route;
  EXPECT_NE(d.route.find("src 10.77.0.1"), std::string::npos) << d.route;
  EXPECT_TRUE(tables_empty()) << neighbours() << "\n" << host_routes();
}

TEST_F(QueryLab, EntriesGoAfterATimeoutToo) {
  start_outside(",silent=1");
  DSINFO found{};
  unsigned m[6] = {};
  ASSERT_EQ(std::sscanf(mac_.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]), 6);
  for (int i = 0; i < 6; ++i) found.mac[i] = static_cast<uint8_t>(m[i]);
  found.device_ip = inet_addr("192.168.77.2");
  found.local_ip = inet_addr("10.77.0.1");
  const int32_t s = attach(found, 500);
  const During d = query_while_watching(s);
  EXPECT_EQ(d.result, DSC_ETIMEOUT);
  EXPECT_FALSE(d.neigh.empty());
  EXPECT_FALSE(d.route.empty());
  EXPECT_TRUE(tables_empty()) << neighbours() << "\n" << host_routes();
}

TEST_F(QueryLab, DirectDevicesAndUnknownLocalAddressesAddNothing) {
  std::string error;
  ASSERT_NE(lab_->StartDevsim("dev1", {"--device", "name=near,ip=10.77.0.2,app=0x80004012,model=0x4512,"
                                                   "mac=02:00:5e:00:00:02,delay=200"},
                              &error),
            nullptr)
      << error;
  DSINFO near{};
  near.app_id = 0x80004012u;
  near.model = 0x4512;
  const uint8_t mac[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x02};
  std::memcpy(near.mac, mac, 6);
  near.device_ip = inet_addr("10.77.0.2");

  DSINFO direct = near;
  direct.flags = DSC_FLAG_DIRECT;
  direct.local_ip = inet_addr("10.77.0.1");
  DSINFO stranger = near;  // bracketed, but on an address no interface has
  stranger.local_ip = inet_addr("10.99.0.1");
  for (const DSINFO& d : {direct, stranger}) {
    const During during = query_while_watching(attach(d, 1000));
    EXPECT_EQ(during.result, DSC_OK) << "the exchange is still attempted";
    EXPECT_TRUE(during.neigh.empty()) << during.neigh;
    EXPECT_TRUE(during.route.empty()) << during.route;
  }
}

TEST_F(QueryLab, LoginAndCommandsReachTheOutsideDeviceThroughTheBracket) {
  start_outside(",pw=pw");
  const int32_t s = attach(find_outside());
  {
    Lab::InWorkstation inside(*lab_);
    ASSERT_EQ(dsc_Login(s, "pw"), DSC_OK);
    EXPECT_TRUE(tables_empty()) << "no entries between the channel's steps";
    EXPECT_EQ(dsc_SetName(s, "far"), DSC_OK);
    EXPECT_EQ(dsc_Logout(s), DSC_OK);
  }
  EXPECT_TRUE(tables_empty()) << neighbours() << "\n" << host_routes();
}

TEST_F(QueryLab, ForeignHostRouteToTheDeviceSurvives) {
  start_outside();
  const DSINFO found = find_outside();
  lab_->Run("ws", "ip route add 192.168.77.2/32 via 10.77.0.254 metric 50");
  EXPECT_EQ(get_name(attach(found)), DSC_OK);
  EXPECT_EQ(trim(lab_->Run("ws", "ip route show 192.168.77.2/32")), "192.168.77.2 via 10.77.0.254 dev eth0 metric 50");
  EXPECT_TRUE(tables_empty());
}

}  // namespace
