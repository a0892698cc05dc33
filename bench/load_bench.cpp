// Load: 256 sessions to 256 emulated devices, queried (and, once logged in,
// commanded) from several threads at once. Prints queries per second, the
// latency distribution, descriptor counts and failures by result.
//   load_bench [--threads N] [--seconds S] [--lab]
// --lab also runs the bracketed case: several threads query one device outside
// the workstation's subnet in the network lab (direct flag clear), so that
// every exchange writes and removes the temporary entries while others run.
#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lab/lab.h"
#include "tarnix.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  std::vector<double> micros;
  std::map<int32_t, long> failures;  // result -> count
  long calls = 0;
};

void merge(Figures& all, const Figures& one) {
  all.micros.insert(all.micros.end(), one.micros.begin(), one.micros.end());
  for (const auto& [r, n] : one.failures) all.failures[r] += n;
  all.calls += one.calls;
}

void print(const char* what, Figures& f, double seconds) {
  std::sort(f.micros.begin(), f.micros.end());
  auto at = [&](double q) { return f.micros.empty() ? 0.0 : f.micros[static_cast<size_t>(q * (f.micros.size() - 1))]; };
  long failed = 0;
  for (const auto& [r, n] : f.failures) failed += n;
  std::printf("%s: %ld calls in %.1f s = %.0f per second; latency us p50 %.0f p90 %.0f p99 %.0f p99.9 %.0f max %.0f; "
              "failures %ld",
              what, f.calls, seconds, f.calls / seconds, at(0.5), at(0.9), at(0.99), at(0.999),
              f.micros.empty() ? 0.0 : f.micros.back(), failed);
  for (const auto& [r, n] : f.failures) std::printf(" [%d: %ld]", r, n);
  std::printf("\n");
}

// One call of the rotation on session s; returns its result.
int32_t query(int32_t s, long i) {
  char name[40];
  uint32_t address = 0;
  APINFO ap;
  KERNELINFO kernel;
  IFCONFIGINFO ifs[1];
  int32_t got = 0;
  switch (i % 5) {
    case 0:
      return dsc_GetName(s, name);
    case 1:
      return dsc_GetIP(s, 255, &address);
    case 2:
      return dsc_GetAPInfo(s, &ap);
    case 3:
      return dsc_GetKernelInfo(s, &kernel);
    default:
      return dsc_GetIfConfig(s, 1, &got, ifs);
  }
}

int32_t command(int32_t s, long i) { return dsc_SetWatchdog(s, static_cast<int32_t>(i & 1)); }

// Each thread takes the sessions t, t + threads, ... in turn until the time is up.
template <typename Call>
Figures hammer(const std::vector<int32_t>& sessions, int threads, double seconds, Call call) {
  std::vector<Figures> per(static_cast<size_t>(threads));
  std::vector<std::thread> workers;
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      Figures& f = per[static_cast<size_t>(t)];
      for (long i = 0; Clock::now() < end; ++i) {
        const int32_t s = sessions[(static_cast<size_t>(t) + static_cast<size_t>(i) * threads) % sessions.size()];
        const auto t0 = Clock::now();
        const int32_t r = call(s, i);
        f.micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        ++f.calls;
        if (r != DSC_OK) ++f.failures[r];
      }
    });
  }
  for (auto& w : workers) w.join();
  Figures all;
  for (const Figures& f : per) merge(all, f);
  return all;
}

std::string device_ip(int i) { return "127.0." + std::to_string(1 + i / 200) + "." + std::to_string(1 + i % 200); }

