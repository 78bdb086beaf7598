// Self-tests of the stand-in layer where the driver's own tests do not reach
// it: user copies, mappings, and the misuse checks that the driver's tests
// rely on to stop a driver bug (a second unregistration, a stray free or
// unmap, sleeping under a spin lock) where it happens.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/pci.h"
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

// A copy that runs one byte past a range copies nothing, even into the next.
TEST_F(LayerDeathTest, CopiesStayInsideOneRangeAndStrayFreesAndMapsDie) {
  std::array<uint8_t, 32> user{};
  std::array<uint8_t, 32> kernel{};
  kernel.fill(7);
  sim::UserRange range(user.data(), 16);
  sim::UserRange next(user.data() + 16, 16);
  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data() + 4, kernel.data(), 13), -51009);
  EXPECT_EQ(user, (std::array<uint8_t, 32>{}));
  EXPECT_EQ(nQVZOR100_malloc(UINT64_MAX - 14), nullptr);  // no block that cannot exist

  uint64_t const map = sim::createUserMap(0x3000, 2, 0x7F0000004000);
  sim::destroyUserMap(map);
  EXPECT_DEATH(nQVZOR220_tUserMemMap_mapPageList(map, 1, 0, 1), "no such user map");
  EXPECT_DEATH(nQVZOR100_free(user.data()), "not a live block");
}

// Call memory is user memory to the thread whose call it is, while the
// call lasts: a copy from any other thread, past its end, or with its kernel
// side inside it copies nothing.
TEST_F(Layer, CallMemoryIsUserMemoryOnlyToItsThreadWhileTheCallLasts) {
  std::array<uint8_t, 32> user{};
  std::array<uint8_t, 32> kernel{};
  kernel.fill(7);
  auto out = [&](size_t offset, uint32_t count) {
    return nQVZOR100_replicateOutboundIOControlBuffer(user.data() + offset, kernel.data(), count);
  };
  auto fromOtherThread = [&] {
    int32_t result = 0;
    std::thread([&] { result = out(0, 4); }).join();
    return result;
  };
  {
    sim::CallMemory outer(user.data(), 16);
    {
      sim::CallMemory inner(user.data() + 16, 8);
      struct Case {
        char const* what;
        int32_t result;
        int32_t expected;
      } const cases[] = {
          {"inside the outer range", out(4, 12), 0},
          {"inside the inner range", out(16, 8), 0},
          {"across both", out(12, 8), -51009},
          {"past the inner range", out(20, 5), -51009},
          {"kernel side in call memory",
           nQVZOR100_replicateInboundIOControlBuffer(user.data() + 20, user.data(), 4), -51009},
          {"another thread", fromOtherThread(), -51009},
      };
      for (Case const& c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
    }
    EXPECT_EQ(out(16, 4), -51009) << "the inner call ended";
    EXPECT_EQ(out(0, 4), 0) << "the outer call goes on";
  }
  EXPECT_EQ(out(0, 4), -51009);
  EXPECT_EQ(user[4], 7);
  EXPECT_EQ(user[24], 0);
}

TEST_F(LayerDeathTest, UnregisteringWhatIsNotRegisteredDies) {
  auto* const record = reinterpret_cast<nQVZOR200_tDriverRecord*>(uintptr_t{0xD000});
  uint64_t const interface = nQVZOR240_registerDeviceInterface(record, 0, "i", 0, nullptr);
  uint32_t value = 0;
  uint64_t const property = nQVZOR200_registerProperty(0, 0, "p", &value, 4);
  nQVZOR200_unregisterDeviceInterface(interface);
  nQVZOR200_unregisterProperty(property);
  EXPECT_DEATH(nQVZOR200_unregisterDeviceInterface(interface), "already unregistered");
  EXPECT_DEATH(nQVZOR200_unregisterProperty(property), "already unregistered");
  // The two kinds never share a handle, so a mix-up is caught too.
  uint64_t const other = nQVZOR200_registerProperty(0, 0, "q", &value, 4);
  EXPECT_DEATH(nQVZOR200_unregisterDeviceInterface(other), "unknown handle");
  EXPECT_DEATH(nQVZOR240_notifyUserspaceAddEvent(interface), "not registered");
}

// ---- The bus -------------------------------------------------------------------------

class LayerBus : public Layer {
 protected:
  void SetUp() override {
    Layer::SetUp();
    sim::PciDeviceOptions options;
    options.interrupt = 50;
    options.resources = {{0x4000, kQVZORResourceMemory}};
    device_ = std::make_shared<sim::PciDevice>(options);
    ASSERT_EQ(sim::plugIn(device_), 0);
  }
  void TearDown() override {
    if (plugged_) sim::unplug(*device_);
    Layer::TearDown();
  }
  uint64_t map(uint64_t offset, uint64_t length) {
    return nQVZOR230_mapPhysicalToKernel(bar().physicalAddress() + offset, length, 0);
  }
  sim::Bar& bar() { return device_->bar(0); }
  std::shared_ptr<sim::PciDevice> device_;
  bool plugged_ = true;
};
using LayerBusDeathTest = LayerBus;

TEST_F(LayerBus, OnlyRangesInsideDeviceMemoryOnTheBusAreMapped) {
  EXPECT_EQ(map(0, 0), 0u);
  EXPECT_EQ(map(0x3000, 0x1001), 0u);  // crosses the end
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(bar().physicalAddress() - 0x1000, 0x2000, 0), 0u);
  EXPECT_EQ(map(0x1000, UINT64_MAX), 0u);
  sim::PciDeviceOptions options;
  options.resources = {{0x1000, kQVZORResourceMemory}};
  sim::PciDevice offTheBus(options);
  EXPECT_EQ(nQVZOR230_mapPhysicalToKernel(offTheBus.bar(0).physicalAddress(), 0x1000, 0), 0u);
  EXPECT_EQ(sim::liveMappings(), 0u);
}

