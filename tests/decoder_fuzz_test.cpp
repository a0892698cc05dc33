// Random inputs from a fixed seed for the decoders of bytes from the network:
// under the sanitizers, any read or write outside the buffers fails the test.
// Inputs and outputs live on the heap at their exact sizes so that a single
// byte too far is caught.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "iplocation.h"
#include "result.h"
#include "serial.h"
#include "tarnix.h"

namespace {

constexpr int kRounds = 20000;

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t len) {
  std::vector<uint8_t> b(len);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

// Mostly short inputs, where the edges are, some long ones.
size_t RandomLength(std::mt19937& rng, size_t most) {
  return rng() % 4 == 0 ? rng() % (most + 1) : rng() % 40;
}

TEST(DecoderFuzz, IpLocationReports) {
  std::mt19937 rng(0x1f2e3d4c);
  for (int round = 0; round < kRounds; ++round) {
    const size_t len = RandomLength(rng, 160);
    std::unique_ptr<uint8_t[]> data(new uint8_t[len == 0 ? 1 : len]);
    std::vector<uint8_t> random = RandomBytes(rng, len);
    if (len >= 4 && rng() % 4 != 0) std::memcpy(random.data(), "KRVN", 4);
    // Small lengths make the items chain through the datagram more often.
    for (size_t i = 4; i + 1 < len; i += 2)
      if (rng() % 2 == 0) random[i + 1] = static_cast<uint8_t>(rng() % 8);
    std::copy(random.begin(), random.end(), data.get());
    auto record = std::make_unique<IPLOCATIONPOLLINFO>();
    std::memset(record.get(), 0xa5, sizeof *record);
    const int r = tarnix::iplocation::decode_report(data.get(), len, record.get());
    const bool report = len >= 4 && std::memcmp(data.get(), "KRVN", 4) == 0;
    ASSERT_EQ(r, report ? tarnix::kOk : tarnix::kMalformed) << "round " << round;
    if (!report) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(record.get());
      for (size_t i = 0; i < sizeof *record; ++i) ASSERT_EQ(bytes[i], 0xa5) << "round " << round;
    }
  }
}

TEST(DecoderFuzz, PortwiseReplies) {
  namespace serial = tarnix::serial;
  const serial::PortLayout* layouts[] = {&serial::kLineSettings, &serial::kOneByte, &serial::kPortName,
                                         &serial::kOperationMode, &serial::kLow16};
  std::mt19937 rng(0x5a17e);
  for (int round = 0; round < kRounds; ++round) {
    const serial::PortLayout& layout = *layouts[rng() % std::size(layouts)];
    const uint8_t port = rng() % 3 == 0 ? 0 : static_cast<uint8_t>(rng());
    const size_t len = RandomLength(rng, 24 + 20 * layout.entry);
    std::vector<uint8_t> random = RandomBytes(rng, len);
    std::unique_ptr<uint8_t[]> data(new uint8_t[len == 0 ? 1 : len]);
    std::copy(random.begin(), random.end(), data.get());
    // Exactly what the caller must provide: 16 elements for port 0, else one.
    const size_t elements = port == 0 ? serial::kMaxPorts : 1;
    std::unique_ptr<uint8_t[]> out(new uint8_t[elements * layout.element]);
    const size_t n = serial::decode_portwise(layout, port, data.get(), len, out.get());
    ASSERT_LE(n, elements) << "round " << round;
    ASSERT_LE(24 + n * layout.entry, len < 24 ? 24 : len) << "round " << round;
    if (port == 0 && len > 21) {
      ASSERT_LE(n, data[21]) << "round " << round;
    }
  }
}

}  // namespace
