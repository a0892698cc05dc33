#pragma once

// What a device keeps for its serial ports and DIO channels, and where it sends IP location reports.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace devsim {

inline constexpr size_t kMaxSerialPorts = 16;
inline constexpr size_t kRateCount = 18;

struct SerialPort {
  uint8_t rate_index = 12;  // 9600 bits per second
  uint8_t format = 0x03;    // 8 data bits, one stop bit, no parity
  uint8_t option = 0;
  uint8_t fifo = 1;
  uint8_t interface = 0;  // RS232
  uint8_t driver_mode = 0;
  int8_t op_mode = 0;
  std::array<uint8_t, 16> name{};
  std::array<uint8_t, 8> data_packing{};
  uint32_t inactivity = 0;
  uint32_t tcp_alive = 7;
  std::array<uint8_t, 8> tcp_server{};
  std::array<uint8_t, 172> tcp_client{};
  std::array<uint8_t, 52> udp{};
  std::array<uint8_t, 4> port_alert{};
};

struct SerialSettings {
  SerialSettings() {
    for (size_t i = 0; i < port.size(); ++i) {
      std::string n = "Port" + std::to_string(i + 1);
      std::copy(n.begin(), n.end(), port[i].name.begin());
      uint16_t listen = static_cast<uint16_t>(4001 + i);  // the TCP server's port, as the query reports it
      port[i].tcp_server[0] = static_cast<uint8_t>(listen);
      port[i].tcp_server[1] = static_cast<uint8_t>(listen >> 8);
    }
  }
  uint8_t ports = 2;  // ports 1..ports answer
  std::array<SerialPort, kMaxSerialPorts> port;  // port p at p - 1
  uint8_t dio_mode = 0;   // bit i: channel i
  uint8_t dio_state = 0;
};

// IP location reports this device sends on its own, from ip:4800.
struct ReportConfig {
  std::optional<std::pair<uint32_t, uint16_t>> to;  // host order address, port
  uint32_t every_ms = 0;                            // 0: once, right after start
  std::optional<std::vector<uint8_t>> bytes;        // the whole datagram; default built from the settings
};

}  // namespace devsim
