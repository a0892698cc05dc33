#include "serial.h"

#include <atomic>
#include <cstring>

#include "command.h"
#include "query.h"
#include "result.h"
#include "tarnix.h"
#include "wire.h"

namespace tarnix::serial {
namespace {

constexpr uint32_t kRates[DSC_SERIAL_RATE_COUNT] = DSC_SERIAL_RATES;
static_assert(kRates[12] == 9600 && kRates[DSC_SERIAL_RATE_COUNT - 1] == 230400);

constexpr size_t kPortNameSlot = 16;
constexpr int32_t kDioCommandBound = 4;  // fixed, not the library-wide count
constexpr int32_t kModelFamilyWithFourDio = 0x41;

// The library-wide DIO channel count: written by dsc_GetMaxDIO, read by the
// DIO queries of every session; the last writer wins.
std::atomic<int32_t> g_dio_channels{8};

// ---- Entry conversions ------------------------------------------------------

template <size_t kSize>
void copy_entry(const uint8_t* entry, uint8_t* element) {
  std::memcpy(element, entry, kSize);
}
// Rate, format and option; the element's last two bytes are always 0.
void line_settings(const uint8_t* entry, uint8_t* element) {
  std::memset(element, 0, sizeof(SERIALIOCTLINFO));
  std::memcpy(element, entry, offsetof(SERIALIOCTLINFO, zero6));
}
// Up to the NUL inside the slot; a name that fills the slot is cut to 15
// characters so that the caller always gets a terminated string.
void port_name(const uint8_t* entry, uint8_t* element) {
  const size_t n = strnlen(reinterpret_cast<const char*>(entry), kPortNameSlot - 1);
  std::memcpy(element, entry, n);
  element[n] = 0;
}
void operation_mode(const uint8_t* entry, uint8_t* element) {
  wire::put_raw(element, static_cast<int32_t>(static_cast<int8_t>(entry[0])));
}
void low16(const uint8_t* entry, uint8_t* element) {
  wire::put_raw(element, static_cast<uint16_t>(wire::get_raw<uint32_t>(entry)));
}

}  // namespace

const PortLayout kLineSettings{8, sizeof(SERIALIOCTLINFO), line_settings};
const PortLayout kOneByte{1, 1, copy_entry<1>};
const PortLayout kPortName{16, kPortNameSlot, port_name};
const PortLayout kOperationMode{1, sizeof(int32_t), operation_mode};
const PortLayout kLow16{4, sizeof(uint16_t), low16};

namespace {

const PortLayout kDataCount{16, sizeof(SERIALDATACOUNTINFO), copy_entry<sizeof(SERIALDATACOUNTINFO)>};
const PortLayout kDataPacking{8, sizeof(DATAPACKINGINFO), copy_entry<sizeof(DATAPACKINGINFO)>};
const PortLayout kTcpServer{8, sizeof(_TCPSVRINFO), copy_entry<sizeof(_TCPSVRINFO)>};
const PortLayout kUdp{52, sizeof(UDPMODEINFO), copy_entry<sizeof(UDPMODEINFO)>};
const PortLayout kPortAlert{4, sizeof(PORTALERTINFO), copy_entry<sizeof(PORTALERTINFO)>};

}  // namespace

size_t decode_portwise(const PortLayout& layout, uint8_t port, const uint8_t* data, size_t len, void* out) {
  size_t count = 1;
  if (port == 0) count = len > kCountByte ? data[kCountByte] : 0;
  if (count > kMaxPorts) count = kMaxPorts;
  const size_t held = len > kEntries ? (len - kEntries) / layout.entry : 0;
  if (count > held) count = held;
  uint8_t* element = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < count; ++i) layout.convert(data + kEntries + i * layout.entry, element + i * layout.element);
  return count;
}

