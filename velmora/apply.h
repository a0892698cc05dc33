#pragma once

// CApplyTask: writes the settings of the confirmed configuration sheet to the device.

#include "entry.h"

class QWidget;

class CApplyTask {
 public:
  // Messages are shown over `parent`.
  explicit CApplyTask(QWidget* parent) : parent_(parent) {}

  // Logs in to the selected entry's device with password[17], writes what the edited entry changes (the serial
  // settings always), saves and restarts when something changed, logs out. 1 when every call succeeded, -1 after
  // showing the failure.
  int Apply(const DEVICEENTRY& edited, const DEVICEENTRY& selected, const char* password);

 private:
  QWidget* parent_;
};
