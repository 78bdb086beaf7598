// What the layer holds for the driver, to be compared before and after, and
// the removal of a module while one of its requests is inside the device and
// other files are open, as the layer does on a surprise removal. The removal
// runs against the real object and, for ThreadSanitizer, the hosted build.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>
#include <tuple>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/registration.h"
#include "host/layer/rm7Module.h"
#include "host/layer/syncControl.h"
#include "host/layer/user.h"
#include "host/layer/userFile.h"

namespace testing_support {

// Allocations, mutexes, spin locks, BAR mappings, interrupt reservations,
// interfaces, properties, user maps, and whether a driver is registered.
inline auto layerHoldings() {
  return std::tuple(sim::liveAllocations(), sim::liveMutexes(), sim::liveSpinLocks(),
                    sim::liveMappings(), sim::interruptReservations().size(),
                    sim::liveInterfaces().size(), sim::liveProperties().size(), sim::liveUserMaps(),
                    sim::registeredDriver() != nullptr);
}

// Set on the one thread whose request the scenario holds.
inline thread_local bool tHoldHere = false;

// Runs the joins; when they have not ended in time, fails with what hung and
// ends the process, since the hung threads cannot be joined.
template <class Joins>
void joinWithin(std::chrono::seconds limit, char const* hung, Joins joins) {
  auto joined = std::async(std::launch::async, joins);
  if (joined.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << hung;
    std::_Exit(1);
  }
}

inline void removeWhileARequestIsInside() {
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  auto const loaded = layerHoldings();
  sim::Rm7Module module;
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  sim::UserFile files[2];
  ASSERT_EQ(files[1].open("qvrm7_driver_qvrm7"), 0);

  // An open stops at its first kernel mutex: the device mutex, which it
  // takes once the IO gate has let it in.
  std::promise<void> inside, proceed;
  sim::setImportHook([&, go = proceed.get_future().share()](char const* import) {
    if (!tHoldHere || std::strcmp(import, "nQVZOR150_acquireMutex") != 0) return;
    tHoldHere = false;
    inside.set_value();
    go.wait();
  });
  int32_t heldResult = 1;
  std::thread held([&] {
    tHoldHere = true;
    heldResult = files[0].open("qvrm7_driver_qvrm7");
  });
  inside.get_future().wait();
  sim::UnplugReport removal;
  std::thread remover([&] { removal = sim::unplug(*module.device()); });
  ASSERT_TRUE(sim::waitUntilBlocked(1)) << "the removal waits for the request inside";
  // -52022, the IO gate refusing, has no layer code of its own.
  EXPECT_EQ(files[1].transferB(nullptr, 0), -51001);
  proceed.set_value();
  // Had the removal drained while holding the device mutex, neither thread
  // would ever end.
  joinWithin(std::chrono::seconds(30), "the removal and the request inside deadlocked", [&] {
    held.join();
    remover.join();
  });
  sim::setImportHook({});
  EXPECT_EQ(heldResult, 0) << "the request inside finishes as it began";
  EXPECT_EQ(removal.filesOpen, 2u);
  for (sim::UserFile& file : files) file.close();
  EXPECT_EQ(layerHoldings(), loaded);
}

}  // namespace testing_support
