// The stand-in's user memory: the copies check the user side against the
// ranges a test registered, and user maps answer for the maps a test made.
#include <gtest/gtest.h>

#include <array>

#include "host/layer/control.h"
#include "host/layer/user.h"
#include "platform/kernelServices.h"

namespace {

TEST(LayerUserCopies, CopyOnlyWhenTheUserSideLiesInOneRegisteredRange) {
  std::array<uint8_t, 32> user{};
  std::array<uint8_t, 32> kernel{};
  kernel.fill(7);
  sim::UserRange range(user.data(), 16);

  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data() + 4, kernel.data(), 12), 0);
  EXPECT_EQ(user[4], 7);
  EXPECT_EQ(user[15], 7);

  // Running one byte past the range copies nothing at all.
  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data() + 4, kernel.data(), 13), -51009);
  EXPECT_EQ(user[16], 0);
  EXPECT_EQ(user[3], 0);
  kernel.fill(0);
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(kernel.data(), user.data() + 8, 9), -51009);
  EXPECT_EQ(kernel[0], 0);

  // Two adjacent ranges are still two buffers.
  sim::UserRange next(user.data() + 16, 16);
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(kernel.data(), user.data() + 12, 8), -51009);

  auto const copies = sim::userCopies();
  ASSERT_EQ(copies.size(), 4u);
  EXPECT_EQ(copies[1].direction, sim::UserCopy::kOutbound);
  EXPECT_EQ(copies[1].count, 13u);
  EXPECT_EQ(copies[1].result, -51009);
}

TEST(LayerUserCopies, SwappedArgumentsAreCaughtByTheKernelSideTouchingUserMemory) {
  std::array<uint8_t, 16> user{};
  std::array<uint8_t, 16> kernel{};
  sim::UserRange range(user.data(), user.size());
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(user.data(), kernel.data(), 4), -51009);
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(nullptr, user.data(), 4), -51009);
}

TEST(LayerUserCopies, CountZeroTouchesNothingAndSucceeds) {
  EXPECT_EQ(nQVZOR100_replicateInboundIOControlBuffer(nullptr, nullptr, 0), 0);
  EXPECT_EQ(sim::userCopies().size(), 1u);
}

TEST(LayerUserCopies, AnInjectedFailureCopiesNothing) {
  std::array<uint8_t, 8> user{};
  uint8_t const kernel[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  sim::UserRange range(user.data(), user.size());
  sim::setFailureCode("nQVZOR100_replicateOutboundIOControlBuffer", -51352);
  sim::failNthCall("nQVZOR100_replicateOutboundIOControlBuffer", 2);
  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data(), kernel, 4), 0);
  EXPECT_EQ(nQVZOR100_replicateOutboundIOControlBuffer(user.data() + 4, kernel, 4), -51352);
  EXPECT_EQ(user[3], 1);
  EXPECT_EQ(user[4], 0);
}

TEST(LayerUserCopies, RangesAreRegisteredAndRemovedWhole) {
  std::array<uint8_t, 32> user{};
  sim::addUserRange(user.data(), 16);
  EXPECT_TRUE(sim::isUserRange(user.data() + 15, 1));
  EXPECT_FALSE(sim::isUserRange(user.data() + 15, 2));
  EXPECT_DEATH(sim::addUserRange(user.data() + 8, 16), "overlaps");
  EXPECT_DEATH(sim::removeUserRange(user.data() + 1), "no user range");
  sim::removeUserRange(user.data());
  EXPECT_FALSE(sim::isUserRange(user.data(), 1));
}

TEST(LayerUserMaps, AnswerForTheMapAndRecordWhatWasMappedInOrder) {
  uint64_t const map = sim::createUserMap(0x3000, 2, 0x7F0000004000);
  EXPECT_NE(map, 0u);
  EXPECT_EQ(nQVZOR220_tUserMemMap_getSize(map), 0x3000u);
  EXPECT_EQ(nQVZOR220_tUserMemMap_getAccessMode(map), 2u);
  EXPECT_EQ(nQVZOR220_tUserMemMap_getVirtualAddress(map), 0x7F0000004000u);

  EXPECT_EQ(nQVZOR220_tUserMemMap_mapPageList(map, 0x99, 1, 2), 0);
  sim::failNthCall("nQVZOR2280_tUserMemMap_mapPhysicalAddress", 1);
  EXPECT_EQ(nQVZOR2280_tUserMemMap_mapPhysicalAddress(map, 0xF000, 0x1000, 1), -51009);
  EXPECT_EQ(nQVZOR2280_tUserMemMap_mapPhysicalAddress(map, 0xE000, 0x2000, 0), 0);

  auto const mappings = sim::userMappings(map);
  ASSERT_EQ(mappings.size(), 2u);
  EXPECT_EQ(mappings[0].kind, sim::UserMapping::kPageList);
  EXPECT_EQ(mappings[0].firstPage, 1u);
  EXPECT_EQ(mappings[0].pageCount, 2u);
  EXPECT_EQ(mappings[1].physicalAddress, 0xE000u);

  EXPECT_EQ(sim::liveUserMaps(), 1u);
  sim::destroyUserMap(map);
  EXPECT_EQ(sim::liveUserMaps(), 0u);
  EXPECT_DEATH(nQVZOR220_tUserMemMap_getSize(map), "no such user map");
  EXPECT_DEATH(sim::destroyUserMap(map), "no such user map");
}

}  // namespace
