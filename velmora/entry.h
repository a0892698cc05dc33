#pragma once

// DEVICEENTRY, Velmora's record of one found device, and the texts a row of the device list shows for it.

#include <QString>

#include <cstdint>
#include <type_traits>

#include "tarnix.h"

class QTreeWidget;

namespace velmora {

// dsc_GetName writes 39 bytes; one more keeps the text terminated.
inline constexpr size_t kNameSize = 40;
inline constexpr size_t kNewPasswordSize = 17;
inline constexpr size_t kPrivateKeySize = 16;
inline constexpr int kTableSize = 100;

inline constexpr uint16_t kModelListed = 0x4512;
inline constexpr uint16_t kModelKept = 0x4513;  // kept in the table, never given a row

}  // namespace velmora

// A plain record copied whole with a byte copy; a copy shares the four buffers of the original.
struct DEVICEENTRY {
  DSINFO info;
  int32_t session;
  IFCONFIGINFO* ifconfig;    // owned
  int32_t ip_mode;
  SERIALIOCTLINFO* serial;   // owned: port 1's line settings
  int32_t rate_index;
  uint8_t interface_type;    // of port 1
  char name[velmora::kNameSize];
  int32_t env_mode;
  KERNELINFO* kernel;        // owned
  int32_t password_change;
  char new_password[velmora::kNewPasswordSize];
  char private_key[velmora::kPrivateKeySize];
  APINFO* apinfo;            // owned
};
static_assert(std::is_trivially_copyable_v<DEVICEENTRY> && std::is_standard_layout_v<DEVICEENTRY>);

// Frees the entry's four buffers and nulls the pointers; an all-zero entry may be released.
void ReleaseEntry(DEVICEENTRY& entry);

// Inserts row `row` of the list for entry number `index` of the table and sets its texts; true when the row was
// added. Only model 0x4512 gets a row; a row number the list cannot take adds nothing.
bool FillRow(QTreeWidget& list, int row, const DEVICEENTRY& entry, int index);

namespace velmora {

// Role of a row's first cell that holds the number of the entry it shows.
inline constexpr int kEntryRole = Qt::UserRole + 1;

// The texts of a row, column by column.
QString VersionText(uint32_t version);
QString MacText(const DSINFO& info);
QString AppIdText(uint32_t app_id);
QString DottedText(uint32_t address_network_order);
QString OperationModeText(int32_t env_mode);
QString CellText(const DEVICEENTRY& entry, int column);

// An entry reaches the view's table only whole, after its attach and all its queries succeeded, so holding
// buffers means holding an attached session.
inline bool HoldsSession(const DEVICEENTRY& entry) { return entry.apinfo != nullptr; }

}  // namespace velmora
