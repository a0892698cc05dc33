#include "channel.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <string_view>
#include <utility>

#include "records.h"
#include "serial.h"
#include "transfer.h"

namespace devsim {
namespace {

using namespace wire;
using Digest = std::array<uint8_t, kMaskSize>;
using Bytes = std::span<const uint8_t>;

static_assert(kLoginResponseSize == kMaskSize);

// Devices of this application family take the password itself, not a digest.
constexpr uint32_t kPlainFamily = 0x80004000;
constexpr uint32_t kFamilyMask = ~uint32_t{0xff};

bool PlainForm(const DeviceConfig& device) { return (device.identity.app & kFamilyMask) == kPlainFamily; }

// MD5 over text followed by four bytes. Without a digest nothing can match, so all ones stands in, which no
// response or check value of a peer is expected to be.
Digest Md5(std::string_view text, Bytes tail) {
  std::vector<uint8_t> input(text.begin(), text.end());
  input.insert(input.end(), tail.begin(), tail.end());
  Digest out{};
  unsigned int size = 0;
  if (EVP_Digest(input.data(), input.size(), out.data(), &size, EVP_md5(), nullptr) != 1 || size != out.size()) {
    std::fprintf(stderr, "tarnix-devsim: MD5 unavailable, logins and masked commands fail\n");
    out.fill(0xff);
  }
  return out;
}

// Masking and unmasking are the same XOR; a 20-byte field takes the digest's first bytes again.
void ApplyMask(std::span<uint8_t> field, const Digest& mask) {
  for (size_t i = 0; i < field.size(); ++i) field[i] ^= mask[i % mask.size()];
}

void RandomBytes(std::span<uint8_t> out) {
  if (RAND_bytes(out.data(), static_cast<int>(out.size())) == 1) return;
  std::random_device random;
  for (uint8_t& b : out) b = static_cast<uint8_t>(random());
}

// The characters of a zero-filled field, up to its first zero.
std::string FieldText(Bytes field) {
  auto end = std::find(field.begin(), field.end(), uint8_t{0});
  return {field.begin(), end};
}

void PutText(std::span<uint8_t> field, std::string_view text) {
  std::fill(field.begin(), field.end(), 0);
  std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

Digest Mask(const ChannelState& state, Bytes nonce) { return Md5(state.key, nonce); }

const ChannelAnswer kRefused{kChannelRefused, {}};

ChannelAnswer Challenge(Responder&, ChannelState& state, Bytes) {
  std::array<uint8_t, kChallengeSize> challenge{};
  RandomBytes(challenge);
  state.challenge = challenge;
  return {kChannelOk, {challenge.begin(), challenge.end()}};
}

Digest ExpectedResponse(const DeviceConfig& device, Bytes challenge) {
  const std::string& pw = device.settings.pw;
  if (!PlainForm(device)) return Md5(pw, challenge);
  Digest out{};
  PutText(out, std::string_view(pw).substr(0, kMaxPasswordLength));
  return out;
}

ChannelAnswer Login(Responder& responder, ChannelState& state, Bytes payload) {
  const DeviceConfig& device = responder.device();
  // A challenge answers one login only, so a recorded response cannot be played again.
  auto challenge = std::exchange(state.challenge, std::nullopt);
  state.logged_in = false;
  if (payload.size() == kLoginResponseSize && (PlainForm(device) || challenge)) {
    Digest expected = ExpectedResponse(device, challenge.value_or(std::array<uint8_t, kChallengeSize>{}));
    state.logged_in = CRYPTO_memcmp(payload.data(), expected.data(), expected.size()) == 0;
  }
  state.plain = state.logged_in && PlainForm(device);
  state.key = state.logged_in ? device.settings.pw : std::string();
  return {state.logged_in ? kChannelOk : device.faults.login_status, {}};
}

// The secret of a password or private key payload once its check value holds; after a plain login a new
// password may carry itself and a zero in place of the check value's start.
std::optional<std::string> CheckedSecret(const ChannelState& state, Bytes payload, bool plain_allowed) {
  using P = SecretPayload;
  if (payload.size() < P::kSize) return std::nullopt;
  Digest field{};
  std::copy_n(payload.begin() + P::kSecret, field.size(), field.begin());
  ApplyMask(field, Mask(state, payload.subspan(P::kNonce, kNonceSize)));
  std::string secret = FieldText(field);
  if (secret.size() > kMaxPasswordLength) return std::nullopt;
  Bytes check = payload.subspan(P::kCheck, kMaskSize);
  Digest expected = Md5(secret, payload.subspan(P::kCheckNonce, kNonceSize));
  if (CRYPTO_memcmp(check.data(), expected.data(), expected.size()) == 0) return secret;
  bool plain = plain_allowed && state.plain && std::equal(secret.begin(), secret.end(), check.begin()) &&
               check[secret.size()] == 0;
  if (plain) return secret;
  return std::nullopt;
}

ChannelAnswer SetPassword(Responder& device, ChannelState& state, Bytes payload) {
  auto secret = CheckedSecret(state, payload, true);
  if (!secret) return kRefused;
  device.device().settings.pw = *secret;
  return {};
}

ChannelAnswer SetPrivateKey(Responder& device, ChannelState& state, Bytes payload) {
  auto secret = CheckedSecret(state, payload, false);
  if (!secret) return kRefused;
  device.device().settings.private_key = *secret;
  return {};
}

ChannelAnswer SetMailAccount(Responder& device, ChannelState& state, Bytes payload) {
  using P = MailAccountPayload;
  if (payload.size() < P::kSize) return kRefused;
  Digest password{};
  std::copy_n(payload.begin() + P::kPassword, password.size(), password.begin());
  ApplyMask(password, Mask(state, payload.subspan(P::kNonce, kNonceSize)));
  Settings& s = device.device().settings;
  s.mail_account = FieldText(payload.subspan(P::kAccount, P::kAccountWidth - 1));
  s.mail_password = FieldText(password);
  return {};
}

ChannelAnswer ReadMailAccount(Responder& device, ChannelState& state, Bytes) {
  using P = MailAccountPayload;
  const Settings& s = device.device().settings;
  std::vector<uint8_t> out(P::kSize);
  std::span<uint8_t> bytes(out);
  RandomBytes(bytes.subspan(P::kNonce, kNonceSize));
  PutText(bytes.subspan(P::kAccount, P::kAccountWidth - 1), s.mail_account);
  std::span<uint8_t> password = bytes.subspan(P::kPassword, kMaskSize);
  PutText(password.first(kMaskSize - 1), s.mail_password);
  ApplyMask(password, Mask(state, bytes.subspan(P::kNonce, kNonceSize)));
  return {kChannelOk, std::move(out)};
}

ChannelAnswer SetPppConfig(Responder& device, ChannelState& state, Bytes payload) {
  using P = PppConfigPayload;
  using R = PppConfigRecord;
  if (payload.size() < P::kSize || payload[P::kEntry] > kMaxPppEntry) return kRefused;
  std::array<uint8_t, R::kSize> record{};
  std::copy_n(payload.begin() + P::kRecord, record.size(), record.begin());
  ApplyMask(std::span(record).subspan(R::kSecret, kLongSecretSize), Mask(state, payload.subspan(P::kNonce, kNonceSize)));
  std::fill_n(record.begin() + R::kUnused, R::kUnusedWidth, 0);
  device.device().settings.ppp_config[payload[P::kEntry]] = record;
  return {};
}

uint8_t PppEntries(const Settings& s) {
  if (s.ppp_entries) return *s.ppp_entries;
  return static_cast<uint8_t>(std::count_if(s.ppp_config.begin(), s.ppp_config.end(),
                                            [](const auto& entry) { return entry.first != 0; }));
}

ChannelAnswer GetPppConfig(Responder& device, ChannelState& state, Bytes payload) {
  using P = PppConfigPayload;
  using R = PppConfigRecord;
  if (payload.size() < PppConfigRequest::kSize) return kRefused;
  uint8_t entry = payload[PppConfigRequest::kEntry];
  if (entry > kMaxPppEntry) return kRefused;
  const Settings& s = device.device().settings;
  std::vector<uint8_t> out(P::kSize);
  std::span<uint8_t> bytes(out);
  bytes[P::kEntry] = entry;
  bytes[P::kCount] = PppEntries(s);
  RandomBytes(bytes.subspan(P::kNonce, kNonceSize));
  if (auto it = s.ppp_config.find(entry); it != s.ppp_config.end()) {
    std::copy(it->second.begin(), it->second.end(), bytes.begin() + P::kRecord);
  }
  ApplyMask(bytes.subspan(P::kRecord + R::kSecret, kLongSecretSize), Mask(state, bytes.subspan(P::kNonce, kNonceSize)));
  return {kChannelOk, std::move(out)};
}

void MaskAuthSecrets(std::span<uint8_t> table, const Digest& mask) {
  using T = PppAuthTable;
  for (size_t i = 0; i < T::kEntries; ++i) ApplyMask(table.subspan(T::kSecrets + i * T::kWidth, T::kWidth), mask);
}

ChannelAnswer SetPppAuthTable(Responder& device, ChannelState& state, Bytes payload) {
  using P = PppAuthPayload;
  if (payload.size() < P::kSize || payload[P::kCount] > PppAuthTable::kEntries) return kRefused;
  Settings& s = device.device().settings;
  std::copy_n(payload.begin() + P::kTable, s.ppp_auth.size(), s.ppp_auth.begin());
  MaskAuthSecrets(s.ppp_auth, Mask(state, payload.subspan(P::kNonce, kNonceSize)));
  s.ppp_auth_written = payload[P::kCount];
  return {};
}

ChannelAnswer GetPppAuthTable(Responder& device, ChannelState& state, Bytes) {
  using P = PppAuthPayload;
  const Settings& s = device.device().settings;
  std::vector<uint8_t> out(P::kSize);
  std::span<uint8_t> bytes(out);
  bytes[P::kCount] = s.ppp_auth_count.value_or(s.ppp_auth_written);
  RandomBytes(bytes.subspan(P::kNonce, kNonceSize));
  std::copy(s.ppp_auth.begin(), s.ppp_auth.end(), bytes.begin() + P::kTable);
  MaskAuthSecrets(bytes.subspan(P::kTable, PppAuthTable::kSize), Mask(state, bytes.subspan(P::kNonce, kNonceSize)));
  return {kChannelOk, std::move(out)};
}

// Settings that a query reports: each row takes a payload of at least its size.
template <std::string Settings::*kField>
ChannelAnswer SetText(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < TextPayload::kSize) return kRefused;
  device.device().settings.*kField = FieldText(payload.subspan(TextPayload::kText, TextPayload::kWidth));
  return {};
}

ChannelAnswer SetName(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < TextPayload::kSize) return kRefused;
  device.device().settings.devname = FieldText(payload.subspan(TextPayload::kText, TextPayload::kWidth));
  return {};
}

template <class T, T Settings::*kField>
ChannelAnswer SetByte(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < BytePayload::kSize) return kRefused;
  device.device().settings.*kField = payload[BytePayload::kValue];
  return {};
}

