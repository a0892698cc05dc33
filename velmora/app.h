#pragma once

// CPelgrinApp: the application object; start-up, profile and the About command.

#include <QApplication>

#include <memory>

class CMainFrame;

class CPelgrinApp : public QApplication {
  Q_OBJECT

 public:
  CPelgrinApp(int& argc, char** argv);
  ~CPelgrinApp() override;

  // Creates and shows the main window; false when that fails and the program must end.
  bool InitInstance();
  CMainFrame* MainFrame() const { return frame_.get(); }

  // Command 57664: the About box, modal.
  static void OnAppAbout(QWidget* parent);

 private:
  std::unique_ptr<CMainFrame> frame_;
};
