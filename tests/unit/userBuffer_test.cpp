// User-buffer copies and user memory maps over the stand-in layer's user
// memory: what reaches the caller's memory, what is refused, and where.
#include "platform/userBuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "host/layer/control.h"
#include "host/layer/user.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"
#include "support/layerTest.h"

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using testing_support::expectSite;

namespace {

constexpr u64 kPage = 4096;
constexpr u64 k4G = u64{1} << 32;

u64 addressOf(void const* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

class UserBufferCopies : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::clearUserCopies();
    for (size_t i = 0; i < user.size(); ++i) user[i] = static_cast<u8>(0x80 + i);
  }
  tUserBuffer buffer(u64 size) { return tUserBuffer(context, addressOf(user.data()), size); }
  bool userUntouched() const {
    for (size_t i = 0; i < user.size(); ++i)
      if (user[i] != static_cast<u8>(0x80 + i)) return false;
    return true;
  }

  tEventDescriptor context{nullptr};
  std::array<u8, 64> user{};
  sim::UserRange range{user.data(), user.size()};
};

TEST_F(UserBufferCopies, CopyAtTheUserAddressPlusTheOffsetUpToTheBufferEndWith64BitCounts) {
  tUserBuffer both = buffer(16);
  u8 const source[4] = {1, 2, 3, 4};
  tStatus status;
  both.write(12, source, 4, status);
  EXPECT_EQ(0, std::memcmp(user.data() + 12, source, 4));
  EXPECT_EQ(user[11], 0x8B);
  u8 destination[3] = {};
  both.read(1, destination, 3, status);
  EXPECT_EQ(destination[0], 0x81);
  EXPECT_EQ(destination[2], 0x83);
  // Count 0 still asks the layer, even at the very end.
  both.read(16, nullptr, 0, status);
  EXPECT_EQ(status.code, 0);
  ASSERT_EQ(sim::userCopies().size(), 3u);
  EXPECT_EQ(sim::userCopies()[2].user, addressOf(user.data()) + 16);

  // Counts and offsets of 64 bits reach the layer whole. Above 4 GiB lies
  // outside the caller's memory: the layer refuses it.
  sim::clearUserCopies();
  tUserBuffer huge = buffer(2 * k4G);
  std::array<u8, 64> kernel{};
  huge.write(0, kernel.data(), 0xFFFFFFFFu, status);
  tLongStatus far;
  huge.read(k4G, kernel.data(), 4, far);
  expectSite(far, kStatusBadArgument, "tUserBuffer", 44);
  auto const copies = sim::userCopies();
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[0].count, 0xFFFFFFFFu);
  EXPECT_EQ(copies[1].user, addressOf(user.data()) + k4G);
}

// The buffer is smaller than the registered memory or not in it at all, so
// only the driver's own bound can catch these.
TEST_F(UserBufferCopies, CopiesReachingOutsideTheBufferAreRefusedAndCopyNothing) {
  struct {
    u64 address;  // 0: the user memory
    u64 size, offset, count;
  } const cases[] = {
      {0, 16, 0, 17},             // one past the end
      {0, 16, 12, 5},             // from inside to past the end
      {0, 16, 17, 0},             // offset past the end, even with nothing to copy
      {0, 16, ~u64{0}, 2},        // offset + count wraps to a small value
      {0, 16, 4, ~u64{0} - 1},    // count alone wraps the sum
      {0, 0, 0, 1},               // an empty buffer holds nothing
      {0, 2 * k4G, 0, k4G},       // too large for the layer, never cut to 32 bits
      {0, 2 * k4G, 0, k4G + 4},   // nor to its low bits
      {~u64{0} - 9, 100, 20, 4},  // past the top of the address space
  };
  for (auto const& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " offset " + std::to_string(c.offset) +
                 " count " + std::to_string(c.count));
    tUserBuffer both(context, c.address != 0 ? c.address : addressOf(user.data()), c.size);
    std::array<u8, 64> kernel{};
    tLongStatus readStatus;
    both.read(c.offset, kernel.data(), c.count, readStatus);
    expectSite(readStatus, kStatusBadArgument, "tUserBuffer", 44);
    tLongStatus writeStatus;
    both.write(c.offset, kernel.data(), c.count, writeStatus);
    expectSite(writeStatus, kStatusBadArgument, "tUserBuffer", 57);
    EXPECT_TRUE(sim::userCopies().empty());
    EXPECT_TRUE(userUntouched());
    EXPECT_EQ(kernel, (std::array<u8, 64>{}));
  }
}

// The translation of each layer result is covered with the status tables.
TEST_F(UserBufferCopies, LayerFailuresAreReportedAtTheBuffersSites) {
  tUserBuffer both = buffer(64);
  u8 kernel[4] = {9, 9, 9, 9};
  for (char const* copy : {"nQVZOR100_replicateInboundIOControlBuffer",
                           "nQVZOR100_replicateOutboundIOControlBuffer"}) {
    sim::setFailureCode(copy, -51352);
    sim::failNthCall(copy, 1);
  }
  tLongStatus readStatus;
  both.read(0, kernel, 4, readStatus);
  expectSite(readStatus, kStatusMemoryFull, "tUserBuffer", 44);
  EXPECT_EQ(kernel[0], 9);
  tLongStatus writeStatus;
  both.write(0, kernel, 4, writeStatus);
  expectSite(writeStatus, kStatusMemoryFull, "tUserBuffer", 57);
  EXPECT_TRUE(userUntouched());
}

