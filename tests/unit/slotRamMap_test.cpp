// The slot RAM map: its sheet for the conformance harness, and what the
// harness cannot say: the relay-state field arithmetic on a word that holds
// other fields, by set and flush or by write, and the named operations.
#include "registers/slotram/RM7SlotRamRegisterMap.h"
#include "support/fpgaMapBuild.h"
#include "support/mapConformance.h"

namespace conformance {
namespace {

using qvrm7_driver::tRM7SlotRamRegisterMap;

constexpr char kCacheFile[] = "objects/codegen/qvrm7_driver_codegen/armgen/RM7SlotRamRegisterMap";

// 512 relay-state words of four 3-bit fields, then 1,024 relay-count words.
Sheet slotRamSheet() {
  Sheet s = fpgaSheet<tRM7SlotRamRegisterMap>(
      "RM7SlotRamRegisterMap", sim::Rm7Fpga::kSlotRamBlock, sim::Rm7Fpga::kSlotRamSize,
      &sim::Rm7Fpga::slotRam, "armgen/RM7SlotRamRegisterMap",
      {0, 0, 42218, 56057, 56093, 56129, 56201}, {4608, 4608, 4608, 4608, 1536, 1536, 1536}, [] {
        std::vector<Register> r;
        for (u32 offset = 0; offset < 0x800; offset += 4)
          r.push_back(
              row(offset, kReadWritten, {379, 355, 56165}, {{0, 2}, {3, 5}, {6, 8}, {9, 11}}));
        for (u32 offset = 0x1000; offset < 0x2000; offset += 4)
          r.push_back(row(offset, kReadWritten, {620, 596, 56183}, {{0, 31}}));
        return r;
      }());
  s.sites[kGet] = {kCacheFile, 14543};
  s.sites[kSet] = {kCacheFile, 28381};
  return s;
}
Sheet const kSlotRam = slotRamSheet();

INSTANTIATE_TEST_SUITE_P(SlotRam, MapConformance, ::testing::Values(&kSlotRam), sheetName);

using SlotRamTest = MapConformance;
INSTANTIATE_TEST_SUITE_P(SlotRam, SlotRamTest, ::testing::Values(&kSlotRam), sheetName);

TEST_P(SlotRamTest, RelayStatesTakeTheirLowThreeBitsAndKeepTheirNeighbours) {
  struct Case {
    u32 id;
    u64 value;
    u32 before;  // of the word at 0x3FC, or of the relay-count word the ID names
    u32 after;
  };
  Case const cases[] = {
      {0x240003FC, 13, 0, 0xA00},
      {0x300003FC, 0, 0xFFFFFFFF, 0xFFFFFFC7},
      {0x000003FC, 0xFFFFFFFFFFFFFFF9, 0, 1},
      {0x00001000, 0x1122334455667788, 0, 0x55667788},
      {0x00001000, 0x100000005, 5, 5},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.id << " " << c.value);
    u32 const word = 0x80000000 | (c.id & 0xFFFFFF);
    for (bool throughWrite : {false, true}) {
      tLongStatus status;
      map().write(word, c.before, true, status, 0);
      takeLog();
      if (throughWrite) {
        map().write(c.id, c.value, false, status, 0);
      } else {
        map().set(c.id, c.value, status, 0);
        map().flush(c.id, false, status, 0);
      }
      EXPECT_EQ(status.head.code, 0);
      EXPECT_EQ(get(word), c.after);
      std::vector<Hit> const written = {{true, word & 0xFFFFFF, 4, c.after}};
      EXPECT_EQ(takeLog(), c.after == c.before ? std::vector<Hit>{} : written);
    }
  }
  set(0x800003FC, 0xA5C);
  for (u32 index : {0u, 5u, 0xFFFFFFu}) {
    EXPECT_EQ(get(0x000003FC, index), 4u);
    EXPECT_EQ(get(0x300003FC, index), 3u);
    EXPECT_EQ(get(0x180003FC, index), 1u);
    EXPECT_EQ(get(0x240003FC, index), 5u);
  }

  // The controllers' named operations: the same bits, the whole word.
  tRM7SlotRamRegisterMap& ram = as<tRM7SlotRamRegisterMap>();
  tLongStatus status;
  auto& word = ram.relayState(255);
  word.writeRelay2State(13, status, false).writeRelay0State(8, status, false);
  EXPECT_EQ(takeLog(), (std::vector<Hit>{{true, 0x3FC, 4, 0xB5C}, {true, 0x3FC, 4, 0xB58}}));
  probe_.preload(0x3FC, 0xA5C);
  EXPECT_EQ(word.readRelay3State(status), 5u);
  EXPECT_EQ(word.readRelay1State(status), 3u);
  takeLog();
  ram.relayCount(1023).writeRelayCount(0x80000001, status, true);
  EXPECT_EQ(takeLog(), (std::vector<Hit>{{true, 0x1FFC, 4, 0x80000001}}));
  u64 value = 0;
  ram.read(0x00001FFC, value, status, 0);
  EXPECT_EQ(value, 0x80000001u);  // zero-extended
  EXPECT_EQ(status.head.code, 0);
}

}  // namespace
}  // namespace conformance
