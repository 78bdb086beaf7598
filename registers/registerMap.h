// The register-map core: one implementation of the twelve interface slots,
// the whole-map operations, construction and reinitialize, for every map.
// A map is a constant description plus a class that names it.
//
// ---- How to describe a map (a worked example) ------------------------------
//
//   namespace demo {
//   using namespace armcore;  // Field, RegisterClass, Register, MapDescription, bit(), bits()
//
//   // Every object of a description is `inline constexpr`: one object in
//   // every file that includes the map's header.
//   // A register class: what registers of one layout share. Fields lowest
//   // bit first; where the table writes a field's code (and type), give it:
//   // a slip is a compile error. Designated members in declaration order.
//   inline constexpr Field kControlFields[] = {bits(0, 3, 0x00, 1), bit(4, 0x08), bit(31, 0x3E)};
//   inline constexpr RegisterClass kControlClass{
//       .access = kReadWrite,      // kRead, kWrite or kReadWrite
//       .fields = kControlFields,  // .width = 32 by default
//       .strobe = 0x80000000,      // cleared in the shadow after each write
//       .readViewAlias = true,     // 0xC0000000 | offset names it too
//       .refreshLine = 120,        // -52006 of its refresh
//       .flushLine = 110};         // -52006 of its flush
//   inline constexpr Field kCountFields[] = {bits(0, 9)};
//   inline constexpr RegisterClass kCountClass{.access = kRead, .fields = kCountFields,
//                                       .refreshLine = 130};
//
//   // The registers in declaration order: offset, class, -52019 line(s);
//   // `count` and `stride` make an array of identical registers.
//   inline constexpr Register kRegisters[] = {
//       {.offset = 0x00, .type = &kControlClass, .formatLine = 300, .readFormatLine = 301},
//       {.offset = 0x10, .type = &kCountClass, .formatLine = 310, .count = 8, .stride = 4},
//   };
//
//   // The map: status file, versions, the -52005 sites of get, set, read,
//   // write, flush and refresh and the -52002 site of the format, the rows.
//   inline constexpr char kDemoFile[] = "armgen/DemoRegMap";
//   inline constexpr MapDescription kDemoMap{
//       .file = kDemoFile, .version = "1.0.0f1", .oldestCompatibleVersion = "1.0.0f1",
//       .sites = sitesIn(kDemoFile, 10, 11, 12, 13, 14, 15, 16),
//       .registers = kRegisters};  // then .window, .oneBitFields, .strobeFieldsRead if needed
//
//   // A register class with named operations, only where other code names
//   // them: derive from the core's record, give the map's class as owner.
//   class tDemoRegMap;
//   class tControlReg : public tRegisterRecord<tDemoRegMap, kDemoMap, kControlClass> {
//    public:
//     u8 readMode(tStatus& s) { return readField<0>(s); }  // fields by lowest bit
//     void writeEnable(bool v, tStatus& s, bool force) { writeField<4>(v, s, force); }
//   };
//
//   // The map: the core over the description, the path to the hardware
//   // (BarPath: the mapped BAR) and the named record classes, if any.
//   class tDemoRegMap final : public RegisterMap<tDemoRegMap, kDemoMap, BarPath, tControlReg> {
//    public:
//     using RegisterMap::RegisterMap;  // (accessor*, base, windowStart, windowSize)
//     using tControlReg = demo::tControlReg;
//     using tCountReg = tRegisterRecord<kCountClass>;  // a nested name for a generic record class
//     tControlReg& control() { return record<0>(); }  // by row
//     tCountReg& count(u32 n) { return record<1>(n); }
//     tCountReg& lastCount() { return recordFor<0xC000002C>(); }  // by whole ID
//   };
//   }  // namespace demo
//
// What the core does with it: IDs are resolved from the description alone;
// get/set/read/write/flush/refresh/getRegisterFormat accept exactly the IDs
// the register's access and views give (a read-view alias names the written
// record and reports only its fields that are not strobe bits); flushRegMap,
// refreshRegMap and markDirtyRegMap walk the records in declaration order,
// each register on a fresh status merged into the caller's.
//
// Where a map deviates:
// - no window (.window = false): no accessible flag, never -52006, no
//   reinitialize; the constructor takes the accessor alone;
// - registers without shadow (.shadow = false): written straight through;
// - one-bit fields that take the value's low bit (.oneBitFields = kLowBit),
//   except those written anyNonZeroBit();
// - read of strobe fields allowed (.strobeFieldsRead = true);
// - a record no ID reaches (.hasId = false, e.g. a 64-bit data record that
//   only flushRegMap writes);
// - another path to the hardware: a class like BarPath over another
//   accessor type;
// - a member map held by value right after the records, built over the
//   same accessor at its own base with a window that holds all of it, whose
//   whole-map operations and reinitialize follow the map's own: specialise
//     template <> struct armcore::MemberMap<kDemoMap> {
//       using type = tTimerRegMap;
//       static constexpr u32 kBase = 0x34;
//     };
//   before the map class, and reach it through member();
// - anything else: override the slot in the map class.
#pragma once

