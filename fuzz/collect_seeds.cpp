// Writes the seed corpora from real emulator replies: runs tarnix-devsim in a
// private network namespace, drives the library's queries, login and masked
// reads against it, and files every reply from its traffic log under the fuzz
// target that decodes it. Usage: collect_seeds CORPUS_DIR (needs root or user
// namespaces, like the tests).
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "query_targets.h"
#include "tarnix.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Names files after their content, so running the collector again adds only new replies.
void keep(const fs::path& dir, const Bytes& input) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : input) h = (h ^ b) * 1099511628211ull;
  fs::create_directories(dir);
  char name[32];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(h));
  std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(input.data()),
                                                     static_cast<std::streamsize>(input.size()));
}

Bytes with_prefix(std::initializer_list<uint8_t> prefix, const Bytes& rest) {
  Bytes b(prefix);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

// The selector byte that makes the fuzz target ask for the most entries.
uint8_t widest_value(const fuzz::QueryTarget& t) {
  if (t.shape == fuzz::Shape::kCount) return static_cast<uint8_t>(t.most - 1);
  if (t.shape == fuzz::Shape::kDio) return 8 * 8;  // channels 0 to 7
  if (t.serial && t.shape == fuzz::Shape::kFixed) return 1;  // a named port
  return 0;
}

// One IP location report from the emulator, read off a plain socket.
Bytes receive_report(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 3000) != 1) return {};
  Bytes b(2048);
  const ssize_t n = recv(fd, b.data(), b.size(), 0);
  b.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return b;
}

// What the downloads brought, to follow their reply frames in the download path's seeds.
Bytes g_log, g_bank;

