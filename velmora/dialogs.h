#pragma once

// The small dialogs every command shares: the waiting window (dialog 133), the login password prompt (dialog
// 135) and the About box (dialog 100).

#include <QDialog>

class QLabel;
class QLineEdit;
class QProgressBar;
struct DEVICEENTRY;

namespace velmora {

// Fixes a dialog's size from dialog units of its font (a quarter of the average character width across, an
// eighth of the character height down), never smaller than its layout needs.
void SetDialogUnits(QDialog& dialog, int width, int height);

// Waits `ms` milliseconds on the program's thread; windows keep painting, but no user input is taken.
void Pause(int ms);

}  // namespace velmora

// Modeless waiting window shown while a search or upgrade blocks the program.
class CWaitDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CWaitDlg(QWidget* parent);
  // Sets the caption, shows the window and paints it at once.
  void Open(const QString& caption);
  // Shows the progress of an upload (stage 20: sending, stage 40: the device storing, percent 0 to 100) and
  // paints the window, which would otherwise stay frozen for the whole upload.
  void SetProgress(int stage, int percent);

 private:
  void Paint();

  QString text_;
  QLabel* label_;
  QProgressBar* bar_;
};

// Password Check (dialog 135).
class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CPasswordDlg(QWidget* parent);
  QString Password() const;

 private:
  QLineEdit* edit_;
};

// About Velmora (dialog 100).
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent);
};

// Gets the login password for the entry's device into password[17] (empty when the device has none); false means
// the user cancelled and the command must stop.
bool AskLoginPassword(QWidget* parent, const DEVICEENTRY& entry, char password[17]);
