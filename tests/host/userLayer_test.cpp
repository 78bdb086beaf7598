// The stand-in's user memory: a copy reaches only what a test registered as
// user memory, and a stray user map handle is a driver bug.
#include <gtest/gtest.h>

#include <array>

#include "host/layer/control.h"
#include "host/layer/user.h"
#include "platform/kernelServices.h"

namespace {

TEST(LayerUserMemory, CopiesStayInsideOneRegisteredRangeOrCopyNothing) {
  sim::reset();
  sim::clearUserCopies();
  std::array<uint8_t, 32> user{};
  std::array<uint8_t, 32> kernel{};
  kernel.fill(7);
  sim::UserRange range(user.data(), 16);

  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data() + 4, kernel.data(), 12), 0);
  EXPECT_EQ(user[15], 7);
  // One byte past the range, and nothing at all is copied.
  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data() + 4, kernel.data(), 13), -51009);
  EXPECT_EQ(user[3], 0);
  EXPECT_EQ(user[16], 0);
  // Two adjacent ranges are still two buffers.
  sim::UserRange next(user.data() + 16, 16);
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(kernel.data(), user.data() + 12, 8), -51009);
  // Source and destination swapped: the kernel side lies in user memory.
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(user.data(), kernel.data(), 4), -51009);
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(nullptr, user.data(), 4), -51009);
  EXPECT_EQ(kernel[0], 7);

  auto const copies = sim::userCopies();
  ASSERT_EQ(copies.size(), 5u);
  EXPECT_EQ(copies[1].direction, sim::UserCopy::kOutbound);
  EXPECT_EQ(copies[1].count, 13u);
  EXPECT_EQ(copies[1].result, -51009);
  EXPECT_DEATH(sim::addUserRange(user.data() + 8, 16), "overlaps");
}

TEST(LayerUserMemory, UnknownUserMapsDie) {
  uint64_t const map = sim::createUserMap(0x3000, 2, 0x7F0000004000);
  EXPECT_EQ(nQVZOR220_tUserMemMap_getVirtualAddress(map), 0x7F0000004000u);
  sim::destroyUserMap(map);
  EXPECT_EQ(sim::liveUserMaps(), 0u);
  EXPECT_DEATH(nQVZOR220_tUserMemMap_mapPageList(map, 1, 0, 1), "no such user map");
  EXPECT_DEATH(sim::destroyUserMap(map), "no such user map");
}

}  // namespace
