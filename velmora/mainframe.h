#pragma once

// CMainFrame: the main window, its menu and the view; every command goes through OnCommand.

#include <QMainWindow>

#include <map>
#include <vector>

class QAction;
class CPelgrinView;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(QWidget* parent = nullptr);

  CPelgrinView* View() const { return view_; }
  // The menu item of a command number; null when the menu has none.
  QAction* Action(int command) const;
  // Runs a command as if its menu item were chosen; a disabled command does nothing. A command that arrives
  // while another one runs is held back until that one has returned.
  void OnCommand(int command);

 private:
  void BuildMenu();
  void Dispatch(int command);
  void UpdateDeviceCommands();

  CPelgrinView* view_;
  std::map<int, QAction*> actions_;
  bool running_ = false;
  std::vector<int> held_;
};
