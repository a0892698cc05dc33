// The whole client surface against a device that answers with random,
// protocol-shaped garbage (tarnix-hostile): every call ends within its
// time-outs with a documented result, no descriptor is leaked, and in the lab
// no neighbour entry or route stays behind. TARNIX_HOSTILE_SEED=N repeats a
// run with that seed; TARNIX_HOSTILE_ROUNDS=N changes its length.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "lab/process.h"
#include "tarnix.h"

namespace {

using Clock = std::chrono::steady_clock;

long env_number(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 0) : fallback;
}

// The hostile device as a child process, in the given namespace (-1: ours).
class Hostile {
 public:
  Hostile(const std::string& ip, uint64_t seed, int netns_fd = -1) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::string error;
    lab::internal::SpawnOptions options;
    options.stdout_fd = out[1];
    options.netns_fd = netns_fd;
    pid_ = lab::internal::Spawn({TARNIX_HOSTILE_PATH, "--ip", ip, "--seed", std::to_string(seed)}, options, &error);
    close(out[1]);
    char ready[6] = {};
    pollfd p{out[0], POLLIN, 0};
    if (pid_ > 0 && poll(&p, 1, 5000) == 1) ready_ = read(out[0], ready, 5) == 5 && std::strcmp(ready, "READY") == 0;
    close(out[0]);
  }
  ~Hostile() {
    if (pid_ > 0) lab::internal::Terminate(pid_, 2000);
  }
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

struct Call {
  const char* name;
  std::function<int32_t(int32_t)> run;
  bool bank = false;  // returns the bank results, not the DSC_E* codes
};

// Files for the uploads: an image, and a firmware file of two sections.
struct Files {
  std::string dir, image, firmware;
  Files() {
    char tmpl[] = "/tmp/hostile_XXXXXX";
    dir = mkdtemp(tmpl);
    image = dir + "/image.ap";
    firmware = dir + "/firmware.frm";
    std::ofstream(image, std::ios::binary) << std::string(700, 'i');
    std::string frm(96 + 300, '\0');
    frm.replace(0, 4, "*FRM");
    const uint8_t descriptors[32] = {1, 0, 0, 0, 96, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0,
                                     3, 0, 0, 0, 196, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0};
    frm.replace(64, 32, reinterpret_cast<const char*>(descriptors), 32);
    std::ofstream(firmware, std::ios::binary) << frm;
  }
  ~Files() {
    std::remove(image.c_str());
    std::remove(firmware.c_str());
    rmdir(dir.c_str());
  }
};

