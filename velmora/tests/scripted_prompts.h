#pragma once

// Test side of Velmora's prompts seam: records every message and answers each modal dialog with the next script.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <deque>
#include <functional>

#include "prompts.h"

class ScriptedPrompts : public velmora::Prompts {
 public:
  using Script = std::function<void(QDialog&)>;

  ScriptedPrompts() { velmora::SetUserPrompts(this); }
  ~ScriptedPrompts() override { velmora::SetUserPrompts(nullptr); }

  void Message(QWidget*, const QString& text) override {
    messages << text;
    if (on_message) on_message(text);
  }

  // Shows the dialog as the real modal loop would and lets the next script work it; the dialog's result is
  // whatever the script's clicks made of it.
  int RunModal(QDialog& dialog) override {
    ++dialogs_run;
    if (scripts.empty()) {
      ADD_FAILURE() << "unexpected dialog " << dialog.windowTitle().toStdString();
      return QDialog::Rejected;
    }
    Script script = std::move(scripts.front());
    scripts.pop_front();
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) ADD_FAILURE() << "dialog not shown";
    script(dialog);
    dialog.hide();
    return dialog.result();
  }

  QString OpenFileName(QWidget*, const QString& title, const QString& folder, const QString& filter) override {
    file_dialogs << QStringList{title, folder, filter};
    if (files.empty()) {
      ADD_FAILURE() << "unexpected file dialog";
      return {};
    }
    QString f = files.front();
    files.pop_front();
    return f;
  }

  bool Question(QWidget*, const QString& caption, const QString& text) override {
    questions << caption + "|" + text;
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question " << text.toStdString();
      return false;
    }
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }

  // Clicks the dialog's button with the given control number.
  static void Click(QDialog& dialog, int id) {
    auto* button = dialog.findChild<QPushButton*>(QString::number(id));
    ASSERT_NE(button, nullptr) << "no button " << id;
    QTest::mouseClick(button, Qt::LeftButton);
  }

  QStringList messages;
  std::function<void(const QString&)> on_message;  // sees each message while it is shown
  std::deque<Script> scripts;
  std::deque<QString> files;  // answers of the file dialog: a path, or empty for Cancel
  QList<QStringList> file_dialogs;  // title, folder, filter of each file dialog shown
  std::deque<bool> answers;    // answers of the questions: true for Yes
  QStringList questions;       // "caption|text" of each question asked
  int dialogs_run = 0;
};
