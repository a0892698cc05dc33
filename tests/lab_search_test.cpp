// Broadcast and subnet searches in the network lab: the workstation namespace
// searches a virtual LAN of emulated devices, one of them outside its subnet.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>

#include "lab/lab.h"
#include "search_recorder.h"
#include "tarnix.h"

namespace {

using lab::Lab;

using search_recorder::collect;
using search_recorder::g_seen;
using search_recorder::Seen;

std::string device_keys(const char* name, const char* ip, int tag, const std::string& extra = "") {
  char mac[32];
  std::snprintf(mac, sizeof mac, "02:00:5e:00:00:%02x", tag);
  return std::string("name=") + name + ",ip=" + ip + ",app=0x8000401" + std::to_string(tag) +
         ",model=0x4512,mac=" + mac + ",bcast=1" + extra;
}

class LabSearch : public ::testing::Test {
 protected:
  void SetUp() override { build({}); }
  void build(const Lab::Options& options) {
    LAB_OR_SKIP(lab_, options);
    g_seen = &seen_;
    dsc_SetSearchOpt(150, 2);
  }
  void TearDown() override { dsc_SetSearchOpt(1000, 5); }

  lab::Devsim* device(const char* host, const char* ip, int tag, const std::string& extra = "") {
    std::string error;
    lab::Devsim* d = lab_->StartDevsim(host, {"--device", device_keys(host, ip, tag, extra)}, &error);
    EXPECT_NE(d, nullptr) << error;
    return d;
  }
  int32_t search(uint32_t address) {
    Lab::InWorkstation inside(*lab_);
    return dsc_EnumSearch(static_cast<int32_t>(address), collect);
  }
  const DSINFO* find(uint32_t device_ip) const {
    for (const DSINFO& d : seen_.records)
      if (d.device_ip == device_ip) return &d;
    return nullptr;
  }

  std::unique_ptr<Lab> lab_;
  Seen seen_;
};

TEST_F(LabSearch, BroadcastFindsEveryDeviceWithTheDirectFlagClear) {
  ASSERT_NE(device("dev1", "10.77.0.2", 1), nullptr);
  ASSERT_NE(device("dev2", "10.77.0.3", 2), nullptr);
  ASSERT_NE(device("outside", "192.168.77.2", 3), nullptr);
  for (int32_t address : {0, -1}) {
    SCOPED_TRACE(address);
    seen_ = Seen{};
    ASSERT_EQ(search(static_cast<uint32_t>(address)), DSC_OK);
    ASSERT_EQ(seen_.records.size(), 3u);
    for (const char* ip : {"10.77.0.2", "10.77.0.3", "192.168.77.2"}) {
      const DSINFO* d = find(Lab::Addr(ip));
      ASSERT_NE(d, nullptr) << ip;
      EXPECT_EQ(d->flags, 0);
      EXPECT_EQ(d->reported_ip, Lab::Addr(ip));
      EXPECT_EQ(d->local_ip, Lab::Addr("10.77.0.1"));
    }
    EXPECT_EQ(seen_.rounds, 2) << "the finding round, then one quiet round";
  }
}

TEST_F(LabSearch, LaterRequestsListTheDevicesFoundInOrder) {
  lab::Devsim* a = device("dev1", "10.77.0.2", 1);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(device("dev2", "10.77.0.3", 2), nullptr);
  ASSERT_EQ(search(0), DSC_OK);
  ASSERT_EQ(seen_.records.size(), 2u);
  const auto rx = a->Received();
  ASSERT_EQ(rx.size(), 2u);
  EXPECT_EQ(rx[0].bytes.size(), 8u);
  std::vector<uint8_t> want = {0x01, 0x00, 0x00, 32, 0, 0, 0, 0};
  for (const DSINFO& d : seen_.records) {
    const uint8_t* app = reinterpret_cast<const uint8_t*>(&d.app_id);
    const uint8_t* model = reinterpret_cast<const uint8_t*>(&d.model);
    want.insert(want.end(), app, app + 4);
    want.insert(want.end(), model, model + 2);
    want.insert(want.end(), d.mac, d.mac + 6);
  }
  EXPECT_EQ(rx[1].bytes, want);
}

TEST_F(LabSearch, DeviceAnsweringOnlyTheThirdRequestGivesSevenRounds) {
  dsc_SetSearchOpt(100, 5);
  lab::Devsim* a = device("dev1", "10.77.0.2", 1, ",answer_nth=3");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(search(0), DSC_OK);
  EXPECT_EQ(seen_.records.size(), 1u);
  EXPECT_EQ(seen_.rounds, 7);
  EXPECT_EQ(a->Received().size(), 7u);
}

TEST_F(LabSearch, DevicesAnsweringAgainAreReportedOnce) {
  for (const char* fault : {",twice=1", ",ignore_list=1"}) {
    SCOPED_TRACE(fault);
    seen_ = Seen{};
    ASSERT_NE(device("dev1", "10.77.0.2", 1, fault), nullptr);
    ASSERT_EQ(search(0), DSC_OK);
    EXPECT_EQ(seen_.records.size(), 1u);
    lab_->StopDevsims();
  }
}

TEST_F(LabSearch, SearchProcedureStopsTheSearch) {
  ASSERT_NE(device("dev1", "10.77.0.2", 1), nullptr);
  ASSERT_NE(device("dev2", "10.77.0.3", 2), nullptr);

  seen_.answer_record = 0;
  EXPECT_EQ(search(0), DSC_OK) << "a stop is an ordinary end";
  EXPECT_EQ(seen_.records.size(), 1u);
  EXPECT_EQ(seen_.rounds, 0);

  seen_ = Seen{};
  seen_.answer_null = 0;
  EXPECT_EQ(search(0), DSC_OK);
  EXPECT_EQ(seen_.rounds, 1);
  EXPECT_EQ(seen_.records.size(), 2u);
}

TEST_F(LabSearch, SubnetBroadcastIsADirectedSearch) {
  ASSERT_NE(device("dev1", "10.77.0.2", 1), nullptr);
  ASSERT_NE(device("dev2", "10.77.0.3", 2), nullptr);
  ASSERT_EQ(search(Lab::Addr("10.77.0.255")), DSC_OK);
  ASSERT_EQ(seen_.records.size(), 1u);
  EXPECT_EQ(seen_.records[0].flags, DSC_FLAG_DIRECT);
  EXPECT_EQ(seen_.rounds, 0);
}

TEST_F(LabSearch, FoundListStopsAt256Devices) {
  // 257 emulated devices in one namespace, each on an address of its own.
  constexpr int kDevices = 257;
  std::string batch;
  char path[] = "/tmp/tarnix-257-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream config(path);
    for (int i = 0; i < kDevices; ++i) {
      char line[160];
      std::snprintf(line, sizeof line,
                    "name=d%d,ip=10.77.%d.%d,app=0x80004012,model=0x4512,mac=02:00:5e:20:%02x:%02x,bcast=1\n", i,
                    1 + i / 200, 1 + i % 200, i >> 8, i & 0xff);
      config << line;
      batch += "ip addr add 10.77." + std::to_string(1 + i / 200) + "." + std::to_string(1 + i % 200) +
               "/32 dev eth0; ";
    }
  }
  lab_->Run("dev1", batch);
  std::string error;
  lab::Devsim* many = lab_->StartDevsim("dev1", {"--config", path}, &error);
  unlink(path);
  ASSERT_NE(many, nullptr) << error;

