#include "options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <limits>
#include <set>

#include "frame.h"
#include "records.h"

namespace devsim {
namespace {

std::optional<uint64_t> ParseNumber(std::string_view text, uint64_t max) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc{} || stop != end || value > max) return std::nullopt;
  return value;
}

template <class T>
bool SetNumber(std::string_view text, T& out, uint64_t max = std::numeric_limits<T>::max()) {
  auto v = ParseNumber(text, max);
  if (v) out = static_cast<T>(*v);
  return v.has_value();
}

bool SetOptionalSize(std::string_view text, std::optional<size_t>& out) {
  size_t v = 0;
  if (!SetNumber(text, v, kMaxDatagram)) return false;
  out = v;
  return true;
}

bool SetFlag(std::string_view text, bool& out) {
  if (text != "0" && text != "1") return false;
  out = text == "1";
  return true;
}

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  in_addr a{};
  if (inet_pton(AF_INET, std::string(text).c_str(), &a) != 1) return std::nullopt;
  return ntohl(a.s_addr);
}

template <class T>
bool SetIpv4(std::string_view text, T& out) {
  auto ip = ParseIpv4(text);
  if (ip) out = *ip;
  return ip.has_value();
}

bool SetSigned32(std::string_view text, int32_t& out) {
  bool negative = text.starts_with('-');
  auto magnitude = ParseNumber(negative ? text.substr(1) : text, negative ? 0x80000000u : 0x7fffffffu);
  if (magnitude) out = static_cast<int32_t>(negative ? -static_cast<int64_t>(*magnitude) : int64_t(*magnitude));
  return magnitude.has_value();
}

constexpr size_t kMaxText = 60;

bool SetText(std::string_view text, std::string& out, size_t max = kMaxText) {
  out = text;
  return text.size() <= max && std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// YYYY-MM-DDTHH:MM:SS, taken as the device's own clock reading.
bool SetTime(std::string_view text, std::optional<int64_t>& out) {
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd";
  if (text.size() != kShape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool ok = kShape[i] == 'd' ? text[i] >= '0' && text[i] <= '9' : text[i] == kShape[i];
    if (!ok) return false;
  }
  tm at{};
  std::string copy(text);
  std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &at.tm_year, &at.tm_mon, &at.tm_mday, &at.tm_hour, &at.tm_min,
              &at.tm_sec);
  if (at.tm_year < 1970 || at.tm_year > 2999) return false;
  tm wanted = at;
  at.tm_year -= 1900;
  at.tm_mon -= 1;
  time_t t = timegm(&at);
  // timegm() normalises 02-30 into March; a date that does not come back unchanged does not exist.
  if (at.tm_year != wanted.tm_year - 1900 || at.tm_mon != wanted.tm_mon - 1 || at.tm_mday != wanted.tm_mday ||
      at.tm_hour != wanted.tm_hour || at.tm_min != wanted.tm_min || at.tm_sec != wanted.tm_sec) {
    return false;
  }
  out = int64_t{t};
  return true;
}

// CODE:STATUS, both 0..255.
bool SetCodeStatus(std::string_view text, std::optional<std::pair<uint8_t, uint8_t>>& out, uint32_t* nth = nullptr) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view rest = text.substr(colon + 1);
  size_t second = rest.find(':');
  if (second != std::string_view::npos && !nth) return false;
  auto code = ParseNumber(text.substr(0, colon), 255);
  auto status = ParseNumber(rest.substr(0, second), 255);
  if (!code || !status) return false;
  if (second != std::string_view::npos) {
    auto n = ParseNumber(rest.substr(second + 1), 1'000'000);
    if (!n || *n == 0) return false;
    *nth = static_cast<uint32_t>(*n);
  }
  out = std::pair{static_cast<uint8_t>(*code), static_cast<uint8_t>(*status)};
  return true;
}

template <class T>
bool SetOptionalNumber(std::string_view text, std::optional<T>& out) {
  return SetNumber(text, out.emplace());
}

bool SetHex(std::string_view text, std::vector<uint8_t>& out) {
  if (text.size() % 2 != 0 || text.size() / 2 > kMaxDatagram - wire::kQueryHeaderSize) return false;
  out.clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    uint8_t b = 0;
    auto [stop, ec] = std::from_chars(text.data() + i, text.data() + i + 2, b, 16);
    if (ec != std::errc{} || stop != text.data() + i + 2) return false;
    out.push_back(b);
  }
  return true;
}

