#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "lab.h"
#include "process.h"
#include "unique_fd.h"

namespace lab {
namespace {

using devsim::UniqueFd;
using internal::DescribeStatus;

constexpr int kReadyTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 2000;

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool ParseEndpoint(const std::string& text, uint32_t* ip, uint16_t* port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  in_addr a{};
  if (inet_pton(AF_INET, text.substr(0, colon).c_str(), &a) != 1) return false;
  char* end = nullptr;
  unsigned long p = std::strtoul(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || p > 65535) return false;
  *ip = a.s_addr;
  *port = static_cast<uint16_t>(p);
  return true;
}

bool ParseHex(const std::string& hex, std::vector<uint8_t>* bytes) {
  if (hex == "-") return true;
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    char pair[3] = {hex[i], hex[i + 1], 0};
    char* end = nullptr;
    bytes->push_back(static_cast<uint8_t>(std::strtoul(pair, &end, 16)));
    if (*end != '\0') return false;
  }
  return true;
}

// Lines that do not parse (there should be none) are left out rather than guessed at.
bool ParseLine(const std::string& line, LogEntry* e) {
  std::istringstream in(line);
  std::string t, dir, peer, local, hex;
  size_t length = 0;
  if (!(in >> t >> e->device >> dir >> peer >> local >> length >> hex)) return false;
  char* end = nullptr;
  e->t_ms = std::strtod(t.c_str(), &end);
  if (*end != '\0' || (dir != "rx" && dir != "tx")) return false;
  e->rx = dir == "rx";
  const bool transfer_marker = hex == "upload-data" || hex == "download-data" || hex.rfind("stored:", 0) == 0;
  if ((length == 0 && (hex == "tcp-open" || hex == "tcp-close")) || transfer_marker) {
    e->marker = hex;
    e->count = length;
    return ParseEndpoint(peer, &e->peer_ip, &e->peer_port) && ParseEndpoint(local, &e->local_ip, &e->local_port);
  }
  return ParseEndpoint(peer, &e->peer_ip, &e->peer_port) && ParseEndpoint(local, &e->local_ip, &e->local_port) &&
         ParseHex(hex, &e->bytes) && e->bytes.size() == length;
}

std::string MakeLogFile(std::string* error) {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/tarnix-devsim-XXXXXX";
  UniqueFd fd(::mkstemp(path.data()));
  if (!fd) {
    SetError(error, "cannot create log file " + path + ": " + std::strerror(errno));
    return {};
  }
  return path;
}

// Collects what the child prints until its READY line, EOF or the deadline.
bool AwaitReady(int fd, std::string* seen) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
  while (seen->find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    if (!p.revents) continue;
    char buf[64];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    seen->append(buf, static_cast<size_t>(n));
  }
  return *seen == "READY\n";
}

}  // namespace

std::unique_ptr<Devsim> Devsim::Start(const std::vector<std::string>& args, const std::string& netns,
                                      std::string* error) {
  UniqueFd netns_fd;
  if (!netns.empty()) {
    netns_fd = UniqueFd(::open(("/var/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC));
    if (!netns_fd) {
      SetError(error, "cannot open network namespace " + netns + ": " + std::strerror(errno));
      return nullptr;
    }
  }
  std::string log_path = MakeLogFile(error);
  if (log_path.empty()) return nullptr;

  std::vector<std::string> argv{TARNIX_DEVSIM_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"--log", log_path});

  int ready_pipe[2];
  if (::pipe2(ready_pipe, O_CLOEXEC) != 0) {
    SetError(error, std::string("pipe: ") + std::strerror(errno));
    ::unlink(log_path.c_str());
    return nullptr;
  }
  UniqueFd ready_r(ready_pipe[0]), ready_w(ready_pipe[1]);
  pid_t pid = internal::Spawn(argv, {.stdout_fd = ready_w.get(), .netns_fd = netns_fd.get()}, error);
  ready_w.Reset();
  if (pid < 0) {
    ::unlink(log_path.c_str());
    return nullptr;
  }
  // Owned from here on, so every failure below stops and reaps the child and removes its log.
  std::unique_ptr<Devsim> devsim(new Devsim(pid, log_path));
  std::string seen;
  if (AwaitReady(ready_r.get(), &seen)) return devsim;

  int status = 0;
  bool ended = internal::WaitExit(pid, 100, &status);
  if (ended) {
    devsim->reaped_ = true;
    devsim->status_ = status;
    SetError(error, "tarnix-devsim ended before READY with " + DescribeStatus(status));
  } else {
    SetError(error, seen.empty() ? "tarnix-devsim printed no READY within 5 s"
                                 : "tarnix-devsim printed \"" + seen + "\" instead of READY");
  }
  return nullptr;
}

int Devsim::Stop() {
  if (!reaped_) {
    status_ = internal::Terminate(pid_, kStopTimeoutMs);
    reaped_ = true;
  }
  return status_;
}

Devsim::~Devsim() {
  Stop();
  ::unlink(log_path_.c_str());
}

std::vector<LogEntry> Devsim::Log() const {
  std::vector<LogEntry> entries;
  std::ifstream in(log_path_);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A line still being written has no newline yet and is left for the next call.
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    LogEntry e{};
    if (ParseLine(text.substr(start, nl - start), &e)) entries.push_back(std::move(e));
  }
  return entries;
}

std::vector<LogEntry> Devsim::Received() const {
  std::vector<LogEntry> rx;
  for (LogEntry& e : Log()) {
    if (e.rx) rx.push_back(std::move(e));
  }
  return rx;
}

std::vector<LogEntry> Devsim::WaitReceived(size_t n, int timeout_ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::vector<LogEntry> rx = Received();
    if (rx.size() >= n || std::chrono::steady_clock::now() >= deadline) return rx;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace lab
