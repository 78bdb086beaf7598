// The real driver object, loaded and unloaded by the stand-in layer exactly
// as a kernel would: only through its entry and the callbacks it registers.
#include <gtest/gtest.h>

#include <algorithm>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"

namespace {

// Every callback is driven by the unit tests through the same record. Every
// static object registered its destructor on a node of its own; the next
// load builds them all again.
TEST(DriverEntry, FillsOnlyItsOwnFieldsAndUnloadDestroysWhatAReloadBuildsAfresh) {
  uint64_t firstLoadBlocks = 0;
  {
    sim::LoadedDriver driver(nQVWEND200_driverEntry);
    ASSERT_EQ(driver.load(), 0);
    auto const* bytes = reinterpret_cast<uint8_t const*>(&driver.record());
    EXPECT_EQ(std::count(bytes, bytes + 0x18, sim::kLayerRecordPattern) +
                  std::count(bytes + 0x20, bytes + 0x28, sim::kLayerRecordPattern),
              0x20)
        << "a byte the layer owns was written";
    EXPECT_STREQ(driver.record().driverName, "qvrm7_driver");
    EXPECT_EQ(sim::registeredDriver(), &driver.record());
    firstLoadBlocks = sim::totalAllocations();
    EXPECT_GT(sim::liveAllocations(), 0u);
    driver.unload();
    EXPECT_EQ(sim::registeredDriver(), nullptr);
    EXPECT_EQ(sim::driverUnregistrations(), 1u);
    EXPECT_EQ(sim::liveAllocations(), 0u);
  }
  sim::LoadedDriver driver(nQVWEND200_driverEntry);
  ASSERT_EQ(driver.load(), 0);
  EXPECT_EQ(sim::totalAllocations(), 2 * firstLoadBlocks);
}

// A refused registration stops the runtime again (the next load builds the
// statics anew); a missing at-exit node only loses that destructor.
TEST(DriverEntry, RefusedRegistrationOrMissingMemoryLeavesNothingBehind) {
  sim::failEveryCall("nQVZOR200_registerDriver");
  sim::setFailureCode("nQVZOR200_registerDriver", -51256);
  {
    sim::LoadedDriver driver(nQVWEND200_driverEntry);
    EXPECT_EQ(driver.load(), -51256);
    EXPECT_EQ(sim::registeredDriver(), nullptr);
    EXPECT_EQ(sim::liveAllocations(), 0u);
  }
  sim::clearFaults();
  sim::failEveryCall("nQVZOR100_malloc");
  sim::LoadedDriver driver(nQVWEND200_driverEntry);
  EXPECT_EQ(driver.load(), 0);
  sim::clearFaults();
  driver.unload();
  EXPECT_EQ(sim::liveAllocations(), 0u);
  uint64_t const before = sim::totalAllocations();
  ASSERT_EQ(driver.load(), 0);
  EXPECT_GT(sim::totalAllocations(), before);
}

}  // namespace