// payload<CODE>: the command code in decimal, 1..127.
std::optional<uint8_t> PayloadCode(std::string_view key) {
  constexpr std::string_view kPrefix = "payload";
  if (!key.starts_with(kPrefix) || key.size() == kPrefix.size() || key[kPrefix.size()] == '0') return std::nullopt;
  auto code = ParseNumber(key.substr(kPrefix.size()), 127);
  if (!code || *code == 0) return std::nullopt;
  return static_cast<uint8_t>(*code);
}

bool SetMac(std::string_view text, wire::Mac& out) {
  if (text.size() != 17) return false;
  wire::Mac mac{};
  for (size_t i = 0; i < mac.size(); ++i) {
    std::string_view pair = text.substr(i * 3, 2);
    if (i + 1 < mac.size() && text[i * 3 + 2] != ':') return false;
    auto [stop, ec] = std::from_chars(pair.data(), pair.data() + 2, mac[i], 16);
    if (ec != std::errc{} || stop != pair.data() + 2) return false;
  }
  out = mac;
  return true;
}

bool ValidName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

struct Key {
  std::string_view name;
  const char* expected;
  bool (*set)(DeviceConfig&, std::string_view);
};

const Key kKeys[] = {
    {"name", "letters, digits, '_', '-' or '.'",
     [](DeviceConfig& d, std::string_view v) {
       d.name = v;
       return ValidName(v);
     }},
    {"ip", "a unicast IPv4 address",
     [](DeviceConfig& d, std::string_view v) {
       auto ip = ParseIpv4(v);
       if (ip) d.ip = *ip;
       return ip && *ip != INADDR_ANY && *ip != INADDR_BROADCAST;
     }},
    {"reported", "an IPv4 address",
     [](DeviceConfig& d, std::string_view v) {
       d.reported = ParseIpv4(v);
       return d.reported.has_value();
     }},
    {"app", "0..0xffffffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.identity.app); }},
    {"model", "0..0xffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.identity.model); }},
    {"mac", "six hex pairs like 02:00:00:00:00:01",
     [](DeviceConfig& d, std::string_view v) { return SetMac(v, d.identity.mac); }},
    {"bcast", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.bcast); }},
    {"silent", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.silent); }},
    {"answer_nth", "0..0xffffffff",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.answer_nth); }},
    {"twice", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.twice); }},
    {"status", "0..255", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.status); }},
    {"word", "0..0xffffffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.word); }},
    {"oversize", "0..65507", [](DeviceConfig& d, std::string_view v) { return SetOptionalSize(v, d.faults.oversize); }},
    {"truncate", "0..65507", [](DeviceConfig& d, std::string_view v) { return SetOptionalSize(v, d.faults.truncate); }},
    {"other_port", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.other_port); }},
    {"delay", "0..3600000 (milliseconds)",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.delay_ms, 3'600'000); }},
    {"ignore_list", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.ignore_list); }},
    {"any_identity", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.any_identity); }},
    {"login_status", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.login_status); }},
    {"tcp_refuse", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.tcp_refuse); }},
    {"tcp_silent", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.tcp_silent); }},
    {"cmd_status", "CODE:STATUS[:N], code and status 0..255, N 1..1000000",
     [](DeviceConfig& d, std::string_view v) { return SetCodeStatus(v, d.faults.cmd_status, &d.faults.cmd_status_nth); }},
    {"cmd_wrongcode", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetOptionalNumber(v, d.faults.cmd_wrongcode); }},
    {"cmd_badlen", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetOptionalNumber(v, d.faults.cmd_badlen); }},
    {"cmd_split", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.cmd_split); }},
    {"pw", "up to 15 printable characters",
     [](DeviceConfig& d, std::string_view v) { return SetText(v, d.settings.pw, wire::kMaxPasswordLength); }},
    {"devname", "up to 60 printable characters",
     [](DeviceConfig& d, std::string_view v) { return SetText(v, d.settings.devname.emplace()); }},
    {"apname", "up to 60 printable characters",
     [](DeviceConfig& d, std::string_view v) { return SetText(v, d.settings.apname); }},
    {"apver", "0..0xffffffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.apver); }},
    {"kver", "0..0xffffffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.kver); }},
    {"password", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.settings.password); }},
    {"timeserver", "up to 60 printable characters",
     [](DeviceConfig& d, std::string_view v) { return SetText(v, d.settings.timeserver); }},
    {"tz_offset", "-2147483648..2147483647 (seconds)",
     [](DeviceConfig& d, std::string_view v) { return SetSigned32(v, d.settings.tz_offset); }},
    {"tz_index", "0..0xffffffff",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.tz_index); }},
    {"time", "YYYY-MM-DDTHH:MM:SS, year 1970..2999",
     [](DeviceConfig& d, std::string_view v) { return SetTime(v, d.settings.time); }},
    {"ipmode", "0..255", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.ipmode); }},
    {"mask", "an IPv4 netmask", [](DeviceConfig& d, std::string_view v) { return SetIpv4(v, d.settings.mask); }},
    {"gateway", "an IPv4 address", [](DeviceConfig& d, std::string_view v) { return SetIpv4(v, d.settings.gateway); }},
    {"dns", "an IPv4 address", [](DeviceConfig& d, std::string_view v) { return SetIpv4(v, d.settings.dns); }},
    {"dns2", "an IPv4 address", [](DeviceConfig& d, std::string_view v) { return SetIpv4(v, d.settings.dns2); }},
    {"env", "0..0xffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.env); }},
    {"watchdog", "0..0xffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.watchdog); }},
    {"debug", "0..0xffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.debug); }},
    {"apstatus", "0..0xffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.apstatus); }},
    {"console", "0..0xffff", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.console); }},
    {"modem", "0..255", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.modem); }},
    {"interfaces", "0..64",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.interfaces, wire::kMaxInterface); }},
    {"netstat", "0..4096", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.netstat, 4096); }},
    {"netstat_page", "1..256",
     [](DeviceConfig& d, std::string_view v) {
       return SetNumber(v, d.settings.netstat_page, wire::NetstatEntry::kMost) && d.settings.netstat_page > 0;
     }},
    {"routes", "0..32",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.routes, wire::RouteEntry::kMost); }},
    {"ipfilter", "0..16",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.ipfilter, wire::IpFilterEntry::kMost); }},
    {"ipfilter_setting", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.ipfilter_setting); }},
    {"ppp_ports", "0..16",
     [](DeviceConfig& d,
        std::string_view v) { return SetNumber(v, d.settings.ppp_ports, wire::PppStatusEntry::kMost); }},
    {"ppp_entries", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetOptionalNumber(v, d.settings.ppp_entries); }},
    {"ppp_auth_count", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetOptionalNumber(v, d.settings.ppp_auth_count); }},
    {"restart_ms", "0..3600000 (milliseconds)",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.restart_ms, 3'600'000); }},
    {"ports", "1..16",
     [](DeviceConfig& d, std::string_view v) {
       return SetNumber(v, d.settings.serial.ports, kMaxSerialPorts) && d.settings.serial.ports > 0;
     }},
    {"dio_mode", "0..255", [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.serial.dio_mode); }},
    {"dio_state", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.serial.dio_state); }},
    {"report_to", "A.B.C.D:PORT, port 1..65535",
     [](DeviceConfig& d, std::string_view v) {
       size_t colon = v.rfind(':');
       if (colon == std::string_view::npos) return false;
       auto ip = ParseIpv4(v.substr(0, colon));
       auto port = ParseNumber(v.substr(colon + 1), 65535);
       if (!ip || !port || *port == 0) return false;
       d.report.to = std::pair{*ip, static_cast<uint16_t>(*port)};
       return true;
     }},
    {"report_every", "0..3600000 (milliseconds)",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.report.every_ms, 3'600'000); }},
    {"report", "an even number of hex digits, the whole datagram",
     [](DeviceConfig& d, std::string_view v) { return SetHex(v, d.report.bytes.emplace()); }},
    {"mute", "1..127",
     [](DeviceConfig& d, std::string_view v) {
       return SetOptionalNumber(v, d.faults.mute) && *d.faults.mute >= 1 && *d.faults.mute <= 127;
     }},
    // Transfers.
    {"config_size", "0..524288",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.config_size, 1 << 19); }},
    {"log_size", "0..524288",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.settings.log_size, 1 << 19); }},
    {"upload_status", "0..255",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.upload_status); }},
    {"upload_noreply", "0 or 1",
     [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.upload_noreply); }},
    {"upload_badlen", "0 or 1", [](DeviceConfig& d, std::string_view v) { return SetFlag(v, d.faults.upload_badlen); }},
    {"upload_store_ms", "0..3600000 (milliseconds)",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.upload_store_ms, 3'600'000); }},
    {"upload_stall_ms", "0..3600000 (milliseconds)",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.upload_stall_ms, 3'600'000); }},
    {"data_cut", "0..0xffffffff",
     [](DeviceConfig& d, std::string_view v) { return SetOptionalNumber(v, d.faults.data_cut); }},
    {"bank_extra", "0..65536",
     [](DeviceConfig& d, std::string_view v) { return SetNumber(v, d.faults.bank_extra, 65536); }},
};

