// The driver's callbacks as the layer calls them, with the test device as
// the driver's device class.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <tuple>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/rm7Module.h"
#include "host/layer/user.h"
#include "platform/driverEntry.h"
#include "platform/ioctlHeader.h"
#include "support/testDevice.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using testing_support::DeviceScript;
using testing_support::TestDevice;
using testing_support::TestDeviceClass;
using Calls = std::vector<std::string>;

constexpr int32_t kLayerNoMatch = -51150;
constexpr int32_t kLayerNotSupported = -51256;
constexpr int32_t kLayerMemoryFull = -51352;
constexpr int32_t kLayerBadArgument = -51009;
constexpr int32_t kLayerScripted = -51101;

sim::PciDeviceOptions moduleOptions(uint16_t subsystemID = 0x6BB4) {
  sim::PciDeviceOptions options;
  options.vendorID = sim::kRm7VendorID;
  options.deviceID = sim::kRm7DeviceID;
  options.subsystemVendorID = sim::kRm7SubsystemVendorID;
  options.subsystemID = subsystemID;
  options.resources = {{0x1000, kQVZORResourceMemory}};
  return options;
}

class Callbacks : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    baseline = sim::liveAllocations();
  }
  void TearDown() override {
    driver.unload();
    sim::reset();
  }
  void expectNothingLeft() {
    EXPECT_TRUE(sim::liveInterfaces().empty());
    EXPECT_TRUE(sim::liveProperties().empty());
    EXPECT_EQ(sim::liveAllocations(), baseline);
  }
  nQVZOR200_tDriverRecord& record() { return driver.record(); }
  // Outlives the driver's unload, which removes every device still bound.
  TestDeviceClass& useDeviceClass(DeviceScript script = {}) { return deviceClass_.emplace(script); }

  std::optional<TestDeviceClass> deviceClass_;
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  uint64_t baseline = 0;
};

// Every listed model is found by the system tests; one field off the list
// takes no device, and the layer's context slot comes back empty.
TEST_F(Callbacks, UnlistedIdentityGetsNoDeviceAndAnEmptyContext) {
  TestDeviceClass& deviceClass = useDeviceClass();
  for (int field = 0; field < 4; ++field) {
    sim::PciDeviceOptions options = moduleOptions(field == 0 ? 0x6BBB : 0x6BB4);
    if (field == 1) options.vendorID = 0xE4A3;
    if (field == 2) options.deviceID = 0xB6B7;
    if (field == 3) options.subsystemVendorID = 0x10B5;
    auto pci = std::make_shared<sim::PciDevice>(options);
    EXPECT_EQ(sim::plugIn(pci), kLayerNoMatch);
    // Once more by hand, to see the context slot the layer gets back.
    void* context = reinterpret_cast<void*>(pci->kernelParent());
    EXPECT_EQ(
        record().addDevice(const_cast<nQVZOR200_tPCIDeviceRecord*>(&pci->record()), 0, &context),
        kLayerNoMatch);
    EXPECT_EQ(context, nullptr);
  }
  EXPECT_EQ(deviceClass.journal().devicesCreated, 0u);
  expectNothingLeft();
}

// The layer gets the handle from the record's second word and the record
// itself, whatever the device keeps in the other words.
TEST_F(Callbacks, DeferredCallHandsTheLayerTheRecordsSecondWordAndTheRecord) {
  uint64_t first[] = {0, 0x5A5A0001};
  uint64_t second[] = {~uint64_t{0}, 0xFFFFFFFF00000002, 0x1234};
  scheduleDeferredCall(first);
  scheduleDeferredCall(second);
  std::vector<sim::DeferredCall> const calls = sim::scheduledDeferredCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(std::tuple(calls[0].handle, calls[0].record),
            std::tuple(first[1], static_cast<void*>(first)));
  EXPECT_EQ(std::tuple(calls[1].handle, calls[1].record),
            std::tuple(second[1], static_cast<void*>(second)));
}

