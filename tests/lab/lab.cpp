#include "lab.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "process.h"

namespace lab {
namespace {

constexpr const char* kHub = "hub";
constexpr const char* kHosts[] = {"ws", "dev1", "dev2", "outside"};

struct Port {
  const char* host;
  const char* ifname;
  const char* cidr;
  bool second_ws_interface;
};
constexpr Port kPorts[] = {
    {"ws", "eth0", "10.77.0.1/24", false},         {"ws", "eth1", "10.77.0.11/24", true},
    {"dev1", "eth0", "10.77.0.2/24", false},       {"dev2", "eth0", "10.77.0.3/24", false},
    {"outside", "eth0", "192.168.77.2/24", false},
};

std::string FindIp() {
  for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
    if (::access(path, X_OK) == 0) return path;
  }
  return {};
}

bool NetnsExists(const std::string& name) { return ::access(("/var/run/netns/" + name).c_str(), F_OK) == 0; }

// pid and a counter keep names unique among live processes; a leftover from a dead one is stepped around, never
// touched.
std::string FreshPrefix() {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    std::string prefix = "tnx" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-";
    bool taken = NetnsExists(prefix + kHub);
    for (const char* host : kHosts) taken = taken || NetnsExists(prefix + host);
    if (!taken) return prefix;
  }
}

}  // namespace

bool LabRequired() {
  const char* v = std::getenv("TARNIX_LAB_REQUIRED");
  return v && std::string(v) == "1";
}

uint32_t Lab::Addr(const char* dotted) { return ::inet_addr(dotted); }

std::unique_ptr<Lab> Lab::Create(const Options& options, std::string* why) {
  std::string reason;
  std::unique_ptr<Lab> lab;
  if (::geteuid() != 0) {
    reason = "needs root to create network namespaces";
  } else if (std::string ip = FindIp(); ip.empty()) {
    reason = "the ip program (iproute2) is not installed";
  } else {
    lab.reset(new Lab);
    lab->ip_ = ip;
    if (!lab->Build(options, &reason)) lab.reset();  // ~Lab undoes what was built
  }
  if (!lab && why) *why = reason;
  return lab;
}

bool Lab::Ip(const std::vector<std::string>& args, std::string* why) const {
  std::vector<std::string> argv{ip_};
  argv.insert(argv.end(), args.begin(), args.end());
  internal::ProgramResult r = internal::RunProgram(argv);
  if (r.ok()) return true;
  std::string command;
  for (const std::string& a : argv) command += (command.empty() ? "" : " ") + a;
  *why = command + " failed (" + internal::DescribeStatus(r.status) + "): " + r.err;
  return false;
}

bool Lab::Build(const Options& options, std::string* why) {
  std::string prefix = FreshPrefix();
  std::vector<std::string> names{kHub, kHosts[0], kHosts[1], kHosts[2], kHosts[3]};
  for (const std::string& host : names) {
    std::string ns = prefix + host;
    if (!Ip({"netns", "add", ns}, why)) return false;
    created_.push_back(ns);
    netns_[host] = ns;
    if (!Ip({"-n", ns, "link", "set", "lo", "up"}, why)) return false;
  }
  const std::string& hub = netns_[kHub];
  if (!Ip({"-n", hub, "link", "add", "br0", "type", "bridge", "stp_state", "0", "forward_delay", "0"}, why) ||
      !Ip({"-n", hub, "link", "set", "br0", "up"}, why)) {
    return false;
  }
  size_t ports = 0;
  for (const Port& p : kPorts) {
    if (p.second_ws_interface && !options.second_ws_interface) continue;
    const std::string& ns = netns_[p.host];
    std::string hub_side = std::string(p.host) + "-" + p.ifname;  // at most 12 characters
    if (!Ip({"-n", hub, "link", "add", hub_side, "type", "veth", "peer", "name", p.ifname, "netns", ns}, why) ||
        !Ip({"-n", hub, "link", "set", hub_side, "master", "br0", "up"}, why) ||
        !Ip({"-n", ns, "addr", "add", p.cidr, "dev", p.ifname}, why) ||
        !Ip({"-n", ns, "link", "set", p.ifname, "up"}, why)) {
      return false;
    }
    ++ports;
  }
  if (!Ip({"-n", netns_["outside"], "route", "add", "10.77.0.0/24", "dev", "eth0"}, why)) return false;

  // The outside device answers from an address ws has no route back to; reverse-path filtering would drop it.
  try {
    InWorkstation in(*this);
    std::vector<std::string> confs{"all", "default", "lo", "eth0"};
    if (options.second_ws_interface) confs.push_back("eth1");
    for (const std::string& conf : confs) {
      std::ofstream f("/proc/sys/net/ipv4/conf/" + conf + "/rp_filter");
      if (!(f << "0\n" << std::flush)) {
        *why = "cannot turn off rp_filter for " + conf + " in the workstation namespace";
        return false;
      }
    }
  } catch (const std::system_error& e) {
    *why = e.what();
    return false;
  }
  return WaitForForwarding(ports, why);
}

