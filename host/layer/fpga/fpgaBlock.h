// A register block of the simulated FPGA: a stretch of BAR memory whose
// 32-bit registers answer the bus as the block's registers do, rather than
// as plain memory. One model claims the whole block, and an access finds its
// register by index, never by a search.
//
// Each offset is one of:
// - ReadWrite: a read gives what was last written, less the strobe bits
//   (bits that act once when written as 1 and read back as 0);
// - ReadOnly: a read gives the read latch, which the test sets; a write is
//   a stray;
// - WriteOnly: a write is kept as the last value written; a read is a stray
//   and gives 0;
// - Split: two registers at one offset, one per direction: writes reach the
//   write register, reads come from the read latch, and neither shows in
//   the other;
// - None: no register; every access is a stray.
// Accesses that are not 32 bits wide and aligned are strays too. A stray is
// what no driver must do: tests read them back and expect none.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/layer/accessLog.h"
#include "host/layer/pci.h"

namespace sim {

enum class FpgaAccess : uint8_t { None, ReadWrite, ReadOnly, WriteOnly, Split };

struct FpgaRegister {
  uint32_t offset;
  FpgaAccess access;
  uint32_t strobe = 0;
  uint32_t readValue = 0;  // what reads give until the test or a write says otherwise
};

// Its accesses are logged as the chips' blocks log theirs.
using FpgaAccessRecord = ChipAccess;

class FpgaBlock {
 public:
  static constexpr size_t kLogCapacity = AccessLog::kCapacity;

  FpgaBlock(std::shared_ptr<Bar> bar, uint64_t barOffset, uint32_t size,
            std::vector<FpgaRegister> const& registers);
  ~FpgaBlock();  // the BAR decodes nothing of the block afterwards
  FpgaBlock(FpgaBlock const&) = delete;
  FpgaBlock& operator=(FpgaBlock const&) = delete;

  uint64_t barOffset() const { return barOffset_; }

  // What reads of a readable offset give from now on.
  void setReadValue(uint32_t offset, uint32_t value);
  uint32_t lastWritten(uint32_t offset) const;  // 0 before any write

  std::vector<FpgaAccessRecord> log() const;
  uint64_t logDropped() const;  // accesses past the capacity since the last clear
  std::vector<FpgaAccessRecord> strays() const;
  void clearLog();  // and the strays

  struct State;

 private:
  std::shared_ptr<Bar> bar_;
  uint64_t barOffset_;
  uint32_t size_;
  std::shared_ptr<State> state_;
  uint64_t claim_ = 0;
};

}  // namespace sim
