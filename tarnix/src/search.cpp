#include "search.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "frame.h"
#include "result.h"
#include "transport.h"
#include "wire.h"

namespace tarnix::search {

bool decode_reply(const uint8_t* data, size_t len, DSINFO* out) {
  uint8_t reply[kReplySize];
  wire::Bytes{data, len}.copy(0, reply, kReplySize);  // zero-filled; copes with an empty reply's null data
  if (!transport::is_reply_to(reply, kReplySize, kCommand)) return false;
  DSINFO rec{};
  rec.app_id = wire::get_raw<uint32_t>(reply + kOffAppId);
  rec.model = wire::get_raw<uint16_t>(reply + kOffModel);
  std::memcpy(rec.mac, reply + kOffMac, sizeof rec.mac);
  rec.reported_ip = wire::get_raw<uint32_t>(reply + kOffReported);
  *out = rec;
  return true;
}

namespace {

bool same_device(const DSINFO& a, const DSINFO& b) {
  return a.model == b.model && a.app_id == b.app_id && std::memcmp(a.mac, b.mac, sizeof a.mac) == 0;
}

class Search {
 public:
  Search(uint32_t address, DSC_SEARCH_PROC proc)
      : directed_(address != 0 && address != transport::kBroadcast),
        dest_(directed_ ? address : transport::kBroadcast),
        proc_(proc),
        timing_(search_timing()) {}

  int run() {
    refresh_local_addresses();
    const std::vector<uint32_t> addresses = local_addresses();
    if (addresses.empty() || set_.open(addresses) != kOk) return kSocketError;
    int idle = 0;
    for (;;) {
      if (set_.send(dest_, request_, encode_request()) != kOk) return kSocketError;
      bool found_new = false;
      for (;;) {
        uint8_t reply[kReplySize];
        transport::Received rx;
        const int r = transport::wait_reply(set_, kCommand, reply, sizeof reply, timing_, &rx);
        if (r == kTimeout) break;
        if (r != kOk) return r;
        const Taken taken = take(reply, rx);
        if (taken == Taken::kStop) return ordinary_end();
        if (taken == Taken::kNoMemory) return kNoMemory;
        if (taken == Taken::kNew) {
          found_new = true;
          if (found_count_ == kMaxFound || directed_) return ordinary_end();
        }
      }
      if (proc_(nullptr) == 0) return ordinary_end();
      idle = found_new ? 1 : idle + 1;
      if (idle >= timing_.retries) return ordinary_end();
    }
  }

 private:
  enum class Taken { kKnown, kNew, kStop, kNoMemory };

  size_t encode_request() {
    const size_t len = transport::kHeaderSize + transport::kIdentitySize * found_count_;
    transport::encode_header(request_, kCommand, static_cast<uint16_t>(len));
    uint8_t* p = request_ + transport::kHeaderSize;
    for (size_t i = 0; i < found_count_; ++i) {
      transport::encode_identity(p, *found_[i]);
      p += transport::kIdentitySize;
    }
    return len;
  }

  // Handles one acceptable reply; kStop when the search procedure said so.
  Taken take(const uint8_t* reply, const transport::Received& rx) {
    DSINFO seen{};
    if (!decode_reply(reply, kReplySize, &seen)) return Taken::kKnown;
    for (size_t i = 0; i < found_count_; ++i)
      if (same_device(*found_[i], seen)) return Taken::kKnown;

    std::unique_ptr<DSINFO> rec(new (std::nothrow) DSINFO(seen));
    if (!rec) return Taken::kNoMemory;
    rec->device_ip = rx.from_addr != 0 ? rx.from_addr : rec->reported_ip;
    rec->local_ip = rx.local_addr;
    rec->flags = directed_ ? DSC_FLAG_DIRECT : 0;
    if (proc_(rec.get()) == 0) return Taken::kStop;
    found_[found_count_++] = std::move(rec);
    return Taken::kNew;
  }

  int ordinary_end() const { return directed_ && found_count_ == 0 ? kTimeout : kOk; }

  const bool directed_;
  const uint32_t dest_;
  const DSC_SEARCH_PROC proc_;
  const Timing timing_;
  transport::SocketSet set_;
  // Fixed capacity, so that keeping a record never allocates beyond the record.
  std::unique_ptr<DSINFO> found_[kMaxFound];
  size_t found_count_ = 0;
  uint8_t request_[kMaxRequestSize] = {};
};

// Set while this thread runs a search, so that a search procedure calling
// dsc_EnumSearch gets an error instead of deadlocking on the search lock.
thread_local bool t_in_search = false;

}  // namespace
}  // namespace tarnix::search

extern "C" DSC_EXPORT int32_t DSC_CALL dsc_EnumSearch(int32_t address, DSC_SEARCH_PROC proc) {
  using namespace tarnix;
  if (proc == nullptr) return DSC_EINVAL;
  if (search::t_in_search) return DSC_EFAIL;
  std::lock_guard<std::mutex> guard(search_lock());
  search::t_in_search = true;
  int result = kNoMemory;
  try {
    std::unique_ptr<search::Search> s(new (std::nothrow) search::Search(static_cast<uint32_t>(address), proc));
    if (s) result = s->run();
  } catch (const std::bad_alloc&) {
    // Only the small address and socket lists allocate; nothing may escape the C interface.
  }
  search::t_in_search = false;
  return export_result(result);
}
