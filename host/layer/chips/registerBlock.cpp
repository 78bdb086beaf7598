// Register blocks of the simulated chips.
#include "host/layer/chips/registerBlock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

constexpr uint32_t kFloating = 0xFFFFFFFFu;  // what a refused read returns

std::string describe(char const* what, uint64_t at, unsigned width) {
  char text[96];
  std::snprintf(text, sizeof text, "%s of %u bits at 0x%llx", what, 8 * width,
                static_cast<unsigned long long>(at));
  return text;
}

}  // namespace

RegisterFile::RegisterFile(std::vector<ChipRegister> const& registers) {
  for (ChipRegister const& spec : registers) {
    if (std::max(spec.readWidth, spec.writeWidth) == 0 ||
        !entries_.emplace(spec.offset, Entry{spec, spec.resetValue}).second) {
      std::fprintf(stderr, "layer: chip register at 0x%x is unusable or given twice\n",
                   spec.offset);
      std::abort();
    }
  }
}

RegisterFile::Entry& RegisterFile::at(uint32_t offset) {
  auto found = entries_.find(offset);
  if (found == entries_.end()) {
    std::fprintf(stderr, "layer: no chip register at 0x%x\n", offset);
    std::abort();
  }
  return found->second;
}

RegisterFile::Entry const& RegisterFile::at(uint32_t offset) const {
  return const_cast<RegisterFile*>(this)->at(offset);
}

uint32_t RegisterFile::extent(std::map<uint32_t, Entry>::const_iterator it) const {
  uint32_t size = std::max(it->second.spec.readWidth, it->second.spec.writeWidth);
  if (auto next = std::next(it); next != entries_.end())
    size = std::min(size, next->first - it->first);
  return size;
}

RegisterFile::Entry* RegisterFile::holding(uint32_t offset) {
  auto it = entries_.upper_bound(offset);
  if (it == entries_.begin()) return nullptr;
  --it;
  return offset - it->first < extent(it) ? &it->second : nullptr;
}

std::vector<std::pair<uint32_t, uint32_t>> RegisterFile::runs() const {
  std::vector<std::pair<uint32_t, uint32_t>> result;
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    uint32_t const end = it->first + extent(it);
    if (!result.empty() && result.back().second == it->first)
      result.back().second = end;
    else
      result.emplace_back(it->first, end);
  }
  return result;
}

void RegisterFile::fault(std::string text) {
  if (faults_.size() < kFaultRecords) faults_.push_back(std::move(text));
  ++faultCount_;
}

void RegisterFile::clearFaults() {
  faults_.clear();
  faultCount_ = 0;
}

RegisterBlock::RegisterBlock(std::shared_ptr<Bar> bar, uint64_t base,
                             std::vector<ChipRegister> registers)
    : bar_(std::move(bar)), base_(base), state_(std::make_shared<State>(RegisterFile(registers))) {
  std::weak_ptr<State> weak = state_;
  for (auto [first, end] : state_->file.runs()) {
    RegisterHooks hooks;
    hooks.read = [weak, base](uint64_t offset, unsigned width) -> uint32_t {
      auto state = weak.lock();
      return state ? read(*state, static_cast<uint32_t>(offset - base), width) : kFloating;
    };
    hooks.write = [weak, base](uint64_t offset, unsigned width, uint32_t value) {
      if (auto state = weak.lock())
        write(*state, static_cast<uint32_t>(offset - base), width, value);
    };
    claims_.push_back(bar_->attach(base + first, end - first, std::move(hooks)));
  }
}

RegisterBlock::~RegisterBlock() {
  for (uint64_t claim : claims_) bar_->detach(claim);
}

uint32_t RegisterBlock::read(State& state, uint32_t offset, unsigned width) {
  std::lock_guard lock(state.mutex);
  RegisterFile::Entry* entry = state.file.holding(offset);
  uint64_t const at = offset;
  if (entry == nullptr || entry->spec.offset != offset) {
    state.file.fault(describe("read inside a register", at, width));
  } else if (entry->spec.readWidth == 0) {
    state.file.fault(describe("read of a register that is only written", at, width));
  } else if (entry->spec.readWidth != width) {
    state.file.fault(describe("read of the wrong width", at, width));
  } else if (auto behaviour = state.reads.find(offset); behaviour != state.reads.end()) {
    return behaviour->second(state.file, offset);
  } else {
    return entry->readValue;
  }
  return kFloating;
}

void RegisterBlock::write(State& state, uint32_t offset, unsigned width, uint32_t value) {
  std::lock_guard lock(state.mutex);
  RegisterFile::Entry* entry = state.file.holding(offset);
  uint64_t const at = offset;
  if (entry == nullptr || entry->spec.offset != offset) {
    state.file.fault(describe("write inside a register", at, width));
  } else if (entry->spec.writeWidth == 0) {
    state.file.fault(describe("write of a register that is only read", at, width));
  } else if (entry->spec.writeWidth != width) {
    state.file.fault(describe("write of the wrong width", at, width));
  } else {
    entry->written = value;
    ++entry->writes;
    if (entry->spec.readsBack) entry->readValue = value;
    if (auto behaviour = state.writes.find(offset); behaviour != state.writes.end())
      behaviour->second(state.file, offset, value);
  }
}

void RegisterBlock::onRead(uint32_t offset, ReadBehaviour behaviour) {
  std::lock_guard lock(state_->mutex);
  state_->file.readValue(offset);  // the register must exist
  state_->reads[offset] = std::move(behaviour);
}

void RegisterBlock::onWrite(uint32_t offset, WriteBehaviour behaviour) {
  std::lock_guard lock(state_->mutex);
  state_->file.readValue(offset);
  state_->writes[offset] = std::move(behaviour);
}

uint32_t RegisterBlock::readValue(uint32_t offset) const {
  return locked([offset](RegisterFile& file) { return file.readValue(offset); });
}

void RegisterBlock::setReadValue(uint32_t offset, uint32_t value) {
  locked([offset, value](RegisterFile& file) { file.setReadValue(offset, value); });
}

uint32_t RegisterBlock::lastWritten(uint32_t offset) const {
  return locked([offset](RegisterFile& file) { return file.lastWritten(offset); });
}

uint64_t RegisterBlock::writeCount(uint32_t offset) const {
  return locked([offset](RegisterFile& file) { return file.writeCount(offset); });
}

std::vector<std::string> RegisterBlock::faults() const {
  return locked([](RegisterFile& file) { return file.faults(); });
}

uint64_t RegisterBlock::faultCount() const {
  return locked([](RegisterFile& file) { return file.faultCount(); });
}

void RegisterBlock::clearFaults() {
  locked([](RegisterFile& file) { file.clearFaults(); });
}

}  // namespace sim
