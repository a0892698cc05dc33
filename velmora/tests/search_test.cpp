// Device discovery through the real main window against tarnix-devsim: search by IP on 127.0.0.2 in the test's
// private namespace, broadcast search in the network lab.
#include <QListWidget>

#include <cstring>
#include <set>

#include "fixture.h"
#include "lab/lab.h"

namespace {

using namespace velmora;

constexpr char kUnit[] =
    "name=unit,ip=127.0.0.2,app=0x80004012,model=0x4512,mac=02:00:5e:00:00:02,devname=Hall-7,"
    "apname=serial-bridge,apver=0x0205ffff,kver=0x01021a00,env=1";
constexpr uint32_t kUnitAddress = Host(127, 0, 0, 2);

class SearchByIP : public VelmoraTest {
 protected:
  void Start(const std::string& keys) {
    std::string error;
    devsim_ = lab::Devsim::Start({"--device", keys}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
  }
  void SearchFor(uint32_t host_order) {
    prompts_.scripts.push_back(SearchAt(host_order));
    frame_->OnCommand(kCmdSearchByIP);
    EXPECT_TRUE(prompts_.scripts.empty());
  }

  std::unique_ptr<lab::Devsim> devsim_;
};

TEST_F(SearchByIP, FillsOneRowWithTheDevicesTexts) {
  ASSERT_NO_FATAL_FAILURE(Start(kUnit));
  SearchFor(kUnitAddress);
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  ASSERT_EQ(rows(), 1);
  const char* texts[] = {"Hall-7", "127.0.0.2", "02:00:5E:00:00:02", "serial-bridge", "0x80004012",
                         "2.5.ff", "1.2.1a",    "Development Mode"};
  for (int c = 0; c < 8; ++c) EXPECT_EQ(cell(0, c), texts[c]) << "column " << c;
  const DEVICEENTRY& e = view().Table()[0];
  EXPECT_EQ(e.info.flags & DSC_FLAG_DIRECT, DSC_FLAG_DIRECT);
  EXPECT_NE(e.serial, nullptr);
}

TEST_F(SearchByIP, DeviceCommandsFollowTheLeftButtonOnTheRows) {
  ASSERT_NO_FATAL_FAILURE(Start(kUnit));
  SearchFor(kUnitAddress);
  ASSERT_EQ(rows(), 1);
  EXPECT_TRUE(DeviceCommandsDisabled());
  QTest::mouseClick(view().viewport(), Qt::RightButton, {}, view().visualItemRect(view().topLevelItem(0)).center());
  EXPECT_TRUE(DeviceCommandsDisabled());
  ClickRow(0);
  EXPECT_TRUE(DeviceCommandsEnabled());
  EXPECT_EQ(view().SelectedEntryIndex(), 0);
  ClickBesideRows();
  EXPECT_TRUE(DeviceCommandsDisabled());
  ClickRow(0);
  EXPECT_TRUE(DeviceCommandsEnabled());
  // The same device at the same place after a new search: still not selected.
  SearchFor(kUnitAddress);
  ASSERT_EQ(rows(), 1);
  EXPECT_TRUE(DeviceCommandsDisabled());
}

TEST_F(SearchByIP, RepeatedSearchesReuseTheirSession) {
  ASSERT_NO_FATAL_FAILURE(Start(kUnit));
  SearchFor(kUnitAddress);
  ASSERT_EQ(rows(), 1);
  const int32_t first = view().Table()[0].session;
  for (int i = 0; i < 3; ++i) {
    SearchFor(kUnitAddress);
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(view().Table()[0].session, first);
  }
}

TEST_F(SearchByIP, DeviceFailingAStepGivesOneMessageAndAnEmptyList) {
  const struct {
    const char* mute;
    const char* message;
  } cases[] = {
      {",mute=16", "dsc_GetName() fail, error code: -2."},
      {",mute=49", "dsc_GetSerialIOCtl() fail, error code: -2."},     // port 1's line settings
      {",mute=52", "dsc_GetSerialInterface() fail, error code: -2."},  // and its interface type
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mute);
    prompts_.messages.clear();
    devsim_.reset();
    ASSERT_NO_FATAL_FAILURE(Start(std::string(kUnit) + c.mute));
    SearchFor(kUnitAddress);
    EXPECT_EQ(prompts_.messages, QStringList{c.message});
    EXPECT_EQ(rows(), 0);
  }
}

TEST_F(SearchByIP, ReadsPortOnesLineSettingsAndInterface) {
  ASSERT_NO_FATAL_FAILURE(Start(std::string(kUnit) + ",ports=2"));
  SearchFor(kUnitAddress);
  ASSERT_EQ(rows(), 1);
  const DEVICEENTRY& e = view().Table()[0];
  ASSERT_NE(e.serial, nullptr);
  EXPECT_NE(e.serial->rate, 0u) << "the emulator's port 1 runs at a table rate";
}

TEST_F(SearchByIP, FailuresOfTheSearchItself) {
  struct Case {
    const char* keys;  // null: nothing on the address
    const char* message;
  } cases[] = {
      // A device of another model answers but is not kept.
      {"name=other,ip=127.0.0.2,model=0x4100", "Not any Tervo found !"},
      {nullptr, "dsc_EnumSearch() fail, error code: -2."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    devsim_.reset();
    if (c.keys) {
      ASSERT_NO_FATAL_FAILURE(Start(c.keys));
    }
    prompts_.messages.clear();
    SearchFor(kUnitAddress);
    EXPECT_EQ(prompts_.messages, QStringList{c.message});
    EXPECT_EQ(rows(), 0);
  }
}

TEST_F(SearchByIP, ModelKeptWithoutARow) {
  ASSERT_NO_FATAL_FAILURE(Start("name=kept,ip=127.0.0.2,app=0x80004013,model=0x4513,devname=kept"));
  SearchFor(kUnitAddress);
  EXPECT_TRUE(prompts_.messages.isEmpty());
  EXPECT_EQ(rows(), 0);
  EXPECT_EQ(view().Table()[0].info.model, 0x4513);
  EXPECT_STREQ(view().Table()[0].name, "kept");
}

// A command posted while another runs (the waiting window lets window-system events through) waits for it.
TEST_F(SearchByIP, CommandPostedDuringASearchRunsAfterIt) {
  ASSERT_NO_FATAL_FAILURE(Start(kUnit));
  prompts_.scripts.push_back([this](QDialog& d) {
    view().PostCommand(kCmdAppAbout);
    SearchAt(kUnitAddress)(d);
  });
  int rows_when_about_ran = -1;
  prompts_.scripts.push_back([this, &rows_when_about_ran](QDialog& d) {
    rows_when_about_ran = rows();
    ScriptedPrompts::Click(d, 1);
  });
  frame_->OnCommand(kCmdSearchByIP);
  QTRY_COMPARE(prompts_.dialogs_run, 2);
  EXPECT_EQ(rows_when_about_ran, 1);
}

TEST_F(SearchByIP, CancellingTheDialogEmptiesAFullList) {
  ASSERT_NO_FATAL_FAILURE(Start(kUnit));
  SearchFor(kUnitAddress);
  ASSERT_EQ(rows(), 1);
  prompts_.scripts.push_back([](QDialog& d) { ScriptedPrompts::Click(d, 2); });
  frame_->OnCommand(kCmdSearchByIP);
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(DeviceCommandsDisabled());
  EXPECT_TRUE(prompts_.messages.isEmpty());
}

// The remembered list is saved on OK in the list's text order, duplicates and all.
TEST_F(SearchByIP, OkSavesTheAddressListInTextOrder) {
  ASSERT_NO_FATAL_FAILURE(Start(kUnit));
  const struct {
    std::vector<uint32_t> added;
    std::vector<uint32_t> saved;
  } cases[] = {
      {{Host(9, 0, 0, 1), Host(10, 0, 0, 1)}, {Host(10, 0, 0, 1), Host(9, 0, 0, 1)}},
      {{Host(10, 0, 0, 5), Host(10, 0, 0, 5)}, {Host(10, 0, 0, 5), Host(10, 0, 0, 5)}},
  };
  for (const auto& c : cases) {
    Profile().clear();
    prompts_.scripts.push_back([&c](QDialog& d) {
      auto* field = d.findChild<CIPAddressCtrl*>("1000");
      ASSERT_NE(field, nullptr);
      for (uint32_t a : c.added) {
        field->SetAddress(a);
        ScriptedPrompts::Click(d, 1004);
      }
      field->SetAddress(kUnitAddress);
      ScriptedPrompts::Click(d, 1);
    });
    frame_->OnCommand(kCmdSearchByIP);
    EXPECT_EQ(rows(), 1);
    QSettings p = Profile();
    p.beginGroup("Cfg");
    ASSERT_EQ(p.value("IpListCount").toInt(), static_cast<int>(c.saved.size()));
    for (size_t i = 0; i < c.saved.size(); ++i) {
      EXPECT_EQ(static_cast<uint32_t>(p.value(QString("Adr%1").arg(i)).toInt()), c.saved[i]) << i;
    }
  }
  // The next visit starts from the saved list.
  prompts_.scripts.push_back([](QDialog& d) {
    auto* list = d.findChild<QListWidget*>("1003");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "10.0.0.5");
    ScriptedPrompts::Click(d, 2);
  });
  frame_->OnCommand(kCmdSearchByIP);
}

// ---- Broadcast search in the network lab -----------------------------------

class BroadcastSearch : public VelmoraTest {
 protected:
  void SetUp() override {
    VelmoraTest::SetUp();
    LAB_OR_SKIP(lab_);
  }
  // Devices found by broadcast are reached through a neighbour entry with the MAC they reported, so each
  // reports its interface's real one.
  void Device(const char* host, const std::string& keys) {
    std::string mac = lab_->Run(host, "cat /sys/class/net/eth0/address");
    while (!mac.empty() && (mac.back() == '\n' || mac.back() == ' ')) mac.pop_back();
    std::string error;
    ASSERT_NE(lab_->StartDevsim(host, {"--device", keys + ",bcast=1,mac=" + mac}, &error), nullptr) << error;
  }
  void Broadcast() {
    lab::Lab::InWorkstation inside(*lab_);
    frame_->OnCommand(kCmdBroadcastSearch);
  }

