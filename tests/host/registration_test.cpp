// The stand-in's bookkeeping of device interfaces, properties, add events and
// deferred calls, which the add- and remove-device tests rely on.
#include "host/layer/registration.h"

#include <gtest/gtest.h>

#include <cstring>

#include "host/layer/control.h"

namespace {

auto* const kRecord = reinterpret_cast<nQVZOR200_tDriverRecord*>(uintptr_t{0xD000});

class LayerRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::clearRegistrations();
  }
};

TEST_F(LayerRegistration, InterfacesAreRecordedWithEverythingTheDriverPassed) {
  int objects[2];
  uint64_t const first =
      nQVZOR240_registerDeviceInterface(kRecord, 0x77, "qvrm7_a", 0, &objects[0]);
  uint64_t const second =
      nQVZOR240_registerDeviceInterface(kRecord, 0x77, "qvrm7_b", 1, &objects[1]);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);

  auto const registered = sim::interfaceRegistrations();
  ASSERT_EQ(registered.size(), 2u);
  EXPECT_EQ(registered[1].handle, second);
  EXPECT_EQ(registered[1].driver, kRecord);
  EXPECT_EQ(registered[1].parent, 0x77u);
  EXPECT_EQ(registered[1].name, "qvrm7_b");
  EXPECT_EQ(registered[1].index, 1u);
  EXPECT_EQ(registered[1].object, &objects[1]);

  nQVZOR240_notifyUserspaceAddEvent(second);
  nQVZOR240_notifyUserspaceAddEvent(first);
  EXPECT_EQ(sim::userspaceAddEvents(), (std::vector<uint64_t>{second, first}));

  nQVZOR200_unregisterDeviceInterface(second);
  EXPECT_EQ(sim::liveInterfaces(), std::vector<uint64_t>{first});
  nQVZOR200_unregisterDeviceInterface(first);
  EXPECT_TRUE(sim::liveInterfaces().empty());
  EXPECT_EQ(sim::interfaceUnregistrations(), (std::vector<uint64_t>{second, first}));
  EXPECT_FALSE(sim::interfaceRegistrations()[0].live);
}

TEST_F(LayerRegistration, PropertiesKeepTheValueBytesTheyWereRegisteredWith) {
  uint32_t number = 0x11223344;
  char text[] = "slot";
  uint64_t const numberHandle = nQVZOR200_registerProperty(1, 0x77, "pciBus", &number, 4);
  uint64_t const textHandle = nQVZOR200_registerProperty(2, 0x1000, "pciSlotPath", text, 5);
  uint64_t const nullHandle = nQVZOR200_registerProperty(0, 0x77, "modelName", nullptr, 1);
  number = 0;
  std::strcpy(text, "XXXX");

  auto const registered = sim::propertyRegistrations();
  ASSERT_EQ(registered.size(), 3u);
  EXPECT_EQ(registered[0].handle, numberHandle);
  EXPECT_EQ(registered[0].scope, 1u);
  EXPECT_EQ(registered[0].name, "pciBus");
  EXPECT_EQ(registered[0].value, (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(registered[1].parent, 0x1000u);
  EXPECT_EQ(registered[1].value, (std::vector<uint8_t>{'s', 'l', 'o', 't', 0}));
  EXPECT_TRUE(registered[2].nullValue);
  EXPECT_TRUE(registered[2].value.empty());

  nQVZOR200_unregisterProperty(textHandle);
  EXPECT_EQ(sim::liveProperties(), (std::vector<uint64_t>{numberHandle, nullHandle}));
  EXPECT_EQ(sim::propertyUnregistrations(), std::vector<uint64_t>{textHandle});
}

TEST_F(LayerRegistration, TheNthRegistrationIsRefusedAndLeavesNoTrace) {
  sim::failNthCall("nQVZOR200_registerProperty", 3);
  uint32_t value = 1;
  std::vector<uint64_t> handles;
  for (int i = 0; i < 4; ++i) handles.push_back(nQVZOR200_registerProperty(0, 0, "p", &value, 4));
  EXPECT_NE(handles[1], 0u);
  EXPECT_EQ(handles[2], 0u);
  EXPECT_NE(handles[3], 0u);
  EXPECT_EQ(sim::liveProperties(), (std::vector<uint64_t>{handles[0], handles[1], handles[3]}));

  sim::failNthCall("nQVZOR240_registerDeviceInterface", 1);
  EXPECT_EQ(nQVZOR240_registerDeviceInterface(kRecord, 0, "i", 0, nullptr), 0u);
  EXPECT_TRUE(sim::interfaceRegistrations().empty());
}

TEST_F(LayerRegistration, UnregisteringWhatIsNotRegisteredDies) {
  uint64_t const interface = nQVZOR240_registerDeviceInterface(kRecord, 0, "i", 0, nullptr);
  uint32_t value = 0;
  uint64_t const property = nQVZOR200_registerProperty(0, 0, "p", &value, 4);
  nQVZOR200_unregisterDeviceInterface(interface);
  nQVZOR200_unregisterProperty(property);

  EXPECT_DEATH(nQVZOR200_unregisterDeviceInterface(interface), "already unregistered");
  EXPECT_DEATH(nQVZOR200_unregisterProperty(property), "already unregistered");
  EXPECT_DEATH(nQVZOR200_unregisterDeviceInterface(0), "unknown handle");
  EXPECT_DEATH(nQVZOR200_unregisterProperty(0x9999999), "unknown handle");
  // The two kinds never share a handle, so a mix-up is caught too.
  uint64_t const other = nQVZOR200_registerProperty(0, 0, "q", &value, 4);
  EXPECT_DEATH(nQVZOR200_unregisterDeviceInterface(other), "unknown handle");
  EXPECT_DEATH(nQVZOR240_notifyUserspaceAddEvent(interface), "not registered");
}

TEST_F(LayerRegistration, DeferredCallsAreRecordedNotRun) {
  int record = 0;
  nQVZOR100_scheduleDPC(0x42, &record);
  auto const calls = sim::scheduledDeferredCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].handle, 0x42u);
  EXPECT_EQ(calls[0].record, &record);
}

}  // namespace
