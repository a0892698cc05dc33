// How each query decoder is driven in memory: its key, the caller's output
// sizes and how the export's value shapes them. The fuzz target and the seed
// collector share it, so a seed's first byte names its row here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarnix.h"

namespace fuzz {

enum class Shape {
  kFixed,   // out and out2 as given
  kCount,   // value = 1 + selector % most: out = int32 count, out2 = value entries of `entry` bytes
  kSelect,  // value = selector % 17: one entry for a named index, 16 for 0; out2 (or out) the entries
  kIgnored, // the reply is not read
  kPort,    // port = selector % 17: out holds 16 elements of `out` bytes for port 0, else one
  kDio,     // channels first = selector % 8 to end = first + (selector / 8) % (9 - first): int32 each
};

struct QueryTarget {
  uint16_t key;
  Shape shape;
  size_t out;    // bytes behind out (kFixed), or the entry size (kSelect without out2)
  size_t out2;   // bytes behind out2 (kFixed), or the entry size (kCount, kSelect with out)
  size_t most;   // kCount: the largest count
  bool serial = false;  // a row of the serial port family's table
};

inline constexpr QueryTarget kQueryTargets[] = {
    {2, Shape::kIgnored, 0, 0, 0},
    {16, Shape::kFixed, 39, 0, 0},
    {17, Shape::kFixed, sizeof(FSINFO), 0, 0},
    {18, Shape::kFixed, 4, 0, 0},
    {19, Shape::kFixed, 4, 0, 0},
    {21, Shape::kFixed, sizeof(APINFO), 0, 0},
    {22, Shape::kFixed, sizeof(KERNELINFO), 0, 0},
    {23, Shape::kFixed, 4, 0, 0},
    {24, Shape::kFixed, 4, 0, 0},
    {25, Shape::kFixed, 4, 0, 0},
    {26, Shape::kFixed, sizeof(TIMEINFO), 0, 0},
    {27, Shape::kFixed, 39, 0, 0},
    {28, Shape::kFixed, 4, 4, 0},
    {33, Shape::kFixed, 4, 0, 0},
    {34, Shape::kFixed, 4, 0, 0},
    {35, Shape::kFixed, 4, 0, 0},
    {36, Shape::kFixed, 4, 0, 0},
    {37, Shape::kFixed, sizeof(IPLOCATIONINFO), 0, 0},
    {39, Shape::kFixed, 4, 4, 0},
    {40, Shape::kFixed, sizeof(SNMPINFO), 0, 0},
    {41, Shape::kFixed, sizeof(MAILALERTINFO), 0, 0},
    {42, Shape::kFixed, sizeof(PHYSTATUSINFO), 0, 0},
    {82, Shape::kFixed, sizeof(ALERTINFO), 0, 0},
    {100, Shape::kFixed, sizeof(CMDSTATEINFO), 0, 0},
    {101, Shape::kFixed, 1, 0, 0},
    {38, Shape::kCount, 4, sizeof(IFCONFIGINFO), 64},
    {20, Shape::kCount, 4, sizeof(NETSTATINFO), 256},
    {81, Shape::kSelect, 4, sizeof(IPFILTERINFO), 0},
    {113, Shape::kSelect, sizeof(PPPSTATUSINFO), 0, 0},
    {114, Shape::kSelect, sizeof(PPPSTATISTICINFO), 0, 0},
    {115, Shape::kFixed, 4, 32 * sizeof(ROUTINGINFO), 0},
    {0x31, Shape::kPort, sizeof(SERIALIOCTLINFO), 0, 0, true},
    {0x32, Shape::kPort, 1, 0, 0, true},
    {0x34, Shape::kPort, 1, 0, 0, true},
    {0x35, Shape::kPort, 1, 0, 0, true},
    {0x36, Shape::kPort, sizeof(SERIALDATACOUNTINFO), 0, 0, true},
    {0x37, Shape::kPort, 16, 0, 0, true},
    {0x41, Shape::kPort, 4, 0, 0, true},
    {0x42, Shape::kPort, sizeof(DATAPACKINGINFO), 0, 0, true},
    {0x44, Shape::kPort, 2, 0, 0, true},
    {0x45, Shape::kPort, 2, 0, 0, true},
    {0x46, Shape::kPort, 1, 0, 0, true},
    {0x47, Shape::kPort, sizeof(_TCPSVRINFO), 0, 0, true},
    {0x48, Shape::kFixed, sizeof(TCPCLIENTMODEINFO), 0, 0, true},
    {0x49, Shape::kPort, sizeof(UDPMODEINFO), 0, 0, true},
    {0x53, Shape::kPort, sizeof(PORTALERTINFO), 0, 0, true},
    {0x62, Shape::kDio, 4, 0, 0, true},
    {0x63, Shape::kDio, 4, 0, 0, true},
};

inline constexpr size_t kQueryTargetCount = sizeof kQueryTargets / sizeof kQueryTargets[0];

}  // namespace fuzz
