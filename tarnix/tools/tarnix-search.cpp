// tarnix-search: finds devices with the library's search and prints each one.
// A small client of the public interface only, used by the demo.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tarnix.h"

namespace {

int g_found = 0;

const char* dotted(uint32_t addr, char* buf) {
  in_addr a{};
  a.s_addr = addr;
  return inet_ntop(AF_INET, &a, buf, INET_ADDRSTRLEN);
}

int32_t DSC_CALL print_device(DSINFO* d) {
  if (d == nullptr) return 1;
  char dev[INET_ADDRSTRLEN], rep[INET_ADDRSTRLEN], loc[INET_ADDRSTRLEN];
  std::printf("%-15s app 0x%X model 0x%04X mac %02x:%02x:%02x:%02x:%02x:%02x reported %s via %s%s\n",
              dotted(d->device_ip, dev), d->app_id, d->model, d->mac[0], d->mac[1], d->mac[2], d->mac[3], d->mac[4],
              d->mac[5], dotted(d->reported_ip, rep), dotted(d->local_ip, loc),
              (d->flags & DSC_FLAG_DIRECT) ? " (direct)" : "");
  std::fflush(stdout);
  ++g_found;
  return 1;
}

void usage() {
  std::fprintf(stderr,
               "usage: tarnix-search [--timeout MS] [--rounds N] [ADDRESS]\n"
               "  Without ADDRESS, broadcasts through every local address; with one, asks only it.\n");
}

}  // namespace

int main(int argc, char** argv) {
  int32_t timeout = 1000, rounds = 4;
  uint32_t address = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
      timeout = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (argv[i][0] != '-' && inet_pton(AF_INET, argv[i], &address) == 1) {
    } else {
      usage();
      return 2;
    }
  }
  dsc_SetSearchOpt(timeout, rounds);
  const int32_t r = dsc_EnumSearch(static_cast<int32_t>(address), print_device);
  std::printf("%d device(s) found, result %d\n", g_found, r);
  return r == DSC_OK ? 0 : 1;
}