// ---- User memory maps -------------------------------------------------------------

using UserMemoryMap = testing_support::LayerTest;

TEST_F(UserMemoryMap, AccessFollowsTheWritableBitAndTheSelectorItsLowBits) {
  for (uint32_t mode : {0u, 1u, 2u, 3u, 0xFFFFFFFDu}) {
    tUserMemoryMap map(nullptr, sim::createUserMap(kPage, mode, 0x7F0000001000), 0x12345);
    EXPECT_EQ(map.access(), (mode & 2) != 0 ? 16u : 8u) << mode;
    EXPECT_EQ(map.selector(), 0x2345u);
  }
}

// A device may offer more than the caller's area: it is cut to whole pages
// of the area.
TEST_F(UserMemoryMap, MapsTheWholePagesThatHoldTheRangeWithinTheCallersArea) {
  struct {
    u64 area, offset, size, firstPage, pageCount;
  } const cases[] = {
      {16 * kPage, 0, 1, 0, 1},
      {16 * kPage, 0, kPage, 0, 1},
      {16 * kPage, 0, kPage + 1, 0, 2},
      {16 * kPage, 2 * kPage, 3 * kPage, 2, 3},
      {16 * kPage, 0, 0, 0, 0},
      {kPage, 0, 3 * kPage, 0, 1},
      {kPage + 1, 0, 3 * kPage, 0, 2},
      {~u64{0}, 0, ~u64{0}, 0, u64{1} << 52},  // rounding up must not wrap
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(std::to_string(c.area) + ": " + std::to_string(c.offset) + "+" +
                 std::to_string(c.size));
    u64 const kernelMap = sim::createUserMap(c.area, 2, 0x7F0000000000);
    tUserMemoryMap map(nullptr, kernelMap, 1);
    tStatus status;
    map.mapPageList(nullptr, tPageList{16 * kPage, 0, 0xABC0}, c.offset, c.size, status);
    EXPECT_EQ(status.code, 0);
    auto const mappings = sim::userMappings(kernelMap);
    ASSERT_EQ(mappings.size(), 1u);
    EXPECT_EQ(mappings[0].kind, sim::UserMapping::kPageList);
    EXPECT_EQ(mappings[0].pageList, 0xABC0u);
    EXPECT_EQ(mappings[0].firstPage, c.firstPage);
    EXPECT_EQ(mappings[0].pageCount, c.pageCount);
  }
}

TEST_F(UserMemoryMap, MapsAPageAlignedPhysicalRangeWithinTheCallersAreaAndRefusalsMapNothing) {
  u64 const kernelMap = sim::createUserMap(4 * kPage, 2, 0x7F0000000000);
  tUserMemoryMap map(nullptr, kernelMap, 1);
  tPageList const pages{4 * kPage, 0, 0xABC0};

  tStatus status;
  map.mapPhysicalRange(nullptr, 0xF0000000, kPage + 5, 1, status);
  map.mapPhysicalRange(nullptr, 0xF0002000, 8 * kPage, 2, status);
  EXPECT_EQ(status.code, 0);
  auto const mappings = sim::userMappings(kernelMap);
  ASSERT_EQ(mappings.size(), 2u);
  EXPECT_EQ(mappings[0].kind, sim::UserMapping::kPhysical);
  EXPECT_EQ(mappings[0].physicalAddress, 0xF0000000u);
  EXPECT_EQ(mappings[0].size, kPage + 5);
  EXPECT_EQ(mappings[0].cached, 1u);
  EXPECT_EQ(mappings[1].size, 4 * kPage);  // cut to the caller's area
  EXPECT_EQ(mappings[1].cached, 0u);

  // Refused and failed maps add nothing.
  tLongStatus halfPage;
  map.mapPageList(nullptr, pages, kPage / 2, kPage, halfPage);
  expectSite(halfPage, kStatusBadArgument, "tUserMemoryMap", 50);
  tLongStatus unaligned;
  map.mapPhysicalRange(nullptr, 0xF0000010, kPage, 1, unaligned);
  expectSite(unaligned, kStatusBadArgument, "tUserMemoryMap", 80);

  sim::setFailureCode("nQVZOR220_tUserMemMap_mapPageList", -51352);
  sim::failNthCall("nQVZOR220_tUserMemMap_mapPageList", 1);
  tLongStatus pageListStatus;
  map.mapPageList(nullptr, pages, 0, kPage, pageListStatus);
  expectSite(pageListStatus, kStatusMemoryFull, "tUserMemoryMap", 60);

  sim::failNthCall("nQVZOR2280_tUserMemMap_mapPhysicalAddress", 1);
  tLongStatus physicalStatus;
  map.mapPhysicalRange(nullptr, 0xF0000000, kPage, 1, physicalStatus);
  expectSite(physicalStatus, kStatusBadArgument, "tUserMemoryMap", 90);
  EXPECT_EQ(sim::userMappings(kernelMap).size(), 2u);
}

}  // namespace
