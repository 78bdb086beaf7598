// Register requests from several files that keep coming while their module
// is removed: each gets an answer, done or refused at the gate, the removal
// ends, and once the files close nothing is left. Runs against the real
// object and, for ThreadSanitizer, the hosted build.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/registerClient.h"
#include "support/switchDeviceScenario.h"

namespace testing_support {

inline void removeDuringRegisterRequests() {
  constexpr int kFiles = 4;
  constexpr int kRefused = -52022;
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  auto const loaded = layerHoldings();
  sim::Rm7Module module;
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  sim::UserFile files[kFiles];
  for (sim::UserFile& file : files) ASSERT_EQ(file.open("qvrm7_driver_qvrm7"), 0);

  std::atomic<bool> removed{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> requesters;
  for (int i = 0; i < kFiles; ++i) {
    requesters.emplace_back([&, i] {
      sim::RegisterClient client(files[i]);
      std::vector<std::pair<uint8_t, uint64_t>> fields;
      // Until a request after the removal was refused.
      for (uint32_t n = 0;; ++n) {
        bool const after = removed.load();
        sim::RegisterReply const reply =
            i % 2 == 0 ? client.write("RM7BaseRegMap_Ver22.8.0f141", 0x8000000C, n, true)
                       : client.format("IsolationPortRegMap_Ver22.8.0f108", 0x80000004, fields);
        EXPECT_EQ(reply.ioctl, 0);
        EXPECT_TRUE(reply.status == 0 || reply.status == kRefused) << reply.status;
        answered.fetch_add(1);
        if (after && reply.status == kRefused) return;
        EXPECT_FALSE(after) << "a request after the removal was let in";
      }
    });
  }
  while (answered.load() < 100) std::this_thread::yield();
  joinWithin(std::chrono::seconds(30), "the removal or a request never ended", [&] {
    sim::unplug(*module.device());
    removed.store(true);
    for (std::thread& t : requesters) t.join();
  });
  for (sim::UserFile& file : files) file.close();
  EXPECT_EQ(layerHoldings(), loaded);
}

}  // namespace testing_support
