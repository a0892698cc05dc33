// The application shell without devices: menu, list, selection rule, the shared dialogs, row texts.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>

#include <cstring>

#include "dialogs.h"
#include "entry.h"
#include "fixture.h"
#include "search.h"

namespace {

using namespace velmora;

TEST_F(VelmoraTest, StartsWithEightColumnsNoRowsAndDeviceCommandsDisabled) {
  ASSERT_EQ(view().columnCount(), 8);
  const char* titles[] = {"Agent Name",     "IP Address",          "MAC Address",    "Application Name",
                          "Application ID", "Application Version", "Kernel Version", "Operation Mode"};
  const int widths[] = {100, 115, 120, 110, 110, 110, 110, 110};
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(view().headerItem()->text(c), titles[c]);
    EXPECT_EQ(view().columnWidth(c), widths[c]);
  }
  EXPECT_EQ(rows(), 0);
  EXPECT_FALSE(view().HasSelection());
  EXPECT_TRUE(DeviceCommandsDisabled());
  for (int c : {kCmdBroadcastSearch, kCmdSearchByIP, kCmdAppExit, kCmdAppAbout}) {
    EXPECT_TRUE(frame_->Action(c)->isEnabled()) << c;
  }
}

TEST_F(VelmoraTest, MenuCarriesEveryItemWithItsPromptAsStatusTip) {
  struct Item {
    int command;
    const char* text;
    const char* status_tip;
  };
  const Item items[] = {
      {32771, "&Broadcast Search", "search local ethernet network not across router"},
      {32772, "&Search by IP", "use assign IP address to search"},
      {57665, "E&xit", "Quit the application; prompts to save documents"},
      {32773, "&Configuration", "configuration"},
      {32776, "&Application", "to upgrade user application"},
      {32777, "&Kernel", "to upgrade kernel"},
      {32778, "&Firmware", "to upgrade user application and kernel"},
      {32784, "Erase Flash", ""},
      {57664, "&About Velmora...", ""},
  };
  for (const Item& item : items) {
    QAction* action = frame_->Action(item.command);
    ASSERT_NE(action, nullptr) << item.command;
    EXPECT_EQ(action->text(), item.text);
    EXPECT_EQ(action->statusTip(), item.status_tip);
  }
  EXPECT_EQ(frame_->Action(57665)->toolTip(), "Exit");
  QStringList top;
  for (QAction* a : frame_->menuBar()->actions()) top << a->text();
  EXPECT_EQ(top, QStringList({"&Search", "&Configuration", "&Upgrade", "Erase Flash", "&Help"}));
}

TEST_F(VelmoraTest, AboutBoxIsCommand57664) {
  prompts_.scripts.push_back([](QDialog& d) {
    EXPECT_EQ(d.windowTitle(), "About Velmora");
    QStringList texts;
    for (QLabel* l : d.findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains("Velmora Version 1.03"));
    ScriptedPrompts::Click(d, 1);
  });
  frame_->OnCommand(kCmdAppAbout);
  EXPECT_EQ(prompts_.dialogs_run, 1);
  EXPECT_TRUE(prompts_.messages.isEmpty());
}

TEST_F(VelmoraTest, PostedCommandRunsAfterTheCurrentHandler) {
  bool ran = false;
  prompts_.scripts.push_back([&ran](QDialog& d) {
    ran = true;
    ScriptedPrompts::Click(d, 2);
  });
  view().PostCommand(kCmdSearchByIP);
  EXPECT_FALSE(ran);
  QTRY_VERIFY(ran);
}

TEST(WaitDialog, ShowsItsTextUnderTheOperationsCaption) {
  CWaitDlg wait(nullptr);
  wait.Open(kBroadcastSearching);
  EXPECT_TRUE(wait.isVisible());
  EXPECT_EQ(wait.windowTitle(), "Broadcast Searching...");
  auto* text = wait.findChild<QLabel*>("1002");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), "Please Waiting......");
}

// ---- Password prompt ----------------------------------------------------

struct PasswordCase {
  const char* what;
  bool device_has_password;
  bool answer;          // the prompt is answered (OK) rather than cancelled
  const char* typed;
  bool go_on;
  const char* password;
  const char* message;  // null: none
};

void PrintTo(const PasswordCase& c, std::ostream* os) { *os << c.what; }

