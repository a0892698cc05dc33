#pragma once

// The configuration sheet: a tab dialog with the Ethernet (dialog 132), Serial (134) and System (136) pages,
// each built from the selected entry and writing its values into the edited entry.

#include <QDialog>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "entry.h"

class CIPAddressCtrl;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;
class QTabWidget;

// A page of the sheet. Its values live in members: the controls are read only when the page is left, so a page
// the user never opens writes back what LoadFromEntry gave it.
class CCfgPage : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
  virtual void LoadFromEntry(const DEVICEENTRY& entry) = 0;
  virtual void StoreToEntry(DEVICEENTRY& entry) = 0;
  // Leaving the page: reads the controls; false keeps the sheet on the page.
  virtual bool OnKillActive() = 0;

 protected:
  // Puts the values into the controls and enables the fields by the change flag.
  virtual void InitControls() = 0;
};

class CEthernetPage : public CCfgPage {
  Q_OBJECT

 public:
  explicit CEthernetPage(QWidget* parent = nullptr);
  void LoadFromEntry(const DEVICEENTRY& entry) override;
  void StoreToEntry(DEVICEENTRY& entry) override;
  bool OnKillActive() override;

  bool m_bChange = false;
  uint32_t m_dwIPAddress = 0;  // host order
  uint32_t m_dwNetmask = 0;
  uint32_t m_dwGateway = 0;
  int m_nIPMode = -1;

 protected:
  void InitControls() override;

 private:
  void ReadControls();
  void EnableFields();

  QCheckBox* change_;
  CIPAddressCtrl* ip_;
  CIPAddressCtrl* netmask_;
  CIPAddressCtrl* gateway_;
  QComboBox* mode_;
};

class CSerialPage : public CCfgPage {
  Q_OBJECT

 public:
  explicit CSerialPage(QWidget* parent = nullptr);
  void LoadFromEntry(const DEVICEENTRY& entry) override;
  void StoreToEntry(DEVICEENTRY& entry) override;
  bool OnKillActive() override;

  bool m_bChange = false;
  int m_nRate = -1;
  int m_nDataBits = -1;
  int m_nParity = -1;
  int m_nStopBits = -1;
  int m_nInterface = -1;

 protected:
  void InitControls() override;

 private:
  void ReadControls();
  void EnableFields();

  QCheckBox* change_;
  QComboBox* rate_;
  QComboBox* parity_;
  QComboBox* data_bits_;
  QComboBox* stop_bits_;
  QComboBox* interface_;
};

class CSystemPage : public CCfgPage {
  Q_OBJECT

 public:
  explicit CSystemPage(QWidget* parent = nullptr);
  void LoadFromEntry(const DEVICEENTRY& entry) override;
  void StoreToEntry(DEVICEENTRY& entry) override;
  bool OnKillActive() override;

  bool m_bChange = false;
  QString m_strName;
  QString m_strPassword;
  QString m_strConfirm;
  QString m_strPrivateKey;
  QString m_strConfirmKey;

 protected:
  void InitControls() override;

 private:
  void ReadControls();
  void EnableFields();

  // The device's own name, which may be longer than the field takes; kept while the field is not edited.
  QString device_name_;
  QCheckBox* change_;
  QLineEdit* name_;
  QLineEdit* password_;
  QLineEdit* confirm_;
  QLineEdit* key_;
  QLineEdit* confirm_key_;
};

// "Configuration": the three pages in the order Ethernet, Serial, System, with OK and Cancel.
class CCfgSheet : public QDialog {
  Q_OBJECT

 public:
  explicit CCfgSheet(QWidget* parent);

  CEthernetPage m_EthernetPage;
  CSerialPage m_SerialPage;
  CSystemPage m_SystemPage;

  void accept() override;

 private:
  void OnPageChanged(int index);
  CCfgPage* Page(int index);

  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  int current_ = 0;
  bool reverting_ = false;
};

namespace velmora {
// Position of a rate in DSC_SERIAL_RATES, or -1.
int RateIndex(uint32_t rate);
// The rate at a position of DSC_SERIAL_RATES; the index must be 0 to 17.
uint32_t TableRate(int index);
}  // namespace velmora
