// User-buffer copies and user memory maps over the stand-in layer's user
// memory: what reaches the caller's memory, what is refused, and with which
// status site.
#include "platform/userBuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "host/layer/control.h"
#include "host/layer/user.h"
#include "platform/statusCodes.h"

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;

namespace {

constexpr u64 kPage = 4096;
constexpr char const* kInbound = "nQVZOR100_replicateInboundIOControlBuffer";
constexpr char const* kOutbound = "nQVZOR100_replicateOutboundIOControlBuffer";

u64 addressOf(void const* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

void expectSite(tLongStatus const& status, i64 code, char const* file, u64 line) {
  EXPECT_EQ(status.head.code, code);
  EXPECT_STREQ(status.file, file);
  EXPECT_EQ(status.line, line);
}

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

TEST_F(UserBufferCopies, CopyAtTheUserAddressPlusTheOffsetUpToTheBufferEnd) {
  tUserBuffer both = buffer(16);
  u8 const source[4] = {1, 2, 3, 4};
  tStatus status;
  both.write(12, source, 4, status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(0, std::memcmp(user.data() + 12, source, 4));
  EXPECT_EQ(user[11], 0x8B);

  u8 destination[3] = {};
  both.read(1, destination, 3, status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(destination[0], 0x81);
  EXPECT_EQ(destination[2], 0x83);

  // Count 0 still asks the layer, even at the very end.
  both.read(16, nullptr, 0, status);
  EXPECT_EQ(status.code, 0);
  ASSERT_EQ(sim::userCopies().size(), 3u);
  EXPECT_EQ(sim::userCopies()[2].user, addressOf(user.data()) + 16);
}

struct OutOfBounds {
  u64 size;
  u64 offset;
  u64 count;
};

// The buffer is smaller than the registered memory, so only the driver's own
// bound can catch these.
TEST_F(UserBufferCopies, CopiesReachingOutsideTheBufferAreRefusedAndCopyNothing) {
  OutOfBounds const cases[] = {
      {16, 0, 17},           // one past the end
      {16, 12, 5},           // from inside to past the end
      {16, 17, 0},           // offset past the end, even with nothing to copy
      {16, ~u64{0}, 2},      // offset + count wraps to a small value
      {16, 4, ~u64{0} - 1},  // count alone wraps the sum
      {0, 0, 1},             // an empty buffer holds nothing
  };
  for (OutOfBounds const& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " offset " + std::to_string(c.offset) +
                 " count " + std::to_string(c.count));
    tUserBuffer both = buffer(c.size);
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

TEST_F(UserBufferCopies, SixtyFourBitSizesAndAddressesAreNeverCut) {
  u64 const large = u64{1} << 33;
  tUserBuffer huge = buffer(large);
  std::array<u8, 64> kernel{};

  // A count the layer cannot take is refused, never cut to its low 32 bits.
  for (u64 count : {u64{1} << 32, (u64{1} << 32) + 4}) {
    tLongStatus status;
    huge.read(0, kernel.data(), count, status);
    expectSite(status, kStatusBadArgument, "tUserBuffer", 44);
  }
  EXPECT_TRUE(sim::userCopies().empty());

  // The largest count the layer takes still goes to it whole.
  tStatus largest;
  huge.write(0, kernel.data(), 0xFFFFFFFFu, largest);
  ASSERT_EQ(sim::userCopies().size(), 1u);
  EXPECT_EQ(sim::userCopies()[0].count, 0xFFFFFFFFu);

  // An offset above 4 GiB reaches the layer in full: here it lies outside
  // the caller's memory, so the layer refuses it.
  sim::clearUserCopies();
  tLongStatus far;
  huge.read(u64{1} << 32, kernel.data(), 4, far);
  ASSERT_EQ(sim::userCopies().size(), 1u);
  EXPECT_EQ(sim::userCopies()[0].user, addressOf(user.data()) + (u64{1} << 32));
  expectSite(far, kStatusBadArgument, "tUserBuffer", 44);

  // A buffer that claims to run past the top of the address space holds
  // nothing beyond it.
  sim::clearUserCopies();
  tLongStatus wrapped;
  tUserBuffer(context, ~u64{0} - 9, 100).read(20, kernel.data(), 4, wrapped);
  expectSite(wrapped, kStatusBadArgument, "tUserBuffer", 44);
  EXPECT_TRUE(sim::userCopies().empty());
}

TEST_F(UserBufferCopies, AnAddressThatIsNotUserMemoryFailsAndCopiesNothing) {
  std::array<u8, 16> notUser{};
  notUser.fill(0x55);
  tUserBuffer stray(context, addressOf(notUser.data()), notUser.size());
  u8 kernel[8] = {};
  tLongStatus readStatus;
  stray.read(0, kernel, 8, readStatus);
  expectSite(readStatus, kStatusBadArgument, "tUserBuffer", 44);
  EXPECT_EQ(kernel[0], 0);

  u8 const source[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  tLongStatus writeStatus;
  stray.write(0, source, 8, writeStatus);
  expectSite(writeStatus, kStatusBadArgument, "tUserBuffer", 57);
  EXPECT_EQ(notUser[0], 0x55);
  ASSERT_EQ(sim::userCopies().size(), 2u);
  EXPECT_EQ(sim::userCopies()[1].result, -51009);
}

struct LayerFailure {
  int32_t layer;
  i64 expected;
};

TEST_F(UserBufferCopies, LayerFailuresComeBackThroughTheInboundTable) {
  LayerFailure const cases[] = {
      {-51352, kStatusMemoryFull},
      {-51101, kStatusNotAvailable},
      {-51999, kStatusLayerFailure},  // outside the table
      {7, kStatusLayerFailure},       // a byte count is no success
  };
  for (LayerFailure const& c : cases) {
    SCOPED_TRACE(c.layer);
    tUserBuffer both = buffer(64);
    u8 kernel[4] = {9, 9, 9, 9};
    sim::setFailureCode(kInbound, c.layer);
    sim::failNthCall(kInbound, 1);
    tLongStatus readStatus;
    both.read(0, kernel, 4, readStatus);
    expectSite(readStatus, c.expected, "tUserBuffer", 44);
    EXPECT_EQ(kernel[0], 9);

    sim::setFailureCode(kOutbound, c.layer);
    sim::failNthCall(kOutbound, 1);
    tLongStatus writeStatus;
    both.write(0, kernel, 4, writeStatus);
    expectSite(writeStatus, c.expected, "tUserBuffer", 57);
    EXPECT_TRUE(userUntouched());
  }
}

TEST_F(UserBufferCopies, AnErrorOnEntryStopsTheCopyAndAWarningDoesNot) {
  tUserBuffer both = buffer(64);
  u8 kernel[4] = {1, 2, 3, 4};
  tStatus failed{16, kStatusTimeout};
  both.write(0, kernel, 4, failed);
  both.read(0, kernel, 4, failed);
  both.read(0, kernel, 100, failed);
  EXPECT_EQ(failed.code, kStatusTimeout);
  EXPECT_TRUE(sim::userCopies().empty());

  tStatus warned{16, 240000};
  both.write(0, kernel, 4, warned);
  EXPECT_EQ(warned.code, 240000);
  EXPECT_EQ(user[0], 1);
}

// ---- User memory maps --------------------------------------------------------

class UserMemoryMap : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
};

struct AccessCase {
  uint32_t mode;
  u32 access;
};

TEST_F(UserMemoryMap, TakesItsSizeAccessAndAddressFromTheLayersMap) {
  AccessCase const cases[] = {{0, 8}, {1, 8}, {2, 16}, {3, 16}, {0xFFFFFFFD, 8}};
  auto* session = reinterpret_cast<tSession*>(uintptr_t{0x1230});
  for (AccessCase const& c : cases) {
    SCOPED_TRACE(c.mode);
    u64 const kernelMap = sim::createUserMap(3 * kPage, c.mode, 0x7F0000001000);
    tUserMemoryMap map(session, kernelMap, 0x12345);
    EXPECT_EQ(map.size(), 3 * kPage);
    EXPECT_EQ(map.selector(), 0x2345u);
    EXPECT_EQ(map.access(), c.access);
    EXPECT_EQ(map.kernelMap(), kernelMap);
    EXPECT_EQ(map.virtualAddress(), 0x7F0000001000u);
    EXPECT_EQ(map.session(), session);
  }
}

struct PageCase {
  u64 offset;
  u64 size;
  u64 firstPage;
  u64 pageCount;
};

TEST_F(UserMemoryMap, MapsTheWholePagesThatHoldTheRange) {
  PageCase const cases[] = {
      {0, 1, 0, 1}, {0, kPage, 0, 1}, {0, kPage + 1, 0, 2}, {2 * kPage, 3 * kPage, 2, 3},
      {0, 0, 0, 0},
  };
  tPageList const pages{16 * kPage, 0, 0xABC0};
  for (PageCase const& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.size));
    u64 const kernelMap = sim::createUserMap(16 * kPage, 2, 0x7F0000000000);
    tUserMemoryMap map(nullptr, kernelMap, 1);
    tStatus status;
    map.mapPageList(nullptr, pages, c.offset, c.size, status);
    EXPECT_EQ(status.code, 0);
    auto const mappings = sim::userMappings(kernelMap);
    ASSERT_EQ(mappings.size(), 1u);
    EXPECT_EQ(mappings[0].kind, sim::UserMapping::kPageList);
    EXPECT_EQ(mappings[0].pageList, 0xABC0u);
    EXPECT_EQ(mappings[0].firstPage, c.firstPage);
    EXPECT_EQ(mappings[0].pageCount, c.pageCount);
  }
}

TEST_F(UserMemoryMap, NeverMapsMorePagesThanTheCallersArea) {
  struct {
    u64 area;
    u64 size;
    u64 pageCount;
  } const cases[] = {
      {kPage, 3 * kPage, 1},
      {kPage + 1, 3 * kPage, 2},
      {~u64{0}, ~u64{0}, u64{1} << 52},  // rounding up must not wrap
  };
  for (auto const& c : cases) {
    u64 const kernelMap = sim::createUserMap(c.area, 2, 0x7F0000000000);
    tUserMemoryMap map(nullptr, kernelMap, 1);
    tStatus status;
    map.mapPageList(nullptr, tPageList{c.size, 0, 0xABC0}, 0, c.size, status);
    EXPECT_EQ(status.code, 0);
    ASSERT_EQ(sim::userMappings(kernelMap).size(), 1u);
    EXPECT_EQ(sim::userMappings(kernelMap)[0].pageCount, c.pageCount);
  }
}

TEST_F(UserMemoryMap, MapsAPageAlignedPhysicalRangeWithinTheCallersArea) {
  u64 const kernelMap = sim::createUserMap(2 * kPage, 2, 0x7F0000000000);
  tUserMemoryMap map(nullptr, kernelMap, 1);
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
  EXPECT_EQ(mappings[1].size, 2 * kPage);  // cut to the caller's area
  EXPECT_EQ(mappings[1].cached, 0u);

  tLongStatus unaligned;
  map.mapPhysicalRange(nullptr, 0xF0000010, kPage, 1, unaligned);
  expectSite(unaligned, kStatusBadArgument, "tUserMemoryMap", 80);
  EXPECT_EQ(sim::userMappings(kernelMap).size(), 2u);
}

TEST_F(UserMemoryMap, RefusalsAndFailuresMapNothing) {
  u64 const kernelMap = sim::createUserMap(4 * kPage, 2, 0x7F0000000000);
  tUserMemoryMap map(nullptr, kernelMap, 1);
  tPageList const pages{4 * kPage, 0, 0xABC0};

  tLongStatus halfPage;
  map.mapPageList(nullptr, pages, kPage / 2, kPage, halfPage);
  expectSite(halfPage, kStatusBadArgument, "tUserMemoryMap", 50);

  sim::setFailureCode("nQVZOR220_tUserMemMap_mapPageList", -51352);
  sim::failNthCall("nQVZOR220_tUserMemMap_mapPageList", 1);
  tLongStatus pageListStatus;
  map.mapPageList(nullptr, pages, 0, kPage, pageListStatus);
  expectSite(pageListStatus, kStatusMemoryFull, "tUserMemoryMap", 60);

  sim::failNthCall("nQVZOR2280_tUserMemMap_mapPhysicalAddress", 1);
  tLongStatus physicalStatus;
  map.mapPhysicalRange(nullptr, 0xF0000000, kPage, 1, physicalStatus);
  expectSite(physicalStatus, kStatusBadArgument, "tUserMemoryMap", 90);

  tStatus failed{16, kStatusTimeout};
  map.mapPageList(nullptr, pages, kPage / 2, kPage, failed);
  map.mapPhysicalRange(nullptr, 0xF0000010, kPage, 1, failed);
  EXPECT_EQ(failed.code, kStatusTimeout);
  EXPECT_TRUE(sim::userMappings(kernelMap).empty());
}

}  // namespace