// Every export that talks to a device, with arguments it accepts. Buffers are
// exactly the documented sizes, so the sanitizers see any write beyond them.
std::vector<Call> surface(const Files& files) {
  static const IPFILTERINFO filters[16] = {};
  static const SNMPINFO snmp = {};
  static const MAILALERTINFO mail = {};
  static const ALERTINFO alert = {};
  static const CMDSTATEINFO cmd = {};
  static const IPLOCATIONINFO location = {};
  static const TIMEINFO time = {2026, 12, 5, 11, 12, 0, 0, 0};
  static const PPPCONFIGINFO ppp = {};
  static const PPPAUTHTABLEINFO auth = {};
  static const unsigned char phy[2] = {0, 0};
  static const DATAPACKINGINFO packing = {};
  static const uint8_t driver = 1;
  static const _TCPSVRINFO server = {};
  static const TCPCLIENTMODEINFO client = {};
  static const UDPMODEINFO udp = {};
  static const PORTALERTINFO port_alert = {};
  static const int32_t dio[2] = {1, 0};
  static const uint8_t config[600] = {7};
  return {
      {"GetDSINFO", [](int32_t s) { DSINFO d{}; d.device_ip = inet_addr("127.0.0.2"); return dsc_GetDSINFO(s, &d); }},
      {"Locate", [](int32_t s) { return dsc_Locate(s, 1); }},
      {"GetName", [](int32_t s) { char t[40]; return dsc_GetName(s, t); }},
      {"GetFsInfo", [](int32_t s) { FSINFO o; return dsc_GetFsInfo(s, &o); }},
      {"GetWatchdog", [](int32_t s) { int32_t v; return dsc_GetWatchdog(s, &v); }},
      {"GetDebug", [](int32_t s) { int32_t v; return dsc_GetDebug(s, &v); }},
      {"GetAPInfo", [](int32_t s) { APINFO o; return dsc_GetAPInfo(s, &o); }},
      {"GetKernelInfo", [](int32_t s) { KERNELINFO o; return dsc_GetKernelInfo(s, &o); }},
      {"GetAPStatus", [](int32_t s) { int32_t v; return dsc_GetAPStatus(s, &v); }},
      {"GetEnvironmentMode", [](int32_t s) { int32_t v; return dsc_GetEnvironmentMode(s, &v); }},
      {"GetConsole", [](int32_t s) { int32_t v; return dsc_GetConsole(s, &v); }},
      {"GetTime", [](int32_t s) { TIMEINFO o; return dsc_GetTime(s, &o); }},
      {"GetTimeServer", [](int32_t s) { char t[40]; return dsc_GetTimeServer(s, t); }},
      {"GetTimeZone", [](int32_t s) { int32_t a, b; return dsc_GetTimeZone(s, &a, &b); }},
      {"GetIP", [](int32_t s) { uint32_t v; return dsc_GetIP(s, 255, &v); }},
      {"GetNetmask", [](int32_t s) { uint32_t v; return dsc_GetNetmask(s, 0, &v); }},
      {"GetGateway", [](int32_t s) { uint32_t v; return dsc_GetGateway(s, 1, &v); }},
      {"GetIPConfig", [](int32_t s) { int32_t v; return dsc_GetIPConfig(s, 255, &v); }},
      {"GetIPLocation", [](int32_t s) { IPLOCATIONINFO o; return dsc_GetIPLocation(s, 255, &o); }},
      {"GetDNS", [](int32_t s) { uint32_t a, b; return dsc_GetDNS(s, 255, &a, &b); }},
      {"GetSNMP", [](int32_t s) { SNMPINFO o; return dsc_GetSNMP(s, &o); }},
      {"GetMailAlert", [](int32_t s) { MAILALERTINFO o; return dsc_GetMailAlert(s, &o); }},
      {"GetPHYStatus", [](int32_t s) { PHYSTATUSINFO o; return dsc_GetPHYStatus(s, 1, &o); }},
      {"GetAlert", [](int32_t s) { ALERTINFO o; return dsc_GetAlert(s, &o); }},
      {"GetCmdState", [](int32_t s) { CMDSTATEINFO o; return dsc_GetCmdState(s, &o); }},
      {"GetModemSetting", [](int32_t s) { char c; return dsc_GetModemSetting(s, &c); }},
      {"GetIfConfig", [](int32_t s) { IFCONFIGINFO e[3]; int32_t n; return dsc_GetIfConfig(s, 3, &n, e); }},
      {"GetNetstat", [](int32_t s) { NETSTATINFO e[5]; int32_t n; return dsc_GetNetstat(s, 5, &n, e); }},
      {"GetNetstat_ex", [](int32_t s) { NETSTATINFO e[7]; int32_t n; return dsc_GetNetstat_ex(s, 7, &n, e); }},
      {"GetIPFilter all", [](int32_t s) { IPFILTERINFO e[16]; int32_t v; return dsc_GetIPFilter(s, 0, &v, e); }},
      {"GetIPFilter one", [](int32_t s) { IPFILTERINFO e[1]; int32_t v; return dsc_GetIPFilter(s, 3, &v, e); }},
      {"GetPPPStatus", [](int32_t s) { PPPSTATUSINFO e[16]; return dsc_GetPPPStatus(s, 0, e); }},
      {"GetPPPStatistic", [](int32_t s) { PPPSTATISTICINFO e[1]; return dsc_GetPPPStatistic(s, 2, e); }},
      {"GetRouting", [](int32_t s) { ROUTINGINFO e[32]; int32_t n = 32; return dsc_GetRouting(s, &n, e); }},
      // Port 0 asks for every port: room for 16 of each.
      {"GetSerialIOCtl", [](int32_t s) { SERIALIOCTLINFO o[16]; return dsc_GetSerialIOCtl(s, 0, 1, o); }},
      {"GetSerialIOCtl one", [](int32_t s) { SERIALIOCTLINFO o[1]; return dsc_GetSerialIOCtl(s, 3, 1, o); }},
      {"GetSerialFIFO", [](int32_t s) { uint8_t o[16]; return dsc_GetSerialFIFO(s, 0, 1, o); }},
      {"GetSerialInterface", [](int32_t s) { uint8_t o[1]; return dsc_GetSerialInterface(s, 1, 1, o); }},
      {"GetSerialLineStatus", [](int32_t s) { uint8_t o[16]; return dsc_GetSerialLineStatus(s, 0, o); }},
      {"GetSerialDataCount", [](int32_t s) { SERIALDATACOUNTINFO o[16]; return dsc_GetSerialDataCount(s, 0, o); }},
      {"GetSerialPortName", [](int32_t s) { char o[16 * 16]; return dsc_GetSerialPortName(s, 0, o); }},
      {"GetSerialPortName one", [](int32_t s) { char o[16]; return dsc_GetSerialPortName(s, 2, o); }},
      {"GetOpMode", [](int32_t s) { int32_t o[16]; return dsc_GetOpMode(s, 0, o); }},
      {"GetDataPacking", [](int32_t s) { DATAPACKINGINFO o[16]; return dsc_GetDataPacking(s, 0, o); }},
      {"GetInactivityTime", [](int32_t s) { uint16_t o[16]; return dsc_GetInactivityTime(s, 0, o); }},
      {"GetTCPAliveTime", [](int32_t s) { uint16_t o[1]; return dsc_GetTCPAliveTime(s, 4, o); }},
      {"GetDriverMode", [](int32_t s) { uint8_t o[16]; return dsc_GetDriverMode(s, 0, o); }},
      {"GetTCPServerMode", [](int32_t s) { _TCPSVRINFO o[16]; return dsc_GetTCPServerMode(s, 0, o); }},
      {"GetTCPClientMode", [](int32_t s) { TCPCLIENTMODEINFO o[1]; return dsc_GetTCPClientMode(s, 1, o); }},
      {"GetUDPMode", [](int32_t s) { UDPMODEINFO o[16]; return dsc_GetUDPMode(s, 0, o); }},
      {"GetPortAlert", [](int32_t s) { PORTALERTINFO o[16]; return dsc_GetPortAlert(s, 0, o); }},
      {"GetMaxDIO", [](int32_t s) { int32_t o; return dsc_GetMaxDIO(s, &o); }},
      {"GetDIOMode", [](int32_t s) { int32_t o[4]; return dsc_GetDIOMode(s, 0, 4, o); }},
      {"GetDIOState", [](int32_t s) { int32_t o[2]; return dsc_GetDIOState(s, 1, 3, o); }},
      {"Get_TimeZone_Index", [](int32_t s) { int32_t o; return dsc_Get_TimeZone_Index(s, &o); }},
      {"GetWinTime", [](int32_t s) { SYSTEMTIME o; return dsc_GetWinTime(s, &o); }},
      {"Login", [](int32_t s) { return dsc_Login(s, "pw"); }},
      {"SetSerialIOCtl", [](int32_t s) { return dsc_SetSerialIOCtl(s, 1, 12, 0x03, 0); }},
      {"SetSerialFIFO", [](int32_t s) { return dsc_SetSerialFIFO(s, 1, 1); }},
      {"SetSerialInterface", [](int32_t s) { return dsc_SetSerialInterface(s, 0, 0); }},
      {"SetSerialPortName", [](int32_t s) { return dsc_SetSerialPortName(s, 2, "port-two"); }},
      {"SetOPMode", [](int32_t s) { return dsc_SetOPMode(s, 1, 2); }},
      {"SetDataPacking", [](int32_t s) { return dsc_SetDataPacking(s, 1, &packing); }},
      {"SetInactivityTime", [](int32_t s) { return dsc_SetInactivityTime(s, 1, 60); }},
      {"SetTCPAlive", [](int32_t s) { return dsc_SetTCPAlive(s, 1, 7); }},
      {"SetDriverMode", [](int32_t s) { return dsc_SetDriverMode(s, 1, &driver); }},
      {"SetTCPSvrMode", [](int32_t s) { return dsc_SetTCPSvrMode(s, 1, &server); }},
      {"SetTCPCliMode", [](int32_t s) { return dsc_SetTCPCliMode(s, 1, &client); }},
      {"SetUDPMode", [](int32_t s) { return dsc_SetUDPMode(s, 1, &udp); }},
      {"SetPortAlert", [](int32_t s) { return dsc_SetPortAlert(s, 1, &port_alert); }},
      {"SetDIOMode", [](int32_t s) { return dsc_SetDIOMode(s, 0, 2, dio); }},
      {"SetDIOState", [](int32_t s) { return dsc_SetDIOState(s, 1, 3, dio); }},
      {"Set_TimeZone_Index", [](int32_t s) { return dsc_Set_TimeZone_Index(s, 17); }},
      {"SetWinTime", [](int32_t s) { SYSTEMTIME t = {2026, 12, 5, 11, 12, 0, 0, 0}; return dsc_SetWinTime(s, &t); }},
      {"SetName", [](int32_t s) { return dsc_SetName(s, "hostile"); }},
      {"SetWatchdog", [](int32_t s) { return dsc_SetWatchdog(s, 1); }},
      {"SetDebug", [](int32_t s) { return dsc_SetDebug(s, 0); }},
      {"RunOrStopUserAp", [](int32_t s) { return dsc_RunOrStopUserAp(s, 1); }},
      {"ClearUserAP", [](int32_t s) { return dsc_ClearUserAP(s); }},
      {"SetSDKDevFlag", [](int32_t s) { return dsc_SetSDKDevFlag(s, 0); }},
      {"SetConsole", [](int32_t s) { return dsc_SetConsole(s, 0); }},
      {"SetTime", [](int32_t s) { return dsc_SetTime(s, &time); }},
      {"SetTimeServer", [](int32_t s) { return dsc_SetTimeServer(s, "ntp"); }},
      {"SetTimeZone", [](int32_t s) { return dsc_SetTimeZone(s, 3600, 30); }},
      {"Erase_APConfig_Bank", [](int32_t s) { return dsc_Erase_APConfig_Bank(s, 1); }},
      {"SetIP", [](int32_t s) { return dsc_SetIP(s, 0, inet_addr("127.0.0.2")); }},
      {"SetNetmask", [](int32_t s) { return dsc_SetNetmask(s, 0, inet_addr("255.0.0.0")); }},
      {"SetGateway", [](int32_t s) { return dsc_SetGateway(s, 0, inet_addr("127.0.0.1")); }},
      {"SetIPConfig", [](int32_t s) { return dsc_SetIPConfig(s, 0, 1); }},
      {"SetIPLocation", [](int32_t s) { return dsc_SetIPLocation(s, 0, &location); }},
      {"SetDNS", [](int32_t s) { return dsc_SetDNS(s, 255, 0, 0); }},
      {"SetSNMP", [](int32_t s) { return dsc_SetSNMP(s, &snmp); }},
      {"SetMailAlert", [](int32_t s) { return dsc_SetMailAlert(s, &mail); }},
      {"SetPhyMode", [](int32_t s) { return dsc_SetPhyMode(s, phy); }},
      {"SetIPFilter", [](int32_t s) { return dsc_SetIPFilter(s, 1, filters); }},
      {"SetAlert", [](int32_t s) { return dsc_SetAlert(s, &alert); }},
      {"ClearLog", [](int32_t s) { return dsc_ClearLog(s); }},
      {"SetCmdState", [](int32_t s) { return dsc_SetCmdState(s, &cmd); }},
      {"SetModemSetting", [](int32_t s) { return dsc_SetModemSetting(s, 1); }},
      {"SetChangeFirmware",
       [](int32_t s) { return dsc_SetChangeFirmware(s, inet_addr("10.0.0.1"), 1, 1, inet_addr("10.0.0.2"), 1); }},
      {"SetPassword", [](int32_t s) { return dsc_SetPassword(s, "pw"); }},
      {"SetPrivateKey", [](int32_t s) { return dsc_SetPrivateKey(s, "key"); }},
      {"SetMailAcount", [](int32_t s) { return dsc_SetMailAcount(s, "a", "b"); }},
      {"RetriveMailAcount", [](int32_t s) { char a[15], p[15]; return dsc_RetriveMailAcount(s, a, p); }},
      {"SetPPPConfig", [](int32_t s) { return dsc_SetPPPConfig(s, 1, &ppp); }},
      {"GetPPPConfig one", [](int32_t s) { PPPCONFIGINFO c[1]; return dsc_GetPPPConfig(s, 2, c); }},
      {"GetPPPConfig all", [](int32_t s) { PPPCONFIGINFO c[16]; return dsc_GetPPPConfig(s, 0, c); }},
      {"SetPPPAuthTable", [](int32_t s) { return dsc_SetPPPAuthTable(s, 2, &auth); }},
      {"GetPPPAuthTable", [](int32_t s) { PPPAUTHTABLEINFO t; int32_t n; return dsc_GetPPPAuthTable(s, &n, &t); }},
      {"UpgradeAP", [&](int32_t s) { return dsc_UpgradeAP(s, files.image.c_str()); }},
      {"UpgradeKernel", [&](int32_t s) { return dsc_UpgradeKernel(s, files.image.c_str()); }},
      {"UpgradeFile", [&](int32_t s) { return dsc_UpgradeFile(s, files.image.c_str()); }},
      {"UpgradeAPKernel", [&](int32_t s) { return dsc_UpgradeAPKernel(s, files.firmware.c_str()); }},
      {"Upgrade_WebKernel", [&](int32_t s) { return dsc_Upgrade_WebKernel(s, files.firmware.c_str(), "XY"); }},
      {"UpgradeAPConfig", [](int32_t s) { return dsc_UpgradeAPConfig(s, config, sizeof config); }},
      {"UpgradeAPConfig_NoErase", [](int32_t s) { return dsc_UpgradeAPConfig_NoErase(s, config, sizeof config); }},
      {"RecvAPConfig", [](int32_t s) { uint8_t b[300]; return dsc_RecvAPConfig(s, b, sizeof b); }},
      {"RecvLog", [](int32_t s) { uint8_t b[100]; uint32_t total; return dsc_RecvLog(s, b, sizeof b, &total); }},
      {"RecvAPConfigBank", [](int32_t s) { uint8_t b[64]; return dsc_RecvAPConfigBank(s, 1, 100, b, sizeof b); }, true},
      {"RecvAPConfig_Bank",
       [](int32_t s) {
         auto out = std::make_unique<APCONFIGBANKINFO>();
         return dsc_RecvAPConfig_Bank(s, 2, 0, 32768, out.get());
       },
       true},
      {"UpgradeAPConfigBank", [](int32_t s) { return dsc_UpgradeAPConfigBank(s, 3, config, sizeof config); }, true},
      {"UpgradeAPConfig_Bank", [](int32_t s) { return dsc_UpgradeAPConfig_Bank(s, sizeof config, 4, config); }, true},
      {"SetToFactoryDefault", [](int32_t s) { return dsc_SetToFactoryDefault(s); }},
      {"Restart", [](int32_t s) { return dsc_Restart(s); }},
      {"SaveAndRestart", [](int32_t s) { return dsc_SaveAndRestart(s); }},
      {"Logout", [](int32_t s) { return dsc_Logout(s); }},
  };
}

