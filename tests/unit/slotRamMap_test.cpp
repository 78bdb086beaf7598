// The slot RAM map: its sheet for the conformance harness, and what the
// harness cannot say: the exact ID set with the word and field each ID
// names, and the relay-state field arithmetic.
#include <map>
#include <optional>

#include "registers/slotram/RM7SlotRamRegisterMap.h"
#include "support/fpgaMapBuild.h"
#include "support/mapConformance.h"
#include "support/mappedModule.h"

namespace conformance {
namespace {

using qvrm7_driver::tRM7SlotRamRegisterMap;

constexpr char kFile[] = "armgen/RM7SlotRamRegisterMap";
constexpr char kCacheFile[] = "objects/codegen/qvrm7_driver_codegen/armgen/RM7SlotRamRegisterMap";

// 512 relay-state words of four 3-bit fields, then 1,024 relay-count words.
Sheet const kSlotRam = {
    "RM7SlotRamRegisterMap",
    sim::Rm7Fpga::kSlotRamBlock,
    sim::Rm7Fpga::kSlotRamSize,
    buildFpgaMap<tRM7SlotRamRegisterMap>(sim::Rm7Fpga::kSlotRamSize),
    [](sim::Rm7Module& m) { return fpgaProbe(m.fpga().slotRam()); },
    "22.8.0f141",
    "22.8.0f141",
    {kCacheFile, 14543},
    {kCacheFile, 28381},
    {kFile, 42218},
    {kFile, 56057},
    {kFile, 56093},
    {kFile, 56129},
    {kFile, 56201},
    kFile,
    {4608, 4608, 4608, 4608, 1536, 1536, 1536},
    [] {
      std::vector<Register> r;
      for (u32 offset = 0; offset < 0x800; offset += 4)
        r.push_back({offset, kReadWritten, 0x80000000 | offset, 379, 355, 56165, 4});
      for (u32 offset = 0x1000; offset < 0x2000; offset += 4)
        r.push_back({offset, kReadWritten, 0x80000000 | offset, 620, 596, 56183, 1});
      return r;
    }};

INSTANTIATE_TEST_SUITE_P(SlotRam, MapConformance, ::testing::Values(&kSlotRam), sheetName);

// The word each ID names, and the bits of it.
struct Named {
  u32 word;  // whole-register ID of the word
  u32 shift;
  u64 mask;  // of the value, before the shift
};

// The ID table as documented: whole words, the four relay states by their
// codes, the relay count with code 0.
std::map<u32, Named> documentedIDs() {
  std::map<u32, Named> ids;
  for (u32 offset = 0; offset < 0x800; offset += 4) {
    u32 const word = 0x80000000 | offset;
    ids[word] = {word, 0, 0xFFFFFFFF};
    u32 const codes[] = {0x00, 0x30, 0x18, 0x24};
    for (u32 field = 0; field < 4; ++field) ids[codes[field] << 24 | offset] = {word, 3 * field, 7};
  }
  for (u32 offset = 0x1000; offset < 0x2000; offset += 4) {
    ids[0x80000000 | offset] = {0x80000000 | offset, 0, 0xFFFFFFFF};
    ids[offset] = {0x80000000 | offset, 0, 0xFFFFFFFF};
  }
  return ids;
}

class SlotRamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_.emplace();
    accessor_ = {module_->bar0() + sim::Rm7Fpga::kSlotRamBlock, sim::Rm7Fpga::kSlotRamSize};
    build(0xFFFFFFFF);
  }
  void TearDown() override {
    EXPECT_TRUE(ram().strays().empty());
    map_.reset();
    module_.reset();
  }
  void build(u32 windowSize) {
    map_.reset();
    map_.emplace(&accessor_, 0, 0, windowSize);
    ram().clearLog();
  }
  sim::FpgaBlock& ram() { return module_->fpga().slotRam(); }
  tRM7SlotRamRegisterMap& map() { return *map_; }
  u64 get(u32 id, u32 index = 0) {
    tLongStatus status;
    u64 value = 0xBAD;
    map().get(id, value, status, index);
    EXPECT_EQ(status.head.code, 0) << std::hex << id;
    return value;
  }
  // The words the block received since the last look.
  std::vector<u64> writes() {
    std::vector<u64> words;
    for (auto const& a : ram().log())
      if (a.write) words.push_back(a.value);
    ram().clearLog();
    return words;
  }

  std::optional<testing_support::MappedModule> module_;
  tRM7SlotRamRegisterMap::tAccessor accessor_{};
  std::optional<tRM7SlotRamRegisterMap> map_;
};

