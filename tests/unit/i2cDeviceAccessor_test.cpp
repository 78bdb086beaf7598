// The I2C accessor's virtual slots, through which the sensor map reaches it:
// the 8-bit write in slot 2, the 16-bit read in slot 5, and between them two
// slots that halt when called.
#include "storage/i2cDeviceAccessor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "host/layer/control.h"

namespace {

using Accessor = atut::I2CDeviceAccessor;

// The slot of a virtual member function: the member pointer's first word
// holds one more than the slot's byte offset in the virtual table.
template <class Member>
size_t virtualSlot(Member member) {
  static_assert(sizeof(Member) == 2 * sizeof(uintptr_t));
  uintptr_t word = 0;
  std::memcpy(&word, &member, sizeof word);
  return word % 2 == 1 ? (word - 1) / sizeof(void*) : SIZE_MAX;
}

struct CountingDevice final : atut::I2CDevice {
  void read(atut::u8, atut::u8*, atut::u32, atut::tStatus&) override { ++transfers; }
  void write(atut::u8, atut::u8 const*, atut::u32, atut::tStatus&) override { ++transfers; }
  int transfers = 0;
};

TEST(I2CDeviceAccessor, WriteAndReadSitInSlotsTwoAndFiveAndTheSlotsBetweenHalt) {
  sim::reset();
  sim::throwOnHalt();
  CountingDevice device;
  Accessor accessor(device);
  struct Case {
    char const* name;
    size_t slot, want;
    void (Accessor::*halting)();
  };
  for (Case const c :
       {Case{"8-bit write", virtualSlot(&Accessor::writeRegister8), 2, nullptr},
        Case{"slot 3", virtualSlot(&Accessor::unusedSlot3), 3, &Accessor::unusedSlot3},
        Case{"slot 4", virtualSlot(&Accessor::unusedSlot4), 4, &Accessor::unusedSlot4},
        Case{"16-bit read", virtualSlot(&Accessor::readRegister16), 5, nullptr}}) {
    EXPECT_EQ(c.slot, c.want) << c.name;
    if (c.halting == nullptr) continue;
    sim::clearDebugOutput();
    bool halted = false;
    try {
      (accessor.*c.halting)();
    } catch (sim::HaltTrap const& trap) {
      halted = trap.record.text == "ASSERT";
    }
    EXPECT_TRUE(halted) << c.name;
    EXPECT_NE(sim::debugOutput().find("BUG: A call to a pure virtual function was made!"),
              std::string::npos)
        << c.name;
  }
  EXPECT_EQ(device.transfers, 0);
  sim::reset();
}

}  // namespace