#include <type_traits>

#include "platform/memory.h"
#include "registers/dynamicAccessInterface.h"
#include "registers/registerRecord.h"

namespace armcore {

// ---- The slots over the compiled tables -------------------------------------

void getSlot(MapTables const& tables, u8* records, u32 id, u64& value, tStatus& status);
void setSlot(MapTables const& tables, u8* records, u32 id, u64 value, tStatus& status);
void readSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id, u64& value,
              tStatus& status);
void writeSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id, u64 value,
               bool force, tStatus& status);
void flushSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id, bool force,
               tStatus& status);
void refreshSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id,
                 tStatus& status);
void formatSlot(MapTables const& tables, u32 id, u32& count, arm::FieldType* types, u64* masks,
                tStatus& status);
void flushAll(MapTables const& tables, u8* records, Hardware const& hardware, bool force,
              tStatus& status);
void refreshAll(MapTables const& tables, u8* records, Hardware const& hardware, tStatus& status);
void markAllDirty(MapTables const& tables, u8* records);

// Where an ID leads: the row, the record in it, the field (kNone: the whole
// register) and the view it was named in.
struct Target {
  CompiledRow const* row;
  CompiledClass const* type;
  u32 instance;
  u32 field;
  bool readView;
};
// As get, set, read and write see an ID: a whole ID loses its field code; a
// field ID must be one exactly.
bool resolveId(MapTables const& tables, u32 id, Target& target);
// As flush, refresh and getRegisterFormat see one: any ID of a register, in
// its view.
bool resolveKey(MapTables const& tables, u32 id, Target& target);

// ---- The records of a map, by value, in declaration order --------------------

namespace detail {

template <class Generic, class... Named>
struct PickRecord {
  using type = Generic;
};
// A named class stands for the generic record of the same class: the class
// is told by type, as addresses of two objects cannot always be compared
// while the program is built.
template <class Generic, class First, class... Named>
struct PickRecord<Generic, First, Named...> {
  using type = std::conditional_t<std::is_base_of_v<Generic, First>, First,
                                  typename PickRecord<Generic, Named...>::type>;
};

template <class Map, MapDescription const& D, u32 Row, class... Named>
using RecordOfRow =
    typename PickRecord<tRegisterRecord<Map, D, *D.registers[Row].type>, Named...>::type;

// One array per row; the rest of the rows behind it.
template <class Map, MapDescription const& D, u32 Row, bool Last, class... Named>
struct RowStorage {
  RecordOfRow<Map, D, Row, Named...> head[D.registers[Row].count];
  RowStorage<Map, D, Row + 1, Row + 2 == D.registers.size, Named...> tail;
};
template <class Map, MapDescription const& D, u32 Row, class... Named>
struct RowStorage<Map, D, Row, true, Named...> {
  RecordOfRow<Map, D, Row, Named...> head[D.registers[Row].count];
};

template <u32 Row, class Storage>
constexpr auto& rowOf(Storage& storage) {
  if constexpr (Row == 0)
    return storage.head;
  else
    return rowOf<Row - 1>(storage.tail);
}

template <u32 Row, class Storage>
constexpr u32 rowAt() {
  if constexpr (Row == 0)
    return offsetof(Storage, head);
  else
    return offsetof(Storage, tail) + rowAt<Row - 1, decltype(Storage::tail)>();
}

template <class Storage, u32 Row, class F>
void visitRows(Storage& storage, F& f) {
  f.template operator()<Row>(storage.head);
  if constexpr (requires { storage.tail; })
    visitRows<decltype(storage.tail), Row + 1>(storage.tail, f);
}

template <class Map, MapDescription const& D, class Named, u32 Row = 0, class... All>
constexpr bool namesARow() {
  if constexpr (Row == D.registers.size)
    return false;
  else
    return std::is_same_v<RecordOfRow<Map, D, Row, All...>, Named> ||
           namesARow<Map, D, Named, Row + 1, All...>();
}

}  // namespace detail