ChannelAnswer SetTime(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < TimePayload::kSize) return kRefused;
  auto field = [&](size_t reply_offset) { return int{ReaderAt(payload, reply_offset - kArgs).le16()}; };
  tm at{};
  at.tm_year = field(TimeReply::kYear);
  at.tm_mon = field(TimeReply::kMonth);
  at.tm_mday = field(TimeReply::kDay);
  at.tm_hour = field(TimeReply::kHour);
  at.tm_min = field(TimeReply::kMinute);
  at.tm_sec = field(TimeReply::kSecond);
  int ms = field(TimeReply::kMillisecond);
  if (at.tm_mon > 11 || at.tm_mday < 1 || at.tm_mday > 31 || at.tm_hour > 23 || at.tm_min > 59 || at.tm_sec > 60 ||
      ms > 999) {
    return kRefused;
  }
  SetClock(device.state(), int64_t{timegm(&at)} * 1000 + ms);
  return {};
}

ChannelAnswer SetTimeZone(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < TimeZonePayload::kSize) return kRefused;
  Settings& s = device.device().settings;
  s.tz_offset = static_cast<int32_t>(ReaderAt(payload, TimeZonePayload::kOffset).le32());
  s.tz_index = ReaderAt(payload, TimeZonePayload::kIndex).le32();
  return {};
}

