#include "searchipdlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>

#include "dialogs.h"
#include "profile.h"
#include "resource.h"

using namespace velmora;

namespace velmora {
QString AddressListText(uint32_t a) {
  return QString::asprintf("%d.%d.%d.%d", static_cast<int>(a >> 24), static_cast<int>((a >> 16) & 0xff),
                           static_cast<int>((a >> 8) & 0xff), static_cast<int>(a & 0xff));
}
}  // namespace velmora

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) layout->addWidget(new QLabel("."));
    auto* field = new QLineEdit;
    field->setObjectName(QString("field%1").arg(i));
    field->setValidator(new QIntValidator(0, 255, field));
    field->setMaxLength(3);
    field->setAlignment(Qt::AlignCenter);
    field->setFixedWidth(field->fontMetrics().horizontalAdvance("0000") + 8);
    layout->addWidget(field);
    fields_[i] = field;
  }
  layout->addStretch();
}

uint32_t CIPAddressCtrl::GetAddress() const {
  uint32_t address = 0;
  // The validator still lets "300" through while it is typed; such a field counts as 255.
  for (const QLineEdit* field : fields_) address = (address << 8) | std::min(field->text().toUInt(), 255u);
  return address;
}

void CIPAddressCtrl::SetAddress(uint32_t address) {
  for (size_t i = 0; i < fields_.size(); ++i) fields_[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xff));
}

CSearchIPDlg::CSearchIPDlg(QWidget* parent) : QDialog(parent), address_(new CIPAddressCtrl), list_(new QListWidget) {
  setWindowTitle(kSearchIPCaption);
  QFont font("Arial", 10);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);

  address_->setObjectName(QString::number(kSearchIPAddressId));
  list_->setObjectName(QString::number(kSearchIPListId));
  list_->setSortingEnabled(true);
  auto* add = new QPushButton(kSearchIPAdd);
  add->setObjectName(QString::number(kSearchIPAddId));
  add->setAutoDefault(false);
  auto* remove = new QPushButton(kSearchIPRemove);
  remove->setObjectName(QString::number(kSearchIPRemoveId));
  remove->setAutoDefault(false);
  auto* ok = new QPushButton(kOk);
  ok->setObjectName("1");
  ok->setDefault(true);
  auto* cancel = new QPushButton(kCancel);
  cancel->setObjectName("2");
  cancel->setAutoDefault(false);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(kSearchIPLabel));
  top->addWidget(address_, 1);
  auto* group = new QGroupBox(kSearchIPGroup);
  auto* groupLayout = new QHBoxLayout(group);
  auto* listButtons = new QVBoxLayout;
  listButtons->addWidget(add);
  listButtons->addWidget(remove);
  listButtons->addStretch();
  groupLayout->addWidget(list_, 1);
  groupLayout->addLayout(listButtons);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  bottom->addWidget(ok);
  bottom->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(group, 1);
  layout->addLayout(bottom);
  SetDialogUnits(*this, 179, 133);

  connect(add, &QPushButton::clicked, this, &CSearchIPDlg::OnAdd);
  connect(remove, &QPushButton::clicked, this, &CSearchIPDlg::OnRemove);
  connect(ok, &QPushButton::clicked, this, &CSearchIPDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(list_, &QListWidget::itemSelectionChanged, this, &CSearchIPDlg::OnSelectionChanged);

  address_->SetAddress(m_dwIPAddress);
  QSettings profile = Profile();
  profile.beginGroup(kProfileSection);
  const int count = ReadProfileInt(profile, kProfileIpListCount);
  for (int i = 0; i < count; ++i) AddToList(static_cast<uint32_t>(ReadProfileInt(profile, AdrName(i))));
}

void CSearchIPDlg::AddToList(uint32_t address) {
  auto* item = new QListWidgetItem(AddressListText(address));
  item->setData(Qt::UserRole, address);
  list_->addItem(item);
}

void CSearchIPDlg::OnAdd() { AddToList(address_->GetAddress()); }

void CSearchIPDlg::OnRemove() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (!selected.isEmpty()) delete selected.first();
}

void CSearchIPDlg::OnSelectionChanged() {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  if (!selected.isEmpty()) address_->SetAddress(selected.first()->data(Qt::UserRole).toUInt());
}

void CSearchIPDlg::accept() {
  m_dwIPAddress = address_->GetAddress();
  QDialog::accept();
  WriteProfile();
}

void CSearchIPDlg::WriteProfile() const {
  QSettings profile = Profile();
  profile.beginGroup(kProfileSection);
  profile.setValue(kProfileIpListCount, list_->count());
  for (int i = 0; i < list_->count(); ++i) {
    profile.setValue(AdrName(i), static_cast<int>(list_->item(i)->data(Qt::UserRole).toUInt()));
  }
}
