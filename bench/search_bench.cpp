// Directed search to one emulated device on 127.0.0.2: how long one search takes
// from call to return. The reply must be taken as it arrives, not after a sleep.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "lab/lab.h"
#include "tarnix.h"

namespace {

int32_t DSC_CALL keep(DSINFO*) { return 1; }

void BM_DirectedSearch(benchmark::State& state) {
  std::string error;
  auto dev = lab::Devsim::Start(
      {"--device", "name=bench,ip=127.0.0.2,app=0x80004012,model=0x4512,mac=02:00:5e:00:00:01"}, "", &error);
  if (!dev) {
    state.SkipWithError(error.c_str());
    return;
  }
  dsc_SetSearchOpt(1000, 5);
  const int32_t address = static_cast<int32_t>(inet_addr("127.0.0.2"));
  std::vector<double> micros;
  int failures = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (dsc_EnumSearch(address, keep) != DSC_OK) ++failures;
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["failures"] = failures;
}
BENCHMARK(BM_DirectedSearch)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace

BENCHMARK_MAIN();
