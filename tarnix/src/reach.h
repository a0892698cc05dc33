// Temporary reachability entries: a permanent neighbour entry and a /32 host
// route that let the workstation reach a device outside its own subnets on the
// segment where the device answered the search.
#pragma once

#include <cstdint>

#include "tarnix.h"

namespace tarnix::reach {

// Writes the neighbour entry, then the host route (every failure is silent).
void add_entries(uint32_t device_ip, const uint8_t mac[6], uint32_t local_ip);
// Removes the host route, then the neighbour entry (every failure is silent).
void remove_entries(uint32_t device_ip, uint32_t local_ip, const uint8_t mac[6]);

// Brackets one exchange: adds the entries when the record's direct flag is
// clear and removes them when it goes out of scope, on every path.
class TemporaryEntries {
 public:
  explicit TemporaryEntries(const DSINFO& device);
  ~TemporaryEntries();
  TemporaryEntries(const TemporaryEntries&) = delete;
  TemporaryEntries& operator=(const TemporaryEntries&) = delete;

 private:
  bool active_;
  uint32_t device_ip_;
  uint32_t local_ip_;
  uint8_t mac_[6];
};

}  // namespace tarnix::reach
