// The register maps of the FPGA's five blocks, built over the register BAR
// at the blocks' offsets and registered by name once all are built.
#pragma once

#include "platform/memorySpaceAccessor.h"
#include "registers/generated/HalcyonTmr9SourceStreams.h"
#include "registers/generated/RM7BaseRegMap.h"
#include "registers/generated/RM7SlotRegisterMap.h"
#include "registers/generated/RM7ThreadRegisterMap.h"
#include "registers/slotram/RM7SlotRamRegisterMap.h"
#include "source/qvrm7_driver/mapRegistrations.h"

namespace qvrm7_driver {

class RM7RegMaps {
  using tAccessor = nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;

 public:
  // Every register of every block inside its map's window, every shadow 0;
  // registered only when the status is clean.
  RM7RegMaps(u64 mappedBAR, armki::ARMDispatcher& dispatcher, nQVWEND000::tStatus& status);
  // Removes the registrations, last first; the maps end with the object.
  ~RM7RegMaps();
  RM7RegMaps(RM7RegMaps const&) = delete;
  RM7RegMaps& operator=(RM7RegMaps const&) = delete;

  tRM7BaseRegMap& base() { return base_; }
  tHalcyonTmr9SourceStreams& sourceStreams() { return sourceStreams_; }
  tMapRegistration const& sourceStreamsRegistration() const { return registrations_[4]; }

 private:
  armki::ARMDispatcher& dispatcher_;
  tAccessor baseAccessor_;
  tAccessor threadAccessor_;
  tAccessor slotAccessor_;
  tAccessor slotRamAccessor_;
  tAccessor sourceStreamsAccessor_;
  tRM7BaseRegMap base_;
  tRM7ThreadRegisterMap thread_;
  tRM7SlotRegisterMap slot_;
  tRM7SlotRamRegisterMap slotRam_;
  tHalcyonTmr9SourceStreams sourceStreams_;
  tMapRegistration registrations_[5];
};

}  // namespace qvrm7_driver
