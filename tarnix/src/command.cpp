#include "command.h"

#include <cstring>

#include "channel.h"
#include "reach.h"
#include "result.h"
#include "wire.h"

namespace tarnix::command {
namespace {

constexpr size_t kTextField = 40;
constexpr size_t kReplyCapacity = channel::kHeaderSize;

// ---- Payload encoders -------------------------------------------------------

void enc_none(uint8_t*, const Args&) {}
void enc_byte(uint8_t* p, const Args& a) { p[0] = static_cast<uint8_t>(a.v[0]); }
// Texts the export has checked to end within the field.
void enc_text(uint8_t* p, const Args& a) { std::memcpy(p, a.p, std::strlen(static_cast<const char*>(a.p))); }
template <size_t kSize>
void enc_record(uint8_t* p, const Args& a) {
  std::memcpy(p, a.p, kSize);
}
void enc_two_values(uint8_t* p, const Args& a) {
  wire::put_raw(p, a.v[0]);
  wire::put_raw(p + 4, a.v[1]);
}
void enc_firmware(uint8_t* p, const Args& a) {
  for (int i = 0; i < 4; ++i) wire::put_raw(p + 4 * i, a.v[i]);
  p[16] = static_cast<uint8_t>(a.v[4]);
}
// Address or mask first, then the interface number.
void enc_address_iface(uint8_t* p, const Args& a) {
  wire::put_raw(p, static_cast<uint32_t>(a.v[1]));
  wire::put_raw(p + 4, static_cast<uint16_t>(a.v[0]));
}
void enc_ipconfig(uint8_t* p, const Args& a) {
  wire::put_raw(p, static_cast<uint16_t>(a.v[0]));
  p[2] = static_cast<uint8_t>(a.v[1]);
}
void enc_iplocation(uint8_t* p, const Args& a) {
  const IPLOCATIONINFO& loc = *static_cast<const IPLOCATIONINFO*>(a.p);
  wire::put_raw(p, static_cast<uint16_t>(a.v[0]));
  std::memcpy(p + 4, loc.text, strnlen(loc.text, kTextField - 1));
  wire::put_raw(p + 44, loc.value40);
  wire::put_raw(p + 46, loc.value42);
}
void enc_dns(uint8_t* p, const Args& a) {
  wire::put_raw(p, static_cast<uint16_t>(a.v[0]));
  wire::put_raw(p + 4, static_cast<uint32_t>(a.v[1]));
  wire::put_raw(p + 8, static_cast<uint32_t>(a.v[2]));
}
// The wire holds the texts in the order text[0], text[2], text[1], text[3].
void enc_snmp(uint8_t* p, const Args& a) {
  const SNMPINFO& info = *static_cast<const SNMPINFO*>(a.p);
  p[0] = info.setting;
  static constexpr size_t kWireOrder[4] = {0, 2, 1, 3};
  for (size_t i = 0; i < 4; ++i) std::memcpy(p + 4 + 40 * i, info.text[kWireOrder[i]], 40);
}
void enc_mailalert(uint8_t* p, const Args& a) {
  const MAILALERTINFO& info = *static_cast<const MAILALERTINFO*>(a.p);
  std::memcpy(p, info.text, strnlen(info.text, sizeof info.text));
  wire::put_raw(p + 40, info.value40);
  std::memcpy(p + 44, info.blocks, sizeof info.blocks);
}
// One IP filter frame: flag, index, two zero bytes, one entry.
void enc_ipfilter(uint8_t* p, const Args& a) {
  p[0] = static_cast<uint8_t>(a.v[0]);
  p[1] = static_cast<uint8_t>(a.v[1]);
  std::memcpy(p + 4, a.p, sizeof(IPFILTERINFO));
}
void enc_alert(uint8_t* p, const Args& a) { std::memcpy(p, a.p, sizeof(ALERTINFO)); }

// ---- The command table ------------------------------------------------------

constexpr Row kRows[] = {
    {2, 2, enc_byte},  // the mode: 0 save and restart, 2 restart
    {9, 1, enc_byte},
    {14, 0, enc_none},
    {15, 1, enc_byte},
    {16, 40, enc_text},
    {18, 1, enc_byte},
    {19, 1, enc_byte},
    {23, 0, enc_none},
    {24, 17, enc_firmware},
    {25, 1, enc_byte},
    {26, 16, enc_record<sizeof(TIMEINFO)>},
    {27, 40, enc_text},
    {28, 8, enc_two_values},
    {29, 1, enc_byte},
    {33, 6, enc_address_iface},
    {34, 6, enc_address_iface},
    {35, 6, enc_address_iface},
    {36, 3, enc_ipconfig},
    {37, 48, enc_iplocation},
    {39, 12, enc_dns},
    {40, 164, enc_snmp},
    {41, 364, enc_mailalert},
    {42, 2, enc_record<2>},
    {81, 16, enc_ipfilter},
    {82, 8, enc_alert},
    {84, 0, enc_none},
    {100, 8, enc_record<sizeof(CMDSTATEINFO)>},
    {101, 1, enc_byte},
};

constexpr bool rows_fit() {
  for (const Row& r : kRows)
    if (r.payload_len > kMaxPayload) return false;
  return true;
}
static_assert(rows_fit());

}  // namespace

const Row* find_row(uint8_t code) {
  for (const Row& r : kRows)
    if (r.code == code) return &r;
  return nullptr;
}

int exchange(Session& s, uint8_t code, const uint8_t* payload, size_t len, uint8_t* reply, size_t cap, size_t* got) {
  uint8_t frame[channel::kHeaderSize + kMaxFramePayload] = {};
  if (len > kMaxFramePayload) return kMalformed;
  channel::encode_header(frame, code, static_cast<uint16_t>(len));
  if (len > 0) std::memcpy(frame + channel::kHeaderSize, payload, len);
  const reach::TemporaryEntries bracket(*s.record);
  return channel::frame_exchange(code, s.socket, frame, channel::kHeaderSize + len, reply, cap, s.timing, got);
}

int run(const Row& row, Session& s, const Args& args) {
  uint8_t payload[kMaxPayload] = {};
  row.encode(payload, args);
  uint8_t reply[kReplyCapacity];
  size_t got = 0;
  return exchange(s, row.code, payload, row.payload_len, reply, sizeof reply, &got);
}

int run(uint8_t code, Session& s, const Args& args) {
  const Row* row = find_row(code);
  if (row == nullptr) return kOk;
  return run(*row, s, args);
}

}  // namespace tarnix::command