// What a device can make these exports return; anything else is a fault.
const std::set<int32_t> kDocumented = {DSC_OK,        DSC_EFAIL,      DSC_ETIMEOUT,   DSC_ESOCKET,
                                       DSC_EINVAL,    DSC_ESTATUS254, DSC_ESTATUS252, DSC_ENOCHANNEL};
const std::set<int32_t> kBankDocumented = {DSC_BANK_OK, DSC_BANK_EREPLY, DSC_BANK_ETIMEOUT, DSC_BANK_ESOCKET};

// Time-out 40 ms, retry count 1, upgrade time-out 100 ms: the longest export
// here (an upload's verdict may take upgrade time-out + 2000 ms, and the
// firmware file has two) stays below this bound unless it hangs.
constexpr int kTimeoutMs = 40;
constexpr int kUpgradeTimeoutMs = 100;
constexpr auto kBound = std::chrono::milliseconds(6000);

void run_rounds(const DSINFO& device, long rounds, uint64_t seed) {
  const Files files;
  const std::vector<Call> calls = surface(files);
  long ok = 0, logins = 0;
  std::map<int32_t, long> results;
  for (long round = 0; round < rounds; ++round) {
    int32_t s = -1;
    ASSERT_EQ(dsc_Attach(&device, &s), DSC_OK);
    dsc_LibSetTimeout(s, kTimeoutMs, 1);
    dsc_LibSetUpgTimeout(s, kUpgradeTimeoutMs);
    for (const Call& c : calls) {
      const auto t0 = Clock::now();
      const int32_t r = c.run(s);
      const auto took = Clock::now() - t0;
      EXPECT_TRUE((c.bank ? kBankDocumented : kDocumented).contains(r)) << c.name << " returned " << r << " (seed " << seed << ", round " << round << ")";
      EXPECT_LT(took, kBound) << c.name << " (seed " << seed << ", round " << round << ")";
      ok += r == DSC_OK;
      ++results[r];
      if (std::strcmp(c.name, "Login") == 0) logins += r == DSC_OK;
    }
    ASSERT_EQ(dsc_Detach(s), DSC_OK);
  }
  std::printf("seed %llu: %ld rounds, %ld logins accepted; results:", static_cast<unsigned long long>(seed), rounds,
              logins);
  for (const auto& [r, n] : results) std::printf(" %d x%ld", r, n);
  std::printf("\n");
  // The device must have let some of it through, or the run proved little.
  EXPECT_GT(ok, rounds) << "seed " << seed;
}

