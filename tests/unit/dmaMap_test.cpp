// DMA buffers and maps over page lists placed in simulated physical memory:
// what a device reaches at the segments, bounce buffering for devices of 32
// bits, and every refusal of the layer by the objects that allocate from it.
#include "platform/dma/dmaMap.h"

#include <string>
#include <tuple>

#include "dmaTestSupport.h"
#include "platform/dma/vexusInterruptManager.h"
#include "platform/dma/vexusSGL.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace {

using namespace dmatest;

constexpr uint32_t kNoNode = 0xFFFFFFFF;
constexpr uint64_t kPage = sim::kLayerPageSize;

class DmaMapTest : public DmaTest {};

// 5000 bytes take two pages, below 4 GiB for a device of 32 bits.
TEST_F(DmaMapTest, BuffersFollowTheDeviceTypeItsNodeAndTheAlignment) {
  for (auto [name, type, node, alignment, code, file, line, bytes, listFlags] :
       {std::tuple{"not configured", 0u, kNoNode, 8u, -52002l, "tDMAConfiguration", 69u, 0ul, 0u},
        {"64-bit, no node", 2u, kNoNode, 8u, 0l, nullptr, 0u, 2 * kPage, 4u},
        {"32-bit, node 1, alignment 0", 1u, 1u, 0u, 0l, nullptr, 0u, 2 * kPage, 6u},
        {"odd alignment", 2u, kNoNode, 3000u, -52005l, "memory", 633u, 0ul, 0u},
        {"layer refuses", 2u, kNoNode, 8u, -52000l, "memory", 767u, 0ul, 0u}}) {
    SCOPED_TRACE(name);
    description_.numaNode = node;
    configuration_.configure(type, &description_);
    if (line == 767) sim::failNthCall("nQVZOR220_tPageList_createFromAllocation", 1);
    tLongStatus status;
    tPageList list{};
    EXPECT_EQ(configuration_.allocateDMABuffer(list, 5000, 4, status, alignment), bytes);
    if (code != 0) expectSite(status, code, file, line);
    EXPECT_EQ(std::tuple(status.head.code, list.size), std::tuple(code, bytes));
    if (auto info = sim::pageList(list.handle)) {
      EXPECT_EQ(std::tuple(info->flags, info->physical.size() * kPage),
                std::tuple(listFlags, bytes));
      EXPECT_EQ(info->node, node == kNoNode ? std::nullopt : std::optional(node));
    }
    configuration_.freeDMABuffer(list);
    // A cleared record has nothing to give back.
    sim::enableCallLog(true);
    configuration_.freeDMABuffer(list);
    EXPECT_EQ(sim::callCount("nQVZOR220_tPageList_destroy"), 0u);
    sim::reset();
  }
}

TEST_F(DmaMapTest, StandardMapSegmentsAreThePagesRunsAsTheDeviceReachesThem) {
  for (auto [name, runPages, offset, size, segments] :
       {std::tuple{"runs of two pages", 2ul, 100ul, 10000ul, 2ul},
        {"page by page", 1ul, 100ul, 10000ul, 3ul},
        {"inside one page", 1ul, 5000ul, 100ul, 1ul}}) {
    SCOPED_TRACE(name);
    sim::setPagePlacement({.runPages = runPages});
    Buffer& b = buffer(4);
    tStandardDMAMap map(&configuration_);
    tStatus status;
    // A larger range than the last takes a new object; the old one is gone.
    map.load(b.list, 0, kPage, kDMAHostToDevice, status);
    map.unload();
    map.load(b.list, offset, size, kDMADeviceToHost, status);
    EXPECT_EQ(std::tuple(status.code, map.numSGLSegments(), sim::liveScatterGathers()),
              std::tuple(0, segments, before_[2] + 1));
    EXPECT_EQ(deviceView(map), std::vector<uint8_t>(b.bytes + offset, b.bytes + offset + size));
    auto const sgl = sim::scatterGather(map.handle());
    EXPECT_EQ(std::tuple(sgl->device, sgl->fromDevice), std::tuple(function_->handle(), true));
    map.unload();
    EXPECT_FALSE(sim::scatterGather(map.handle())->mapped);
  }
}

