// A register record and its primitives: refresh from the hardware, flush to
// it, and the cached field arithmetic that get, set and the field reads and
// writes share. The same primitives serve a record reached by ID through a
// map's slots and a record named by its class in a controller.
//
// The hardware is reached through a path: the mapped BAR here, or another
// accessor (a bridge port, an I2C device) that reports failures in the
// status. Whatever the path, the steps after an access (new shadow, clean
// record, strobe bits dropped) happen only when the status holds no error.
#pragma once

#include "platform/kernelServices.h"
#include "platform/memorySpaceAccessor.h"
#include "platform/plainStore.h"
#include "platform/statusCodes.h"
#include "registers/registerTable.h"

namespace armcore {

using nQVWENDS100::tStatus;

// ---- Hardware paths ------------------------------------------------------

// A path is a class with the accessor type it works on and two operations:
//   static u64 read(tAccessor*, u32 address, u32 width, tStatus&);
//   static void write(tAccessor*, u32 address, u32 width, u64 value, tStatus&);
// The address is the record's; widths are 8, 16, 32 or 64 bits.

// The mapped BAR: the accessor's first word plus the record's address, read
// anew at every access. Reads and writes go through the layer, except that
// a 64-bit record is one plain store (see platform/plainStore.h).
struct BarPath {
  using tAccessor = qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;

  static u64 read(tAccessor* accessor, u32 address, u32 width, tStatus&) {
    u64 const at = accessor->mappedAddress + address;
    switch (width) {
      case 8:
        return nQVZOR100_memoryRead8(at);
      case 16:
        return nQVZOR100_memoryRead16(at);
      case 32:
        return nQVZOR100_memoryRead32(at);
      default:
        return *reinterpret_cast<u64 const volatile*>(at);
    }
  }
  static void write(tAccessor* accessor, u32 address, u32 width, u64 value, tStatus&) {
    u64 const at = accessor->mappedAddress + address;
    switch (width) {
      case 8:
        nQVZOR100_memoryWrite8(at, static_cast<u8>(value));
        break;
      case 16:
        nQVZOR100_memoryWrite16(at, static_cast<u16>(value));
        break;
      case 32:
        nQVZOR100_memoryWrite32(at, static_cast<u32>(value));
        break;
      default:
        qvrm7_driver::nQVWEND000::storeQword(at, value);
        break;
    }
  }
};

// A path with its accessor, as the map's slots see it: one body of slot
// code serves every path.
struct Hardware {
  void* accessor;
  u64 (*read)(void* accessor, u32 address, u32 width, tStatus& status);
  void (*write)(void* accessor, u32 address, u32 width, u64 value, tStatus& status);
};

template <class Path>
u64 readThrough(void* accessor, u32 address, u32 width, tStatus& status) {
  return Path::read(static_cast<typename Path::tAccessor*>(accessor), address, width, status);
}
template <class Path>
void writeThrough(void* accessor, u32 address, u32 width, u64 value, tStatus& status) {
  Path::write(static_cast<typename Path::tAccessor*>(accessor), address, width, value, status);
}
template <class Path>
Hardware hardwareOf(typename Path::tAccessor* accessor) {
  return {accessor, &readThrough<Path>, &writeThrough<Path>};
}

// ---- One record, whatever its layout -------------------------------------

// The fields of a record at `at`, found through the layout its class gives.
struct RecordView {
  u8* at;
  CompiledClass const& type;

