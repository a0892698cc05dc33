// Linux backend of the neighbour and routing tables, over rtnetlink with
// libnl-route. Every call opens its own netlink socket, so it works on the
// network namespace of the calling thread at that moment and shares nothing
// with other threads.
#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netlink/addr.h>
#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/addr.h>
#include <netlink/route/neighbour.h>
#include <netlink/route/nexthop.h>
#include <netlink/route/route.h>
#include <netlink/socket.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

#include "platform/netroute.h"

namespace tarnix::platform {
namespace {

template <auto Release>
struct Releaser {
  template <typename T>
  void operator()(T* p) const {
    Release(p);
  }
};

using Socket = std::unique_ptr<nl_sock, Releaser<nl_socket_free>>;
using Cache = std::unique_ptr<nl_cache, Releaser<nl_cache_free>>;
using Addr = std::unique_ptr<nl_addr, Releaser<nl_addr_put>>;
using Neigh = std::unique_ptr<rtnl_neigh, Releaser<rtnl_neigh_put>>;
using Route = std::unique_ptr<rtnl_route, Releaser<rtnl_route_put>>;

Socket connect_route() {
  Socket sock(nl_socket_alloc());
  if (sock && nl_connect(sock.get(), NETLINK_ROUTE) != 0) sock.reset();
  return sock;
}

Addr ipv4(uint32_t addr, int prefixlen = 32) {
  Addr a(nl_addr_build(AF_INET, &addr, sizeof addr));
  if (a) nl_addr_set_prefixlen(a.get(), prefixlen);
  return a;
}

uint32_t netmask_of(int prefixlen) {
  if (prefixlen <= 0) return 0;
  if (prefixlen >= 32) return 0xffffffffu;
  return htonl(~((1u << (32 - prefixlen)) - 1u));
}

// The neighbour object that names one entry: address on an interface.
Neigh neighbour(uint32_t ifindex, uint32_t addr) {
  Neigh n(rtnl_neigh_alloc());
  Addr dst = ipv4(addr);
  if (!n || !dst) return nullptr;
  rtnl_neigh_set_family(n.get(), AF_INET);
  rtnl_neigh_set_ifindex(n.get(), static_cast<int>(ifindex));
  if (rtnl_neigh_set_dst(n.get(), dst.get()) != 0) return nullptr;
  return n;
}

// Every attribute is given, so that a delete matches only this shape: the
// kernel skips routes whose metric, scope, preferred source, protocol,
// interface or prefix length differ from the request.
Route host_route(const HostRoute& r) {
  Route route(rtnl_route_alloc());
  Addr dst = ipv4(r.destination);
  Addr src = ipv4(r.source);
  if (!route || !dst || !src) return nullptr;
  rtnl_route_set_family(route.get(), AF_INET);
  rtnl_route_set_table(route.get(), RT_TABLE_MAIN);
  rtnl_route_set_type(route.get(), RTN_UNICAST);
  rtnl_route_set_protocol(route.get(), RTPROT_STATIC);
  rtnl_route_set_scope(route.get(), RT_SCOPE_LINK);
  rtnl_route_set_priority(route.get(), r.metric);
  if (rtnl_route_set_dst(route.get(), dst.get()) != 0) return nullptr;
  if (rtnl_route_set_pref_src(route.get(), src.get()) != 0) return nullptr;
  rtnl_nexthop* nh = rtnl_route_nh_alloc();
  if (nh == nullptr) return nullptr;
  rtnl_route_nh_set_ifindex(nh, static_cast<int>(r.ifindex));
  rtnl_route_add_nexthop(route.get(), nh);  // the route owns it from here
  return route;
}

}  // namespace

std::optional<LocalInterface> interface_of(uint32_t addr) {
  Socket sock = connect_route();
  if (!sock) return std::nullopt;
  nl_cache* raw = nullptr;
  if (rtnl_addr_alloc_cache(sock.get(), &raw) != 0) return std::nullopt;
  Cache cache(raw);
  for (nl_object* obj = nl_cache_get_first(cache.get()); obj != nullptr; obj = nl_cache_get_next(obj)) {
    auto* row = reinterpret_cast<rtnl_addr*>(obj);
    if (rtnl_addr_get_family(row) != AF_INET) continue;
    nl_addr* local = rtnl_addr_get_local(row);
    if (local == nullptr || nl_addr_get_len(local) != sizeof addr) continue;
    if (std::memcmp(nl_addr_get_binary_addr(local), &addr, sizeof addr) != 0) continue;
    return LocalInterface{static_cast<uint32_t>(rtnl_addr_get_ifindex(row)), netmask_of(rtnl_addr_get_prefixlen(row))};
  }
  return std::nullopt;
}

bool set_permanent_neighbour(uint32_t ifindex, uint32_t addr, const uint8_t mac[6]) {
  Socket sock = connect_route();
  Neigh n = neighbour(ifindex, addr);
  Addr lladdr(nl_addr_build(AF_LLC, mac, 6));
  if (!sock || !n || !lladdr) return false;
  rtnl_neigh_set_lladdr(n.get(), lladdr.get());
  rtnl_neigh_set_state(n.get(), NUD_PERMANENT);
  return rtnl_neigh_add(sock.get(), n.get(), NLM_F_CREATE | NLM_F_REPLACE) == 0;
}

bool delete_neighbour(uint32_t ifindex, uint32_t addr) {
  Socket sock = connect_route();
  Neigh n = neighbour(ifindex, addr);
  return sock && n && rtnl_neigh_delete(sock.get(), n.get(), 0) == 0;
}

bool set_host_route(const HostRoute& route) {
  Socket sock = connect_route();
  Route r = host_route(route);
  return sock && r && rtnl_route_add(sock.get(), r.get(), NLM_F_CREATE | NLM_F_REPLACE) == 0;
}

bool delete_host_route(const HostRoute& route) {
  Socket sock = connect_route();
  Route r = host_route(route);
  return sock && r && rtnl_route_delete(sock.get(), r.get(), 0) == 0;
}

}  // namespace tarnix::platform