namespace {

using query::Args;
using wire::Bytes;

// ---- Query arguments (request bytes from 20) ---------------------------------

void enc_port(uint8_t* p, const Args& a) { p[0] = static_cast<uint8_t>(a.value); }
void enc_port_selector(uint8_t* p, const Args& a) {
  p[0] = static_cast<uint8_t>(a.value);
  p[1] = static_cast<uint8_t>(a.value2);
}
void enc_port32(uint8_t* p, const Args& a) { wire::put_raw(p, static_cast<uint32_t>(a.value)); }
// Flag (end above 1), first channel, end channel.
void enc_dio(uint8_t* p, const Args& a) {
  p[0] = a.value2 > 1 ? 1 : 0;
  p[1] = static_cast<uint8_t>(a.value);
  p[2] = static_cast<uint8_t>(a.value2);
}

// ---- Reply decoders ------------------------------------------------------------

template <const PortLayout& kLayout>
void dec_portwise(const Bytes& r, const Args& a) {
  decode_portwise(kLayout, static_cast<uint8_t>(a.value), r.data, r.len, a.out);
}

// One record whatever reply byte 21 says; only a reply that holds it whole.
void dec_tcp_client(const Bytes& r, const Args& a) {
  if (r.len >= kEntries + sizeof(TCPCLIENTMODEINFO)) std::memcpy(a.out, r.data + kEntries, sizeof(TCPCLIENTMODEINFO));
}

constexpr size_t kDioMask = 23;

// Each channel's bit keeps its weight: channel 3 reads 8 or 0.
void dec_dio(const Bytes& r, const Args& a) {
  if (r.len <= kDioMask) return;
  const uint8_t mask = r.data[kDioMask];
  int32_t* out = static_cast<int32_t*>(a.out);
  for (int32_t i = a.value; i < a.value2; ++i) out[i - a.value] = mask & (1 << i);
}

// ---- The query table -------------------------------------------------------------

using query::Row;

constexpr Row kQueries[] = {
    // key, request length, reply capacity, arguments, reply, own handler
    {0x31, 22, 152, enc_port_selector, dec_portwise<kLineSettings>, nullptr},
    {0x32, 22, 40, enc_port_selector, dec_portwise<kOneByte>, nullptr},
    {0x34, 22, 40, enc_port_selector, dec_portwise<kOneByte>, nullptr},
    {0x35, 21, 40, enc_port, dec_portwise<kOneByte>, nullptr},
    {0x36, 21, 280, enc_port, dec_portwise<kDataCount>, nullptr},
    {0x37, 21, 280, enc_port, dec_portwise<kPortName>, nullptr},
    {0x41, 21, 40, enc_port, dec_portwise<kOperationMode>, nullptr},
    {0x42, 22, 152, enc_port, dec_portwise<kDataPacking>, nullptr},  // byte 21 stays zero
    {0x44, 21, 88, enc_port, dec_portwise<kLow16>, nullptr},
    {0x45, 21, 88, enc_port, dec_portwise<kLow16>, nullptr},
    {0x46, 21, 40, enc_port, dec_portwise<kOneByte>, nullptr},
    {0x47, 21, 152, enc_port, dec_portwise<kTcpServer>, nullptr},
    {0x48, 21, 196, enc_port, dec_tcp_client, nullptr},
    {0x49, 21, 858, enc_port, dec_portwise<kUdp>, nullptr},
    {0x53, 24, 88, enc_port32, dec_portwise<kPortAlert>, nullptr},
    {0x62, 23, 24, enc_dio, dec_dio, nullptr},
    {0x63, 23, 24, enc_dio, dec_dio, nullptr},
};

constexpr bool queries_fit() {
  for (const Row& r : kQueries)
    if (r.reply_cap > query::kMaxReplyCapacity || r.request_len > query::kMaxRequestLength) return false;
  return true;
}
static_assert(queries_fit(), "every request and reply fits the query handler's buffers");

}  // namespace

const query::Row* query_row(uint16_t key) {
  for (const Row& r : kQueries)
    if (r.key == key) return &r;
  return nullptr;
}

