// Soak: repeats search, login, commands, queries, an upload and logout against emulated
// devices in the network lab for a bounded time, and prints resident memory
// and open descriptors at the start, after a warm-up and at the end, which
// must stay flat. Not part of the tests.
//   soak [--seconds S]   (default 120; needs root for the lab)
#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "tarnix.h"

namespace {

using Clock = std::chrono::steady_clock;

long resident_kib() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::vector<DSINFO> g_found;
int32_t DSC_CALL keep(DSINFO* d) {
  if (d != nullptr) g_found.push_back(*d);
  return 1;
}

struct Tally {
  long cycles = 0;
  std::map<std::string, long> failures;
  uint32_t device = 0;
  void check(const char* what, int32_t r) {
    if (r == DSC_OK) return;
    in_addr a{};
    a.s_addr = device;
    ++failures[std::string(what) + " " + std::to_string(r) + " at " + inet_ntoa(a)];
  }
};

std::string g_image;  // the image every cycle uploads

// One cycle: a broadcast search, then per device attach, queries, login,
// commands, an upload, logout and detach.
void cycle(Tally& t) {
  g_found.clear();
  t.check("search", dsc_EnumSearch(0, keep));
  for (const DSINFO& d : g_found) {
    t.device = d.device_ip;
    int32_t s = -1;
    t.check("attach", dsc_Attach(&d, &s));
    if (s < 0) continue;
    dsc_LibSetTimeout(s, 300, 2);
    char name[40];
    APINFO ap;
    t.check("name", dsc_GetName(s, name));
    t.check("apinfo", dsc_GetAPInfo(s, &ap));
    t.check("login", dsc_Login(s, "pw"));
    t.check("watchdog", dsc_SetWatchdog(s, static_cast<int32_t>(t.cycles & 1)));
    t.check("timeserver", dsc_SetTimeServer(s, "ntp.soak"));
    t.check("mail", dsc_SetMailAcount(s, "soak", "secret"));
    char account[15], password[15];
    t.check("readmail", dsc_RetriveMailAcount(s, account, password));
    t.check("upload", dsc_UpgradeAP(s, g_image.c_str()));
    t.check("logout", dsc_Logout(s));
    t.check("detach", dsc_Detach(s));
  }
  ++t.cycles;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 120;
  if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0) seconds = std::atof(argv[2]);
  std::string why;
  auto lab = lab::Lab::Create({}, &why);
  if (!lab) {
    std::fprintf(stderr, "soak: lab unavailable: %s\n", why.c_str());
    return 1;
  }
  // Found by broadcast, every device is reached through the temporary entries,
  // which carry the MAC from its reply: give each one its interface's own.
  auto mac_of = [&](const char* host) {
    std::string mac = lab->Run(host, "cat /sys/class/net/eth0/address");
    mac.resize(17);
    return mac;
  };
  const bool started =
      lab->StartDevsim("dev1", {"--device", "name=a,ip=10.77.0.2,app=0x80004100,model=0x4512,pw=pw,bcast=1,mac=" +
                                               mac_of("dev1")}, &why) &&
      lab->StartDevsim("dev2", {"--device", "name=b,ip=10.77.0.3,app=0x80004012,model=0x4512,pw=pw,bcast=1,mac=" +
                                               mac_of("dev2")}, &why) &&
      lab->StartDevsim("outside", {"--device", "name=c,ip=192.168.77.2,app=0x80004100,model=0x4512,pw=pw,bcast=1,mac=" +
                                                  mac_of("outside")}, &why);
  if (!started) {
    std::fprintf(stderr, "soak: %s\n", why.c_str());
    return 1;
  }
  char image[] = "/tmp/soak_XXXXXX";
  const int fd = mkstemp(image);
  if (fd < 0) return 1;
  const std::string bytes(64 * 1024, 's');
  const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  g_image = image;
  if (!written) return 1;
  dsc_SetSearchOpt(200, 2);
  Tally t;
  long rss_start = 0, rss_warm = 0;
  int fds_start = 0, fds_warm = 0;
  {
    lab::Lab::InWorkstation inside(*lab);
    rss_start = resident_kib();
    fds_start = lab::OpenDescriptors();
    const auto begin = Clock::now();
    const auto warm_at = begin + std::chrono::duration<double>(seconds / 10);
    const auto end = begin + std::chrono::duration<double>(seconds);
    bool warm = false;
    while (Clock::now() < end) {
      cycle(t);
      if (!warm && Clock::now() >= warm_at) {
        warm = true;
        rss_warm = resident_kib();
        fds_warm = lab::OpenDescriptors();
      }
    }
  }
  std::remove(image);
  long failed = 0;
  for (const auto& [what, n] : t.failures) failed += n;
  std::printf("%ld cycles in %.0f s (%zu devices each), %ld failed calls\n", t.cycles, seconds, g_found.size(), failed);
  for (const auto& [what, n] : t.failures) std::printf("  %s: %ld\n", what.c_str(), n);
  std::printf("resident memory KiB: start %ld, after warm-up %ld, end %ld\n", rss_start, rss_warm, resident_kib());
  std::printf("open descriptors: start %d, after warm-up %d, end %d\n", fds_start, fds_warm, lab::OpenDescriptors());
  return failed == 0 ? 0 : 1;
}
