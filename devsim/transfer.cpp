#include "transfer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "frame.h"

namespace devsim {
namespace {

using namespace wire;
using Bytes = std::span<const uint8_t>;

constexpr uint8_t kKernelImage = 5;
constexpr uint8_t kFileImage = 6;
constexpr uint8_t kApplicationImage = 8;
constexpr uint8_t kConfigUpload = 11;
constexpr uint8_t kConfigNoErase = 30;
constexpr uint8_t kBankWrite = 20;
constexpr uint8_t kBankRead = 21;
constexpr uint8_t kBankRefused = 2;
constexpr uint8_t kBankWriteRefused = 0;
constexpr uint8_t kFillerByte = 0xee;  // what a bank read sends beyond the bank with bank_extra=

// Start frame: the size of the data that follows, big-endian.
struct StartPayload {
  static constexpr size_t kSize = 0, kLength = 4;
};
// Bank write: data length big-endian, bank little-endian; the data follow.
struct BankWritePayload {
  static constexpr size_t kLength = 0, kBank = 4, kSize = 8;
};
// Bank read: bank and offset little-endian; the length big-endian or little-endian, whichever fits a bank.
struct BankReadPayload {
  static constexpr size_t kBank = 0, kOffset = 4, kLength = 8, kSize = 12;
};
// Bank read reply: the size of the data that follow, big-endian, then 4 bytes the peer does not read.
struct BankReadReply {
  static constexpr size_t kSize = 0, kUnread = 4, kLength = 8;
};

bool StatusZeroSucceeds(uint8_t code) {
  return code == kKernelImage || code == kFileImage || code == kApplicationImage || code == kConfigUpload;
}

std::vector<uint8_t> Config(const Settings& s) {
  if (s.config) return *s.config;
  std::vector<uint8_t> out(s.config_size);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 31 + 7);
  return out;
}

std::vector<uint8_t> Log(const Settings& s) {
  std::string text;
  for (unsigned line = 1; text.size() < s.log_size; ++line) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "log line %06u\n", line);
    text += buf;
  }
  text.resize(s.log_size);
  return {text.begin(), text.end()};
}

std::vector<uint8_t> Cut(const Faults& f, std::vector<uint8_t> data) {
  if (f.data_cut && *f.data_cut < data.size()) data.resize(*f.data_cut);
  return data;
}

ChannelAnswer Download(const Faults& f, std::vector<uint8_t> data) {
  ChannelAnswer answer;
  answer.payload.resize(4);
  put_be32(answer.payload.data(), static_cast<uint32_t>(data.size()));
  answer.raw = Cut(f, std::move(data));
  return answer;
}

std::vector<uint8_t>& Bank(Settings& s, uint32_t bank) {
  auto& b = s.banks[bank];
  b.resize(kBankSize, 0);
  return b;
}

// Takes over a version header of the device's own, so queries report the new version.
void ApplyVersion(Settings& s, uint8_t code, Bytes image) {
  if (image.size() < VersionHeader::kSize || !std::equal(image.begin(), image.begin() + 4, kVersionMagic)) return;
  uint32_t version = get_le32(&image[VersionHeader::kVersion]);
  if (code == kKernelImage) s.kver = version;
  if (code != kApplicationImage) return;
  s.apver = version;
  Bytes name = image.subspan(VersionHeader::kName, VersionHeader::kNameWidth);
  auto end = std::find(name.begin(), name.end(), uint8_t{0});
  if (end != name.begin()) s.apname.assign(name.begin(), end);
}

void Apply(Settings& s, Incoming& in) {
  const bool whole = in.kept.size() == in.size;
  switch (in.code) {
    case kConfigUpload:
      s.config = in.kept;
      break;
    case kConfigNoErase: {
      // Written over what is there; the rest stays.
      std::vector<uint8_t> config = Config(s);
      if (config.size() < in.kept.size()) config.resize(in.kept.size());
      std::copy(in.kept.begin(), in.kept.end(), config.begin());
      s.config = std::move(config);
      break;
    }
    default:
      ApplyVersion(s, in.code, in.kept);
      if (whole) {
        s.images[in.code] = std::move(in.kept);
      } else {
        s.images.erase(in.code);
      }
  }
}

}  // namespace

bool TransferAccepted(uint8_t code, uint8_t status) {
  return status == kChannelOk || (status == 0 && StatusZeroSucceeds(code));
}

template <uint8_t kCode>
ChannelAnswer StartUpload(Responder&, ChannelState& state, Bytes payload) {
  if (payload.size() < StartPayload::kLength) return {kChannelRefused, {}};
  state.incoming = Incoming{.code = kCode, .size = get_be32(&payload[StartPayload::kSize])};
  ChannelAnswer answer;
  // The configuration's start frame goes unanswered: the peer sends the data at once.
  answer.no_reply = kCode == kConfigUpload || kCode == kConfigNoErase;
  return answer;
}
template ChannelAnswer StartUpload<5>(Responder&, ChannelState&, Bytes);
template ChannelAnswer StartUpload<6>(Responder&, ChannelState&, Bytes);
template ChannelAnswer StartUpload<8>(Responder&, ChannelState&, Bytes);
template ChannelAnswer StartUpload<11>(Responder&, ChannelState&, Bytes);
template ChannelAnswer StartUpload<30>(Responder&, ChannelState&, Bytes);