  std::unique_ptr<lab::Lab> lab_;
};

TEST_F(BroadcastSearch, ListsTheLabsDevicesAndKeeps4513WithoutARow) {
  ASSERT_NO_FATAL_FAILURE(Device("dev1", "name=north,ip=10.77.0.2,app=0x80004012,model=0x4512,devname=north"));
  ASSERT_NO_FATAL_FAILURE(Device("dev2", "name=kept,ip=10.77.0.3,app=0x80004013,model=0x4513,devname=kept"));
  ASSERT_NO_FATAL_FAILURE(Device("outside", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512,devname=far"));
  Broadcast();
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  ASSERT_EQ(rows(), 2);
  std::set<std::pair<QString, QString>> listed;
  for (int r = 0; r < rows(); ++r) listed.insert({cell(r, 0), cell(r, 1)});
  EXPECT_EQ(listed, (std::set<std::pair<QString, QString>>{{"north", "10.77.0.2"}, {"far", "192.168.77.2"}}));
  int kept = 0;
  for (int i = 0; i < 3; ++i) {
    const DEVICEENTRY& e = view().Table()[i];
    EXPECT_TRUE(HoldsSession(e)) << i;
    EXPECT_EQ(e.info.flags & DSC_FLAG_DIRECT, 0) << i;
    if (e.info.model == 0x4513) {
      ++kept;
      EXPECT_STREQ(e.name, "kept");
    }
  }
  EXPECT_EQ(kept, 1);
  EXPECT_TRUE(DeviceCommandsDisabled());
  for (int r = 0; r < rows(); ++r) {
    ClickRow(r);
    EXPECT_TRUE(DeviceCommandsEnabled());
    EXPECT_EQ(QString(view().SelectedEntry().name), cell(r, 0));
  }
}

TEST_F(BroadcastSearch, OneDeviceFailingGetNameEmptiesTheWholeList) {
  ASSERT_NO_FATAL_FAILURE(Device("dev1", "name=north,ip=10.77.0.2,app=0x80004012,model=0x4512"));
  ASSERT_NO_FATAL_FAILURE(Device("dev2", "name=mute,ip=10.77.0.3,app=0x80004012,model=0x4512,mute=16"));
  ASSERT_NO_FATAL_FAILURE(Device("outside", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512"));
  Broadcast();
  EXPECT_EQ(prompts_.messages, QStringList{"dsc_GetName() fail, error code: -2."});
  EXPECT_EQ(rows(), 0);
}

// 0.0.0.0 makes the library search by broadcast; the directed search still lists only the first device.
TEST_F(BroadcastSearch, SearchByIPForAddressZeroListsOneDevice) {
  ASSERT_NO_FATAL_FAILURE(Device("dev1", "name=north,ip=10.77.0.2,app=0x80004012,model=0x4512"));
  ASSERT_NO_FATAL_FAILURE(Device("outside", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512"));
  prompts_.scripts.push_back(SearchAt(0));
  {
    lab::Lab::InWorkstation inside(*lab_);
    frame_->OnCommand(kCmdSearchByIP);
  }
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  EXPECT_EQ(rows(), 1);
  EXPECT_TRUE(HoldsSession(view().Table()[1]));
}

TEST_F(BroadcastSearch, NothingAnswering) {
  Broadcast();
  EXPECT_EQ(prompts_.messages, QStringList{"Not any Tervo found !"});
  EXPECT_EQ(rows(), 0);
}

}  // namespace