// ---- The map ----------------------------------------------------------------

// What a map holds when it holds no member map: nothing, in no space.
struct NoMemberMap {
  template <class... Arguments>
  constexpr explicit NoMemberMap(Arguments...) {}
};

// The member map of the map that D describes (see the top of this file).
template <MapDescription const& D>
struct MemberMap {
  using type = NoMemberMap;
  static constexpr u32 kBase = 0;
};

template <class Derived, MapDescription const& D, class Path, class... Named>
class MapCore : public arm::DynamicAccessInterfaceBase<tStatus> {
  using tStorage = detail::RowStorage<Derived, D, 0, D.registers.size == 1, Named...>;
  using tCompiled = Compiled<D>;
  static constexpr MapTables const& kTables = tCompiled::kTables;
  using tMemberMap = typename MemberMap<D>::type;
  static constexpr bool kHasMember = !std::is_same_v<tMemberMap, NoMemberMap>;

 public:
  using tPath = Path;
  using tAccessor = typename Path::tAccessor;
  template <RegisterClass const& C>
  using tRegisterRecord = armcore::tRegisterRecord<Derived, D, C>;

  MapCore(MapCore const&) = delete;
  MapCore& operator=(MapCore const&) = delete;

  void get(u32 id, u64& value, tStatus& status, u32) override {
    getSlot(kTables, bytes(), id, value, status);
  }
  void set(u32 id, u64 value, tStatus& status, u32) override {
    setSlot(kTables, bytes(), id, value, status);
  }
  void read(u32 id, u64& value, tStatus& status, u32) override {
    readSlot(kTables, bytes(), hardware(), id, value, status);
  }
  void write(u32 id, u64 value, bool force, tStatus& status, u32) override {
    writeSlot(kTables, bytes(), hardware(), id, value, force, status);
  }
  void flush(u32 id, bool force, tStatus& status, u32) override {
    flushSlot(kTables, bytes(), hardware(), id, force, status);
  }
  void refresh(u32 id, tStatus& status, u32) override {
    refreshSlot(kTables, bytes(), hardware(), id, status);
  }
  void getRegisterFormat(u32 id, u32& count, arm::FieldType* types, u64* masks,
                         tStatus& status) const override {
    formatSlot(kTables, id, count, types, masks, status);
  }
  void flushRegMap(bool force, tStatus& status) override {
    if (status.isFatal()) return;
    flushAll(kTables, bytes(), hardware(), force, status);
    forMembers([&](auto& member) {
      tStatus local;
      member.flushRegMap(force, local);
      qvrm7_driver::nQVWEND000::mergeStatus(status, local);
    });
  }
  void refreshRegMap(tStatus& status) override {
    if (status.isFatal()) return;
    refreshAll(kTables, bytes(), hardware(), status);
    forMembers([&](auto& member) {
      tStatus local;
      member.refreshRegMap(local);
      qvrm7_driver::nQVWEND000::mergeStatus(status, local);
    });
  }
  void markDirtyRegMap() override {
    markAllDirty(kTables, bytes());
    forMembers([](auto& member) { member.markDirtyRegMap(); });
  }
  char const* getVersion() const override { return D.version; }
  char const* getOldestCompatibleVersion() const override { return D.oldestCompatibleVersion; }

  virtual ~MapCore() = default;
  static void operator delete(void* object) { qvrm7_driver::nQVWEND000::operatorDelete(object); }

  tAccessor* accessor() const { return accessor_; }

  tMemberMap& member() requires kHasMember { return member_; }

  // Where the parts of the object lie: the records, the member map, then
  // the accessor (a windowed map's base and window follow it). Offsets in a
  // class with a virtual table are conditionally supported, and supported
  // by every compiler that builds the driver.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static constexpr u64 recordsOffset() { return offsetof(MapCore, records_); }
  static constexpr u64 memberOffset() { return offsetof(MapCore, member_); }
  static constexpr u64 accessorOffset() { return offsetof(MapCore, accessor_); }
#pragma GCC diagnostic pop

  // The records of row `Row` of the description, by value; `instance` is
  // below the row's count (a caller checks any index that comes from outside).
  template <u32 Row>
  auto& record(u32 instance = 0) {
    return detail::rowOf<Row>(records_)[instance];
  }
  // The record a whole-register ID names, found when the program is built.
  template <u32 Id>
  auto& recordFor() {
    static_assert((Id & arm::kWholeRegisterBit) != 0, "a whole-register ID names a record");
    constexpr Place kPlace =
        findPlace(kTables, (Id & arm::kReadViewBit) != 0, Id & arm::kOffsetMask);
    static_assert(kPlace.row != kNone, "no register of the map has that ID");
    return record<kPlace.row>(kPlace.instance);
  }

