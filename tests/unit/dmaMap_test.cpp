// DMA buffers and the two DMA maps over page lists placed in simulated
// physical memory: what a device reaches at the segments, bounce buffering
// for devices of 32 bits, and every refusal of the layer.
#include "platform/dma/dmaMap.h"

#include "dmaTestSupport.h"
#include "platform/statusCodes.h"

namespace {

using namespace dmatest;

constexpr uint32_t kNoNode = 0xFFFFFFFF;
constexpr uint64_t kPage = sim::kLayerPageSize;

class DmaMapTest : public DmaTest {};

TEST_F(DmaMapTest, BuffersFollowTheDeviceTypeItsNodeAndTheAlignment) {
  struct Case {
    char const* name;
    uint32_t type, node;
    uint64_t size;
    uint32_t flags;
    uint64_t alignment;
    char const* fault;
    int64_t code;
    char const* file;
    uint64_t line, bytes;
    uint32_t listFlags;
  };
  Case const cases[] = {
      {"not configured", 0, kNoNode, kPage, 0, 8, nullptr, -52002, "tDMAConfiguration", 69, 0, 0},
      {"64-bit, no node", 2, kNoNode, 5000, 4, 8, nullptr, 0, "", 0, 2 * kPage, 4},
      {"32-bit, node 1, alignment 0", 1, 1, kPage, 4, 0, nullptr, 0, "", 0, kPage, 6},
      {"odd alignment, node", 2, 0, kPage, 0, 3, nullptr, -52005, "memory", 797, 0, 0},
      {"odd alignment", 2, kNoNode, kPage, 0, 3000, nullptr, -52005, "memory", 633, 0, 0},
      {"node refuses", 2, 0, kPage, 0, 8, "nQVZOR1_tPageList_createFromAllocationNUMA", -52000,
       "memory", 876, 0, 0},
      {"layer refuses", 2, kNoNode, kPage, 0, 8, "nQVZOR220_tPageList_createFromAllocation", -52000,
       "memory", 767, 0, 0},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    description_.numaNode = c.node;
    configuration_.configure(c.type, &description_);
    if (c.fault != nullptr) sim::failNthCall(c.fault, 1);
    tLongStatus status;
    tPageList list{};
    EXPECT_EQ(configuration_.allocateDMABuffer(list, c.size, c.flags, status, c.alignment),
              c.bytes);
    expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(list.size, c.bytes);
    EXPECT_EQ(sim::livePageLists(), before_.lists + (c.bytes != 0 ? 1 : 0));
    if (auto info = sim::pageList(list.handle)) {
      EXPECT_EQ(info->flags, c.listFlags);
      EXPECT_EQ(info->physical.size() * kPage, c.bytes);
      EXPECT_EQ(info->node, c.node == kNoNode ? std::nullopt : std::optional(c.node));
    }
    configuration_.freeDMABuffer(list);
    EXPECT_EQ(list.handle, 0u);
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
  Case const cases[] = {
      {"one run", 0, 100, 10000, 1},
      {"runs of two pages", 2, 100, 10000, 2},
      {"page by page", 1, 100, 10000, 3},
      {"inside one page", 1, 5000, 100, 1},
      {"every page whole", 1, 0, 4 * kPage, 4},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    sim::setPagePlacement(placement(c.runPages));
    Buffer& b = buffer(4);
    {
      tStandardDMAMap map(&configuration_);
      tStatus status;
      map.load(b.list, c.offset, c.size, kDMADeviceToHost, status);
      EXPECT_EQ(status.code, 0);
      EXPECT_EQ(map.numSGLSegments(), c.segments);
      EXPECT_EQ(map.capacity(), (c.size + kPage - 1) / kPage + 1);
      EXPECT_EQ(deviceView(map),
                std::vector<uint8_t>(b.bytes + c.offset, b.bytes + c.offset + c.size));
      auto const sgl = sim::scatterGather(map.handle());
      EXPECT_EQ(sgl->device, function_->handle());
      EXPECT_TRUE(sgl->fromDevice);
      map.unload();
      EXPECT_FALSE(sim::scatterGather(map.handle())->mapped);
      EXPECT_EQ(map.nextSGLSegment().size, 0u);
    }
    freeBuffers();
  }
}

TEST_F(DmaMapTest, StandardMapMakesANewObjectOnlyForALargerRange) {
  Buffer& b = buffer(4);
  tStandardDMAMap map(&configuration_);
  tStatus status;
  map.load(b.list, 0, kPage, kDMAHostToDevice, status);
  uint64_t const first = map.handle();
  map.unload();
  map.load(b.list, 0, 100, kDMAHostToDevice, status);
  EXPECT_EQ(map.handle(), first);
  map.unload();
  map.load(b.list, 0, 3 * kPage, kDMAHostToDevice, status);
  EXPECT_EQ(status.code, 0);
  EXPECT_NE(map.handle(), first);
  EXPECT_FALSE(sim::scatterGather(first));
  EXPECT_EQ(map.capacity(), 4u);
  EXPECT_EQ(sim::liveScatterGathers(), before_.sgls + 1);
}

TEST_F(DmaMapTest, StandardMapRefusalsLeaveItUnloaded) {
  struct Case {
    char const* name;
    char const* fault;
    int32_t layerCode;
    bool described;
    uint64_t offset;
    int64_t code;
    uint64_t line;
  };
  Case const cases[] = {
      {"no scatter-gather object", "nQVZOR220_tSGL_createForPCI", 0, true, 0, -52000, 40},
      {"no device to map for", nullptr, 0, false, 0, -52000, 40},
      {"the layer is out of memory", "nQVZOR220_tSGL_map", -51352, true, 0, -52000, 79},
      {"a range beyond the list", nullptr, 0, true, 3 * kPage, -52005, 79},
  };
  Buffer& b = buffer(4);
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    configuration_.configure(tDMAConfiguration::kDMA64Bit, c.described ? &description_ : nullptr);
    sim::enableCallLog(true);
    if (c.fault != nullptr) {
      sim::failNthCall(c.fault, 1);
      sim::setFailureCode(c.fault, c.layerCode);
    }
    tStandardDMAMap map(&configuration_);
    tLongStatus status;
    map.load(b.list, c.offset, 2 * kPage, kDMAHostToDevice, status);
    expectSite(status, c.code, "tStandardDMAMap", c.line);
    // Without an object nothing is mapped.
    if (c.line == 40) {
      EXPECT_EQ(sim::callCount("nQVZOR220_tSGL_map"), 0u);
    }
    EXPECT_EQ(map.size(), 0u);
    EXPECT_FALSE(map.moreSGLSegments());
    sim::reset();
  }
}

// The device writes its view; the caller's pages see it once the DMA is complete.
template <class tMap>
std::vector<uint8_t> deviceWrites(tMap& map) {
  std::vector<uint8_t> written;
  map.resetSGLIterator();
  while (map.moreSGLSegments()) {
    tDMASegment const s = map.nextSGLSegment();
    uint8_t* host = sim::physicalToHost(s.busAddress, s.size);
    for (uint64_t i = 0; i < s.size; ++i)
      written.push_back(host[i] = uint8_t(0xA0 + written.size() % 50));
  }
  return written;
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
  Case const cases[] = {
      {"64-bit device, high pages", placement(1, true), 2, true, kDMAHostToDevice, 100, 10000, 0,
       0},
      {"32-bit device, low pages", placement(1), 1, true, kDMAHostToDevice, 100, 10000, 0, 0},
      {"32-bit device, no memory above 4 GiB", placement(1, true), 1, false, kDMAHostToDevice, 100,
       10000, 0, 0},
      {"high pages join into one stretch", placement(1, true), 1, true, kDMAHostToDevice, 100,
       10000, 1, 0},
      {"alternating runs", placement(1, true, true), 1, true, kDMAHostToDevice, 100, 14000, 2, 0},
      {"alternating runs, written back in part", placement(1, true, true), 1, true,
       kDMADeviceToHost, 100, 14000, 2, 9000},
      {"a run across 4 GiB", placement(0, false, false, sim::k4GiB - kPage), 1, true,
       kDMADeviceToHost, 0, 2 * kPage, 1, 2 * kPage},
  };
  uint64_t low = 0x30000000;
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    sim::setPagePlacement(c.placement);
    sim::setAddressableMemOver4G(c.over4G);
    configuration_.configure(c.type, &description_);
    Buffer& b = buffer(4);
    std::vector<uint8_t> const original(b.bytes + c.offset, b.bytes + c.offset + c.size);
    // Bounce pages come low and page by page.
    sim::setPagePlacement(placement(1, false, false, low += 0x100000));
    {
      tDirectDMAMap map(&configuration_);
      tStatus status;
      map.load(b.list, c.offset, c.size, c.direction, status);
      ASSERT_EQ(status.code, 0);
      EXPECT_EQ(map.bounceCount(), c.records);
      for (map.resetSGLIterator(); map.moreSGLSegments();) {
        tDMASegment const s = map.nextSGLSegment();
        if (c.type == 1 && c.over4G) {
          EXPECT_LE(s.busAddress + s.size, sim::k4GiB);
        }
      }
      if (c.direction == kDMAHostToDevice) {
        map.prepareForDMA();
        EXPECT_EQ(deviceView(map), original);
      } else {
        std::vector<uint8_t> const written = deviceWrites(map);
        map.completeDMA(c.completed);
        for (uint64_t i = 0; i < c.size; ++i) {
          uint8_t const expected = !bounced(map, i) || i < c.completed ? written[i] : original[i];
          ASSERT_EQ(b.bytes[c.offset + i], expected) << "at " << i;
        }
      }
      EXPECT_EQ(sim::pageList(b.list.handle)->pageMappings, 0u);
    }
    freeBuffers();
  }
}