namespace {

// ---- Command payloads (frame bytes from 4), into a zero-filled buffer ----------

const uint8_t* bytes_of(const command::Args& a) { return static_cast<const uint8_t*>(a.p); }

void enc_low_bytes4(uint8_t* p, const command::Args& a) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(a.v[i]);
}
void enc_port_value(uint8_t* p, const command::Args& a) {
  p[0] = static_cast<uint8_t>(a.v[0]);
  p[1] = static_cast<uint8_t>(a.v[1]);
}
void enc_port_name(uint8_t* p, const command::Args& a) {
  p[0] = static_cast<uint8_t>(a.v[0]);
  const char* name = static_cast<const char*>(a.p);
  std::memcpy(p + 4, name, strnlen(name, kPortNameSlot - 1));
}
void enc_port_u32(uint8_t* p, const command::Args& a) {
  p[0] = static_cast<uint8_t>(a.v[0]);
  wire::put_raw(p + 4, static_cast<uint32_t>(a.v[1]));
}
void enc_port_byte_at(uint8_t* p, const command::Args& a) {
  p[0] = static_cast<uint8_t>(a.v[0]);
  p[1] = bytes_of(a)[0];
}
void enc_data_packing(uint8_t* p, const command::Args& a) {
  const DATAPACKINGINFO& r = *static_cast<const DATAPACKINGINFO*>(a.p);
  p[0] = static_cast<uint8_t>(a.v[0]);
  std::memcpy(p + 1, r.settings, sizeof r.settings);
  wire::put_raw(p + 4, r.value4);
}
void enc_tcp_server(uint8_t* p, const command::Args& a) {
  const _TCPSVRINFO& r = *static_cast<const _TCPSVRINFO*>(a.p);
  p[0] = static_cast<uint8_t>(a.v[0]);
  wire::put_raw(p + 4, r.value0);
  wire::put_raw(p + 6, r.value2);
  p[8] = r.setting4;
}
void enc_tcp_client(uint8_t* p, const command::Args& a) {
  const TCPCLIENTMODEINFO& r = *static_cast<const TCPCLIENTMODEINFO*>(a.p);
  p[0] = static_cast<uint8_t>(a.v[0]);
  p[1] = r.setting168;
  for (size_t k = 0; k < 4; ++k) std::memcpy(p + 4 + 40 * k, r.texts[k], strnlen(r.texts[k], sizeof r.texts[k] - 1));
  for (size_t k = 0; k < 4; ++k) wire::put_raw(p + 164 + 2 * k, r.values[k]);
}
void enc_udp(uint8_t* p, const command::Args& a) {
  const UDPMODEINFO& r = *static_cast<const UDPMODEINFO*>(a.p);
  p[0] = static_cast<uint8_t>(a.v[0]);
  std::memcpy(p + 4, r.block, sizeof r.block);
  wire::put_raw(p + 52, r.value48);
}
void enc_port_alert(uint8_t* p, const command::Args& a) {
  const PORTALERTINFO& r = *static_cast<const PORTALERTINFO*>(a.p);
  p[0] = static_cast<uint8_t>(a.v[0]);
  std::memcpy(p + 4, r.settings, sizeof r.settings);
}
// Bit i for channel i from the first to the end channel; the others stay 0.
void enc_dio_mask(uint8_t* p, const command::Args& a) {
  const int32_t first = a.v[0], end = a.v[1];
  const int32_t* values = static_cast<const int32_t*>(a.p);
  uint8_t mask = 0;
  for (int32_t i = first; i < end; ++i)
    if (values[i - first] != 0) mask = static_cast<uint8_t>(mask | (1u << i));
  p[0] = end > 1 ? 1 : 0;
  p[1] = static_cast<uint8_t>(first);
  p[2] = static_cast<uint8_t>(end);
  p[3] = mask;
}

// ---- The command table ----------------------------------------------------------

constexpr command::Row kCommands[] = {
    {0x31, 4, enc_low_bytes4},
    {0x32, 2, enc_port_value},
    {0x34, 2, enc_port_value},
    {0x37, 20, enc_port_name},
    {0x41, 4, enc_port_value},
    {0x42, 8, enc_data_packing},
    {0x44, 8, enc_port_u32},
    {0x45, 8, enc_port_u32},
    {0x46, 2, enc_port_byte_at},
    {0x47, 9, enc_tcp_server},
    {0x48, 172, enc_tcp_client},
    {0x49, 54, enc_udp},
    {0x53, 8, enc_port_alert},
    {0x62, 4, enc_dio_mask},
    {0x63, 4, enc_dio_mask},
};

constexpr bool commands_fit() {
  for (const command::Row& r : kCommands)
    if (r.payload_len > command::kMaxPayload) return false;
  return true;
}
static_assert(commands_fit());

const command::Row* command_row(uint8_t code) {
  for (const command::Row& r : kCommands)
    if (r.code == code) return &r;
  return nullptr;
}

}  // namespace
}  // namespace tarnix::serial

// ---- Exports ----------------------------------------------------------------------

