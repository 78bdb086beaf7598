// The register map of the FPGA's slot RAM block: 512 relay-state words at
// 0x000-0x7FC, each with four 3-bit relay states, and 1,024 relay-count
// words at 0x1000-0x1FFC. The relay count and slot RAM controllers work on
// the records directly, the register ioctls through the interface's slots.
//
// The two word kinds are two arrays of the description, so the map holds
// its 1,536 records and its window and nothing else; an ID is resolved from
// constant tables in a bounded number of steps.
#pragma once

#include "registers/registerMap.h"

namespace qvrm7_driver {

class tRM7SlotRamRegisterMap;

namespace nRM7SlotRamRegisterMap {

using namespace armcore;

inline constexpr Field kRelayStateFields[] = {bits(0, 2, 0x00, 1), bits(3, 5, 0x30, 1),
                                              bits(6, 8, 0x18, 1), bits(9, 11, 0x24, 1)};
inline constexpr Field kRelayCountFields[] = {bits(0, 31, 0x00, 3)};

inline constexpr RegisterClass kRelayState{
    .access = kReadWrite, .fields = kRelayStateFields, .refreshLine = 379, .flushLine = 355};
inline constexpr RegisterClass kRelayCount{
    .access = kReadWrite, .fields = kRelayCountFields, .refreshLine = 620, .flushLine = 596};

inline constexpr u32 kRelayStateWords = 512;
inline constexpr u32 kRelayCountWords = 1024;

inline constexpr Register kRegisters[] = {
    {.offset = 0x0000,
     .type = &kRelayState,
     .formatLine = 56165,
     .count = kRelayStateWords,
     .stride = 4},
    {.offset = 0x1000,
     .type = &kRelayCount,
     .formatLine = 56183,
     .count = kRelayCountWords,
     .stride = 4},
};

// The cache's field access answers under the generator's long path, the
// register access and the cache upkeep under the header's own.
inline constexpr char kFile[] = "armgen/RM7SlotRamRegisterMap";
inline constexpr char kCacheFile[] =
    "objects/codegen/qvrm7_driver_codegen/armgen/RM7SlotRamRegisterMap";
inline constexpr MapDescription kMap{.file = kFile,
                                     .version = "22.8.0f141",
                                     .oldestCompatibleVersion = "22.8.0f141",
                                     .sites = {.get = {kCacheFile, 14543},
                                               .set = {kCacheFile, 28381},
                                               .read = {kFile, 42218},
                                               .write = {kFile, 56057},
                                               .flush = {kFile, 56093},
                                               .refresh = {kFile, 56129},
                                               .format = {kFile, 56201}},
                                     .registers = kRegisters};

// A relay-state word: Relay0State bits 0-2, Relay1State 3-5, Relay2State
// 6-8, Relay3State 9-11. A field read refreshes the word first; a field
// write changes its bits of the shadow and writes the whole word.
class tRelayStateRamType : public tRegisterRecord<tRM7SlotRamRegisterMap, kMap, kRelayState> {
 public:
  u8 readRelay0State(tStatus& status) { return readField<0>(status); }
  u8 readRelay1State(tStatus& status) { return readField<3>(status); }
  u8 readRelay2State(tStatus& status) { return readField<6>(status); }
  u8 readRelay3State(tStatus& status) { return readField<9>(status); }
  tRelayStateRamType& writeRegister(u32 value, tStatus& status, bool force) {
    tRegisterRecord::writeRegister(value, status, force);
    return *this;
  }
  tRelayStateRamType& writeRelay0State(u8 value, tStatus& status, bool force) {
    writeField<0>(value, status, force);
    return *this;
  }
  tRelayStateRamType& writeRelay1State(u8 value, tStatus& status, bool force) {
    writeField<3>(value, status, force);
    return *this;
  }
  tRelayStateRamType& writeRelay2State(u8 value, tStatus& status, bool force) {
    writeField<6>(value, status, force);
    return *this;
  }
  tRelayStateRamType& writeRelay3State(u8 value, tStatus& status, bool force) {
    writeField<9>(value, status, force);
    return *this;
  }
};

// A relay-count word: RelayCount is the whole word.
class tRelayCountRamType : public tRegisterRecord<tRM7SlotRamRegisterMap, kMap, kRelayCount> {
 public:
  tRelayCountRamType& writeRegister(u32 value, tStatus& status, bool force) {
    tRegisterRecord::writeRegister(value, status, force);
    return *this;
  }
  tRelayCountRamType& writeRelayCount(u32 value, tStatus& status, bool force) {
    return writeRegister(value, status, force);
  }
};

}  // namespace nRM7SlotRamRegisterMap

class tRM7SlotRamRegisterMap final
    : public armcore::RegisterMap<tRM7SlotRamRegisterMap, nRM7SlotRamRegisterMap::kMap,
                                  armcore::BarPath, nRM7SlotRamRegisterMap::tRelayStateRamType,
                                  nRM7SlotRamRegisterMap::tRelayCountRamType> {
 public:
  using RegisterMap::RegisterMap;
  using tRelayStateRamType = nRM7SlotRamRegisterMap::tRelayStateRamType;
  using tRelayCountRamType = nRM7SlotRamRegisterMap::tRelayCountRamType;

  ~tRM7SlotRamRegisterMap() override;

  tRelayStateRamType& relayState(u32 word) { return record<0>(word); }
  tRelayCountRamType& relayCount(u32 word) { return record<1>(word); }
};

}  // namespace qvrm7_driver
