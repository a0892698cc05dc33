#include "dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cstring>
#include <new>

#include "entry.h"
#include "prompts.h"
#include "resource.h"

namespace velmora {

void SetDialogUnits(QDialog& dialog, int width, int height) {
  const QFontMetrics fm(dialog.font());
  const QSize wanted(width * fm.averageCharWidth() / 4, height * fm.height() / 8);
  dialog.setFixedSize(wanted.expandedTo(dialog.sizeHint()));
}

namespace {

QFont DialogFont(const char* family, int points) {
  QFont font(family, points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QWidget* WithId(QWidget* widget, int id) {
  widget->setObjectName(QString::number(id));
  return widget;
}

}  // namespace
}  // namespace velmora

using namespace velmora;

CWaitDlg::CWaitDlg(QWidget* parent) : QDialog(parent), text_(kWaitText), label_(new QLabel), bar_(new QProgressBar) {
  setFont(DialogFont("System", 10));
  setModal(false);
  WithId(label_, kWaitTextId);
  label_->setText(text_);
  label_->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  bar_->setObjectName("progress");
  bar_->setRange(0, 100);
  bar_->setValue(0);
  layout->addWidget(bar_);
  // Only an upload reports progress; a search shows the text alone.
  bar_->hide();
  SetDialogUnits(*this, 129, 30);
}

void CWaitDlg::SetProgress(int stage, int percent) {
  bar_->setFormat(stage == 40 ? kProgressStoring : kProgressSending);
  bar_->setValue(std::clamp(percent, 0, 100));
  if (bar_->isHidden()) {
    bar_->show();
    setFixedSize(size().expandedTo(sizeHint()));
  }
  Paint();
}

void CWaitDlg::Paint() {
  repaint();
  // Window-system events only: no input reaches the program, and commands posted meanwhile are held back by the
  // frame until the current one ends.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void velmora::Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void CWaitDlg::Open(const QString& caption) {
  setWindowTitle(caption);
  show();
  // The program blocks right after this, so the window must be on screen first. Only window-system events are
  // taken here (no input); commands posted meanwhile are held back by the frame until the current one ends.
  QElapsedTimer waited;
  waited.start();
  while (windowHandle() != nullptr && !windowHandle()->isExposed() && waited.elapsed() < 500) {
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
  }
  repaint();
  // Hands the painted window to the window system before the program blocks.
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent), edit_(new QLineEdit) {
  setWindowTitle(kPasswordCaption);
  setFont(DialogFont("Arial", 10));
  WithId(edit_, kPasswordEditId);
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMaxLength(kMaxPasswordLength);
  auto* buttons = new QDialogButtonBox;
  WithId(buttons->addButton(kOk, QDialogButtonBox::AcceptRole), 1)->setProperty("default", true);
  WithId(buttons->addButton(kCancel, QDialogButtonBox::RejectRole), 2);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(kPasswordLine1));
  layout->addWidget(new QLabel(kPasswordLine2));
  layout->addWidget(edit_);
  layout->addWidget(buttons);
  SetDialogUnits(*this, 159, 60);
}

QString CPasswordDlg::Password() const { return edit_->text(); }

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kAboutCaption);
  setFont(DialogFont("MS Sans Serif", 8));
  auto* icon = new QLabel;
  icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
  icon->setObjectName("icon");
  auto* ok = new QPushButton(kOk);
  WithId(ok, 1);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(icon);
  layout->addWidget(new QLabel(kAboutText), 1);
  layout->addWidget(ok, 0, Qt::AlignTop);
  SetDialogUnits(*this, 235, 55);
}

bool AskLoginPassword(QWidget* parent, const DEVICEENTRY& entry, char password[17]) {
  password[0] = '\0';
  if (entry.kernel == nullptr || (entry.kernel->flags & DSC_KERNEL_FLAG_PASSWORD) == 0) return true;
  auto* prompt = new (std::nothrow) CPasswordDlg(parent);
  if (prompt == nullptr) {
    UserPrompts().Message(parent, kErrorCreatingDialog);
    return true;
  }
  if (UserPrompts().RunModal(*prompt) != QDialog::Accepted) {
    UserPrompts().Message(parent, kNeedPassword);
    delete prompt;
    return false;
  }
  const QByteArray typed = prompt->Password().toLatin1().left(kMaxPasswordLength);
  std::memcpy(password, typed.constData(), static_cast<size_t>(typed.size()));
  password[typed.size()] = '\0';
  delete prompt;
  return true;
}
