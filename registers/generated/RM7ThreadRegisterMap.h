// The FPGA's command-thread block: the threads' configuration and status,
// slot control, timer, advance-complete pulse width and delay, trigger
// selection, and the command FIFO with its status.
#pragma once

#include "registers/registerMap.h"

namespace qvrm7_driver {

namespace nRM7ThreadRegisterMap {

using namespace armcore;

inline constexpr Field kConfigStatusFields[] = {
    bit(16, 0x02), bit(17, 0x22), bit(19, 0x32), bit(20, 0x0A), bit(21, 0x2A),
    bit(22, 0x1A), bit(23, 0x3A), bit(24, 0x06), bit(25, 0x26), bit(26, 0x16)};
inline constexpr Field kSlotControlFields[] = {bits(0, 5, 0x00, 1)};
inline constexpr Field kTimerFields[] = {bits(0, 23, 0x00, 3)};
inline constexpr Field kPulseWidthFields[] = {bits(0, 9, 0x00, 2)};
inline constexpr Field kTrigSelectFields[] = {bits(8, 11, 0x04, 1), bits(12, 15, 0x0C, 1),
                                              bits(28, 31, 0x0E, 1)};
inline constexpr Field kFifoFields[] = {bits(0, 25, 0x00, 3), bits(26, 31, 0x16, 1)};
inline constexpr Field kFifoStatusFields[] = {bits(0, 9, 0x00, 2), bits(16, 25, 0x02, 2),
                                              bit(31, 0x3E)};

inline constexpr RegisterClass kConfigStatus{.access = kReadWrite,
                                             .fields = kConfigStatusFields,
                                             .strobe = 0x030B0000,
                                             .readViewAlias = true,
                                             .refreshLine = 643,
                                             .flushLine = 619};
inline constexpr RegisterClass kSlotControl{
    .access = kRead, .fields = kSlotControlFields, .refreshLine = 998};
inline constexpr RegisterClass kThreadTimer{
    .access = kRead, .fields = kTimerFields, .refreshLine = 1094};
inline constexpr RegisterClass kAdvCompletePulseWidth{
    .access = kReadWrite, .fields = kPulseWidthFields, .refreshLine = 1227, .flushLine = 1203};
inline constexpr RegisterClass kAdvCompleteDelay{
    .access = kReadWrite, .fields = kTimerFields, .refreshLine = 1375, .flushLine = 1351};
inline constexpr RegisterClass kThreadTrigSelect{
    .access = kReadWrite, .fields = kTrigSelectFields, .refreshLine = 1523, .flushLine = 1499};
inline constexpr RegisterClass kCommandFifo{
    .access = kRead, .fields = kFifoFields, .refreshLine = 1696};
inline constexpr RegisterClass kCommandFifoStatus{
    .access = kRead, .fields = kFifoStatusFields, .refreshLine = 1808};

inline constexpr Register kRegisters[] = {
    {.offset = 0x00, .type = &kConfigStatus, .formatLine = 2327, .readFormatLine = 2354},
    {.offset = 0x04, .type = &kSlotControl, .formatLine = 2371},
    {.offset = 0x08, .type = &kThreadTimer, .formatLine = 2380},
    {.offset = 0x20, .type = &kAdvCompletePulseWidth, .formatLine = 2389},
    {.offset = 0x24, .type = &kAdvCompleteDelay, .formatLine = 2398},
    {.offset = 0x28, .type = &kThreadTrigSelect, .formatLine = 2407},
    {.offset = 0x10, .type = &kCommandFifo, .formatLine = 2420},
    {.offset = 0x14, .type = &kCommandFifoStatus, .formatLine = 2431},
};

inline constexpr char kFile[] = "armgen/RM7ThreadRegisterMap";
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = "22.8.0f141",
    .oldestCompatibleVersion = "22.8.0f141",
    .sites = sitesIn(kFile, 2015, 2087, 2176, 2249, 2275, 2312, 2443),
    .registers = kRegisters};

}  // namespace nRM7ThreadRegisterMap

class tRM7ThreadRegisterMap final
    : public armcore::RegisterMap<tRM7ThreadRegisterMap, nRM7ThreadRegisterMap::kMap,
                                  armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  ~tRM7ThreadRegisterMap() override;

  using tCommandThreadConfigStatusReg = tRegisterRecord<nRM7ThreadRegisterMap::kConfigStatus>;
  using tCommandThreadSlotControlReg = tRegisterRecord<nRM7ThreadRegisterMap::kSlotControl>;
  using tThreadTimerReg = tRegisterRecord<nRM7ThreadRegisterMap::kThreadTimer>;
  using tAdvCompletePulseWidthReg = tRegisterRecord<nRM7ThreadRegisterMap::kAdvCompletePulseWidth>;
  using tAdvCompleteDelayReg = tRegisterRecord<nRM7ThreadRegisterMap::kAdvCompleteDelay>;
  using tThreadTrigSelectReg = tRegisterRecord<nRM7ThreadRegisterMap::kThreadTrigSelect>;
  using tCommandFifo = tRegisterRecord<nRM7ThreadRegisterMap::kCommandFifo>;
  using tCommandFifoStatusReg = tRegisterRecord<nRM7ThreadRegisterMap::kCommandFifoStatus>;

  // The poller waits on it until the command threads are idle.
  tCommandThreadConfigStatusReg& commandThreadConfigStatus() { return recordFor<0x80000000>(); }
};

}  // namespace qvrm7_driver
