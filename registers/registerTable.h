// The description of a register map as constant data, the checks that run
// on it at compile time, and what the map core derives from it: field masks,
// shifts, codes and types, record layouts, and the table that resolves a
// register or field ID. registers/registerMap.h shows how a map is written.
//
// Nothing here exists at run time but constant data: a description is
// evaluated by the compiler, a slip in it is a compile error, and no table
// is ever built or sorted while the driver runs.
#pragma once

#include <type_traits>

#include "platform/status.h"
#include "platform/types.h"
#include "registers/dynamicAccessInterface.h"

namespace armcore {

using qvrm7_driver::u16;
using qvrm7_driver::u32;
using qvrm7_driver::u64;
using qvrm7_driver::u8;
using qvrm7_driver::nQVWEND000::StatusSite;

inline constexpr u8 kNotGiven = 0xFF;
inline constexpr u32 kNone = 0xFFFFFFFFu;

// ---- The description ------------------------------------------------------

// A constant view of a constant array, so that a description names its
// lists by the arrays themselves.
template <class T>
struct List {
  T const* data = nullptr;
  u32 size = 0;

  constexpr List() = default;
  template <u32 N>
  constexpr List(T const (&array)[N]) : data(array), size(N) {}
  constexpr T const& operator[](u32 index) const { return data[index]; }
};

// R: read only, its IDs in the read view. W: written only. RW: read and
// written, its IDs in the write view.
enum Access : u8 { kRead = 1, kWrite = 2, kReadWrite = 3 };

// One field: its bits, lowest first. Where a table writes the field's code
// or type as well, they are given too and must agree with the bits.
struct Field {
  u8 low;
  u8 high;
  u8 code = kNotGiven;
  u8 type = kNotGiven;
  // In a map whose one-bit fields take the value's lowest bit, this one
  // takes any non-zero value as 1 (every one-bit field of the other maps
  // does).
  bool anyNonZero = false;
};

constexpr Field bits(u8 low, u8 high, u8 code = kNotGiven, u8 type = kNotGiven) {
  return Field{low, high, code, type, false};
}
constexpr Field bit(u8 at, u8 code = kNotGiven) { return Field{at, at, code, 0, false}; }
constexpr Field anyNonZeroBit(u8 at, u8 code = kNotGiven) { return Field{at, at, code, 0, true}; }

// What registers of one class share: layout, access, fields, strobe bits and
// the lines of the window errors of their refresh and flush.
struct RegisterClass {
  Access access;
  u8 width = 32;  // 8, 16, 32 or 64 bits
  List<Field> fields = {};
  u64 strobe = 0;  // bits cleared in the shadow after every write that reached the hardware
  u64 reset = 0;   // the shadow after construction and reinitialize
  // false: a write-only register written straight through, never kept.
  bool shadow = true;
  // A written register whose read-back differs: a read-view whole ID names
  // the same record and reports only the fields that are not strobe bits.
  bool readViewAlias = false;
  // false: a record no ID reaches; only the whole-map operations do.
  bool hasId = true;
  u32 refreshLine = 0;  // -52006 lines (maps with a window)
  u32 flushLine = 0;
};

// One register, or `count` registers `stride` bytes apart, in declaration
// order: the order of the records and of the whole-map operations.
struct Register {
  u32 offset;
  RegisterClass const* type;
  u32 formatLine = 0;      // -52019
  u32 readFormatLine = 0;  // -52019 of the read-view alias
  u32 count = 1;
  u32 stride = 0;
};

enum class OneBitFields : u8 {
  kBoolean,  // any non-zero value sets a one-bit field
  kLowBit,   // only fields marked anyNonZero do; the others take bit 0
};

// The sites of the -52005 of each operation and of the -52002 of the format.
struct OperationSites {
  StatusSite get, set, read, write, flush, refresh, format;
};

constexpr OperationSites sitesIn(char const* file, u64 get, u64 set, u64 read, u64 write, u64 flush,
                                 u64 refresh, u64 format) {
  return {{file, get},   {file, set},     {file, read},  {file, write},
          {file, flush}, {file, refresh}, {file, format}};
}

struct MapDescription {
  char const* file;  // of every per-register status
  char const* version;
  char const* oldestCompatibleVersion;
  OperationSites sites;
  List<Register> registers;
  bool window = true;  // false: no accessible flag, no -52006, no reinitialize
  OneBitFields oneBitFields = OneBitFields::kBoolean;
  bool strobeFieldsRead = false;  // whether read takes the IDs of strobe fields
};

// ---- Rules every map shares ------------------------------------------------

// The field code is the field's lowest bit written in six bits, reversed.
constexpr u32 fieldCode(u32 lowBit) {
  u32 code = 0;
  for (u32 index = 0; index < 6; ++index) code |= ((lowBit >> index) & 1u) << (5 - index);
  return code;
}
// The reversal undoes itself: a code's lowest bit, 32 or more for no field.
constexpr u32 lowBitOfCode(u32 code) { return fieldCode(code); }

constexpr arm::FieldType fieldType(u32 width) {
  return width == 1    ? arm::kFieldBool
         : width <= 8  ? arm::kFieldU8
         : width <= 16 ? arm::kFieldU16
                       : arm::kFieldU32;
}

constexpr u64 lowMask(u32 width) { return width >= 64 ? ~u64{0} : (u64{1} << width) - 1; }

// ---- The record's fields, by map kind -------------------------------------

template <u32 Width>
using ShadowOf = std::conditional_t<
    Width == 8, u8,
    std::conditional_t<Width == 16, u16, std::conditional_t<Width == 32, u32, u64>>>;

// The owner is the map, seen as the interface: a record can be placed while
// the map's own class is still being built.
using tOwner = arm::DynamicAccessInterfaceBase<nQVWENDS100::tStatus>;

template <class Shadow, bool Window, bool Shadowed>
struct RecordFields;

template <class Shadow>
struct RecordFields<Shadow, true, true> {
  u32 address;
  Shadow shadow;
  bool dirty;
  bool accessible;
  tOwner* owner;
};
template <class Shadow>
struct RecordFields<Shadow, false, true> {
  u32 address;
  Shadow shadow;
  bool dirty;
  tOwner* owner;
};
template <class Shadow>
struct RecordFields<Shadow, true, false> {
  u32 address;
  bool accessible;
  tOwner* owner;
};
template <class Shadow>
struct RecordFields<Shadow, false, false> {
  u32 address;
  tOwner* owner;
};

// ---- What the core derives from a description -----------------------------

struct CompiledField {
  u32 mask;
  u8 shift;
  u8 type;
  bool anyNonZero;  // the value's every bit counts, not only those that fit
  bool strobe;
};

struct CompiledClass {
  u64 valueMask;
  u64 strobe;
  u32 refreshLine;
  u32 flushLine;
  u16 firstField;
  u8 fieldCount;
  u8 width;
  bool readable;
  bool writable;
  bool shadow;
  bool alias;
  bool fieldsInReadView;
  u8 fieldAtBit[32];  // index in the class's fields of the field starting at that bit
  // Record layout: size and where its fields lie (kNotGiven: absent).
  u8 size;
  u8 shadowAt;
  u8 dirtyAt;
  u8 accessibleAt;
};

struct CompiledRow {
  u32 offset;
  u32 count;
  u32 at;  // of the first record, in the map's record storage
  u32 formatLine;
  u32 readFormatLine;
  u8 strideShift;
};

// Everything the slots need, by pointer, so that one body of code serves
// every map.
struct MapTables {
  MapDescription const* map;
  CompiledRow const* rows;
  u32 rowCount;
  CompiledClass const* classes;  // each row's
  CompiledField const* fields;
  u8 const* lookup[2];  // per view: row at (offset >> granularity), kNotGiven for none
  u32 lookupSize[2];
  u32 granularity;
};

// The record that answers an offset in a view: its row and its index in the
// row's array; row kNone when none does.
struct Place {
  u32 row;
  u32 instance;
};

constexpr Place findPlace(MapTables const& tables, bool readView, u32 offset) {
  u32 const view = readView ? 1 : 0;
  u32 const index = offset >> tables.granularity;
  if (index >= tables.lookupSize[view]) return {kNone, 0};
  u8 const row = tables.lookup[view][index];
  if (row == kNotGiven) return {kNone, 0};
  CompiledRow const& r = tables.rows[row];
  u32 const delta = offset - r.offset;
  u32 const instance = delta >> r.strideShift;
  if ((instance << r.strideShift) != delta || instance >= r.count) return {kNone, 0};
  return {row, instance};
}

namespace detail {

template <class Shadow>
constexpr void layout(CompiledClass& c, bool window) {
  if (!c.shadow) {
    if (window) {
      using R = RecordFields<Shadow, true, false>;
      c.size = sizeof(R);
      c.accessibleAt = offsetof(R, accessible);
    } else {
      c.size = sizeof(RecordFields<Shadow, false, false>);
    }
    return;
  }
  if (window) {
    using R = RecordFields<Shadow, true, true>;
    c.size = sizeof(R);
    c.shadowAt = offsetof(R, shadow);
    c.dirtyAt = offsetof(R, dirty);
    c.accessibleAt = offsetof(R, accessible);
  } else {
    using R = RecordFields<Shadow, false, true>;
    c.size = sizeof(R);
    c.shadowAt = offsetof(R, shadow);
    c.dirtyAt = offsetof(R, dirty);
  }
}

constexpr u32 lowestSetBit(u32 value) {
  u32 index = 0;
  while (index < 32 && ((value >> index) & 1u) == 0) ++index;
  return index;
}

constexpr bool isViewRead(RegisterClass const& c) { return c.access == kRead; }

// Whether IDs of the view (0: write, 1: read) name registers of the class.
constexpr bool namedIn(RegisterClass const& c, u32 view) {
  if (!c.hasId) return false;
  return view == 1 ? isViewRead(c) || c.readViewAlias : !isViewRead(c);
}

constexpr u32 lastOffset(Register const& r) { return r.offset + (r.count - 1) * r.stride; }

constexpr u32 countFields(MapDescription const& d) {
  u32 fields = 0;
  for (u32 row = 0; row < d.registers.size; ++row) fields += d.registers[row].type->fields.size;
  return fields;
}

}  // namespace detail

// The first register (index in the table) that breaks each rule, kNone
// where none does. Each one is asserted on its own, so the compiler names
// the rule and prints the register's index.
struct TableProblems {
  u32 widthNot8_16_32_64 = kNone;
  u32 fieldOutsideRegister = kNone;
  u32 fieldsNotAscendingOrOverlap = kNone;
  u32 fieldCodeDiffersFromLowestBit = kNone;
  u32 fieldTypeDiffersFromWidth = kNone;
  u32 anyNonZeroOnWideField = kNone;
  u32 strobeSplitsFieldOrLeavesRegister = kNone;
  u32 resetLeavesRegister = kNone;
  u32 aliasNotOnShadowedReadWrite = kNone;
  u32 unshadowedRegisterRead = kNone;
  u32 recordWithoutIdRead = kNone;
  u32 offsetBeyond24Bits = kNone;
  u32 badArrayStride = kNone;
  u32 missingStatusLine = kNone;
  u32 tooManyRegisters = kNone;
};

constexpr TableProblems checkTable(MapDescription const& d) {
  TableProblems p;
  auto note = [](u32& slot, u32 row) {
    if (slot == kNone) slot = row;
  };
  if (d.registers.size == 0 || d.registers.size > 254) note(p.tooManyRegisters, 0);
  for (u32 row = 0; row < d.registers.size; ++row) {
    Register const& r = d.registers[row];
    RegisterClass const& c = *r.type;
    if (c.width != 8 && c.width != 16 && c.width != 32 && c.width != 64)
      note(p.widthNot8_16_32_64, row);
    for (u32 index = 0; index < c.fields.size; ++index) {
      Field const& f = c.fields[index];
      u32 const width = f.high - f.low + 1u;
      if (f.low > f.high || f.high >= c.width || f.high >= 32) {
        note(p.fieldOutsideRegister, row);
        continue;
      }
      if (index > 0 && f.low <= c.fields[index - 1].high) note(p.fieldsNotAscendingOrOverlap, row);
      if (f.code != kNotGiven && f.code != fieldCode(f.low))
        note(p.fieldCodeDiffersFromLowestBit, row);
      if (f.type != kNotGiven && f.type != fieldType(width)) note(p.fieldTypeDiffersFromWidth, row);
      if (f.anyNonZero && width != 1) note(p.anyNonZeroOnWideField, row);
      u64 const mask = lowMask(width) << f.low;
      u64 const inStrobe = c.strobe & mask;
      if (inStrobe != 0 && inStrobe != mask) note(p.strobeSplitsFieldOrLeavesRegister, row);
    }
    if ((c.strobe & ~lowMask(c.width)) != 0) note(p.strobeSplitsFieldOrLeavesRegister, row);
    if ((c.reset & ~lowMask(c.width)) != 0) note(p.resetLeavesRegister, row);
    if (c.readViewAlias && (c.access != kReadWrite || !c.shadow))
      note(p.aliasNotOnShadowedReadWrite, row);
    if (!c.shadow && c.access != kWrite) note(p.unshadowedRegisterRead, row);
    if (!c.hasId && c.access != kWrite) note(p.recordWithoutIdRead, row);
    if (r.count == 0 ||
        (r.count > 1 && (r.stride < c.width / 8 || (r.stride & (r.stride - 1)) != 0)))
      note(p.badArrayStride, row);
    else if (detail::lastOffset(r) > arm::kOffsetMask || r.offset > arm::kOffsetMask)
      note(p.offsetBeyond24Bits, row);
    bool const lines =
        (r.formatLine != 0 || !c.hasId) && (!c.readViewAlias || r.readFormatLine != 0) &&
        (!d.window || c.shadow == false || !(c.access & kRead) || c.refreshLine != 0) &&
        (!d.window || !(c.access & kWrite) || c.flushLine != 0);
    if (!lines) note(p.missingStatusLine, row);
  }
  return p;
}

// The lookup's shape: one table per view, indexed by offset >> granularity.
struct LookupShape {
  u32 granularity = 2;
  u32 size[2] = {0, 0};
};

constexpr LookupShape lookupShape(MapDescription const& d) {
  LookupShape shape;
  for (u32 row = 0; row < d.registers.size; ++row) {
    Register const& r = d.registers[row];
    if (!r.type->hasId) continue;
    u32 const low = detail::lowestSetBit(r.count > 1 ? (r.offset | r.stride) : r.offset);
    if (low < shape.granularity) shape.granularity = low;
  }
  for (u32 row = 0; row < d.registers.size; ++row) {
    Register const& r = d.registers[row];
    u32 const end = (detail::lastOffset(r) >> shape.granularity) + 1;
    for (u32 view = 0; view < 2; ++view)
      if (detail::namedIn(*r.type, view) && end > shape.size[view]) shape.size[view] = end;
  }
  return shape;
}

// A register class as the map's rules make it: layout, flags, lines, and
// its fields at `fields`, their index by lowest bit.
constexpr CompiledClass compileClass(MapDescription const& d, RegisterClass const& type,
                                     CompiledField* fields, u16 firstField) {
  CompiledClass c{};
  c.width = type.width;
  c.valueMask = lowMask(type.width);
  c.strobe = type.strobe;
  c.refreshLine = type.refreshLine;
  c.flushLine = type.flushLine;
  c.readable = (type.access & kRead) != 0;
  c.writable = (type.access & kWrite) != 0;
  c.shadow = type.shadow;
  c.alias = type.readViewAlias;
  c.fieldsInReadView = detail::isViewRead(type);
  c.firstField = firstField;
  c.fieldCount = static_cast<u8>(type.fields.size);
  for (u32 b = 0; b < 32; ++b) c.fieldAtBit[b] = kNotGiven;
  for (u32 f = 0; f < type.fields.size; ++f) {
    Field const& in = type.fields[f];
    u32 const width = in.high - in.low + 1u;
    CompiledField& out = fields[f];
    out.mask = static_cast<u32>(lowMask(width) << in.low);
    out.shift = in.low;
    out.type = fieldType(width);
    out.anyNonZero = width == 1 && (d.oneBitFields == OneBitFields::kBoolean || in.anyNonZero);
    out.strobe = (type.strobe & out.mask) != 0;
    c.fieldAtBit[in.low] = static_cast<u8>(f);
  }
  c.shadowAt = c.dirtyAt = c.accessibleAt = kNotGiven;
  switch (type.width) {
    case 8:
      detail::layout<u8>(c, d.window);
      break;
    case 16:
      detail::layout<u16>(c, d.window);
      break;
    case 32:
      detail::layout<u32>(c, d.window);
      break;
    default:
      detail::layout<u64>(c, d.window);
      break;
  }
  return c;
}

// One class compiled on its own, for the record type that carries it.
template <MapDescription const& D, RegisterClass const& C>
struct CompiledType {
  struct Data {
    CompiledField fields[C.fields.size > 0 ? C.fields.size : 1];
    CompiledClass type;
  };
  static constexpr Data build() {
    Data data{};
    data.type = compileClass(D, C, data.fields, 0);
    return data;
  }
  static constexpr Data kData = build();
};

// The compiled form of one description, as constant data.
template <MapDescription const& D>
struct Compiled {
  static constexpr TableProblems kProblems = checkTable(D);
  static_assert(kProblems.tooManyRegisters == kNone, "a map has 1 to 254 register rows");
  static_assert(kProblems.widthNot8_16_32_64 == kNone, "register width is not 8, 16, 32 or 64");
  static_assert(kProblems.fieldOutsideRegister == kNone, "field bits lie outside the register");
  static_assert(kProblems.fieldsNotAscendingOrOverlap == kNone,
                "fields are not in ascending bit order or overlap");
  static_assert(kProblems.fieldCodeDiffersFromLowestBit == kNone,
                "a written field code differs from the code of the field's lowest bit");
  static_assert(kProblems.fieldTypeDiffersFromWidth == kNone,
                "a written field type differs from the type of the field's width");
  static_assert(kProblems.anyNonZeroOnWideField == kNone, "only one-bit fields take any non-zero");
  static_assert(kProblems.strobeSplitsFieldOrLeavesRegister == kNone,
                "strobe bits must cover whole fields inside the register");
  static_assert(kProblems.resetLeavesRegister == kNone, "reset value wider than the register");
  static_assert(kProblems.aliasNotOnShadowedReadWrite == kNone,
                "a read-view alias needs a read-write register with a shadow");
  static_assert(kProblems.unshadowedRegisterRead == kNone,
                "a register without a shadow can only be written");
  static_assert(kProblems.recordWithoutIdRead == kNone, "a record without ID can only be written");
  static_assert(kProblems.offsetBeyond24Bits == kNone, "register offsets have 24 bits");
  static_assert(kProblems.badArrayStride == kNone,
                "array stride must be a power of two no smaller than the register");
  static_assert(kProblems.missingStatusLine == kNone,
                "a register lacks a format, alias format, refresh or flush line");

