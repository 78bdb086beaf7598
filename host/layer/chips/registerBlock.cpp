// Register blocks of the simulated chips.
#include "host/layer/chips/registerBlock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

constexpr uint32_t kFloating = 0xFFFFFFFFu;  // what a refused read returns

}  // namespace

RegisterFile::RegisterFile(std::vector<ChipRegister> const& registers) {
  for (ChipRegister const& shape : registers) {
    if (std::max(shape.readWidth, shape.writeWidth) == 0 ||
        !entries_.emplace(shape.offset, Entry{shape, shape.resetValue, 0}).second) {
      std::fprintf(stderr, "layer: chip register at 0x%x is unusable or given twice\n",
                   shape.offset);
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
  uint32_t size = std::max(it->second.shape.readWidth, it->second.shape.writeWidth);
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
    hooks.store64 = [weak, base](uint64_t offset, uint64_t value) {
      if (auto state = weak.lock()) store(*state, static_cast<uint32_t>(offset - base), value);
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
  if (entry == nullptr || entry->shape.offset != offset || entry->shape.readWidth != width) {
    state.file.accesses().note({false, offset, width, kFloating}, true);
    return kFloating;
  }
  uint32_t value = entry->readValue;
  if (auto behaviour = state.reads.find(offset); behaviour != state.reads.end())
    value = behaviour->second(state.file, offset);
  state.file.accesses().note({false, offset, width, value}, false);
  return value;
}

void RegisterBlock::write(State& state, uint32_t offset, unsigned width, uint32_t value) {
  std::lock_guard lock(state.mutex);
  RegisterFile::Entry* entry = state.file.holding(offset);
  if (entry == nullptr || entry->shape.offset != offset || entry->shape.writeWidth != width) {
    state.file.accesses().note({true, offset, width, value}, true);
    return;
  }
  state.file.accesses().note({true, offset, width, value}, false);
  entry->written = value;
  if (entry->shape.readsBack) entry->readValue = value;
  if (auto behaviour = state.writes.find(offset); behaviour != state.writes.end())
    behaviour->second(state.file, offset, value);
}

// The store has reached memory already; the block only sees it.
void RegisterBlock::store(State& state, uint32_t offset, uint64_t value) {
  std::lock_guard lock(state.mutex);
  RegisterFile::Entry* entry = state.file.holding(offset);
  bool const taken = entry != nullptr && entry->shape.offset == offset && entry->shape.plainStores;
  state.file.accesses().note({true, offset, 8, value}, !taken);
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

void RegisterBlock::setReadValue(uint32_t offset, uint32_t value) {
  locked([offset, value](RegisterFile& file) { file.setReadValue(offset, value); });
}

uint32_t RegisterBlock::lastWritten(uint32_t offset) const {
  return locked([offset](RegisterFile& file) { return file.lastWritten(offset); });
}

std::vector<ChipAccess> RegisterBlock::log() const {
  return locked([](RegisterFile& file) { return file.accesses().log(); });
}

std::vector<ChipAccess> RegisterBlock::strays() const {
  return locked([](RegisterFile& file) { return file.accesses().strays(); });
}

void RegisterBlock::clearLog() {
  locked([](RegisterFile& file) { file.accesses().clear(); });
}

std::vector<ChipAccess> RegisterBlock::takeLog() {
  return locked([](RegisterFile& file) {
    std::vector<ChipAccess> log = file.accesses().log();
    file.accesses().clear();
    return log;
  });
}

}  // namespace sim
