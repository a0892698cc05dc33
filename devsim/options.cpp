#include "options.h"

#include <arpa/inet.h>

#include <charconv>
#include <fstream>
#include <limits>
#include <set>

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
