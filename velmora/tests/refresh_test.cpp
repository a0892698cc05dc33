// The broadcast refresh that follows a configuration change or a kernel upgrade, in the network lab (a broadcast
// search needs a LAN, which the loopback-only namespace of the other tests lacks).
#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>

#include "cfgsheet.h"
#include "fixture.h"
#include "lab/lab.h"

namespace {

using namespace velmora;

class Refresh : public VelmoraTest {
 protected:
  void SetUp() override {
    VelmoraTest::SetUp();
    LAB_OR_SKIP(lab_);
    // Devices found by broadcast are reached through a neighbour entry with the MAC they reported.
    std::string mac = lab_->Run("dev1", "cat /sys/class/net/eth0/address");
    while (!mac.empty() && (mac.back() == '\n' || mac.back() == ' ')) mac.pop_back();
    std::string error;
    const std::string keys = "name=north,ip=10.77.0.2,app=0x80004012,model=0x4512,devname=north,kver=0x02010000,"
                             "bcast=1,mac=" + mac;
    ASSERT_NE(lab_->StartDevsim("dev1", {"--device", keys}, &error), nullptr) << error;
  }
  void SearchAndSelect() {
    prompts_.scripts.push_back(SearchAt(Host(10, 77, 0, 2)));
    frame_->OnCommand(kCmdSearchByIP);
    ASSERT_EQ(rows(), 1) << prompts_.messages.join("|").toStdString();
    ClickRow(0);
    ASSERT_TRUE(view().HasSelection());
  }
  // The refresh has run when the list is full again and nothing is selected.
  void WaitForRefresh() {
    QTRY_VERIFY_WITH_TIMEOUT(rows() == 1 && !view().HasSelection(), 20000);
    EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  }

  std::unique_ptr<lab::Lab> lab_;
};

TEST_F(Refresh, AChangedGatewayIsListedAgainAfterTheRestart) {
  lab::Lab::InWorkstation inside(*lab_);
  ASSERT_NO_FATAL_FAILURE(SearchAndSelect());
  prompts_.scripts.push_back([](QDialog& d) {
    d.findChild<QCheckBox*>("1001")->click();
    d.findChild<CIPAddressCtrl*>("1004")->SetAddress(Host(10, 77, 0, 254));
    ScriptedPrompts::Click(d, 1);
  });
  frame_->OnCommand(kCmdConfiguration);
  ASSERT_NO_FATAL_FAILURE(WaitForRefresh());
  EXPECT_EQ(cell(0, 0), "north");
  const DEVICEENTRY& e = view().Table()[0];
  ASSERT_NE(e.ifconfig, nullptr);
  uint8_t gateway[4];
  std::memcpy(gateway, &e.ifconfig->gateway, 4);
  EXPECT_EQ(gateway[3], 254);
}

TEST_F(Refresh, AKernelUpgradeShowsItsVersionAfterTheRefresh) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QByteArray image("TDVI\x00\x04\x03\x02", 8);  // version 0x02030400, shown 2.3.4
  image.append(QByteArray(40, '\0'));     // no new name
  image.append(QByteArray(500, '\x5a'));
  QFile f(dir.filePath("k.rom"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(image);
  f.close();
  lab::Lab::InWorkstation inside(*lab_);
  ASSERT_NO_FATAL_FAILURE(SearchAndSelect());
  EXPECT_EQ(cell(0, 6), "2.1.0");
  prompts_.files.push_back(f.fileName());
  frame_->OnCommand(kCmdUpgradeKernel);
  EXPECT_EQ(prompts_.messages, QStringList{"Upgrade Kernel OK!"});
  prompts_.messages.clear();
  ASSERT_NO_FATAL_FAILURE(WaitForRefresh());
  EXPECT_EQ(cell(0, 6), "2.3.4");
}

}  // namespace