TEST(Hostile, LoopbackSurfaceSurvivesGarbage) {
  const uint64_t seed = static_cast<uint64_t>(env_number("TARNIX_HOSTILE_SEED", 1));
  const long rounds = env_number("TARNIX_HOSTILE_ROUNDS", 6);
  for (uint64_t k = seed; k < seed + 3; ++k) {
    SCOPED_TRACE("seed " + std::to_string(k));
    Hostile device("127.0.0.2", k);
    ASSERT_TRUE(device.ready());
    DSINFO d{};
    d.flags = DSC_FLAG_DIRECT;
    d.device_ip = inet_addr("127.0.0.2");
    d.reported_ip = d.device_ip;
    d.local_ip = inet_addr("127.0.0.1");
    const int before = lab::OpenDescriptors();
    run_rounds(d, rounds, k);
    EXPECT_EQ(lab::OpenDescriptors(), before) << "descriptors leaked";
  }
}

TEST(Hostile, BracketedSurfaceLeavesNoEntries) {
  std::unique_ptr<lab::Lab> lab;
  LAB_OR_SKIP(lab);
  const uint64_t seed = static_cast<uint64_t>(env_number("TARNIX_HOSTILE_SEED", 1));
  const int ns = open(("/run/netns/" + lab->Netns("outside")).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(ns, 0);
  Hostile device("192.168.77.2", seed, ns);
  close(ns);
  ASSERT_TRUE(device.ready());
  DSINFO d{};
  d.device_ip = inet_addr("192.168.77.2");
  d.reported_ip = d.device_ip;
  d.local_ip = inet_addr("10.77.0.1");
  std::string mac = lab->Run("outside", "cat /sys/class/net/eth0/address");
  unsigned m[6] = {};
  std::sscanf(mac.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
  for (int i = 0; i < 6; ++i) d.mac[i] = static_cast<uint8_t>(m[i]);
  const std::string tables_before = lab->Run("ws", "ip -4 neigh show nud permanent; ip -4 route show table all");
  const int before = lab::OpenDescriptors();
  {
    lab::Lab::InWorkstation inside(*lab);
    run_rounds(d, env_number("TARNIX_HOSTILE_ROUNDS", 6) / 2 + 1, seed);
  }
  EXPECT_EQ(lab::OpenDescriptors(), before) << "descriptors leaked";
  EXPECT_EQ(lab->Run("ws", "ip -4 neigh show nud permanent; ip -4 route show table all"), tables_before);
}

}  // namespace
