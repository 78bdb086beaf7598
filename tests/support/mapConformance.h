// The conformance harness of the register maps. A map is checked through
// its twelve interface slots alone, against what its simulated block saw
// on the bus, by the tests in unit/mapConformance_test.cpp. What a map must
// do comes from its sheet: a short description written from the map's own
// documentation (never copied from the map's code table), so a transcription
// fault in either shows up as a difference.
//
// Writing a sheet
// - `registers`: one row per register record, in declaration order (the
//   order of the whole-map operations). `key` is the whole-register ID that
//   names the record (0x80000000 | offset for the write view, 0xC0000000 |
//   offset for the read view; 0 for a record that no ID names); `alias` a
//   second whole ID of the same record in the other view, with its own
//   field count. `access` says whether the record is read (refreshed, read)
//   and written (flushed, written). `lines` are the record's own refusal
//   lines: the -52006 of its refresh and of its flush (0 where it has none),
//   the -52019 of its format and of its alias's. `fields` are the bits of
//   each field the format of `key` reports, lowest first, as the map's
//   documentation writes them ({b} for the one bit b); the alias reports
//   those that hold no strobe bit. `strobe` holds the bits
//   the map clears in its shadow after each write; `width` the bits of the
//   register as the map writes and reads it (8, 16, 32 or 64);
//   `shadow` false for a record the map keeps no value of (the shadow
//   operations refuse it and every write reaches the block); `reset` the
//   shadow after construction.
// - `counts`: how many distinct IDs get, set, read and write accept (a whole
//   ID counted once, whatever its field-code bits), and how many whole IDs
//   flush, refresh and getRegisterFormat accept as keys (aliases included).
// - `sites`: the file and line at which each slot refuses an ID, in slot
//   order (-52005, and -52002 for getRegisterFormat); `withSites` fills them.
// - `window`: false for a map built without a window (no -52006 anywhere).
// - `boolean`: says which one-bit fields take any non-zero value as 1; left
//   empty, every one-bit field does.
// - `build` makes the map over a mapped block address with a base and a
//   window; `probe` finds the block's model in the simulated module.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/layer/rm7Module.h"
#include "platform/status.h"
#include "platform/statusCodes.h"
#include "registers/dynamicAccessInterface.h"
#include "support/expectSite.h"
#include "support/mappedModule.h"

namespace conformance {

using u32 = uint32_t;
using u64 = uint64_t;
using nQVWENDS100::tLongStatus;
using Map = arm::tDynamicAccessInterface;
using Site = qvrm7_driver::nQVWEND000::StatusSite;
using testing_support::expectSite;

enum Access : uint8_t { kRead = 1, kWritten = 2, kReadWritten = 3 };
enum Op { kGet, kSet, kReadOp, kWrite, kFlush, kRefresh, kFormat, kOps };

constexpr u64 lowBits(unsigned count) { return count >= 64 ? ~u64{0} : (u64{1} << count) - 1; }

// One field's bits, lowest first; {b} is the one bit b.
struct Bits {
  unsigned low;
  unsigned high = low;
  u64 mask() const { return lowBits(high + 1 - low) << low; }
};

// A record's own refusal lines; 0 where it has none.
struct Lines {
  u32 refresh = 0;  // -52006
  u32 flush = 0;    // -52006
  u32 format = 0;   // -52019
  u32 aliasFormat = 0;
};

struct Register {
  u32 offset;
  Access access;
  u32 key;
  Lines lines = {};
  std::vector<Bits> fields = {};
  u32 alias = 0;
  unsigned aliasFields = 0;
  u64 strobe = 0;
  unsigned width = 32;
  bool shadow = true;
  u64 reset = 0;

