// The slot RAM map: its ID runs, the record primitives, and the slots.
#include "registers/slotram/RM7SlotRamRegisterMap.h"

#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver {

using nQVWEND000::kStatusBadArgument;
using nQVWEND000::kStatusBufferTooSmall;
using nQVWEND000::kStatusNotAvailable;
using nQVWEND000::kStatusNotSupported;
using nQVWEND000::mergeStatus;
using nQVWEND000::setStatus;
using nQVWEND000::StatusSite;
using tStatus = nQVWENDS100::tStatus;

namespace {

// The field access answers for the cache under the generator's long path,
// the register access and the cache upkeep under the header's own.
constexpr char kCacheFile[] = "objects/codegen/qvrm7_driver_codegen/armgen/RM7SlotRamRegisterMap";
constexpr char kFile[] = "armgen/RM7SlotRamRegisterMap";

constexpr StatusSite kGetSite{kCacheFile, 14543};
constexpr StatusSite kSetSite{kCacheFile, 28381};
constexpr StatusSite kReadSite{kFile, 42218};
constexpr StatusSite kWriteSite{kFile, 56057};
constexpr StatusSite kFlushSite{kFile, 56093};
constexpr StatusSite kRefreshSite{kFile, 56129};
constexpr StatusSite kRelayStateFormatSite{kFile, 56165};
constexpr StatusSite kRelayCountFormatSite{kFile, 56183};
constexpr StatusSite kFormatSite{kFile, 56201};
constexpr StatusSite kRelayStateRefreshSite{kFile, 379};
constexpr StatusSite kRelayStateWriteSite{kFile, 355};
constexpr StatusSite kRelayCountRefreshSite{kFile, 620};
constexpr StatusSite kRelayCountWriteSite{kFile, 596};

constexpr char kVersion[] = "22.8.0f141";

constexpr u32 kStateMask = 7;  // every relay state is three bits

// What an accepted ID names. Field kinds of relay-state words carry their
// shift; the relay count is the whole word.
enum tKind : u8 { kNone, kStateWord, kRelay0, kRelay1, kRelay2, kRelay3, kCountWord, kRelayCount };

constexpr u32 shiftOf(tKind kind) { return 3 * (kind - kRelay0); }

struct tRun {
  u32 first;
  u32 last;
  tKind kind;
  u16 firstRecord;  // 0 to 511 relay-state words, 512 to 1535 relay-count words
};

// Sorted by first ID; every fourth value from first to last is an ID.
constexpr tRun kRuns[] = {
    {0x00000000, 0x000007FC, kRelay0, 0},     {0x00001000, 0x00001FFC, kRelayCount, 512},
    {0x18000000, 0x180007FC, kRelay2, 0},     {0x24000000, 0x240007FC, kRelay3, 0},
    {0x30000000, 0x300007FC, kRelay1, 0},     {0x80000000, 0x800007FC, kStateWord, 0},
    {0x80001000, 0x80001FFC, kCountWord, 512}};
constexpr u32 kRunCount = sizeof(kRuns) / sizeof(kRuns[0]);

struct tTarget {
  tKind kind;
  u32 record;
};

// A whole-register ID names its word whatever its field-code bits hold;
// a field ID must carry its code exactly.
constexpr u32 normalized(u32 id) { return (id & arm::kWholeRegisterBit) ? id & 0xC0FFFFFFu : id; }

constexpr tTarget decode(u32 id) {
  u32 low = 0;
  u32 high = kRunCount;
  while (low < high) {  // the last run that starts at or below the ID
    u32 const middle = (low + high) / 2;
    if (kRuns[middle].first <= id)
      low = middle + 1;
    else
      high = middle;
  }
  if (low == 0) return {kNone, 0};
  tRun const& run = kRuns[low - 1];
  if (id > run.last || (id - run.first) % 4 != 0) return {kNone, 0};
  return {run.kind, run.firstRecord + (id - run.first) / 4};
}

// flush, refresh and formats take any ID as naming the word of its offset.
constexpr tTarget decodeKey(u32 id) {
  return decode((id & (arm::kReadViewBit | arm::kOffsetMask)) | arm::kWholeRegisterBit);
}

constexpr u32 countIDs() {
  u32 count = 0;
  for (tRun const& run : kRuns) count += (run.last - run.first) / 4 + 1;
  return count;
}
static_assert(countIDs() == 4608);
static_assert(decode(0x000019FC).kind == kRelayCount && decode(0x000019FC).record == 1151);
static_assert(decode(0x240003FC).kind == kRelay3 && decode(0x240003FC).record == 255);
static_assert(decode(0x00000800).kind == kNone && decode(0x800003FE).kind == kNone);
static_assert(decode(normalized(0xBF0003FC)).kind == kStateWord);
static_assert(decode(normalized(0xC00003FC)).kind == kNone);

bool fatal(tStatus const& status) { return status.code < 0; }

}  // namespace

