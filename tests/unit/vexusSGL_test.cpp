// The bridge chip's descriptor lists, read back from simulated DMA memory
// and walked from the first link as the chip walks them.
#include "platform/dma/vexusSGL.h"

#include "dmaTestSupport.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace {

using namespace dmatest;

struct Entry {
  uint32_t first, second;
  uint64_t address;  // of a transfer
  friend bool operator==(Entry const&, Entry const&) = default;
};

struct Walk {
  std::vector<uint32_t> used, flags;
  std::vector<Entry> entries;
  bool ring = false;
};

// From the first link on, each header naming the next, until a last link or
// the first link again.
Walk walk(tDMASegment first) {
  Walk w;
  uint64_t bus = first.busAddress, used = first.size;
  while (bus != 0 && w.used.size() < 64) {
    uint8_t const* link = sim::physicalToHost(bus, used);
    if (link == nullptr) {
      ADD_FAILURE() << "a link outside DMA memory";
      break;
    }
    tVexusLinkHeader h;
    std::memcpy(&h, link, sizeof h);
    w.used.push_back(static_cast<uint32_t>(used));
    w.flags.push_back(h.flags);
    for (uint64_t at = 16; at < used;) {
      Entry e{};
      std::memcpy(&e.first, link + at, 4);
      std::memcpy(&e.second, link + at + 4, 4);
      if (e.second == 0) std::memcpy(&e.address, link + at + 8, 8);
      w.entries.push_back(e);
      at += e.second == 0 ? 16 : 8;
    }
    if (h.flags & kVexusLinkLast) break;
    bus = h.nextBusAddress;
    used = h.nextUsedBytes;
    if (bus == first.busAddress) w.ring = true;
    if (w.ring) break;
  }
  return w;
}

Entry transfer(uint64_t address, uint32_t bytes) { return {bytes, 0, address}; }

class VexusSGLTest : public DmaTest {
 protected:
  void TearDown() override {
    sgl_.clear();
    DmaTest::TearDown();
  }
  void start(uint32_t linkSize) {
    tStatus status;
    sgl_.initialize(&configuration_, linkSize, status);
    ASSERT_EQ(status.code, 0);
  }
  // Adds an entry, 'T' a transfer or 'R' a register write, and returns what
  // the chip should find for it.
  Entry add(char kind, bool newLink, tStatus& status) {
    uint32_t const n = ++added_;
    if (kind == 'T') {
      sgl_.addTransfer(0x1000 * n, n, status, newLink);
      return transfer(0x1000 * n, n);
    }
    sgl_.addRegisterWrite(4 * n, n, 4, status, newLink);
    return {n, 0x90000000 | 4 * n, 0};
  }

  tVexusSGL sgl_;
  uint32_t added_ = 0;
};

TEST_F(VexusSGLTest, EntriesAreEncodedAsTheChipReadsThem) {
  struct Case {
    char const* name;
    uint32_t offset, value, width;
    Entry expected;  // second word 0: refused
  };
  Case const cases[] = {
      {"an 8-bit value in every byte", 0x40, 0x5A, 1, {0x5A5A5A5A, 0x80000040, 0}},
      {"a 16-bit value in both halves", 0x44, 0xBEEF, 2, {0xBEEFBEEF, 0x88000044, 0}},
      {"a 32-bit value", 0x48, 0x12345678, 4, {0x12345678, 0x90000048, 0}},
      {"width code 0", 0x4C, 0x1234, 0, {0x1234, 0x9800004C, 0}},
      {"width code 3 at the last offset", 0x7FFFFFC, 7, 3, {7, 0x9FFFFFFC, 0}},
      {"width code 5", 0x50, 1, 5, {}},
      {"an offset past 27 bits", 0x8000000, 1, 4, {}},
  };
  start(512);
  std::vector<Entry> expected;
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    tLongStatus status;
    auto const place = sgl_.addRegisterWrite(c.offset, c.value, c.width, status, false);
    if (c.expected.second == 0) {
      expectSite(status, -52005, "tVexusSGL", 160);
      EXPECT_EQ(place.link, nullptr);
      continue;
    }
    EXPECT_EQ(status.head.code, 0);
    EXPECT_EQ(place.link, sgl_.firstLink());
    EXPECT_EQ(place.entryOffset, 16 + 8 * expected.size());
    expected.push_back(c.expected);
  }
  tLongStatus status;
  EXPECT_EQ(sgl_.addTransfer(0x1234, 0, status, false), nullptr);
  expectSite(status, -52005, "tVexusSGL", 187);
  sgl_.terminate();
  EXPECT_EQ(walk(sgl_.getFirstLink()).entries, expected);
}

