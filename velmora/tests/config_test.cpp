// The configuration sheet and its apply through the real main window against tarnix-devsim.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "cfgsheet.h"
#include "device_fixture.h"

namespace {

using namespace velmora;

QComboBox* Combo(QDialog& d, int id) { return d.findChild<QComboBox*>(QString::number(id)); }
CIPAddressCtrl* Address(QDialog& d, int id) { return d.findChild<CIPAddressCtrl*>(QString::number(id)); }
QLineEdit* Edit(QDialog& d, int id) { return d.findChild<QLineEdit*>(QString::number(id)); }
void Tick(QDialog& d, int id) { d.findChild<QCheckBox*>(QString::number(id))->click(); }
void ShowPage(QDialog& d, int index) { d.findChild<QTabWidget*>("pages")->setCurrentIndex(index); }

// Port 1 of the emulator: 9600 (rate index 12), 8 data bits, no parity, one stop bit.
const Bytes kPortOneDefault = {12, 0x03, 0};

class Configuration : public DeviceTest {
 protected:
  // Runs the command with the sheet worked by `script`, then OK.
  void Configure(const std::function<void(QDialog&)>& script = {}) {
    prompts_.scripts.push_back([script](QDialog& d) {
      if (script) script(d);
      ScriptedPrompts::Click(d, 1);
    });
    frame_->OnCommand(kCmdConfiguration);
    EXPECT_TRUE(prompts_.scripts.empty());
  }
  // The line settings the apply wrote to ports 1 and 2: rate index, format, option.
  std::vector<Bytes> LineSettingsWritten() const {
    std::vector<Bytes> out;
    for (const Bytes& p : Payloads(kSetSerialIOCtlCode)) out.push_back(Bytes(p.begin() + 1, p.begin() + 4));
    return out;
  }
  std::vector<int> PortsWritten(int code) const {
    std::vector<int> out;
    for (const Bytes& p : Payloads(code)) out.push_back(p[0]);
    return out;
  }
};

TEST_F(Configuration, SheetShowsTheDevicesValuesWithFieldsDisabledUntilTicked) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect(",gateway=127.0.0.1"));
  prompts_.scripts.push_back([](QDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Configuration");
    auto* tabs = d.findChild<QTabWidget*>("pages");
    ASSERT_NE(tabs, nullptr);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Ethernet");
    EXPECT_EQ(tabs->tabText(1), "Serial");
    EXPECT_EQ(tabs->tabText(2), "System");
    EXPECT_EQ(tabs->currentIndex(), 0);
    EXPECT_EQ(d.findChild<QPushButton*>("1")->text(), "OK");
    EXPECT_EQ(d.findChild<QPushButton*>("2")->text(), "Cancel");
    EXPECT_EQ(Address(d, 1002)->GetAddress(), Host(127, 0, 0, 2));
    EXPECT_EQ(Address(d, 1003)->GetAddress(), Host(255, 255, 255, 0));
    EXPECT_EQ(Address(d, 1004)->GetAddress(), Host(127, 0, 0, 1));
    EXPECT_EQ(Combo(d, 1085)->currentText(), "Static IP");
    const struct {
      int id;
      const char* shown;
      int count;
    } lists[] = {{1019, "9600", 18}, {1022, "None", 3}, {1020, "8", 4}, {1021, "1", 2}, {1023, "RS232", 1}};
    for (const auto& l : lists) {
      EXPECT_EQ(Combo(d, l.id)->currentText(), l.shown) << l.id;
      EXPECT_EQ(Combo(d, l.id)->count(), l.count) << l.id;
      EXPECT_FALSE(Combo(d, l.id)->isEnabled()) << l.id;
    }
    EXPECT_EQ(Combo(d, 1019)->itemText(0), "50");
    EXPECT_EQ(Combo(d, 1019)->itemText(17), "230400");
    EXPECT_EQ(Edit(d, 1013)->text(), "Hall-7");
    for (int id : {1002, 1003, 1004, 1085, 1013, 1015, 1016}) {
      EXPECT_FALSE(d.findChild<QWidget*>(QString::number(id))->isEnabled()) << id;
    }
    Tick(d, 1001);
    for (int id : {1002, 1003, 1004, 1085}) EXPECT_TRUE(d.findChild<QWidget*>(QString::number(id))->isEnabled());
    ShowPage(d, 2);
    Tick(d, 1012);
    for (int id : {1013, 1015, 1016}) EXPECT_TRUE(Edit(d, id)->isEnabled()) << id;
    for (int id : {1017, 1018}) {
      EXPECT_FALSE(Edit(d, id)->isVisible()) << id;
      EXPECT_FALSE(Edit(d, id)->isEnabled()) << id;
      EXPECT_TRUE(Edit(d, id)->text().isEmpty()) << id;
    }
    EXPECT_EQ(Edit(d, 1013)->maxLength(), 16);
    EXPECT_EQ(Edit(d, 1015)->echoMode(), QLineEdit::Password);
    ScriptedPrompts::Click(d, 2);
  });
  frame_->OnCommand(kCmdConfiguration);
  EXPECT_EQ(Connections(), 0) << "cancel sends nothing";
  EXPECT_EQ(Posted(), 0) << "and asks for no refresh";
}