 protected:
  explicit MapCore(tAccessor* accessor)
      : member_(accessor, MemberMap<D>::kBase, 0, 0xFFFFFFFFu), accessor_(accessor) {}

  // Every record to its first state: address and window from `place`,
  // reset shadow, clean, owned by this map.
  template <class Placer>
  void placeRecords(Placer place) {
    tOwner* const owner = this;
    auto visit = [&]<u32 Row>(auto& records) {
      CompiledRow const& row = tCompiled::kData.rows[Row];
      for (u32 instance = 0; instance < row.count; ++instance) {
        auto& record = records[instance];
        place(record, row.offset + (instance << row.strideShift));
        if constexpr (requires { record.shadow; }) {
          record.shadow = static_cast<decltype(record.shadow)>(record.kClass.reset);
          record.dirty = false;
        }
        record.owner = owner;
      }
    };
    detail::visitRows<tStorage, 0>(records_, visit);
  }

  template <class F>
  void forMembers(F&& f) {
    if constexpr (kHasMember) f(member_);
  }

 private:
  static_assert(std::is_standard_layout_v<tStorage>, "named record classes add no data");
  static_assert(sizeof(tStorage) == tCompiled::kData.storageSize);
  static_assert((detail::namesARow<Derived, D, Named, 0, Named...>() && ...),
                "a named record class belongs to no register of the map");
  template <u32 Row = 0>
  static constexpr bool rowsAsCompiled() {
    if constexpr (Row == D.registers.size)
      return true;
    else
      return detail::rowAt<Row, tStorage>() == tCompiled::kData.rows[Row].at &&
             rowsAsCompiled<Row + 1>();
  }
  static_assert(rowsAsCompiled(), "records lie where the compiled rows say");

  u8* bytes() { return reinterpret_cast<u8*>(&records_); }
  Hardware hardware() const { return hardwareOf<Path>(accessor_); }

  tStorage records_;
  [[no_unique_address]] tMemberMap member_;
  tAccessor* accessor_;
};

// A map over a window: the records of offsets outside it are not accessible.
template <class Derived, MapDescription const& D, class Path, class... Named>
class WindowedMap : public MapCore<Derived, D, Path, Named...> {
  using tCore = MapCore<Derived, D, Path, Named...>;

 public:
  using RegisterMap = WindowedMap;  // so that a map writes `using RegisterMap::RegisterMap;`

  WindowedMap(typename tCore::tAccessor* accessor, u32 base, u32 windowStart, u32 windowSize)
      : tCore(accessor), base_(base), windowStart_(windowStart), windowSize_(windowSize) {
    place();
  }

  // Every record back to its first state; the hardware is not touched.
  virtual void reinitialize() {
    place();
    this->forMembers([](auto& member) { member.reinitialize(); });
  }

  u32 base() const { return base_; }
  u32 windowStart() const { return windowStart_; }
  u32 windowSize() const { return windowSize_; }
  // The window's start and size follow the base.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  static constexpr u64 baseOffset() { return offsetof(WindowedMap, base_); }
#pragma GCC diagnostic pop

 private:
  void place() {
    this->placeRecords([this](auto& record, u32 offset) {
      record.address = base_ + offset - windowStart_;
      record.accessible = windowStart_ <= offset && offset - windowStart_ < windowSize_;
    });
  }

  u32 base_;
  u32 windowStart_;
  u32 windowSize_;
};

// A map without window: every record at its offset, always reachable.
template <class Derived, MapDescription const& D, class Path, class... Named>
class PlainMap : public MapCore<Derived, D, Path, Named...> {
  using tCore = MapCore<Derived, D, Path, Named...>;

 public:
  using RegisterMap = PlainMap;

  explicit PlainMap(typename tCore::tAccessor* accessor) : tCore(accessor) {
    this->placeRecords([](auto& record, u32 offset) { record.address = offset; });
  }
};

template <class Derived, MapDescription const& D, class Path, class... Named>
using RegisterMap = std::conditional_t<D.window, WindowedMap<Derived, D, Path, Named...>,
                                       PlainMap<Derived, D, Path, Named...>>;

}  // namespace armcore
