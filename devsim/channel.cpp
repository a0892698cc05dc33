#include "channel.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

namespace devsim {
namespace {

using Response = std::array<uint8_t, wire::kLoginResponseSize>;

// Devices of this application family take the password itself, not a digest.
constexpr uint32_t kPlainFamily = 0x80004000;
constexpr uint32_t kFamilyMask = ~uint32_t{0xff};

bool PlainForm(const DeviceConfig& device) { return (device.identity.app & kFamilyMask) == kPlainFamily; }

Response ExpectedResponse(const DeviceConfig& device, std::span<const uint8_t, wire::kChallengeSize> challenge) {
  const std::string& pw = device.settings.pw;
  Response out{};
  if (PlainForm(device)) {
    std::copy_n(pw.begin(), std::min(pw.size(), wire::kMaxPasswordLength), out.begin());
    return out;
  }
  std::vector<uint8_t> input(pw.begin(), pw.end());
  input.insert(input.end(), challenge.begin(), challenge.end());
  unsigned int size = 0;
  if (EVP_Digest(input.data(), input.size(), out.data(), &size, EVP_md5(), nullptr) != 1 || size != out.size()) {
    // Without a digest no response can match; a zero response must not either.
    std::fprintf(stderr, "tarnix-devsim: %s: MD5 unavailable, every login is refused\n", device.name.c_str());
    out.fill(0xff);
  }
  return out;
}

ChannelAnswer Challenge(const DeviceConfig&, ChannelState& state, std::span<const uint8_t>) {
  std::array<uint8_t, wire::kChallengeSize> challenge{};
  if (RAND_bytes(challenge.data(), static_cast<int>(challenge.size())) != 1) {
    std::random_device random;
    for (uint8_t& b : challenge) b = static_cast<uint8_t>(random());
  }
  state.challenge = challenge;
  return {kChannelOk, {challenge.begin(), challenge.end()}};
}

ChannelAnswer Login(const DeviceConfig& device, ChannelState& state, std::span<const uint8_t> payload) {
  // A challenge answers one login only, so a recorded response cannot be played again.
  auto challenge = std::exchange(state.challenge, std::nullopt);
  state.logged_in = false;
  if (payload.size() == wire::kLoginResponseSize && (PlainForm(device) || challenge)) {
    Response expected = ExpectedResponse(device, challenge.value_or(std::array<uint8_t, wire::kChallengeSize>{}));
    state.logged_in = CRYPTO_memcmp(payload.data(), expected.data(), expected.size()) == 0;
  }
  return {state.logged_in ? kChannelOk : device.faults.login_status, {}};
}

const ChannelCommand kChannelCommands[] = {
    {0, true, Challenge},
    {1, true, Login},
};

}  // namespace

const ChannelCommand* FindChannelCommand(uint8_t code) {
  for (const ChannelCommand& c : kChannelCommands) {
    if (c.code == code) return &c;
  }
  return nullptr;
}

std::vector<uint8_t> AnswerFrame(const DeviceConfig& device, ChannelState& state, std::span<const uint8_t> request) {
  auto header = wire::DecodeFrameHeader(request);
  uint8_t code = header ? header->code : 0;
  std::span<const uint8_t> payload = request.subspan(std::min(request.size(), wire::kFrameHeaderSize));
  const ChannelCommand* command = FindChannelCommand(code);
  ChannelAnswer answer;
  if (!state.logged_in && !(command && command->before_login)) {
    answer.status = kChannelRefused;
  } else if (command) {
    answer = command->answer(device, state, payload);
  } else {
    std::fprintf(stderr, "tarnix-devsim: %s: channel command %u has no handler yet, answered with status 1\n",
                 device.name.c_str(), code);
  }

  const Faults& f = device.faults;
  wire::FrameHeader out{.code = code, .second = answer.status, .length = static_cast<uint16_t>(answer.payload.size())};
  if (f.cmd_status && f.cmd_status->first == code) out.second = f.cmd_status->second;
  if (f.cmd_wrongcode == code) out.code = static_cast<uint8_t>(code + 1);
  if (f.cmd_badlen == code) out.length = static_cast<uint16_t>(out.length + 1);
  return wire::EncodeFrame(out, answer.payload);
}

}  // namespace devsim
