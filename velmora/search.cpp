#include "search.h"

#include <cstring>
#include <new>

#include "prompts.h"
#include "resource.h"

using velmora::kTableSize;
using velmora::ReportFailure;

namespace {

// The library's search procedure carries no context, so what it finds is staged here; only the program's own
// thread touches it, inside dsc_EnumSearch.
DEVICEENTRY g_staged[kTableSize];
int g_staged_count = 0;

constexpr int32_t kSearchTimeoutMs = 1000;
constexpr int32_t kSearchRetries = 4;
constexpr uint32_t kBroadcastTarget = 0xFFFFFFFF;

}  // namespace

int32_t DSC_CALL SearchCallback(DSINFO* info) {
  if (info == nullptr) return 1;
  if (info->model != velmora::kModelListed && info->model != velmora::kModelKept) return 1;
  std::memcpy(&g_staged[g_staged_count].info, info, sizeof(DSINFO));
  ++g_staged_count;
  return g_staged_count >= kTableSize ? 0 : 1;
}

// Steps 4 and 5: port 1's line settings into a new buffer, then its interface type.
bool ReadPortSettings(QWidget* parent, DEVICEENTRY& entry) {
  entry.serial = new SERIALIOCTLINFO();
  int32_t r = dsc_GetSerialIOCtl(entry.session, 1, 1, entry.serial);
  if (r != DSC_OK) {
    ReportFailure(parent, "dsc_GetSerialIOCtl", r);
    return false;
  }
  r = dsc_GetSerialInterface(entry.session, 1, 1, &entry.interface_type);
  if (r != DSC_OK) {
    ReportFailure(parent, "dsc_GetSerialInterface", r);
    return false;
  }
  return true;
}

CSearchTask::CSearchTask(QWidget* parent) : parent_(parent) { g_staged_count = 0; }

int CSearchTask::Search(int mode, DEVICEENTRY* table, uint32_t address) {
  dsc_SetSearchOpt(kSearchTimeoutMs, kSearchRetries);
  const uint32_t target = mode == kByAddress ? address : kBroadcastTarget;
  const int32_t r = dsc_EnumSearch(static_cast<int32_t>(target), SearchCallback);
  if (r != DSC_OK) {
    ReportFailure(parent_, "dsc_EnumSearch", r);
    return -1;
  }
  if (g_staged_count == 0) {
    velmora::UserPrompts().Message(parent_, velmora::kNothingFound);
    return -1;
  }
  for (int i = 0; i < g_staged_count; ++i) {
    if (!Fill(g_staged[i])) return -1;
    std::memcpy(&table[i], &g_staged[i], sizeof(DEVICEENTRY));
  }
  return g_staged_count;
}

// Attaches the staged device and runs its queries. On failure the buffers and the session it got are given back,
// since nothing else will ever own them.
bool CSearchTask::Fill(DEVICEENTRY& staged) {
  // What an earlier search left here belongs to the view's table by now.
  const DSINFO info = staged.info;
  std::memset(&staged, 0, sizeof staged);
  staged.info = info;

  int32_t r = dsc_Attach(&staged.info, &staged.session);
  if (r != DSC_OK) {
    ReportFailure(parent_, "dsc_Attach", r);
    return false;
  }
  const char* failed = nullptr;
  int32_t got = 0;
  staged.ifconfig = new IFCONFIGINFO();
  if ((r = dsc_GetIfConfig(staged.session, 1, &got, staged.ifconfig)) != DSC_OK) {
    failed = "dsc_GetIfConfig";
  } else if ((r = dsc_GetIPConfig(staged.session, 255, &staged.ip_mode)) != DSC_OK) {
    failed = "dsc_GetIPConfig";
  } else if (!ReadPortSettings(parent_, staged)) {
    // It has shown its own message.
  } else if ((r = dsc_GetName(staged.session, staged.name)) != DSC_OK) {
    failed = "dsc_GetName";
  } else if ((r = dsc_GetEnvironmentMode(staged.session, &staged.env_mode)) != DSC_OK) {
    failed = "dsc_GetEnvironmentMode";
  } else if (staged.kernel = new KERNELINFO(); (r = dsc_GetKernelInfo(staged.session, staged.kernel)) != DSC_OK) {
    failed = "dsc_GetKernelInfo";
  } else if (staged.apinfo = new APINFO(); (r = dsc_GetAPInfo(staged.session, staged.apinfo)) != DSC_OK) {
    failed = "dsc_GetAPInfo";
  } else {
    staged.name[velmora::kNameSize - 1] = '\0';
    return true;
  }
  if (failed != nullptr) ReportFailure(parent_, failed, r);
  dsc_Detach(staged.session);
  ReleaseEntry(staged);
  return false;
}

namespace velmora {
int StagedCount() { return g_staged_count; }
const DEVICEENTRY& Staged(int index) { return g_staged[index]; }
}  // namespace velmora
