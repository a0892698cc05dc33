#include "view.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QMouseEvent>
#include <QtEndian>

#include <cstring>
#include <memory>
#include <new>

#include "apply.h"
#include "cfgsheet.h"
#include "dialogs.h"
#include "mainframe.h"
#include "prompts.h"
#include "resource.h"
#include "search.h"
#include "searchipdlg.h"
#include "upgrade.h"

using namespace velmora;

CPelgrinView::CPelgrinView(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  setFrameShape(QFrame::StyledPanel);
}

// No signal from here: the main window that listens is already half destroyed.
CPelgrinView::~CPelgrinView() { ReleaseTable(); }

void CPelgrinView::OnInitialUpdate() {
  SetSelected(false, 0);
  setColumnCount(kColumnCount);
  QStringList titles;
  for (const Column& c : kColumns) titles << c.title;
  setHeaderLabels(titles);
  header()->setDefaultAlignment(Qt::AlignCenter);
  header()->setStretchLastSection(false);
  for (int i = 0; i < kColumnCount; ++i) setColumnWidth(i, kColumns[i].width);
}

void CPelgrinView::SetSelected(bool selected, int entry) {
  m_bSelected = selected;
  m_nSelectedEntry = entry;
  emit selectionFlagChanged(selected);
}

void CPelgrinView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    QTreeWidgetItem* hit = itemAt(event->position().toPoint());
    if (hit != nullptr) {
      SetSelected(true, hit->data(0, kEntryRole).toInt());
    } else {
      SetSelected(false, 0);
      clearSelection();
    }
  }
  QTreeWidget::mousePressEvent(event);
}

void CPelgrinView::OnUpdateDeviceCommand(QAction* action) const { action->setEnabled(m_bSelected); }

void CPelgrinView::PostCommand(int command) {
  QMetaObject::invokeMethod(
      this,
      [this, command] {
        if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->OnCommand(command);
      },
      Qt::QueuedConnection);
}

void CPelgrinView::ClearList() {
  SetSelected(false, 0);
  clear();
  ReleaseTable();
}

void CPelgrinView::ReleaseTable() {
  for (DEVICEENTRY& e : m_table) {
    // Without this the library's 256 sessions run out after a few hundred devices found.
    if (HoldsSession(e)) dsc_Detach(e.session);
    ReleaseEntry(e);
  }
}

void CPelgrinView::OnBroadcastSearch() {
  ClearList();
  std::unique_ptr<CWaitDlg> wait(new (std::nothrow) CWaitDlg(this));
  if (wait == nullptr) {
    UserPrompts().Message(this, kErrorCreatingDialog);
  } else {
    wait->Open(kBroadcastSearching);
  }
  std::unique_ptr<CSearchTask> task(new (std::nothrow) CSearchTask(this));
  const int found = task != nullptr ? task->Search(CSearchTask::kBroadcast, m_table, 0) : 0;
  wait.reset();
  task.reset();
  int row = 0;
  for (int i = 0; i < found; ++i) {
    if (FillRow(*this, row, m_table[i], i)) ++row;
  }
}

void CPelgrinView::OnSearchByIP() {
  ClearList();
  uint32_t address = 0;
  {
    std::unique_ptr<CSearchIPDlg> dialog(new (std::nothrow) CSearchIPDlg(this));
    if (dialog == nullptr || UserPrompts().RunModal(*dialog) != QDialog::Accepted) return;
    address = qToBigEndian(dialog->m_dwIPAddress);
  }
  std::unique_ptr<CWaitDlg> wait(new (std::nothrow) CWaitDlg(this));
  if (wait == nullptr) {
    UserPrompts().Message(this, kErrorCreatingDialog);
  } else {
    wait->Open(kSearchingByIP);
  }
  std::unique_ptr<CSearchTask> task(new (std::nothrow) CSearchTask(this));
  const int found = task != nullptr ? task->Search(CSearchTask::kByAddress, m_table, address) : 0;
  wait.reset();
  task.reset();
  if (found >= 1) FillRow(*this, 0, m_table[0], 0);
}

