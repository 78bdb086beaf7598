// The FPGA's source-stream block, through which relay command words enter
// the hardware command FIFO: the data register, and at the next offset the
// control register (written) and the FIFO status (read).
#pragma once

#include "registers/registerMap.h"

namespace qvrm7_driver {

namespace nHalcyonTmr9SourceStreams {

using namespace armcore;

inline constexpr Field kDataFields[] = {bits(0, 31, 0x00, 3)};
inline constexpr Field kControlFields[] = {bit(24, 0x06)};
inline constexpr Field kStatusFields[] = {bits(0, 15, 0x00, 2), bit(16, 0x02), bit(17, 0x22),
                                          bit(18, 0x12), bit(24, 0x06)};

inline constexpr RegisterClass kCommandFifoData{
    .access = kWrite, .fields = kDataFields, .flushLine = 376};
inline constexpr RegisterClass kCommandFifoControl{
    .access = kWrite, .fields = kControlFields, .strobe = 0x01000000, .flushLine = 494};
inline constexpr RegisterClass kCommandFifoStatus{
    .access = kRead, .fields = kStatusFields, .refreshLine = 599};

inline constexpr Register kRegisters[] = {
    {.offset = 0x0, .type = &kCommandFifoData, .formatLine = 905},
    {.offset = 0x4, .type = &kCommandFifoControl, .formatLine = 914},
    {.offset = 0x4, .type = &kCommandFifoStatus, .formatLine = 923},
};

inline constexpr char kFile[] = "armgen/HalcyonTmr9SourceStreams";
inline constexpr MapDescription kMap{.file = kFile,
                                     .version = "22.8.0f141",
                                     .oldestCompatibleVersion = "22.8.0f141",
                                     .sites = sitesIn(kFile, 772, 798, 829, 856, 875, 890, 939),
                                     .registers = kRegisters};

}  // namespace nHalcyonTmr9SourceStreams

class tHalcyonTmr9SourceStreams final
    : public armcore::RegisterMap<tHalcyonTmr9SourceStreams, nHalcyonTmr9SourceStreams::kMap,
                                  armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  ~tHalcyonTmr9SourceStreams() override;

  using tCommandFifoData = tRegisterRecord<nHalcyonTmr9SourceStreams::kCommandFifoData>;
  using tCommandFifoControl = tRegisterRecord<nHalcyonTmr9SourceStreams::kCommandFifoControl>;
  using tCommandFifoStatus = tRegisterRecord<nHalcyonTmr9SourceStreams::kCommandFifoStatus>;

  // The command FIFO controller's three records.
  tCommandFifoData& commandFifoData() { return recordFor<0x80000000>(); }
  tCommandFifoControl& commandFifoControl() { return recordFor<0x80000004>(); }
  tCommandFifoStatus& commandFifoStatus() { return recordFor<0xC0000004>(); }
};

}  // namespace qvrm7_driver