// Interfaces, then properties by scope; remove withdraws the properties in
// reverse scope order before the device stops, the interfaces after it.
TEST_F(Callbacks, AddPublishesInScopeOrderAndRemoveWithdrawsInReverse) {
  testing_support::DeviceJournal& journal = useDeviceClass({.interfaceCount = 2}).journal();
  auto pci = std::make_shared<sim::PciDevice>(moduleOptions());
  ASSERT_EQ(sim::plugIn(pci), 0);
  auto* device = static_cast<TestDevice*>(pci->driverContext());
  EXPECT_EQ(device->pnpState(), kPnPStateReady);
  EXPECT_EQ(journal.take(), (Calls{"initializeDevice", "startDevice", "fillPCIProperties"}));
  // The rest of the description is covered where it is built.
  EXPECT_EQ(journal.description.kernelDevice, pci->record().deviceHandle);

  uint64_t const parent = pci->kernelParent();
  auto const interfaces = sim::interfaceRegistrations();
  ASSERT_EQ(interfaces.size(), 2u);
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(std::tuple(interfaces[i].index, interfaces[i].parent, interfaces[i].driver,
                         interfaces[i].object, interfaces[i].handle),
              std::tuple(i, parent, &record(), &device->deviceInterface(i),
                         device->deviceInterface(i).kernelHandle()));
  }
  std::vector<uint64_t> const handles{interfaces[0].handle, interfaces[1].handle};
  EXPECT_EQ(sim::userspaceAddEvents(), handles);
  std::vector<uint32_t> scopes;
  std::vector<uint64_t> parents, registered;
  for (auto const& property : sim::propertyRegistrations()) {
    scopes.push_back(property.scope);
    parents.push_back(property.parent);
    registered.push_back(property.handle);
  }
  EXPECT_EQ(scopes, (std::vector<uint32_t>{1, 1, 0, 0, 2, 2}));
  EXPECT_EQ(parents,
            (std::vector<uint64_t>{parent, parent, parent, parent, handles[0], handles[1]}));

  record().removeDevice(pci->driverContext());
  record().removeDevice(pci->driverContext());  // already not present: nothing
  EXPECT_EQ(journal.take(), (Calls{"suspendIO", "stopDevice", "markNotPresent"}));
  EXPECT_EQ(std::tuple(journal.propertiesGoneAtSuspend, journal.interfacesGoneAtSuspend),
            std::tuple(6u, 0u));
  auto const& r = registered;
  EXPECT_EQ(sim::propertyUnregistrations(),
            (std::vector<uint64_t>{r[4], r[5], r[2], r[3], r[0], r[1]}));
  EXPECT_EQ(sim::interfaceUnregistrations(), (std::vector<uint64_t>{handles[1], handles[0]}));
  sim::unplug(*pci);  // remove once more, then destroy
  EXPECT_EQ(journal.take(), Calls{"destroyed"});
  expectNothingLeft();
}

// The layer dies on a second unregistration of a handle, so getting through
// means nothing was unregistered twice.
TEST_F(Callbacks, AFailedAddLeavesNothingRegisteredOrAllocated) {
  char const kInterface[] = "nQVZOR240_registerDeviceInterface";
  char const kProperty[] = "nQVZOR200_registerProperty";
  DeviceScript const two{.interfaceCount = 2};
  struct {
    char const* name;
    DeviceScript script;
    char const* import;  // refused at its nth call
    uint64_t nth;
    int32_t result;
  } const failures[] = {
      {"initialize fails", {.failInitialize = true}, nullptr, 0, kLayerScripted},
      {"start fails", {.failStart = true}, nullptr, 0, kLayerScripted},
      {"second interface refused", two, kInterface, 2, kLayerMemoryFull},
      {"attribute refused", {}, kProperty, 4, kLayerNoMatch},
      {"interface property refused", two, kProperty, 6, kLayerNoMatch},
  };
  for (auto const& failure : failures) {
    SCOPED_TRACE(failure.name);
    TestDeviceClass& deviceClass = useDeviceClass(failure.script);
    if (failure.import != nullptr) sim::failNthCall(failure.import, failure.nth);
    auto pci = std::make_shared<sim::PciDevice>(moduleOptions());
    EXPECT_EQ(sim::plugIn(pci), failure.result);
    sim::clearFaults();
    EXPECT_FALSE(pci->bound());
    EXPECT_TRUE(sim::userspaceAddEvents().empty());
    Calls const calls = deviceClass.journal().take();
    EXPECT_TRUE(calls.empty() || calls.back() == "destroyed");
    expectNothingLeft();
  }
}

