// The register behaviour of one FPGA block, looked up by register index.
#include "host/layer/fpga/fpgaBlock.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace sim {

namespace {

[[noreturn]] void badRegister(char const* what, uint32_t offset) {
  std::fprintf(stderr, "layer: FPGA block register at 0x%x: %s\n", offset, what);
  std::abort();
}

}  // namespace

struct FpgaBlock::State {
  struct Slot {
    FpgaAccess access = FpgaAccess::None;
    uint32_t strobe = 0;
    uint32_t readLatch = 0;
    uint32_t written = 0;
  };

  mutable std::mutex mutex;
  std::vector<Slot> slots;  // one per 4 bytes of the block
  AccessLog accesses;

  Slot* slotAt(uint32_t offset) { return offset / 4 < slots.size() ? &slots[offset / 4] : nullptr; }

  uint32_t read(uint32_t offset, unsigned width) {
    std::lock_guard lock(mutex);
    Slot* slot = slotAt(offset);
    bool const aligned = width == 4 && offset % 4 == 0;
    if (!aligned || slot == nullptr || slot->access == FpgaAccess::None ||
        slot->access == FpgaAccess::WriteOnly) {
      accesses.note({false, offset, width, 0}, true);
      return 0;
    }
    accesses.note({false, offset, width, slot->readLatch}, false);
    return slot->readLatch;
  }

  void write(uint32_t offset, unsigned width, uint32_t value) {
    std::lock_guard lock(mutex);
    Slot* slot = slotAt(offset);
    bool const aligned = width == 4 && offset % 4 == 0;
    if (!aligned || slot == nullptr || slot->access == FpgaAccess::None ||
        slot->access == FpgaAccess::ReadOnly) {
      accesses.note({true, offset, width, value}, true);
      return;
    }
    slot->written = value;
    if (slot->access == FpgaAccess::ReadWrite) slot->readLatch = value & ~slot->strobe;
    accesses.note({true, offset, width, value}, false);
  }
};

FpgaBlock::FpgaBlock(std::shared_ptr<Bar> bar, uint64_t barOffset, uint32_t size,
                     std::vector<FpgaRegister> const& registers)
    : bar_(std::move(bar)), barOffset_(barOffset), size_(size), state_(std::make_shared<State>()) {
  state_->slots.resize((size + 3) / 4);
  for (FpgaRegister const& r : registers) {
    State::Slot* slot = state_->slotAt(r.offset);
    if (r.offset % 4 != 0 || slot == nullptr)
      badRegister("outside the block or unaligned", r.offset);
    if (slot->access != FpgaAccess::None) badRegister("described twice", r.offset);
    slot->access = r.access;
    slot->strobe = r.strobe;
    slot->readLatch = r.readValue;
  }
  // The hooks hold the state, not the block: an access that found the claim
  // just before the block went away still finds its registers.
  std::shared_ptr<State> state = state_;
  uint64_t const base = barOffset_;
  RegisterHooks hooks;
  hooks.read = [state, base](uint64_t offset, unsigned width) {
    return state->read(static_cast<uint32_t>(offset - base), width);
  };
  hooks.write = [state, base](uint64_t offset, unsigned width, uint32_t value) {
    state->write(static_cast<uint32_t>(offset - base), width, value);
  };
  claim_ = bar_->attach(barOffset_, size_, std::move(hooks));
}

FpgaBlock::~FpgaBlock() { bar_->detach(claim_); }

void FpgaBlock::setReadValue(uint32_t offset, uint32_t value) {
  std::lock_guard lock(state_->mutex);
  State::Slot* slot = state_->slotAt(offset);
  if (slot == nullptr || slot->access == FpgaAccess::None || slot->access == FpgaAccess::WriteOnly)
    badRegister("has nothing to read", offset);
  slot->readLatch = value;
}

uint32_t FpgaBlock::lastWritten(uint32_t offset) const {
  std::lock_guard lock(state_->mutex);
  State::Slot const* slot = state_->slotAt(offset);
  return slot != nullptr ? slot->written : 0;
}

std::vector<FpgaAccessRecord> FpgaBlock::log() const {
  std::lock_guard lock(state_->mutex);
  return state_->accesses.log();
}

uint64_t FpgaBlock::logDropped() const {
  std::lock_guard lock(state_->mutex);
  return state_->accesses.dropped();
}

std::vector<FpgaAccessRecord> FpgaBlock::strays() const {
  std::lock_guard lock(state_->mutex);
  return state_->accesses.strays();
}

void FpgaBlock::clearLog() {
  std::lock_guard lock(state_->mutex);
  state_->accesses.clear();
}

}  // namespace sim
