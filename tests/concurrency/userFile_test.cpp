// Files opened the way a kernel opens them, on the interface the driver
// published, used from threads of their own.
#include "host/layer/userFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"
#include "host/layer/user.h"
#include "support/testDevice.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using testing_support::DeviceScript;
using testing_support::TestDeviceClass;

// Echoes the input into the output and returns how much it wrote.
DeviceScript echoDevice() {
  DeviceScript script;
  script.ioControl = [](tUserBuffer& input, tUserBuffer& output, tStatus& status) -> uint32_t {
    std::array<uint8_t, 64> bytes{};
    uint64_t const count = input.size() < output.size() ? input.size() : output.size();
    input.read(0, bytes.data(), count, status);
    output.write(0, bytes.data(), count, status);
    return status.isFatal() ? 0 : static_cast<uint32_t>(count);
  };
  return script;
}

class UserFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(driver.load(), 0);
    ASSERT_EQ(sim::plugIn(module.device()), 0);
  }
  void TearDown() override {
    if (plugged) sim::unplug(*module.device());
    driver.unload();
    EXPECT_EQ(sim::liveAllocations(), 0u);
  }

  TestDeviceClass deviceClass{echoDevice()};
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  sim::Rm7Module module{sim::Rm7ModuleOptions{.subsystemID = 0x6BB2}};
  bool plugged = true;
};

// Each thread's file answers its own requests; a map goes through the
// session too, and the close destroys it.
TEST_F(UserFiles, FilesOnSeveralThreadsReachTheDeviceThroughTheirOwnSessions) {
  sim::UserFile file;
  EXPECT_EQ(file.open("no_such_interface"), -51256);
  EXPECT_EQ(file.ioctl(1, nullptr, 0, nullptr, 0), -51009);
  std::array<std::thread, 4> callers;
  std::array<bool, 4> answered{};
  for (size_t index = 0; index < callers.size(); ++index) {
    callers[index] = std::thread([&answered, index] {
      sim::UserFile own;
      if (own.open("qvrm7_driver_qvrm7") != 0) return;
      bool right = true;
      for (uint32_t round = 0; round < 50; ++round) {
        uint32_t const sent = static_cast<uint32_t>(index) << 16 | round;
        uint32_t received = 0;
        right &= own.ioctl(1, &sent, sizeof sent, &received, sizeof received) == 0;
        right &= received == sent;
      }
      answered[index] = right;
    });
  }
  for (std::thread& caller : callers) caller.join();
  for (bool right : answered) EXPECT_TRUE(right);

  ASSERT_EQ(file.open("qvrm7_driver_qvrm7"), 0);
  uint64_t const userMap = sim::createUserMap(0x1000, kQVZORUserMapWritable, 0x7000000);
  uint64_t object = 0;
  EXPECT_EQ(file.mmap(userMap, 1, &object), 0);
  file.unmap(object);
  sim::destroyUserMap(userMap);
  deviceClass.journal().take();
  file.close();
  EXPECT_EQ(deviceClass.journal().take(), std::vector<std::string>{"destroySession"});
}

// A kernel keeps the device while files on it are open: the unplug removes
// it at once and the last close destroys it.
TEST_F(UserFiles, UnplugWithFilesOpenDestroysTheDeviceAtTheLastClose) {
  std::array<sim::UserFile, 2> files;
  for (sim::UserFile& file : files) ASSERT_EQ(file.open("qvrm7_driver_qvrm7"), 0);
  deviceClass.journal().take();

  sim::UnplugReport const report = sim::unplug(*module.device());
  plugged = false;
  EXPECT_TRUE(report.wasBound);
  EXPECT_EQ(report.filesOpen, 2u);
  auto calls = deviceClass.journal().take();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "destroyed"), 0);
  EXPECT_EQ(calls.back(), "markNotPresent");

  sim::UserFile late;
  EXPECT_EQ(late.open("qvrm7_driver_qvrm7"), -51256);
  uint32_t word = 7;
  // The driver's refusal of a device that is not started, as the layer gets it.
  EXPECT_EQ(files[0].ioctl(1, &word, sizeof word, &word, sizeof word), -51001);
  files[0].close();
  EXPECT_EQ(deviceClass.journal().take(),
            (std::vector<std::string>{"deviceIOControl", "destroySession"}));
  files[1].close();
  EXPECT_EQ(deviceClass.journal().take(),
            (std::vector<std::string>{"destroySession", "destroyed"}));
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