TEST_F(Configuration, NoBoxTickedWritesInterfaceAndPortOnesLineSettingsWithoutSaving) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect());
  Configure();
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  EXPECT_EQ(Codes(), (std::vector<int>{kChallenge, kLoginCode, kSetSerialInterfaceCode, kSetSerialInterfaceCode,
                                       kSetSerialIOCtlCode, kSetSerialIOCtlCode}));
  EXPECT_EQ(Payloads(kSetSerialInterfaceCode), (std::vector<Bytes>{{1, 0}, {2, 0}}));
  EXPECT_EQ(PortsWritten(kSetSerialIOCtlCode), (std::vector<int>{1, 2}));
  EXPECT_EQ(LineSettingsWritten(), (std::vector<Bytes>{kPortOneDefault, kPortOneDefault}));
  EXPECT_EQ(Posted(), 1) << "the refresh";
}

TEST_F(Configuration, OnlyTheChangedGatewayIsSentThenSavedAndRestarted) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect());
  Configure([](QDialog& d) {
    Tick(d, 1001);
    Address(d, 1004)->SetAddress(Host(127, 0, 0, 254));
  });
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  std::vector<int> network;
  for (int c : Codes()) {
    if (c >= kSetIPCode && c <= kSetIPConfigCode) network.push_back(c);
  }
  EXPECT_EQ(network, std::vector<int>{kSetGatewayCode});
  const std::vector<Bytes> gateway = Payloads(kSetGatewayCode);
  ASSERT_EQ(gateway.size(), 1u);
  EXPECT_EQ(Bytes(gateway[0].begin(), gateway[0].begin() + 4), (Bytes{127, 0, 0, 254}));
  EXPECT_EQ(Codes().back(), kSaveRestart);
  EXPECT_EQ(Posted(), 1);
}

TEST_F(Configuration, PortTwoGetsPortOnesSettings) {
  std::string error;
  devsim_ = lab::Devsim::Start({"--device", std::string(kUnit) + ",ports=2"}, "", &error);
  ASSERT_NE(devsim_, nullptr) << error;
  {
    // Port 2 runs differently before the sheet is opened: 57600, 7 data bits, even parity, two stop bits.
    ASSERT_NO_FATAL_FAILURE(SearchAndSelect());
    const int32_t s = view().SelectedEntry().session;
    ASSERT_EQ(dsc_Login(s, ""), DSC_OK);
    ASSERT_EQ(dsc_SetSerialIOCtl(s, 2, 15, 0x1e, 0), DSC_OK);
    ASSERT_EQ(dsc_Logout(s), DSC_OK);
    SERIALIOCTLINFO two{};
    ASSERT_EQ(dsc_GetSerialIOCtl(s, 2, 1, &two), DSC_OK);
    ASSERT_EQ(two.rate, 57600u);
  }
  const size_t before = Payloads(kSetSerialIOCtlCode).size();
  Configure();
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  std::vector<Bytes> written = LineSettingsWritten();
  written.erase(written.begin(), written.begin() + static_cast<long>(before));
  EXPECT_EQ(written, (std::vector<Bytes>{kPortOneDefault, kPortOneDefault}));
  SERIALIOCTLINFO two{};
  ASSERT_EQ(dsc_GetSerialIOCtl(view().SelectedEntry().session, 2, 1, &two), DSC_OK);
  EXPECT_EQ(two.rate, 9600u);
  EXPECT_EQ(two.format, 0x03);
}

TEST_F(Configuration, SystemSettingPasswords) {
  const struct {
    const char* what;
    const char* password;
    std::vector<QString> messages;
    bool saved;
  } cases[] = {
      {"empty passwords set an empty password", "", {}, true},
      {"16 characters are refused by the library", "0123456789abcdef",
       {"dsc_SetPassword() fail, error code: -5."}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    devsim_.reset();
    ASSERT_NO_FATAL_FAILURE(StartAndSelect());
    Configure([&c](QDialog& d) {
      ShowPage(d, 2);
      Tick(d, 1012);
      Edit(d, 1015)->setText(c.password);
      Edit(d, 1016)->setText(c.password);
    });
    EXPECT_EQ(prompts_.messages, QStringList(c.messages.begin(), c.messages.end()));
    const std::vector<int> codes = Codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kSetPasswordCode), c.saved ? 1 : 0);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kSaveRestart), c.saved ? 1 : 0);
    EXPECT_EQ(codes.back(), c.saved ? kSaveRestart : kSetSerialIOCtlCode);
  }
}

