#pragma once

// CPelgrinView: the device list, its table of 100 entries and the device commands.

#include <QTreeWidget>

#include "entry.h"

class QAction;

class CPelgrinView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CPelgrinView(QWidget* parent = nullptr);
  ~CPelgrinView() override;

  void OnInitialUpdate();

  // Command handlers.
  void OnBroadcastSearch();
  void OnSearchByIP();
  void OnConfiguration();
  void OnUpgradeApplication();
  void UpgradeApplicationFile(const QString& path);
  void OnUpgradeKernel();
  void OnUpgradeFirmware();
  void OnEraseFlash();
  // Enables a device command while a row is selected.
  void OnUpdateDeviceCommand(QAction* action) const;

  // Queues the command for the main window: it runs after the current handler has returned.
  void PostCommand(int command);

  // Clears the selection, deletes every row and releases (and detaches) every entry.
  void ClearList();

  DEVICEENTRY* Table() { return m_table; }
  bool HasSelection() const { return m_bSelected; }
  // The entry of the selected row; only meaningful while HasSelection().
  DEVICEENTRY& SelectedEntry() { return m_table[m_nSelectedEntry]; }
  int SelectedEntryIndex() const { return m_nSelectedEntry; }

 signals:
  void selectionFlagChanged(bool selected);

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void SetSelected(bool selected, int entry);
  // Steps 2 to 7 of an upgrade command, after the file dialog; false when the password prompt stopped it.
  bool UpgradeFile(int kind, const QString& path);
  // Releases every entry, detaching the sessions they hold.
  void ReleaseTable();

  DEVICEENTRY m_table[velmora::kTableSize] = {};
  int m_nSelectedEntry = 0;
  bool m_bSelected = false;
};
