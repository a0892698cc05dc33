#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device.h"

namespace devsim {

struct Options {
  std::vector<DeviceConfig> devices;
  std::string log_path;
  bool help = false;
};

// One device from its comma-separated key=value description; nothing (and *error set) when it is bad.
std::optional<DeviceConfig> ParseDevice(std::string_view keys, std::string* error);

// Nothing (and *error set) for unusable arguments; reads every --config file named.
std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::string* error);

}  // namespace devsim