TEST_F(LayerBusDeathTest, AccessOrUnmapOutsideEveryMappingDies) {
  uint64_t const at = map(0, 0x1000);
  ASSERT_NE(at, 0u);
  EXPECT_DEATH(nQVZOR100_memoryRead32(at + 0xFFE), "no live kernel mapping holds");
  EXPECT_DEATH(nQVZOR100_memoryWrite8(at + 0x1000, 1), "no live kernel mapping holds");
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(at + 4, 0), "not a live kernel mapping");
  nQVZOR230_unmapPhysicalFromKernel(at, 0);
  EXPECT_DEATH(nQVZOR230_unmapPhysicalFromKernel(at, 0), "not a live kernel mapping");
  EXPECT_DEATH(nQVZOR100_memoryRead32(at), "no live kernel mapping holds");
}

bool claim(uint32_t, void*) { return true; }

TEST_F(LayerBus, UnplugReportsTheMappingsAndInterruptsLeftBehind) {
  uint64_t const left = map(0, bar().size());
  nQVZOR1400_tInterruptRegistration r{claim, nullptr};
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(50, &r, "qvrm7_driver", 1), 0);
  sim::UnplugReport const report = sim::unplug(*device_);
  plugged_ = false;
  EXPECT_FALSE(report.wasBound);
  EXPECT_EQ(report.mappingsLeft, 1u);
  EXPECT_EQ(report.interruptsLeft, 1u);
  nQVZOR230_unmapPhysicalFromKernel(left, 0);
  nQVZOR100_relinquishInterrupt(50, &r);
}

TEST_F(LayerDeathTest, RelinquishingWhatIsNotHeldOrFromInsideTheInterruptDies) {
  static nQVZOR1400_tInterruptRegistration r{[](uint32_t number, void*) {
                                               nQVZOR100_relinquishInterrupt(number, &r);
                                               return true;
                                             },
                                             nullptr};
  EXPECT_DEATH(nQVZOR100_relinquishInterrupt(12, &r), "does not hold it");
  ASSERT_EQ(nQVZOR1400_reserveInterrupt(12, &r, "x", 1), 0);
  EXPECT_DEATH(nQVZOR100_relinquishInterrupt(8, &r), "does not hold it");
  EXPECT_DEATH(sim::fireInterrupt(12), "from inside an interrupt function");
  nQVZOR100_relinquishInterrupt(12, &r);
}

// ---- Events and locks -------------------------------------------------------------------

struct alignas(8) Event {
  unsigned char bytes[kQVZORSingleUseEventSize];
  Event() { nQVZOR100_initializeSingleUseEvent(bytes); }
};

void holdSpinLockAnd(void (*sleepingCall)()) {
  uint64_t const lock = nQVZOR100_createSpinLock();
  uint64_t const saved = nQVZOR110_acquireSpinLockInterrupt(lock);
  sleepingCall();
  nQVZOR110_releaseSpinLockInterrupt(lock, saved);
}

TEST_F(LayerDeathTest, SleepingUnderASpinLockOrNestingOneLockAborts) {
  EXPECT_DEATH(holdSpinLockAnd([] { nQVZOR250_sleepTimeout(1000); }),
               "nQVZOR250_sleepTimeout: sleeping call while this thread holds a spin lock");
  EXPECT_DEATH(holdSpinLockAnd([] { nQVZOR150_acquireMutex(nQVZOR150_createMutex()); }),
               "nQVZOR150_acquireMutex: sleeping call");
  EXPECT_DEATH(holdSpinLockAnd([] {
                 Event event;
                 nQVZOR100_releaseSingleUseEvent(event.bytes);
                 nQVZOR100_waitForSingleUseEvent(event.bytes);  // even one that would not block
               }),
               "nQVZOR100_waitForSingleUseEvent: sleeping call");
  uint64_t const mutex = nQVZOR150_createMutex();
  EXPECT_DEATH(
      {
        nQVZOR150_acquireMutex(mutex);
        nQVZOR150_acquireMutex(mutex);
      },
      "mutex taken again");
  uint64_t const lock = nQVZOR100_createSpinLock();
  EXPECT_DEATH(
      nQVZOR110_releaseSpinLockInterrupt(lock, nQVZOR110_acquireSpinLockInterrupt(lock) + 1),
      "saved state");
  nQVZOR150_destroyMutex(mutex);
  nQVZOR100_destroySpinLock(lock);
}

}  // namespace

namespace {

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