TEST_F(VexusSGLTest, LinksFillWithWholeEntriesAndChainAsTheChipWalksThem) {
  start(64);
  tStatus status;
  sgl_.terminate();
  Walk const one = walk(sgl_.getFirstLink());
  EXPECT_EQ(one.flags, std::vector<uint32_t>{kVexusLinkLast});
  EXPECT_TRUE(one.entries.empty());
  // Three transfers fill a 64-byte link; register writes fill what is left.
  std::vector<Entry> expected;
  for (char kind : std::string("TTTT"
                               "RRRRR"
                               "T"))
    expected.push_back(add(kind, false, status));
  expected.push_back(add('R', true, status));  // a new link: the current one holds entries
  expected.push_back(add('T', true, status));  // a new link again
  ASSERT_EQ(status.code, 0);
  sgl_.addLink(status);
  expected.push_back(add('R', true, status));  // the current link is empty: it takes it
  sgl_.terminate();
  Walk const w = walk(sgl_.getFirstLink());
  EXPECT_FALSE(w.ring);
  EXPECT_EQ(w.used, (std::vector<uint32_t>{64, 64, 40, 24, 32, 24}));
  EXPECT_EQ(w.flags, (std::vector<uint32_t>{0, 0, 0, 0, 0, kVexusLinkLast}));
  EXPECT_EQ(w.entries, expected);
  // Eight links share a page of link memory, each 512-byte aligned.
  for (int i = 0; i < 4; ++i) sgl_.addLink(status);
  int memories = 0;
  for (auto* m = sgl_.linkMemories(); m != nullptr; m = m->next) ++memories;
  EXPECT_EQ(memories, 2);
  EXPECT_EQ(sgl_.currentLink()->busAddress % 512, 0u);
  tVexusSGL::tLinkMemory fresh;
  fresh.consume(100);
  EXPECT_EQ(fresh.consumed, 512u);
}

