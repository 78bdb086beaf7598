// The FPGA's slot block: relay activation and release times, relay bank and
// shifter configuration, relay counting, the slot configuration and status,
// the post-engine and immediate commands, a bidirectional data port, the
// CPLD JTAG lines and an operation timer.
#pragma once

#include "registers/registerMap.h"

namespace qvrm7_driver {

namespace nRM7SlotRegisterMap {

using namespace armcore;

inline constexpr Field kWord[] = {bits(0, 31, 0x00, 3)};
inline constexpr Field kOneBit[] = {bit(0, 0x00)};
inline constexpr Field kBankAddrFields[] = {bits(0, 7, 0x00, 1)};
inline constexpr Field kShifterFields[] = {bits(0, 3, 0x00, 1)};
inline constexpr Field kClkSpeedFields[] = {bits(0, 15, 0x00, 2)};
inline constexpr Field kConfigStatusFields[] = {
    bits(0, 4, 0x00, 1), bit(5, 0x28),  bits(8, 10, 0x04, 1), bit(11, 0x34), bit(12, 0x0C),
    bit(13, 0x2C),       bit(14, 0x1C), bit(15, 0x3C),        bit(16, 0x02), bit(17, 0x22),
    bit(20, 0x0A),       bit(21, 0x2A), bit(22, 0x1A),        bit(24, 0x06), bit(25, 0x26),
    bit(26, 0x16),       bit(27, 0x36)};
inline constexpr Field kCommandFields[] = {bits(0, 1, 0x00, 1),  bits(2, 3, 0x10, 1),
                                           bits(4, 5, 0x08, 1),  bits(6, 7, 0x18, 1),
                                           bits(8, 15, 0x04, 1), bits(26, 31, 0x16, 1)};
inline constexpr Field kJtagFields[] = {bit(0, 0x00), bit(4, 0x08), bit(5, 0x28), bit(6, 0x18)};

inline constexpr RegisterClass kActivationTime{.access = kWrite, .fields = kWord, .flushLine = 911};
inline constexpr RegisterClass kReleaseTime{.access = kWrite, .fields = kWord, .flushLine = 1029};
inline constexpr RegisterClass kReleaseLargerThanActivation{
    .access = kWrite, .fields = kOneBit, .flushLine = 1147};
inline constexpr RegisterClass kHighestBankAddr{
    .access = kWrite, .fields = kBankAddrFields, .flushLine = 1265};
inline constexpr RegisterClass kShifterType{
    .access = kWrite, .fields = kShifterFields, .flushLine = 1383};
inline constexpr RegisterClass kRelayCounting{
    .access = kWrite, .fields = kOneBit, .flushLine = 1501};
inline constexpr RegisterClass kOperationTimer{
    .access = kRead, .fields = kWord, .refreshLine = 1606};
inline constexpr RegisterClass kCpldClkSpeed{
    .access = kReadWrite, .fields = kClkSpeedFields, .refreshLine = 1739, .flushLine = 1715};
inline constexpr RegisterClass kNumPostShiftClks{
    .access = kReadWrite, .fields = kBankAddrFields, .refreshLine = 1887, .flushLine = 1863};
inline constexpr RegisterClass kConfigStatus{.access = kReadWrite,
                                             .fields = kConfigStatusFields,
                                             .strobe = 0x03421820,
                                             .readViewAlias = true,
                                             .refreshLine = 2035,
                                             .flushLine = 2011};
inline constexpr RegisterClass kPostEngineCmd{
    .access = kWrite, .fields = kCommandFields, .flushLine = 2606};
inline constexpr RegisterClass kBidirWrite{.access = kWrite, .fields = kWord, .flushLine = 2844};
inline constexpr RegisterClass kBidirRead{.access = kRead, .fields = kWord, .refreshLine = 2949};
inline constexpr RegisterClass kCpldJtag{
    .access = kReadWrite, .fields = kJtagFields, .refreshLine = 3082, .flushLine = 3058};
inline constexpr RegisterClass kImmediateCommand{
    .access = kWrite, .fields = kCommandFields, .flushLine = 3299};

inline constexpr Register kRegisters[] = {
    {.offset = 0x04, .type = &kActivationTime, .formatLine = 4243},
    {.offset = 0x08, .type = &kReleaseTime, .formatLine = 4252},
    {.offset = 0x0C, .type = &kReleaseLargerThanActivation, .formatLine = 4261},
    {.offset = 0x1C, .type = &kHighestBankAddr, .formatLine = 4270},
    {.offset = 0x20, .type = &kShifterType, .formatLine = 4279},
    {.offset = 0x24, .type = &kRelayCounting, .formatLine = 4288},
    {.offset = 0x28, .type = &kOperationTimer, .formatLine = 4297},
    {.offset = 0x30, .type = &kCpldClkSpeed, .formatLine = 4306},
    {.offset = 0x34, .type = &kNumPostShiftClks, .formatLine = 4315},
    {.offset = 0x00, .type = &kConfigStatus, .formatLine = 4324, .readFormatLine = 4365},
    {.offset = 0x2C, .type = &kPostEngineCmd, .formatLine = 4392},
    {.offset = 0x40, .type = &kBidirWrite, .formatLine = 4411},
    {.offset = 0x44, .type = &kBidirRead, .formatLine = 4420},
    {.offset = 0x50, .type = &kCpldJtag, .formatLine = 4429},
    {.offset = 0x100, .type = &kImmediateCommand, .formatLine = 4444},
};

inline constexpr char kFile[] = "armgen/RM7SlotRegisterMap";
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = "22.8.0f141",
    .oldestCompatibleVersion = "22.8.0f141",
    .sites = sitesIn(kFile, 3697, 3877, 3963, 4144, 4197, 4228, 4462),
    .registers = kRegisters};

}  // namespace nRM7SlotRegisterMap

