#include "host/layer/dma/vexusDma.h"

#include <deque>
#include <mutex>

#include "host/layer/dma/dma.h"

namespace sim {

struct VexusInterruptRegisters::State {
  std::mutex mutex;
  std::vector<uint32_t> status{0};
  size_t statusRead = 0;
  std::deque<uint32_t> queue;
  uint64_t claims[2] = {0, 0};
};

namespace {

void ignoreWrite(uint64_t, unsigned, uint32_t) {}

}  // namespace

VexusInterruptRegisters::VexusInterruptRegisters(std::shared_ptr<Bar> bar, uint64_t offset)
    : bar_(std::move(bar)), offset_(offset), state_(std::make_shared<State>()) {
  std::shared_ptr<State> s = state_;
  auto readStatus = [s](uint64_t, unsigned) {
    std::lock_guard lock(s->mutex);
    uint32_t const value = s->status[s->statusRead];
    if (s->statusRead + 1 < s->status.size()) ++s->statusRead;
    return value;
  };
  auto readQueue = [s](uint64_t, unsigned) {
    std::lock_guard lock(s->mutex);
    if (s->queue.empty()) return kQueueEmpty;
    uint32_t const value = s->queue.front();
    s->queue.pop_front();
    return value;
  };
  state_->claims[0] = bar_->attach(offset + kStatus, 4, {readStatus, ignoreWrite});
  state_->claims[1] = bar_->attach(offset + kQueue, 4, {readQueue, ignoreWrite});
}

VexusInterruptRegisters::~VexusInterruptRegisters() {
  bar_->detach(state_->claims[0]);
  bar_->detach(state_->claims[1]);
}

void VexusInterruptRegisters::scriptStatus(std::vector<uint32_t> values) {
  std::lock_guard lock(state_->mutex);
  state_->status = values.empty() ? std::vector<uint32_t>{0} : std::move(values);
  state_->statusRead = 0;
}

void VexusInterruptRegisters::queueInterrupts(std::vector<uint32_t> values) {
  std::lock_guard lock(state_->mutex);
  state_->queue.insert(state_->queue.end(), values.begin(), values.end());
}

uint64_t VexusInterruptRegisters::queued() const {
  std::lock_guard lock(state_->mutex);
  return state_->queue.size();
}

bool VexusInterruptRegisters::writeRing(uint32_t index, uint32_t value) {
  if (bar_->load(offset_ + kRingControl, 4) == 0) return false;
  uint64_t const slot = bar_->load64(offset_ + kRingAddress) + uint64_t{index} * 4;
  uint8_t* const host = physicalToHost(slot, 4);
  if (host == nullptr) return false;
  __atomic_store_n(reinterpret_cast<uint32_t*>(host), value, __ATOMIC_RELEASE);
  return true;
}

}  // namespace sim
