// A simulated RM7 module on the bus with its BAR 0 mapped as the kernel maps
// it, for tests that drive register maps over the module's blocks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "host/layer/control.h"
#include "host/layer/rm7Module.h"

namespace testing_support {

class MappedModule {
 public:
  MappedModule() {
    sim::reset();
    EXPECT_EQ(sim::plugIn(module_.device()), 0);
    bar0_ = nQVZOR230_mapPhysicalToKernel(module_.bar0().physicalAddress(),
                                          sim::Rm7Module::kBar0Size, 0);
    EXPECT_NE(bar0_, 0u);
  }
  ~MappedModule() {
    nQVZOR230_unmapPhysicalFromKernel(bar0_, 0);
    sim::unplug(*module_.device());
    sim::reset();
  }

  sim::Rm7Module& module() { return module_; }
  sim::Rm7Fpga& fpga() { return module_.fpga(); }
  uint64_t bar0() const { return bar0_; }  // the kernel address of BAR 0

 private:
  sim::Rm7Module module_;
  uint64_t bar0_ = 0;
};

}  // namespace testing_support
