#pragma once

// Test environments for Tarnix: a private network namespace for the whole test process, the device emulator
// as a child process with its traffic log, and a small virtual LAN of network namespaces.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lab {

// Moves the whole (still single-threaded) process into a fresh, private network namespace with only loopback
// up, so tests get their own port space and cannot touch the machine's network. Falls back to a new user
// namespace as well when not root; returns false (and stays put) when neither works.
bool EnterPrivateNetns();

// One line of the emulator's traffic log.
struct LogEntry {
  double t_ms;  // CLOCK_MONOTONIC, comparable with the test's own clock
  std::string device;
  bool rx;
  uint32_t peer_ip;  // network order
  uint16_t peer_port;
  uint32_t local_ip;  // network order; 0 for the broadcast socket
  uint16_t local_port;
  std::vector<uint8_t> bytes;
  std::string marker;  // "tcp-open" or "tcp-close" for a channel connection event (bytes empty); else empty
  // Transfers (bytes empty): marker "upload-data" (rx) or "download-data" (tx) for raw bytes after a frame,
  // "stored:<code>:<fnv1a hex>" once an upload is complete; count is the number of bytes.
  size_t count = 0;
};

// One running tarnix-devsim process.
class Devsim {
 public:
  // Starts the emulator with these arguments (plus a --log to a fresh temp file), in the named network
  // namespace (empty: the calling thread's current one). Waits at most 5 s for its READY line; returns null
  // and fills *error on failure, having reaped the child. The emulator also gets SIGTERM if the thread that
  // started it exits.
  static std::unique_ptr<Devsim> Start(const std::vector<std::string>& args, const std::string& netns = "",
                                       std::string* error = nullptr);
  Devsim(const Devsim&) = delete;
  Devsim& operator=(const Devsim&) = delete;
  // SIGTERM, a bounded wait, SIGKILL if needed; removes the log file.
  ~Devsim();

  pid_t pid() const { return pid_; }
  // Stops it as the destructor does and returns its waitpid() status; later calls return the same.
  int Stop();

  std::vector<LogEntry> Log() const;
  std::vector<LogEntry> Received() const;
  // Waits (bounded) until at least n rx entries exist; returns the rx entries there are by then.
  std::vector<LogEntry> WaitReceived(size_t n, int timeout_ms) const;

 private:
  Devsim(pid_t pid, std::string log_path) : pid_(pid), log_path_(std::move(log_path)) {}

  pid_t pid_;
  std::string log_path_;
  bool reaped_ = false;
  int status_ = 0;
};

struct LabOptions {
  bool second_ws_interface = false;
};

// Several network namespaces on one virtual LAN: a bridge in a hub namespace and veth pairs created from
// inside it, so nothing is ever created in the machine's own namespace. Names carry the process id and a
// counter, so leftovers or two runs side by side never collide.
//   "ws" (workstation): eth0 10.77.0.1/24; with second_ws_interface also eth1 10.77.0.11/24 on the same bridge
//   "dev1": eth0 10.77.0.2/24        "dev2": eth0 10.77.0.3/24
//   "outside": eth0 192.168.77.2/24 plus an on-link route to 10.77.0.0/24, so it can answer on the segment
// Loopback is up everywhere; ws has rp_filter off so replies from the outside device are accepted.
class Lab {
 public:
  using Options = LabOptions;  // declared outside so it can serve as a default argument here

  // Null with *why when the lab cannot be built (not root, no `ip`, no namespaces); partial work is undone.
  static std::unique_ptr<Lab> Create(const Options& options = {}, std::string* why = nullptr);
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;
  // Stops the emulators it started and deletes every namespace it made.
  ~Lab();

  // Namespace name of "ws", "dev1", "dev2" or "outside"; throws std::out_of_range for any other host.
  std::string Netns(const std::string& host) const;
  static uint32_t Addr(const char* dotted);  // network order

  // Starts tarnix-devsim in that host's namespace; the lab owns it and stops it in ~Lab.
  Devsim* StartDevsim(const std::string& host, const std::vector<std::string>& args, std::string* error = nullptr);
  // Stops every emulator started so far, freeing their addresses for new ones; their pointers become invalid.
  void StopDevsims();

  // Runs a shell command inside that host's namespace and returns its stdout.
  std::string Run(const std::string& host, const std::string& command) const;

  // Moves the calling thread into the workstation namespace, and back on destruction; threads started
  // meanwhile inherit it. Throws std::system_error when the move fails, so no traffic leaks elsewhere.
  class InWorkstation {
   public:
    explicit InWorkstation(const Lab& lab);
    InWorkstation(const InWorkstation&) = delete;
    InWorkstation& operator=(const InWorkstation&) = delete;
    ~InWorkstation();

   private:
    int original_ = -1;
  };

 private:
  Lab() = default;
  bool Build(const Options& options, std::string* why);
  bool Ip(const std::vector<std::string>& args, std::string* why) const;
  bool WaitForForwarding(size_t ports, std::string* why) const;

  std::string ip_;
  std::map<std::string, std::string> netns_;  // host -> namespace, the hub included
  std::vector<std::string> created_;
  std::vector<std::unique_ptr<Devsim>> devsims_;
};

// True when the environment says the lab must be available (TARNIX_LAB_REQUIRED=1), as in CI.
bool LabRequired();

// How many file descriptors this process has open (for leak checks and the benchmarks' figures).
int OpenDescriptors();

}  // namespace lab

// In a test body or SetUp(): builds the lab into `var` (an existing std::unique_ptr<lab::Lab>), with optional
// Options fields, e.g. LAB_OR_SKIP(lab_, .second_ws_interface = true). When it cannot be built the test
// fails if TARNIX_LAB_REQUIRED=1, and is skipped with the reason otherwise.
#define LAB_OR_SKIP(var, ...)                                                      \
  do {                                                                             \
    std::string lab_or_skip_why_;                                                  \
    var = ::lab::Lab::Create(::lab::Lab::Options{__VA_ARGS__}, &lab_or_skip_why_); \
    if (!var) {                                                                    \
      if (::lab::LabRequired()) {                                                  \
        FAIL() << "lab required but unavailable: " << lab_or_skip_why_;            \
      } else {                                                                     \
        GTEST_SKIP() << "lab unavailable: " << lab_or_skip_why_;                   \
      }                                                                            \
    }                                                                              \
  } while (false)
