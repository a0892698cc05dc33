#pragma once

// The small dialogs every command shares: the waiting window (dialog 133), the login password prompt (dialog
// 135) and the About box (dialog 100).

#include <QDialog>

class QLabel;
class QLineEdit;
struct DEVICEENTRY;

namespace velmora {

// Fixes a dialog's size from dialog units of its font (a quarter of the average character width across, an
// eighth of the character height down), never smaller than its layout needs.
void SetDialogUnits(QDialog& dialog, int width, int height);

}  // namespace velmora

// Modeless waiting window shown while a search or upgrade blocks the program.
class CWaitDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CWaitDlg(QWidget* parent);
  // Sets the caption, shows the window and paints it at once.
  void Open(const QString& caption);

 private:
  QString text_;
  QLabel* label_;
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
