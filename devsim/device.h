#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame.h"
#include "serial_state.h"
#include "wire.h"

namespace devsim {

inline constexpr uint16_t kDevicePort = 4800;
inline constexpr uint16_t kOtherReplyPort = 4801;
inline constexpr size_t kMaxDatagram = 65507;

// Ways a device can misbehave, so software under test can be driven through its error paths.
struct Faults {
  bool silent = false;
  uint32_t answer_nth = 0;  // 0: answer every request
  bool twice = false;
  uint8_t status = 0;
  uint32_t word = 0;
  std::optional<size_t> oversize;
  std::optional<size_t> truncate;
  bool other_port = false;
  uint32_t delay_ms = 0;
  bool ignore_list = false;
  bool any_identity = false;
  // The session channel's.
  uint8_t login_status = 251;  // status of a refused login
  bool tcp_refuse = false;
  bool tcp_silent = false;
  std::optional<std::pair<uint8_t, uint8_t>> cmd_status;  // command code, status it is answered with
  uint32_t cmd_status_nth = 0;                            // only that frame of the code, counted from 1; 0: every one
  std::optional<uint8_t> cmd_wrongcode;
  std::optional<uint8_t> cmd_badlen;
  bool cmd_split = false;
  std::optional<uint8_t> mute;  // a datagram command code never answered
  // Transfers'.
  uint8_t upload_status = 1;        // status of an upload's final reply
  bool upload_noreply = false;      // an upload or bank write gets no final reply
  bool upload_badlen = false;       // the final reply's length field says 1
  uint32_t upload_store_ms = 0;     // the final reply leaves this long after the last byte
  uint32_t upload_stall_ms = 0;     // after a start frame nothing is read for this long
  std::optional<uint32_t> data_cut;  // downloads and bank reads send only this many data bytes
  uint32_t bank_extra = 0;          // a bank read sends this many bytes more than asked
};

// What a device reports about itself; the defaults make a plain device answer every query plausibly.
struct Settings {
  std::optional<std::string> devname;  // default: the device's log name
  std::string apname = "demo-ap";
  uint32_t apver = 0x01020300;
  uint32_t kver = 0x02010000;
  bool password = false;
  std::string pw;  // the session channel's login password
  std::string timeserver = "ntp.lan";
  int32_t tz_offset = 0;
  uint32_t tz_index = 22;
  std::optional<int64_t> time;  // the clock at start, seconds since 1970 as the device counts them
  uint8_t ipmode = 0;
  uint32_t mask = 0xffffff00;
  std::optional<uint32_t> gateway;
  std::optional<uint32_t> dns;
  uint32_t dns2 = 0;
  uint16_t env = 0;
  uint16_t watchdog = 1;
  uint16_t debug = 0;
  uint16_t apstatus = 1;
  uint16_t console = 0;
  uint8_t modem = 0;
  uint16_t interfaces = 1;
  uint16_t netstat = 3;
  uint16_t netstat_page = 40;
  uint8_t routes = 2;
  uint8_t ipfilter = 2;
  uint8_t ipfilter_setting = 0;
  uint8_t ppp_ports = 1;
  std::optional<uint8_t> ppp_entries;     // the PPP configuration count reported; default: entries written
  std::optional<uint8_t> ppp_auth_count;  // the PPP authentication count reported; default: the one written
  uint32_t restart_ms = 0;                // how long a restart keeps the device away
  // Written over the session channel.
  std::optional<uint32_t> address;                    // of interface 0; default the device's ip
  std::map<uint8_t, std::vector<uint8_t>> records;    // per query code: its payload as last written
  std::string private_key;
  std::string mail_account;
  std::string mail_password;
  std::map<uint8_t, std::array<uint8_t, wire::PppConfigRecord::kSize>> ppp_config;  // per entry
  uint8_t ppp_auth_written = 0;
  std::array<uint8_t, wire::PppAuthTable::kSize> ppp_auth{};
  SerialSettings serial;
  // Transfers.
  uint32_t config_size = 1024;  // the configuration served before any is uploaded
  uint32_t log_size = 1500;
  std::optional<std::vector<uint8_t>> config;               // as last uploaded
  std::map<uint32_t, std::vector<uint8_t>> banks;          // written banks, 32768 bytes each
  std::map<uint8_t, std::vector<uint8_t>> images;          // per upload code, the last image kept whole
};

struct DeviceConfig {
  std::string name;
  uint32_t ip = 0;  // host order, like every address kept here
  std::optional<uint32_t> reported;
  wire::Identity identity;
  bool bcast = false;
  Faults faults;
  Settings settings;
  std::map<uint8_t, std::vector<uint8_t>> payloads;  // per command code: reply bytes from byte 20 on
  ReportConfig report;

  uint32_t reported_ip() const { return reported.value_or(ip); }
  const std::string& devname() const { return settings.devname ? *settings.devname : name; }
  uint32_t gateway() const { return settings.gateway.value_or((ip & settings.mask) | 1); }
  uint32_t dns() const { return settings.dns.value_or(gateway()); }
};

}  // namespace devsim