  u32 address() const { return *reinterpret_cast<u32 const*>(at); }
  bool accessible() const {
    return type.accessibleAt == kNotGiven || *reinterpret_cast<bool const*>(at + type.accessibleAt);
  }
  bool& dirty() const { return *reinterpret_cast<bool*>(at + type.dirtyAt); }
  u64 shadow() const {
    u8 const* s = at + type.shadowAt;
    switch (type.width) {
      case 8:
        return *s;
      case 16:
        return *reinterpret_cast<u16 const*>(s);
      case 32:
        return *reinterpret_cast<u32 const*>(s);
      default:
        return *reinterpret_cast<u64 const*>(s);
    }
  }
  void setShadow(u64 value) const {
    u8* s = at + type.shadowAt;
    switch (type.width) {
      case 8:
        *s = static_cast<u8>(value);
        break;
      case 16:
        *reinterpret_cast<u16*>(s) = static_cast<u16>(value);
        break;
      case 32:
        *reinterpret_cast<u32*>(s) = static_cast<u32>(value);
        break;
      default:
        *reinterpret_cast<u64*>(s) = value;
        break;
    }
  }
};

// ---- Field arithmetic -----------------------------------------------------

inline u64 fieldOf(u64 shadow, CompiledField const& field) {
  return (shadow & field.mask) >> field.shift;
}

// The register value with `value` in the field: only the bits that fit,
// except that a field taking any non-zero value tests all 64 bits.
inline u64 withField(u64 shadow, CompiledField const& field, u64 value) {
  u64 const bits = field.anyNonZero ? u64{value != 0} << field.shift : (value << field.shift);
  return (shadow & ~u64{field.mask}) | (bits & field.mask);
}

// A new shadow dirties the record only when it differs.
inline void storeShadow(RecordView record, u64 value) {
  u64 const fitted = value & record.type.valueMask;
  if (fitted == record.shadow()) return;
  record.setShadow(fitted);
  record.dirty() = true;
}

// ---- The primitives --------------------------------------------------------

using qvrm7_driver::nQVWEND000::kStatusNotAvailable;
using qvrm7_driver::nQVWEND000::setStatus;

inline void refreshRecord(RecordView record, Hardware const& hardware, char const* file,
                          tStatus& status) {
  if (status.isFatal()) return;
  if (!record.accessible()) {
    setStatus(status, kStatusNotAvailable, StatusSite{file, record.type.refreshLine});
    return;
  }
  u64 const value = hardware.read(hardware.accessor, record.address(), record.type.width, status);
  if (status.isFatal()) return;
  record.setShadow(value);
  record.dirty() = false;
}

// A register without a shadow has nothing to flush: its writes went through.
inline void flushRecord(RecordView record, Hardware const& hardware, char const* file, bool force,
                        tStatus& status) {
  if (status.isFatal() || !record.type.shadow) return;
  if (!force && !record.dirty()) return;
  if (!record.accessible()) {
    setStatus(status, kStatusNotAvailable, StatusSite{file, record.type.flushLine});
    return;
  }
  u64 const value = record.shadow();
  hardware.write(hardware.accessor, record.address(), record.type.width, value, status);
  if (status.isFatal()) return;
  record.setShadow(value & ~record.type.strobe);
  record.dirty() = false;
}

// A write-only register without a shadow: every write goes to the hardware.
inline void writeUnshadowed(RecordView record, Hardware const& hardware, char const* file,
                            u64 value, tStatus& status) {
  if (status.isFatal()) return;
  if (!record.accessible()) {
    setStatus(status, kStatusNotAvailable, StatusSite{file, record.type.flushLine});
    return;
  }
  hardware.write(hardware.accessor, record.address(), record.type.width,
                 value & record.type.valueMask, status);
}

// Set, then flush: the shared step of writeRegister, the field writes and
// the write slot.
inline void writeRecord(RecordView record, Hardware const& hardware, char const* file, u64 value,
                        bool force, tStatus& status) {
  if (status.isFatal()) return;
  if (!record.type.shadow) return writeUnshadowed(record, hardware, file, value, status);
  storeShadow(record, value);
  flushRecord(record, hardware, file, force, status);
}

// ---- The record of a register class --------------------------------------

template <class Map, MapDescription const& D, RegisterClass const& C>
class tRegisterRecord : public RecordFields<ShadowOf<C.width>, D.window, C.shadow> {
  static constexpr CompiledClass const& kType = CompiledType<D, C>::kData.type;
  static constexpr bool kWritable = (C.access & kWrite) != 0;
  static constexpr bool kSettable = C.shadow && kWritable;
  static constexpr bool kRefreshable = C.shadow && (C.access & kRead) != 0;

  template <u32 LowBit>
  static constexpr CompiledField const& field() {
    static_assert(LowBit < 32 && kType.fieldAtBit[LowBit] != kNotGiven,
                  "no field of this register starts at that bit");
    return CompiledType<D, C>::kData.fields[kType.fieldAtBit[LowBit]];
  }
  template <u32 LowBit>
  static constexpr u32 kFieldWidth = C.fields[kType.fieldAtBit[LowBit]].high - LowBit + 1;

  RecordView view() { return {reinterpret_cast<u8*>(this), kType}; }
  Hardware hardware() const { return hardwareOf<typename Map::tPath>(map().accessor()); }

 public:
  static constexpr RegisterClass const& kClass = C;
  using tValue = ShadowOf<C.width>;

  Map& map() const { return static_cast<Map&>(*this->owner); }
  // A field's value: bool for one bit, else the narrowest unsigned type.
  template <u32 LowBit>
  using tField = std::conditional_t<
      kFieldWidth<LowBit> == 1, bool,
      std::conditional_t<kFieldWidth<LowBit> <= 8, u8,
                         std::conditional_t<kFieldWidth<LowBit> <= 16, u16, u32>>>;

  // The shadow alone, no hardware access.
  tValue get() const requires(C.shadow) { return this->shadow; }
  template <u32 LowBit>
  tField<LowBit> getField() const requires(C.shadow) {
    return static_cast<tField<LowBit>>(fieldOf(this->shadow, field<LowBit>()));
  }
  void set(tValue value) requires(kSettable) { storeShadow(view(), value); }
  template <u32 LowBit>
  void setField(tField<LowBit> value) requires(kSettable) {
    storeShadow(view(), withField(this->shadow, field<LowBit>(), value));
  }

  // The hardware: the register's own lines and the map's file.
  void refresh(tStatus& status) requires(kRefreshable) {
    refreshRecord(view(), hardware(), D.file, status);
  }
  void flush(tStatus& status, bool force) requires(kWritable) {
    flushRecord(view(), hardware(), D.file, force, status);
  }
  tValue readRegister(tStatus& status) requires(kRefreshable) {
    refresh(status);
    return this->shadow;
  }
  void writeRegister(tValue value, tStatus& status, bool force) requires(kWritable) {
    writeRecord(view(), hardware(), D.file, value, force, status);
  }
  template <u32 LowBit>
  tField<LowBit> readField(tStatus& status) requires(kRefreshable) {
    refresh(status);
    return getField<LowBit>();
  }
  template <u32 LowBit>
  void writeField(tField<LowBit> value, tStatus& status, bool force) requires(kWritable) {
    u64 base = 0;
    if constexpr (C.shadow) base = this->shadow;
    writeRecord(view(), hardware(), D.file, withField(base, field<LowBit>(), value), force, status);
  }
};

}  // namespace armcore
