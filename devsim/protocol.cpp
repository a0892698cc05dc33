#include "protocol.h"

#include <algorithm>

namespace devsim {
namespace {

using Body = std::span<const uint8_t>;
using Reply = std::optional<std::vector<uint8_t>>;

bool SearchWellFormed(Body body) { return body.size() % wire::kIdentitySize == 0; }

Reply AnswerSearch(const DeviceConfig& device, Body known) {
  if (!device.faults.ignore_list) {
    wire::Reader r(known);
    while (r.remaining() >= wire::kIdentitySize) {
      if (wire::DecodeIdentity(r) == device.identity) return std::nullopt;
    }
  }
  std::vector<uint8_t> reply(wire::kSearchReplySize);
  wire::EncodeIdentity(device.identity,
                       std::span(reply).subspan<wire::kSearchReplyIdentityOffset, wire::kIdentitySize>());
  wire::put_be32(&reply[wire::kSearchReplyAddressOffset], device.reported_ip());
  return reply;
}

// One row per command a device understands. A handler returns the whole reply with room for the header, which
// the caller fills in; further commands are further rows.
struct Command {
  uint8_t code;
  bool (*well_formed)(Body body);
  Reply (*answer)(const DeviceConfig& device, Body body);
};

constexpr Command kCommands[] = {
    {wire::kSearchCode, SearchWellFormed, AnswerSearch},
};

const Command* FindCommand(uint8_t code) {
  auto it = std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) { return c.code == code; });
  return it == std::end(kCommands) ? nullptr : it;
}

}  // namespace

std::optional<std::vector<uint8_t>> Responder::Respond(std::span<const uint8_t> datagram) {
  auto header = wire::DecodeHeader(datagram);
  if (!header || header->code & wire::kReplyBit || header->status != 0 || header->word != 0 ||
      header->length < wire::kHeaderSize || header->length > datagram.size()) {
    return std::nullopt;
  }
  const Command* command = FindCommand(header->code);
  Body body = datagram.subspan(wire::kHeaderSize, header->length - wire::kHeaderSize);
  if (!command || !command->well_formed(body)) return std::nullopt;

  uint64_t seen = ++well_formed_seen_[header->code];
  const Faults& faults = device_.faults;
  if (faults.silent || (faults.answer_nth != 0 && seen != faults.answer_nth)) return std::nullopt;

  Reply reply = command->answer(device_, body);
  if (!reply) return std::nullopt;
  wire::Header out{.code = static_cast<uint8_t>(header->code | wire::kReplyBit),
                   .status = faults.status,
                   .length = static_cast<uint16_t>(reply->size()),
                   .word = faults.word};
  wire::EncodeHeader(out, std::span(*reply).first<wire::kHeaderSize>());
  if (faults.oversize && *faults.oversize > reply->size()) reply->resize(*faults.oversize, 0);
  if (faults.truncate && *faults.truncate < reply->size()) reply->resize(*faults.truncate);
  return reply;
}

}  // namespace devsim
