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
  // Adds an entry, 'T' a transfer or 'R' a 32-bit register write (in lower
  // case: asking for a new link), and returns what the chip should find.
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

// A narrow value fills the word; an entry never splits across links, and a
// new link is started only where the current one holds entries.
TEST_F(VexusSGLTest, EntriesAreEncodedAndLinksChainAsTheChipWalksThem) {
  start(64);
  tStatus status;
  std::vector<Entry> expected;
  for (auto [offset, value, width, entry] :
       {std::tuple{0x40u, 0x5Au, 1u, Entry{0x5A5A5A5A, 0x80000040, 0}},
        {0x44u, 0xBEEFu, 2u, Entry{0xBEEFBEEF, 0x88000044, 0}},
        {0x4Cu, 0x1234u, 0u, Entry{0x1234, 0x9800004C, 0}},
        {0x7FFFFFCu, 7u, 3u, Entry{7, 0x9FFFFFFC, 0}}}) {
    EXPECT_EQ(sgl_.addRegisterWrite(offset, value, width, status, false).link, sgl_.firstLink());
    expected.push_back(entry);
  }
  // Unencodable: width code 5, an offset past 27 bits, no bytes.
  for (auto [offset, width] : {std::pair{0x50u, 5u}, {0x8000000u, 4u}}) {
    tLongStatus refused;
    EXPECT_EQ(sgl_.addRegisterWrite(offset, 1, width, refused, false).link, nullptr);
    expectSite(refused, -52005, "tVexusSGL", 160);
  }
  tLongStatus empty;
  EXPECT_EQ(sgl_.addTransfer(0x1234, 0, empty, false), nullptr);
  expectSite(empty, -52005, "tVexusSGL", 187);

  for (char kind : std::string("TTTTRRRRRTrt")) expected.push_back(add(kind, status));
  sgl_.addLink(status);
  expected.push_back(add('r', status));
  sgl_.terminate();
  Walk const w = walk(sgl_.getFirstLink());
  EXPECT_FALSE(w.ring);
  EXPECT_EQ(w.used, (std::vector<uint32_t>{64, 64, 56, 32, 24, 32, 24}));
  EXPECT_EQ(w.flags, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, kVexusLinkLast}));
  EXPECT_EQ(w.entries, expected);
}

TEST_F(VexusSGLTest, ARingIsPackedBalancedAndRunsRoundItsLinks) {
  // Repeated: a one-link program spread over two links.
  for (auto [name, linkSize, entries, mark, used, repeated] :
       {std::tuple{"one transfer over two links", 64u, "T", true, std::vector<uint32_t>{64, 64},
                   true},
        {"a copy broken across the two links", 80u, "TR", false, {80, 72}, true},
        {"three links, too little to share", 64u, "TTTTTTT", true, {64, 64, 32}, false},
        {"sparse links packed into one", 64u, "ttt", true, {64, 64}, true},
        {"mixed entries packed", 64u, "TrRtrT", false, {64, 40}, false}}) {
    SCOPED_TRACE(name);
    start(linkSize);
    tStatus status;
    std::vector<Entry> program;
    for (char const* e = entries; *e != 0; ++e) program.push_back(add(*e, status));
    sgl_.closeRing(mark, status);
    ASSERT_EQ(status.code, 0);
    Walk const w = walk(sgl_.getFirstLink());
    EXPECT_TRUE(w.ring);
    EXPECT_EQ(w.used, used);
    std::vector<uint32_t> flags(used.size(), 0);
    if (mark && used.size() == 2) flags.back() = kVexusLinkMark;
    EXPECT_EQ(w.flags, flags);
    std::vector<Entry> expected;
    do expected.insert(expected.end(), program.begin(), program.end());
    while (repeated && expected.size() < w.entries.size());
    EXPECT_EQ(w.entries, expected);
    // A marked pair is closed again as it is.
    sgl_.closeRing(mark, status);
    EXPECT_EQ(walk(sgl_.getFirstLink()).used, used);
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

  // A rewound list is one empty link again, in the first link memory.
  tStatus ok;
  for (int i = 0; i < 30; ++i) add('T', ok);
  sgl_.closeRing(ok);
  sgl_.rewind();
  EXPECT_EQ(sgl_.firstLink(), sgl_.currentLink());
  EXPECT_EQ(std::tuple(sgl_.linkMemories()->next, sgl_.linkMemories()->consumed),
            std::tuple(nullptr, 512u));
  sgl_.terminate();
  Walk const one = walk(sgl_.getFirstLink());
  EXPECT_EQ(std::tuple(one.used, one.flags),
            std::tuple(std::vector<uint32_t>{16}, std::vector<uint32_t>{kVexusLinkLast}));
}

}  // namespace
