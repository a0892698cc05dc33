#pragma once

// Layouts of the queries a device answers and of their replies, as datagram offsets: the query header fills
// bytes 0-19. Payload values are little-endian, IPv4 addresses in network order; the entry counts that tables
// are asked for travel big-endian. Each reply size stays within the reply buffer the library gives that
// query, noted in the static_asserts.

#include <cstddef>
#include <cstdint>

#include "wire.h"

namespace devsim::wire {

inline constexpr size_t kArgs = kQueryHeaderSize;

// Requests, by the arguments they carry; kSize is the least length a device accepts.
struct PlainRequest {
  static constexpr size_t kSize = kArgs;
};
struct Value16Request {  // locate value, or interface number (little-endian)
  static constexpr size_t kValue = kArgs, kSize = kValue + 2;
};
struct ByteRequest {  // PHY port, IP filter index
  static constexpr size_t kValue = kArgs, kSize = kValue + 1;
};
struct CountRequest {  // entries wanted, big-endian
  static constexpr size_t kCount = kArgs, kSize = kCount + 2;
};
struct PageRequest {  // entries still wanted (big-endian), page number (little-endian)
  static constexpr size_t kWanted = kArgs, kPage = kWanted + 2, kSize = kPage + 2;
};
struct PortRequest {  // PPP port, then three zero bytes; routing sends four zero bytes
  static constexpr size_t kPort = kArgs, kSize = kPort + 4;
};

inline constexpr uint16_t kPrimaryInterface = 255;  // stands for interface 0
inline constexpr uint16_t kMaxInterface = 64;

// Replies of one record.
struct BareReply {
  static constexpr size_t kSize = kArgs;
};
struct TextReply {  // name, time server
  static constexpr size_t kText = kArgs, kWidth = 40, kSize = kText + kWidth;
};
static_assert(TextReply::kSize <= 60);
struct FsInfoReply {
  static constexpr size_t kTotal = kArgs, kFree = kTotal + 4, kFiles = kFree + 4, kSize = kArgs + 48;
};
static_assert(FsInfoReply::kSize <= 68);
struct Value16Reply {  // watchdog, debug, AP status, environment mode, console
  static constexpr size_t kValue = kArgs, kSize = kValue + 2;
};
static_assert(Value16Reply::kSize <= 22);
struct ByteReply {  // IP config, modem setting
  static constexpr size_t kValue = kArgs, kSize = kValue + 1;
};
static_assert(ByteReply::kSize <= 21);
struct ApInfoReply {
  static constexpr size_t kName = kArgs, kNameWidth = 40, kVersion = kName + kNameWidth, kValue16 = kVersion + 4,
                          kBytes = kValue16 + 2, kValue32 = kBytes + 6, kSize = kValue32 + 4;
};
static_assert(ApInfoReply::kVersion == 60 && ApInfoReply::kValue32 == 72 && ApInfoReply::kSize <= 76);
struct KernelInfoReply {
  static constexpr size_t kVersion = kArgs, kValue1 = kVersion + 4, kValue2 = kValue1 + 4, kFlags = kValue2 + 4,
                          kValue3 = kFlags + 2, kSize = kValue3 + 2;
};
static_assert(KernelInfoReply::kFlags == 32 && KernelInfoReply::kSize <= 36);
inline constexpr uint16_t kKernelHasPassword = 1;
struct TimeReply {  // eight 16-bit fields: year from 1900, month from 0, weekday, day, hour, minute, second, ms
  static constexpr size_t kYear = kArgs, kMonth = kYear + 2, kWeekday = kMonth + 2, kDay = kWeekday + 2,
                          kHour = kDay + 2, kMinute = kHour + 2, kSecond = kMinute + 2, kMillisecond = kSecond + 2,
                          kSize = kMillisecond + 2;
};
static_assert(TimeReply::kSize <= 36);
struct TimeZoneReply {
  static constexpr size_t kOffset = kArgs, kIndex = kOffset + 4, kSize = kIndex + 4;
};
static_assert(TimeZoneReply::kSize <= 28);
struct AddressReply {  // IP, netmask, gateway
  static constexpr size_t kAddress = kArgs, kSize = kAddress + 4;
};
static_assert(AddressReply::kSize <= 24);
struct IpLocationReply {
  static constexpr size_t kText = kArgs, kWidth = 40, kValue1 = kText + kWidth, kValue2 = kValue1 + 2,
                          kSize = kValue2 + 2;
};
static_assert(IpLocationReply::kSize <= 64);
struct DnsReply {
  static constexpr size_t kFirst = kArgs, kSecond = kFirst + 4, kSize = kSecond + 4;
};
static_assert(DnsReply::kSize <= 28);
// The library's record takes the second and third blocks in the other order.
struct SnmpReply {
  static constexpr size_t kSetting = kArgs, kBlockWidth = 40, kBlockA = kSetting + 4, kBlockC = kBlockA + kBlockWidth,
                          kBlockB = kBlockC + kBlockWidth, kBlockD = kBlockB + kBlockWidth,
                          kSize = kBlockD + kBlockWidth;
};
static_assert(SnmpReply::kBlockA == 24 && SnmpReply::kBlockC == 64 && SnmpReply::kBlockB == 104 &&
              SnmpReply::kBlockD == 144 && SnmpReply::kSize <= 184);
struct MailAlertReply {
  static constexpr size_t kText = kArgs, kWidth = 40, kValue = kText + kWidth, kBlocks = kValue + 4, kBlockWidth = 64,
                          kBlockCount = 5, kSize = kBlocks + kBlockCount * kBlockWidth;
};
static_assert(MailAlertReply::kBlocks == 64 && MailAlertReply::kSize <= 384);
struct PhyStatusReply {
  static constexpr size_t kPort = kArgs, kLink = kPort + 1, kSpeed = kLink + 1, kDuplex = kSpeed + 2,
                          kSize = kDuplex + 4;
};
static_assert(PhyStatusReply::kSize <= 32);
struct AlertReply {
  static constexpr size_t kValues = kArgs, kSize = kValues + 3 * 2;
};
static_assert(AlertReply::kSize <= 28);
struct CmdStateReply {
  static constexpr size_t kValues = kArgs, kSize = kValues + 2 * 4;
};
static_assert(CmdStateReply::kSize <= 28);

// Tables: a count, then entries from byte 24.
struct Table16Reply {  // interfaces, connections: 16-bit count, continuation of the paged connection table
  static constexpr size_t kCount = kArgs, kContinuation = kCount + 2, kEntries = kContinuation + 2;
};
struct Table8Reply {  // IP filter, PPP, routing: count byte at 21, IP filter setting at 22
  static constexpr size_t kCount = kArgs + 1, kSetting = kCount + 1, kEntries = kArgs + 4;
};
static_assert(Table16Reply::kEntries == 24 && Table8Reply::kEntries == 24);

// Entry layouts, as offsets within the entry; kMost is how many the library's reply buffer holds.
struct IfConfigEntry {
  static constexpr size_t kNumber = 0, kIpMode = 2, kAddress = 4, kMask = 8, kGateway = 12, kSize = 16, kMost = 64;
};
static_assert(Table16Reply::kEntries + IfConfigEntry::kMost * IfConfigEntry::kSize == 1048);
struct NetstatEntry {
  static constexpr size_t kLocal = 0, kPeer = 4, kLocalPort = 8, kPeerPort = 10, kState = 12, kIndexLow = 13,
                          kIndexHigh = 14, kSize = 16, kMost = 256;
};
static_assert(Table16Reply::kEntries + NetstatEntry::kMost * NetstatEntry::kSize == 4120);
struct IpFilterEntry {
  static constexpr size_t kAddress = 0, kMask = 4, kNumber = 8, kEnabled = 9, kSize = 12, kMost = 16;
};
static_assert(Table8Reply::kEntries + IpFilterEntry::kMost * IpFilterEntry::kSize == 216);
struct PppStatusEntry {
  static constexpr size_t kPort = 0, kState = 1, kLocal = 4, kPeer = 8, kSize = 12, kMost = 16;
};
static_assert(Table8Reply::kEntries + PppStatusEntry::kMost * PppStatusEntry::kSize == 216);
struct PppStatisticEntry {
  static constexpr size_t kPort = 0, kReceived = 4, kSent = 8, kErrors = 12, kSize = 16, kMost = 16;
};
static_assert(Table8Reply::kEntries + PppStatisticEntry::kMost * PppStatisticEntry::kSize == 280);
struct RouteEntry {
  static constexpr size_t kDestination = 0, kMask = 4, kGateway = 8, kInterface = 12, kMetric = 16, kSize = 20,
                          kMost = 32;
};
static_assert(Table8Reply::kEntries + RouteEntry::kMost * RouteEntry::kSize == 664);

}  // namespace devsim::wire
