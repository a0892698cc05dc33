#include "app.h"

#include <QStyle>

#include <new>

#include "dialogs.h"
#include "mainframe.h"
#include "prompts.h"
#include "resource.h"

using namespace velmora;

CPelgrinApp::CPelgrinApp(int& argc, char** argv) : QApplication(argc, argv) {
  // The profile lives under Orvik/Halvesk (QSettings(organizationName(), applicationName())).
  setOrganizationName(kProfileCompany);
  setApplicationName(kAppTitle);
  setApplicationDisplayName(kAppTitle);
  setWindowIcon(style()->standardIcon(QStyle::SP_ComputerIcon));
}

CPelgrinApp::~CPelgrinApp() = default;

bool CPelgrinApp::InitInstance() {
  // Velmora has no options of its own: arguments other than Qt's are ignored.
  frame_.reset(new (std::nothrow) CMainFrame);
  if (frame_ == nullptr) return false;
  frame_->show();
  frame_->repaint();
  frame_->setWindowTitle(kAppTitle);
  return true;
}

void CPelgrinApp::OnAppAbout(QWidget* parent) {
  CAboutDlg about(parent);
  UserPrompts().RunModal(about);
}