TEST_F(SlotRamTest, ExactlyTheDocumentedIDsAreTakenEachNamingItsWordAndBits) {
  std::map<u32, Named> const ids = documentedIDs();
  ASSERT_EQ(ids.size(), 4608u);
  auto check = [&](u32 id, u32& accepted) {
    u32 const normal = id & 0x80000000 ? id & 0xC0FFFFFF : id;
    auto const named = ids.find(normal);
    tLongStatus status;
    u64 value = 0xBAD;
    map().get(id, value, status, 0);
    if ((status.head.code == 0) != (named != ids.end())) ADD_FAILURE() << std::hex << id;
    if (named == ids.end() || id != normal) return;
    ++accepted;
    map().set(id, ~u64{0}, status, 0);  // lands in exactly the named bits of the named word
    EXPECT_EQ(get(named->second.word), named->second.mask << named->second.shift) << std::hex << id;
    map().set(named->second.word, 0, status, 0);
  };
  u32 accepted = 0;
  for (u32 offset = 0; offset < 0x2100; ++offset)
    for (u32 high = 0; high < 256; ++high) check(high << 24 | offset, accepted);
  EXPECT_EQ(accepted, 4608u);
  u32 random = 0x12345678;
  for (int i = 0; i < 200000; ++i) check(random = random * 1664525u + 1013904223u, accepted);
}

TEST_F(SlotRamTest, RelayStatesTakeTheirLowThreeBitsAndKeepTheirNeighbours) {
  struct Case {
    u32 id;
    u64 value;
    u32 before;  // of the word at 0x3FC, or of the relay-count word the ID names
    u32 after;
  };
  Case const cases[] = {
      {0x240003FC, 5, 0, 0xA00},
      {0x240003FC, 13, 0, 0xA00},
      {0x300003FC, 0, 0xFFFFFFFF, 0xFFFFFFC7},
      {0x180003FC, 7, 0, 0x1C0},
      {0x180003FC, 13, 0, 0x140},
      {0x000003FC, 8, 0x5, 0},
      {0x000003FC, 0xFFFFFFFFFFFFFFF9, 0, 1},
      {0x800003FC, 0xFFFFFFFF, 0, 0xFFFFFFFF},
      {0xBF0003FC, 0x100000007, 0x10, 7},
      {0x80001000, 0x1122334455667788, 0, 0x55667788},
      {0x00001000, 0x1122334455667788, 0, 0x55667788},
      {0x00001000, 0x100000005, 5, 5},
      {0x8C001FFC, 9, 0, 9},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.id << " " << c.value);
    u32 const word = 0x80000000 | (c.id & 0xFFFFFF);
    for (bool throughWrite : {false, true}) {
      tLongStatus status;
      map().write(word, c.before, true, status, 0);
      writes();
      if (throughWrite) {
        map().write(c.id, c.value, false, status, 0);
      } else {
        map().set(c.id, c.value, status, 0);
        map().flush(c.id, false, status, 0);
      }
      EXPECT_EQ(status.head.code, 0);
      EXPECT_EQ(get(word), c.after);
      EXPECT_EQ(writes(), c.after == c.before ? std::vector<u64>{} : std::vector<u64>{c.after});
    }
  }
  tLongStatus status;
  map().set(0x800003FC, 0xA5C, status, 0);
  for (u32 index : {0u, 5u, 0xFFFFFFu}) {
    EXPECT_EQ(get(0x000003FC, index), 4u);
    EXPECT_EQ(get(0x300003FC, index), 3u);
    EXPECT_EQ(get(0x180003FC, index), 1u);
    EXPECT_EQ(get(0x240003FC, index), 5u);
  }

  // The controllers' named operations: the same bits, the whole word.
  auto& word = map().relayState(255);
  word.writeRelay2State(13, status, false).writeRelay0State(8, status, false);
  EXPECT_EQ(writes(), (std::vector<u64>{0xB5C, 0xB58}));
  ram().setReadValue(0x3FC, 0xA5C);
  EXPECT_EQ(word.readRelay3State(status), 5u);
  EXPECT_EQ(word.readRelay1State(status), 3u);
  map().relayCount(1023).writeRelayCount(0x80000001, status, true);
  EXPECT_EQ(writes(), std::vector<u64>{0x80000001});
  u64 value = 0;
  map().read(0x00001FFC, value, status, 0);
  EXPECT_EQ(value, 0x80000001u);  // zero-extended
  EXPECT_EQ(status.head.code, 0);
}

}  // namespace
}  // namespace conformance
