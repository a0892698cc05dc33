#pragma once

// Search by IP Address (dialog 131): the address to search and the remembered address list of the profile.

#include <QDialog>
#include <QWidget>

#include <array>
#include <cstdint>

class QLineEdit;
class QListWidget;
class QPushButton;

// Four fields of 0 to 255 with dots between, read and written as one 32-bit address in host order (first octet
// in the high byte); an empty field reads as 0.
class CIPAddressCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CIPAddressCtrl(QWidget* parent = nullptr);
  uint32_t GetAddress() const;
  void SetAddress(uint32_t address);

 private:
  std::array<QLineEdit*, 4> fields_{};
};

class CSearchIPDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CSearchIPDlg(QWidget* parent);

  // The address of the last OK, host order; 0 until then.
  uint32_t m_dwIPAddress = 0;

  void accept() override;

 private:
  void AddToList(uint32_t address);
  void OnAdd();
  void OnRemove();
  void OnSelectionChanged();
  void WriteProfile() const;

  CIPAddressCtrl* address_;
  QListWidget* list_;
};

namespace velmora {
// "%d.%d.%d.%d" from the four bytes of a host-order address, highest first.
QString AddressListText(uint32_t host_order);
}  // namespace velmora
