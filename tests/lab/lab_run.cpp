// tarnix-lab: builds the emulated device lab, runs one command on its
// workstation and tears the lab down again, whatever the command does.
//   tarnix-lab [-- COMMAND [ARGS...]]     (default command: a shell)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lab/lab.h"

namespace {

struct DemoDevice {
  const char* host;
  const char* keys;
};

// Two devices on the workstation's subnet (one of model 0x4513), one outside it, all listening for broadcasts
// as real devices do. Each reports the MAC of its interface, as a real device does: the library reaches devices
// found by broadcast through a neighbour entry with that MAC.
constexpr DemoDevice kDevices[] = {
    {"dev1", "name=port-a,ip=10.77.0.2,app=0x80004012,model=0x4512,devname=Hall-7,apname=serial-bridge,bcast=1"},
    {"dev2", "name=port-b,ip=10.77.0.3,app=0x80004013,model=0x4513,devname=kept-4513,bcast=1"},
    {"outside", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512,devname=far-side,bcast=1"},
};

std::string InterfaceMac(const lab::Lab& lab, const std::string& host) {
  std::string mac = lab.Run(host, "cat /sys/class/net/eth0/address");
  while (!mac.empty() && (mac.back() == '\n' || mac.back() == ' ')) mac.pop_back();
  return mac;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> command;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      command.assign(argv + i + 1, argv + argc);
      break;
    }
    std::fprintf(stderr, "usage: tarnix-lab [-- COMMAND [ARGS...]]\n");
    return 2;
  }
  static char shell[] = "/bin/sh";
  if (command.empty()) command.push_back(shell);
  command.push_back(nullptr);

  std::string why;
  auto lab = lab::Lab::Create({}, &why);
  if (!lab) {
    std::fprintf(stderr, "tarnix-lab: cannot build the lab: %s\n", why.c_str());
    return 1;
  }
  for (const DemoDevice& d : kDevices) {
    const std::string keys = std::string(d.keys) + ",mac=" + InterfaceMac(*lab, d.host);
    if (lab->StartDevsim(d.host, {"--device", keys}, &why) == nullptr) {
      std::fprintf(stderr, "tarnix-lab: emulator on %s: %s\n", d.host, why.c_str());
      return 1;
    }
    std::printf("lab: device %s\n", keys.c_str());
  }
  std::printf("lab: workstation 10.77.0.1/24 in namespace %s\n", lab->Netns("ws").c_str());
  std::fflush(stdout);

  // Ctrl-C goes to the command; the lab outlives it to clean up.
  signal(SIGINT, SIG_IGN);
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGINT, SIG_DFL);
    lab::Lab::InWorkstation inside(*lab);
    execvp(command[0], command.data());
    std::perror("tarnix-lab: exec");
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) < 0) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