// ---- Records ------------------------------------------------------------------

void tRM7SlotRamRegisterMap::tRegisterRecord::refreshAt(tStatus& status, StatusSite site) {
  if (fatal(status)) return;
  if (!accessible) {
    setStatus(status, kStatusNotAvailable, site);
    return;
  }
  shadow = nQVZOR100_memoryRead32(owner->mappedAddress() + address);
  dirty = 0;
}

void tRM7SlotRamRegisterMap::tRegisterRecord::flushAt(tStatus& status, bool force,
                                                      StatusSite site) {
  if (fatal(status) || (!force && !dirty)) return;
  if (!accessible) {
    setStatus(status, kStatusNotAvailable, site);
    return;
  }
  nQVZOR100_memoryWrite32(owner->mappedAddress() + address, shadow);
  dirty = 0;
}

void tRM7SlotRamRegisterMap::tRegisterRecord::writeAt(u32 candidate, tStatus& status, bool force,
                                                      StatusSite site) {
  if (fatal(status)) return;
  if (candidate != shadow) {
    shadow = candidate;
    dirty = 1;
  }
  flushAt(status, force, site);
}

void tRM7SlotRamRegisterMap::tRelayStateRamType::refresh(tStatus& status) {
  refreshAt(status, kRelayStateRefreshSite);
}

void tRM7SlotRamRegisterMap::tRelayStateRamType::flush(tStatus& status, bool force) {
  flushAt(status, force, kRelayStateWriteSite);
}

tRM7SlotRamRegisterMap::tRelayStateRamType&
tRM7SlotRamRegisterMap::tRelayStateRamType::writeRegister(u32 value, tStatus& status, bool force) {
  writeAt(value, status, force, kRelayStateWriteSite);
  return *this;
}

// Without a read (an error on entry, a word outside the window) the field
// comes from the shadow as it stands.
u8 tRM7SlotRamRegisterMap::tRelayStateRamType::readState(u32 shift, tStatus& status) {
  refresh(status);
  return static_cast<u8>((shadow >> shift) & kStateMask);
}

tRM7SlotRamRegisterMap::tRelayStateRamType& tRM7SlotRamRegisterMap::tRelayStateRamType::writeState(
    u32 shift, u8 value, tStatus& status, bool force) {
  u32 const mask = kStateMask << shift;
  writeAt((shadow & ~mask) | ((u32{value} << shift) & mask), status, force, kRelayStateWriteSite);
  return *this;
}

void tRM7SlotRamRegisterMap::tRelayCountRamType::refresh(tStatus& status) {
  refreshAt(status, kRelayCountRefreshSite);
}

void tRM7SlotRamRegisterMap::tRelayCountRamType::flush(tStatus& status, bool force) {
  flushAt(status, force, kRelayCountWriteSite);
}

