// Image upload speed and memory: a 1 MiB and a 64 MiB application image to
// the emulator on 127.0.0.2. Each upload runs in a fresh child process of this
// program, so its peak resident size (from wait4) belongs to that upload alone
// and the two sizes can be compared. Prints MiB/s and the peak in KiB.
#include <arpa/inet.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "tarnix.h"

extern char** environ;

namespace {

constexpr int kRuns = 3;

// Child: one upload; prints its duration in milliseconds.
int child(const char* path) {
  DSINFO d{};
  d.flags = DSC_FLAG_DIRECT;
  d.device_ip = inet_addr("127.0.0.2");
  int32_t s = -1;
  if (dsc_Attach(&d, &s) != DSC_OK || dsc_Login(s, "pw") != DSC_OK) return 2;
  const auto t0 = std::chrono::steady_clock::now();
  const int32_t r = dsc_UpgradeAP(s, path);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  dsc_Detach(s);
  if (r != DSC_OK) {
    std::fprintf(stderr, "dsc_UpgradeAP: %d\n", r);
    return 3;
  }
  std::printf("%.3f\n", ms);
  return 0;
}

bool make_image(const std::string& path, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::vector<uint8_t> block(64 * 1024);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  bool ok = true;
  for (size_t done = 0; ok && done < size; done += block.size())
    ok = ::write(fd, block.data(), std::min(block.size(), size - done)) > 0;
  ::close(fd);
  return ok;
}

struct Run {
  bool ok;
  double ms;
  long peak_kib;
  double cpu_ms;  // the uploading process's own user and system time
};

Run run_child(const char* self, const std::string& path) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {false, 0, 0, 0};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  char* argv[] = {const_cast<char*>(self), const_cast<char*>("--child"), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return {false, 0, 0, 0};
  }
  std::string text;
  char buf[64];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return {false, 0, 0, 0};
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  const double cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                        (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  return {ok, ok ? std::atof(text.c_str()) : 0, usage.ru_maxrss, cpu_ms};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return child(argv[2]);

  std::string error;
  auto devsim = lab::Devsim::Start({"--device", "name=bench,ip=127.0.0.2,pw=pw"}, "", &error);
  if (!devsim) {
    std::fprintf(stderr, "tarnix-devsim: %s\n", error.c_str());
    return 1;
  }
  char dir[] = "/tmp/tarnix-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const size_t sizes_mib[] = {1, 64};
  long peaks[2] = {0, 0};
  int failures = 0;
  std::printf("%-8s %12s %14s %11s\n", "image", "MiB/s", "peak RSS KiB", "client CPU");
  for (size_t i = 0; i < 2; ++i) {
    const std::string path = std::string(dir) + "/image" + std::to_string(sizes_mib[i]) + ".ap";
    if (!make_image(path, sizes_mib[i] << 20)) return 1;
    std::vector<double> rates;
    double cpu = 0;
    for (int k = 0; k < kRuns; ++k) {
      const Run r = run_child(argv[0], path);
      if (!r.ok) {
        ++failures;
        continue;
      }
      rates.push_back(static_cast<double>(sizes_mib[i]) / (r.ms / 1000.0));
      peaks[i] = std::max(peaks[i], r.peak_kib);
      cpu = std::max(cpu, r.cpu_ms / r.ms);
    }
    std::remove(path.c_str());
    std::sort(rates.begin(), rates.end());
    const double median = rates.empty() ? 0 : rates[rates.size() / 2];
    std::printf("%4zu MiB %12.1f %14ld %10.0f%%\n", sizes_mib[i], median, peaks[i], cpu * 100);
  }
  ::rmdir(dir);
  std::printf("peak RSS growth 1 MiB -> 64 MiB: %ld KiB (target: within 1024)\n", peaks[1] - peaks[0]);
  if (failures > 0) std::printf("%d upload(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
