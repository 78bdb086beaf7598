// Requests held inside the switch device while its setup goes away, and the
// removal of a module while one of its requests is inside and other files are
// open, as the layer does on a surprise removal. The removal runs against the
// real object and, for ThreadSanitizer, against the hosted build.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/rm7Module.h"
#include "host/layer/syncControl.h"
#include "host/layer/userFile.h"

namespace testing_support {

// -52022 (the IO gate refusing) has no code of its own at the layer.
inline constexpr int32_t kLayerGateRefused = -51001;

// A request on a thread of its own that stops at its first take of a kernel
// mutex, the device mutex once the IO gate has let it in, until told to go.
class HeldRequest {
 public:
  explicit HeldRequest(std::function<void()> request) {
    sim::setImportHook([this, proceeding = proceed_.get_future().share()](char const* import) {
      if (std::this_thread::get_id() != holder_.load() ||
          std::strcmp(import, "nQVZOR150_acquireMutex") != 0)
        return;
      holder_ = std::thread::id{};
      inside_.set_value();
      proceeding.wait();
    });
    thread_ = std::thread([this, request = std::move(request)] {
      holder_ = std::this_thread::get_id();
      request();
    });
    inside_.get_future().wait();
  }
  ~HeldRequest() { sim::setImportHook({}); }

  void proceed() { proceed_.set_value(); }
  std::thread& thread() { return thread_; }

 private:
  std::atomic<std::thread::id> holder_{};
  std::promise<void> inside_;
  std::promise<void> proceed_;
  std::thread thread_;
};

// Joins both; a request and a removal or suspension that wait for each
// other never end, and then the test cannot either.
inline void joinOrDeadlock(std::thread& first, std::thread& second) {
  auto joined = std::async(std::launch::async, [&] {
    first.join();
    second.join();
  });
  if (joined.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    ADD_FAILURE() << "deadlocked";
    std::_Exit(1);
  }
}

inline void removeWhileARequestIsInFlight() {
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  uint64_t const allocations = sim::liveAllocations();
  uint64_t const mutexes = sim::liveMutexes();
  uint64_t const spinLocks = sim::liveSpinLocks();

  sim::Rm7Module module;
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  std::array<sim::UserFile, 3> files;
  for (sim::UserFile& file : files) ASSERT_EQ(file.open("qvrm7_driver_qvrm7"), 0);

  int32_t heldResult = 1;
  {
    HeldRequest held([&] { heldResult = files[0].transferA(nullptr, 0); });
    void* const device = module.device()->driverContext();
    std::thread remover([&] { driver.record().removeDevice(device); });
    ASSERT_TRUE(sim::waitUntilBlocked(1)) << "the removal waits for the request inside";
    EXPECT_EQ(files[1].transferB(nullptr, 0), kLayerGateRefused) << "no request enters any more";
    held.proceed();
    joinOrDeadlock(held.thread(), remover);
  }
  EXPECT_EQ(heldResult, 0) << "the request inside finishes normally";
  EXPECT_EQ(files[2].transferA(nullptr, 0), kLayerGateRefused);
  EXPECT_EQ(sim::liveMappings(*module.device()), 0u);

  for (sim::UserFile& file : files) file.close();
  sim::UnplugReport const report = sim::unplug(*module.device());
  EXPECT_TRUE(report.wasBound);
  EXPECT_TRUE(sim::liveInterfaces().empty());
  EXPECT_TRUE(sim::liveProperties().empty());
  EXPECT_EQ(sim::liveAllocations(), allocations);
  EXPECT_EQ(sim::liveMutexes(), mutexes);
  EXPECT_EQ(sim::liveSpinLocks(), spinLocks);
  driver.unload();
}

}  // namespace testing_support
