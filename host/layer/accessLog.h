// What a simulated register block saw on the bus: every access, the oldest
// first, and apart from them the strays, the accesses no driver may make.
// Each list keeps kCapacity entries; later accesses are counted but not kept
// until the log is cleared. The block's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// One access as the block saw it; offsets are block offsets.
struct ChipAccess {
  bool write;
  uint32_t offset;
  unsigned width;  // bytes; 8 for a plain 64-bit store
  uint64_t value;  // read, or written

  bool operator==(ChipAccess const&) const = default;
};

class AccessLog {
 public:
  static constexpr size_t kCapacity = 1u << 16;

  void note(ChipAccess const& access, bool stray) {
    if (log_.size() < kCapacity)
      log_.push_back(access);
    else
      ++dropped_;
    if (stray && strays_.size() < kCapacity) strays_.push_back(access);
  }
  std::vector<ChipAccess> const& log() const { return log_; }
  uint64_t dropped() const { return dropped_; }  // accesses past the capacity
  std::vector<ChipAccess> const& strays() const { return strays_; }
  void clear() {  // and the strays
    log_.clear();
    dropped_ = 0;
    strays_.clear();
  }

 private:
  std::vector<ChipAccess> log_;
  uint64_t dropped_ = 0;
  std::vector<ChipAccess> strays_;
};

}  // namespace sim