// What the page shows and the apply writes for line settings and IP modes the lists do or do not offer.
TEST_F(Configuration, ChoicesTheDeviceReportsAndWhatGoesBack) {
  // payload49: port 1 of 2, then rate (u32), format, option, rate index, port number.
  const struct {
    const char* what;
    const char* keys;
    const char* rate_shown;   // "" : no selection
    const char* parity_shown;
    std::vector<Bytes> written;
    bool ip_mode_shown;
  } cases[] = {
      {"odd parity shows Odd and goes back as 0x08", ",payload49=01020000802500000b000c01", "9600", "Odd",
       {{12, 0x0b, 0}, {12, 0x0b, 0}}, true},
      {"a parity the list lacks is kept", ",payload49=01020000802500002b000c01", "9600", "",
       {{12, 0x2b, 0}, {12, 0x2b, 0}}, true},
      {"a rate outside the table leaves the line settings alone", ",payload49=010200004038000003000001", "",
       "None", {}, true},
      {"an IP mode the list lacks is not sent", ",ipmode=1", "9600", "None", {kPortOneDefault, kPortOneDefault},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    devsim_.reset();
    ASSERT_NO_FATAL_FAILURE(StartAndSelect(c.keys));
    Configure([&c](QDialog& d) {
      EXPECT_EQ(Combo(d, 1019)->currentText(), c.rate_shown);
      EXPECT_EQ(Combo(d, 1022)->currentText(), c.parity_shown);
      EXPECT_EQ(Combo(d, 1085)->currentIndex(), c.ip_mode_shown ? 0 : -1);
      // Visit every page and leave it, so each one reads its controls.
      Tick(d, 1001);
      ShowPage(d, 1);
      Tick(d, 1006);
      ShowPage(d, 2);
    });
    EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
    EXPECT_EQ(LineSettingsWritten(), c.written);
    EXPECT_TRUE(Payloads(kSetIPConfigCode).empty());
    const std::vector<int> codes = Codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kSaveRestart), 0) << "nothing changed";
  }
}

TEST_F(Configuration, PickingTheModeSendsIt) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect(",ipmode=1"));
  Configure([](QDialog& d) {
    Tick(d, 1001);
    Combo(d, 1085)->setCurrentIndex(0);
  });
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  const std::vector<Bytes> mode = Payloads(kSetIPConfigCode);
  ASSERT_EQ(mode.size(), 1u);
  EXPECT_EQ(mode[0][2], 0);
  EXPECT_EQ(Codes().back(), kSaveRestart);
}

TEST_F(Configuration, PasswordMismatchKeepsTheSheetOnTheSystemPage) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect());
  prompts_.scripts.push_back([this](QDialog& d) {
    auto* tabs = d.findChild<QTabWidget*>("pages");
    ShowPage(d, 2);
    Tick(d, 1012);
    Edit(d, 1015)->setText("secret");
    Edit(d, 1016)->setText("secreT");
    ShowPage(d, 0);
    EXPECT_EQ(tabs->currentIndex(), 2);
    ScriptedPrompts::Click(d, 1);
    EXPECT_EQ(d.result(), QDialog::Rejected) << "OK does not close it either";
    EXPECT_EQ(prompts_.messages, QStringList(2, "Confirm password different form password!"));
    // An empty password with a confirmation passes.
    Edit(d, 1015)->clear();
    ShowPage(d, 1);
    EXPECT_EQ(tabs->currentIndex(), 1);
    ScriptedPrompts::Click(d, 2);
  });
  frame_->OnCommand(kCmdConfiguration);
  EXPECT_EQ(Connections(), 0);
}

TEST_F(Configuration, CancelOnThePasswordPromptSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect(",password=1,pw=secret"));
  prompts_.scripts.push_back([](QDialog& d) { ScriptedPrompts::Click(d, 1); });
  prompts_.scripts.push_back([](QDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Password Check");
    ScriptedPrompts::Click(d, 2);
  });
  frame_->OnCommand(kCmdConfiguration);
  EXPECT_EQ(prompts_.messages, QStringList{"Can not continue without the rigth password!"});
  EXPECT_EQ(Connections(), 0);
  EXPECT_EQ(Posted(), 0);
}

TEST_F(Configuration, TheDevicesPasswordLogsInAndAWrongOneIsReported) {
  const struct {
    const char* typed;
    const char* message;  // null: none
  } cases[] = {{"secret", nullptr}, {"wrong", "dsc_Login() fail, error code: -5."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    devsim_.reset();
    ASSERT_NO_FATAL_FAILURE(StartAndSelect(",password=1,pw=secret"));
    prompts_.scripts.push_back([](QDialog& d) { ScriptedPrompts::Click(d, 1); });
    prompts_.scripts.push_back([&c](QDialog& d) {
      QTest::keyClicks(d.findChild<QLineEdit*>("1001"), c.typed);
      ScriptedPrompts::Click(d, 1);
    });
    Posted();
    posted_.count = 0;
    frame_->OnCommand(kCmdConfiguration);
    EXPECT_EQ(prompts_.messages, c.message ? QStringList{c.message} : QStringList{});
    EXPECT_EQ(Posted(), 1) << "a failed login is followed by the refresh too";
  }
}

}  // namespace
