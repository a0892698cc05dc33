#include "protocol.h"

#include <algorithm>

#include "traffic_log.h"

namespace devsim {

void Responder::Restart() { back_at_ns_ = MonotonicNs() + int64_t{device_.settings.restart_ms} * 1'000'000; }

bool Responder::Restarting() const { return MonotonicNs() < back_at_ns_; }

std::optional<std::vector<uint8_t>> Responder::Respond(std::span<const uint8_t> datagram) {
  if (Restarting()) return std::nullopt;
  auto header = wire::DecodeHeader(datagram);
  if (!header || header->code & wire::kReplyBit || header->status != 0 || header->word != 0 ||
      header->length < wire::kHeaderSize || header->length > datagram.size()) {
    return std::nullopt;
  }
  auto payload = device_.payloads.find(header->code);
  bool overridden = payload != device_.payloads.end();
  // A stated payload makes the device answer a query it has no state for, too.
  static constexpr Command kAnyQuery{0, true, wire::kQueryHeaderSize, nullptr, nullptr};
  const Command* command = FindCommand(header->code);
  if (!command && overridden) command = &kAnyQuery;
  Request request = datagram.first(header->length);
  if (!command || request.size() < command->request_length ||
      (command->query && !device_.faults.any_identity && wire::QueryIdentity(request) != device_.identity) ||
      (command->well_formed && !command->well_formed(request))) {
    return std::nullopt;
  }

  uint64_t seen = ++well_formed_seen_[header->code];
  const Faults& faults = device_.faults;
  if (faults.silent || (faults.answer_nth != 0 && seen != faults.answer_nth)) return std::nullopt;
  if (faults.mute && *faults.mute == header->code) return std::nullopt;

  Reply reply = command->answer ? command->answer(device_, state_, request) : std::vector<uint8_t>{};
  if (!reply) return std::nullopt;
  if (overridden) {
    reply->resize(wire::kQueryHeaderSize);
    reply->insert(reply->end(), payload->second.begin(), payload->second.end());
  }
  reply->resize(std::max(reply->size(), wire::kQueryHeaderSize));  // room for the header and identity below
  wire::Header out{.code = static_cast<uint8_t>(header->code | wire::kReplyBit),
                   .status = faults.status,
                   .length = static_cast<uint16_t>(reply->size()),
                   .word = faults.word};
  wire::EncodeHeader(out, std::span(*reply).first<wire::kHeaderSize>());
  wire::EncodeIdentity(device_.identity, std::span(*reply).subspan<wire::kQueryIdentityOffset, wire::kIdentitySize>());
  if (faults.oversize && *faults.oversize > reply->size()) reply->resize(*faults.oversize, 0);
  if (faults.truncate && *faults.truncate < reply->size()) reply->resize(*faults.truncate);
  return reply;
}

}  // namespace devsim