void drive(int32_t s) {
  char text[40];
  int32_t a = 0, b = 0;
  uint32_t u = 0, v = 0;
  union {
    FSINFO fs;
    APINFO ap;
    KERNELINFO kernel;
    TIMEINFO time;
    IPLOCATIONINFO location;
    SNMPINFO snmp;
    MAILALERTINFO mail;
    PHYSTATUSINFO phy;
    ALERTINFO alert;
    CMDSTATEINFO cmd;
  } r;
  DSINFO record{};
  record.device_ip = inet_addr("127.0.0.2");
  dsc_GetDSINFO(s, &record);
  dsc_GetName(s, text);
  dsc_GetFsInfo(s, &r.fs);
  dsc_GetWatchdog(s, &a);
  dsc_GetDebug(s, &a);
  dsc_GetAPInfo(s, &r.ap);
  dsc_GetKernelInfo(s, &r.kernel);
  dsc_GetAPStatus(s, &a);
  dsc_GetEnvironmentMode(s, &a);
  dsc_GetConsole(s, &a);
  dsc_GetTime(s, &r.time);
  dsc_GetTimeServer(s, text);
  dsc_GetTimeZone(s, &a, &b);
  dsc_GetIP(s, 255, &u);
  dsc_GetNetmask(s, 255, &u);
  dsc_GetGateway(s, 255, &u);
  dsc_GetIPConfig(s, 255, &a);
  dsc_GetIPLocation(s, 255, &r.location);
  dsc_GetDNS(s, 255, &u, &v);
  dsc_GetSNMP(s, &r.snmp);
  dsc_GetMailAlert(s, &r.mail);
  dsc_GetPHYStatus(s, 1, &r.phy);
  dsc_GetAlert(s, &r.alert);
  dsc_GetCmdState(s, &r.cmd);
  dsc_GetModemSetting(s, text);
  static IFCONFIGINFO interfaces[64];
  static NETSTATINFO connections[256];
  static IPFILTERINFO filters[16];
  static PPPSTATUSINFO ppp_status[16];
  static PPPSTATISTICINFO ppp_statistics[16];
  static ROUTINGINFO routes[32];
  dsc_GetIfConfig(s, 64, &a, interfaces);
  dsc_GetNetstat(s, 256, &a, connections);
  dsc_GetIPFilter(s, 0, &a, filters);
  dsc_GetPPPStatus(s, 0, ppp_status);
  dsc_GetPPPStatistic(s, 0, ppp_statistics);
  a = 32;
  dsc_GetRouting(s, &a, routes);
  static SERIALIOCTLINFO line[16];
  static uint8_t bytes[16];
  static SERIALDATACOUNTINFO counts[16];
  static char names[16 * 16];
  static int32_t values[16];
  static DATAPACKINGINFO packing[16];
  static uint16_t times[16];
  static _TCPSVRINFO servers[16];
  static TCPCLIENTMODEINFO client;
  static UDPMODEINFO udp[16];
  static PORTALERTINFO alerts[16];
  dsc_GetSerialIOCtl(s, 0, 1, line);
  dsc_GetSerialFIFO(s, 0, 1, bytes);
  dsc_GetSerialInterface(s, 0, 1, bytes);
  dsc_GetSerialLineStatus(s, 0, bytes);
  dsc_GetSerialDataCount(s, 0, counts);
  dsc_GetSerialPortName(s, 0, names);
  dsc_GetOpMode(s, 0, values);
  dsc_GetDataPacking(s, 0, packing);
  dsc_GetInactivityTime(s, 0, times);
  dsc_GetTCPAliveTime(s, 0, times);
  dsc_GetDriverMode(s, 0, bytes);
  dsc_GetTCPServerMode(s, 0, servers);
  dsc_GetTCPClientMode(s, 1, &client);
  dsc_GetUDPMode(s, 0, udp);
  dsc_GetPortAlert(s, 0, alerts);
  dsc_GetDIOMode(s, 0, 8, values);
  dsc_GetDIOState(s, 0, 8, values);

  if (dsc_Login(s, "pw") != DSC_OK) {
    std::fprintf(stderr, "collect_seeds: login refused\n");
    return;
  }
  dsc_SetName(s, "seeded");
  dsc_SetMailAcount(s, "account", "mailsecret");
  char account[15], password[15];
  dsc_RetriveMailAcount(s, account, password);
  PPPCONFIGINFO config{};
  std::strcpy(config.secret, "pppsecret");
  dsc_SetPPPConfig(s, 1, &config);
  dsc_SetPPPConfig(s, 2, &config);
  static PPPCONFIGINFO configs[16];
  dsc_GetPPPConfig(s, 0, configs);
  PPPAUTHTABLEINFO table{};
  for (int i = 0; i < 3; ++i) {
    std::snprintf(table.names[i], sizeof table.names[i], "user%d", i);
    std::snprintf(table.secrets[i], sizeof table.secrets[i], "secret%d", i);
  }
  dsc_SetPPPAuthTable(s, 3, &table);
  dsc_GetPPPAuthTable(s, &a, &table);
  // Transfers: an upload's verdict, a download, a bank write and read.
  char path[] = "/tmp/collect_seeds_XXXXXX";
  const int fd = mkstemp(path);
  if (fd >= 0) {
    const std::string image(600, 'i');
    if (write(fd, image.data(), image.size()) == static_cast<ssize_t>(image.size())) dsc_UpgradeAP(s, path);
    close(fd);
    std::remove(path);
  }
  static uint8_t buffer[2048];
  uint32_t total = 0;
  if (dsc_RecvLog(s, buffer, sizeof buffer, &total) == DSC_OK) g_log.assign(buffer, buffer + std::min<uint32_t>(total, sizeof buffer));
  dsc_UpgradeAPConfigBank(s, 1, buffer, 100);
  if (dsc_RecvAPConfigBank(s, 1, 0, buffer, 100) == DSC_BANK_OK) g_bank.assign(buffer, buffer + 100);
  dsc_Logout(s);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  const fs::path corpus(argv[1]);
  if (!lab::EnterPrivateNetns()) {
    std::fprintf(stderr, "collect_seeds: no private network namespace (run as root)\n");
    return 1;
  }
  // The reports go to a socket of our own on loopback.
  const int report_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(47000);
  at.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (report_fd < 0 || bind(report_fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    std::fprintf(stderr, "collect_seeds: no report socket\n");
    return 1;
  }
  std::string error;
  auto devsim = lab::Devsim::Start(
      {"--device",
       "name=seed,ip=127.0.0.2,app=0x80004100,model=0x4512,mac=02:00:5e:00:00:20,pw=pw,interfaces=4,netstat=9,"
       "routes=5,ipfilter=16,ppp_ports=4,ppp_entries=3,ports=4,report_to=127.0.0.1:47000"},
      "", &error);
  if (!devsim) {
    std::fprintf(stderr, "collect_seeds: %s\n", error.c_str());
    return 1;
  }
  DSINFO d{};
  d.app_id = 0x80004100u;
  d.model = 0x4512;
  d.flags = DSC_FLAG_DIRECT;
  d.device_ip = inet_addr("127.0.0.2");
  d.reported_ip = d.device_ip;
  d.local_ip = inet_addr("127.0.0.1");
  const uint8_t mac[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x20};
  std::memcpy(d.mac, mac, sizeof mac);
  int32_t s = -1;
  if (dsc_Attach(&d, &s) != DSC_OK) return 1;
  dsc_LibSetTimeout(s, 300, 2);
  drive(s);
  dsc_Detach(s);

  size_t kept = 0;
  if (const Bytes report = receive_report(report_fd); !report.empty()) {
    keep(corpus / "iplocation_report", report);
    ++kept;
  }
  close(report_fd);
  for (const lab::LogEntry& e : devsim->Log()) {
    if (e.rx || e.bytes.empty()) continue;
    if (e.local_port == 4900) {
      const uint8_t code = e.bytes[0];
      keep(corpus / "channel_reply", with_prefix({code}, e.bytes));
      if (code == 97) keep(corpus / "masked_reply", with_prefix({0}, e.bytes));
      if (code == 114) keep(corpus / "masked_reply", with_prefix({1}, e.bytes));
      if (code == 116) keep(corpus / "masked_reply", with_prefix({2}, e.bytes));
      if ((code == 5 || code == 6 || code == 8) && e.bytes.size() == 4) {
        keep(corpus / "transfer_reply", with_prefix({0, code}, e.bytes));
      }
      if (code == 21 && e.bytes.size() <= 12) keep(corpus / "transfer_reply", with_prefix({1, code}, e.bytes));
      if (code == 20) keep(corpus / "transfer_reply", with_prefix({2, code}, e.bytes));
      // A download's frame, then the data that followed it (capacity selector 31: 1985 bytes).
      if (code == 13 && e.bytes.size() == 8 && !g_log.empty()) {
        Bytes seed = with_prefix({1, 31}, e.bytes);
        seed.insert(seed.end(), g_log.begin(), g_log.end());
        keep(corpus / "download_path", seed);
      }
      if (code == 21 && e.bytes.size() <= 12 && !g_bank.empty()) {
        Bytes seed = with_prefix({2, 1}, e.bytes);
        seed.insert(seed.end(), g_bank.begin(), g_bank.end());
        keep(corpus / "download_path", seed);
      }
      ++kept;
      continue;
    }
    const uint8_t code = static_cast<uint8_t>(e.bytes[0] & 0x7f);
    if (code == 1) keep(corpus / "search_reply", e.bytes);
    for (size_t i = 0; i < fuzz::kQueryTargetCount; ++i) {
      const fuzz::QueryTarget& t = fuzz::kQueryTargets[i];
      if (t.key == code && t.shape != fuzz::Shape::kIgnored) {
        keep(corpus / "query_reply", with_prefix({static_cast<uint8_t>(i), widest_value(t)}, e.bytes));
      }
    }
    ++kept;
  }
  // A firmware file of two sections (kernel, application) with a header text.
  Bytes firmware(96 + 64, 0);
  std::memcpy(firmware.data(), "*FRM", 4);
  const uint8_t descriptors[32] = {1, 0, 0, 0, 96, 0, 0, 0, 44, 0, 0, 0, 0, 0, 0, 0,
                                   3, 0, 0, 0, 140, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(firmware.data() + 64, descriptors, sizeof descriptors);
  std::memcpy(firmware.data() + 96, "ABCDXYZ", 7);
  keep(corpus / "firmware_file", firmware);
  std::printf("%zu replies filed under %s\n", kept, corpus.c_str());
  return kept > 0 ? 0 : 1;
}