int loopback(int threads, double seconds) {
  constexpr int kDevices = 256;
  char path[] = "/tmp/load_bench_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 1;
  {
    std::ofstream config(path);
    for (int i = 0; i < kDevices; ++i) {
      char mac[24];
      std::snprintf(mac, sizeof mac, "02:00:5e:40:%02x:%02x", i >> 8, i & 0xff);
      config << "name=d" << i << ",ip=" << device_ip(i) << ",app=0x80004100,model=0x4512,mac=" << mac << ",pw=pw\n";
    }
  }
  std::string error;
  auto devsim = lab::Devsim::Start({"--config", path}, "", &error);
  std::remove(path);
  if (!devsim) {
    std::fprintf(stderr, "load_bench: %s\n", error.c_str());
    return 1;
  }
  const int fds_before = lab::OpenDescriptors();
  std::vector<int32_t> sessions;
  for (int i = 0; i < kDevices; ++i) {
    DSINFO d{};
    d.app_id = 0x80004100u;
    d.model = 0x4512;
    d.flags = DSC_FLAG_DIRECT;
    d.device_ip = inet_addr(device_ip(i).c_str());
    d.reported_ip = d.device_ip;
    d.local_ip = inet_addr("127.0.0.1");
    d.mac[0] = 0x02;
    d.mac[2] = 0x5e;
    d.mac[3] = 0x40;
    d.mac[4] = static_cast<uint8_t>(i >> 8);
    d.mac[5] = static_cast<uint8_t>(i & 0xff);
    int32_t s = -1;
    if (dsc_Attach(&d, &s) != DSC_OK) {
      std::fprintf(stderr, "load_bench: attach %d failed\n", i);
      return 1;
    }
    dsc_LibSetTimeout(s, 1000, 2);
    sessions.push_back(s);
  }
  std::printf("%d sessions attached, %d threads; descriptors before %d\n", kDevices, threads, fds_before);
  Figures q = hammer(sessions, threads, seconds, query);
  print("queries", q, seconds);
  std::printf("descriptors after the queries: %d\n", lab::OpenDescriptors());

  long refused = 0;
  for (int32_t s : sessions) refused += dsc_Login(s, "pw") != DSC_OK;
  std::printf("logins: %ld refused of %d; descriptors with every channel open: %d\n", refused, kDevices,
              lab::OpenDescriptors());
  Figures c = hammer(sessions, threads, seconds, command);
  print("commands", c, seconds);
  for (int32_t s : sessions) dsc_Detach(s);
  std::printf("descriptors after detaching: %d\n", lab::OpenDescriptors());
  return 0;
}

int bracketed(int threads, double seconds) {
  std::string why;
  auto lab = lab::Lab::Create({}, &why);
  if (!lab) {
    std::fprintf(stderr, "load_bench: lab unavailable: %s\n", why.c_str());
    return 1;
  }
  std::string mac = lab->Run("outside", "cat /sys/class/net/eth0/address");
  mac.resize(17);
  if (!lab->StartDevsim("outside", {"--device", "name=far,ip=192.168.77.2,app=1,model=2,mac=" + mac}, &why)) {
    std::fprintf(stderr, "load_bench: %s\n", why.c_str());
    return 1;
  }
  DSINFO d{};
  d.app_id = 1;
  d.model = 2;
  unsigned m[6];
  std::sscanf(mac.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
  for (int i = 0; i < 6; ++i) d.mac[i] = static_cast<uint8_t>(m[i]);
  d.device_ip = inet_addr("192.168.77.2");
  d.reported_ip = d.device_ip;
  d.local_ip = inet_addr("10.77.0.1");
  d.flags = 0;  // through the temporary entries
  std::vector<int32_t> sessions;
  for (int t = 0; t < threads; ++t) {
    int32_t s = -1;
    dsc_Attach(&d, &s);
    dsc_LibSetTimeout(s, 300, 1);
    sessions.push_back(s);
  }
  Figures f;
  std::string left;
  {
    lab::Lab::InWorkstation inside(*lab);
    f = hammer(sessions, threads, seconds, [](int32_t s, long) {
      char name[40];
      return dsc_GetName(s, name);
    });
  }
  for (int32_t s : sessions) dsc_Detach(s);
  print("bracketed queries, one outside device", f, seconds);
  std::printf("left behind: neighbour [%s] route [%s]\n",
              lab->Run("ws", "ip neigh show 192.168.77.2 nud permanent | tr -d '\\n'").c_str(),
              lab->Run("ws", "ip route show 192.168.77.2 | tr -d '\\n'").c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 8;
  double seconds = 5;
  bool with_lab = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--threads" && i + 1 < argc) {
      threads = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--seconds" && i + 1 < argc) {
      seconds = std::max(0.1, std::atof(argv[++i]));
    } else if (a == "--lab") {
      with_lab = true;
    } else {
      std::fprintf(stderr, "usage: %s [--threads N] [--seconds S] [--lab]\n", argv[0]);
      return 2;
    }
  }
  // The bracketed run needs the machine's namespace to build the lab in;
  // the loopback run gets a private one so that it cannot reach any network.
  if (with_lab) return bracketed(threads, seconds);
  if (!lab::EnterPrivateNetns()) {
    std::fprintf(stderr, "load_bench: no private network namespace\n");
    return 1;
  }
  return loopback(threads, seconds);
}