  bool read() const { return (access & kRead) != 0; }
  bool written() const { return (access & kWritten) != 0; }
  u64 widthMask() const { return lowBits(width); }
  // The masks the format of `id` (the key or the alias) must report.
  std::vector<u64> masks(u32 id) const {
    std::vector<u64> out;
    for (Bits const& b : fields)
      if (id == key || (b.mask() & strobe) == 0) out.push_back(b.mask());
    return out;
  }
};

// Per slot, in slot order.
using Counts = std::array<u32, kOps>;

// One access the block saw; widths in bytes.
struct Hit {
  bool write;
  u32 offset;
  unsigned width;
  u64 value;
  bool operator==(Hit const&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, Hit const& hit) {
  return out << (hit.write ? "write 0x" : "read 0x") << std::hex << hit.value << " at 0x"
             << hit.offset << std::dec << " (" << hit.width << " bytes)";
}

// What the harness needs of a block's model.
struct Probe {
  std::function<std::vector<Hit>()> log;
  std::function<std::vector<Hit>()> strays;  // accesses no register of the block takes
  std::function<void()> clear;
  std::function<void(u32 offset, u64 value)> preload;  // what reads of the offset give
};

// The map with whatever it is built over, alive as long as it is.
using BuiltMap = std::shared_ptr<Map>;

struct Sheet {
  char const* name;
  u64 block;  // BAR 0 offset
  u32 span;   // block size: the sweep covers every offset below it, and some beyond
  std::function<BuiltMap(u64 address, u32 base, u32 windowStart, u32 windowSize)> build;
  std::function<Probe(sim::Rm7Module&)> probe;
  char const* version;
  char const* oldest;
  std::array<Site, kOps> sites = {};
  Counts counts;
  std::function<std::vector<Register>()> registers;
  bool window = true;
  std::function<bool(u32 fieldId)> boolean = {};
};

// Short forms of a row: a register of one view, whose whole ID follows from
// its offset and view, its lines and fields, and what sets it apart.
inline Register row(u32 offset, Access access, Lines lines, std::vector<Bits> fields) {
  return {offset, access, (access == kRead ? 0xC0000000u : 0x80000000u) | offset, lines,
          std::move(fields)};
}
// `count` fields of `width` bits side by side from bit `low` up, for the
// tables that describe a regular run of fields in words.
inline std::vector<Bits> run(unsigned low, unsigned count, unsigned width = 1) {
  std::vector<Bits> fields;
  for (unsigned i = 0; i < count; ++i)
    fields.push_back({low + i * width, low + i * width + width - 1});
  return fields;
}
inline std::vector<Bits> join(std::initializer_list<std::vector<Bits>> parts) {
  std::vector<Bits> fields;
  for (auto const& part : parts) fields.insert(fields.end(), part.begin(), part.end());
  return fields;
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

// The record is also named by its read view's whole ID, whose format
// reports `fields` fields (checked against the key's fields without strobes).
inline Register readAlso(Register r, unsigned fields) {
  r.alias = 0xC0000000u | r.offset;
  r.aliasFields = fields;
  return r;
}

// The sheet with every slot's refusal site in one file, the lines in slot order.
inline Sheet withSites(Sheet s, char const* file, std::array<u32, kOps> const& lines) {
  for (size_t i = 0; i < lines.size(); ++i) s.sites[i] = {file, lines[i]};
  return s;
}

inline std::string sheetName(::testing::TestParamInfo<Sheet const*> const& info) {
  return info.param->name;
}

// The accesses of a block model's log that fall in [first, end), at offsets
// from first.
template <class Access>
std::vector<Hit> hitsOf(std::vector<Access> const& accesses, u32 first = 0, u32 end = 0xFFFFFFFF) {
  std::vector<Hit> hits;
  for (Access const& a : accesses)
    if (a.offset >= first && a.offset < end)
      hits.push_back({a.write, a.offset - first, a.width, a.value});
  return hits;
}

// One map's part [first, end) of a block model (the FPGA's or a chip's).
template <class Block>
Probe blockProbe(Block& block, u32 first = 0, u32 end = 0xFFFFFFFF) {
  return {[&block, first, end] { return hitsOf(block.log(), first, end); },
          [&block, first, end] { return hitsOf(block.strays(), first, end); },
          [&block] { block.clearLog(); },
          [&block, first](u32 offset, u64 value) {
            block.setReadValue(first + offset, static_cast<uint32_t>(value));
          }};
}

// A sheet whose version is also its oldest compatible one.
inline Sheet sheetOf(char const* name, u64 block, u32 span, char const* version, char const* file,
                     std::array<u32, kOps> const& lines, Counts counts,
                     std::vector<Register> registers, decltype(Sheet::build) build,
                     decltype(Sheet::probe) probe) {
  Sheet s{};
  s.name = name;
  s.block = block;
  s.span = span;
  s.build = std::move(build);
  s.probe = std::move(probe);
  s.version = s.oldest = version;
  s.counts = counts;
  s.registers = [registers] { return registers; };
  return withSites(s, file, lines);
}

// The field code of a field whose lowest bit is `bit`: the bit number's six
// binary digits in reverse order.
constexpr u32 fieldCode(unsigned bit) {
  u32 code = 0;
  for (unsigned i = 0; i < 6; ++i) code |= ((bit >> i) & 1u) << (5 - i);
  return code;
}

constexpr unsigned lowestBit(u64 mask) { return static_cast<unsigned>(__builtin_ctzll(mask)); }

// The ID of the field of `key`'s register that `mask` covers.
constexpr u32 fieldId(u32 key, u64 mask) {
  return fieldCode(lowestBit(mask)) << 24 | (key & 0x40FFFFFF);
}

inline std::string hex(u64 value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// A value per offset that a read of another offset would not give.
constexpr u64 patternAt(u32 offset, u32 salt = 0) {
  return (0x5A3CC3A5u ^ (offset * 0x9E3779B1u) ^ salt) | 1u;
}

// A format buffer whose untouched entries show.
struct Format {
  static constexpr u32 kCapacity = 64;
  explicit Format(u32 capacity) : count(capacity) {
    std::fill_n(types, kCapacity, arm::FieldType(7));
    std::fill_n(masks, kCapacity, u64{0xBAD});
  }
  u32 count;
  arm::FieldType types[kCapacity];
  u64 masks[kCapacity];
};

// Also the fixture of a map's own tests beside its sheet: `as` gives the map
// as its class, for what no slot reaches.
class MapConformance : public ::testing::TestWithParam<Sheet const*> {
 protected:
  void SetUp() override {
    probe_ = sheet().probe(module_.module());
    registers_ = sheet().registers();
    map_ = build(0, 0, 0xFFFFFFFF);
    probe_.clear();
  }
  void TearDown() override { EXPECT_EQ(probe_.strays(), std::vector<Hit>{}); }

  Sheet const& sheet() const { return *GetParam(); }
  char const* file() const { return sheet().sites[kFormat].file; }  // of the records' own lines
  Map& map() { return *map_; }
  template <class M>
  M& as() {
    return static_cast<M&>(*map_);
  }
  BuiltMap build(u32 base, u32 windowStart, u32 windowSize) {
    return sheet().build(module_.bar0() + sheet().block, base, windowStart, windowSize);
  }
  std::vector<Hit> takeLog() {
    std::vector<Hit> log = probe_.log();
    probe_.clear();
    return log;
  }

  u64 get(u32 id, u32 index = 0) {
    tLongStatus status;
    u64 value = 0;
    map().get(id, value, status, index);
    EXPECT_EQ(status.head.code, 0) << std::hex << "get 0x" << id;
    return value;
  }
  void set(u32 id, u64 value) {
    tLongStatus status;
    map().set(id, value, status, 0);
    EXPECT_EQ(status.head.code, 0) << std::hex << "set 0x" << id;
  }
  Format format(u32 id, u32 capacity, tLongStatus& status) {
    Format f(capacity);
    map().getRegisterFormat(id, f.count, f.types, f.masks, status);
    return f;
  }
  // One call on a clean status; true when accepted, else the refusal must
  // name the operation's site and clear what the slot hands back.
  bool attempt(Op op, u32 id);
  void miss(std::string what) {  // a sweep counts its misses and reports the first
    if (misses_++ == 0) firstMiss_ = std::move(what);
  }

  testing_support::MappedModule module_;  // outlives what the members below reach
  Probe probe_;
  std::vector<Register> registers_;
  BuiltMap map_;
  unsigned misses_ = 0;
  std::string firstMiss_;
};

}  // namespace conformance
