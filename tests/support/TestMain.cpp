// Test entry point shared by every suite: SIGPIPE stays at its default so that a send the
// library forgets to protect would kill the test process and show up as a failure.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
