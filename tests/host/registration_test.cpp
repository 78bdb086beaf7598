// The stand-in dies on any unregistration of what is not registered: the
// add- and remove-device tests rely on it to see nothing unregistered twice.
#include "host/layer/registration.h"

#include <gtest/gtest.h>

#include "host/layer/control.h"

namespace {

TEST(LayerRegistration, UnregisteringWhatIsNotRegisteredDies) {
  sim::reset();
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

}  // namespace
