// The one entry point every fuzz target defines, as libFuzzer expects it; the
// replay driver calls the same function for each file of a corpus.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
