#pragma once

// The one way by which Velmora's message boxes and modal dialogs reach the user. The program installs the real
// one; tests install a scripted one that records the messages and answers the dialogs.

#include <QString>

class QDialog;
class QWidget;

namespace velmora {

class Prompts {
 public:
  virtual ~Prompts() = default;
  // A modal message box with an OK button, captioned with the application title.
  virtual void Message(QWidget* parent, const QString& text);
  // Runs the dialog modally; returns its result (QDialog::Accepted when it ended with OK).
  virtual int RunModal(QDialog& dialog);
  // The open-file dialog for an existing file, opening in `folder` (empty: the dialog's default); an empty text
  // when the user cancels.
  virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& folder, const QString& filter);
  // A modal Yes/No question with its own caption; true for Yes.
  virtual bool Question(QWidget* parent, const QString& caption, const QString& text);
};

// The installed prompts (the real ones unless a test installed its own).
Prompts& UserPrompts();
// Installs `prompts` (null: the real ones again); the caller keeps ownership.
void SetUserPrompts(Prompts* prompts);

// Shows "<export>() fail, error code: <result>."
void ReportFailure(QWidget* parent, const char* export_name, int result);

}  // namespace velmora
