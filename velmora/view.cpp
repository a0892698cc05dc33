#include "view.h"

#include <QAction>
#include <QHeaderView>
#include <QMouseEvent>
#include <QtEndian>

#include <memory>
#include <new>

#include "dialogs.h"
#include "mainframe.h"
#include "prompts.h"
#include "resource.h"
#include "search.h"
#include "searchipdlg.h"

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
