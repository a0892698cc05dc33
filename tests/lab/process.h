#pragma once

// Child processes for the lab: started with fork/execv only (no shell unless asked for), always reaped
// within a bound.

#include <sys/types.h>

#include <string>
#include <vector>

namespace lab::internal {

struct SpawnOptions {
  int stdout_fd = -1;  // -1: inherit
  int stderr_fd = -1;  // -1: inherit
  int netns_fd = -1;   // -1: stay in the calling thread's namespace
};

// Starts argv[0] with these arguments; stdin is /dev/null. Returns -1 with *error set on failure.
pid_t Spawn(const std::vector<std::string>& argv, const SpawnOptions& options, std::string* error);

// Reaps the child if it ends within timeout_ms; true with *status (as from waitpid) when it did.
bool WaitExit(pid_t pid, int timeout_ms, int* status);

// SIGTERM, then SIGKILL if it has not ended within timeout_ms; always reaps. Returns the waitpid status.
int Terminate(pid_t pid, int timeout_ms);

std::string DescribeStatus(int status);

struct ProgramResult {
  int status = -1;  // waitpid status; -1 when it could not be started
  std::string out;
  std::string err;
  bool ok() const;  // exited with 0
};

// Runs a program to completion, capturing its output; killed after timeout_ms.
ProgramResult RunProgram(const std::vector<std::string>& argv, int timeout_ms = 10'000);

}  // namespace lab::internal
