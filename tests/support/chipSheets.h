// Sheets of the conformance harness for maps over the simulated chips: the
// harness's view of a chip's register block, and a short form of a sheet.
#pragma once

#include <array>

#include "host/layer/chips/registerBlock.h"
#include "support/mapConformance.h"

namespace conformance {

// The accesses that fall in [first, end) of a block, at offsets from first.
inline std::vector<Hit> hitsOf(std::vector<sim::ChipAccess> const& accesses, u32 first = 0,
                               u32 end = 0xFFFFFFFF) {
  std::vector<Hit> hits;
  for (sim::ChipAccess const& a : accesses)
    if (a.offset >= first && a.offset < end)
      hits.push_back({a.write, a.offset - first, a.width, a.value});
  return hits;
}

// One map's part of a block.
inline Probe chipProbe(sim::RegisterBlock& block, u32 first = 0, u32 end = 0xFFFFFFFF) {
  return {[&block, first, end] { return hitsOf(block.log(), first, end); },
          [&block, first, end] { return hitsOf(block.strays(), first, end); },
          [&block] { block.clearLog(); },
          [&block, first](u32 offset, u64 value) {
            block.setReadValue(first + offset, static_cast<uint32_t>(value));
          }};
}

// A sheet whose version is also its oldest compatible one.
inline Sheet sheetOf(char const* name, u64 block, u32 span, char const* version, char const* file,
                     std::array<u32, 7> const& lines, Counts counts,
                     std::vector<Register> registers, decltype(Sheet::build) build,
                     decltype(Sheet::probe) probe) {
  return withSites({.name = name,
                    .block = block,
                    .span = span,
                    .build = std::move(build),
                    .probe = std::move(probe),
                    .version = version,
                    .oldest = version,
                    .counts = counts,
                    .registers = [registers] { return registers; }},
                   file, lines);
}

}  // namespace conformance
