#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "unique_fd.h"

namespace lab::internal {

using devsim::UniqueFd;

pid_t Spawn(const std::vector<std::string>& argv, const SpawnOptions& options, std::string* error) {
  // Everything the child needs is prepared here: between fork and exec only async-signal-safe calls are allowed.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  UniqueFd null_fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  pid_t parent = ::getpid();

  pid_t pid = ::fork();
  if (pid < 0) {
    if (error) *error = std::string("fork: ") + std::strerror(errno);
    return -1;
  }
  if (pid == 0) {
    // A test that crashes must not leave emulators behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    if (null_fd) ::dup2(null_fd.get(), 0);
    if (options.stdout_fd >= 0) ::dup2(options.stdout_fd, 1);
    if (options.stderr_fd >= 0) ::dup2(options.stderr_fd, 2);
    if (options.netns_fd >= 0 && ::setns(options.netns_fd, CLONE_NEWNET) != 0) ::_exit(125);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

bool WaitExit(pid_t pid, int timeout_ms, int* status) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pid_t r = ::waitpid(pid, status, WNOHANG);
    if (r == pid) return true;
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

int Terminate(pid_t pid, int timeout_ms) {
  int status = 0;
  ::kill(pid, SIGTERM);
  if (WaitExit(pid, timeout_ms, &status)) return status;
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

bool ProgramResult::ok() const { return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

ProgramResult RunProgram(const std::vector<std::string>& argv, int timeout_ms) {
  ProgramResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  UniqueFd out_r(out_pipe[0]), out_w(out_pipe[1]);
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) return result;
  UniqueFd err_r(err_pipe[0]), err_w(err_pipe[1]);

  pid_t pid = Spawn(argv, SpawnOptions{.stdout_fd = out_w.get(), .stderr_fd = err_w.get()}, &result.err);
  out_w.Reset();
  err_w.Reset();
  if (pid < 0) return result;

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  UniqueFd* sources[] = {&out_r, &err_r};
  std::string* sinks[] = {&result.out, &result.err};
  while (out_r || err_r) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fds[2];
    for (int i = 0; i < 2; ++i) fds[i] = pollfd{sources[i]->get(), POLLIN, 0};
    if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (!fds[i].revents) continue;
      char buf[4096];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        sources[i]->Reset();
      }
    }
  }
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (!WaitExit(pid, static_cast<int>(std::max<int64_t>(left.count(), 0)), &result.status)) {
    result.status = Terminate(pid, 0);
  }
  return result;
}

}  // namespace lab::internal
