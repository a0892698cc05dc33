// velmora-screenshots OUTDIR: renders the main window with a filled list, the Search by IP dialog, the waiting
// window, the password prompt, the three pages of the configuration sheet and an upgrade's progress offscreen into PNG files, so the look can be reviewed without a display.
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QTabWidget>

#include "app.h"
#include "cfgsheet.h"
#include "dialogs.h"
#include "mainframe.h"
#include "profile.h"
#include "searchipdlg.h"
#include "view.h"

namespace {

struct Sample {
  const char* name;
  uint8_t ip[4];
  uint8_t mac_tail;
  uint32_t app_id;
  uint16_t model;
  const char* apname;
  uint32_t apver;
  uint32_t kver;
  int32_t env;
};

constexpr Sample kSamples[] = {
    {"Hall-7", {10, 77, 0, 2}, 0x02, 0x80004012, 0x4512, "serial-bridge", 0x0205ff00, 0x01021a00, 0},
    {"Dock-North", {10, 77, 0, 5}, 0x05, 0x80004012, 0x4512, "modbus-gw", 0x01030400, 0x01021a00, 1},
    {"kept", {10, 77, 0, 3}, 0x03, 0x80004013, 0x4513, "never-shown", 0x01000000, 0x01000000, 0},
    {"far", {192, 168, 77, 2}, 0x04, 0x8000401f, 0x4512, "serial-bridge", 0x0205ff00, 0x02010000, 7},
};

bool Save(QWidget& widget, const QString& dir, const char* file) {
  const QString path = QDir(dir).filePath(file);
  if (!widget.grab().save(path, "PNG")) {
    std::fprintf(stderr, "velmora-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

void Fill(CPelgrinView& view) {
  int row = 0;
  int index = 0;
  for (const Sample& s : kSamples) {
    DEVICEENTRY& e = view.Table()[index];
    e.info.app_id = s.app_id;
    e.info.model = s.model;
    e.info.mac[0] = 0x02;
    e.info.mac[2] = 0x5e;
    e.info.mac[5] = s.mac_tail;
    std::memcpy(&e.info.device_ip, s.ip, 4);
    e.session = -1;
    e.ifconfig = new IFCONFIGINFO();
    std::memcpy(&e.ifconfig->ip, s.ip, 4);
    e.serial = new SERIALIOCTLINFO();
    std::snprintf(e.name, sizeof e.name, "%s", s.name);
    e.env_mode = s.env;
    e.kernel = new KERNELINFO();
    e.kernel->version = s.kver;
    e.apinfo = new APINFO();
    std::snprintf(e.apinfo->name, sizeof e.apinfo->name, "%s", s.apname);
    e.apinfo->version = s.apver;
    if (FillRow(view, row, e, index)) ++row;
    ++index;
  }
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  CPelgrinApp app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "velmora-screenshots: cannot create %s\n", qPrintable(out));
    return 1;
  }
  // A profile of its own, so the remembered list shown is the sample one.
  QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  {
    QSettings p = velmora::Profile();
    const uint32_t remembered[] = {0x0A4D0002, 0x09000001, 0xC0A84D02};
    p.setValue("Cfg/IpListCount", 3);
    for (int i = 0; i < 3; ++i) p.setValue(velmora::AdrName(i).prepend("Cfg/"), static_cast<int>(remembered[i]));
  }

  bool ok = true;
  CMainFrame frame;
  frame.setWindowTitle("Halvesk");
  Fill(*frame.View());
  frame.show();
  ok = Save(frame, out, "main-window.png") && ok;

  CSearchIPDlg search(&frame);
  search.show();
  ok = Save(search, out, "search-by-ip.png") && ok;
  search.hide();

  CWaitDlg wait(&frame);
  wait.Open("Broadcast Searching...");
  ok = Save(wait, out, "waiting-window.png") && ok;
  wait.hide();

  CPasswordDlg password(&frame);
  password.show();
  ok = Save(password, out, "password-prompt.png") && ok;
  password.hide();

  // The sheet for the first device, with the values the emulator reports for its port 1 (9600, 8N1).
  DEVICEENTRY& first = frame.View()->Table()[0];
  first.ifconfig->netmask = 0x00ffffff;
  std::memcpy(&first.ifconfig->gateway, "\x0a\x4d\x00\x01", 4);
  first.serial->rate = 9600;
  first.serial->format = 0x03;
  CCfgSheet sheet(&frame);
  sheet.m_EthernetPage.LoadFromEntry(first);
  sheet.m_SerialPage.LoadFromEntry(first);
  sheet.m_SystemPage.LoadFromEntry(first);
  sheet.show();
  const char* pages[] = {"config-ethernet.png", "config-serial.png", "config-system.png"};
  auto* tabs = sheet.findChild<QTabWidget*>("pages");
  for (int i = 0; i < 3; ++i) {
    tabs->setCurrentIndex(i);
    ok = Save(sheet, out, pages[i]) && ok;
  }
  sheet.hide();

  CWaitDlg upgrade(&frame);
  upgrade.Open("Upgrade Firmware file...");
  upgrade.SetProgress(20, 60);
  ok = Save(upgrade, out, "upgrade-progress.png") && ok;
  return ok ? 0 : 1;
}
