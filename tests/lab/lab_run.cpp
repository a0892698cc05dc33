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

// Two devices on the workstation's subnet, one outside it, all listening for
// broadcasts as real devices do.
constexpr DemoDevice kDevices[] = {
    {"dev1", "name=port-a,ip=10.77.0.2,app=0x80004012,model=0x4512,mac=02:00:5e:10:00:02,bcast=1"},
    {"dev2", "name=port-b,ip=10.77.0.3,app=0x80004013,model=0x4513,mac=02:00:5e:10:00:03,bcast=1"},
    {"outside", "name=far,ip=192.168.77.2,app=0x80004012,model=0x4512,mac=02:00:5e:10:00:04,bcast=1"},
};

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
    if (lab->StartDevsim(d.host, {"--device", d.keys}, &why) == nullptr) {
      std::fprintf(stderr, "tarnix-lab: emulator on %s: %s\n", d.host, why.c_str());
      return 1;
    }
    std::printf("lab: device %s\n", d.keys);
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
