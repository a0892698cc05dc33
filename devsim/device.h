#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
};

struct DeviceConfig {
  std::string name;
  uint32_t ip = 0;  // host order, like every address kept here
  std::optional<uint32_t> reported;
  wire::Identity identity;
  bool bcast = false;
  Faults faults;

  uint32_t reported_ip() const { return reported.value_or(ip); }
};

}  // namespace devsim
