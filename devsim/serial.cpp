#include "serial.h"

#include <algorithm>

#include "records.h"
#include "tarnix.h"

namespace devsim {
namespace {

using namespace wire;
using Bytes = std::span<const uint8_t>;

// The rate table the library and Velmora use: the set command carries an index into it.
constexpr uint32_t kRates[DSC_SERIAL_RATE_COUNT] = DSC_SERIAL_RATES;
static_assert(DSC_SERIAL_RATE_COUNT == kRateCount);

// Port-wise replies: byte 20 the port asked, byte 21 the device's port count, entries from 24.
constexpr size_t kReplyPort = kArgs, kReplyCount = kArgs + 1, kReplyEntries = kArgs + 4;
constexpr size_t kDioFlag = kArgs, kDioFirst = kArgs + 1, kDioEnd = kArgs + 2, kDioMask = kArgs + 3;

using EntryWriter = void (*)(const SerialPort& port, size_t number, uint8_t* entry);

struct SerialQuery {
  uint8_t code;
  size_t entry;  // bytes per port
  EntryWriter write;
  bool port32 = false;    // the port travels as a u32
  bool one_port = false;  // a single record of a named port (TCP client mode)
};

template <size_t N>
void Copy(const std::array<uint8_t, N>& from, uint8_t* to) {
  std::copy(from.begin(), from.end(), to);
}

// Rate, format, option, then two bytes of the device's own (the rate index and the port) that a client
// is not to pass on.
void LineSettings(const SerialPort& p, size_t number, uint8_t* e) {
  put_le32(e, kRates[p.rate_index]);
  e[4] = p.format;
  e[5] = p.option;
  e[6] = p.rate_index;
  e[7] = static_cast<uint8_t>(number);
}
void Fifo(const SerialPort& p, size_t, uint8_t* e) { e[0] = p.fifo; }
void Interface(const SerialPort& p, size_t, uint8_t* e) { e[0] = p.interface; }
void LineStatus(const SerialPort&, size_t number, uint8_t* e) { e[0] = static_cast<uint8_t>(number); }
void DataCount(const SerialPort&, size_t number, uint8_t* e) {
  put_le32(e, static_cast<uint32_t>(1000 * number));
  put_le32(e + 4, static_cast<uint32_t>(2000 * number));
  put_le32(e + 8, static_cast<uint32_t>(number));
  put_le32(e + 12, 0);
}
void Name(const SerialPort& p, size_t, uint8_t* e) { Copy(p.name, e); }
void OpMode(const SerialPort& p, size_t, uint8_t* e) { e[0] = static_cast<uint8_t>(p.op_mode); }
void DataPacking(const SerialPort& p, size_t, uint8_t* e) { Copy(p.data_packing, e); }
void Inactivity(const SerialPort& p, size_t, uint8_t* e) { put_le32(e, p.inactivity); }
void TcpAlive(const SerialPort& p, size_t, uint8_t* e) { put_le32(e, p.tcp_alive); }
void DriverMode(const SerialPort& p, size_t, uint8_t* e) { e[0] = p.driver_mode; }
void TcpServer(const SerialPort& p, size_t, uint8_t* e) { Copy(p.tcp_server, e); }
void TcpClient(const SerialPort& p, size_t, uint8_t* e) { Copy(p.tcp_client, e); }
void Udp(const SerialPort& p, size_t, uint8_t* e) { Copy(p.udp, e); }
void PortAlert(const SerialPort& p, size_t, uint8_t* e) { Copy(p.port_alert, e); }

const SerialQuery kQueries[] = {
    {0x31, 8, LineSettings},  {0x32, 1, Fifo},        {0x34, 1, Interface},   {0x35, 1, LineStatus},
    {0x36, 16, DataCount},    {0x37, 16, Name},       {0x41, 1, OpMode},      {0x42, 8, DataPacking},
    {0x44, 4, Inactivity},    {0x45, 4, TcpAlive},    {0x46, 1, DriverMode},  {0x47, 8, TcpServer},
    {0x48, 172, TcpClient, false, true},              {0x49, 52, Udp},        {0x53, 4, PortAlert, true},
};

const SerialQuery* FindQuery(uint8_t code) {
  for (const SerialQuery& q : kQueries)
    if (q.code == code) return &q;
  return nullptr;
}

Reply AnswerDio(const DeviceConfig& device, Request request) {
  const SerialSettings& s = device.settings.serial;
  uint8_t mask = request[0] == 0x62 ? s.dio_mode : s.dio_state;
  unsigned channels = DioChannels(device);
  Fields f(kDioMask + 1);
  f.u8(kDioFlag, request[kDioFlag]).u8(kDioFirst, request[kDioFirst]).u8(kDioEnd, request[kDioEnd]);
  f.u8(kDioMask, static_cast<uint8_t>(mask & ((1u << channels) - 1)));
  return f.Take();
}

}  // namespace

unsigned DioChannels(const DeviceConfig& device) { return (device.identity.model >> 8) == 0x41 ? 4 : 8; }

// Port 0 asks for every port; a port the device does not have gets no answer.
Reply AnswerSerialQuery(const DeviceConfig& device, DeviceState&, Request request) {
  if (request[0] == 0x62 || request[0] == 0x63) return AnswerDio(device, request);
  const SerialQuery* q = FindQuery(request[0]);
  if (!q) return std::nullopt;
  const SerialSettings& s = device.settings.serial;
  uint32_t port = q->port32 ? ReaderAt(request, kArgs).le32() : ReaderAt(request, kArgs).u8();
  if (port > s.ports || (q->one_port && port == 0)) return std::nullopt;
  size_t first = port == 0 ? 1 : port;
  size_t n = port == 0 ? s.ports : 1;
  std::vector<uint8_t> reply(kReplyEntries + n * q->entry, 0);
  reply[kReplyPort] = static_cast<uint8_t>(port);
  reply[kReplyCount] = q->one_port ? 1 : s.ports;
  for (size_t i = 0; i < n; ++i) q->write(s.port[first + i - 1], first + i, &reply[kReplyEntries + i * q->entry]);
  return reply;
}

namespace {

const ChannelAnswer kRefused{kChannelRefused, {}};

struct SerialSetting {
  uint8_t code;
  size_t size;  // the payload's length
  bool (*store)(SerialPort& port, Bytes payload);
};

template <size_t N>
void Take(std::array<uint8_t, N>& to, Bytes from, size_t at, size_t to_at = 0, size_t n = N) {
  std::copy_n(from.begin() + static_cast<ptrdiff_t>(at), n, to.begin() + static_cast<ptrdiff_t>(to_at));
}

const SerialSetting kSettings[] = {
    {0x31, 4,
     [](SerialPort& p, Bytes b) {
       if (b[1] >= kRateCount) return false;
       p.rate_index = b[1];
       p.format = b[2];
       p.option = b[3];
       return true;
     }},
    {0x32, 2, [](SerialPort& p, Bytes b) { return p.fifo = b[1], true; }},
    {0x34, 2, [](SerialPort& p, Bytes b) { return p.interface = b[1], true; }},
    {0x37, 20,
     [](SerialPort& p, Bytes b) {
       p.name.fill(0);
       Take(p.name, b, 4, 0, 15);
       return true;
     }},
    {0x41, 4, [](SerialPort& p, Bytes b) { return p.op_mode = static_cast<int8_t>(b[1]), true; }},
    {0x42, 8,
     [](SerialPort& p, Bytes b) {
       Take(p.data_packing, b, 1, 0, 3);
       Take(p.data_packing, b, 4, 4, 4);
       return true;
     }},
    {0x44, 8, [](SerialPort& p, Bytes b) { return p.inactivity = ReaderAt(b, 4).le32(), true; }},
    {0x45, 8, [](SerialPort& p, Bytes b) { return p.tcp_alive = ReaderAt(b, 4).le32(), true; }},
    {0x46, 2, [](SerialPort& p, Bytes b) { return p.driver_mode = b[1], true; }},
    {0x47, 9,
     [](SerialPort& p, Bytes b) {
       Take(p.tcp_server, b, 4, 0, 5);
       return true;
     }},
    {0x48, 172,
     [](SerialPort& p, Bytes b) {
       Take(p.tcp_client, b, 4, 0, 160);    // the four texts
       Take(p.tcp_client, b, 164, 160, 8);  // the four values
       p.tcp_client[168] = b[1];
       return true;
     }},
    {0x49, 54,
     [](SerialPort& p, Bytes b) {
       Take(p.udp, b, 4, 0, 50);
       return true;
     }},
    {0x53, 8,
     [](SerialPort& p, Bytes b) {
       Take(p.port_alert, b, 4, 0, 3);
       return true;
     }},
};

const SerialSetting* FindSetting(uint8_t code) {
  for (const SerialSetting& c : kSettings)
    if (c.code == code) return &c;
  return nullptr;
}

// Flag, first channel, end channel, mask: channels first..end-1 take their bits from the mask.
ChannelAnswer SetDio(Responder& device, uint8_t code, Bytes payload) {
  if (payload.size() < 4) return kRefused;
  DeviceConfig& d = device.device();
  unsigned first = payload[1], end = payload[2];
  if (first > end || end > DioChannels(d)) return kRefused;
  auto range = static_cast<uint8_t>(((1u << end) - 1) & ~((1u << first) - 1));
  uint8_t& kept = code == 0x62 ? d.settings.serial.dio_mode : d.settings.serial.dio_state;
  kept = static_cast<uint8_t>((kept & ~range) | (payload[3] & range));
  return {};
}

}  // namespace

// Port 0 sets every port; a port the device does not have is refused.
ChannelAnswer SetSerial(Responder& device, uint8_t code, Bytes payload) {
  if (code == 0x62 || code == 0x63) return SetDio(device, code, payload);
  const SerialSetting* setting = FindSetting(code);
  SerialSettings& s = device.device().settings.serial;
  if (!setting || payload.size() < setting->size || payload[0] > s.ports) return kRefused;
  size_t first = payload[0] == 0 ? 1 : payload[0];
  size_t last = payload[0] == 0 ? s.ports : payload[0];
  for (size_t p = first; p <= last; ++p)
    if (!setting->store(s.port[p - 1], payload)) return kRefused;
  return {};
}

// Type, length, value items after the magic; what each carries here is this emulator's choice.
std::vector<uint8_t> IpLocationReport(const DeviceConfig& device) {
  if (device.report.bytes) return *device.report.bytes;
  std::vector<uint8_t> out = {'K', 'R', 'V', 'N'};
  auto item = [&](uint8_t type, std::vector<uint8_t> value) {
    out.push_back(type);
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
  };
  auto be32 = [](uint32_t v) {
    return std::vector<uint8_t>{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  };
  auto le = [](uint32_t v, size_t n) {
    std::vector<uint8_t> b;
    for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
  };
  const std::string& name = device.devname();
  item(1, std::vector<uint8_t>(name.begin(), name.begin() + static_cast<ptrdiff_t>(std::min<size_t>(name.size(), 40))));
  item(9, be32(device.ip));
  item(2, le(kDevicePort, 2));
  std::vector<uint8_t> at = be32(device.ip);
  std::vector<uint8_t> port = le(4900, 2);
  at.insert(at.end(), port.begin(), port.end());
  item(3, at);
  item(4, le(device.identity.app, 4));
  item(5, le(device.settings.kver, 4));
  item(6, le(device.identity.model, 2));
  return out;
}

}  // namespace devsim
