#include "upgrade.h"

#include "dialogs.h"
#include "prompts.h"

using velmora::ReportFailure;

namespace {

// The window the library's progress procedure reports to. The procedure's user value is 32 bits and cannot
// carry a pointer, so the one upload that runs (on the program's only thread) leaves its window here.
CWaitDlg* g_progress_window = nullptr;

int32_t DSC_CALL UploadProgress(uint32_t, int32_t stage, int32_t percent, int32_t) {
  if (g_progress_window != nullptr && (stage == 20 || stage == 40)) g_progress_window->SetProgress(stage, percent);
  return 1;
}

// Installs the progress procedure for one upload and removes it again on every path.
class ProgressScope {
 public:
  ProgressScope(int32_t session, CWaitDlg* window) : session_(session) {
    if (window == nullptr) return;
    g_progress_window = window;
    dsc_LibSetProc(session_, UploadProgress, 0);
    installed_ = true;
  }
  ~ProgressScope() {
    if (!installed_) return;
    dsc_LibSetProc(session_, nullptr, 0);
    g_progress_window = nullptr;
  }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  int32_t session_;
  bool installed_ = false;
};

}  // namespace

int32_t CUpgradeTask::Upload(int32_t session, int kind, const char* path) {
  ProgressScope progress(session, progress_);
  switch (kind) {
    case kApplication:
      return dsc_UpgradeAP(session, path);
    case kKernel:
      return dsc_UpgradeKernel(session, path);
    default:
      return dsc_UpgradeAPKernel(session, path);
  }
}

int CUpgradeTask::Upgrade(const DEVICEENTRY& entry, int kind, const char* password, const char* path) {
  const int32_t s = entry.session;
  int32_t r = dsc_Login(s, password);
  if (r != DSC_OK) {
    ReportFailure(parent_, "dsc_Login", r);
    return -1;
  }
  if (kind == kFirmware) dsc_LibSetUpgTimeout(s, velmora::kFirmwareUpgTimeoutMs);
  r = Upload(s, kind, path);
  if (r != DSC_OK) {
    ReportFailure(parent_, kind == kApplication ? "dsc_UpgradeAP"
                           : kind == kKernel    ? "dsc_UpgradeKernel"
                                                : "dsc_UpgradeAPKernel",
                  r);
    dsc_Logout(s);
    return -1;
  }
  if (kind == kApplication) dsc_RunOrStopUserAp(s, 1);
  if ((r = dsc_Logout(s)) != DSC_OK) {
    ReportFailure(parent_, "dsc_Logout", r);
    return -1;
  }
  return 1;
}