void CPelgrinView::OnConfiguration() {
  std::unique_ptr<CCfgSheet> sheet(new (std::nothrow) CCfgSheet(this));
  DEVICEENTRY edited{};
  if (sheet == nullptr || !m_bSelected) return;
  const DEVICEENTRY& selected = SelectedEntry();
  sheet->m_EthernetPage.LoadFromEntry(selected);
  sheet->m_SerialPage.LoadFromEntry(selected);
  sheet->m_SystemPage.LoadFromEntry(selected);
  if (UserPrompts().RunModal(*sheet) != QDialog::Accepted) return;

  std::memcpy(&edited, &selected, sizeof edited);
  sheet->m_EthernetPage.StoreToEntry(edited);
  sheet->m_SerialPage.StoreToEntry(edited);
  sheet->m_SystemPage.StoreToEntry(edited);
  char password[17];
  if (AskLoginPassword(this, selected, password)) {
    CApplyTask task(this);
    task.Apply(edited, selected, password);
    PostCommand(kCmdBroadcastSearch);
  }
  // These two still belong to the selected entry; the edited one owns only what its pages allocated.
  edited.kernel = nullptr;
  edited.apinfo = nullptr;
  ReleaseEntry(edited);
}

void CPelgrinView::OnUpgradeApplication() {
  if (!m_bSelected) return;
  const QString path = UserPrompts().OpenFileName(this, kUpgradeApplicationTitle,
                                                  QCoreApplication::applicationDirPath(), kApFilter);
  if (path.isEmpty()) return;
  UpgradeApplicationFile(path);
}

void CPelgrinView::UpgradeApplicationFile(const QString& path) { UpgradeFile(CUpgradeTask::kApplication, path); }

void CPelgrinView::OnUpgradeKernel() {
  if (!m_bSelected) return;
  const QString path = UserPrompts().OpenFileName(this, kUpgradeKernelTitle, QString(), kKernelFilter);
  if (path.isEmpty()) return;
  if (UpgradeFile(CUpgradeTask::kKernel, path)) PostCommand(kCmdBroadcastSearch);
}

void CPelgrinView::OnUpgradeFirmware() {
  if (!m_bSelected) return;
  const QString path = UserPrompts().OpenFileName(this, kUpgradeFirmwareTitle, QString(), kFirmwareFilter);
  if (path.isEmpty()) return;
  if (UpgradeFile(CUpgradeTask::kFirmware, path)) PostCommand(kCmdBroadcastSearch);
}

bool CPelgrinView::UpgradeFile(int kind, const QString& path) {
  struct Texts {
    const char* caption;
    const char* ok;
    const char* failed;
    bool pause;
  };
  static constexpr Texts kTexts[] = {
      {kUpgradingApplication, kUpgradeApOk, kUpgradeApFailed, false},
      {kUpgradingKernel, kUpgradeKernelOk, kUpgradeKernelFailed, true},
      {kUpgradingFirmware, kUpgradeFirmwareOk, kUpgradeFirmwareFailed, true},
  };
  const Texts& t = kTexts[kind];
  // The path goes to the library as the file system names it, whatever its length.
  const QByteArray file = QFile::encodeName(path);
  std::unique_ptr<CWaitDlg> wait(new (std::nothrow) CWaitDlg(this));
  if (wait == nullptr) {
    UserPrompts().Message(this, kErrorCreatingDialog);
  } else {
    wait->Open(t.caption);
  }
  const DEVICEENTRY& entry = SelectedEntry();
  char password[17];
  if (!AskLoginPassword(this, entry, password)) return false;
  std::unique_ptr<CUpgradeTask> task(new (std::nothrow) CUpgradeTask(this, wait.get()));
  const int result = task != nullptr ? task->Upgrade(entry, kind, password, file.constData()) : -1;
  if (result == 1) {
    if (t.pause) Pause(kUpgradePauseMs);
    UserPrompts().Message(this, t.ok);
  } else {
    UserPrompts().Message(this, t.failed);
  }
  return true;
}

void CPelgrinView::OnEraseFlash() {
  if (!m_bSelected) return;
  if (!UserPrompts().Question(this, kWarningCaption, kEraseQuestion)) return;
  const DEVICEENTRY& entry = SelectedEntry();
  char password[17];
  if (!AskLoginPassword(this, entry, password)) return;
  const int32_t s = entry.session;
  int32_t r = dsc_Login(s, password);
  if (r != DSC_OK) {
    ReportFailure(this, "dsc_Login", r);
    return;
  }
  if ((r = dsc_Erase_APConfig_Bank(s, 0)) != DSC_OK) {
    ReportFailure(this, "dsc_Erase_APConfig_Bank", r);
    dsc_Logout(s);
    return;
  }
  if ((r = dsc_SaveAndRestart(s)) != DSC_OK) {
    ReportFailure(this, "dsc_SaveAndRestart", r);
    dsc_Logout(s);
    return;
  }
  if ((r = dsc_Logout(s)) != DSC_OK) {
    ReportFailure(this, "dsc_Logout", r);
    return;
  }
  PostCommand(kCmdBroadcastSearch);
}
