#include "registers/registerMap.h"

namespace armcore {

namespace {

using qvrm7_driver::nQVWEND000::kStatusBadArgument;
using qvrm7_driver::nQVWEND000::kStatusBufferTooSmall;
using qvrm7_driver::nQVWEND000::kStatusNotSupported;
using qvrm7_driver::nQVWEND000::mergeStatus;

struct LowBits {
  u8 of[64];
};
constexpr LowBits lowBits() {
  LowBits table{};
  for (u32 code = 0; code < 64; ++code) table.of[code] = static_cast<u8>(lowBitOfCode(code));
  return table;
}
constexpr LowBits kLowBitOfCode = lowBits();

RecordView recordOf(u8* records, Target const& target) {
  return {records + target.row->at + target.instance * target.type->size, *target.type};
}

CompiledField const& fieldAt(MapTables const& tables, Target const& target) {
  return tables.fields[target.field];
}

bool isStrobeField(MapTables const& tables, Target const& target) {
  return target.field != kNone && fieldAt(tables, target).strobe;
}

void refuse(tStatus& status, StatusSite site) { setStatus(status, kStatusBadArgument, site); }

}  // namespace

// The register is found by view and offset alone, whatever else the ID holds.
bool resolveKey(MapTables const& tables, u32 id, Target& target) {
  bool const readView = (id & arm::kReadViewBit) != 0;
  Place const place = findPlace(tables, readView, id & arm::kOffsetMask);
  if (place.row == kNone) return false;
  target = {&tables.rows[place.row], &tables.classes[place.row], place.instance, kNone, readView};
  return true;
}

bool resolveId(MapTables const& tables, u32 id, Target& target) {
  if (!resolveKey(tables, id, target)) return false;
  if ((id & arm::kWholeRegisterBit) != 0) return true;
  if (target.readView != target.type->fieldsInReadView) return false;
  u32 const lowBit = kLowBitOfCode.of[(id & arm::kFieldCodeMask) >> 24];
  if (lowBit >= 32) return false;
  u8 const field = target.type->fieldAtBit[lowBit];
  if (field == kNotGiven) return false;
  target.field = target.type->firstField + field;
  return true;
}

void getSlot(MapTables const& tables, u8* records, u32 id, u64& value, tStatus& status) {
  if (status.isFatal()) return;
  Target target;
  if (!resolveId(tables, id, target) || !target.type->shadow) {
    value = 0;
    return refuse(status, tables.map->sites.get);
  }
  u64 const shadow = recordOf(records, target).shadow();
  value = target.field == kNone ? shadow : fieldOf(shadow, fieldAt(tables, target));
}

void setSlot(MapTables const& tables, u8* records, u32 id, u64 value, tStatus& status) {
  if (status.isFatal()) return;
  Target target;
  if (!resolveId(tables, id, target) || !target.type->shadow || !target.type->writable)
    return refuse(status, tables.map->sites.set);
  RecordView const record = recordOf(records, target);
  if (target.field != kNone) value = withField(record.shadow(), fieldAt(tables, target), value);
  storeShadow(record, value);
}

void readSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id, u64& value,
              tStatus& status) {
  if (status.isFatal()) return;
  Target target;
  bool const known = resolveId(tables, id, target) && target.type->readable &&
                     (tables.map->strobeFieldsRead || !isStrobeField(tables, target));
  if (!known) {
    value = 0;
    return refuse(status, tables.map->sites.read);
  }
  RecordView const record = recordOf(records, target);
  // A failed refresh leaves the old shadow, and that is what the caller gets.
  refreshRecord(record, hardware, tables.map->file, status);
  u64 const shadow = record.shadow();
  value = target.field == kNone ? shadow : fieldOf(shadow, fieldAt(tables, target));
}

void writeSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id, u64 value,
               bool force, tStatus& status) {
  if (status.isFatal()) return;
  Target target;
  if (!resolveId(tables, id, target) || !target.type->writable)
    return refuse(status, tables.map->sites.write);
  RecordView const record = recordOf(records, target);
  if (target.field != kNone) {
    u64 const base = target.type->shadow ? record.shadow() : 0;
    value = withField(base, fieldAt(tables, target), value);
  }
  writeRecord(record, hardware, tables.map->file, value, force, status);
}

void flushSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id, bool force,
               tStatus& status) {
  if (status.isFatal()) return;
  Target target;
  if (!resolveKey(tables, id, target) || !target.type->writable)
    return refuse(status, tables.map->sites.flush);
  flushRecord(recordOf(records, target), hardware, tables.map->file, force, status);
}

void refreshSlot(MapTables const& tables, u8* records, Hardware const& hardware, u32 id,
                 tStatus& status) {
  if (status.isFatal()) return;
  Target target;
  if (!resolveKey(tables, id, target) || !target.type->readable)
    return refuse(status, tables.map->sites.refresh);
  refreshRecord(recordOf(records, target), hardware, tables.map->file, status);
}

void formatSlot(MapTables const& tables, u32 id, u32& count, arm::FieldType* types, u64* masks,
                tStatus& status) {
  if (status.isFatal()) return;
  Target target;
  if (!resolveKey(tables, id, target)) {
    count = 0;
    setStatus(status, kStatusNotSupported, tables.map->sites.format);
    return;
  }
  // The read view of a written record leaves out what reads back as 0.
  bool const reduced = target.readView && target.type->alias;
  CompiledField const* fields = tables.fields + target.type->firstField;
  u32 listed = 0;
  for (u32 index = 0; index < target.type->fieldCount; ++index)
    if (!reduced || !fields[index].strobe) ++listed;
  if (count < listed) {
    u32 const line = reduced ? target.row->readFormatLine : target.row->formatLine;
    setStatus(status, kStatusBufferTooSmall, StatusSite{tables.map->file, line});
    return;
  }
  count = 0;
  for (u32 index = 0; index < target.type->fieldCount; ++index) {
    if (reduced && fields[index].strobe) continue;
    types[count] = static_cast<arm::FieldType>(fields[index].type);
    masks[count] = fields[index].mask;
    ++count;
  }
}

namespace {

// Every record of the rows that `wanted` picks, in declaration order, or
// with onlyDirty (rows with a shadow) only those whose shadow the hardware
// has not yet seen; each on a status of its own whose code joins the
// caller's; none stops the walk. A row's layout is read once: the steps write through pointers the
// compiler cannot tell from the tables, so a clean record costs the test of
// its dirty flag alone.
template <class Wanted, class Step>
void eachRecord(MapTables const& tables, u8* records, Wanted wanted, bool onlyDirty, Step step,
                tStatus& status) {
  for (u32 row = 0; row < tables.rowCount; ++row) {
    CompiledClass const& type = tables.classes[row];
    if (!wanted(type)) continue;
    u32 const size = type.size;
    u8 const dirtyAt = type.dirtyAt;
    u8* at = records + tables.rows[row].at;
    u8* const end = at + tables.rows[row].count * size;
    for (;; at += size) {
      if (onlyDirty)
        while (at != end && !at[dirtyAt]) at += size;
      if (at == end) break;
      tStatus local;
      step(RecordView{at, type}, local);
      if (local.code != 0) mergeStatus(status, local);
    }
  }
}

}  // namespace

void flushAll(MapTables const& tables, u8* records, Hardware const& hardware, bool force,
              tStatus& status) {
  eachRecord(
      tables, records, [](CompiledClass const& type) { return type.writable && type.shadow; },
      !force,
      [&](RecordView record, tStatus& local) {
        flushRecord(record, hardware, tables.map->file, force, local);
      },
      status);
}

void refreshAll(MapTables const& tables, u8* records, Hardware const& hardware, tStatus& status) {
  eachRecord(
      tables, records, [](CompiledClass const& type) { return type.readable; }, false,
      [&](RecordView record, tStatus& local) {
        refreshRecord(record, hardware, tables.map->file, local);
      },
      status);
}

void markAllDirty(MapTables const& tables, u8* records) {
  tStatus unused;
  eachRecord(
      tables, records, [](CompiledClass const& type) { return type.shadow; }, false,
      [](RecordView record, tStatus&) { record.dirty() = true; }, unused);
}

}  // namespace armcore
