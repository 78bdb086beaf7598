// A block of a chip's registers in a BAR. Each register has the width its
// reads must have and the width its writes must have (0: that direction does
// not exist) and reads back what was last written when it is one register
// for both directions; an offset whose read and write meanings are two
// registers keeps its read value and its write latch apart. Every access is
// logged; accesses of the wrong width or direction, or into the middle of a
// register, are strays as well, which no driver may make: they change
// nothing, and such a read returns all ones. Offsets without a register stay
// plain memory, so a block never hides another model's registers that lie
// between its own.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "host/layer/accessLog.h"
#include "host/layer/pci.h"

namespace sim {

struct ChipRegister {
  uint32_t offset;           // from the block's base
  unsigned readWidth;        // bytes: 1, 2 or 4; 0 when it is never read
  unsigned writeWidth;       // bytes; 0 when it is never written
  bool readsBack;            // a write changes what a read returns
  uint32_t resetValue = 0;   // what a read returns before anything is set
  bool plainStores = false;  // takes the driver's plain 64-bit stores as well
};

// The registers' values and the log; only ever used under the block's lock.
class RegisterFile {
 public:
  struct Entry {
    ChipRegister shape;
    uint32_t readValue = 0;
    uint32_t written = 0;
  };

  explicit RegisterFile(std::vector<ChipRegister> const& registers);

  // What the register's reads return from now on (for a register that reads
  // back, its latch as well), and the last value written to it (0 before any
  // write). An offset without a register aborts: that is a test's mistake.
  uint32_t readValue(uint32_t offset) const { return at(offset).readValue; }
  void setReadValue(uint32_t offset, uint32_t value) { at(offset).readValue = value; }
  uint32_t lastWritten(uint32_t offset) const { return at(offset).written; }

  // The register whose bytes hold `offset`, or null. A register holds its
  // widest access's bytes, up to where the next register begins.
  Entry* holding(uint32_t offset);
  // Runs of adjacent registers' bytes, as [first, end) from the block's base.
  std::vector<std::pair<uint32_t, uint32_t>> runs() const;

  AccessLog& accesses() { return accesses_; }

 private:
  Entry& at(uint32_t offset);
  Entry const& at(uint32_t offset) const;
  uint32_t extent(std::map<uint32_t, Entry>::const_iterator it) const;

  std::map<uint32_t, Entry> entries_;  // by offset
  AccessLog accesses_;
};

class RegisterBlock {
 public:
  // What a chip adds to a register: a read behaviour gives the value the read
  // returns; a write behaviour runs after the value was stored. Both run with
  // the block's lock held and reach the other registers through the file.
  using ReadBehaviour = std::function<uint32_t(RegisterFile&, uint32_t offset)>;
  using WriteBehaviour = std::function<void(RegisterFile&, uint32_t offset, uint32_t value)>;

  RegisterBlock(std::shared_ptr<Bar> bar, uint64_t base, std::vector<ChipRegister> registers);
  ~RegisterBlock();  // the BAR decodes none of the block afterwards
  RegisterBlock(RegisterBlock const&) = delete;
  RegisterBlock& operator=(RegisterBlock const&) = delete;

  uint64_t base() const { return base_; }
  Bar& bar() const { return *bar_; }

  void onRead(uint32_t offset, ReadBehaviour behaviour);
  void onWrite(uint32_t offset, WriteBehaviour behaviour);

  // Runs `use` on the registers under the block's lock and returns its result.
  template <class Use>
  auto locked(Use use) const {
    std::lock_guard lock(state_->mutex);
    return use(state_->file);
  }

  void setReadValue(uint32_t offset, uint32_t value);
  uint32_t lastWritten(uint32_t offset) const;
  std::vector<ChipAccess> log() const;
  std::vector<ChipAccess> strays() const;
  void clearLog();                    // and the strays
  std::vector<ChipAccess> takeLog();  // the log, then clearLog

 private:
  struct State {
    explicit State(RegisterFile registers) : file(std::move(registers)) {}
    mutable std::mutex mutex;
    RegisterFile file;
    std::map<uint32_t, ReadBehaviour> reads;
    std::map<uint32_t, WriteBehaviour> writes;
  };
  static uint32_t read(State& state, uint32_t offset, unsigned width);
  static void write(State& state, uint32_t offset, unsigned width, uint32_t value);
  static void store(State& state, uint32_t offset, uint64_t value);

  std::shared_ptr<Bar> bar_;
  uint64_t base_;
  std::shared_ptr<State> state_;
  std::vector<uint64_t> claims_;
};

}  // namespace sim