bool Lab::WaitForForwarding(size_t ports, std::string* why) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::string last;
  do {
    internal::ProgramResult r =
        internal::RunProgram({ip_, "-n", netns_.at(kHub), "-o", "-d", "link", "show", "master", "br0"});
    size_t ready = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("LOWER_UP") != std::string::npos &&
          line.find("bridge_slave state forwarding") != std::string::npos) {
        ++ready;
      }
    }
    if (ready == ports) return true;
    last = r.out + r.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < deadline);
  *why = "bridge ports not forwarding within 5 s: " + last;
  return false;
}

Lab::~Lab() {
  StopDevsims();
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    internal::ProgramResult r = internal::RunProgram({ip_, "netns", "delete", *it});
    if (!r.ok()) std::fprintf(stderr, "lab: could not delete network namespace %s: %s\n", it->c_str(), r.err.c_str());
  }
}

std::string Lab::Netns(const std::string& host) const {
  if (host == kHub || !netns_.contains(host)) throw std::out_of_range("no lab host named \"" + host + "\"");
  return netns_.at(host);
}

Devsim* Lab::StartDevsim(const std::string& host, const std::vector<std::string>& args, std::string* error) {
  if (host == kHub || !netns_.contains(host)) {
    if (error) *error = "no lab host named \"" + host + "\"";
    return nullptr;
  }
  std::unique_ptr<Devsim> devsim = Devsim::Start(args, netns_.at(host), error);
  if (!devsim) return nullptr;
  devsims_.push_back(std::move(devsim));
  return devsims_.back().get();
}

void Lab::StopDevsims() { devsims_.clear(); }

std::string Lab::Run(const std::string& host, const std::string& command) const {
  return internal::RunProgram({ip_, "netns", "exec", Netns(host), "/bin/sh", "-c", command}).out;
}

Lab::InWorkstation::InWorkstation(const Lab& lab) {
  std::string path = "/var/run/netns/" + lab.Netns("ws");
  original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (original_ < 0) throw std::system_error(errno, std::generic_category(), "open own network namespace");
  int target = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int err = target < 0 ? errno : 0;
  if (target >= 0 && ::setns(target, CLONE_NEWNET) != 0) err = errno;
  if (target >= 0) ::close(target);
  if (err != 0) {
    ::close(original_);
    throw std::system_error(err, std::generic_category(), "enter the workstation namespace");
  }
}

Lab::InWorkstation::~InWorkstation() {
  // Staying in the workstation namespace would let later traffic land there unnoticed.
  if (::setns(original_, CLONE_NEWNET) != 0) std::abort();
  ::close(original_);
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
    n -= 3;  // ".", ".." and the directory's own descriptor
  }
  return n;
}

}  // namespace lab