// Only interface 0 keeps what it is told; the others the device names after their number.
std::optional<bool> PrimaryInterface(Bytes payload, size_t at) {
  uint16_t number = ReaderAt(payload, at).le16();
  if (number == kPrimaryInterface || number == 0) return true;
  if (number > kMaxInterface) return std::nullopt;
  return false;
}

template <std::optional<uint32_t> Settings::*kField>
void Store(Settings& s, uint32_t v) {
  s.*kField = v;
}
void StoreMask(Settings& s, uint32_t v) { s.mask = v; }

template <void (*kStore)(Settings&, uint32_t)>
ChannelAnswer SetAddress(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < AddressPayload::kSize) return kRefused;
  auto primary = PrimaryInterface(payload, AddressPayload::kInterface);
  if (!primary) return kRefused;
  if (*primary) kStore(device.device().settings, ReaderAt(payload, AddressPayload::kAddress).be32());
  return {};
}

ChannelAnswer SetIpMode(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < IpModePayload::kSize) return kRefused;
  auto primary = PrimaryInterface(payload, IpModePayload::kInterface);
  if (!primary) return kRefused;
  if (*primary) device.device().settings.ipmode = payload[IpModePayload::kValue];
  return {};
}

ChannelAnswer SetDns(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < DnsPayload::kSize) return kRefused;
  auto primary = PrimaryInterface(payload, DnsPayload::kInterface);
  if (!primary) return kRefused;
  if (*primary) {
    Settings& s = device.device().settings;
    s.dns = ReaderAt(payload, DnsPayload::kFirst).be32();
    s.dns2 = ReaderAt(payload, DnsPayload::kSecond).be32();
  }
  return {};
}

