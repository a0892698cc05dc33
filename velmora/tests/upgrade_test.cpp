// The upgrade commands and Erase Flash through the real main window against tarnix-devsim.
#include <dlfcn.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>

#include <cstring>

#include "device_fixture.h"
#include "dialogs.h"

namespace {

// The upgrade time-out cannot be read back from the library, so the calls that matter are recorded on their way
// to it.
std::vector<std::string> g_calls;

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int32_t DSC_CALL dsc_LibSetUpgTimeout(int32_t session, int32_t timeout) {
  g_calls.push_back("dsc_LibSetUpgTimeout " + std::to_string(timeout));
  return Real<int32_t (*)(int32_t, int32_t)>("dsc_LibSetUpgTimeout")(session, timeout);
}

extern "C" int32_t DSC_CALL dsc_UpgradeAPKernel(int32_t session, const char* path) {
  g_calls.push_back("dsc_UpgradeAPKernel");
  return Real<int32_t (*)(int32_t, const char*)>("dsc_UpgradeAPKernel")(session, path);
}

namespace {

using namespace velmora;

constexpr uint32_t kNewAppVersion = 0x01050700;     // shown 1.5.7
constexpr uint32_t kNewKernelVersion = 0x02030400;  // shown 2.3.4

// An image the emulator recognises: "TDVI", the version (u32 little-endian), a 40-byte name, then the body.
QByteArray Image(uint32_t version, const char* name, int body) {
  QByteArray b("TDVI");
  for (int i = 0; i < 4; ++i) b.append(static_cast<char>((version >> (8 * i)) & 0xff));
  QByteArray n(40, '\0');
  std::memcpy(n.data(), name, std::strlen(name));
  b.append(n);
  for (int i = 0; i < body; ++i) b.append(static_cast<char>(i * 7));
  return b;
}

void PutLe(QByteArray& b, int at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// "*FRM", section descriptors at 64 and 80 (type u16, offset u32 at 4, length u32 at 8): kernel, then application.
QByteArray Firmware(const QByteArray& kernel, const QByteArray& application) {
  QByteArray f(96, '\0');
  std::memcpy(f.data(), "*FRM", 4);
  PutLe(f, 64, 1, 2);
  PutLe(f, 68, 96, 4);
  PutLe(f, 72, static_cast<uint32_t>(kernel.size()), 4);
  PutLe(f, 80, 3, 2);
  PutLe(f, 84, static_cast<uint32_t>(96 + kernel.size()), 4);
  PutLe(f, 88, static_cast<uint32_t>(application.size()), 4);
  return f + kernel + application;
}

struct Kind {
  const char* what;
  int command;
  const char* file;
  const char* title;
  const char* filter;
  bool own_folder;
  const char* ok;
  const char* failed;
  const char* export_name;
  bool refresh;
  const char* app_version;     // column 5 after a successful upgrade
  const char* kernel_version;  // column 6
  const char* caption;         // of the waiting window
};

const Kind kKinds[] = {
    {"application", kCmdUpgradeApplication, "new.ap", "Open Application File to download", "AP File (*.ap)", true,
     "Upgrade AP OK!", "Upgrade AP Failed!", "dsc_UpgradeAP", false, "1.5.7", "2.1.0", "Upgrade Application file..."},
    {"kernel", kCmdUpgradeKernel, "new.rom", "Open Kernel File to download", "Kernel File (*.rom)", false,
     "Upgrade Kernel OK!", "Upgrade Kernel Failed!", "dsc_UpgradeKernel", true, "1.2.3", "2.3.4", "Upgrade Kernel file..."},
    {"firmware", kCmdUpgradeFirmware, "new.frm", "Open Firmware File to download", "Firmware File (*.frm)", false,
     "Upgrade Firmware OK!", "Upgrade Firmware Failed!", "dsc_UpgradeAPKernel", true, "1.5.7", "2.3.4", "Upgrade Firmware file..."},
};

class Upgrade : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
    const QByteArray app = Image(kNewAppVersion, "new-bridge", 3000);
    const QByteArray kernel = Image(kNewKernelVersion, "", 2000);
    Write("new.ap", app);
    Write("new.rom", kernel);
    Write("new.frm", Firmware(kernel, app));
    g_calls.clear();
  }
  void Write(const char* name, const QByteArray& bytes) {
    QFile f(dir_.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }
  QString Path(const char* name) const { return dir_.filePath(name); }
  int Stored(int code) const {
    int n = 0;
    const std::string prefix = "stored:" + std::to_string(code) + ":";
    for (const lab::LogEntry& e : devsim_->Received()) n += e.marker.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  QTemporaryDir dir_;
};

TEST_F(Upgrade, EachKindSucceedsAndTheDeviceReportsTheNewVersion) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.what);
    devsim_.reset();
    ASSERT_NO_FATAL_FAILURE(StartAndSelect());
    Posted();
    posted_.count = 0;
    prompts_.files.push_back(Path(k.file));
    prompts_.file_dialogs.clear();
    // What the waiting window shows while the verdict is on screen.
    QString caption;
    QString progress;
    qint64 shown_after = -1;
    QElapsedTimer clock;
    prompts_.on_message = [&](const QString&) {
      shown_after = clock.elapsed();
      auto* wait = view().findChild<CWaitDlg*>();
      if (wait == nullptr) return;
      caption = wait->windowTitle();
      auto* bar = wait->findChild<QProgressBar*>("progress");
      if (bar != nullptr && bar->isVisible()) progress = bar->text();
    };
    clock.start();
    frame_->OnCommand(k.command);
    prompts_.on_message = nullptr;
    EXPECT_EQ(prompts_.messages, QStringList{k.ok});
    ASSERT_EQ(prompts_.file_dialogs.size(), 1);
    EXPECT_EQ(prompts_.file_dialogs[0][0], k.title);
    EXPECT_EQ(prompts_.file_dialogs[0][1], k.own_folder ? QCoreApplication::applicationDirPath() : QString());
    EXPECT_EQ(prompts_.file_dialogs[0][2], k.filter);
    EXPECT_EQ(caption, k.caption);
    EXPECT_EQ(progress, "Storing 100%");
    if (k.refresh) {
      EXPECT_GE(shown_after, 2000) << "the success message comes after the pause";
    } else {
      EXPECT_LT(shown_after, 2000);
    }
    EXPECT_EQ(Posted(), k.refresh ? 1 : 0);
    if (k.command == kCmdUpgradeApplication) {
      EXPECT_EQ(Stored(8), 1);
      EXPECT_EQ(Payloads(9), std::vector<Bytes>{(Bytes{1})}) << "the application is started";
      EXPECT_EQ(rows(), 1) << "the list stays as it was";
      EXPECT_TRUE(view().HasSelection());
    }
    ASSERT_NO_FATAL_FAILURE(SearchAndSelect());
    EXPECT_EQ(cell(0, 5), k.app_version);
    EXPECT_EQ(cell(0, 6), k.kernel_version);
  }
}

