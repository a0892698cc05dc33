#include "iplocation.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "result.h"

namespace tarnix::iplocation {
namespace {

constexpr uint8_t kMagic[kMagicSize] = {'K', 'R', 'V', 'N'};
constexpr size_t kItemHeader = 2;  // type, length

// Where each known item's value goes; other types are skipped by their length.
struct Item {
  uint8_t type;
  size_t offset;
  size_t width;  // at most this many value bytes are stored
};
constexpr Item kItems[] = {
    {1, offsetof(IPLOCATIONPOLLINFO, text), sizeof(IPLOCATIONPOLLINFO::text)},
    {9, offsetof(IPLOCATIONPOLLINFO, item9), 4},
    {2, offsetof(IPLOCATIONPOLLINFO, item2), 2},
    {3, offsetof(IPLOCATIONPOLLINFO, item3), 6},
    {4, offsetof(IPLOCATIONPOLLINFO, item4), 4},
    {5, offsetof(IPLOCATIONPOLLINFO, item5), 4},
    {6, offsetof(IPLOCATIONPOLLINFO, item6), 2},
};

const Item* find_item(uint8_t type) {
  for (const Item& i : kItems)
    if (i.type == type) return &i;
  return nullptr;
}

}  // namespace

int decode_report(const uint8_t* data, size_t len, IPLOCATIONPOLLINFO* record) {
  if (len < kMagicSize || std::memcmp(data, kMagic, kMagicSize) != 0) return kMalformed;
  uint8_t* out = reinterpret_cast<uint8_t*>(record);
  size_t pos = kMagicSize;
  while (len - pos >= kItemHeader) {
    const uint8_t type = data[pos];
    const size_t value_len = data[pos + 1];
    const size_t value = pos + kItemHeader;
    if (value_len > len - value) break;  // the last item runs past the datagram
    // A value shorter than its field overwrites only its own bytes, as a
    // short text does; a longer one gives only the field's width.
    if (const Item* item = find_item(type)) std::memcpy(out + item->offset, data + value, std::min(value_len, item->width));
    pos = value + value_len;
  }
  return kOk;
}

}  // namespace tarnix::iplocation

// ---- Exports ------------------------------------------------------------------

namespace platform = tarnix::platform;

extern "C" {

DSC_EXPORT int32_t DSC_CALL dsc_IPLocationStart(int32_t* socket, uint32_t address, int32_t port) {
  if (socket == nullptr || port < 0 || port > 0xFFFF) return DSC_EINVAL;
  const int fd = platform::udp_listen(address, static_cast<uint16_t>(port));
  if (fd < 0) return DSC_ESOCKET;
  *socket = fd;
  return DSC_OK;
}

DSC_EXPORT int32_t DSC_CALL dsc_IPLocationPoll(int32_t socket, IPLOCATIONPOLLINFO* record) {
  if (record == nullptr || socket == -1) return DSC_EINVAL;
  const int ready = platform::udp_readable_now(socket);
  if (ready < 0) return DSC_ESOCKET;
  if (ready == 0) return DSC_EFAIL;
  uint8_t buf[tarnix::iplocation::kMaxReport];
  size_t len = 0;
  switch (platform::udp_recv_now(socket, buf, sizeof buf, &len)) {
    case platform::ListenRecv::kOk:
      break;
    case platform::ListenRecv::kNothing:
      return DSC_EFAIL;
    case platform::ListenRecv::kTooLarge:
    case platform::ListenRecv::kError:
      return DSC_ESOCKET;
  }
  return tarnix::export_result(tarnix::iplocation::decode_report(buf, len, record));
}

DSC_EXPORT int32_t DSC_CALL dsc_IPLocationEnd(int32_t socket) {
  platform::udp_close(socket);
  return DSC_OK;
}

}  // extern "C"
