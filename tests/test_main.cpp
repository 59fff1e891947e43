#include <gtest/gtest.h>

#include "platform/platform.h"

int main(int argc, char** argv) {
  platform::Initialize();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
