// The register map of the FPGA's slot RAM block: 512 relay-state words at
// 0x000-0x7FC, each with four 3-bit relay states, and 1,024 relay-count
// words at 0x1000-0x1FFC. Every word has a record with a shadow; the relay
// count and slot RAM controllers work on the records directly, the register
// ioctls through the interface's slots.
//
// The IDs are fixed at build time: 4,608 after a whole-register ID has its
// field-code bits cleared, in seven runs of step 4. An ID is found by a
// search over the runs, so the map holds nothing per object but its records
// and its window.
#pragma once

#include "platform/memorySpaceAccessor.h"
#include "platform/status.h"
#include "registers/dynamicAccessInterface.h"

namespace qvrm7_driver {

class tRM7SlotRamRegisterMap : public arm::DynamicAccessInterfaceBase<nQVWENDS100::tStatus> {
 public:
  using tStatus = nQVWENDS100::tStatus;
  using tAccessor = nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;

  static constexpr u32 kRelayStateWords = 512;
  static constexpr u32 kRelayCountWords = 1024;
  static constexpr u32 kRelayCountOffset = 0x1000;

  // One 32-bit word of the block: where it is, its cached value, whether the
  // cache holds a value the block has not received, whether it lies inside
  // the map's window, and the map it belongs to.
  class tRegisterRecord {
   public:
    u32 address;
    u32 shadow;
    u8 dirty;
    u8 accessible;
    tRM7SlotRamRegisterMap* owner;

   protected:
    void refreshAt(tStatus& status, nQVWEND000::StatusSite site);
    void flushAt(tStatus& status, bool force, nQVWEND000::StatusSite site);
    // Caches the candidate (dirty when it changed), then flushes.
    void writeAt(u32 candidate, tStatus& status, bool force, nQVWEND000::StatusSite site);
  };

  // A relay-state word: Relay0State bits 0-2, Relay1State 3-5, Relay2State
  // 6-8, Relay3State 9-11. A field read refreshes the word first; a field
  // write changes only its bits of the shadow and writes the whole word.
  class tRelayStateRamType : public tRegisterRecord {
   public:
    void refresh(tStatus& status);
    void flush(tStatus& status, bool force);
    u8 readRelay0State(tStatus& status) { return readState(0, status); }
    u8 readRelay1State(tStatus& status) { return readState(3, status); }
    u8 readRelay2State(tStatus& status) { return readState(6, status); }
    u8 readRelay3State(tStatus& status) { return readState(9, status); }
    tRelayStateRamType& writeRegister(u32 value, tStatus& status, bool force);
    tRelayStateRamType& writeRelay0State(u8 value, tStatus& status, bool force) {
      return writeState(0, value, status, force);
    }
    tRelayStateRamType& writeRelay1State(u8 value, tStatus& status, bool force) {
      return writeState(3, value, status, force);
    }
    tRelayStateRamType& writeRelay2State(u8 value, tStatus& status, bool force) {
      return writeState(6, value, status, force);
    }
    tRelayStateRamType& writeRelay3State(u8 value, tStatus& status, bool force) {
      return writeState(9, value, status, force);
    }

   private:
    friend class tRM7SlotRamRegisterMap;  // its slots reach a field by its shift
    u8 readState(u32 shift, tStatus& status);
    tRelayStateRamType& writeState(u32 shift, u8 value, tStatus& status, bool force);
  };

  // A relay-count word: RelayCount is the whole word.
  class tRelayCountRamType : public tRegisterRecord {
   public:
    void refresh(tStatus& status);
    void flush(tStatus& status, bool force);
    tRelayCountRamType& writeRegister(u32 value, tStatus& status, bool force);
    tRelayCountRamType& writeRelayCount(u32 value, tStatus& status, bool force) {
      return writeRegister(value, status, force);
    }
  };

  // Built over the block as the accessor maps it; no hardware access.
  tRM7SlotRamRegisterMap(tAccessor* accessor, u32 base, u32 windowStart, u32 windowSize);

  void get(u32 id, u64& value, tStatus& status, u32 index) override;
  void set(u32 id, u64 value, tStatus& status, u32 index) override;
  void read(u32 id, u64& value, tStatus& status, u32 index) override;
  void write(u32 id, u64 value, bool force, tStatus& status, u32 index) override;
  void flush(u32 id, bool force, tStatus& status, u32 index) override;
  void refresh(u32 id, tStatus& status, u32 index) override;
  void getRegisterFormat(u32 id, u32& count, arm::FieldType* types, u64* masks,
                         tStatus& status) const override;
  void flushRegMap(bool force, tStatus& status) override;
  void refreshRegMap(tStatus& status) override;
  void markDirtyRegMap() override;
  char const* getVersion() const override;
  char const* getOldestCompatibleVersion() const override;
  virtual ~tRM7SlotRamRegisterMap();
  // Clears every shadow and dirty flag and places the records in the window
  // again; no hardware access.
  virtual void reinitialize();

  static void operator delete(void* object);

  tRelayStateRamType& relayState(u32 word) { return relayStates_[word]; }
  tRelayCountRamType& relayCount(u32 word) { return relayCounts_[word]; }

 private:
  template <class Record>
  void place(Record& record, u32 offset);
  u64 mappedAddress() const { return accessor_->mappedAddress; }

  tRelayStateRamType relayStates_[kRelayStateWords];
  tRelayCountRamType relayCounts_[kRelayCountWords];
  tAccessor* accessor_;
  u32 base_;
  u32 windowStart_;
  u32 windowSize_;
};

}  // namespace qvrm7_driver
