// Self-tests of the stand-in layer where the driver's own tests cannot see a
// fault of it: the misuse checks that stop a driver bug where it happens, and
// record lists that stay bounded however long a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/registration.h"
#include "host/layer/syncControl.h"
#include "host/layer/user.h"
#include "platform/kernelServices.h"

namespace {

class Layer : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::resetSyncControls();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
  void TearDown() override { SetUp(); }
};
using LayerDeathTest = Layer;

void holdSpinLockAnd(void (*sleepingCall)()) {
  uint64_t const lock = nQVZOR100_createSpinLock();
  uint64_t const saved = nQVZOR110_acquireSpinLockInterrupt(lock);
  sleepingCall();
  nQVZOR110_releaseSpinLockInterrupt(lock, saved);
}

TEST_F(LayerDeathTest, MisusedHandlesBlocksMappingsAndLocksDie) {
  uint8_t user[16] = {};
  uint64_t const interface = nQVZOR240_registerDeviceInterface(nullptr, 0, "i", 0, nullptr);
  nQVZOR200_unregisterDeviceInterface(interface);
  uint64_t const map = sim::createUserMap(0x3000, 2, 0x7F0000004000);
  sim::destroyUserMap(map);
  static nQVZOR1400_tInterruptRegistration registration{[](uint32_t, void*) { return true; },
                                                        nullptr};
  struct {
    char const* message;
    std::function<void()> misuse;
  } const rows[] = {
      {"already unregistered", [&] { nQVZOR200_unregisterDeviceInterface(interface); }},
      {"not a live block", [&] { nQVZOR100_free(user); }},
      {"no such user map", [&] { nQVZOR220_tUserMemMap_mapPageList(map, 1, 0, 1); }},
      {"no live kernel mapping holds", [] { nQVZOR100_memoryRead32(0x7F0000004000); }},
      {"not a live kernel mapping", [] { nQVZOR230_unmapPhysicalFromKernel(0x7F0000004000, 0); }},
      {"does not hold it", [] { nQVZOR100_relinquishInterrupt(12, &registration); }},
      {"sleeping call", [] { holdSpinLockAnd([] { nQVZOR250_sleepTimeout(1000); }); }},
      {"mutex taken again",
       [] {
         uint64_t const mutex = nQVZOR150_createMutex();
         nQVZOR150_acquireMutex(mutex);
         nQVZOR150_acquireMutex(mutex);
       }},
  };
  for (auto const& row : rows) EXPECT_DEATH(row.misuse(), row.message);
}

// A long run keeps the newest records and every live registration, and no
// list outgrows twice the limit.
TEST_F(Layer, RecordListsStayBoundedInALongRun) {
  uint8_t user[8] = {}, kernel[8] = {};
  sim::UserRange range(user, sizeof user);
  uint64_t const kept = nQVZOR240_registerDeviceInterface(nullptr, 1, "kept", 0, nullptr);
  struct List {
    char const* name;
    std::function<void()> add;
    std::function<size_t()> size;
    size_t limit = sim::kRecordLimit;
  } const lists[] = {
      {"user copies",
       [&] { (void)nQVZOR100_replicateInboundIOControlBuffer(kernel, user, sizeof user); },
       [] { return sim::userCopies().size(); }},
      {"interfaces",
       [] {
         nQVZOR200_unregisterDeviceInterface(
             nQVZOR240_registerDeviceInterface(nullptr, 1, "gone", 0, nullptr));
       },
       [] { return sim::interfaceRegistrations().size(); }},
      {"property unregistrations",
       [] { nQVZOR200_unregisterProperty(nQVZOR200_registerProperty(0, 1, "p", nullptr, 0)); },
       [] { return sim::propertyUnregistrations().size(); }},
      // A MiB is 4096 of these lines.
      {"debug output",
       [line = std::string(255, '.') + '\n'] { nQVZOR100_printToDebugger(line.c_str()); },
       [] { return sim::debugOutput().size(); }, sim::kDebugOutputLimit},
  };
  for (List const& list : lists) {
    SCOPED_TRACE(list.name);
    size_t largest = 0;
    for (size_t i = 0; i < 3 * sim::kRecordLimit; ++i) {
      list.add();
      if (i % 256 == 0) largest = std::max(largest, list.size());
    }
    EXPECT_LE(largest, 2 * list.limit);
    EXPECT_GE(list.size(), list.limit);
  }
  EXPECT_EQ(sim::liveInterfaces(), std::vector<uint64_t>{kept});
  EXPECT_EQ(sim::userCopies().back().count, sizeof user);
}

}  // namespace