// The query of the same code answers with the first kKept bytes; the rest of the payload it does not return.
template <uint8_t kCode, size_t kSize, size_t kKept>
ChannelAnswer SetRecord(Responder& device, ChannelState&, Bytes payload) {
  if (payload.size() < kSize) return kRefused;
  std::vector<uint8_t> record(payload.begin(), payload.begin() + kKept);
  if constexpr (kCode == 40) std::fill(record.begin() + SnmpPayload::kUnused, record.begin() + SnmpPayload::kBlocks, 0);
  device.device().settings.records[kCode] = std::move(record);
  return {};
}

ChannelAnswer SaveAndRestart(Responder& device, ChannelState& state, Bytes payload) {
  uint8_t mode = ReaderAt(payload, RestartPayload::kMode).u8();
  if (payload.size() < RestartPayload::kSize || (mode != kSaveAndRestart && mode != kRestartOnly)) return kRefused;
  state.restart = true;
  device.Restart();
  return {};
}

ChannelAnswer FactoryDefault(Responder& device, ChannelState&, Bytes) {
  device.FactoryDefault();
  return {};
}

ChannelAnswer Accept(Responder&, ChannelState&, Bytes) { return {}; }

const ChannelCommand kChannelCommands[] = {
    {0, true, "challenge", Challenge},
    {1, true, "login", Login},
    {2, false, "save and restart", SaveAndRestart},
    {9, false, "run or stop the application", Accept},
    {10, false, "private key", SetPrivateKey},
    {14, false, "clear the application", Accept},
    {15, false, "development flag", Accept},
    {16, false, "name", SetName},
    {17, false, "password", SetPassword},
    {18, false, "watchdog", SetByte<uint16_t, &Settings::watchdog>},
    {19, false, "debug", SetByte<uint16_t, &Settings::debug>},
    {23, false, "factory default", FactoryDefault},
    {24, false, "change firmware", Accept},
    {25, false, "console", SetByte<uint16_t, &Settings::console>},
    {26, false, "time", SetTime},
    {27, false, "time server", SetText<&Settings::timeserver>},
    {28, false, "time zone", SetTimeZone},
    {29, false, "erase a configuration bank", EraseBank},
    {33, false, "IP address", SetAddress<Store<&Settings::address>>},
    {34, false, "netmask", SetAddress<StoreMask>},
    {35, false, "gateway", SetAddress<Store<&Settings::gateway>>},
    {36, false, "IP mode", SetIpMode},
    {37, false, "IP location", Accept},
    {39, false, "DNS", SetDns},
    {40, false, "SNMP", SetRecord<40, SnmpPayload::kSize, SnmpPayload::kSize>},
    {41, false, "mail alert", SetRecord<41, MailAlertPayload::kSize, MailAlertPayload::kSize>},
    {42, false, "PHY mode", Accept},
    {81, false, "IP filter", Accept},
    {82, false, "alert", SetRecord<82, AlertPayload::kSize, AlertPayload::kValuesWidth>},
    {84, false, "clear log", Accept},
    {96, false, "mail account", SetMailAccount},
    {97, false, "read mail account", ReadMailAccount},
    {100, false, "command state", SetRecord<100, CmdStatePayload::kSize, CmdStatePayload::kSize>},
    {101, false, "modem setting", SetByte<uint8_t, &Settings::modem>},
    {113, false, "PPP configuration", SetPppConfig},
    {114, false, "read PPP configuration", GetPppConfig},
    {115, false, "PPP authentication table", SetPppAuthTable},
    {116, false, "read PPP authentication table", GetPppAuthTable},
    {0x31, false, "serial line settings", SetSerialCommand<0x31>},
    {0x32, false, "serial FIFO", SetSerialCommand<0x32>},
    {0x34, false, "serial interface", SetSerialCommand<0x34>},
    {0x37, false, "serial port name", SetSerialCommand<0x37>},
    {0x41, false, "operation mode", SetSerialCommand<0x41>},
    {0x42, false, "data packing", SetSerialCommand<0x42>},
    {0x44, false, "inactivity time", SetSerialCommand<0x44>},
    {0x45, false, "TCP alive time", SetSerialCommand<0x45>},
    {0x46, false, "driver mode", SetSerialCommand<0x46>},
    {0x47, false, "TCP server mode", SetSerialCommand<0x47>},
    {0x48, false, "TCP client mode", SetSerialCommand<0x48>},
    {0x49, false, "UDP mode", SetSerialCommand<0x49>},
    {0x53, false, "port alert", SetSerialCommand<0x53>},
    {0x62, false, "DIO mode", SetSerialCommand<0x62>},
    {0x63, false, "DIO state", SetSerialCommand<0x63>},
    // Transfers.
    {5, false, "kernel image", StartUpload<5>},
    {6, false, "file image", StartUpload<6>},
    {8, false, "application image", StartUpload<8>},
    {11, false, "configuration upload", StartUpload<11>},
    {30, false, "configuration upload, no erase", StartUpload<30>},
    {12, false, "configuration download", SendConfig},
    {13, false, "log download", SendLog},
    {20, false, "bank write", StartBankWrite},
    {21, false, "bank read", ReadBank},
};

}  // namespace

