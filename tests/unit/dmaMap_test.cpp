// DMA buffers and maps over page lists placed in simulated physical memory:
// what a device reaches at the segments, bounce buffering for devices of 32
// bits, and every refusal of the layer by the objects that allocate from it.
#include "platform/dma/dmaMap.h"

#include "dmaTestSupport.h"
#include "platform/dma/vexusInterruptManager.h"
#include "platform/dma/vexusSGL.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace {

using namespace dmatest;

constexpr uint64_t kNoNode = 0xFFFFFFFF;
constexpr uint64_t kPage = sim::kLayerPageSize;

class DmaMapTest : public DmaTest {};

TEST_F(DmaMapTest, BuffersFollowTheDeviceTypeItsNodeAndTheAlignment) {
  struct Case {
    char const* name;
    uint64_t type, node, size, flags, alignment;
    char const* fault;
    int64_t code;
    char const* file;
    uint64_t line, bytes, listFlags;
  };
  Case const cases[] = {
      {"not configured", 0, kNoNode, kPage, 0, 8, nullptr, -52002, "tDMAConfiguration", 69, 0, 0},
      {"64-bit, no node", 2, kNoNode, 5000, 4, 8, nullptr, 0, nullptr, 0, 2 * kPage, 4},
      {"32-bit, node 1, alignment 0", 1, 1, kPage, 4, 0, nullptr, 0, nullptr, 0, kPage, 6},
      {"odd alignment", 2, kNoNode, kPage, 0, 3000, nullptr, -52005, "memory", 633, 0, 0},
      {"layer refuses", 2, kNoNode, kPage, 0, 8, "nQVZOR220_tPageList_createFromAllocation", -52000,
       "memory", 767, 0, 0},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    description_.numaNode = static_cast<uint32_t>(c.node);
    configuration_.configure(c.type, &description_);
    if (c.fault != nullptr) sim::failNthCall(c.fault, 1);
    tLongStatus status;
    tPageList list{};
    EXPECT_EQ(configuration_.allocateDMABuffer(list, c.size, c.flags, status, c.alignment),
              c.bytes);
    if (c.code != 0) expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(status.head.code, c.code);
    EXPECT_EQ(list.size, c.bytes);
    EXPECT_EQ(sim::livePageLists(), before_[1] + (c.bytes != 0 ? 1 : 0));
    if (auto info = sim::pageList(list.handle)) {
      EXPECT_EQ(info->flags, c.listFlags);
      EXPECT_EQ(info->physical.size() * kPage, c.bytes);
      EXPECT_EQ(info->node, c.node == kNoNode ? std::nullopt : std::optional(uint32_t(c.node)));
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
  struct Case {
    char const* name;
    uint64_t runPages, offset, size, segments;
  };
  Case const cases[] = {{"runs of two pages", 2, 100, 10000, 2},
                        {"page by page", 1, 100, 10000, 3},
                        {"inside one page", 1, 5000, 100, 1}};
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    sim::setPagePlacement({.runPages = c.runPages});
    Buffer& b = buffer(4);
    tStandardDMAMap map(&configuration_);
    tStatus status;
    map.load(b.list, 0, kPage, kDMAHostToDevice, status);
    uint64_t const smaller = map.handle();
    map.unload();
    map.load(b.list, c.offset, c.size, kDMADeviceToHost, status);
    EXPECT_EQ(status.code, 0);
    // A larger range takes a new object; the old one is gone.
    EXPECT_EQ(map.handle() == smaller, c.size <= kPage);
    EXPECT_EQ(sim::liveScatterGathers(), before_[2] + 1);
    EXPECT_EQ(map.numSGLSegments(), c.segments);
    EXPECT_EQ(deviceView(map),
              std::vector<uint8_t>(b.bytes + c.offset, b.bytes + c.offset + c.size));
    auto const sgl = sim::scatterGather(map.handle());
    EXPECT_EQ(sgl->device, function_->handle());
    EXPECT_TRUE(sgl->fromDevice);
    map.unload();
    EXPECT_FALSE(sim::scatterGather(map.handle())->mapped);
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
  struct Case {
    char const* name;
    sim::PagePlacement placement;
    uint32_t type;
    bool over4G;
    tDMADirection direction;
    uint64_t offset, size, records, completed;
  };
  sim::PagePlacement const high{.runPages = 1, .high = true},
      alternating{.runPages = 1, .high = true, .alternate = true},
      across{.nextLow = sim::k4GiB - kPage};
  tDMADirection const out = kDMAHostToDevice, in = kDMADeviceToHost;
  Case const cases[] = {
      {"64-bit device, high pages", high, 2, true, out, 100, 10000, 0, 0},
      {"no memory above 4 GiB", high, 1, false, out, 100, 10000, 0, 0},
      {"high pages join", high, 1, true, out, 100, 10000, 1, 0},
      {"alternating runs", alternating, 1, true, out, 100, 14000, 2, 0},
      {"alternating runs, written back in part", alternating, 1, true, in, 100, 14000, 2, 9000},
      {"a run across 4 GiB", across, 1, true, in, 0, 2 * kPage, 1, 2 * kPage},
  };
  uint64_t bounceAt = 0x30000000;
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    sim::setPagePlacement(c.placement);
    sim::setAddressableMemOver4G(c.over4G);
    configuration_.configure(c.type, &description_);
    Buffer& b = buffer(4);
    std::vector<uint8_t> const original(b.bytes + c.offset, b.bytes + c.offset + c.size);
    // Bounce pages come low and page by page.
    sim::setPagePlacement({.runPages = 1, .nextLow = bounceAt += 0x100000});
    tDirectDMAMap map(&configuration_);
    tStatus status;
    map.load(b.list, c.offset, c.size, c.direction, status);
    ASSERT_EQ(status.code, 0);
    EXPECT_EQ(map.bounceCount(), c.records);
    for (map.resetSGLIterator(); map.moreSGLSegments();) {
      tDMASegment const s = map.nextSGLSegment();
      EXPECT_TRUE(c.type != 1 || !c.over4G || s.busAddress + s.size <= sim::k4GiB);
    }
    if (c.direction == kDMAHostToDevice) {
      map.prepareForDMA();
      EXPECT_EQ(deviceView(map), original);
      continue;
    }
    std::vector<uint8_t> const written = deviceView(map, true);
    map.completeDMA(c.completed);
    for (uint64_t i = 0; i < c.size; ++i)
      ASSERT_EQ(b.bytes[c.offset + i],
                !bounced(map, i) || i < c.completed ? written[i] : original[i])
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
  struct Case {
    char const* name;
    Object object;
    char const* fault;
    uint64_t nth;
    int64_t code;
    char const* file;
    uint64_t line, offset = 0;
  };
  Case const cases[] = {
      {"map: no object", kStandard, "nQVZOR220_tSGL_createForPCI", 1, -52000, "tStandardDMAMap",
       40},
      {"map: no device", kUndescribed, nullptr, 0, -52000, "tStandardDMAMap", 40},
      {"map: beyond the list", kStandard, nullptr, 0, -52005, "tStandardDMAMap", 79, 3 * kPage},
      {"direct: no segment array", kDirect, "nQVZOR100_malloc", 1, -52000, "memory", 520},
      {"direct: no bounce records", kDirect, "nQVZOR100_malloc", 2, -52000, "memory", 520},
      {"direct: beyond the list", kDirect, nullptr, 0, -52017, "tDirectDMAMap", 212, 2 * kPage},
      {"direct: bounce buffer unmapped", kDirect, "nQVZOR220_tPageList_mapToKernel", 1, -52000,
       "memory", 1079},
      {"links: no link record", kLinks, "nQVZOR100_malloc", 2, -52000, "memory", 520},
      {"links: memory shorter than a link", kShortLinks, nullptr, 0, -52017, "tVexusSGL", 610},
      {"ring: no object", kRing, "nQVZOR220_tSGL_createForPCI", 1, -52000, "tStandardDMAMap", 40},
      {"ring: fewer than no extra words", kRing, nullptr, 0, -52005, "tVexusInterruptManagerISP",
       52},
  };
  sim::setPagePlacement({.runPages = 1, .high = true});
  Buffer& b = buffer(4);
  auto const base = counts();
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    configuration_.configure(c.object == kDirect ? 1 : 2,
                             c.object == kUndescribed ? nullptr : &description_);
    tDirectDMAMap direct(&configuration_);
    tStatus ok;
    // Arrays of a smaller load stay through a failed larger one.
    direct.load(b.list, 0, 100, kDMAHostToDevice, ok);
    direct.unload();
    sim::enableCallLog(true);
    if (c.fault != nullptr) sim::failNthCall(c.fault, c.nth);
    tLongStatus status;
    if (c.object == kStandard || c.object == kUndescribed) {
      tStandardDMAMap map(&configuration_);
      map.load(b.list, c.offset, 2 * kPage, kDMAHostToDevice, status);
      EXPECT_FALSE(map.moreSGLSegments());
      EXPECT_EQ(sim::callCount("nQVZOR220_tSGL_map"), c.line == 40 ? 0u : 1u);
    } else if (c.object == kDirect) {
      direct.load(b.list, c.offset, 3 * kPage, kDMAHostToDevice, status);
      EXPECT_EQ(direct.numSGLSegments() + direct.bounceCount(), 0u);
    } else if (c.object == kRing) {
      tVexusInterruptManagerISP ring(&record_, &configuration_, c.line == 52 ? -1 : 2, 4, 0,
                                     status);
      ring.reactivate();
      EXPECT_FALSE(ring.ringEnabled());
      EXPECT_EQ(ring.dequeueInterrupt(), 0u);
      EXPECT_EQ(bar().load(tVexusInterruptManager::kRingControl, 4), 0u);
    } else {
      ShortMemorySGL shortLinks;
      tVexusSGL links;
      tVexusSGL& sgl = c.object == kLinks ? links : shortLinks;
      sgl.initialize(&configuration_, 64, status);
      EXPECT_EQ(sgl.firstLink(), nullptr);
    }
    expectSite(status, c.code, c.file, c.line);
    sim::reset();
    direct.release();
    EXPECT_EQ(counts(), base);
  }
}

}  // namespace
