#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "lab.h"
#include "unique_fd.h"

namespace lab {
namespace {

using devsim::UniqueFd;

bool BringLoopbackUp() {
  UniqueFd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  if (!s || ::ioctl(s.get(), SIOCGIFFLAGS, &ifr) != 0) return false;
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
  return ::ioctl(s.get(), SIOCSIFFLAGS, &ifr) == 0;
}

bool WriteFile(const char* path, const std::string& text) {
  UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
  return fd && ::write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

}  // namespace

bool EnterPrivateNetns() {
  UniqueFd original(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
  if (::unshare(CLONE_NEWNET) == 0) {
    if (BringLoopbackUp()) return true;
    if (original) ::setns(original.get(), CLONE_NEWNET);
    return false;
  }
  // Without root, a user namespace of our own grants the right to make the network one; our ids map to
  // themselves so files keep their owners.
  std::string uid = std::to_string(::geteuid());
  std::string gid = std::to_string(::getegid());
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
  WriteFile("/proc/self/setgroups", "deny");
  WriteFile("/proc/self/uid_map", uid + " " + uid + " 1");
  WriteFile("/proc/self/gid_map", gid + " " + gid + " 1");
  return BringLoopbackUp();
}

}  // namespace lab
