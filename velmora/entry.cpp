#include "entry.h"

#include <QTreeWidget>

#include <cstring>

#include "resource.h"

void ReleaseEntry(DEVICEENTRY& entry) {
  delete entry.ifconfig;
  delete entry.serial;
  delete entry.kernel;
  delete entry.apinfo;
  entry.ifconfig = nullptr;
  entry.serial = nullptr;
  entry.kernel = nullptr;
  entry.apinfo = nullptr;
}

bool FillRow(QTreeWidget& list, int row, const DEVICEENTRY& entry, int index) {
  if (entry.info.model != velmora::kModelListed) return false;
  if (row < 0 || row > list.topLevelItemCount()) return false;
  auto* item = new QTreeWidgetItem;
  item->setData(0, velmora::kEntryRole, index);
  for (int c = 0; c < velmora::kColumnCount; ++c) {
    item->setText(c, velmora::CellText(entry, c));
    item->setTextAlignment(c, Qt::AlignCenter);
  }
  list.insertTopLevelItem(row, item);
  return true;
}

namespace velmora {

QString VersionText(uint32_t version) {
  return QString::asprintf("%x.%x.%x", version >> 24, (version >> 16) & 0xff, (version >> 8) & 0xff);
}

QString MacText(const DSINFO& info) {
  const uint8_t* m = info.mac;
  return QString::asprintf("%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
}

QString AppIdText(uint32_t app_id) { return QString::asprintf("0x%X", app_id); }

QString DottedText(uint32_t address) {
  uint8_t b[4];
  std::memcpy(b, &address, sizeof b);  // network order: first octet first in memory
  return QString::asprintf("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

QString OperationModeText(int32_t env_mode) {
  switch (env_mode) {
    case 0:
      return kRunningMode;
    case 1:
      return kDevelopmentMode;
    default:
      return kUnknownMode;
  }
}

namespace {

QString Text(const char* bytes, size_t size) { return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, size))); }

}  // namespace

QString CellText(const DEVICEENTRY& e, int column) {
  switch (column) {
    case 0:
      return Text(e.name, sizeof e.name);
    case 1:
      return e.ifconfig ? QString::asprintf("%s", qPrintable(DottedText(e.ifconfig->ip))) : QString();
    case 2:
      return MacText(e.info);
    case 3:
      return e.apinfo ? Text(e.apinfo->name, sizeof e.apinfo->name) : QString();
    case 4:
      return AppIdText(e.info.app_id);
    case 5:
      return e.apinfo ? VersionText(e.apinfo->version) : QString();
    case 6:
      return e.kernel ? VersionText(e.kernel->version) : QString();
    case 7:
      return OperationModeText(e.env_mode);
    default:
      return {};
  }
}

}  // namespace velmora