ChannelAnswer SendConfig(Responder& device, ChannelState&, Bytes) {
  const DeviceConfig& d = device.device();
  return Download(d.faults, Config(d.settings));
}

ChannelAnswer SendLog(Responder& device, ChannelState&, Bytes) {
  const DeviceConfig& d = device.device();
  return Download(d.faults, Log(d.settings));
}

ChannelAnswer StartBankWrite(Responder& device, ChannelState& state, Bytes payload) {
  if (payload.size() < BankWritePayload::kSize) return {kBankWriteRefused, {}};
  state.incoming = Incoming{.code = kBankWrite,
                            .size = get_be32(&payload[BankWritePayload::kLength]),
                            .bank = get_le32(&payload[BankWritePayload::kBank])};
  if (state.incoming->size > 0) return {.no_reply = true};
  // Nothing follows: the verdict at once.
  Finished done = FinishIncoming(device, state);
  ChannelAnswer answer;
  answer.status = done.reply ? (*done.reply)[kFrameSecondOffset] : kBankWriteRefused;
  answer.no_reply = !done.reply;
  return answer;
}

ChannelAnswer ReadBank(Responder& device, ChannelState&, Bytes payload) {
  ChannelAnswer answer;
  answer.payload.resize(BankReadReply::kLength, 0);
  answer.status = kBankRefused;
  if (payload.size() < BankReadPayload::kSize) return answer;
  uint32_t bank = get_le32(&payload[BankReadPayload::kBank]);
  uint32_t offset = get_le32(&payload[BankReadPayload::kOffset]);
  uint32_t length = get_be32(&payload[BankReadPayload::kLength]);
  // One form of the request sends the length big-endian, the other little-endian; only one reading fits a bank.
  if (length > kBankSize) length = get_le32(&payload[BankReadPayload::kLength]);
  if (bank >= kBanks || offset > kBankSize || length > kBankSize) return answer;
  DeviceConfig& d = device.device();
  const std::vector<uint8_t>& b = Bank(d.settings, bank);
  uint32_t count = std::min(length, kBankSize - offset);
  std::vector<uint8_t> data(b.begin() + offset, b.begin() + offset + count);
  data.resize(count + d.faults.bank_extra, kFillerByte);
  answer.status = 0;  // success for a bank read
  put_be32(&answer.payload[BankReadReply::kSize], static_cast<uint32_t>(data.size()));
  answer.raw = Cut(d.faults, std::move(data));
  return answer;
}

ChannelAnswer EraseBank(Responder& device, ChannelState&, Bytes payload) {
  if (payload.empty()) return {kChannelRefused, {}};
  device.device().settings.banks.erase(payload[0]);
  return {};
}

void AddIncoming(Incoming& in, Bytes bytes) {
  bytes = bytes.first(static_cast<size_t>(std::min<uint64_t>(bytes.size(), in.size - in.received)));
  for (uint8_t b : bytes) in.hash = (in.hash ^ b) * 16777619u;
  // Room for the whole image at once, so a large one is not copied again and again as it grows.
  if (in.kept.capacity() == 0) in.kept.reserve(static_cast<size_t>(std::min(in.size, kKeptImageMost)));
  size_t room = in.kept.size() < kKeptImageMost ? static_cast<size_t>(kKeptImageMost - in.kept.size()) : 0;
  in.kept.insert(in.kept.end(), bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(std::min(room, bytes.size())));
  in.received += bytes.size();
}

Finished FinishIncoming(Responder& device, ChannelState& state) {
  Incoming in = std::move(*state.incoming);
  state.incoming.reset();
  DeviceConfig& d = device.device();
  const Faults& f = d.faults;
  Finished done{in.code, in.size, in.hash, std::nullopt, int64_t{f.upload_store_ms} * 1'000'000};
  uint8_t status = f.upload_status;
  if (in.code == kBankWrite) {
    status = in.bank < kBanks && in.size <= kBankSize ? kChannelOk : kBankWriteRefused;
    if (status == kChannelOk) std::copy(in.kept.begin(), in.kept.end(), Bank(d.settings, in.bank).begin());
  } else if (TransferAccepted(in.code, status)) {
    Apply(d.settings, in);
  }
  if (f.upload_noreply) return done;
  std::vector<uint8_t> reply = ShapeReply(f, in.code, status, {});
  if (f.upload_badlen) put_be16(&reply[kFrameLengthOffset], 1);
  done.reply = std::move(reply);
  return done;
}

}  // namespace devsim
