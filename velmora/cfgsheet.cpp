#include "cfgsheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtEndian>

#include <cstring>

#include "dialogs.h"
#include "prompts.h"
#include "resource.h"
#include "searchipdlg.h"

using namespace velmora;

namespace velmora {

namespace {
constexpr uint32_t kRates[DSC_SERIAL_RATE_COUNT] = DSC_SERIAL_RATES;

QFont PageFont() {
  QFont font("Arial", 10);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

template <typename W>
W* WithId(W* widget, int id) {
  widget->setObjectName(QString::number(id));
  return widget;
}

QComboBox* DropDown(int id, std::initializer_list<const char*> choices) {
  auto* box = WithId(new QComboBox, id);
  for (const char* c : choices) box->addItem(c);
  return box;
}

// A choice index that has no entry in the list leaves it without a selection.
void Choose(QComboBox* box, int index) { box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1); }

QString Text(const char* bytes, size_t size) {
  return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, size)));
}

}  // namespace

int RateIndex(uint32_t rate) {
  for (int i = 0; i < DSC_SERIAL_RATE_COUNT; ++i) {
    if (kRates[i] == rate) return i;
  }
  return -1;
}

uint32_t TableRate(int index) { return kRates[index]; }

}  // namespace velmora

// ---- Ethernet ----------------------------------------------------------------