// A locally administered address built from the IPv4 address keeps devices distinct without extra typing.
wire::Mac DefaultMac(uint32_t ip) {
  return {0x02,
          0x00,
          static_cast<uint8_t>(ip >> 24),
          static_cast<uint8_t>(ip >> 16),
          static_cast<uint8_t>(ip >> 8),
          static_cast<uint8_t>(ip)};
}

std::string_view Trim(std::string_view s) {
  const char* blank = " \t\r\n";
  size_t first = s.find_first_not_of(blank);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blank) - first + 1);
}

bool ReadConfigFile(const std::string& path, std::vector<DeviceConfig>& devices, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read config file " + path;
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view keys = Trim(std::string_view(line).substr(0, line.find('#')));
    if (keys.empty()) continue;
    std::string why;
    auto device = ParseDevice(keys, &why);
    if (!device) {
      *error = path + ":" + std::to_string(number) + ": " + why;
      return false;
    }
    devices.push_back(*device);
  }
  return true;
}

bool CheckDevices(std::vector<DeviceConfig>& devices, std::string* error) {
  if (devices.empty()) {
    *error = "no devices: give at least one --device or --config";
    return false;
  }
  std::set<std::string> names;
  std::set<uint32_t> ips;
  for (size_t i = 0; i < devices.size(); ++i) {
    DeviceConfig& d = devices[i];
    if (d.name.empty()) d.name = "dev" + std::to_string(i + 1);
    if (!names.insert(d.name).second) {
      *error = "two devices are named " + d.name;
      return false;
    }
    if (!ips.insert(d.ip).second) {
      *error = "device " + d.name + " uses an ip that another device already uses";
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<DeviceConfig> ParseDevice(std::string_view keys, std::string* error) {
  DeviceConfig device;
  std::set<std::string_view> seen;
  bool mac_given = false;
  while (!keys.empty()) {
    size_t comma = keys.find(',');
    std::string_view item = keys.substr(0, comma);
    keys = comma == std::string_view::npos ? std::string_view{} : keys.substr(comma + 1);
    size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      *error = "expected key=value, got \"" + std::string(item) + "\"";
      return std::nullopt;
    }
    std::string_view key = item.substr(0, eq);
    std::string_view value = item.substr(eq + 1);
    if (auto code = PayloadCode(key)) {
      if (device.payloads.contains(*code)) {
        *error = "key payload" + std::to_string(*code) + " given twice";
        return std::nullopt;
      }
      if (!SetHex(value, device.payloads[*code])) {
        *error = "bad value for " + std::string(key) + " (expected an even number of hex digits, at most " +
                 std::to_string(2 * (kMaxDatagram - wire::kQueryHeaderSize)) + ")";
        return std::nullopt;
      }
      continue;
    }
    const Key* found = nullptr;
    for (const Key& k : kKeys) {
      if (k.name == key) found = &k;
    }
    if (!found) {
      *error = "unknown key \"" + std::string(key) + "\"";
      return std::nullopt;
    }
    if (!seen.insert(found->name).second) {
      *error = "key " + std::string(key) + " given twice";
      return std::nullopt;
    }
    if (!found->set(device, value)) {
      *error =
          "bad value \"" + std::string(value) + "\" for " + std::string(key) + " (expected " + found->expected + ")";
      return std::nullopt;
    }
    mac_given = mac_given || key == "mac";
  }
  if (!seen.contains("ip")) {
    *error = "a device needs ip=";
    return std::nullopt;
  }
  if (!mac_given) device.identity.mac = DefaultMac(device.ip);
  return device;
}

std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::string* error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    bool inline_value = false;
    if (size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inline_value = true;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (arg != "--config" && arg != "--device" && arg != "--log") {
      *error = "unknown option " + std::string(argv[i]);
      return std::nullopt;
    }
    if (!inline_value) {
      if (i + 1 >= argc) {
        *error = std::string(arg) + " needs a value";
        return std::nullopt;
      }
      value = argv[++i];
    }
    if (arg == "--log") {
      options.log_path = value;
    } else if (arg == "--config") {
      if (!ReadConfigFile(std::string(value), options.devices, error)) return std::nullopt;
    } else {
      std::string why;
      auto device = ParseDevice(value, &why);
      if (!device) {
        *error = "--device " + std::string(value) + ": " + why;
        return std::nullopt;
      }
      options.devices.push_back(*device);
    }
  }
  if (!CheckDevices(options.devices, error)) return std::nullopt;
  return options;
}

}  // namespace devsim
