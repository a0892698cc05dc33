#include "reach.h"

#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/netroute.h"

namespace tarnix::reach {
namespace {

constexpr uint32_t kNoAddress = 0;
constexpr uint32_t kBroadcast = 0xffffffffu;
constexpr uint32_t kRouteMetric = 20;

// Serialise the edits of parallel exchanges per table; never held together.
std::mutex arp_lock;
std::mutex route_lock;

bool unusable(uint32_t addr) { return addr == kNoAddress || addr == kBroadcast; }

void write_neighbour(uint32_t device_ip, const uint8_t mac[6], uint32_t local_ip) {
  if (unusable(device_ip)) return;
  std::lock_guard<std::mutex> hold(arp_lock);
  if (std::optional<platform::LocalInterface> itf = platform::interface_of(local_ip))
    platform::set_permanent_neighbour(itf->index, device_ip, mac);
}

void remove_neighbour(uint32_t device_ip, uint32_t local_ip) {
  if (unusable(device_ip)) return;
  std::lock_guard<std::mutex> hold(arp_lock);
  if (std::optional<platform::LocalInterface> itf = platform::interface_of(local_ip))
    platform::delete_neighbour(itf->index, device_ip);
}

// The route of the device under the route lock, when the local address has an
// interface and the route's next hop (the local address) lies in its subnet.
template <typename Edit>
void edit_route(uint32_t device_ip, uint32_t local_ip, Edit edit) {
  if (unusable(device_ip) || unusable(local_ip)) return;
  std::lock_guard<std::mutex> hold(route_lock);
  std::optional<platform::LocalInterface> itf = platform::interface_of(local_ip);
  if (!itf) return;
  const uint32_t next_hop = local_ip;
  if ((next_hop & itf->netmask) != (local_ip & itf->netmask)) return;
  edit(platform::HostRoute{device_ip, itf->index, local_ip, kRouteMetric});
}

}  // namespace

void add_entries(uint32_t device_ip, const uint8_t mac[6], uint32_t local_ip) {
  write_neighbour(device_ip, mac, local_ip);
  edit_route(device_ip, local_ip, platform::set_host_route);
}

// The neighbour table holds one entry per address and interface, so the MAC
// is not needed to find the entry again.
void remove_entries(uint32_t device_ip, uint32_t local_ip, const uint8_t*) {
  edit_route(device_ip, local_ip, platform::delete_host_route);
  remove_neighbour(device_ip, local_ip);
}

namespace {

// Exchanges that run at once for one device share its entries: the first
// writes them, the last removes them, so that no exchange loses its route
// while another one's bracket closes. Keyed by device and local address, the
// pair the entries are written for.
std::mutex users_lock;
std::map<std::pair<uint32_t, uint32_t>, unsigned> users;

}  // namespace

TemporaryEntries::TemporaryEntries(const DSINFO& device)
    : active_((device.flags & DSC_FLAG_DIRECT) == 0), device_ip_(device.device_ip), local_ip_(device.local_ip) {
  std::memcpy(mac_, device.mac, sizeof mac_);
  if (!active_) return;
  std::lock_guard<std::mutex> hold(users_lock);
  if (users[{device_ip_, local_ip_}]++ == 0) add_entries(device_ip_, mac_, local_ip_);
}

TemporaryEntries::~TemporaryEntries() {
  if (!active_) return;
  std::lock_guard<std::mutex> hold(users_lock);
  const auto it = users.find({device_ip_, local_ip_});
  if (it == users.end() || --it->second != 0) return;
  users.erase(it);
  remove_entries(device_ip_, local_ip_, mac_);
}

}  // namespace tarnix::reach