CEthernetPage::CEthernetPage(QWidget* parent)
    : CCfgPage(parent),
      change_(WithId(new QCheckBox(kChangeEthernet), kChangeEthernetId)),
      ip_(WithId(new CIPAddressCtrl, kIPAddressId)),
      netmask_(WithId(new CIPAddressCtrl, kIPNetmaskId)),
      gateway_(WithId(new CIPAddressCtrl, kIPGatewayId)),
      mode_(DropDown(kIPModeId, {kStaticIP})) {
  setWindowTitle(kEthernetCaption);
  setFont(PageFont());
  auto* form = new QFormLayout;
  form->addRow(kIPAddressLabel, ip_);
  form->addRow(kIPNetmaskLabel, netmask_);
  form->addRow(kIPGatewayLabel, gateway_);
  form->addRow(kIPModeLabel, mode_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(change_);
  layout->addLayout(form);
  layout->addStretch();
  connect(change_, &QCheckBox::clicked, this, [this] {
    ReadControls();
    EnableFields();
  });
  InitControls();
}

void CEthernetPage::LoadFromEntry(const DEVICEENTRY& entry) {
  if (entry.ifconfig != nullptr) {
    m_dwIPAddress = qFromBigEndian(entry.ifconfig->ip);
    m_dwNetmask = qFromBigEndian(entry.ifconfig->netmask);
    m_dwGateway = qFromBigEndian(entry.ifconfig->gateway);
  }
  m_nIPMode = entry.ip_mode;
  InitControls();
}

void CEthernetPage::InitControls() {
  change_->setChecked(m_bChange);
  Choose(mode_, m_nIPMode);
  EnableFields();
  ip_->SetAddress(m_dwIPAddress);
  netmask_->SetAddress(m_dwNetmask);
  gateway_->SetAddress(m_dwGateway);
}

void CEthernetPage::EnableFields() {
  for (QWidget* w : {static_cast<QWidget*>(ip_), static_cast<QWidget*>(netmask_), static_cast<QWidget*>(gateway_),
                     static_cast<QWidget*>(mode_)}) {
    w->setEnabled(change_->isChecked());
  }
}

void CEthernetPage::ReadControls() {
  m_bChange = change_->isChecked();
  // A device mode the list has no choice for stays as the device has it until the user picks one.
  if (mode_->currentIndex() >= 0) m_nIPMode = mode_->currentIndex();
  m_dwIPAddress = ip_->GetAddress();
  m_dwNetmask = netmask_->GetAddress();
  m_dwGateway = gateway_->GetAddress();
}

bool CEthernetPage::OnKillActive() {
  ReadControls();
  return true;
}

void CEthernetPage::StoreToEntry(DEVICEENTRY& entry) {
  entry.ifconfig = new IFCONFIGINFO();
  entry.ifconfig->ip = qToBigEndian(m_dwIPAddress);
  entry.ifconfig->netmask = qToBigEndian(m_dwNetmask);
  entry.ifconfig->gateway = qToBigEndian(m_dwGateway);
  entry.ip_mode = m_nIPMode;
}

// ---- Serial ------------------------------------------------------------------

CSerialPage::CSerialPage(QWidget* parent)
    : CCfgPage(parent),
      change_(WithId(new QCheckBox(kChangeSerial), kChangeSerialId)),
      rate_(WithId(new QComboBox, kBaudRateId)),
      parity_(DropDown(kParityId, {kParityChoices[0], kParityChoices[1], kParityChoices[2]})),
      data_bits_(DropDown(kDataBitsId, {kDataBitsChoices[0], kDataBitsChoices[1], kDataBitsChoices[2],
                                        kDataBitsChoices[3]})),
      stop_bits_(DropDown(kStopBitsId, {kStopBitsChoices[0], kStopBitsChoices[1]})),
      interface_(DropDown(kInterfaceTypeId, {kInterfaceChoices[0]})) {
  setWindowTitle(kSerialCaption);
  setFont(PageFont());
  auto* form = new QFormLayout;
  form->addRow(kBaudRateLabel, rate_);
  form->addRow(kParityLabel, parity_);
  form->addRow(kDataBitsLabel, data_bits_);
  form->addRow(kStopBitsLabel, stop_bits_);
  form->addRow(kInterfaceTypeLabel, interface_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(change_);
  layout->addLayout(form);
  layout->addStretch();
  for (int i = 0; i < DSC_SERIAL_RATE_COUNT; ++i) rate_->addItem(QString::number(TableRate(i)));
  connect(change_, &QCheckBox::clicked, this, [this] {
    ReadControls();
    EnableFields();
  });
  InitControls();
}

void CSerialPage::LoadFromEntry(const DEVICEENTRY& entry) {
  if (entry.serial != nullptr) {
    const int rate = RateIndex(entry.serial->rate);
    if (rate >= 0) m_nRate = rate;
    const uint8_t format = entry.serial->format;
    m_nDataBits = format & DSC_LINE_DATA_MASK;
    m_nStopBits = (format & DSC_LINE_STOP_TWO) != 0 ? 1 : 0;
    switch (format & DSC_LINE_PARITY_MASK) {
      case DSC_LINE_PARITY_NONE:
        m_nParity = 0;
        break;
      case DSC_LINE_PARITY_EVEN:
        m_nParity = 1;
        break;
      case DSC_LINE_PARITY_ODD:
        m_nParity = 2;
        break;
      default:
        break;
    }
  }
  m_nInterface = entry.interface_type;
  InitControls();
}

void CSerialPage::InitControls() {
  change_->setChecked(m_bChange);
  Choose(rate_, m_nRate);
  Choose(data_bits_, m_nDataBits);
  Choose(parity_, m_nParity);
  Choose(stop_bits_, m_nStopBits);
  Choose(interface_, m_nInterface);
  EnableFields();
}

void CSerialPage::EnableFields() {
  for (QComboBox* box : {rate_, parity_, data_bits_, stop_bits_, interface_}) box->setEnabled(change_->isChecked());
}

void CSerialPage::ReadControls() {
  m_bChange = change_->isChecked();
  // A list without a selection keeps the value it was loaded with (the device's, or -1 for none).
  const auto read = [](QComboBox* box, int& value) {
    if (box->currentIndex() >= 0) value = box->currentIndex();
  };
  read(rate_, m_nRate);
  read(data_bits_, m_nDataBits);
  read(parity_, m_nParity);
  read(stop_bits_, m_nStopBits);
  read(interface_, m_nInterface);
}

bool CSerialPage::OnKillActive() {
  ReadControls();
  return true;
}

void CSerialPage::StoreToEntry(DEVICEENTRY& entry) {
  // Until the new buffer replaces it, the edited entry still shares the device's own line settings.
  SERIALIOCTLINFO device{};
  if (entry.serial != nullptr) device = *entry.serial;
  entry.serial = new SERIALIOCTLINFO();
  // Without a table rate the device's rate stays, and the apply leaves its line settings alone.
  entry.serial->rate = m_nRate >= 0 && m_nRate < DSC_SERIAL_RATE_COUNT ? TableRate(m_nRate) : device.rate;
  entry.rate_index = m_nRate;
  int format = (m_nDataBits & DSC_LINE_DATA_MASK) | (m_nStopBits == 1 ? DSC_LINE_STOP_TWO : 0);
  if (m_nParity == 1) {
    format |= DSC_LINE_PARITY_EVEN;
  } else if (m_nParity == 2) {
    format |= DSC_LINE_PARITY_ODD;
  } else if (m_nParity < 0) {
    // A parity the list does not offer is kept as the device has it.
    format |= device.format & DSC_LINE_PARITY_MASK;
  }
  entry.serial->format = static_cast<uint8_t>(format);
  entry.interface_type = static_cast<uint8_t>(m_nInterface);
}

// ---- System ------------------------------------------------------------------

namespace {
QLineEdit* Edit(int id, int limit, bool masked) {
  auto* edit = WithId(new QLineEdit, id);
  edit->setMaxLength(limit);
  if (masked) edit->setEchoMode(QLineEdit::Password);
  return edit;
}
}  // namespace

CSystemPage::CSystemPage(QWidget* parent)
    : CCfgPage(parent),
      change_(WithId(new QCheckBox(kChangeSystem), kChangeSystemId)),
      name_(Edit(kServerNameId, kServerNameLimit, false)),
      password_(Edit(kNewPasswordId, kNewPasswordLimit, true)),
      confirm_(Edit(kConfirmPasswordId, kNewPasswordLimit, true)),
      key_(Edit(kPrivateKeyId, kPrivateKeyLimit, true)),
      confirm_key_(Edit(kConfirmPrivateKeyId, kPrivateKeyLimit, true)) {
  setWindowTitle(kSystemCaption);
  setFont(PageFont());
  auto* form = new QFormLayout;
  form->addRow(kServerNameLabel, name_);
  form->addRow(kPasswordLabel, password_);
  form->addRow(kConfirmLabel, confirm_);
  // The private key fields exist but are never shown.
  auto* key_label = new QLabel(kPrivateKeyLabel);
  auto* confirm_key_label = new QLabel(kConfirmLabel);
  form->addRow(key_label, key_);
  form->addRow(confirm_key_label, confirm_key_);
  for (QWidget* w : {static_cast<QWidget*>(key_label), static_cast<QWidget*>(confirm_key_label),
                     static_cast<QWidget*>(key_), static_cast<QWidget*>(confirm_key_)}) {
    w->setVisible(false);
  }
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(change_);
  layout->addLayout(form);
  layout->addStretch();
  connect(change_, &QCheckBox::clicked, this, [this] {
    ReadControls();
    EnableFields();
  });
  InitControls();
}

void CSystemPage::LoadFromEntry(const DEVICEENTRY& entry) {
  device_name_ = Text(entry.name, sizeof entry.name);
  m_strName = device_name_;
  InitControls();
}

void CSystemPage::InitControls() {
  change_->setChecked(m_bChange);
  name_->setText(m_strName);
  password_->setText(m_strPassword);
  confirm_->setText(m_strConfirm);
  key_->setText(m_strPrivateKey);
  confirm_key_->setText(m_strConfirmKey);
  EnableFields();
}

void CSystemPage::EnableFields() {
  const bool on = change_->isChecked();
  name_->setEnabled(on);
  password_->setEnabled(on);
  confirm_->setEnabled(on);
  // Hidden and disabled whatever the box says.
  key_->setEnabled(false);
  confirm_key_->setEnabled(false);
}

void CSystemPage::ReadControls() {
  m_bChange = change_->isChecked();
  // The field holds at most 16 characters: a longer device name left as shown is kept whole, not cut.
  const QString shown = device_name_.left(kServerNameLimit);
  m_strName = name_->text() == shown ? device_name_ : name_->text();
  m_strPassword = password_->text();
  m_strConfirm = confirm_->text();
  m_strPrivateKey = key_->text();
  m_strConfirmKey = confirm_key_->text();
}

bool CSystemPage::OnKillActive() {
  ReadControls();
  if (!m_strPassword.isEmpty() && m_strPassword != m_strConfirm) {
    UserPrompts().Message(this, kPasswordMismatch);
    return false;
  }
  if (!m_strPrivateKey.isEmpty() && m_strPrivateKey != m_strConfirmKey) {
    UserPrompts().Message(this, kPrivateKeyMismatch);
    return false;
  }
  return true;
}

void CSystemPage::StoreToEntry(DEVICEENTRY& entry) {
  std::memset(entry.name, 0, sizeof entry.name);
  // A name the user typed is at most 16 characters; the device's own one goes back as it came.
  const QByteArray name = (m_strName == device_name_ ? m_strName : m_strName.left(kServerNameLimit)).toLatin1();
  std::memcpy(entry.name, name.constData(), std::min(static_cast<size_t>(name.size()), sizeof entry.name - 1));
  if (m_bChange) {
    entry.password_change = 1;
    std::memset(entry.new_password, 0, sizeof entry.new_password);
    const QByteArray password = m_strPassword.left(kNewPasswordLimit).toLatin1();
    std::memcpy(entry.new_password, password.constData(), static_cast<size_t>(password.size()));
    std::memset(entry.private_key, 0, sizeof entry.private_key);
    const QByteArray key = m_strPrivateKey.left(kPrivateKeyLimit).toLatin1();
    std::memcpy(entry.private_key, key.constData(), static_cast<size_t>(key.size()));
  } else {
    entry.password_change = 0;
  }
}

// ---- The sheet -----------------------------------------------------------------

CCfgSheet::CCfgSheet(QWidget* parent) : QDialog(parent), tabs_(new QTabWidget), buttons_(new QDialogButtonBox) {
  setWindowTitle(kCfgSheetCaption);
  tabs_->setObjectName("pages");
  tabs_->addTab(&m_EthernetPage, kEthernetCaption);
  tabs_->addTab(&m_SerialPage, kSerialCaption);
  tabs_->addTab(&m_SystemPage, kSystemCaption);
  tabs_->setCurrentIndex(0);
  WithId(buttons_->addButton(kOk, QDialogButtonBox::AcceptRole), 1)->setDefault(true);
  WithId(buttons_->addButton(kCancel, QDialogButtonBox::RejectRole), 2);
  connect(buttons_, &QDialogButtonBox::accepted, this, &CCfgSheet::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(tabs_, &QTabWidget::currentChanged, this, &CCfgSheet::OnPageChanged);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);
}

CCfgPage* CCfgSheet::Page(int index) { return qobject_cast<CCfgPage*>(tabs_->widget(index)); }

void CCfgSheet::OnPageChanged(int index) {
  if (reverting_) return;
  CCfgPage* left = Page(current_);
  if (left != nullptr && !left->OnKillActive()) {
    reverting_ = true;
    tabs_->setCurrentIndex(current_);
    reverting_ = false;
    return;
  }
  current_ = index;
}

void CCfgSheet::accept() {
  CCfgPage* shown = Page(tabs_->currentIndex());
  if (shown != nullptr && !shown->OnKillActive()) return;
  QDialog::accept();
}
