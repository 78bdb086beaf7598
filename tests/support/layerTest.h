// A test on the stand-in layer, reset before and after it, that must give
// back every block it took from the layer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "host/layer/control.h"

namespace testing_support {

class LayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    baseline_ = sim::liveAllocations();
  }
  void TearDown() override {
    EXPECT_EQ(sim::liveAllocations(), baseline_) << "a block was left behind";
    sim::reset();
  }
  // Blocks taken since the test began.
  uint64_t live() const { return sim::liveAllocations() - baseline_; }

  uint64_t baseline_ = 0;
};

}  // namespace testing_support