namespace {

namespace serial = tarnix::serial;

bool port_ok(int32_t port) { return port >= 0 && port <= static_cast<int32_t>(serial::kMaxPorts); }

// Session, output pointer and argument checks (all -5), then the query.
int32_t export_query(int32_t session, bool args_ok, uint16_t key, const tarnix::query::Args& args) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || args.out == nullptr || !args_ok) return DSC_EINVAL;
  const tarnix::query::Row* row = serial::query_row(key);
  if (row == nullptr) return DSC_EFAIL;
  return tarnix::export_result(tarnix::query::run(*row, *s->record, args, s->timing));
}

int32_t port_query(int32_t session, int32_t port, uint16_t key, void* out, int32_t selector = 0) {
  tarnix::query::Args a;
  a.value = port;
  a.out = out;
  a.value2 = selector;
  return export_query(session, port_ok(port), key, a);
}

// A range of channels: each end non-negative, and their sum within the bound.
// The sum is the check the protocol defines; a negative end on its own would
// index bits and elements before the range, so it is refused as well.
bool dio_range_ok(int32_t first, int32_t end, int32_t bound) {
  return first >= 0 && end >= 0 && static_cast<int64_t>(first) + end <= bound;
}

int32_t dio_query(int32_t session, int32_t first, int32_t end, uint16_t key, int32_t* out) {
  tarnix::query::Args a;
  a.value = first;
  a.value2 = end;
  a.out = out;
  return export_query(session, dio_range_ok(first, end, serial::g_dio_channels.load(std::memory_order_relaxed)), key,
                      a);
}

// Session (-5), channel (-12), then the export's own checks (-5).
int32_t export_command(int32_t session, bool args_ok, uint8_t code, const tarnix::command::Args& args) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr) return DSC_EINVAL;
  if (s->socket == -1) return DSC_ENOCHANNEL;
  if (!args_ok) return DSC_EINVAL;
  const tarnix::command::Row* row = serial::command_row(code);
  if (row == nullptr) return DSC_EFAIL;
  return tarnix::export_result(tarnix::command::run(*row, *s, args));
}

tarnix::command::Args port_args(int32_t port, int32_t value = 0, const void* p = nullptr) {
  tarnix::command::Args a;
  a.v[0] = port;
  a.v[1] = value;
  a.p = p;
  return a;
}

int32_t port_command(int32_t session, int32_t port, uint8_t code, const tarnix::command::Args& args,
                     bool pointer_needed = false) {
  return export_command(session, port_ok(port) && (!pointer_needed || args.p != nullptr), code, args);
}

