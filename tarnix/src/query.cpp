#include "query.h"

#include <cstring>

#include "reach.h"
#include "result.h"
#include "search.h"

namespace tarnix::query {
namespace {

using wire::Bytes;

constexpr size_t kPayload = transport::kQueryHeaderSize;  // byte 20, where arguments and payloads start
constexpr size_t kNameLength = 39;
constexpr int32_t kMaxInterface = 64;
constexpr int32_t kAllInterfaces = 255;

// ---- Argument encoders (request bytes from 20) ----------------------------

void enc_le16(uint8_t* p, const Args& a) { wire::put_raw(p, static_cast<uint16_t>(a.value)); }
void enc_be16(uint8_t* p, const Args& a) { wire::put_be16(p, static_cast<uint16_t>(a.value)); }
void enc_u8(uint8_t* p, const Args& a) { p[0] = static_cast<uint8_t>(a.value); }

// ---- Reply decoders -------------------------------------------------------

template <typename T>
T& out(const Args& a) {
  return *static_cast<T*>(a.out);
}

// Up to 39 characters, then NULs up to exactly 39 bytes.
void dec_name(const Bytes& r, const Args& a) {
  char* name = static_cast<char*>(a.out);
  const size_t n = r.text_length(kPayload, kNameLength);
  r.copy(kPayload, name, n);
  std::memset(name + n, 0, kNameLength - n);
}

void dec_u16(const Bytes& r, const Args& a) { out<int32_t>(a) = r.raw<uint16_t>(kPayload); }
void dec_flag16(const Bytes& r, const Args& a) { out<int32_t>(a) = r.raw<uint16_t>(kPayload) != 0 ? 1 : 0; }
void dec_u8(const Bytes& r, const Args& a) { out<int32_t>(a) = r.u8(kPayload); }
void dec_char(const Bytes& r, const Args& a) { out<char>(a) = static_cast<char>(r.u8(kPayload)); }
void dec_addr(const Bytes& r, const Args& a) { out<uint32_t>(a) = r.raw<uint32_t>(kPayload); }
void dec_none(const Bytes&, const Args&) {}

// Records that are the payload unchanged.
template <typename Record>
void dec_record(const Bytes& r, const Args& a) {
  r.copy(kPayload, a.out, sizeof(Record));
}

void dec_apinfo(const Bytes& r, const Args& a) {
  APINFO& info = out<APINFO>(a);
  std::memset(info.name, 0, sizeof info.name);
  r.copy(kPayload, info.name, r.text_length(kPayload, sizeof info.name - 1));
  info.version = r.raw<uint32_t>(60);
  info.value44 = r.raw<uint16_t>(64);
  info.byte46 = r.u8(66);
  info.byte47 = r.u8(67);
  info.byte48 = r.u8(68);
  info.byte49 = r.u8(69);
  info.value52 = r.raw<uint32_t>(72);
}

void dec_timezone(const Bytes& r, const Args& a) {
  *static_cast<int32_t*>(a.out) = r.raw<int32_t>(20);
  *static_cast<int32_t*>(a.out2) = r.raw<int32_t>(24);
}

void dec_iplocation(const Bytes& r, const Args& a) {
  IPLOCATIONINFO& info = out<IPLOCATIONINFO>(a);
  const size_t n = r.text_length(kPayload, sizeof info.text - 1);
  r.copy(kPayload, info.text, n);
  info.text[n] = '\0';
  info.value40 = r.raw<uint16_t>(60);
  info.value42 = r.raw<uint16_t>(62);
}

void dec_dns(const Bytes& r, const Args& a) {
  *static_cast<uint32_t*>(a.out) = r.raw<uint32_t>(20);
  *static_cast<uint32_t*>(a.out2) = r.raw<uint32_t>(24);
}

// The wire holds the blocks in the order text[0], text[2], text[1], text[3].
constexpr size_t kSnmpWireBlock[4] = {24, 104, 64, 144};

void dec_snmp(const Bytes& r, const Args& a) {
  SNMPINFO& info = out<SNMPINFO>(a);
  info.setting = r.u8(kPayload);
  for (size_t i = 0; i < 4; ++i) r.copy(kSnmpWireBlock[i], info.text[i], sizeof info.text[i]);
}

void dec_mailalert(const Bytes& r, const Args& a) {
  MAILALERTINFO& info = out<MAILALERTINFO>(a);
  r.copy(20, info.text, sizeof info.text);
  info.value40 = r.raw<uint32_t>(60);
  r.copy(64, info.blocks, sizeof info.blocks);
}

// ---- Table decoders: count in the reply, capped, entries from byte 24 ------

constexpr size_t kEntries = 24;

size_t capped(size_t n, size_t cap) { return n < cap ? n : cap; }

// Interfaces and connections: the array (count entries) is cleared, then the
// reply's 16-bit count, at most count, is copied.
template <typename Entry, size_t kCopied = sizeof(Entry)>
void dec_counted16(const Bytes& r, const Args& a) {
  Entry* entries = static_cast<Entry*>(a.out2);
  const size_t count = static_cast<size_t>(a.value);
  std::memset(entries, 0, count * sizeof(Entry));
  const size_t n = capped(r.raw<uint16_t>(20), count);
  for (size_t i = 0; i < n; ++i) r.copy(kEntries + sizeof(Entry) * i, &entries[i], kCopied);
  *static_cast<int32_t*>(a.out) = static_cast<int32_t>(n);
}

// The connection entry's byte 15 stays 0: the library never copies it.
constexpr size_t kNetstatCopied = offsetof(NETSTATINFO, zero15);

// Filter and PPP tables: one entry for a named index or port, else the
// reply's count byte up to 16. The array is not cleared.
template <typename Entry>
size_t copy_selected(const Bytes& r, const Args& a, void* dst) {
  const size_t n = static_cast<uint8_t>(a.value) != 0 ? 1 : capped(r.u8(21), 16);
  r.copy(kEntries, dst, n * sizeof(Entry));
  return n;
}

void dec_ipfilter(const Bytes& r, const Args& a) {
  *static_cast<int32_t*>(a.out) = r.u8(22);
  copy_selected<IPFILTERINFO>(r, a, a.out2);
}

template <typename Entry>
void dec_ppp(const Bytes& r, const Args& a) {
  copy_selected<Entry>(r, a, a.out);
}

constexpr size_t kMaxRoutes = 32;

void dec_routing(const Bytes& r, const Args& a) {
  const size_t n = capped(r.u8(21), kMaxRoutes);
  *static_cast<int32_t*>(a.out) = static_cast<int32_t>(n);
  r.copy(kEntries, a.out2, n * sizeof(ROUTINGINFO));
}

// ---- Handlers -------------------------------------------------------------

// Builds the request, runs one exchange, and hands a good reply to the decoder.
int one_exchange(const Row& row, transport::SocketSet& set, DSINFO& device, const Args& args, const Timing& timing) {
  uint8_t request[kMaxRequestLength] = {};
  transport::encode_query_header(request, static_cast<uint8_t>(row.key), row.request_len, device);
  if (row.encode != nullptr) row.encode(request + kPayload, args);
  uint8_t reply[kMaxReplyCapacity];
  transport::Received rx;
  const int r = transport::exchange(static_cast<uint8_t>(row.key), set, device.device_ip, request, row.request_len,
                                    reply, row.reply_cap, timing, &rx);
  if (r != kOk) return r;
  row.decode(Bytes{reply, rx.length}, args);
  return kOk;
}

// The identity query: the bare datagram header; the reply completes the record.
int identity(const Row& row, transport::SocketSet& set, DSINFO& device, const Args&, const Timing& timing) {
  uint8_t request[transport::kHeaderSize];
  transport::encode_header(request, static_cast<uint8_t>(row.key), sizeof request);
  uint8_t reply[search::kReplySize];
  transport::Received rx;
  const int r = transport::exchange(static_cast<uint8_t>(row.key), set, device.device_ip, request, sizeof request,
                                    reply, sizeof reply, timing, &rx);
  if (r != kOk) return r;
  DSINFO seen{};
  if (!search::decode_reply(reply, rx.length, &seen)) return kMalformed;

  static const uint8_t kNoMac[6] = {};
  if (device.app_id != 0 && device.app_id != seen.app_id) return kIdentityMismatch;
  if (device.model != 0 && device.model != seen.model) return kIdentityMismatch;
  const bool mac_known = std::memcmp(device.mac, kNoMac, sizeof kNoMac) != 0;
  if (mac_known && std::memcmp(device.mac, seen.mac, sizeof seen.mac) != 0) return kIdentityMismatch;
  device.app_id = seen.app_id;
  device.model = seen.model;
  std::memcpy(device.mac, seen.mac, sizeof seen.mac);
  if (device.reported_ip == 0) device.reported_ip = seen.reported_ip;
  return kOk;
}

// The connection table page by page. Each page must bring entries: a page
// without any ends the loop, so a device that keeps announcing more without
// sending any cannot hold the caller (at most count + 1 exchanges).
int netstat_pages(const Row& row, transport::SocketSet& set, DSINFO& device, const Args& args, const Timing& timing) {
  const size_t count = static_cast<size_t>(args.value);
  NETSTATINFO* entries = static_cast<NETSTATINFO*>(args.out2);
  std::memset(entries, 0, count * sizeof(NETSTATINFO));
  size_t got = 0;
  uint16_t page = 0;
  uint8_t request[kMaxRequestLength] = {};
  uint8_t reply[kMaxReplyCapacity];
  while (got < count) {
    transport::encode_query_header(request, static_cast<uint8_t>(row.key), row.request_len, device);
    wire::put_be16(request + 20, static_cast<uint16_t>(count - got));
    wire::put_raw(request + 22, page);
    transport::Received rx;
    const int r = transport::exchange(static_cast<uint8_t>(row.key), set, device.device_ip, request, row.request_len,
                                      reply, row.reply_cap, timing, &rx);
    if (r != kOk) return r;
    const Bytes b{reply, rx.length};
    const size_t n = capped(b.raw<uint16_t>(20), count - got);
    for (size_t i = 0; i < n; ++i) b.copy(kEntries + sizeof(NETSTATINFO) * i, &entries[got + i], kNetstatCopied);
    got += n;
    const uint16_t continuation = b.raw<uint16_t>(22);
    if (continuation == 0 || n == 0) break;
    page = static_cast<uint16_t>(continuation + 1);
  }
  *static_cast<int32_t*>(args.out) = static_cast<int32_t>(got);
  return kOk;
}

// ---- The command table ----------------------------------------------------

constexpr Row kRows[] = {
    // key, request length, reply capacity, arguments, reply, own handler
    {1, 8, 24, nullptr, dec_none, identity},
    {2, 22, 20, enc_le16, dec_none, nullptr},
    {16, 20, 60, nullptr, dec_name, nullptr},
    {17, 20, 68, nullptr, dec_record<FSINFO>, nullptr},
    {18, 20, 22, nullptr, dec_flag16, nullptr},
    {19, 20, 22, nullptr, dec_u16, nullptr},
    {21, 20, 76, nullptr, dec_apinfo, nullptr},
    {22, 20, 36, nullptr, dec_record<KERNELINFO>, nullptr},
    {23, 20, 22, nullptr, dec_u16, nullptr},
    {24, 20, 22, nullptr, dec_u16, nullptr},
    {25, 20, 22, nullptr, dec_u16, nullptr},
    {26, 20, 36, nullptr, dec_record<TIMEINFO>, nullptr},
    {27, 20, 60, nullptr, dec_name, nullptr},
    {28, 20, 28, nullptr, dec_timezone, nullptr},
    {33, 22, 24, enc_le16, dec_addr, nullptr},
    {34, 22, 24, enc_le16, dec_addr, nullptr},
    {35, 22, 24, enc_le16, dec_addr, nullptr},
    {36, 22, 21, enc_le16, dec_u8, nullptr},
    {37, 22, 64, enc_le16, dec_iplocation, nullptr},
    {39, 22, 28, enc_le16, dec_dns, nullptr},
    {40, 20, 184, nullptr, dec_snmp, nullptr},
    {41, 20, 384, nullptr, dec_mailalert, nullptr},
    {42, 21, 32, enc_u8, dec_record<PHYSTATUSINFO>, nullptr},
    {82, 20, 28, nullptr, dec_record<ALERTINFO>, nullptr},
    {100, 20, 28, nullptr, dec_record<CMDSTATEINFO>, nullptr},
    {101, 20, 21, nullptr, dec_char, nullptr},
    // Tables: the reply capacity is 24 bytes plus the cap times the entry size.
    {38, 22, 24 + 64 * 16, enc_be16, dec_counted16<IFCONFIGINFO>, nullptr},
    {20, 22, 24 + 256 * 16, enc_be16, dec_counted16<NETSTATINFO, kNetstatCopied>, nullptr},
    {29, 24, 24 + 256 * 16, nullptr, dec_none, netstat_pages},
    {81, 21, 24 + 16 * 12, enc_u8, dec_ipfilter, nullptr},
    {113, 24, 24 + 16 * 12, enc_u8, dec_ppp<PPPSTATUSINFO>, nullptr},
    {114, 24, 24 + 16 * 16, enc_u8, dec_ppp<PPPSTATISTICINFO>, nullptr},
    {115, 24, 24 + 32 * 20, nullptr, dec_routing, nullptr},
};

constexpr bool rows_fit() {
  for (const Row& r : kRows)
    if (r.reply_cap > kMaxReplyCapacity || r.request_len > kMaxRequestLength || r.key > 127) return false;
  return true;
}
static_assert(rows_fit(), "every request and reply fits the handler's buffers");

}  // namespace

const Row* find_row(uint16_t key) {
  for (const Row& r : kRows)
    if (r.key == key) return &r;
  return nullptr;
}

namespace {

int run_found(const Row* row, DSINFO& device, const Args& args, const Timing& timing) {
  transport::SocketSet set;
  const uint32_t wildcard[] = {transport::kWildcard};
  if (set.open(wildcard) != kOk) return kSocketError;
  const reach::TemporaryEntries bracket(device);
  if (row == nullptr) return kOk;
  return (row->handler != nullptr ? row->handler : one_exchange)(*row, set, device, args, timing);
}

}  // namespace

int run(uint16_t key, DSINFO& device, const Args& args, const Timing& timing) {
  return run_found(find_row(key), device, args, timing);
}

int run(const Row& row, DSINFO& device, const Args& args, const Timing& timing) {
  return run_found(&row, device, args, timing);
}

}  // namespace tarnix::query