TEST_F(Upgrade, RefusedImageShowsTheCallsMessageThenTheCommands) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.what);
    devsim_.reset();
    ASSERT_NO_FATAL_FAILURE(StartAndSelect(",upload_status=254"));
    Posted();
    posted_.count = 0;
    prompts_.files.push_back(Path(k.file));
    frame_->OnCommand(k.command);
    EXPECT_EQ(prompts_.messages, (QStringList{QString(k.export_name) + "() fail, error code: -7.", k.failed}));
    EXPECT_EQ(Posted(), k.refresh ? 1 : 0) << "kernel and firmware refresh whatever the result";
    EXPECT_EQ(view().findChild<CWaitDlg*>(), nullptr) << "the waiting window is closed";
  }
}

TEST_F(Upgrade, FirmwareSetsTheUpgradeTimeoutBeforeTheUpload) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect());
  prompts_.files.push_back(Path("new.frm"));
  frame_->OnCommand(kCmdUpgradeFirmware);
  EXPECT_EQ(prompts_.messages, QStringList{"Upgrade Firmware OK!"});
  EXPECT_EQ(g_calls, (std::vector<std::string>{"dsc_LibSetUpgTimeout 85000", "dsc_UpgradeAPKernel"}));
  EXPECT_EQ(Stored(5), 1);
  EXPECT_EQ(Stored(8), 1);
}

TEST_F(Upgrade, CancelInTheFileDialogOrOnThePasswordPromptSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect(",password=1,pw=secret"));
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.what);
    prompts_.messages.clear();
    prompts_.files.push_back(QString());
    frame_->OnCommand(k.command);
    EXPECT_TRUE(prompts_.messages.isEmpty());
    prompts_.files.push_back(Path(k.file));
    prompts_.scripts.push_back([](QDialog& d) { ScriptedPrompts::Click(d, 2); });
    frame_->OnCommand(k.command);
    EXPECT_EQ(prompts_.messages, QStringList{"Can not continue without the rigth password!"});
    EXPECT_EQ(view().findChild<CWaitDlg*>(), nullptr);
  }
  EXPECT_EQ(Connections(), 0);
  EXPECT_EQ(Posted(), 0);
}

TEST_F(Upgrade, EraseAsksFirstSendsNothingOnNoAndRefreshesAfterYes) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect());
  prompts_.answers.push_back(false);
  frame_->OnCommand(kCmdEraseFlash);
  ASSERT_EQ(prompts_.questions.size(), 1);
  EXPECT_EQ(prompts_.questions[0],
            "Warning|Do you really want to erase the configuration on the system?\n\nSystem will start up with "
            "default settings!");
  EXPECT_EQ(Connections(), 0);
  EXPECT_EQ(Posted(), 0);

  prompts_.answers.push_back(true);
  frame_->OnCommand(kCmdEraseFlash);
  EXPECT_TRUE(prompts_.messages.isEmpty()) << prompts_.messages.join("|").toStdString();
  EXPECT_EQ(Codes(), (std::vector<int>{kChallenge, kLoginCode, 29, kSaveRestart}));
  EXPECT_EQ(Payloads(29), std::vector<Bytes>{(Bytes{0})});
  EXPECT_EQ(Posted(), 1);
}

TEST_F(Upgrade, EraseStopsAtTheFirstFailure) {
  ASSERT_NO_FATAL_FAILURE(StartAndSelect(",cmd_status=29:254"));
  prompts_.answers.push_back(true);
  frame_->OnCommand(kCmdEraseFlash);
  EXPECT_EQ(prompts_.messages, QStringList{"dsc_Erase_APConfig_Bank() fail, error code: -7."});
  EXPECT_EQ(Codes(), (std::vector<int>{kChallenge, kLoginCode, 29}));
  EXPECT_EQ(Posted(), 0);
}

}  // namespace
