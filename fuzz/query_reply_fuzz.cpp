// A query reply datagram for one row of the query table: byte 0 picks the
// row, byte 1 the export's value (count, index or port), the rest is the
// reply. Outputs are allocated at exactly the size the caller gives.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fuzz_target.h"
#include "query.h"
#include "query_targets.h"
#include "serial.h"

namespace {

// Every row whose reply is decoded must be driven here; a new row without a
// line in the target table stops the run at once instead of going unfuzzed.
const tarnix::query::Row* row_of(uint16_t key, bool serial) {
  return serial ? tarnix::serial::query_row(key) : tarnix::query::find_row(key);
}

bool table_covers_every_row() {
  for (bool serial : {false, true}) {
    for (unsigned key = 0; key < 256; ++key) {
      const tarnix::query::Row* row = row_of(static_cast<uint16_t>(key), serial);
      if (row == nullptr || row->handler != nullptr) continue;
      bool listed = false;
      for (const fuzz::QueryTarget& t : fuzz::kQueryTargets) listed = listed || (t.key == key && t.serial == serial);
      if (!listed) {
        std::fprintf(stderr, "query row 0x%x has no fuzz target line\n", key);
        return false;
      }
    }
  }
  return true;
}

std::unique_ptr<uint8_t[]> buffer(size_t n) { return n == 0 ? nullptr : std::make_unique<uint8_t[]>(n); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool covered = table_covers_every_row();
  if (!covered) std::abort();
  if (size < 2) return 0;
  const fuzz::QueryTarget& t = fuzz::kQueryTargets[data[0] % fuzz::kQueryTargetCount];
  const tarnix::query::Row* row = row_of(t.key, t.serial);
  if (row == nullptr || t.shape == fuzz::Shape::kIgnored) return 0;

  tarnix::query::Args args;
  size_t out = t.out, out2 = t.out2;
  switch (t.shape) {
    case fuzz::Shape::kCount:
      args.value = static_cast<int32_t>(1 + data[1] % t.most);
      out2 = t.out2 * static_cast<size_t>(args.value);
      break;
    case fuzz::Shape::kSelect: {
      args.value = data[1] % 17;
      const size_t entries = args.value != 0 ? 1 : 16;
      if (t.out2 != 0) {
        out2 = t.out2 * entries;
      } else {
        out = t.out * entries;
      }
      break;
    }
    case fuzz::Shape::kPort:
      args.value = data[1] % 17;
      args.value2 = 1;
      out = t.out * (args.value == 0 ? 16 : 1);
      break;
    case fuzz::Shape::kDio: {
      const int32_t first = data[1] % 8;
      args.value = first;
      args.value2 = first + (data[1] / 8) % (9 - first);
      out = t.out * static_cast<size_t>(args.value2 - first);
      break;
    }
    default:
      break;
  }
  auto first = buffer(out);
  auto second = buffer(out2);
  args.out = first.get();
  args.out2 = second.get();
  row->decode(tarnix::wire::Bytes{data + 2, size - 2}, args);
  return 0;
}
