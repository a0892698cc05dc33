#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "emulator.h"
#include "options.h"

namespace {

constexpr const char kHelp[] = R"(Usage: tarnix-devsim [--config FILE] [--device KEYS]... [--log FILE] [--help]

Plays one or more serial-to-Ethernet device servers on this host, so software that finds and
queries them over UDP port 4800 and logs in to them over TCP port 4900 can be developed and tested
without hardware.

Options:
  --device KEYS   add a device described by KEYS, a comma-separated key=value list (keys below)
  --config FILE   add the devices of FILE, one KEYS list per line; '#' starts a comment, blank lines are fine
  --log FILE      record every datagram and channel frame received and sent, one line each, written
                  as it happens
  --help          show this text
Options may also be written --option=VALUE; --device and --config may be repeated.

Device keys (numbers are decimal or 0x hex):
  ip=A.B.C.D       address to bind, required; UDP ip:4800 and TCP ip:4900 must be free. No two devices
                   share an ip.
  pw=TEXT          login password of the session channel, up to 15 printable characters, no commas
                   (default empty); independent of password=
  name=NAME        name used in the log (letters, digits, '_', '-', '.'); default dev1, dev2, ... by position
  app=N            application ID, u32 (default 0)
  model=N          model code, u16 (default 0)
  mac=XX:..:XX     MAC address (default 02:00 followed by the four bytes of ip)
  reported=A.B.C.D address put into search replies (default ip)
  bcast=1          also receive broadcasts: a socket bound to a unicast address receives none on Linux,
                   so the device binds 0.0.0.0:4800 too, shared with other devices (SO_REUSEADDR); a
                   request arriving there is answered by this device from that socket

State keys, what the device reports (texts: up to 60 printable characters, no commas; a reply's
40-byte text field carries the first 40, zero-filled):
  devname=TEXT     device name, code 16 (default the name= of the device)
  apname=TEXT      application name, code 21 (default demo-ap)
  apver=N          application version, u32, code 21 (default 0x01020300, shown 1.2.3)
  kver=N           kernel version, u32, code 22 (default 0x02010000)
  password=1       the device has a login password: bit 0 of the kernel flags word, code 22 (default 0)
  timeserver=TEXT  time server, code 27 (default ntp.lan)
  tz_offset=S      time zone offset in seconds, signed, code 28 (default 0)
  tz_index=N       time zone index, u32, code 28 (default 22)
  time=YYYY-MM-DDTHH:MM:SS
                   the device clock at start, running on from there (default the host's UTC clock plus
                   tz_offset), code 26
  ipmode=N         IP config byte of interface 0, code 36, and its ifconfig entry (default 0)
  mask=A.B.C.D     netmask of interface 0 (default 255.255.255.0)
  gateway=A.B.C.D  gateway of interface 0 (default ip AND mask, last bit set: x.y.z.1 for a /24)
  dns=A.B.C.D      first DNS server of interface 0 (default the gateway)
  dns2=A.B.C.D     second DNS server of interface 0 (default 0.0.0.0)
  watchdog=N  debug=N  apstatus=N  env=N  console=N
                   16-bit values of codes 18, 19, 23, 24 (environment mode: 0 running, 1 development)
                   and 25 (defaults 1, 0, 1, 0, 0)
  modem=N          modem setting byte, code 101 (default 0)
  interfaces=N     configured interfaces 0..N-1, N up to 64 (default 1)
  netstat=N        connections, up to 4096 (default 3)
  netstat_page=P   connections per page of code 29, 1..256 (default 40)
  routes=N         routing entries, up to 32 (default 2)
  ipfilter=N       IP filter entries, up to 16 (default 2)
  ipfilter_setting=N  the IP filter's setting byte (default 0)
  ppp_ports=N      PPP ports 1..N, N up to 16 (default 1)
  ppp_entries=N    PPP configuration count reported by channel command 114, 0..255 (default: written)
  ppp_auth_count=N PPP authentication count reported by channel command 116, 0..255 (default: written)
  restart_ms=MS    how long channel command 2 keeps the device away, up to 3600000 (default 0)
  payload<CODE>=HEX
                   reply to command CODE (decimal, 1..127) with exactly these bytes from byte 20 on,
                   whatever the request asks and whatever the state says; the length field is 20 plus
                   the bytes. A code without state of its own is then answered too, once the request
                   holds the 20-byte query header naming this device. Example: payload21=414243

Fault keys, to exercise the error paths of a client (they shape every reply, search and query alike):
  silent=1         never answer
  answer_nth=N     answer only the N-th well-formed request of each command code, counted from 1
                   (every well-formed search counts, also one that lists this device); 0 answers all
  twice=1          send every reply twice
  status=N         status byte of replies (0..255, default 0)
  word=N           bytes 4-7 of replies, written big-endian (default 0)
  oversize=N       pad replies with zeros to N bytes in all (up to 65507); the length field keeps the real length
  truncate=N       cut replies to their first N bytes (0 sends an empty datagram); the length field is unchanged
  other_port=1     send replies from ip:4801 instead of from the socket the request came in on
  delay=MS         send replies MS milliseconds later (up to 3600000); other requests are served meanwhile
  ignore_list=1    answer a search even when it lists this device
  any_identity=1   answer queries whatever identity bytes 8-19 carry
  Of these only delay= also shapes the session channel, which has its own:
  login_status=N   status of the reply to a refused login (default 251)
  tcp_refuse=1     do not listen on TCP ip:4900, so connections are refused
  tcp_silent=1     accept connections and read frames, never answer
  cmd_status=CODE:STATUS[:N]
                   answer channel command CODE with status STATUS, whatever the outcome (the device's
                   own state, a login included, follows the real outcome); with N only the N-th frame
                   of CODE since start, counted over every connection
  cmd_wrongcode=CODE  answer channel command CODE with byte 0 = CODE+1 (mod 256)
  cmd_badlen=CODE  answer channel command CODE with a length field one above its payload's size
  cmd_split=1      send every channel reply in two TCP segments, the second 50 ms after the first
  mute=CODE        never answer datagram command CODE (1..127; 1 is the search), answer the rest

Protocol:
  Every datagram starts with an 8-byte header: byte 0 command code, byte 1 status, bytes 2-3 total
  length (big-endian), bytes 4-7 zero. A reply carries the command code with 0x80 added, and every
  reply holds the device's identity at 8-19: application ID (u32 little-endian), model code (u16
  little-endian), MAC.
  Search, code 1: the header (length 8 + 12*n) and n entries for the devices the searcher already
  knows, each laid out like the identity. The bare 8-byte header is also the identity query.
  Search reply, 24 bytes, to the source address and port of the request: 0x81, status 0, length 24,
  zero word, identity at 8, and the reported IPv4 address (network order) at 20.
  Every other command is a query: the header, the identity of the device asked at 8-19, arguments
  from 20. The reply is the header, the identity and the payload from 20. Multi-byte payload values
  are little-endian, IPv4 addresses in network order. Interface numbers (codes 33-37, 39) are a u16
  at 20-21: 0..64, or 255 for interface 0; an interface not configured reports zeros.
  code  request bytes from 20      reply size and payload from 20
    2   value u16                  20: none (the value is remembered and reported on stderr)
   16   -                          60: devname, 40 bytes
   17   -                          68: total 0x400000 (u32), free 0x180000 (u32), files 3 (u32), zeros
   18,19,23,24,25  -               22: watchdog, debug, apstatus, env, console (u16)
   20   count wanted (u16 BE)      24+16n: n u16 at 20, connection entries 0..n-1 from 24;
                                   n = min(wanted, netstat, 256)
   21   -                          76: apname (40 bytes), apver (u32) at 60, zeros
   22   -                          36: kver (u32), two zero u32, flags (u16, bit 0 password), zero u16
   26   -                          36: eight u16: year-1900, month 0..11, weekday 0..6 (Sunday 0),
                                   day, hour, minute, second, millisecond
   27   -                          60: timeserver, 40 bytes
   28   -                          28: tz_offset (s32), tz_index (u32)
   29   wanted (u16 BE), page p    24+16n: n u16 at 20, continuation u16 at 22, entries from 24.
        (u16 LE)                   Served page s = (p = 0 ? 0 : p-1): entries s*P .. s*P+n-1 with
                                   n = min(P, wanted, entries left); continuation s+1 while entries
                                   remain after those, else 0 (P = netstat_page)
   33,34,35  interface             24: address, netmask, gateway
   36   interface                  21: ipmode byte
   37   interface                  64: text "locator.lan" (40 bytes), 4802 (u16), 60 (u16)
   38   count wanted (u16 BE)      24+16n: n u16 at 20, interface entries 0..n-1 from 24;
                                   n = min(wanted, interfaces)
   39   interface                  28: dns, dns2
   40   -                          184: setting byte 0; 40-byte blocks "snmp-a" at 24, "snmp-c" at 64,
                                   "snmp-b" at 104, "snmp-d" at 144
   41   -                          384: "mail-server" (40 bytes), 25 (u32) at 60, 64-byte blocks
                                   "mail-1" .. "mail-5" from 64
   42   port byte                  28: port, link 1, speed 100 (u16), duplex 1, three zeros
   81   index byte k               24+12n: n byte at 21, ipfilter_setting at 22, entries from 24:
                                   k = 0 all entries 1..ipfilter, else entry k alone (none beyond)
   82   -                          26: three zero u16
  100   -                          28: two zero u32
  101   -                          21: modem byte
  113,114  port byte k, 3 zeros    24+12n / 24+16n: n byte at 21, PPP status / statistics entries
                                   from 24: k = 0 ports 1..ppp_ports, else port k alone (none beyond)
  115   four zero bytes            24+20n: n byte at 21, route entries 0..routes-1 from 24
  Table entries, for entry i (the device's ip is A.B.C.D):
    interface   16: i (u16), ipmode (u16), address, netmask, gateway; interface 0 as configured,
                interface i > 0: 10.i.0.D, 255.255.255.0, 10.i.0.254 (no DNS, ipmode 0)
    connection  16: A.B.C.D, 10.1.(i>>8).(i&255), 4900 (u16), 20000+i (u16), 1, i&255, i>>8, 0
    IP filter   12: 10.2.0.i, 255.255.255.255, i, 1, 0, 0
    PPP status  12: port i, 1, 0, 0, 10.3.i.1, 10.3.i.2
    PPP stats   16: port i, 0, 0, 0, 1000*i (u32), 2000*i (u32), 0 (u32)
    route       20: 10.4.i.0, 255.255.255.0, gateway, interface 0 (u32), metric i+1 (u32)
  Like a device, it logs but does not answer: datagrams shorter than 8 bytes, replies (0x80 set),
  non-zero status, non-zero bytes 4-7, a length field below 8 or beyond the datagram, unknown
  command codes, a search whose length minus 8 is not a multiple of 12, a search that lists this
  device (same application ID, model code and MAC), a query whose length field is shorter than its
  arguments need, a query whose bytes 8-19 are not this device's identity (unless any_identity=1),
  and an interface number other than 0..64 and 255. Of these only a well-formed search that lists
  this device counts for answer_nth. Bytes past the length field are not looked at.

Session channel, TCP ip:4900 (several connections at once, up to 256 in all):
  Every request and reply is a frame: byte 0 command code, byte 1 (1 in requests, not checked;
  the status in replies), bytes 2-3 payload length (big-endian), the payload. Frames are put
  together however the TCP segments fell; a length above 4096 makes the device close the
  connection. A reply echoes the command code.
  code 0, challenge: status 1 and 4 fresh random bytes, kept for the next login on that connection.
  code 1, login, 16 bytes: accepted (status 1) when they are MD5 over the password characters and
    the challenge; for application IDs 0x80004000..0x800040FF, when they are the password
    zero-filled to 16 bytes instead. Otherwise, or without a challenge fetched for the digest, or
    with another length, status login_status=, and the connection is not logged in. Every login
    uses up the challenge.
  Any other code before a successful login: status 251, empty. After it every command is noted on
  stderr and answered with an empty payload and status 1, or 251 when its payload is shorter than
  below or its values are refused. Codes without a row below get status 1 too.
  Settings (payload from byte 4; interface u16 LE, 0 or 255 for interface 0, others accepted unstored):
    16 name, 27 time server: 40-byte text   18 watchdog, 19 debug, 25 console, 101 modem: 1 byte
    26 time: the 16 bytes a time query returns   28 time zone: offset s32, index u32
    33, 34, 35 address, netmask, gateway: address 4, interface 2   36 IP mode: interface 2, value 1
    39 DNS: interface 2, 2 zero, dns 4, dns2 4   40 SNMP (164), 41 mail alert (364), 82 alert (8),
    100 command state (8): the payload the query of that code returns (alert: its first 6 bytes)
    The queries report these at once; payload<CODE>= still wins.
    2 save and restart (mode 0) or restart (2): status 1, then every connection to the device ends,
      and for restart_ms=N ms it answers no datagram and resets new connections
    23 factory default: every setting back to its value at start, pw= included
    9, 14, 15, 24, 37, 42, 81, 84: status 1, nothing kept (29: see Transfers)
  Masked commands: D = MD5(password of this login, 4 nonce bytes as in the frame); a 16-byte field
  travels XORed with D, a 20-byte one with D and D's first 4 bytes.
    17 new password, 10 private key (40): nonce 0-3, secret 4-19 masked, 20-23 check nonce, 24-39
      MD5(secret, bytes 20-23); after a plain login a new password may put itself and a zero at
      24 instead. Wrong check value: 251. The new password serves later logins only.
    96 mail account (36): nonce 0-3, account 4-19, password 20-35 masked
    97 read it: the same 36 bytes with a fresh nonce
    113 PPP configuration (176): entry 0..16 at 0, nonce 4-7, 168-byte record at 8, its bytes 24-43
      masked. 114 (entry at 0 of 4 bytes): the same with the entry count at 2 (ppp_entries=, or
      the entries 1..16 written), a fresh nonce and the record kept (zeros if none)
    115 PPP authentication table (648): count 0..16 at 0, nonce 4-7, 16 names of 20 bytes at 8,
      16 secrets of 20 at 328 masked. 116: the same with the count (ppp_auth_count=, or the one
      written) and a fresh nonce

Serial ports, port operation and DIO (device keys):
  ports=N          serial ports 1..N, N up to 16 (default 2)
  dio_mode=N  dio_state=N
                   DIO mode and state masks, bit i for channel i (default 0). A device of model
                   code 0x41xx has 4 DIO channels, any other 8; bits beyond them read 0.
  Every port starts at rate index 12 (9600), format 0x03, option 0, FIFO 1, interface 0 (RS232),
  driver mode 0, operation mode 0, name "Port<p>", inactivity 0, TCP alive 7, TCP server bytes
  0-1 = 4000+p (u16), every other record zero. Rates by index: 50 75 110 134 150 300 600 1200
  1800 2400 4800 7200 9600 19200 38400 57600 115200 230400.
  Queries (port byte at 20; 0x31, 0x32, 0x34 a selector at 21, 0x42 a zero byte at 21; 0x53 the
  port as a u32 at 20-23): port 0 asks for every port, port p for that one; a port beyond ports=
  gets no answer. Reply: the port asked at 20, ports= at 21, entries from 24 for the ports asked:
   0x31  8: rate (u32), format, option, rate index, port number
   0x32, 0x34, 0x46  1: FIFO, interface, driver mode    0x35  1: line status = port number
   0x36 16: 1000*p, 2000*p, p, 0 (u32 each)             0x37 16: name
   0x41  1: operation mode (signed)                     0x42  8: data packing record
   0x44, 0x45  4: inactivity, TCP alive (u32)           0x47  8: TCP server record
   0x48  the 172-byte TCP client record of port p (1..ports; 1 at 21)
   0x49 52: UDP record                                  0x53  4: port alert record
   0x62, 0x63  request: flag, first, end at 20-22; reply 24: the same three, the DIO mode or
        state mask at 23
  Channel commands (payload from byte 4; port byte 0, 0 sets every port, one beyond ports= or a
  short payload gets status 251):
   0x31 (4) port, rate index (below 18, else 251), format, option   0x32, 0x34, 0x46 (2) port, value
   0x37 (20) port, 3 zero, 16-byte name (15 characters kept)        0x41 (4) port, value, 2 zero
   0x42 (8) port, record bytes 0-2, record bytes 4-7                0x44, 0x45 (8) port, 3 zero, u32
   0x47 (9) port, 3 zero, record bytes 0-4
   0x48 (172) port, record byte 168, 2 zero, record bytes 0-159, record bytes 160-167
   0x49 (54) port, 3 zero, record bytes 0-49                        0x53 (8) port, 3 zero, record 0-2, zero
   0x62, 0x63 (4) flag, first, end, mask: channels first..end-1 take their bits from the mask
        (end beyond the DIO channels or first above end: 251)
  Each query reports what the commands stored.

IP location reports (device keys):
  report_to=A.B.C.D:PORT
                   send an IP location report there from ip:4800, first right after start
  report_every=MS  and again every MS milliseconds, up to 3600000 (default 0: once)
  report=HEX       the whole datagram to send, magic included, any length up to 65507 (default:
                   "KRVN" and the items: 1 devname (at most 40 bytes), 9 ip (4), 2 4800 (u16),
                   3 ip and 4900 (u16) (6), 4 app (u32), 5 kver (u32), 6 model (u16))
  Items are type (1 byte), length (1 byte), value; multi-byte values as listed, ip in network order.

Transfers, on the session channel after a login (sizes big-endian; bank and offset fields little-endian):
  5 kernel image, 6 file image, 8 application image: start frame with the size (4 bytes); answered
    with status 1, then exactly that many raw bytes follow, however they are cut into segments;
    then the final reply: the code, status upload_status=, length 0. An image is kept in memory
    when it is at most 64 MiB.
  11 configuration, 30 configuration without erasing first: the same, but the start frame is not
    answered; 11 replaces the configuration, 30 writes over its start and keeps the rest.
  12 configuration, 13 log: reply status 1 with the total (4 bytes), then that many raw bytes: the
    configuration last uploaded, else config_size= bytes (byte i = i*31+7); the log is lines
    "log line NNNNNN" cut to log_size= bytes.
  Banks 0..15 of 32768 bytes each, zero until written; 29 erases one (its byte is the bank).
  20 bank write: length (4, big-endian) and bank (4), then length raw bytes; reply status 1, or 0
    for a bank beyond 15 or more than 32768 bytes.
  21 bank read: bank (4), offset (4), length (4, taken big-endian when that reads at most 32768,
    else little-endian); reply of 12 bytes: status 0, length field 8, the size n (4) and 4 zero
    bytes, then n raw bytes: min(length, 32768 - offset) of the bank and bank_extra= filler bytes.
    Status 2 with size 0 for a bank beyond 15 or a field out of range.
  A start frame refused by cmd_status= is followed by no data.
  Version header: an application (8) or kernel (5) image that starts with "TDVI" (4 bytes), a
    version (u32 little-endian, as codes 21 and 22 report it) and a 40-byte name field (NUL-padded,
    48 bytes in all) changes apver= or kver= once stored, and a non-empty name changes apname=, so
    the upgrade shows in the queries. Images without it are stored and change nothing.
  Keys:
  config_size=N    configuration served before one is uploaded, up to 524288 bytes (default 1024)
  log_size=N       log size, up to 524288 bytes (default 1500)
  upload_status=N  status of an upload's final reply (default 1; 0 is success for 5, 6, 8 and 11)
  upload_noreply=1 no final reply to an upload or bank write
  upload_badlen=1  the final reply's length field says 1
  upload_store_ms=MS  the final reply leaves MS milliseconds after the last byte
  upload_stall_ms=MS  after a start frame nothing is read for MS milliseconds, and every connection
                   has a small receive buffer, so a peer's sends back up at once
  data_cut=N       downloads and bank reads send only the first N data bytes (the size stays)
  bank_extra=N     bank reads send N bytes more than asked, up to 65536
  Log: raw bytes are lines with the marker upload-data (rx) or download-data (tx) in place of the
  hex and their count as the length; a complete upload or bank write adds an rx line
  stored:<code>:<FNV-1a of its bytes, 8 hex digits> with its size as the length.

Log lines:
  <t> <device> <rx|tx> <peer-ip>:<port> <local-ip>:<port> <length> <hex bytes, or - when empty>
  t is CLOCK_MONOTONIC in milliseconds; local-ip is 0.0.0.0 for the broadcast socket.
  A channel frame is one line once whole (a tx line once its last segment was handed to the
  socket); bytes that never became a whole frame are one rx line when the connection ends.
  Connection events have length 0 and a marker in place of the hex: tcp-open (rx) when a
  connection is accepted, tcp-close when it ends, rx when the peer closed it, tx when the device did.

Running:
  Once every socket is bound it prints READY on stdout and writes nothing more there; diagnostics go
  to stderr. SIGTERM or SIGINT ends it with exit status 0. Exit status 2: bad options or device
  keys; 1: a socket or the log could not be opened.

Example:
  tarnix-devsim --log devsim.log \
    --device name=a,ip=127.0.0.2,app=0x1a2b3c4d,model=0x0201,mac=02:11:22:33:44:55,devname=Hall-3,password=1 \
    --device name=b,ip=127.0.0.3,delay=200,twice=1,netstat=100,payload21=414243,pw=secret
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