tRM7SlotRamRegisterMap::tRelayCountRamType&
tRM7SlotRamRegisterMap::tRelayCountRamType::writeRegister(u32 value, tStatus& status, bool force) {
  writeAt(value, status, force, kRelayCountWriteSite);
  return *this;
}

// ---- The map --------------------------------------------------------------------

tRM7SlotRamRegisterMap::tRM7SlotRamRegisterMap(tAccessor* accessor, u32 base, u32 windowStart,
                                               u32 windowSize)
    : accessor_(accessor), base_(base), windowStart_(windowStart), windowSize_(windowSize) {
  reinitialize();
}

tRM7SlotRamRegisterMap::~tRM7SlotRamRegisterMap() = default;

void tRM7SlotRamRegisterMap::operator delete(void* object) { nQVWEND000::operatorDelete(object); }

template <class Record>
void tRM7SlotRamRegisterMap::place(Record& record, u32 offset) {
  record.address = base_ + offset - windowStart_;
  record.shadow = 0;
  record.dirty = 0;
  record.accessible = windowStart_ <= offset && offset - windowStart_ < windowSize_;
  record.owner = this;
}

void tRM7SlotRamRegisterMap::reinitialize() {
  for (u32 word = 0; word < kRelayStateWords; ++word) place(relayStates_[word], 4 * word);
  for (u32 word = 0; word < kRelayCountWords; ++word)
    place(relayCounts_[word], kRelayCountOffset + 4 * word);
}

void tRM7SlotRamRegisterMap::get(u32 id, u64& value, tStatus& status, u32) {
  if (fatal(status)) return;
  tTarget const t = decode(normalized(id));
  if (t.kind == kNone) {
    setStatus(status, kStatusBadArgument, kGetSite);
    value = 0;
    return;
  }
  if (t.kind >= kCountWord) {
    value = relayCounts_[t.record - kRelayStateWords].shadow;
    return;
  }
  u32 const shadow = relayStates_[t.record].shadow;
  value = t.kind == kStateWord ? shadow : (shadow >> shiftOf(t.kind)) & kStateMask;
}

void tRM7SlotRamRegisterMap::set(u32 id, u64 value, tStatus& status, u32) {
  if (fatal(status)) return;
  tTarget const t = decode(normalized(id));
  if (t.kind == kNone) {
    setStatus(status, kStatusBadArgument, kSetSite);
    return;
  }
  tRegisterRecord& record =
      t.kind >= kCountWord
          ? static_cast<tRegisterRecord&>(relayCounts_[t.record - kRelayStateWords])
          : relayStates_[t.record];
  u32 candidate = static_cast<u32>(value);
  if (t.kind != kStateWord && t.kind < kCountWord) {
    u32 const mask = kStateMask << shiftOf(t.kind);
    candidate = (record.shadow & ~mask) | ((candidate << shiftOf(t.kind)) & mask);
  }
  if (candidate != record.shadow) {
    record.shadow = candidate;
    record.dirty = 1;
  }
}

void tRM7SlotRamRegisterMap::read(u32 id, u64& value, tStatus& status, u32) {
  if (fatal(status)) return;
  tTarget const t = decode(normalized(id));
  switch (t.kind) {
    case kNone:
      setStatus(status, kStatusBadArgument, kReadSite);
      value = 0;
      return;
    case kStateWord:
      relayStates_[t.record].refresh(status);
      value = relayStates_[t.record].shadow;
      return;
    case kCountWord:
    case kRelayCount:
      relayCounts_[t.record - kRelayStateWords].refresh(status);
      value = relayCounts_[t.record - kRelayStateWords].shadow;
      return;
    default:
      value = relayStates_[t.record].readState(shiftOf(t.kind), status);
      return;
  }
}

