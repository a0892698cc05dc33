// The administration program's discovery work per device: a directed search,
// attach, then the queries it shows in its list. Devices on 127.0.0.2 to .9.
// The bracket variant runs in the network lab and prices the neighbour and
// route edits around each query (direct flag clear versus set).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "tarnix.h"

namespace {

constexpr int kDevices = 8;

DSINFO g_found;
int32_t DSC_CALL keep(DSINFO* d) {
  if (d != nullptr) g_found = *d;
  return 1;
}

double micros_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
}

void report(benchmark::State& state, std::vector<double>& samples, int failures) {
  std::sort(samples.begin(), samples.end());
  state.counters["median_us"] = samples[samples.size() / 2];
  state.counters["p99_us"] = samples[samples.size() * 99 / 100];
  state.counters["failures"] = failures;
}

// Returns the number of failed calls.
int discover(const DSINFO& d) {
  int32_t s = -1, v = 0, got = 0;
  if (dsc_Attach(&d, &s) != DSC_OK) return 1;
  int failures = 0;
  IFCONFIGINFO ifs[1];
  char name[40];
  KERNELINFO kernel;
  APINFO ap;
  failures += dsc_GetIfConfig(s, 1, &got, ifs) != DSC_OK;
  failures += dsc_GetIPConfig(s, 0, &v) != DSC_OK;
  failures += dsc_GetName(s, name) != DSC_OK;
  failures += dsc_GetEnvironmentMode(s, &v) != DSC_OK;
  failures += dsc_GetKernelInfo(s, &kernel) != DSC_OK;
  failures += dsc_GetAPInfo(s, &ap) != DSC_OK;
  dsc_Detach(s);
  return failures;
}

void BM_DiscoveryPerDevice(benchmark::State& state) {
  std::vector<std::string> args;
  for (int i = 0; i < kDevices; ++i) {
    char keys[128];
    std::snprintf(keys, sizeof keys, "name=d%d,ip=127.0.0.%d,app=0x80004012,model=0x4512,mac=02:00:5e:30:00:%02x", i,
                  2 + i, i);
    args.push_back("--device");
    args.push_back(keys);
  }
  std::string error;
  auto devsim = lab::Devsim::Start(args, "", &error);
  if (!devsim) {
    state.SkipWithError(error.c_str());
    return;
  }
  dsc_SetSearchOpt(1000, 5);
  std::vector<double> samples;
  int failures = 0;
  for (auto _ : state) {
    for (int i = 0; i < kDevices; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      const std::string ip = "127.0.0." + std::to_string(2 + i);
      if (dsc_EnumSearch(static_cast<int32_t>(inet_addr(ip.c_str())), keep) != DSC_OK) {
        ++failures;
        continue;
      }
      failures += discover(g_found);
      samples.push_back(micros_since(t0));
    }
  }
  report(state, samples, failures);
}
BENCHMARK(BM_DiscoveryPerDevice)->Unit(benchmark::kMillisecond)->Iterations(200);

// One query to the lab's outside device with the temporary entries, and one to
// a device on the workstation's subnet without them.
void BM_QueryInLab(benchmark::State& state) {
  const bool bracketed = state.range(0) != 0;
  std::string why;
  auto lab = lab::Lab::Create({}, &why);
  if (!lab) {
    state.SkipWithError(("lab unavailable: " + why).c_str());
    return;
  }
  const char* host = bracketed ? "outside" : "dev1";
  const char* ip = bracketed ? "192.168.77.2" : "10.77.0.2";
  std::string mac = lab->Run(host, "cat /sys/class/net/eth0/address");
  mac.resize(17);
  if (!lab->StartDevsim(host, {"--device", std::string("name=x,ip=") + ip + ",app=1,model=2,mac=" + mac}, &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  DSINFO d{};
  d.app_id = 1;
  d.model = 2;
  unsigned m[6];
  std::sscanf(mac.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
  for (int i = 0; i < 6; ++i) d.mac[i] = static_cast<uint8_t>(m[i]);
  d.device_ip = inet_addr(ip);
  d.local_ip = inet_addr("10.77.0.1");
  d.flags = bracketed ? 0 : DSC_FLAG_DIRECT;
  int32_t s = -1;
  dsc_Attach(&d, &s);
  lab::Lab::InWorkstation inside(*lab);
  std::vector<double> samples;
  int failures = 0;
  char name[40];
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    failures += dsc_GetName(s, name) != DSC_OK;
    samples.push_back(micros_since(t0));
  }
  dsc_Detach(s);
  report(state, samples, failures);
}
BENCHMARK(BM_QueryInLab)->Arg(0)->Arg(1)->ArgName("bracketed")->Unit(benchmark::kMicrosecond)->Iterations(1000);

}  // namespace

BENCHMARK_MAIN();
