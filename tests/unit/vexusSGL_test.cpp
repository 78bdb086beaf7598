// The bridge chip's descriptor lists, read back from simulated DMA memory
// and walked from the first link as the chip walks them.
#include "platform/dma/vexusSGL.h"

#include <cctype>
#include <cstring>

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
    if (link == nullptr) return ADD_FAILURE() << "a link outside DMA memory", w;
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
    bus = h.flags & kVexusLinkLast ? 0 : h.nextBusAddress;
    used = h.nextUsedBytes;
    if ((w.ring = bus == first.busAddress)) break;
  }
  return w;
}

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
  // Adds an entry, 'T' a transfer or 'R' a register write (in lower case:
  // asking for a new link), and returns what the chip should find for it.
  Entry add(char kind, tStatus& status) {
    uint32_t const n = ++added_;
    bool const newLink = std::islower(kind);
    if (std::toupper(kind) == 'T') {
      sgl_.addTransfer(0x1000 * n, n, status, newLink);
      return {n, 0, 0x1000 * n};
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
  // Three transfers fill a 64-byte link; register writes fill what is left.
  // A new link is started only where the current one holds entries.
  std::vector<Entry> expected;
  for (char kind : std::string("TTTTRRRRRTrt")) expected.push_back(add(kind, status));
  sgl_.addLink(status);
  expected.push_back(add('r', status));
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
  struct Case {
    char const* name;
    uint32_t linkSize;
    char const* entries;
    bool mark;
    std::vector<uint32_t> used;
    bool repeated;  // a one-link program spread over two links
  };
  Case const cases[] = {
      {"one transfer over two links", 64, "T", true, {64, 64}, true},
      {"a copy broken across the two links", 80, "TR", false, {80, 72}, true},
      {"three links, too little to share", 64, "TTTTTTT", true, {64, 64, 32}, false},
      {"sparse links packed into one", 64, "ttt", true, {64, 64}, true},
      {"mixed entries packed", 64, "TrRtrT", false, {64, 40}, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    start(c.linkSize);
    tStatus status;
    std::vector<Entry> program;
    for (char const* e = c.entries; *e != 0; ++e) program.push_back(add(*e, status));
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
  for (int i = 0; i < 30; ++i) add('T', ok);
  sgl_.closeRing(ok);
  sgl_.rewind();
  EXPECT_EQ(sgl_.firstLink(), sgl_.currentLink());
  EXPECT_EQ(sgl_.getFirstLink().busAddress, firstBus);
  EXPECT_EQ(sgl_.getFirstLink().size, 16u);
  EXPECT_EQ(sgl_.linkMemories()->next, nullptr);
  EXPECT_EQ(sgl_.linkMemories()->consumed, 512u);
  sgl_.terminate();
  Walk const one = walk(sgl_.getFirstLink());
  EXPECT_EQ(one.used, std::vector<uint32_t>{16});
  EXPECT_EQ(one.flags, std::vector<uint32_t>{kVexusLinkLast});
}

}  // namespace
