// Sheets of the conformance harness for maps over the simulated chips: the
// harness's view of a chip's register block, and short forms of a sheet and
// its rows (a row's whole ID follows from its offset and view).
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

// A register of one view; windowLine is the -52006 line of its refresh (read
// view) or flush (write view).
inline Register row(u32 offset, Access access, u32 formatLine, unsigned fields = 1,
                    u32 windowLine = 0) {
  Register r{offset, access, (access == kRead ? 0xC0000000u : 0x80000000u) | offset};
  (access == kRead ? r.refreshLine : r.flushLine) = windowLine;
  r.formatLine = formatLine;
  r.fields = fields;
  return r;
}
inline Register narrow(Register r, unsigned width) {
  r.width = width;
  return r;
}
inline Register unkept(Register r) {  // no shadow
  r.shadow = false;
  return r;
}
inline Register resetTo(Register r, u64 value) {
  r.reset = value;
  return r;
}
inline Register strobing(Register r, u64 bits) {
  r.strobe = bits;
  return r;
}

}  // namespace conformance
