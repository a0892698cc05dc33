// Internal results passed between the library's layers, and the one table that
// maps them to the exported results. Only export functions call export_result.
#pragma once

#include <cstdint>

#include "tarnix.h"

namespace tarnix {

// name, internal value, exported value
#define TARNIX_RESULTS(X)                  \
  X(kOk, 1, DSC_OK)                        \
  X(kMalformed, 0, DSC_EFAIL)              \
  X(kIdentityMismatch, -1, DSC_EFAIL)      \
  X(kTimeout, -11, DSC_ETIMEOUT)           \
  X(kSocketError, -12, DSC_ESOCKET)        \
  X(kCancelled, -13, DSC_ECANCELLED)       \
  X(kStatus251, -14, DSC_EINVAL)           \
  X(kStatus254, -15, DSC_ESTATUS254)       \
  X(kStatus252, -17, DSC_ESTATUS252)       \
  X(kNoMemory, -19, DSC_EFAIL)             \
  X(kFileError, -20, DSC_EFILE)

enum Result : int {
#define TARNIX_RESULT_ENUM(name, internal, exported) name = internal,
  TARNIX_RESULTS(TARNIX_RESULT_ENUM)
#undef TARNIX_RESULT_ENUM
};

// Any value outside the table maps to DSC_EFAIL.
constexpr int32_t export_result(int internal) {
  switch (internal) {
#define TARNIX_RESULT_CASE(name, value, exported) \
  case value:                                    \
    return exported;
    TARNIX_RESULTS(TARNIX_RESULT_CASE)
#undef TARNIX_RESULT_CASE
  }
  return DSC_EFAIL;
}

}  // namespace tarnix