// A range that does not start on a page touches one page more than its size
// fills; what was reserved for the size must hold every page of it.
TEST_F(DmaMapTest, AMapReservedForASizeTakesThatSizeAtAnyStart) {
  sim::setPagePlacement({.runPages = 1});  // each page a segment of its own
  sim::enableCallLog(true);
  auto const reservations = [] {
    return sim::callCount("nQVZOR220_tSGL_createForPCI") + sim::callCount("nQVZOR100_malloc");
  };
  for (auto [name, offset, size, pages] :
       {std::tuple{"nothing, on a map that never needed pages", 0ul, 0ul, 0ul},
        {"a byte at a page's end", kPage - 1, 1ul, 1ul},
        {"two bytes across a page boundary", kPage - 1, 2ul, 2ul},
        {"a page from its second byte", 1ul, kPage, 2ul},
        {"three pages from the second byte", 1ul, 3 * kPage, 4ul},
        {"10000 bytes from 4000", 4000ul, 10000ul, 4ul}}) {
    for (bool direct : {false, true}) {
      SCOPED_TRACE(std::string(name) + (direct ? ", direct" : ", standard"));
      Buffer& b = buffer(5);
      tStandardDMAMap standard(&configuration_);
      tDirectDMAMap directMap(&configuration_);
      tDMAMapCore& map = direct ? static_cast<tDMAMapCore&>(directMap) : standard;
      tStatus status;
      map.reserve(size, status);
      uint64_t const reserved = reservations();
      map.load(b.list, offset, size, kDMAHostToDevice, status);
      EXPECT_EQ(std::tuple(status.code, map.numSGLSegments(), reservations()),
                std::tuple(0, pages, reserved));
      EXPECT_EQ(deviceView(map), std::vector<uint8_t>(b.bytes + offset, b.bytes + offset + size));
    }
  }
}

bool bounced(tDirectDMAMap const& map, uint64_t position) {
  for (uint64_t i = 0; i < map.bounceCount(); ++i) {
    auto const& r = map.bounceRecords()[i];
    if (position >= r.position && position - r.position < r.length) return true;
  }
  return false;
}

TEST_F(DmaMapTest, DirectMapBouncesWhatADeviceOf32BitsCannotReach) {
  sim::PagePlacement const high{.runPages = 1, .high = true},
      alternating{.runPages = 1, .high = true, .alternate = true},
      across{.nextLow = sim::k4GiB - kPage};
  tDMADirection const out = kDMAHostToDevice, in = kDMADeviceToHost;
  uint64_t bounceAt = 0x30000000;
  for (auto [name, placement, type, over4G, direction, offset, size, records, completed] :
       {std::tuple{"64-bit device, high pages", high, 2u, true, out, 100ul, 10000ul, 0ul, 0ul},
        {"no memory above 4 GiB", high, 1u, false, out, 100ul, 10000ul, 0ul, 0ul},
        {"high pages join", high, 1u, true, out, 100ul, 10000ul, 1ul, 0ul},
        {"alternating runs", alternating, 1u, true, out, 100ul, 14000ul, 2ul, 0ul},
        {"alternating runs, written back in part", alternating, 1u, true, in, 100ul, 14000ul, 2ul,
         9000ul},
        {"a run across 4 GiB", across, 1u, true, in, 0ul, 2 * kPage, 1ul, 2 * kPage},
        // A chunk is clipped to the range: one that ends at 4 GiB is still
        // reachable, one a byte longer is not.
        {"a range ending at 4 GiB", across, 1u, true, out, 100ul, kPage - 100, 0ul, 0ul},
        {"a range ending a byte past 4 GiB", across, 1u, true, out, 100ul, kPage - 99, 1ul, 0ul},
        {"a range ending a byte past 4 GiB, written back", across, 1u, true, in, 100ul, kPage - 99,
         1ul, kPage - 99}}) {
    SCOPED_TRACE(name);
    dropBuffers();  // the rows across 4 GiB take the same pages
    sim::setPagePlacement(placement);
    sim::setAddressableMemOver4G(over4G);
    configuration_.configure(type, &description_);
    Buffer& b = buffer(4);
    std::vector<uint8_t> const original(b.bytes + offset, b.bytes + offset + size);
    // Bounce pages come low and page by page.
    sim::setPagePlacement({.runPages = 1, .nextLow = bounceAt += 0x100000});
    tDirectDMAMap map(&configuration_);
    tStatus status;
    map.load(b.list, offset, size, direction, status);
    ASSERT_EQ(status.code, 0);
    EXPECT_EQ(map.bounceCount(), records);
    for (map.resetSGLIterator(); map.moreSGLSegments();) {
      tDMASegment const s = map.nextSGLSegment();
      EXPECT_TRUE(type != 1 || !over4G || s.busAddress + s.size <= sim::k4GiB);
    }
    if (direction == kDMAHostToDevice) {
      map.prepareForDMA();
      EXPECT_EQ(deviceView(map), original);
      continue;
    }
    std::vector<uint8_t> const written = deviceView(map, true);
    map.completeDMA(completed);
    for (uint64_t i = 0; i < size; ++i)
      ASSERT_EQ(b.bytes[offset + i], !bounced(map, i) || i < completed ? written[i] : original[i])
          << "at " << i;
  }
}