  static constexpr u32 kRowCount = D.registers.size;
  static constexpr u32 kFieldCount = detail::countFields(D);
  static constexpr LookupShape kShape = lookupShape(D);
  static_assert(kShape.size[0] + kShape.size[1] <= 8192,
                "the ID table would be large: the offsets are too sparse for it");

  struct Data {
    CompiledRow rows[kRowCount];
    CompiledClass classes[kRowCount];  // each row's
    CompiledField fields[kFieldCount > 0 ? kFieldCount : 1];
    u8 lookup[kShape.size[0] + kShape.size[1] > 0 ? kShape.size[0] + kShape.size[1] : 1];
    u32 storageSize;
    u32 sharedOffset;  // the first row whose offset another row already answers in a view
  };

  static constexpr Data build() {
    Data data{};
    u32 nextField = 0;
    for (u32 i = 0; i < kShape.size[0] + kShape.size[1]; ++i) data.lookup[i] = kNotGiven;
    data.sharedOffset = kNone;
    u32 at = 0;
    for (u32 row = 0; row < kRowCount; ++row) {
      Register const& r = D.registers[row];
      CompiledRow& out = data.rows[row];
      out.offset = r.offset;
      out.count = r.count;
      out.at = at;
      out.formatLine = r.formatLine;
      out.readFormatLine = r.readFormatLine;
      out.strideShift = static_cast<u8>(r.count > 1 ? detail::lowestSetBit(r.stride) : 0);
      data.classes[row] = compileClass(D, *r.type, data.fields + nextField, nextField);
      nextField += r.type->fields.size;
      at += r.count * data.classes[row].size;
      for (u32 view = 0; view < 2; ++view) {
        if (!detail::namedIn(*r.type, view)) continue;
        u8* table = data.lookup + (view == 1 ? kShape.size[0] : 0);
        for (u32 i = 0; i < r.count; ++i) {
          u8& entry = table[(r.offset + i * r.stride) >> kShape.granularity];
          if (entry != kNotGiven && data.sharedOffset == kNone) data.sharedOffset = row;
          entry = static_cast<u8>(row);
        }
      }
    }
    data.storageSize = at;
    return data;
  }

  static constexpr Data kData = build();
  static_assert(kData.sharedOffset == kNone, "two records answer one offset in one view");

  static constexpr MapTables kTables{
      &D,
      kData.rows,
      kRowCount,
      kData.classes,
      kData.fields,
      {kData.lookup, kData.lookup + kShape.size[0]},
      {kShape.size[0], kShape.size[1]},
      kShape.granularity,
  };
};

}  // namespace armcore