  dsc_SetSearchOpt(500, 2);
  ASSERT_EQ(search(0), DSC_OK);
  EXPECT_EQ(seen_.records.size(), 256u);
  EXPECT_EQ(seen_.rounds, 0) << "the 256th device ends the search at once";
}

TEST_F(LabSearch, AllPortsTakenOnTheLocalAddressIsASocketError) {
  ASSERT_NE(device("dev1", "10.77.0.2", 1), nullptr);
  std::vector<int> held;
  {
    Lab::InWorkstation inside(*lab_);
    for (int k = 0; k <= 12; ++k) {
      const int s = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in sin{};
      sin.sin_family = AF_INET;
      sin.sin_port = htons(static_cast<uint16_t>(13316 + 4096 * k));
      ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
      held.push_back(s);
    }
  }
  EXPECT_EQ(search(0), DSC_ESOCKET);
  EXPECT_TRUE(seen_.records.empty());
  for (int s : held) close(s);
}

class LabSearchTwoInterfaces : public LabSearch {
 protected:
  void SetUp() override { build({.second_ws_interface = true}); }
};

TEST_F(LabSearchTwoInterfaces, BroadcastLeavesThroughEveryAddressAndTheDeviceIsReportedOnce) {
  dsc_SetSearchOpt(150, 1);
  lab::Devsim* a = device("dev1", "10.77.0.2", 1);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(search(0), DSC_OK);
  ASSERT_EQ(seen_.records.size(), 1u);
  const uint32_t local = seen_.records[0].local_ip;
  EXPECT_TRUE(local == Lab::Addr("10.77.0.1") || local == Lab::Addr("10.77.0.11"));

  std::set<uint32_t> senders;
  for (const auto& e : a->Received()) senders.insert(e.peer_ip);
  EXPECT_EQ(senders, (std::set<uint32_t>{Lab::Addr("10.77.0.1"), Lab::Addr("10.77.0.11")}));
  EXPECT_EQ(a->Received().size(), 2u) << "one copy per local address, one round";
}

}  // namespace