// ---- Sessions and requests ----------------------------------------------------------

uintptr_t address(void const* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

class Published : public Callbacks {
 protected:
  void SetUp() override {
    Callbacks::SetUp();
    useDeviceClass();
    ASSERT_EQ(sim::plugIn(pci), 0);
    device = static_cast<TestDevice*>(pci->driverContext());
    file = &device->deviceInterface(0);
    ASSERT_EQ(record().open(nullptr, &file), 0);
    ASSERT_NE(file, &device->deviceInterface(0));
    journal().take();
  }
  void TearDown() override {
    record().close(file);
    sim::unplug(*pci);
    Callbacks::TearDown();
  }
  testing_support::DeviceJournal& journal() { return deviceClass_->journal(); }
  DeviceScript& script() { return deviceClass_->script(); }

  int32_t ioctl() {
    sim::UserRange range(&header, sizeof header);
    return record().ioctl(file, 0x4711, address(&header));
  }

  std::shared_ptr<sim::PciDevice> pci = std::make_shared<sim::PciDevice>(moduleOptions());
  TestDevice* device = nullptr;
  void* file = nullptr;
  std::array<uint8_t, 16> input{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::array<uint8_t, 16> output{};
  sim::UserRange inputRange{input.data(), input.size()};
  sim::UserRange outputRange{output.data(), output.size()};
  // The count word starts as a pattern the driver must overwrite or leave alone.
  tIOControlHeader header{
      address(input.data()), address(output.data()), 16, 16, 0xAAAAAAAA, 0x55555555};
};

// Close and the count's way down are covered with the gate's threads.
TEST_F(Published, RefusedOpenLeavesTheContextTheCountAndNoSession) {
  struct {
    bool failOpen;
    bool returnFailedSession;  // with the session's lock refused
    int32_t result;
    Calls calls;
  } const refusals[] = {
      {true, false, kLayerScripted, {"openSession"}},
      {false, false, kLayerMemoryFull, {"openSession"}},
      {false, true, kLayerMemoryFull, {"openSession", "destroySession"}},
  };
  uint64_t const allocated = sim::liveAllocations();
  for (auto const& refusal : refusals) {
    script().failOpen = refusal.failOpen;
    script().returnFailedSession = refusal.returnFailedSession;
    if (!refusal.failOpen) sim::failNthCall("nQVZOR100_createSpinLock", 1);
    void* refused = &device->deviceInterface(0);
    EXPECT_EQ(record().open(nullptr, &refused), refusal.result);
    EXPECT_EQ(refused, &device->deviceInterface(0));
    EXPECT_EQ(device->openSessionCount(), 1u);
    EXPECT_EQ(journal().take(), refusal.calls);
    EXPECT_EQ(sim::liveAllocations(), allocated);
    sim::clearFaults();
  }
}

TEST_F(Published, TransfersStoreTheCountWhateverTheStatus) {
  uint64_t moved = 0;
  EXPECT_EQ(record().transferB(file, 0x1000, 24, 0, &moved), kLayerScripted);
  EXPECT_EQ(moved, 3u);
}

// Only the count goes back, only when there is one, even after a failure;
// a count that cannot be stored fails a request that had succeeded. A
// header outside user space calls nothing; input outside it is refused and
// no output is written.
TEST_F(Published, IoctlStoresOnlyTheCountAndOnlyWhenThereIsOne) {
  EXPECT_EQ(record().ioctl(file, 0x4711, address(&header)), kLayerBadArgument);
  EXPECT_TRUE(journal().take().empty());
  auto const count = [](uint32_t bytes) {
    return [bytes](tUserBuffer&, tUserBuffer&, tStatus&) { return bytes; };
  };
  auto const echo = [](uint32_t bytes, bool failAfter) {
    return [bytes, failAfter](tUserBuffer& in, tUserBuffer& out, tStatus& status) {
      std::array<uint8_t, 16> copied;
      copied.fill(0xEE);
      in.read(0, copied.data(), bytes, status);
      out.write(0, copied.data(), bytes, status);
      if (failAfter) testing_support::fail(status);
      return failAfter ? bytes : 0u;
    };
  };
  uint8_t notUser[16] = {};
  struct Case {
    char const* what;
    testing_support::IoControlScript script;  // empty: the default slot
    char const* refused;                      // an import refused once
    bool inputOutside;
    int32_t result;
    uint32_t count;  // in the header afterwards
    size_t echoed;   // input bytes found in the output
  } const cases[] = {
      {"default slot", {}, nullptr, false, kLayerNotSupported, 0xAAAAAAAA, 0},
      {"no count", count(0), nullptr, false, 0, 0xAAAAAAAA, 0},
      {"count after a failure", echo(12, true), nullptr, false, kLayerScripted, 12, 12},
      {"count not stored", count(4), "nQVZOR100_replicateOutboundIOControlBuffer", false,
       kLayerBadArgument, 0xAAAAAAAA, 0},
      {"input outside user space", echo(16, false), nullptr, true, kLayerBadArgument, 0xAAAAAAAA,
       0},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    script().ioControl = c.script;
    if (c.refused != nullptr) sim::failNthCall(c.refused, 1);
    header.input = address(c.inputOutside ? notUser : input.data());
    output = {};
    tIOControlHeader expected = header;
    expected.bytesReturned = c.count;
    EXPECT_EQ(ioctl(), c.result);
    EXPECT_EQ(std::memcmp(&expected, &header, sizeof header), 0);
    std::array<uint8_t, 16> echoed{};
    std::copy_n(input.begin(), c.echoed, echoed.begin());
    EXPECT_EQ(output, echoed);
    header.bytesReturned = 0xAAAAAAAA;
  }
}

TEST_F(Published, MapKeepsTheMapObjectOnlyWhileTheDeviceMapped) {
  uint64_t const userMap = sim::createUserMap(0x2000, kQVZORUserMapWritable, 0x7000000);
  uint64_t const allocated = sim::liveAllocations();
  uint32_t made = 0;
  uint64_t object = 0;
  ASSERT_EQ(record().mmap(file, 0x10001, userMap, &made, &object), 0);
  EXPECT_EQ(made, 1u);
  auto const* map = reinterpret_cast<tUserMemoryMap*>(object);
  EXPECT_EQ(std::tuple(map->selector(), map->session()), std::tuple(1u, file));
  record().unmap(object);
  EXPECT_EQ(sim::liveAllocations(), allocated);

  made = 0, object = 0;
  script().refuseMap = true;
  EXPECT_EQ(record().mmap(file, 1, userMap, &made, &object), kLayerScripted);
  EXPECT_EQ(made, 0u);
  EXPECT_EQ(object, 0u);
  EXPECT_EQ(sim::liveAllocations(), allocated);

  // Without memory for the map object the caller is told so.
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(record().mmap(file, 1, userMap, &made, &object), kLayerMemoryFull);
  EXPECT_EQ(made, 0u);
  EXPECT_EQ(journal().take(), (Calls{"mapMemory", "unmapMemory", "mapMemory"}));
  sim::destroyUserMap(userMap);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
