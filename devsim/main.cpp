#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "emulator.h"
#include "options.h"

namespace {

constexpr const char kHelp[] = R"(Usage: tarnix-devsim [--config FILE] [--device KEYS]... [--log FILE] [--help]

Plays one or more serial-to-Ethernet device servers on this host, so software that finds and
queries them over UDP port 4800 can be developed and tested without hardware.

Options:
  --device KEYS   add a device described by KEYS, a comma-separated key=value list (keys below)
  --config FILE   add the devices of FILE, one KEYS list per line; '#' starts a comment, blank lines are fine
  --log FILE      record every datagram received and sent, one line each, written as it happens
  --help          show this text
Options may also be written --option=VALUE; --device and --config may be repeated.

Device keys (numbers are decimal or 0x hex):
  ip=A.B.C.D       address to bind, required; UDP ip:4800 must be free. No two devices share an ip.
  name=NAME        name used in the log (letters, digits, '_', '-', '.'); default dev1, dev2, ... by position
  app=N            application ID, u32 (default 0)
  model=N          model code, u16 (default 0)
  mac=XX:..:XX     MAC address (default 02:00 followed by the four bytes of ip)
  reported=A.B.C.D address put into search replies (default ip)
  bcast=1          also receive broadcasts: a socket bound to a unicast address receives none on Linux,
                   so the device binds 0.0.0.0:4800 too, shared with other devices (SO_REUSEADDR); a
                   request arriving there is answered by this device from that socket

Fault keys, to exercise the error paths of a client:
  silent=1         never answer
  answer_nth=N     answer only the N-th well-formed request of each command, counted from 1
                   (every well-formed search counts, also one that lists this device); 0 answers all
  twice=1          send every reply twice
  status=N         status byte of replies (0..255, default 0)
  word=N           bytes 4-7 of replies, written big-endian (default 0)
  oversize=N       pad replies with zeros to N bytes in all (up to 65507); the length field keeps the real length
  truncate=N       cut replies to their first N bytes (0 sends an empty datagram); the length field is unchanged
  other_port=1     send replies from ip:4801 instead of from the socket the request came in on
  delay=MS         send replies MS milliseconds later (up to 3600000); other requests are served meanwhile
  ignore_list=1    answer a search even when it lists this device

Protocol:
  Every datagram starts with an 8-byte header: byte 0 command code, byte 1 status, bytes 2-3 total
  length (big-endian), bytes 4-7 zero. A reply carries the command code with 0x80 added.
  Search, code 1: the header (length 8 + 12*n) and n entries for the devices the searcher already
  knows, each 12 bytes: application ID (u32 little-endian), model code (u16 little-endian), MAC.
  Search reply, 24 bytes, to the source address and port of the request: 0x81, status 0, length 24,
  zero word, application ID (u32 LE) at 8, model code (u16 LE) at 12, MAC at 14, and the reported
  IPv4 address (network order) at 20.
  Like a device, it logs but does not answer: datagrams shorter than 8 bytes, replies (0x80 set),
  non-zero status, non-zero bytes 4-7, a length field below 8 or beyond the datagram, unknown
  command codes, a search whose length minus 8 is not a multiple of 12, and a search that lists this
  device (same application ID, model code and MAC). Bytes past the length field are not looked at.

Log lines:
  <t> <device> <rx|tx> <peer-ip>:<port> <local-ip>:<port> <length> <hex bytes, or - when empty>
  t is CLOCK_MONOTONIC in milliseconds; local-ip is 0.0.0.0 for the broadcast socket.

Running:
  Once every socket is bound it prints READY on stdout and writes nothing more there; diagnostics go
  to stderr. SIGTERM or SIGINT ends it with exit status 0. Exit status 2: bad options or device
  keys; 1: a socket or the log could not be opened.

Example:
  tarnix-devsim --log devsim.log \
    --device name=a,ip=127.0.0.2,app=0x1a2b3c4d,model=0x0201,mac=02:11:22:33:44:55 \
    --device name=b,ip=127.0.0.3,delay=200,twice=1
)";

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto options = devsim::ParseCommandLine(argc, argv, &error);
  if (!options) {
    std::fprintf(stderr, "tarnix-devsim: %s\nTry tarnix-devsim --help\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(kHelp, stdout);
    return 0;
  }

  // Stop requests arrive through the poll loop; a disposition inherited as ignored would swallow them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
  devsim::UniqueFd stop_fd(signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!stop_fd) {
    std::perror("tarnix-devsim: signalfd");
    return 1;
  }

  devsim::TrafficLog log;
  if (!options->log_path.empty() && !log.Open(options->log_path, &error)) {
    std::fprintf(stderr, "tarnix-devsim: %s\n", error.c_str());
    return 1;
  }
  devsim::Emulator emulator(std::move(options->devices), log);
  if (!emulator.Open(&error)) {
    std::fprintf(stderr, "tarnix-devsim: %s\n", error.c_str());
    return 1;
  }
  std::fputs("READY\n", stdout);
  std::fflush(stdout);
  return emulator.Run(stop_fd.get());
}
