// The real driver object, loaded and unloaded by the stand-in layer exactly
// as a kernel would: only through its entry and the callbacks it registers.
#include <gtest/gtest.h>

#include <cstring>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"

namespace {

bool layerOwnedBytesUntouched(nQVZOR200_tDriverRecord const& record) {
  auto const* bytes = reinterpret_cast<uint8_t const*>(&record);
  for (size_t i = 0; i < 0x18; ++i)
    if (bytes[i] != sim::kLayerRecordPattern) return false;
  for (size_t i = 0x20; i < 0x28; ++i)
    if (bytes[i] != sim::kLayerRecordPattern) return false;
  return true;
}

// Every callback is driven by the unit tests through the same record. Every
// static object registered its destructor on a node of its own; the next
// load builds them all again.
TEST(DriverEntry, FillsOnlyItsOwnFieldsAndUnloadDestroysWhatAReloadBuildsAfresh) {
  uint64_t firstLoadBlocks = 0;
  {
    sim::LoadedDriver driver(nQVWEND200_driverEntry);
    ASSERT_EQ(driver.load(), 0);
    EXPECT_TRUE(layerOwnedBytesUntouched(driver.record()));
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