// ---- Exports --------------------------------------------------------------

namespace {

using tarnix::query::Args;

// The export pattern: session check, then the export's own argument checks,
// then the query; only here do internal results become exported ones.
int32_t export_query(int32_t session, bool args_ok, uint16_t key, const Args& args) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || !args_ok) return DSC_EINVAL;
  return tarnix::export_result(tarnix::query::run(key, *s->record, args, s->timing));
}

bool interface_ok(int32_t iface) {
  return iface == tarnix::query::kAllInterfaces || (iface >= 0 && iface <= tarnix::query::kMaxInterface);
}
bool in_range(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

}  // namespace

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_GetDSINFO(int32_t session, DSINFO* record) {
  tarnix::Session* s = tarnix::checked_session(session);
  if (s == nullptr || record == nullptr) return DSC_EINVAL;
  const DSINFO kept = *s->record;
  *s->record = *record;
  const int r = tarnix::query::run(1, *s->record, {}, s->timing);
  if (r == tarnix::kOk) {
    *record = *s->record;
  } else {
    *s->record = kept;
  }
  return tarnix::export_result(r);
}

DSC_EXPORT int32_t DSC_CALL dsc_Locate(int32_t session, int32_t value) {
  return export_query(session, true, 2, {value});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetName(int32_t session, char* name) {
  return export_query(session, name != nullptr, 16, {0, name});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetFsInfo(int32_t session, FSINFO* out) {
  return export_query(session, out != nullptr, 17, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetWatchdog(int32_t session, int32_t* out) {
  return export_query(session, out != nullptr, 18, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetDebug(int32_t session, int32_t* out) {
  return export_query(session, out != nullptr, 19, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetAPInfo(int32_t session, APINFO* out) {
  return export_query(session, out != nullptr, 21, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetKernelInfo(int32_t session, KERNELINFO* out) {
  return export_query(session, out != nullptr, 22, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetAPStatus(int32_t session, int32_t* out) {
  return export_query(session, out != nullptr, 23, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetEnvironmentMode(int32_t session, int32_t* out) {
  return export_query(session, out != nullptr, 24, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetConsole(int32_t session, int32_t* out) {
  return export_query(session, out != nullptr, 25, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetTime(int32_t session, TIMEINFO* out) {
  return export_query(session, out != nullptr, 26, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetTimeServer(int32_t session, char* name) {
  return export_query(session, name != nullptr, 27, {0, name});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetTimeZone(int32_t session, int32_t* offset, int32_t* index) {
  return export_query(session, offset != nullptr && index != nullptr, 28, {0, offset, index});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetIP(int32_t session, int32_t iface, uint32_t* address) {
  return export_query(session, interface_ok(iface) && address != nullptr, 33, {iface, address});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetNetmask(int32_t session, int32_t iface, uint32_t* mask) {
  return export_query(session, interface_ok(iface) && mask != nullptr, 34, {iface, mask});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetGateway(int32_t session, int32_t iface, uint32_t* address) {
  return export_query(session, interface_ok(iface) && address != nullptr, 35, {iface, address});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetIPConfig(int32_t session, int32_t iface, int32_t* out) {
  return export_query(session, interface_ok(iface) && out != nullptr, 36, {iface, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetIPLocation(int32_t session, int32_t iface, IPLOCATIONINFO* out) {
  return export_query(session, interface_ok(iface) && out != nullptr, 37, {iface, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetDNS(int32_t session, int32_t iface, uint32_t* first, uint32_t* second) {
  return export_query(session, interface_ok(iface) && first != nullptr && second != nullptr, 39,
                      {iface, first, second});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetSNMP(int32_t session, SNMPINFO* out) {
  return export_query(session, out != nullptr, 40, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetMailAlert(int32_t session, MAILALERTINFO* out) {
  return export_query(session, out != nullptr, 41, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetPHYStatus(int32_t session, int32_t port, PHYSTATUSINFO* out) {
  return export_query(session, out != nullptr, 42, {port, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetAlert(int32_t session, ALERTINFO* out) {
  return export_query(session, out != nullptr, 82, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetCmdState(int32_t session, CMDSTATEINFO* out) {
  return export_query(session, out != nullptr, 100, {0, out});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetModemSetting(int32_t session, char* out) {
  return export_query(session, out != nullptr, 101, {0, out});
}

DSC_EXPORT int32_t DSC_CALL dsc_GetIfConfig(int32_t session, int32_t count, int32_t* got, IFCONFIGINFO* entries) {
  return export_query(session, in_range(count, 1, 64) && got != nullptr && entries != nullptr, 38,
                      {count, got, entries});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetNetstat(int32_t session, int32_t count, int32_t* got, NETSTATINFO* entries) {
  return export_query(session, in_range(count, 1, 256) && got != nullptr && entries != nullptr, 20,
                      {count, got, entries});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetNetstat_ex(int32_t session, int32_t count, int32_t* got, NETSTATINFO* entries) {
  return export_query(session, in_range(count, 1, 256) && got != nullptr && entries != nullptr, 29,
                      {count, got, entries});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetIPFilter(int32_t session, int32_t index, int32_t* setting, IPFILTERINFO* entries) {
  return export_query(session, setting != nullptr && entries != nullptr, 81, {index, setting, entries});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetPPPStatus(int32_t session, int32_t port, PPPSTATUSINFO* entries) {
  return export_query(session, in_range(port, 0, 16) && entries != nullptr, 113, {port, entries});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetPPPStatistic(int32_t session, int32_t port, PPPSTATISTICINFO* entries) {
  return export_query(session, in_range(port, 0, 16) && entries != nullptr, 114, {port, entries});
}
DSC_EXPORT int32_t DSC_CALL dsc_GetRouting(int32_t session, int32_t* count, ROUTINGINFO* entries) {
  return export_query(session, count != nullptr && entries != nullptr, 115, {0, count, entries});
}

}  // extern "C"
