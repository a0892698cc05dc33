// Replays fuzz inputs without libFuzzer, so the normal test run (and its
// sanitizer build) exercises every decoder on the kept corpus: each file as it
// is, then a fixed series of cut, extended and flipped variants of it.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "fuzz_target.h"

namespace {

using Input = std::vector<uint8_t>;

void run(const Input& in) { LLVMFuzzerTestOneInput(in.data(), in.size()); }

// Variants from a seed that depends only on the file's position, so a failure
// reproduces on the next run.
size_t run_variants(const Input& in, uint32_t seed) {
  std::mt19937 rng(seed);
  size_t runs = 0;
  for (size_t cut = 0; cut < in.size(); cut += 1 + in.size() / 64) {
    run(Input(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(cut)));
    ++runs;
  }
  for (int i = 0; i < 200; ++i) {
    Input v = in;
    switch (rng() % 3) {
      case 0:  // longer: random bytes after the end
        for (size_t n = rng() % 64; n > 0; --n) v.push_back(static_cast<uint8_t>(rng()));
        break;
      case 1:  // shorter
        v.resize(v.empty() ? 0 : rng() % v.size());
        break;
      default:  // a few bytes changed, counts and lengths included
        for (size_t n = 1 + rng() % 4; n > 0 && !v.empty(); --n) v[rng() % v.size()] = static_cast<uint8_t>(rng());
    }
    run(v);
    ++runs;
  }
  return runs;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (const auto& e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file()) files.push_back(e.path());
    } else {
      files.push_back(p);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...: no input found\n", argv[0]);
    return 2;
  }
  std::sort(files.begin(), files.end());
  size_t runs = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    std::ifstream f(files[i], std::ios::binary);
    const Input in((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    run(in);
    runs += 1 + run_variants(in, static_cast<uint32_t>(i + 1));
  }
  std::printf("%zu files, %zu inputs run\n", files.size(), runs);
  return 0;
}
