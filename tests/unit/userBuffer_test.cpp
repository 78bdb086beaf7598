// User-buffer copies and user memory maps over the stand-in layer's user
// memory: what reaches the caller's memory, what is refused, and where.
#include "platform/userBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

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

// The buffer is smaller than the registered memory or not in it at all, so
// only the driver's own bound can catch what reaches outside it. What stays
// inside reaches the layer whole, at the user address plus the offset: a count
// of 0 at the very end, counts and offsets of 64 bits (above 4 GiB lies
// outside the caller's memory, so the layer refuses those).
TEST_F(UserBufferCopies, CopiesReachingOutsideTheBufferAreRefusedAndCopyNothing) {
  enum Outcome { kRefused, kCopied, kRefusedByTheLayer };
  struct {
    u64 address;  // 0: the user memory
    u64 size, offset, count;
    Outcome outcome;
  } const cases[] = {
      {0, 16, 12, 4, kCopied},                          // up to the end
      {0, 16, 16, 0, kCopied},                          // nothing, at the very end
      {0, 2 * k4G, 0, 0xFFFFFFFF, kRefusedByTheLayer},  // the largest count the layer takes
      {0, 2 * k4G, k4G, 4, kRefusedByTheLayer},         // an offset of 64 bits
      {0, 16, 0, 17, kRefused},                         // one past the end
      {0, 16, 12, 5, kRefused},                         // from inside to past the end
      {0, 16, 17, 0, kRefused},                         // offset past the end, nothing to copy
      {0, 16, ~u64{0}, 2, kRefused},                    // offset + count wraps to a small value
      {0, 16, 4, ~u64{0} - 1, kRefused},                // count alone wraps the sum
      {0, 0, 0, 1, kRefused},                           // an empty buffer holds nothing
      {0, 2 * k4G, 0, k4G, kRefused},                   // too large for the layer, never cut
      {0, 2 * k4G, 0, k4G + 4, kRefused},               // nor to its low bits
      {~u64{0} - 9, 100, 20, 4, kRefused},              // past the top of the address space
  };
  for (auto const& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " offset " + std::to_string(c.offset) +
                 " count " + std::to_string(c.count));
    u64 const address = c.address != 0 ? c.address : addressOf(user.data());
    tUserBuffer both(context, address, c.size);
    std::array<u8, 64> kernel{};
    sim::clearUserCopies();
    tLongStatus readStatus;
    both.read(c.offset, kernel.data(), c.count, readStatus);
    tLongStatus writeStatus;
    both.write(c.offset, kernel.data(), c.count, writeStatus);
    if (c.outcome == kCopied) {
      EXPECT_EQ(std::tuple(readStatus.head.code, writeStatus.head.code), std::tuple(0, 0));
    } else {
      expectSite(readStatus, kStatusBadArgument, "tUserBuffer", 44);
      expectSite(writeStatus, kStatusBadArgument, "tUserBuffer", 57);
    }
    std::vector<sim::UserCopy> const copies = sim::userCopies();
    ASSERT_EQ(copies.size(), c.outcome == kRefused ? 0u : 2u);
    for (sim::UserCopy const& copy : copies) {
      EXPECT_EQ(std::tuple(copy.user, copy.kernel, copy.count),
                std::tuple(address + c.offset, addressOf(kernel.data()), c.count));
    }
    // A copy takes the caller's bytes at the offset; a refusal changes nothing.
    std::array<u8, 64> expected{};
    if (c.outcome == kCopied) std::copy_n(user.begin() + c.offset, c.count, expected.begin());
    EXPECT_EQ(kernel, expected);
    EXPECT_TRUE(userUntouched());
  }
}

// ---- User memory maps -------------------------------------------------------------

using UserMemoryMap = testing_support::LayerTest;

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
    EXPECT_EQ(std::tuple(mappings[0].kind, mappings[0].pageList, mappings[0].firstPage,
                         mappings[0].pageCount),
              std::tuple(sim::UserMapping::kPageList, 0xABC0u, c.firstPage, c.pageCount));
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
  EXPECT_EQ(std::tuple(mappings[0].kind, mappings[0].physicalAddress, mappings[0].size,
                       mappings[0].cached),
            std::tuple(sim::UserMapping::kPhysical, 0xF0000000u, kPage + 5, 1u));
  // The second is cut to the caller's area.
  EXPECT_EQ(std::tuple(mappings[1].size, mappings[1].cached), std::tuple(4 * kPage, 0u));

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