// The DIO commands make no channel check of their own. Without a channel the
// frame exchange could only fail on the socket, so the result is given here
// and nothing reaches the network, a temporary entry, or any descriptor.
int32_t dio_command(int32_t session, int32_t first, int32_t end, uint8_t code, const int32_t* values) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || values == nullptr || !dio_range_ok(first, end, serial::kDioCommandBound)) return DSC_EINVAL;
  if (s->socket == -1) return tarnix::export_result(tarnix::kSocketError);
  tarnix::command::Args a;
  a.v[0] = first;
  a.v[1] = end;
  a.p = values;
  const tarnix::command::Row* row = serial::command_row(code);
  if (row == nullptr) return DSC_EFAIL;
  return tarnix::export_result(tarnix::command::run(*row, *s, a));
}

}  // namespace

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_GetSerialIOCtl(int32_t session, int32_t port, int32_t selector, SERIALIOCTLINFO* out) {
  return port_query(session, port, 0x31, out, selector);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialFIFO(int32_t session, int32_t port, int32_t selector, uint8_t* out) {
  return port_query(session, port, 0x32, out, selector);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialInterface(int32_t session, int32_t port, int32_t selector, uint8_t* out) {
  return port_query(session, port, 0x34, out, selector);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialLineStatus(int32_t session, int32_t port, uint8_t* out) {
  return port_query(session, port, 0x35, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialDataCount(int32_t session, int32_t port, SERIALDATACOUNTINFO* out) {
  return port_query(session, port, 0x36, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetSerialPortName(int32_t session, int32_t port, char* names) {
  return port_query(session, port, 0x37, names);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetOpMode(int32_t session, int32_t port, int32_t* out) {
  return port_query(session, port, 0x41, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetDataPacking(int32_t session, int32_t port, DATAPACKINGINFO* out) {
  return port_query(session, port, 0x42, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetInactivityTime(int32_t session, int32_t port, uint16_t* out) {
  return port_query(session, port, 0x44, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetTCPAliveTime(int32_t session, int32_t port, uint16_t* out) {
  return port_query(session, port, 0x45, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetDriverMode(int32_t session, int32_t port, uint8_t* out) {
  return port_query(session, port, 0x46, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetTCPServerMode(int32_t session, int32_t port, _TCPSVRINFO* out) {
  return port_query(session, port, 0x47, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetTCPClientMode(int32_t session, int32_t port, TCPCLIENTMODEINFO* out) {
  if (port == 0) return DSC_EINVAL;
  return port_query(session, port, 0x48, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetUDPMode(int32_t session, int32_t port, UDPMODEINFO* out) {
  return port_query(session, port, 0x49, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetPortAlert(int32_t session, int32_t port, PORTALERTINFO* out) {
  return port_query(session, port, 0x53, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetDIOMode(int32_t session, int32_t first, int32_t end, int32_t* out) {
  return dio_query(session, first, end, 0x62, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetDIOState(int32_t session, int32_t first, int32_t end, int32_t* out) {
  return dio_query(session, first, end, 0x63, out);
}
DSC_EXPORT int32_t DSC_CALL dsc_GetMaxDIO(int32_t session, int32_t* out) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || out == nullptr) return DSC_EINVAL;
  const int32_t channels = (s->record->model >> 8) == serial::kModelFamilyWithFourDio ? 4 : 8;
  serial::g_dio_channels.store(channels, std::memory_order_relaxed);
  *out = channels;
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_SetSerialIOCtl(int32_t session, int32_t port, int32_t rate_index, int32_t format,
                                               int32_t option) {
  tarnix::command::Args a;
  a.v[0] = port;
  a.v[1] = rate_index;
  a.v[2] = format;
  a.v[3] = option;
  return port_command(session, port, 0x31, a);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetSerialFIFO(int32_t session, int32_t port, int32_t value) {
  return port_command(session, port, 0x32, port_args(port, value));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetSerialInterface(int32_t session, int32_t port, int32_t value) {
  return port_command(session, port, 0x34, port_args(port, value));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetSerialPortName(int32_t session, int32_t port, const char* name) {
  return port_command(session, port, 0x37, port_args(port, 0, name), true);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetOPMode(int32_t session, int32_t port, int32_t value) {
  return port_command(session, port, 0x41, port_args(port, value));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetDataPacking(int32_t session, int32_t port, const DATAPACKINGINFO* packing) {
  return port_command(session, port, 0x42, port_args(port, 0, packing), true);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetInactivityTime(int32_t session, int32_t port, uint32_t value) {
  return port_command(session, port, 0x44, port_args(port, static_cast<int32_t>(value)));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetTCPAlive(int32_t session, int32_t port, uint32_t value) {
  return port_command(session, port, 0x45, port_args(port, static_cast<int32_t>(value)));
}
DSC_EXPORT int32_t DSC_CALL dsc_SetDriverMode(int32_t session, int32_t port, const uint8_t* mode) {
  return port_command(session, port, 0x46, port_args(port, 0, mode), true);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetTCPSvrMode(int32_t session, int32_t port, const _TCPSVRINFO* server) {
  return port_command(session, port, 0x47, port_args(port, 0, server), true);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetTCPCliMode(int32_t session, int32_t port, const TCPCLIENTMODEINFO* client) {
  return port_command(session, port, 0x48, port_args(port, 0, client), true);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetUDPMode(int32_t session, int32_t port, const UDPMODEINFO* udp) {
  return port_command(session, port, 0x49, port_args(port, 0, udp), true);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetPortAlert(int32_t session, int32_t port, const PORTALERTINFO* alert) {
  return port_command(session, port, 0x53, port_args(port, 0, alert), true);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetDIOMode(int32_t session, int32_t first, int32_t end, const int32_t* values) {
  return dio_command(session, first, end, 0x62, values);
}
DSC_EXPORT int32_t DSC_CALL dsc_SetDIOState(int32_t session, int32_t first, int32_t end, const int32_t* values) {
  return dio_command(session, first, end, 0x63, values);
}

}  // extern "C"
