// A PCI device built over a function on the simulated bus as the add-device
// callback would build it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "platform/deviceFactory.h"
#include "platform/memory.h"
#include "platform/pciDevice.h"
#include "support/expectSite.h"

namespace pcitest {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using testing_support::expectSite;

using TestPCIDevice = tPCIDevice;

inline tPCIDescription describe(sim::PciDevice const& function) {
  tPCIDescription description;
  fillPCIDescription(description, function.record(), function.kernelParent());
  return description;
}

// Plugs the function in for its lifetime and owns the device built over it.
class Bench {
 public:
  explicit Bench(std::shared_ptr<sim::PciDevice> function) : function_(std::move(function)) {
    EXPECT_EQ(sim::plugIn(function_), 0);
  }
  ~Bench() {
    remove();
    sim::unplug(*function_);
  }
  Bench(Bench const&) = delete;
  Bench& operator=(Bench const&) = delete;

  // Constructs the device and runs initializeDevice, as the factory does.
  TestPCIDevice& make() {
    tStatus status;
    description_ = describe(*function_);
    device_ = createObject<TestPCIDevice>(status, description_, status);
    if (device_ != nullptr) device_->initializeDevice(tEventDescriptor{nullptr}, status);
    EXPECT_EQ(status.code, 0);
    return *device_;
  }
  void remove() {
    destroyObject(device_);
    device_ = nullptr;
  }
  sim::PciDevice& function() { return *function_; }

 private:
  std::shared_ptr<sim::PciDevice> function_;
  tPCIDescription description_{};
  TestPCIDevice* device_ = nullptr;
};

}  // namespace pcitest
