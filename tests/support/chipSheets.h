// Sheets of the conformance harness for maps over the simulated chips: the
// harness's view of a chip's register block, and a short form of a sheet.
#pragma once

#include <array>

#include "host/layer/chips/registerBlock.h"
#include "support/mapConformance.h"

namespace conformance {

// The accesses that fall in one map's part of a block, at offsets from it.
inline Probe chipProbe(sim::RegisterBlock& block, u32 first = 0, u32 end = 0xFFFFFFFF) {
  auto convert = [first, end](std::vector<sim::ChipAccess> const& accesses) {
    std::vector<Hit> hits;
    for (sim::ChipAccess const& a : accesses)
      if (a.offset >= first && a.offset < end)
        hits.push_back({a.write, a.offset - first, a.width, a.value});
    return hits;
  };
  return {[&block, convert] { return convert(block.log()); },
          [&block, convert] { return convert(block.strays()); }, [&block] { block.clearLog(); },
          [&block, first](u32 offset, u64 value) {
            block.setReadValue(first + offset, static_cast<uint32_t>(value));
          }};
}

// A sheet whose version is also its oldest compatible one.
inline Sheet sheetOf(char const* name, u64 block, u32 span, char const* version, char const* file,
                     std::array<u32, 7> const& lines, Counts counts,
                     std::vector<Register> registers) {
  Sheet s{};
  s.name = name;
  s.block = block;
  s.span = span;
  s.version = s.oldest = version;
  s.counts = counts;
  s.registers = [registers] { return registers; };
  return withSites(s, file, lines);
}

}  // namespace conformance
