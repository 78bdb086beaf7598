// The slot RAM map over a simulated module on the bus, for measuring the
// map alone; maps of no model go over a stretch of its BAR 0 that no model
// claims.
#pragma once

#include <cstdint>
#include <optional>

#include "host/layer/control.h"
#include "host/layer/rm7Module.h"
#include "registers/slotram/RM7SlotRamRegisterMap.h"

namespace bench {

using qvrm7_driver::tRM7SlotRamRegisterMap;

// A module on the bus with its BAR 0 mapped and a map over its slot RAM.
class SlotRamMapOnModule {
 public:
  // Plain memory, wide enough for the test maps.
  static constexpr uint64_t kPlainBlock = 0x40000;
  static constexpr uint32_t kPlainSize = 0x4000;

  SlotRamMapOnModule() {
    sim::reset();
    sim::plugIn(module_.device());
    bar0_ = nQVZOR230_mapPhysicalToKernel(module_.bar0().physicalAddress(),
                                          sim::Rm7Module::kBar0Size, 0);
    accessor_ = {bar0_ + sim::Rm7Fpga::kSlotRamBlock, sim::Rm7Fpga::kSlotRamSize};
    map_.emplace(&accessor_, 0, 0, 0xFFFFFFFF);
  }
  ~SlotRamMapOnModule() {
    map_.reset();
    nQVZOR230_unmapPhysicalFromKernel(bar0_, 0);
    sim::unplug(*module_.device());
  }
  tRM7SlotRamRegisterMap& map() { return *map_; }
  tRM7SlotRamRegisterMap::tAccessor plainBlock() const { return {bar0_ + kPlainBlock, kPlainSize}; }

 private:
  sim::Rm7Module module_;
  uint64_t bar0_ = 0;
  tRM7SlotRamRegisterMap::tAccessor accessor_{};
  std::optional<tRM7SlotRamRegisterMap> map_;
};

}  // namespace bench