TEST_F(VexusSGLTest, ARingIsPackedBalancedAndRunsRoundItsLinks) {
  struct Op {
    char kind;
    bool newLink;
  };
  struct Case {
    char const* name;
    uint32_t linkSize;
    std::vector<Op> ops;
    bool mark;
    std::vector<uint32_t> used;
    bool repeated;  // a one-link program spread over two links
  };
  Case const cases[] = {
      {"one transfer over two links", 64, {{'T', false}}, true, {64, 64}, true},
      {"a copy broken across the two links",
       80,
       {{'T', false}, {'R', false}},
       false,
       {80, 72},
       true},
      {"three links, too little to share",
       64,
       std::vector<Op>(7, {'T', false}),
       true,
       {64, 64, 32},
       false},
      {"two links balanced", 64, std::vector<Op>(4, {'T', false}), false, {48, 48}, false},
      {"sparse links packed into one", 64, std::vector<Op>(3, {'T', true}), true, {64, 64}, true},
      {"mixed entries packed",
       64,
       {{'T', false}, {'R', true}, {'R', false}, {'T', true}, {'R', true}, {'T', false}},
       false,
       {64, 40},
       false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    start(c.linkSize);
    tStatus status;
    std::vector<Entry> program;
    for (Op const& op : c.ops) program.push_back(add(op.kind, op.newLink, status));
    sgl_.closeRing(c.mark, status);
    ASSERT_EQ(status.code, 0);
    Walk const w = walk(sgl_.getFirstLink());
    EXPECT_TRUE(w.ring);
    EXPECT_EQ(w.used, c.used);
    std::vector<uint32_t> flags(c.used.size(), 0);
    if (c.mark && c.used.size() == 2) flags.back() = kVexusLinkMark;
    EXPECT_EQ(w.flags, flags);
    std::vector<Entry> expected;
    do expected.insert(expected.end(), program.begin(), program.end());
    while (c.repeated && expected.size() < w.entries.size());
    EXPECT_EQ(w.entries, expected);
    // A marked pair is closed again as it is.
    sgl_.closeRing(c.mark, status);
    EXPECT_EQ(walk(sgl_.getFirstLink()).used, c.used);
    sgl_.clear();
  }
}

TEST_F(VexusSGLTest, AMapBecomesOneTransferPerSegment) {
  sim::setPagePlacement(placement(1));
  Buffer& b = buffer(3);
  tStandardDMAMap map(&configuration_);
  tStatus status;
  map.load(b.list, 200, 2 * sim::kLayerPageSize, kDMAHostToDevice, status);
  start(64);
  sgl_.addDMAMap(map, status);
  sgl_.terminate();
  std::vector<Entry> expected;
  for (map.resetSGLIterator(); map.moreSGLSegments();) {
    tDMASegment const s = map.nextSGLSegment();
    expected.push_back(transfer(s.busAddress, static_cast<uint32_t>(s.size)));
  }
  EXPECT_EQ(expected.size(), 3u);
  EXPECT_EQ(walk(sgl_.getFirstLink()).entries, expected);
}

TEST_F(VexusSGLTest, EmptyAndUnstartedListsAreRefusedOrLeftAlone) {
  sim::enableCallLog(true);
  sgl_.rewind();
  sgl_.clear();
  EXPECT_TRUE(sim::callLog().empty());
  tLongStatus status;
  EXPECT_EQ(sgl_.addTransfer(0x1000, 16, status, false), nullptr);
  expectSite(status, -52017, "tVexusSGL", 600);

  start(64);
  tLongStatus empty;
  sgl_.closeRing(empty);
  expectSite(empty, -52017, "tVexusSGL", 400);
  EXPECT_EQ(sgl_.firstLink()->next, nullptr);

  tStatus ok;
  uint64_t const firstBus = sgl_.getFirstLink().busAddress;
  for (int i = 0; i < 30; ++i) add('T', false, ok);
  sgl_.closeRing(ok);
  sgl_.rewind();
  EXPECT_EQ(sgl_.firstLink(), sgl_.currentLink());
  EXPECT_EQ(sgl_.getFirstLink().busAddress, firstBus);
  EXPECT_EQ(sgl_.getFirstLink().size, 16u);
  EXPECT_EQ(sgl_.linkMemories()->next, nullptr);
  EXPECT_EQ(sgl_.linkMemories()->consumed, 512u);
  sgl_.terminate();
  EXPECT_EQ(walk(sgl_.getFirstLink()).used, std::vector<uint32_t>{16});
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

TEST_F(VexusSGLTest, LinkMemoryTheLayerWillNotGiveIsReportedAndNothingLeaks) {
  struct Case {
    char const* name;
    char const* fault;
    uint64_t nth;
    int64_t code;
    char const* file;
    uint64_t line;
  };
  Case const cases[] = {
      {"no link memory object", "nQVZOR100_malloc", 1, -52000, "memory", 520},
      {"no link record", "nQVZOR100_malloc", 2, -52000, "memory", 520},
      {"no pages", "nQVZOR220_tPageList_createFromAllocation", 1, -52000, "memory", 767},
      {"pages not mapped", "nQVZOR220_tPageList_mapToKernel", 1, -52000, "memory", 1079},
      {"no scatter-gather object", "nQVZOR220_tSGL_createForPCI", 1, -52000, "tStandardDMAMap", 40},
      {"pages not mapped for the device", "nQVZOR220_tSGL_map", 1, -52005, "tStandardDMAMap", 79},
      {"memory shorter than a link", nullptr, 0, -52017, "tVexusSGL", 610},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    ShortMemorySGL shortMemory;
    tVexusSGL& sgl = c.fault != nullptr ? sgl_ : shortMemory;
    if (c.fault != nullptr) sim::failNthCall(c.fault, c.nth);
    tLongStatus status;
    sgl.initialize(&configuration_, 64, status);
    expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(sgl.firstLink(), nullptr);
    sgl.clear();
    sim::clearFaults();
    expectNothingLeft();
  }
}

}  // namespace