const ChannelCommand* FindChannelCommand(uint8_t code) {
  for (const ChannelCommand& c : kChannelCommands) {
    if (c.code == code) return &c;
  }
  return nullptr;
}

ChannelReply AnswerFrame(Responder& device, ChannelState& state, std::span<const uint8_t> request) {
  auto header = DecodeFrameHeader(request);
  uint8_t code = header ? header->code : 0;
  Bytes payload = request.subspan(std::min(request.size(), kFrameHeaderSize));
  const ChannelCommand* command = FindChannelCommand(code);
  const DeviceConfig& d = device.device();
  ChannelAnswer answer;
  if (!state.logged_in && !(command && command->before_login)) {
    answer.status = kChannelRefused;
  } else if (command) {
    answer = command->answer(device, state, payload);
    if (!command->before_login) {
      std::fprintf(stderr, "tarnix-devsim: %s: channel command %u (%s): status %u\n", d.name.c_str(), code,
                   command->what, answer.status);
    }
  } else {
    std::fprintf(stderr, "tarnix-devsim: %s: channel command %u has no handler, answered with status 1\n",
                 d.name.c_str(), code);
  }

  // cmd_status=CODE:STATUS:N shapes only the N-th frame of the code.
  const uint64_t seen = device.CountChannelFrame(code);
  if (answer.no_reply) return {};
  const bool status_fault = d.faults.cmd_status_nth == 0 || d.faults.cmd_status_nth == seen;
  std::vector<uint8_t> frame = ShapeReply(d.faults, code, answer.status, answer.payload, status_fault);
  // A start frame that ends up refused is followed by no data.
  if (state.incoming && !TransferAccepted(code, frame[kFrameSecondOffset])) state.incoming.reset();
  return {std::move(frame), std::move(answer.raw)};
}

std::vector<uint8_t> ShapeReply(const Faults& f, uint8_t code, uint8_t status, std::span<const uint8_t> payload,
                                bool status_fault) {
  FrameHeader out{.code = code, .second = status, .length = static_cast<uint16_t>(payload.size())};
  if (status_fault && f.cmd_status && f.cmd_status->first == code) out.second = f.cmd_status->second;
  if (f.cmd_wrongcode == code) out.code = static_cast<uint8_t>(code + 1);
  if (f.cmd_badlen == code) out.length = static_cast<uint16_t>(out.length + 1);
  return EncodeFrame(out, payload);
}

}  // namespace devsim
