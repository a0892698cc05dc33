#include "apply.h"

#include <cstring>

#include "prompts.h"

using velmora::ReportFailure;

namespace {
constexpr int32_t kRS232 = 0;
}  // namespace

int CApplyTask::Apply(const DEVICEENTRY& edited, const DEVICEENTRY& selected, const char* password) {
  const int32_t s = selected.session;
  int32_t r = dsc_Login(s, password);
  if (r != DSC_OK) {
    ReportFailure(parent_, "dsc_Login", r);
    return -1;
  }
  // Every failure below is shown, then the channel is closed whatever that gives.
  const auto fail = [&](const char* name, int32_t result) {
    ReportFailure(parent_, name, result);
    dsc_Logout(s);
    return -1;
  };

  for (int32_t port : {1, 2}) {
    if ((r = dsc_SetSerialInterface(s, port, kRS232)) != DSC_OK) return fail("dsc_SetSerialInterface", r);
  }

  bool changed = false;
  const int32_t iface = selected.ifconfig != nullptr ? selected.ifconfig->number : 0;
  const IFCONFIGINFO none{};
  const IFCONFIGINFO& was = selected.ifconfig != nullptr ? *selected.ifconfig : none;
  const IFCONFIGINFO& now = edited.ifconfig != nullptr ? *edited.ifconfig : was;
  if (now.ip != was.ip) {
    if ((r = dsc_SetIP(s, iface, now.ip)) != DSC_OK) return fail("dsc_SetIP", r);
    changed = true;
  }
  if (now.netmask != was.netmask) {
    if ((r = dsc_SetNetmask(s, iface, now.netmask)) != DSC_OK) return fail("dsc_SetNetmask", r);
    changed = true;
  }
  if (now.gateway != was.gateway) {
    if ((r = dsc_SetGateway(s, iface, now.gateway)) != DSC_OK) return fail("dsc_SetGateway", r);
    changed = true;
  }
  if (edited.ip_mode != selected.ip_mode) {
    if ((r = dsc_SetIPConfig(s, iface, edited.ip_mode)) != DSC_OK) return fail("dsc_SetIPConfig", r);
    changed = true;
  }

  // Without a table rate (a device running at another rate that the user left alone) the line settings stay
  // as the device has them: nothing is written and nothing counts as changed.
  if (edited.serial != nullptr && edited.rate_index >= 0 && edited.rate_index < DSC_SERIAL_RATE_COUNT) {
    for (int32_t port : {1, 2}) {
      if ((r = dsc_SetSerialIOCtl(s, port, edited.rate_index, edited.serial->format, 0)) != DSC_OK) {
        return fail("dsc_SetSerialIOCtl", r);
      }
    }
    const SERIALIOCTLINFO old = selected.serial != nullptr ? *selected.serial : SERIALIOCTLINFO{};
    if (edited.serial->rate != old.rate || edited.serial->format != old.format || old.option != 0) changed = true;
  }

  if (strncmp(edited.name, selected.name, sizeof edited.name) != 0) {
    if ((r = dsc_SetName(s, edited.name)) != DSC_OK) return fail("dsc_SetName", r);
    changed = true;
  }

  if (edited.password_change == 1) {
    if ((r = dsc_SetPassword(s, edited.new_password)) != DSC_OK) return fail("dsc_SetPassword", r);
    changed = true;
  }
  if (changed) {
    if ((r = dsc_SaveAndRestart(s)) != DSC_OK) return fail("dsc_SaveAndRestart", r);
  }

  if ((r = dsc_Logout(s)) != DSC_OK) {
    ReportFailure(parent_, "dsc_Logout", r);
    return -1;
  }
  return 1;
}
