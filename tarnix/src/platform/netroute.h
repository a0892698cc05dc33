// The workstation's neighbour and routing tables, as far as the temporary
// reachability entries need them. Addresses are IPv4 in network byte order.
// Nothing here keeps state between calls: every call reads or writes the
// tables of the calling thread's network stack afresh. Failures are reported
// as false only; callers treat them as silent.
#pragma once

#include <cstdint>
#include <optional>

namespace tarnix::platform {

struct LocalInterface {
  uint32_t index;
  uint32_t netmask;  // network byte order
};

// The interface that carries the local address `addr`, from a fresh read of
// the interface address table; nothing when no interface has that address.
std::optional<LocalInterface> interface_of(uint32_t addr);

// Writes (or overwrites) a permanent neighbour entry addr -> mac on the interface.
bool set_permanent_neighbour(uint32_t ifindex, uint32_t addr, const uint8_t mac[6]);
// Removes the neighbour entry for addr on the interface, whatever its state.
bool delete_neighbour(uint32_t ifindex, uint32_t addr);

// A host route of the one shape the library writes: destination/32 straight
// out of the interface (no gateway, link scope), with a preferred source
// address and a metric.
struct HostRoute {
  uint32_t destination;
  uint32_t ifindex;
  uint32_t source;
  uint32_t metric;
};

// Writes the route, replacing one to the same destination and metric.
bool set_host_route(const HostRoute& route);
// Removes the route only when one of exactly this shape exists; routes to the
// same destination that differ in mask, gateway, metric, source or interface
// stay.
bool delete_host_route(const HostRoute& route);

}  // namespace tarnix::platform