void tRM7SlotRamRegisterMap::write(u32 id, u64 value, bool force, tStatus& status, u32) {
  if (fatal(status)) return;
  tTarget const t = decode(normalized(id));
  switch (t.kind) {
    case kNone:
      setStatus(status, kStatusBadArgument, kWriteSite);
      return;
    case kStateWord:
      relayStates_[t.record].writeRegister(static_cast<u32>(value), status, force);
      return;
    case kCountWord:
      relayCounts_[t.record - kRelayStateWords].writeRegister(static_cast<u32>(value), status,
                                                              force);
      return;
    case kRelayCount:
      relayCounts_[t.record - kRelayStateWords].writeRelayCount(static_cast<u32>(value), status,
                                                                force);
      return;
    default:
      relayStates_[t.record].writeState(shiftOf(t.kind), static_cast<u8>(value), status, force);
      return;
  }
}

void tRM7SlotRamRegisterMap::flush(u32 id, bool force, tStatus& status, u32) {
  if (fatal(status)) return;
  tTarget const t = decodeKey(id);
  if (t.kind == kNone)
    setStatus(status, kStatusBadArgument, kFlushSite);
  else if (t.kind == kStateWord)
    relayStates_[t.record].flush(status, force);
  else
    relayCounts_[t.record - kRelayStateWords].flush(status, force);
}

void tRM7SlotRamRegisterMap::refresh(u32 id, tStatus& status, u32) {
  if (fatal(status)) return;
  tTarget const t = decodeKey(id);
  if (t.kind == kNone)
    setStatus(status, kStatusBadArgument, kRefreshSite);
  else if (t.kind == kStateWord)
    relayStates_[t.record].refresh(status);
  else
    relayCounts_[t.record - kRelayStateWords].refresh(status);
}

void tRM7SlotRamRegisterMap::getRegisterFormat(u32 id, u32& count, arm::FieldType* types,
                                               u64* masks, tStatus& status) const {
  if (fatal(status)) return;
  tTarget const t = decodeKey(id);
  if (t.kind == kNone) {
    setStatus(status, kStatusNotSupported, kFormatSite);
    count = 0;
    return;
  }
  if (t.kind == kCountWord) {
    if (count < 1) {
      setStatus(status, kStatusBufferTooSmall, kRelayCountFormatSite);
      return;
    }
    count = 1;
    types[0] = arm::kFieldU32;
    masks[0] = 0xFFFFFFFF;
    return;
  }
  if (count < 4) {
    setStatus(status, kStatusBufferTooSmall, kRelayStateFormatSite);
    return;
  }
  count = 4;
  for (u32 field = 0; field < 4; ++field) {
    types[field] = arm::kFieldU8;
    masks[field] = u64{kStateMask} << (3 * field);
  }
}

// Each record answers into a status of its own, merged only when it holds
// something: a clean record costs the test of its dirty flag and nothing else.
void tRM7SlotRamRegisterMap::flushRegMap(bool force, tStatus& status) {
  if (fatal(status)) return;
  auto flushAll = [force, &status](auto& records) {
    for (auto& record : records) {
      if (!force && !record.dirty) continue;
      tStatus local;
      record.flush(local, force);
      if (local.code != 0) mergeStatus(status, local);
    }
  };
  flushAll(relayStates_);
  flushAll(relayCounts_);
}

void tRM7SlotRamRegisterMap::refreshRegMap(tStatus& status) {
  if (fatal(status)) return;
  auto refreshAll = [&status](auto& records) {
    for (auto& record : records) {
      tStatus local;
      record.refresh(local);
      if (local.code != 0) mergeStatus(status, local);
    }
  };
  refreshAll(relayStates_);
  refreshAll(relayCounts_);
}

void tRM7SlotRamRegisterMap::markDirtyRegMap() {
  for (auto& record : relayStates_) record.dirty = 1;
  for (auto& record : relayCounts_) record.dirty = 1;
}

char const* tRM7SlotRamRegisterMap::getVersion() const { return kVersion; }

char const* tRM7SlotRamRegisterMap::getOldestCompatibleVersion() const { return kVersion; }

}  // namespace qvrm7_driver
