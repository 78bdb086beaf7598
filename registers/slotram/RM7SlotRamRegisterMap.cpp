// The slot RAM map's whole-map flush.
#include "registers/slotram/RM7SlotRamRegisterMap.h"

namespace qvrm7_driver {

namespace {

// A clean record costs the test of its dirty flag and nothing more, so that
// flushing a clean map of 1,536 words stays a short scan.
template <class Record>
void flushRecords(Record* records, u32 count, bool force, nQVWENDS100::tStatus& status) {
  for (Record* record = records; record != records + count; ++record) {
    if (!force && !record->dirty) continue;
    nQVWENDS100::tStatus local;
    record->flush(local, force);
    nQVWEND000::mergeStatus(status, local);
  }
}

}  // namespace

tRM7SlotRamRegisterMap::~tRM7SlotRamRegisterMap() = default;

// The core's walk visits every record through its description; this one
// visits the two arrays directly, in the same order with the same statuses.
void tRM7SlotRamRegisterMap::flushRegMap(bool force, nQVWENDS100::tStatus& status) {
  if (status.isFatal()) return;
  flushRecords(&relayState(0), nRM7SlotRamRegisterMap::kRelayStateWords, force, status);
  flushRecords(&relayCount(0), nRM7SlotRamRegisterMap::kRelayCountWords, force, status);
}

}  // namespace qvrm7_driver