class tRM7SlotRegisterMap final
    : public armcore::RegisterMap<tRM7SlotRegisterMap, nRM7SlotRegisterMap::kMap,
                                  armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  ~tRM7SlotRegisterMap() override;

  using tSlotActivationTimeReg = tRegisterRecord<nRM7SlotRegisterMap::kActivationTime>;
  using tSlotReleaseTimeReg = tRegisterRecord<nRM7SlotRegisterMap::kReleaseTime>;
  using tSlotReleaseTimeLargerThanActivationTimeReg =
      tRegisterRecord<nRM7SlotRegisterMap::kReleaseLargerThanActivation>;
  using tSlotHighestBankAddrReg = tRegisterRecord<nRM7SlotRegisterMap::kHighestBankAddr>;
  using tSlotShifterTypeReg = tRegisterRecord<nRM7SlotRegisterMap::kShifterType>;
  using tSlotRelayCountingReg = tRegisterRecord<nRM7SlotRegisterMap::kRelayCounting>;
  using tOperationTimerReg = tRegisterRecord<nRM7SlotRegisterMap::kOperationTimer>;
  using tSlotRm6CpldClkSpeedReg = tRegisterRecord<nRM7SlotRegisterMap::kCpldClkSpeed>;
  using tSlotRm6NumPostShiftClksReg = tRegisterRecord<nRM7SlotRegisterMap::kNumPostShiftClks>;
  using tSlotConfigStatusReg = tRegisterRecord<nRM7SlotRegisterMap::kConfigStatus>;
  using tCurrentPostEngineCmdReg = tRegisterRecord<nRM7SlotRegisterMap::kPostEngineCmd>;
  using tBidirWriteReg = tRegisterRecord<nRM7SlotRegisterMap::kBidirWrite>;
  using tBidirReadReg = tRegisterRecord<nRM7SlotRegisterMap::kBidirRead>;
  using tCpldJtagInterfaceReg = tRegisterRecord<nRM7SlotRegisterMap::kCpldJtag>;
  using tImmediateCommandReg = tRegisterRecord<nRM7SlotRegisterMap::kImmediateCommand>;

  // The poller waits on it.
  tSlotConfigStatusReg& slotConfigStatus() { return recordFor<0x80000000>(); }
};

}  // namespace qvrm7_driver
