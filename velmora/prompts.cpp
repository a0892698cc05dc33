#include "prompts.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

#include "resource.h"

namespace velmora {
namespace {

Prompts g_real;
Prompts* g_installed = &g_real;

}  // namespace

void Prompts::Message(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, kAppTitle, text, QMessageBox::Ok, parent);
  box.exec();
}

int Prompts::RunModal(QDialog& dialog) { return dialog.exec(); }

QString Prompts::OpenFileName(QWidget* parent, const QString& title, const QString& folder, const QString& filter) {
  QFileDialog dialog(parent, title, folder, filter);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

bool Prompts::Question(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
  return box.exec() == QMessageBox::Yes;
}

Prompts& UserPrompts() { return *g_installed; }

void SetUserPrompts(Prompts* prompts) { g_installed = prompts != nullptr ? prompts : &g_real; }

void ReportFailure(QWidget* parent, const char* export_name, int result) {
  UserPrompts().Message(parent, QString::asprintf(kFailFormat, export_name, result));
}

}  // namespace velmora
