// The bridge chip's window: two directly decoded registers and a BAR region
// that follows the context register wherever it places the window.
#include "host/layer/vexusBridge.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace sim {

namespace {

uint32_t widthMask(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

// A sub-word access of a 32-bit register at byte `lane` of it.
uint32_t readLane(uint32_t reg, unsigned lane, unsigned width) {
  return (reg >> (8 * lane)) & widthMask(width);
}

uint32_t writeLane(uint32_t reg, unsigned lane, unsigned width, uint32_t value) {
  uint32_t const mask = widthMask(width) << (8 * lane);
  return (reg & ~mask) | ((value << (8 * lane)) & mask);
}

}  // namespace

struct VexusBridge::State : std::enable_shared_from_this<VexusBridge::State> {
  mutable std::mutex mutex;
  Bar* bar = nullptr;
  uint32_t context = 0;
  uint32_t window = 0;
  uint64_t registerClaims[2] = {0, 0};
  uint64_t windowClaim = 0;
  std::unordered_map<uint32_t, uint32_t> words;  // by 4-byte aligned internal address

  uint64_t windowOffset() const { return context & 0xFFFFFF00u; }
  uint64_t windowSize() const { return uint64_t{1} << (context & 31); }

  uint8_t chipByte(uint32_t address) const {
    auto found = words.find(address & ~3u);
    return found == words.end() ? 0 : static_cast<uint8_t>(found->second >> (8 * (address & 3)));
  }

  void setChipByte(uint32_t address, uint8_t value) {
    uint32_t& word = words[address & ~3u];
    word = writeLane(word, address & 3, 1, value);
  }

  uint32_t chipRead(uint32_t address, unsigned width) const {
    uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) value |= uint32_t{chipByte(address + i)} << (8 * i);
    return value;
  }

  void chipWrite(uint32_t address, unsigned width, uint32_t value) {
    for (unsigned i = 0; i < width; ++i)
      setChipByte(address + i, static_cast<uint8_t>(value >> (8 * i)));
  }

  bool inWindow(uint64_t offset) const {
    return offset >= windowOffset() && offset - windowOffset() < windowSize();
  }

  uint32_t internalAddress(uint64_t offset) const {
    uint32_t const mask = 0xFFFFFFFFu << (context & 31);
    return (window & mask) | static_cast<uint32_t>(offset - windowOffset());
  }

  // Moves the window's claim to where the context register puts it. Called
  // with the mutex held; the BAR's lock is only ever taken after it.
  void placeWindow() {
    if (windowClaim != 0) bar->detach(windowClaim);
    windowClaim = 0;
    if (windowOffset() >= bar->size()) return;
    uint64_t const length = std::min(windowSize(), bar->size() - windowOffset());
    std::weak_ptr<State> weak = weak_from_this();
    RegisterHooks hooks;
    // An access that raced a move of the window lands where the window no
    // longer is: it reaches memory, as it would have just after the move.
    hooks.read = [weak](uint64_t offset, unsigned width) -> uint32_t {
      auto self = weak.lock();
      if (!self) return 0xFFFFFFFFu;
      std::lock_guard lock(self->mutex);
      if (!self->inWindow(offset)) return self->bar->load(offset, width);
      if ((self->context & kContextOpen) == 0) return 0xFFFFFFFFu;  // nothing decodes it
      return self->chipRead(self->internalAddress(offset), width);
    };
    hooks.write = [weak](uint64_t offset, unsigned width, uint32_t value) {
      auto self = weak.lock();
      if (!self) return;
      std::lock_guard lock(self->mutex);
      if (!self->inWindow(offset)) {
        self->bar->store(offset, width, value);
      } else if (self->context & kContextOpen) {
        self->chipWrite(self->internalAddress(offset), width, value);
      }
    };
    windowClaim = bar->attach(windowOffset(), length, std::move(hooks));
  }

  void attachRegisters() {
    std::weak_ptr<State> weak = weak_from_this();
    for (int i = 0; i < 2; ++i) {
      uint64_t const base = i == 0 ? kContextRegister : kWindowRegister;
      RegisterHooks hooks;
      hooks.read = [weak, base](uint64_t offset, unsigned width) -> uint32_t {
        auto self = weak.lock();
        if (!self) return 0xFFFFFFFFu;
        std::lock_guard lock(self->mutex);
        uint32_t const reg = base == kContextRegister ? self->context : self->window;
        return readLane(reg, static_cast<unsigned>(offset - base), width);
      };
      hooks.write = [weak, base](uint64_t offset, unsigned width, uint32_t value) {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard lock(self->mutex);
        unsigned const lane = static_cast<unsigned>(offset - base);
        if (base == kWindowRegister) {
          self->window = writeLane(self->window, lane, width, value);
          return;
        }
        uint32_t const before = self->context;
        self->context = writeLane(self->context, lane, width, value) & kContextWritable;
        // Opening and closing do not move the window; a new offset or size does.
        if ((before ^ self->context) & ~kContextOpen) self->placeWindow();
      };
      registerClaims[i] = bar->attach(base, 4, std::move(hooks));
    }
  }
};

VexusBridge::VexusBridge(std::shared_ptr<Bar> bar0, uint32_t context)
    : bar_(std::move(bar0)), state_(std::make_shared<State>()) {
  std::lock_guard lock(state_->mutex);
  state_->bar = bar_.get();
  state_->context = context & kContextWritable;
  state_->attachRegisters();
  state_->placeWindow();
}

VexusBridge::~VexusBridge() {
  std::lock_guard lock(state_->mutex);
  for (uint64_t claim : state_->registerClaims) bar_->detach(claim);
  if (state_->windowClaim != 0) bar_->detach(state_->windowClaim);
}

uint32_t VexusBridge::context() const {
  std::lock_guard lock(state_->mutex);
  return state_->context;
}

uint32_t VexusBridge::window() const {
  std::lock_guard lock(state_->mutex);
  return state_->window;
}

uint32_t VexusBridge::chipRead(uint32_t address, unsigned width) const {
  std::lock_guard lock(state_->mutex);
  return state_->chipRead(address, std::min(width, 4u));
}

void VexusBridge::chipWrite(uint32_t address, unsigned width, uint32_t value) {
  std::lock_guard lock(state_->mutex);
  state_->chipWrite(address, std::min(width, 4u), value);
}

}  // namespace sim