// Link memory whose first segment is shorter than a link.
class ShortMemorySGL : public tVexusSGL {
 public:
  tLinkMemory* allocateLinkMemory(tStatus& status) override {
    tLinkMemory* memory = createObject<tLinkMemory>(status);
    if (memory != nullptr) memory->size = 32;
    return memory;
  }
};

TEST_F(DmaMapTest, EveryRefusalOfTheLayerIsReportedAndLeavesNothingBehind) {
  enum Object { kStandard, kUndescribed, kDirect, kLinks, kShortLinks, kRing };
  char const *const kCreate = "nQVZOR220_tSGL_createForPCI", *const kMalloc = "nQVZOR100_malloc";
  sim::setPagePlacement({.runPages = 1, .high = true});
  Buffer& b = buffer(4);
  auto const base = counts();
  for (auto [name, object, fault, nth, code, file, line, offset] :
       {std::tuple{"map: no object", kStandard, kCreate, 1, -52000l, "tStandardDMAMap", 40ul, 0ul},
        {"map: no device", kUndescribed, nullptr, 0, -52000l, "tStandardDMAMap", 40ul, 0ul},
        {"map: beyond the list", kStandard, nullptr, 0, -52005l, "tStandardDMAMap", 79ul,
         3 * kPage},
        {"direct: no segment array", kDirect, kMalloc, 1, -52000l, "memory", 520ul, 0ul},
        {"direct: no bounce records", kDirect, kMalloc, 2, -52000l, "memory", 520ul, 0ul},
        {"direct: beyond the list", kDirect, nullptr, 0, -52017l, "tDirectDMAMap", 212ul,
         2 * kPage},
        {"direct: bounce buffer unmapped", kDirect, "nQVZOR220_tPageList_mapToKernel", 1, -52000l,
         "memory", 1079ul, 0ul},
        {"links: no link record", kLinks, kMalloc, 2, -52000l, "memory", 520ul, 0ul},
        {"links: memory shorter than a link", kShortLinks, nullptr, 0, -52017l, "tVexusSGL", 610ul,
         0ul},
        {"ring: no object", kRing, kCreate, 1, -52000l, "tStandardDMAMap", 40ul, 0ul},
        {"ring: fewer than no extra words", kRing, nullptr, 0, -52005l, "tVexusInterruptManagerISP",
         52ul, 0ul}}) {
    SCOPED_TRACE(name);
    configuration_.configure(object == kDirect ? 1 : 2,
                             object == kUndescribed ? nullptr : &description_);
    tDirectDMAMap direct(&configuration_);
    tStatus ok;
    // Arrays of a smaller load stay through a failed larger one.
    direct.load(b.list, 0, 100, kDMAHostToDevice, ok);
    direct.unload();
    sim::enableCallLog(true);
    if (fault != nullptr) sim::failNthCall(fault, nth);
    tLongStatus status;
    if (object == kStandard || object == kUndescribed) {
      tStandardDMAMap map(&configuration_);
      map.load(b.list, offset, 2 * kPage, kDMAHostToDevice, status);
      EXPECT_FALSE(map.moreSGLSegments());
      EXPECT_EQ(sim::callCount("nQVZOR220_tSGL_map"), line == 40 ? 0u : 1u);
    } else if (object == kDirect) {
      direct.load(b.list, offset, 3 * kPage, kDMAHostToDevice, status);
      EXPECT_EQ(direct.numSGLSegments() + direct.bounceCount(), 0u);
    } else if (object == kRing) {
      tVexusInterruptManagerISP ring(&record_, &configuration_, line == 52 ? -1 : 2, 4, 0, status);
      ring.reactivate();
      EXPECT_FALSE(ring.ringEnabled());
      EXPECT_EQ(ring.dequeueInterrupt(), 0u);
      EXPECT_EQ(bar().load(tVexusInterruptManager::kRingControl, 4), 0u);
    } else {
      ShortMemorySGL shortLinks;
      tVexusSGL links;
      tVexusSGL& sgl = object == kLinks ? links : shortLinks;
      sgl.initialize(&configuration_, 64, status);
      EXPECT_EQ(sgl.firstLink(), nullptr);
    }
    expectSite(status, code, file, line);
    sim::reset();
    direct.release();
    EXPECT_EQ(counts(), base);
  }
}

}  // namespace
