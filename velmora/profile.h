#pragma once

// The program's profile: QSettings of organisation "Orvik" and application "Halvesk" (on Windows the registry key
// HKEY_CURRENT_USER\Software\Orvik\Halvesk).

#include <QSettings>
#include <QString>

#include "resource.h"

namespace velmora {

inline QSettings Profile() { return QSettings(kProfileCompany, kAppTitle); }

// A missing or unreadable value reads as 0. Values are 32-bit, written as signed integers; a value written
// unsigned by another tool is taken as well.
inline int ReadProfileInt(const QSettings& profile, const QString& key) {
  return static_cast<int>(static_cast<uint32_t>(profile.value(key, 0).toLongLong()));
}

inline QString AdrName(int index) { return QString::asprintf(kProfileAdrFormat, index); }

}  // namespace velmora
