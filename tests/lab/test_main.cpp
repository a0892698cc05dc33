#include <gtest/gtest.h>

#include <cstdio>

#include "lab/lab.h"

int main(int argc, char** argv) {
  if (!lab::EnterPrivateNetns()) {
    std::fprintf(stderr, "warning: no private network namespace; tests share this machine's loopback\n");
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