TEST_F(DmaMapTest, DirectMapRefusalsAreReportedAndLeaveItUnloaded) {
  struct Case {
    char const* name;
    uint32_t type;
    char const* fault;
    uint64_t nth, offset, size;
    int64_t code;
    char const* file;
    uint64_t line;
  };
  Case const cases[] = {
      {"no segment array", 2, "nQVZOR100_malloc", 1, 0, 3 * kPage, -52000, "memory", 520},
      {"no bounce records", 1, "nQVZOR100_malloc", 2, 0, 3 * kPage, -52000, "memory", 520},
      {"a range beyond the list", 2, nullptr, 0, 2 * kPage, 3 * kPage, -52017, "tDirectDMAMap",
       212},
      {"no physical address", 2, "nQVZOR220_tPageList_getPhysicalAddress", 2, 0, 3 * kPage, -52017,
       "tDirectDMAMap", 212},
      {"no bounce buffer", 1, "nQVZOR220_tPageList_createFromAllocation", 1, 0, 3 * kPage, -52000,
       "memory", 767},
      {"bounce buffer not mapped", 1, "nQVZOR220_tPageList_mapToKernel", 1, 0, 3 * kPage, -52000,
       "memory", 1079},
  };
  sim::setPagePlacement(placement(1, true));
  sim::setAddressableMemOver4G(true);
  Buffer& b = buffer(4);
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    configuration_.configure(c.type, &description_);
    tDirectDMAMap map(&configuration_);
    tLongStatus status;
    // Arrays of a smaller load stay through a failed larger one.
    map.load(b.list, 0, 100, kDMAHostToDevice, status.head);
    map.unload();
    if (c.fault != nullptr) sim::failNthCall(c.fault, c.nth);
    map.load(b.list, c.offset, c.size, kDMAHostToDevice, status);
    expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(map.numSGLSegments(), 0u);
    EXPECT_EQ(map.bounceCount(), 0u);
    sim::clearFaults();
  }
}

}  // namespace
