// The serial port, port operation and DIO family: its query and command
// tables, and the port-wise reply decoder that most of its queries share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnix::query {
struct Row;
}

namespace tarnix::serial {

constexpr size_t kMaxPorts = 16;
constexpr size_t kEntries = 24;  // reply byte where the entries start
constexpr size_t kCountByte = 21;

// How one port's entry becomes one element of the caller's array.
struct PortLayout {
  size_t entry;    // bytes per entry in the reply
  size_t element;  // bytes per element of the caller's array
  void (*convert)(const uint8_t* entry, uint8_t* element);
};

// Decodes a port-wise reply of len bytes into out: one element when port is
// not 0, else the count in reply byte 21, at most 16. Only entries the reply
// holds in full are written. Returns how many were.
size_t decode_portwise(const PortLayout& layout, uint8_t port, const uint8_t* data, size_t len, void* out);

// The family's query row of that key, or null; for the fuzz target.
const query::Row* query_row(uint16_t key);

// The layouts of the queries, for tests that drive the decoder directly.
extern const PortLayout kLineSettings;
extern const PortLayout kOneByte;
extern const PortLayout kPortName;
extern const PortLayout kOperationMode;
extern const PortLayout kLow16;

}  // namespace tarnix::serial
