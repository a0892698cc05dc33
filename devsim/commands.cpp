#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "frame.h"
#include "records.h"
#include "serial.h"

namespace devsim {
namespace {

using namespace wire;

bool SearchWellFormed(Request request) { return (request.size() - kHeaderSize) % kIdentitySize == 0; }

Reply AnswerSearch(const DeviceConfig& device, DeviceState&, Request request) {
  if (!device.faults.ignore_list) {
    Reader r = ReaderAt(request, kHeaderSize);
    while (r.remaining() >= kIdentitySize) {
      if (DecodeIdentity(r) == device.identity) return std::nullopt;
    }
  }
  return Fields(kSearchReplySize).ip(kSearchReplyAddressOffset, device.reported_ip()).Take();
}

// A real device blinks; this one says so on stderr.
Reply AnswerLocate(const DeviceConfig& device, DeviceState& state, Request request) {
  state.last_locate = ReaderAt(request, Value16Request::kValue).le16();
  std::fprintf(stderr, "tarnix-devsim: %s: locate %u\n", device.name.c_str(), unsigned{*state.last_locate});
  return Fields(BareReply::kSize).Take();
}

Reply Text(std::string_view text) {
  return Fields(TextReply::kSize).text(TextReply::kText, TextReply::kWidth, text).Take();
}

Reply AnswerName(const DeviceConfig& device, DeviceState&, Request) { return Text(device.devname()); }

Reply AnswerTimeServer(const DeviceConfig& device, DeviceState&, Request) { return Text(device.settings.timeserver); }

Reply AnswerFsInfo(const DeviceConfig&, DeviceState&, Request) {
  return Fields(FsInfoReply::kSize)
      .le32(FsInfoReply::kTotal, 0x00400000)
      .le32(FsInfoReply::kFree, 0x00180000)
      .le32(FsInfoReply::kFiles, 3)
      .Take();
}

template <uint16_t Settings::*kField>
Reply AnswerValue16(const DeviceConfig& device, DeviceState&, Request) {
  return Fields(Value16Reply::kSize).le16(Value16Reply::kValue, device.settings.*kField).Take();
}

Reply AnswerModem(const DeviceConfig& device, DeviceState&, Request) {
  return Fields(ByteReply::kSize).u8(ByteReply::kValue, device.settings.modem).Take();
}

Reply AnswerApInfo(const DeviceConfig& device, DeviceState&, Request) {
  return Fields(ApInfoReply::kSize)
      .text(ApInfoReply::kName, ApInfoReply::kNameWidth, device.settings.apname)
      .le32(ApInfoReply::kVersion, device.settings.apver)
      .Take();
}

Reply AnswerKernelInfo(const DeviceConfig& device, DeviceState&, Request) {
  return Fields(KernelInfoReply::kSize)
      .le32(KernelInfoReply::kVersion, device.settings.kver)
      .le16(KernelInfoReply::kFlags, device.settings.password ? kKernelHasPassword : 0)
      .Take();
}

int64_t RealtimeMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1'000'000;
}

Reply AnswerTime(const DeviceConfig&, DeviceState& state, Request) {
  int64_t ms = RealtimeMs() + state.clock_offset_ms;
  int64_t seconds = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
  time_t t = static_cast<time_t>(seconds);
  tm at{};
  gmtime_r(&t, &at);
  return Fields(TimeReply::kSize)
      .le16(TimeReply::kYear, static_cast<uint16_t>(at.tm_year))
      .le16(TimeReply::kMonth, static_cast<uint16_t>(at.tm_mon))
      .le16(TimeReply::kWeekday, static_cast<uint16_t>(at.tm_wday))
      .le16(TimeReply::kDay, static_cast<uint16_t>(at.tm_mday))
      .le16(TimeReply::kHour, static_cast<uint16_t>(at.tm_hour))
      .le16(TimeReply::kMinute, static_cast<uint16_t>(at.tm_min))
      .le16(TimeReply::kSecond, static_cast<uint16_t>(at.tm_sec))
      .le16(TimeReply::kMillisecond, static_cast<uint16_t>(ms - seconds * 1000))
      .Take();
}

Reply AnswerTimeZone(const DeviceConfig& device, DeviceState&, Request) {
  return Fields(TimeZoneReply::kSize)
      .le32(TimeZoneReply::kOffset, static_cast<uint32_t>(device.settings.tz_offset))
      .le32(TimeZoneReply::kIndex, device.settings.tz_index)
      .Take();
}

struct Interface {
  uint32_t address = 0, mask = 0, gateway = 0, dns = 0, dns2 = 0;
  uint8_t ipmode = 0;
  bool configured = false;
};

// Interface 0 is the device's own; further ones get addresses that tell their number. One that is allowed but
// not configured has no address; a number that is not allowed gets no answer.
std::optional<Interface> FindInterface(const DeviceConfig& device, uint16_t number) {
  if (number == kPrimaryInterface) number = 0;
  if (number > kMaxInterface) return std::nullopt;
  if (number >= device.settings.interfaces) return Interface{};
  const Settings& s = device.settings;
  if (number == 0) return Interface{s.address.value_or(device.ip), s.mask, device.gateway(), device.dns(), s.dns2, s.ipmode, true};
  uint32_t net = 0x0a000000 | uint32_t{number} << 16;
  return Interface{net | (device.ip & 0xff), 0xffffff00, net | 254, 0, 0, 0, true};
}

template <Reply (*kEncode)(const Interface&)>
Reply AnswerInterface(const DeviceConfig& device, DeviceState&, Request request) {
  auto found = FindInterface(device, ReaderAt(request, Value16Request::kValue).le16());
  if (!found) return std::nullopt;
  return kEncode(*found);
}

template <uint32_t Interface::*kField>
Reply EncodeAddress(const Interface& i) {
  return Fields(AddressReply::kSize).ip(AddressReply::kAddress, i.*kField).Take();
}

Reply EncodeIpConfig(const Interface& i) { return Fields(ByteReply::kSize).u8(ByteReply::kValue, i.ipmode).Take(); }

Reply EncodeIpLocation(const Interface& i) {
  Fields f(IpLocationReply::kSize);
  if (i.configured) {
    f.text(IpLocationReply::kText, IpLocationReply::kWidth, "locator.lan")
        .le16(IpLocationReply::kValue1, 4802)
        .le16(IpLocationReply::kValue2, 60);
  }
  return f.Take();
}

Reply EncodeDns(const Interface& i) {
  return Fields(DnsReply::kSize).ip(DnsReply::kFirst, i.dns).ip(DnsReply::kSecond, i.dns2).Take();
}

// Each wire block holds the text of the record block it lands in.
Reply AnswerSnmp(const DeviceConfig&, DeviceState&, Request) {
  constexpr size_t w = SnmpReply::kBlockWidth;
  return Fields(SnmpReply::kSize)
      .text(SnmpReply::kBlockA, w, "snmp-a")
      .text(SnmpReply::kBlockC, w, "snmp-c")
      .text(SnmpReply::kBlockB, w, "snmp-b")
      .text(SnmpReply::kBlockD, w, "snmp-d")
      .Take();
}

static_assert(SnmpReply::kSize - kArgs == SnmpPayload::kSize && SnmpReply::kBlockA - kArgs == SnmpPayload::kBlocks);
static_assert(MailAlertReply::kSize - kArgs == MailAlertPayload::kSize);
static_assert(AlertReply::kSize - kArgs == AlertPayload::kValuesWidth && CmdStateReply::kSize - kArgs == CmdStatePayload::kSize);

Reply AnswerMailAlert(const DeviceConfig&, DeviceState&, Request) {
  Fields f(MailAlertReply::kSize);
  f.text(MailAlertReply::kText, MailAlertReply::kWidth, "mail-server").le32(MailAlertReply::kValue, 25);
  for (size_t i = 0; i < MailAlertReply::kBlockCount; ++i) {
    f.text(MailAlertReply::kBlocks + i * MailAlertReply::kBlockWidth, MailAlertReply::kBlockWidth,
           "mail-" + std::to_string(i + 1));
  }
  return f.Take();
}

Reply AnswerPhyStatus(const DeviceConfig&, DeviceState&, Request request) {
  return Fields(PhyStatusReply::kSize)
      .u8(PhyStatusReply::kPort, ReaderAt(request, ByteRequest::kValue).u8())
      .u8(PhyStatusReply::kLink, 1)
      .le16(PhyStatusReply::kSpeed, 100)
      .u8(PhyStatusReply::kDuplex, 1)
      .Take();
}

template <size_t kSize>
Reply AnswerZeros(const DeviceConfig&, DeviceState&, Request) {
  return Fields(kSize).Take();
}

using Answer = Reply (*)(const DeviceConfig&, DeviceState&, Request);

// A payload written over the session channel is answered back as it came.
template <uint8_t kCode, Answer kDefault>
Reply Written(const DeviceConfig& device, DeviceState& state, Request request) {
  auto it = device.settings.records.find(kCode);
  if (it == device.settings.records.end()) return kDefault(device, state, request);
  std::vector<uint8_t> reply(kArgs);
  reply.insert(reply.end(), it->second.begin(), it->second.end());
  return reply;
}

using EntryEncoder = void (*)(Fields& f, size_t at, const DeviceConfig& device, size_t number);

// The entries numbered first .. first + n - 1, the count left for the caller.
template <class Layout, class Entry>
Fields Table(const DeviceConfig& device, EntryEncoder encode, size_t first, size_t n) {
  Fields f(Layout::kEntries + n * Entry::kSize);
  for (size_t i = 0; i < n; ++i) encode(f, Layout::kEntries + i * Entry::kSize, device, first + i);
  return f;
}

uint32_t Net(uint8_t b, size_t c, uint8_t d) { return 0x0a000000 | uint32_t{b} << 16 | uint32_t(c & 0xff) << 8 | d; }

void IfConfig(Fields& f, size_t at, const DeviceConfig& device, size_t number) {
  Interface i = FindInterface(device, static_cast<uint16_t>(number)).value_or(Interface{});
  f.le16(at + IfConfigEntry::kNumber, static_cast<uint16_t>(number))
      .le16(at + IfConfigEntry::kIpMode, i.ipmode)
      .ip(at + IfConfigEntry::kAddress, i.address)
      .ip(at + IfConfigEntry::kMask, i.mask)
      .ip(at + IfConfigEntry::kGateway, i.gateway);
}

void Netstat(Fields& f, size_t at, const DeviceConfig& device, size_t number) {
  f.ip(at + NetstatEntry::kLocal, device.ip)
      .ip(at + NetstatEntry::kPeer, Net(1, number >> 8, static_cast<uint8_t>(number)))
      .le16(at + NetstatEntry::kLocalPort, 4900)
      .le16(at + NetstatEntry::kPeerPort, static_cast<uint16_t>(20000 + number))
      .u8(at + NetstatEntry::kState, 1)
      .u8(at + NetstatEntry::kIndexLow, static_cast<uint8_t>(number))
      .u8(at + NetstatEntry::kIndexHigh, static_cast<uint8_t>(number >> 8));
}

void IpFilter(Fields& f, size_t at, const DeviceConfig&, size_t number) {
  f.ip(at + IpFilterEntry::kAddress, Net(2, 0, static_cast<uint8_t>(number)))
      .ip(at + IpFilterEntry::kMask, 0xffffffff)
      .u8(at + IpFilterEntry::kNumber, static_cast<uint8_t>(number))
      .u8(at + IpFilterEntry::kEnabled, 1);
}

void PppStatus(Fields& f, size_t at, const DeviceConfig&, size_t number) {
  f.u8(at + PppStatusEntry::kPort, static_cast<uint8_t>(number))
      .u8(at + PppStatusEntry::kState, 1)
      .ip(at + PppStatusEntry::kLocal, Net(3, number, 1))
      .ip(at + PppStatusEntry::kPeer, Net(3, number, 2));
}

void PppStatistic(Fields& f, size_t at, const DeviceConfig&, size_t number) {
  f.u8(at + PppStatisticEntry::kPort, static_cast<uint8_t>(number))
      .le32(at + PppStatisticEntry::kReceived, static_cast<uint32_t>(1000 * number))
      .le32(at + PppStatisticEntry::kSent, static_cast<uint32_t>(2000 * number));
}

void Route(Fields& f, size_t at, const DeviceConfig& device, size_t number) {
  f.ip(at + RouteEntry::kDestination, Net(4, number, 0))
      .ip(at + RouteEntry::kMask, 0xffffff00)
      .ip(at + RouteEntry::kGateway, device.gateway())
      .le32(at + RouteEntry::kMetric, static_cast<uint32_t>(number + 1));
}

template <class Entry, EntryEncoder kEncode, uint16_t Settings::*kConfigured>
Reply AnswerCounted(const DeviceConfig& device, DeviceState&, Request request) {
  size_t n =
      std::min<size_t>({ReaderAt(request, CountRequest::kCount).be16(), device.settings.*kConfigured, Entry::kMost});
  return Table<Table16Reply, Entry>(device, kEncode, 0, n).le16(Table16Reply::kCount, static_cast<uint16_t>(n)).Take();
}

// Page p serves page index s = p - 1 (p = 0 also serves 0) and names s + 1 as long as entries remain.
Reply AnswerNetstatPage(const DeviceConfig& device, DeviceState&, Request request) {
  size_t wanted = ReaderAt(request, PageRequest::kWanted).be16();
  uint16_t page = ReaderAt(request, PageRequest::kPage).le16();
  size_t total = device.settings.netstat;
  size_t page_size = device.settings.netstat_page;
  size_t served = page == 0 ? 0 : page - 1u;
  size_t first = served * page_size;
  size_t n = first < total ? std::min({page_size, wanted, total - first, NetstatEntry::kMost}) : 0;
  auto continuation = static_cast<uint16_t>(first + n < total ? served + 1 : 0);
  return Table<Table16Reply, NetstatEntry>(device, Netstat, first, n)
      .le16(Table16Reply::kCount, static_cast<uint16_t>(n))
      .le16(Table16Reply::kContinuation, continuation)
      .Take();
}

static_assert(ByteRequest::kValue == PortRequest::kPort);

// Selector 0 asks for every entry, selector k for entry k alone; entries are numbered from 1.
template <class Entry, EntryEncoder kEncode, uint8_t Settings::*kConfigured>
Fields Selected(const DeviceConfig& device, Request request) {
  uint8_t which = ReaderAt(request, ByteRequest::kValue).u8();
  size_t configured = device.settings.*kConfigured;
  size_t first = which == 0 ? 1 : which;
  size_t n = which == 0 ? configured : which <= configured ? 1 : 0;
  Fields f = Table<Table8Reply, Entry>(device, kEncode, first, n);
  f.u8(Table8Reply::kCount, static_cast<uint8_t>(n));
  return f;
}

Reply AnswerIpFilter(const DeviceConfig& device, DeviceState&, Request request) {
  return Selected<IpFilterEntry, IpFilter, &Settings::ipfilter>(device, request)
      .u8(Table8Reply::kSetting, device.settings.ipfilter_setting)
      .Take();
}

template <class Entry, EntryEncoder kEncode>
Reply AnswerPpp(const DeviceConfig& device, DeviceState&, Request request) {
  return Selected<Entry, kEncode, &Settings::ppp_ports>(device, request).Take();
}

Reply AnswerRouting(const DeviceConfig& device, DeviceState&, Request) {
  uint8_t n = device.settings.routes;
  return Table<Table8Reply, RouteEntry>(device, Route, 0, n).u8(Table8Reply::kCount, n).Take();
}

constexpr size_t kPlain = PlainRequest::kSize;
constexpr size_t kInterfaceArg = Value16Request::kSize;

constexpr Command kCommands[] = {
    {kSearchCode, false, kHeaderSize, SearchWellFormed, AnswerSearch},  // also the identity query
    {2, true, Value16Request::kSize, nullptr, AnswerLocate},
    {16, true, kPlain, nullptr, AnswerName},
    {17, true, kPlain, nullptr, AnswerFsInfo},
    {18, true, kPlain, nullptr, AnswerValue16<&Settings::watchdog>},
    {19, true, kPlain, nullptr, AnswerValue16<&Settings::debug>},
    {20, true, CountRequest::kSize, nullptr, AnswerCounted<NetstatEntry, Netstat, &Settings::netstat>},
    {21, true, kPlain, nullptr, AnswerApInfo},
    {22, true, kPlain, nullptr, AnswerKernelInfo},
    {23, true, kPlain, nullptr, AnswerValue16<&Settings::apstatus>},
    {24, true, kPlain, nullptr, AnswerValue16<&Settings::env>},
    {25, true, kPlain, nullptr, AnswerValue16<&Settings::console>},
    {26, true, kPlain, nullptr, AnswerTime},
    {27, true, kPlain, nullptr, AnswerTimeServer},
    {28, true, kPlain, nullptr, AnswerTimeZone},
    {29, true, PageRequest::kSize, nullptr, AnswerNetstatPage},
    {33, true, kInterfaceArg, nullptr, AnswerInterface<EncodeAddress<&Interface::address>>},
    {34, true, kInterfaceArg, nullptr, AnswerInterface<EncodeAddress<&Interface::mask>>},
    {35, true, kInterfaceArg, nullptr, AnswerInterface<EncodeAddress<&Interface::gateway>>},
    {36, true, kInterfaceArg, nullptr, AnswerInterface<EncodeIpConfig>},
    {37, true, kInterfaceArg, nullptr, AnswerInterface<EncodeIpLocation>},
    {38, true, CountRequest::kSize, nullptr, AnswerCounted<IfConfigEntry, IfConfig, &Settings::interfaces>},
    {39, true, kInterfaceArg, nullptr, AnswerInterface<EncodeDns>},
    {40, true, kPlain, nullptr, Written<40, AnswerSnmp>},
    {41, true, kPlain, nullptr, Written<41, AnswerMailAlert>},
    {42, true, ByteRequest::kSize, nullptr, AnswerPhyStatus},
    {81, true, ByteRequest::kSize, nullptr, AnswerIpFilter},
    {82, true, kPlain, nullptr, Written<82, AnswerZeros<AlertReply::kSize>>},
    {100, true, kPlain, nullptr, Written<100, AnswerZeros<CmdStateReply::kSize>>},
    {101, true, kPlain, nullptr, AnswerModem},
    {113, true, PortRequest::kSize, nullptr, AnswerPpp<PppStatusEntry, PppStatus>},
    {114, true, PortRequest::kSize, nullptr, AnswerPpp<PppStatisticEntry, PppStatistic>},
    {115, true, PortRequest::kSize, nullptr, AnswerRouting},
    // The serial port, port operation and DIO family.
    {0x31, true, kPortSelectorRequest, nullptr, AnswerSerialQuery},
    {0x32, true, kPortSelectorRequest, nullptr, AnswerSerialQuery},
    {0x34, true, kPortSelectorRequest, nullptr, AnswerSerialQuery},
    {0x35, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x36, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x37, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x41, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x42, true, kPortSelectorRequest, nullptr, AnswerSerialQuery},
    {0x44, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x45, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x46, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x47, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x48, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x49, true, kPortRequest, nullptr, AnswerSerialQuery},
    {0x53, true, kPort32Request, nullptr, AnswerSerialQuery},
    {0x62, true, kDioRequest, nullptr, AnswerSerialQuery},
    {0x63, true, kDioRequest, nullptr, AnswerSerialQuery},
};

}  // namespace

const Command* FindCommand(uint8_t code) {
  auto it = std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) { return c.code == code; });
  return it == std::end(kCommands) ? nullptr : it;
}

DeviceState InitialState(const DeviceConfig& device) {
  const Settings& s = device.settings;
  DeviceState state;
  state.clock_offset_ms = s.time ? *s.time * 1000 - RealtimeMs() : int64_t{s.tz_offset} * 1000;
  return state;
}

void SetClock(DeviceState& state, int64_t device_ms) { state.clock_offset_ms = device_ms - RealtimeMs(); }

}  // namespace devsim
