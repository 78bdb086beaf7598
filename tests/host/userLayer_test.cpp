// The stand-in's user memory, where the driver's own tests do not reach it:
// a copy that runs one byte past a range copies nothing, and a stray user
// map handle is a driver bug.
#include <gtest/gtest.h>

#include <array>

#include "host/layer/control.h"
#include "host/layer/user.h"
#include "platform/kernelServices.h"

namespace {

TEST(LayerUserMemory, CopiesStayInsideOneRangeAndStrayMapsDie) {
  sim::reset();
  std::array<uint8_t, 32> user{};
  std::array<uint8_t, 32> kernel{};
  kernel.fill(7);
  sim::UserRange range(user.data(), 16);
  sim::UserRange next(user.data() + 16, 16);
  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data() + 4, kernel.data(), 13), -51009);
  EXPECT_EQ(user, (std::array<uint8_t, 32>{}));

  uint64_t const map = sim::createUserMap(0x3000, 2, 0x7F0000004000);
  sim::destroyUserMap(map);
  EXPECT_DEATH(nQVZOR220_tUserMemMap_mapPageList(map, 1, 0, 1), "no such user map");
}

}  // namespace