class PasswordPrompt : public VelmoraTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(PasswordPrompt, AsksOnlyWhenTheDeviceHasAPassword) {
  const PasswordCase& c = GetParam();
  KERNELINFO kernel{};
  kernel.flags = c.device_has_password ? DSC_KERNEL_FLAG_PASSWORD : 0;
  DEVICEENTRY entry{};
  entry.kernel = &kernel;
  if (c.device_has_password) {
    prompts_.scripts.push_back([&c](QDialog& d) {
      EXPECT_EQ(d.windowTitle(), "Password Check");
      auto* edit = d.findChild<QLineEdit*>("1001");
      ASSERT_NE(edit, nullptr);
      EXPECT_EQ(edit->text(), "");
      EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
      QTest::keyClicks(edit, c.typed);
      ScriptedPrompts::Click(d, c.answer ? 1 : 2);
    });
  }
  char password[17];
  std::memset(password, 'x', sizeof password);
  EXPECT_EQ(AskLoginPassword(frame_.get(), entry, password), c.go_on);
  EXPECT_EQ(prompts_.dialogs_run, c.device_has_password ? 1 : 0);
  if (c.go_on) {
    EXPECT_STREQ(password, c.password);
  }
  EXPECT_EQ(prompts_.messages, c.message ? QStringList{c.message} : QStringList{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasswordPrompt,
    ::testing::Values(PasswordCase{"no password", false, true, "", true, "", nullptr},
                      PasswordCase{"typed", true, true, "secret", true, "secret", nullptr},
                      PasswordCase{"cut to 16", true, true, "0123456789abcdefXYZ", true, "0123456789abcdef", nullptr},
                      PasswordCase{"cancelled", true, false, "secret", false, "",
                                   "Can not continue without the rigth password!"}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

// ---- Row texts --------------------------------------------------------------

TEST(RowTexts, VersionsShowTheirThreeHighBytesInHex) {
  const struct {
    uint32_t version;
    const char* text;
  } cases[] = {{0x0205ffff, "2.5.ff"}, {0x01021a00, "1.2.1a"}, {0, "0.0.0"}, {0xffffff00, "ff.ff.ff"}};
  for (const auto& c : cases) EXPECT_EQ(VersionText(c.version), c.text) << std::hex << c.version;
}

TEST(RowTexts, ApplicationIdIsUpperCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(AppIdText(0x80004012), "0x80004012");
  EXPECT_EQ(AppIdText(0xab), "0xAB");
  EXPECT_EQ(AppIdText(0), "0x0");
}

TEST(RowTexts, OperationMode) {
  EXPECT_EQ(OperationModeText(0), "Running Mode");
  EXPECT_EQ(OperationModeText(1), "Development Mode");
  EXPECT_EQ(OperationModeText(2), "Unknown");
  EXPECT_EQ(OperationModeText(-1), "Unknown");
}

TEST(FillRowTest, OnlyModel4512GetsARowAndAnImpossibleRowAddsNothing) {
  QTreeWidget list;
  list.setColumnCount(kColumnCount);
  DEVICEENTRY entry{};
  entry.info.model = 0x4513;
  EXPECT_FALSE(FillRow(list, 0, entry, 0));
  entry.info.model = 0x4512;
  EXPECT_FALSE(FillRow(list, 1, entry, 0));  // the list has no row 0 yet
  EXPECT_EQ(list.topLevelItemCount(), 0);
  std::strcpy(entry.name, "unit");
  EXPECT_TRUE(FillRow(list, 0, entry, 7));
  ASSERT_EQ(list.topLevelItemCount(), 1);
  EXPECT_EQ(list.topLevelItem(0)->text(0), "unit");
  EXPECT_EQ(list.topLevelItem(0)->data(0, kEntryRole).toInt(), 7);
  EXPECT_FALSE(list.topLevelItem(0)->isSelected());
}

TEST(ReleaseEntryTest, AnAllZeroEntryMayBeReleased) {
  DEVICEENTRY entry{};
  ReleaseEntry(entry);
  entry.ifconfig = new IFCONFIGINFO();
  entry.serial = new SERIALIOCTLINFO();
  entry.kernel = new KERNELINFO();
  entry.apinfo = new APINFO();
  ReleaseEntry(entry);
  EXPECT_EQ(entry.ifconfig, nullptr);
  EXPECT_EQ(entry.serial, nullptr);
  EXPECT_EQ(entry.kernel, nullptr);
  EXPECT_EQ(entry.apinfo, nullptr);
}

// ---- Search procedure -------------------------------------------------------

TEST(SearchCallbackTest, StagesTheTwoModelsAndStopsAtTheHundredth) {
  CSearchTask task(nullptr);
  EXPECT_EQ(SearchCallback(nullptr), 1);
  DSINFO other{};
  other.model = 0x4100;
  EXPECT_EQ(SearchCallback(&other), 1);
  EXPECT_EQ(StagedCount(), 0);
  DSINFO kept{};
  kept.model = 0x4513;
  kept.app_id = 1;
  EXPECT_EQ(SearchCallback(&kept), 1);
  ASSERT_EQ(StagedCount(), 1);
  EXPECT_EQ(std::memcmp(&Staged(0).info, &kept, sizeof kept), 0);
  DSINFO listed{};
  listed.model = 0x4512;
  for (int i = 2; i < 100; ++i) {
    listed.app_id = static_cast<uint32_t>(i);
    ASSERT_EQ(SearchCallback(&listed), 1) << i;
  }
  listed.app_id = 100;
  EXPECT_EQ(SearchCallback(&listed), 0);
  EXPECT_EQ(StagedCount(), 100);
  EXPECT_EQ(Staged(99).info.app_id, 100u);
  CSearchTask again(nullptr);
  EXPECT_EQ(StagedCount(), 0);
}

// ---- Search by IP dialog, without searching ---------------------------------

TEST_F(VelmoraTest, CancellingTheSearchByIPDialogLeavesListAndProfileAlone) {
  prompts_.scripts.push_back([](QDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Search by IP Address");
    auto* field = d.findChild<CIPAddressCtrl*>("1000");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->GetAddress(), 0u);
    field->SetAddress(Host(10, 1, 2, 3));
    ScriptedPrompts::Click(d, 1004);
    ScriptedPrompts::Click(d, 2);
  });
  frame_->OnCommand(kCmdSearchByIP);
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(prompts_.messages.isEmpty());
  EXPECT_FALSE(Profile().contains("Cfg/IpListCount"));
}

TEST_F(VelmoraTest, SelectingARememberedAddressPutsItInTheFieldAndRemoveDeletesIt) {
  {
    QSettings p = Profile();
    p.setValue("Cfg/IpListCount", 2);
    p.setValue("Cfg/Adr0", static_cast<int>(Host(192, 168, 5, 9)));
    p.setValue("Cfg/Adr1", static_cast<int>(Host(10, 0, 0, 7)));
  }
  CSearchIPDlg dialog(frame_.get());
  auto* list = dialog.findChild<QListWidget*>("1003");
  auto* field = dialog.findChild<CIPAddressCtrl*>("1000");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(field, nullptr);
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), "10.0.0.7");
  EXPECT_EQ(list->item(1)->text(), "192.168.5.9");
  ScriptedPrompts::Click(dialog, 1005);  // nothing selected: nothing removed
  EXPECT_EQ(list->count(), 2);
  list->setCurrentRow(1);
  EXPECT_EQ(field->GetAddress(), Host(192, 168, 5, 9));
  ScriptedPrompts::Click(dialog, 1005);
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "10.0.0.7");
}

TEST(IPAddressField, ReadsFourFieldsHighestFirstEmptyAsZeroAndCapsAt255) {
  CIPAddressCtrl field;
  field.SetAddress(Host(10, 77, 0, 2));
  EXPECT_EQ(field.GetAddress(), Host(10, 77, 0, 2));
  const struct {
    const char* texts[4];
    uint32_t address;
  } cases[] = {{{"", "1", "", "9"}, Host(0, 1, 0, 9)}, {{"192", "168", "300", "1"}, Host(192, 168, 255, 1)}};
  for (const auto& c : cases) {
    for (int i = 0; i < 4; ++i) field.findChild<QLineEdit*>(QString("field%1").arg(i))->setText(c.texts[i]);
    EXPECT_EQ(field.GetAddress(), c.address);
  }
  EXPECT_EQ(AddressListText(Host(192, 168, 5, 9)), "192.168.5.9");
}

}  // namespace
