// Files opened the way a kernel opens them, on the interface the driver
// published, outliving the device they were opened on.
#include "host/layer/userFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"
#include "support/testDevice.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using Calls = std::vector<std::string>;

// A kernel keeps the device while files on it are open: the unplug removes
// it at once and the last close destroys it.
TEST(UserFiles, UnplugWithFilesOpenDestroysTheDeviceAtTheLastClose) {
  // A device that answers its requests only through the IO gate.
  testing_support::TestDeviceClass deviceClass{
      {.ioControl = [](tUserBuffer&, tUserBuffer&, tStatus&) { return 0u; }}};
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  sim::Rm7Module module;
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  std::array<sim::UserFile, 2> files;
  for (sim::UserFile& file : files) ASSERT_EQ(file.open("qvrm7_driver_qvrm7"), 0);
  deviceClass.journal().take();

  sim::UnplugReport const report = sim::unplug(*module.device());
  EXPECT_TRUE(report.wasBound);
  EXPECT_EQ(report.filesOpen, 2u);
  Calls const calls = deviceClass.journal().take();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "destroyed"), 0);
  EXPECT_EQ(calls.back(), "markNotPresent");

  sim::UserFile late;
  EXPECT_EQ(late.open("qvrm7_driver_qvrm7"), -51256);
  uint32_t word = 7;
  // The driver's refusal of a device that is not started, as the layer gets it.
  EXPECT_EQ(files[0].ioctl(1, &word, sizeof word, &word, sizeof word), -51001);
  files[0].close();
  EXPECT_EQ(deviceClass.journal().take(), (Calls{"deviceIOControl", "destroySession"}));
  files[1].close();
  EXPECT_EQ(deviceClass.journal().take(), (Calls{"destroySession", "destroyed"}));
  driver.unload();
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
