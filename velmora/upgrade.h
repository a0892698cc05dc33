#pragma once

// CUpgradeTask: loads an application, kernel or firmware image into the device of an entry.

#include "entry.h"

class CWaitDlg;
class QWidget;

class CUpgradeTask {
 public:
  enum Kind { kApplication = 0, kKernel = 1, kFirmware = 2 };

  // Messages are shown over `parent`; `progress`, when not null, shows how the upload goes.
  CUpgradeTask(QWidget* parent, CWaitDlg* progress) : parent_(parent), progress_(progress) {}

  // Logs in with password[17], uploads the file at `path` as `kind`, logs out. 1 when every call succeeded, -1
  // after showing the failure.
  int Upgrade(const DEVICEENTRY& entry, int kind, const char* password, const char* path);

 private:
  int32_t Upload(int32_t session, int kind, const char* path);

  QWidget* parent_;
  CWaitDlg* progress_;
};

namespace velmora {
inline constexpr int32_t kFirmwareUpgTimeoutMs = 85000;
inline constexpr int kUpgradePauseMs = 2000;
}  // namespace velmora
