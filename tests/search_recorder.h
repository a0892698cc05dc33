// A search procedure that records what a search handed it, for the tests.
#pragma once

#include <vector>

#include "tarnix.h"

namespace search_recorder {

struct Seen {
  std::vector<DSINFO> records;
  int rounds = 0;  // calls with null at the end of a round
  int32_t answer_record = 1;
  int32_t answer_null = 1;
};

// The record the procedure writes to; a search procedure takes no user value.
inline Seen* g_seen = nullptr;

inline int32_t DSC_CALL collect(DSINFO* info) {
  if (info == nullptr) {
    ++g_seen->rounds;
    return g_seen->answer_null;
  }
  g_seen->records.push_back(*info);
  return g_seen->answer_record;
}

}  // namespace search_recorder