// ---- Exports ------------------------------------------------------------------

namespace {

using tarnix::command::Args;

// The export pattern: session (-5), channel (-12), the export's own checks
// (-5), then the command; only here are internal results mapped.
int32_t export_command(int32_t session, bool args_ok, uint8_t code, const Args& args) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  if (!args_ok) return DSC_EINVAL;
  return tarnix::export_result(tarnix::command::run(code, *s, args));
}

bool interface_ok(int32_t iface) { return iface == 255 || (iface >= 0 && iface <= 64); }
// The last octet of the dotted form: the last byte in memory.
bool host_octet_ok(uint32_t address) {
  const uint8_t last = static_cast<uint8_t>(address >> 24);
  return last != 0 && last != 255;
}
// A text that fits a 40-byte field with its terminator.
bool text_fits(const char* text) { return text != nullptr && strnlen(text, 40) < 40; }

Args values(int32_t a = 0, int32_t b = 0, int32_t c = 0) {
  Args r;
  r.v[0] = a;
  r.v[1] = b;
  r.v[2] = c;
  return r;
}
Args record(const void* p, int32_t a = 0) {
  Args r = values(a);
  r.p = p;
  return r;
}

}  // namespace

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_SaveAndRestart(int32_t session) { return export_command(session, true, 2, values(0)); }
DSC_EXPORT int32_t DSC_CALL dsc_Restart(int32_t session) { return export_command(session, true, 2, values(2)); }
DSC_EXPORT int32_t DSC_CALL dsc_RunOrStopUserAp(int32_t session, int32_t value) {
  return export_command(session, true, 9, values(value));
}
DSC_EXPORT int32_t DSC_CALL dsc_ClearUserAP(int32_t session) { return export_command(session, true, 14, {}); }
DSC_EXPORT int32_t DSC_CALL dsc_SetSDKDevFlag(int32_t session, int32_t flag) {
  return export_command(session, true, 15, values(flag));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetName(int32_t session, const char* name) {
  if (name == nullptr) return DSC_EINVAL;
  return export_command(session, text_fits(name), 16, record(name));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetWatchdog(int32_t session, int32_t value) {
  return export_command(session, true, 18, values(value));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetDebug(int32_t session, int32_t value) {
  return export_command(session, true, 19, values(value));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetToFactoryDefault(int32_t session) { return export_command(session, true, 23, {}); }
DSC_EXPORT int32_t DSC_CALL dsc_SetChangeFirmware(int32_t session, uint32_t address1, int32_t value2, int32_t value3,
                                                  uint32_t address4, int32_t type) {
  const uint8_t t = static_cast<uint8_t>(type);
  Args a;
  a.v[0] = static_cast<int32_t>(address1);
  a.v[1] = value2;
  a.v[2] = value3;
  a.v[3] = static_cast<int32_t>(address4);
  a.v[4] = type;
  return export_command(session, host_octet_ok(address1) && host_octet_ok(address4) && (t == 1 || t == 2), 24, a);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetConsole(int32_t session, int32_t value) {
  return export_command(session, true, 25, values(value));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetTime(int32_t session, const TIMEINFO* time) {
  return export_command(session, time != nullptr, 26, record(time));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetTimeServer(int32_t session, const char* server) {
  return export_command(session, text_fits(server), 27, record(server));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetTimeZone(int32_t session, int32_t value1, int32_t value2) {
  return export_command(session, true, 28, values(value1, value2));
}
DSC_EXPORT int32_t DSC_CALL dsc_Erase_APConfig_Bank(int32_t session, int32_t bank) {
  return export_command(session, true, 29, values(bank));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetIP(int32_t session, int32_t iface, uint32_t address) {
  return export_command(session, interface_ok(iface) && host_octet_ok(address), 33,
                        values(iface, static_cast<int32_t>(address)));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetNetmask(int32_t session, int32_t iface, uint32_t mask) {
  return export_command(session, interface_ok(iface), 34, values(iface, static_cast<int32_t>(mask)));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetGateway(int32_t session, int32_t iface, uint32_t address) {
  return export_command(session, interface_ok(iface), 35, values(iface, static_cast<int32_t>(address)));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetIPConfig(int32_t session, int32_t iface, int32_t value) {
  return export_command(session, interface_ok(iface), 36, values(iface, value));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetIPLocation(int32_t session, int32_t iface, const IPLOCATIONINFO* location) {
  if (location == nullptr) return DSC_EINVAL;
  return export_command(session, interface_ok(iface) && text_fits(location->text), 37, record(location, iface));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetDNS(int32_t session, int32_t iface, uint32_t dns1, uint32_t dns2) {
  const bool ok = iface == 255 || (iface >= 1 && iface <= 64);
  return export_command(session, ok, 39, values(iface, static_cast<int32_t>(dns1), static_cast<int32_t>(dns2)));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetSNMP(int32_t session, const SNMPINFO* snmp) {
  return export_command(session, snmp != nullptr, 40, record(snmp));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetMailAlert(int32_t session, const MAILALERTINFO* alert) {
  return export_command(session, alert != nullptr, 41, record(alert));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetPhyMode(int32_t session, const unsigned char* mode) {
  return export_command(session, mode != nullptr, 42, record(mode));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetIPFilter(int32_t session, int32_t value, const IPFILTERINFO* entries) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  if (entries == nullptr) return DSC_EINVAL;
  // Sixteen entries by index, then the setting with entry 0; the first failure ends it.
  for (int32_t index = 0; index <= 16; ++index) {
    Args a = index < 16 ? values(1, index) : values(value, 0);
    a.p = &entries[index < 16 ? index : 0];
    const int r = tarnix::command::run(81, *s, a);
    if (r != tarnix::kOk) return tarnix::export_result(r);
  }
  return DSC_OK;
}
DSC_EXPORT int32_t DSC_CALL dsc_SetAlert(int32_t session, const ALERTINFO* alert) {
  return export_command(session, alert != nullptr, 82, record(alert));
}
DSC_EXPORT int32_t DSC_CALL dsc_ClearLog(int32_t session) { return export_command(session, true, 84, {}); }
DSC_EXPORT int32_t DSC_CALL dsc_SetCmdState(int32_t session, const CMDSTATEINFO* state) {
  return export_command(session, state != nullptr, 100, record(state));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetModemSetting(int32_t session, int32_t value) {
  return export_command(session, true, 101, values(value));
}

}  // extern "C"
