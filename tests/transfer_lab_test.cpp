// Transfers in the network lab: a device outside the workstation's subnet is
// reached through the temporary neighbour entry and host route, which exist
// while a transfer runs and are gone afterwards, whatever its result.
#include <arpa/inet.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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
int32_t DSC_CALL keep_outside(DSINFO* d) {
  if (d != nullptr && d->device_ip == inet_addr("192.168.77.2")) g_found = *d;
  return 1;
}

class TransferLab : public ::testing::Test {
 protected:
  void SetUp() override { LAB_OR_SKIP(lab_); }
  void TearDown() override {
    if (session_ >= 0) dsc_Detach(session_);
    if (!image_.empty()) std::remove(image_.c_str());
  }

  void start(const std::string& keys) {
    const std::string mac = trim(lab_->Run("outside", "cat /sys/class/net/eth0/address"));
    std::string error;
    ASSERT_NE(lab_->StartDevsim("outside",
                                {"--device", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512,mac=" + mac +
                                                 ",bcast=1,pw=pw" + keys},
                                &error),
              nullptr)
        << error;
    g_found = DSINFO{};
    dsc_SetSearchOpt(200, 1);
    Lab::InWorkstation inside(*lab_);
    ASSERT_EQ(dsc_EnumSearch(0, keep_outside), DSC_OK);
    dsc_SetSearchOpt(1000, 5);
    ASSERT_EQ(g_found.flags & DSC_FLAG_DIRECT, 0);
    ASSERT_EQ(dsc_Attach(&g_found, &session_), DSC_OK);
    ASSERT_EQ(dsc_LibSetTimeout(session_, 500, 2), DSC_OK);
    ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 2000), DSC_OK);
    ASSERT_EQ(dsc_Login(session_, "pw"), DSC_OK);
  }
  std::string neighbours() const { return trim(lab_->Run("ws", "ip neigh show nud permanent")); }
  std::string host_routes() const { return trim(lab_->Run("ws", "ip -4 route show | grep 'metric 20' || true")); }
  bool tables_empty() const { return neighbours().empty() && host_routes().empty(); }

  // Runs call in the workstation while watching the tables (bounded) until both entries show.
  bool entries_seen_during(const std::function<int32_t()>& call, int32_t* result) {
    bool seen = false;
    std::thread t([&] {
      Lab::InWorkstation inside(*lab_);
      *result = call();
    });
    const uint32_t t0 = tarnix::platform::tick_ms();
    while (!seen && tarnix::platform::tick_diff(tarnix::platform::tick_ms(), t0) < 1500)
      seen = !neighbours().empty() && !host_routes().empty();
    t.join();
    return seen;
  }

  std::unique_ptr<Lab> lab_;
  int32_t session_ = -1;
  std::string image_;
};

TEST_F(TransferLab, UploadAndBankRunInsideTheEntriesAndLeaveNone) {
  // The device takes its time to store the image, so the entries can be watched meanwhile.
  start(",upload_store_ms=600");
  EXPECT_TRUE(tables_empty());
  image_ = "/tmp/tarnix-lab-image-" + std::to_string(getpid());
  std::ofstream(image_, std::ios::binary) << std::string(3000, 'i');
  int32_t result = 0;
  EXPECT_TRUE(entries_seen_during([&] { return dsc_UpgradeAP(session_, image_.c_str()); }, &result));
  EXPECT_EQ(result, DSC_OK);
  EXPECT_TRUE(tables_empty()) << neighbours() << "\n" << host_routes();

  Lab::InWorkstation inside(*lab_);
  const std::vector<uint8_t> data(32769, 7);
  EXPECT_EQ(dsc_UpgradeAPConfig_Bank(session_, 32769, 0, data.data()), DSC_BANK_EREPLY);
  EXPECT_TRUE(tables_empty()) << "no entry left behind";
  EXPECT_EQ(dsc_UpgradeAPConfigBank(session_, 1, data.data(), 100), DSC_BANK_OK);
  std::vector<uint8_t> back(100);
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 1, 0, back.data(), 100), DSC_BANK_OK);
  EXPECT_EQ(back, std::vector<uint8_t>(100, 7));
  uint32_t total = 0;
  std::vector<uint8_t> log(4096);
  EXPECT_EQ(dsc_RecvLog(session_, log.data(), 4096, &total), DSC_OK);
  EXPECT_EQ(total, 1500u);
  EXPECT_TRUE(tables_empty()) << neighbours() << "\n" << host_routes();
}

TEST_F(TransferLab, EntriesGoAfterAFailedUploadToo) {
  start(",upload_noreply=1");
  ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 0), DSC_OK);
  image_ = "/tmp/tarnix-lab-image-" + std::to_string(getpid());
  std::ofstream(image_, std::ios::binary) << std::string(300, 'i');
  int32_t result = 0;
  EXPECT_TRUE(entries_seen_during([&] { return dsc_UpgradeFile(session_, image_.c_str()); }, &result));
  EXPECT_EQ(result, DSC_ETIMEOUT);
  EXPECT_TRUE(tables_empty()) << neighbours() << "\n" << host_routes();
}

}  // namespace
