#pragma once

// The serial port, port operation and DIO family as a device answers it: the queries (datagram table rows)
// and the setting commands (session channel rows), and the IP location reports a device sends.

#include <cstdint>
#include <span>
#include <vector>

#include "channel.h"
#include "commands.h"

namespace devsim {

// Query answers, for rows of the datagram command table.
Reply AnswerSerialQuery(const DeviceConfig& device, DeviceState& state, Request request);

// Setting commands, for rows of the channel command table.
ChannelAnswer SetSerial(Responder& device, uint8_t code, std::span<const uint8_t> payload);
template <uint8_t kCode>
ChannelAnswer SetSerialCommand(Responder& device, ChannelState&, std::span<const uint8_t> payload) {
  return SetSerial(device, kCode, payload);
}

// The least request length of each serial query code.
inline constexpr size_t kPortRequest = 21, kPortSelectorRequest = 22, kPort32Request = 24, kDioRequest = 23;

// DIO channels by model code: 4 for the 0x41xx family, else 8.
unsigned DioChannels(const DeviceConfig& device);

// The IP location report the device sends: report= when given, else one built from its settings.
std::vector<uint8_t> IpLocationReport(const DeviceConfig& device);

}  // namespace devsim
