#pragma once

// Device discovery: the search task, its staging table and the library's search procedure.

#include <cstdint>

#include "entry.h"

class QWidget;

class CSearchTask {
 public:
  // Messages are shown over `parent`. Creating a task empties the staging table.
  explicit CSearchTask(QWidget* parent);

  enum Mode { kBroadcast = 0, kByAddress = 1 };
  // Finds devices (mode 1: at `address`, network order), attaches and queries each one and copies it into
  // table[100] at its staging index. Returns how many were placed (at least 1), or -1 after showing why not.
  int Search(int mode, DEVICEENTRY* table, uint32_t address);

 private:
  bool Fill(DEVICEENTRY& staged);

  QWidget* parent_;
};

// The library's search procedure: stages each device of model 0x4512 or 0x4513; returns 0 to stop the search
// once the staging table is full.
int32_t DSC_CALL SearchCallback(DSINFO* info);

// Reads port 1's line settings and interface type into the entry; false after showing why not.
bool ReadPortSettings(QWidget* parent, DEVICEENTRY& entry);

namespace velmora {
// The staging table as the search procedure leaves it, for tests.
int StagedCount();
const DEVICEENTRY& Staged(int index);
}  // namespace velmora
