// A query reply datagram for one row of the query table: byte 0 picks the
// row, byte 1 the export's value (count, index or port), the rest is the
// reply. Outputs are allocated at exactly the size the caller gives.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fuzz_target.h"
#include "query.h"
#include "query_targets.h"

namespace {

// Every row whose reply is decoded must be driven here; a new row without a
// line in the target table stops the run at once instead of going unfuzzed.
bool table_covers_every_row() {
  for (unsigned key = 0; key < 256; ++key) {
    const tarnix::query::Row* row = tarnix::query::find_row(static_cast<uint16_t>(key));
    if (row == nullptr || row->handler != nullptr) continue;
    bool listed = false;
    for (const fuzz::QueryTarget& t : fuzz::kQueryTargets) listed = listed || t.key == key;
    if (!listed) {
      std::fprintf(stderr, "query row %u has no fuzz target line\n", key);
      return false;
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
  const tarnix::query::Row* row = tarnix::query::find_row(t.key);
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
