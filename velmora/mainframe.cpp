#include "mainframe.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app.h"
#include "resource.h"
#include "view.h"

using namespace velmora;

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), view_(new CPelgrinView) {
  view_->setObjectName("view");
  setCentralWidget(view_);
  BuildMenu();
  connect(view_, &CPelgrinView::selectionFlagChanged, this, &CMainFrame::UpdateDeviceCommands);
  view_->OnInitialUpdate();
  UpdateDeviceCommands();
  resize(930, 420);
}

void CMainFrame::BuildMenu() {
  std::map<QString, QMenu*> popups;
  for (const MenuItem& item : kMenu) {
    QMenu* popup = nullptr;
    if (item.popup != nullptr) {
      QMenu*& slot = popups[item.popup];
      if (slot == nullptr) slot = menuBar()->addMenu(item.popup);
      popup = slot;
    }
    if (item.text == nullptr) {
      popup->addSeparator();
      continue;
    }
    auto* action = new QAction(item.text, this);
    action->setObjectName(QString::number(item.command));
    if (item.prompt != nullptr) {
      const QStringList parts = QString(item.prompt).split('\n');
      action->setStatusTip(parts.value(0));
      if (parts.size() > 1) action->setToolTip(parts.value(1));
    }
    const int command = item.command;
    connect(action, &QAction::triggered, this, [this, command] { Dispatch(command); });
    if (popup != nullptr) {
      popup->addAction(action);
    } else {
      menuBar()->addAction(action);
    }
    actions_[command] = action;
  }
}

QAction* CMainFrame::Action(int command) const {
  auto it = actions_.find(command);
  return it != actions_.end() ? it->second : nullptr;
}

void CMainFrame::OnCommand(int command) {
  if (QAction* action = Action(command)) action->trigger();
}

void CMainFrame::Dispatch(int command) {
  if (running_) {
    held_.push_back(command);
    return;
  }
  running_ = true;
  switch (command) {
    case kCmdBroadcastSearch:
      view_->OnBroadcastSearch();
      break;
    case kCmdSearchByIP:
      view_->OnSearchByIP();
      break;
    case kCmdConfiguration:
      view_->OnConfiguration();
      break;
    case kCmdUpgradeApplication:
      view_->OnUpgradeApplication();
      break;
    case kCmdUpgradeKernel:
      view_->OnUpgradeKernel();
      break;
    case kCmdUpgradeFirmware:
      view_->OnUpgradeFirmware();
      break;
    case kCmdEraseFlash:
      view_->OnEraseFlash();
      break;
    case kCmdAppExit:
      close();
      break;
    case kCmdAppAbout:
      CPelgrinApp::OnAppAbout(this);
      break;
    default:
      break;
  }
  running_ = false;
  std::vector<int> held;
  held.swap(held_);
  for (int c : held) view_->PostCommand(c);
}

void CMainFrame::UpdateDeviceCommands() {
  for (int command : kDeviceCommands) {
    if (QAction* action = Action(command)) view_->OnUpdateDeviceCommand(action);
  }
}
