// BAR memory of a simulated PCI function. The memory is a shared-memory
// file, so that every kernel mapping is a view of its own at a different
// address over the same bytes, as a kernel mapping of device memory is.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "host/layer/pci.h"

namespace sim {

namespace {

uint64_t pageSize() { return static_cast<uint64_t>(sysconf(_SC_PAGESIZE)); }

uint64_t roundUpToPage(uint64_t value) { return (value + pageSize() - 1) & ~(pageSize() - 1); }

[[noreturn]] void hostFailure(char const* what) {
  std::perror(what);
  std::abort();
}

uint32_t widthMask(unsigned width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

}  // namespace

Bar::Bar(uint64_t physicalAddress, uint64_t size) : physical_(physicalAddress), size_(size) {
  if (size == 0) {
    std::fprintf(stderr, "layer: a memory resource needs a size\n");
    std::abort();
  }
  fd_ = memfd_create("qvrm7-bar", MFD_CLOEXEC);
  if (fd_ < 0) hostFailure("layer: memfd_create for BAR memory");
  if (ftruncate(fd_, static_cast<off_t>(roundUpToPage(size))) != 0)
    hostFailure("layer: sizing BAR memory");
  void* view = mmap(nullptr, roundUpToPage(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) hostFailure("layer: mapping BAR memory");
  view_ = static_cast<uint8_t*>(view);
}

Bar::~Bar() {
  munmap(view_, roundUpToPage(size_));
  close(fd_);
}

void Bar::check(uint64_t offset, unsigned width) const {
  if (offset >= size_ || size_ - offset < width) {
    std::fprintf(
        stderr, "layer: access of %u bytes at offset 0x%llx is outside a BAR of 0x%llx bytes\n",
        width, static_cast<unsigned long long>(offset), static_cast<unsigned long long>(size_));
    std::abort();
  }
}

// Aligned accesses are single atomic accesses, as a device register access
// is; unaligned ones are copied byte-wise.
uint32_t Bar::load(uint64_t offset, unsigned width) const {
  check(offset, width);
  uint8_t* const at = view_ + offset;
  if (offset % width == 0) {
    switch (width) {
      case 1:
        return __atomic_load_n(at, __ATOMIC_RELAXED);
      case 2:
        return __atomic_load_n(reinterpret_cast<uint16_t*>(at), __ATOMIC_RELAXED);
      case 4:
        return __atomic_load_n(reinterpret_cast<uint32_t*>(at), __ATOMIC_RELAXED);
      default:
        break;
    }
  }
  uint32_t value = 0;
  std::memcpy(&value, at, width);
  return value;
}

void Bar::store(uint64_t offset, unsigned width, uint32_t value) {
  check(offset, width);
  uint8_t* const at = view_ + offset;
  if (offset % width == 0) {
    switch (width) {
      case 1:
        __atomic_store_n(at, static_cast<uint8_t>(value), __ATOMIC_RELAXED);
        return;
      case 2:
        __atomic_store_n(reinterpret_cast<uint16_t*>(at), static_cast<uint16_t>(value),
                         __ATOMIC_RELAXED);
        return;
      case 4:
        __atomic_store_n(reinterpret_cast<uint32_t*>(at), value, __ATOMIC_RELAXED);
        return;
      default:
        break;
    }
  }
  std::memcpy(at, &value, width);
}

uint64_t Bar::load64(uint64_t offset) const {
  check(offset, 8);
  uint64_t value = 0;
  std::memcpy(&value, view_ + offset, 8);
  return value;
}

void Bar::store64(uint64_t offset, uint64_t value) {
  check(offset, 8);
  std::memcpy(view_ + offset, &value, 8);
}

uint64_t Bar::attach(uint64_t offset, uint64_t length, RegisterHooks hooks) {
  if (length == 0 || offset >= size_ || size_ - offset < length) {
    std::fprintf(stderr, "layer: register model claims 0x%llx bytes at 0x%llx outside the BAR\n",
                 static_cast<unsigned long long>(length), static_cast<unsigned long long>(offset));
    std::abort();
  }
  std::lock_guard lock(mutex_);
  uint64_t const id = nextClaim_++;
  claims_.push_back({id, offset, length, std::make_shared<RegisterHooks const>(std::move(hooks))});
  rebuildSpans();
  return id;
}

void Bar::detach(uint64_t claim) {
  std::lock_guard lock(mutex_);
  std::erase_if(claims_, [claim](Claim const& c) { return c.id == claim; });
  rebuildSpans();
}

// Claims change rarely and accesses are many: the spans are worked out once
// per change. Between two neighbouring claim boundaries the winner cannot
// change, so each such stretch goes to its newest covering claim, and
// neighbours with the same winner are joined.
void Bar::rebuildSpans() {
  std::vector<uint64_t> bounds;
  for (Claim const& c : claims_) {
    bounds.push_back(c.offset);
    bounds.push_back(c.offset + c.length);
  }
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
  spans_.clear();
  for (size_t i = 0; i + 1 < bounds.size(); ++i) {
    uint64_t const begin = bounds[i];
    auto winner = std::find_if(claims_.rbegin(), claims_.rend(), [begin](Claim const& c) {
      return begin >= c.offset && begin - c.offset < c.length;
    });
    if (winner == claims_.rend()) continue;
    if (!spans_.empty() && spans_.back().end == begin && spans_.back().hooks == winner->hooks)
      spans_.back().end = bounds[i + 1];
    else
      spans_.push_back({begin, bounds[i + 1], winner->hooks});
  }
}

std::shared_ptr<RegisterHooks const> Bar::claimAt(uint64_t offset) const {
  std::lock_guard lock(mutex_);
  auto after = std::upper_bound(spans_.begin(), spans_.end(), offset,
                                [](uint64_t o, Span const& s) { return o < s.begin; });
  if (after == spans_.begin()) return nullptr;
  Span const& span = *std::prev(after);
  return offset < span.end ? span.hooks : nullptr;
}

// The model runs without the BAR's lock, so it may attach, detach, or reach
// the layer's other services.
uint32_t Bar::registerRead(uint64_t offset, unsigned width) const {
  check(offset, width);
  if (auto hooks = claimAt(offset); hooks && hooks->read)
    return hooks->read(offset, width) & widthMask(width);
  return load(offset, width);
}

void Bar::registerWrite(uint64_t offset, unsigned width, uint32_t value) {
  check(offset, width);
  value &= widthMask(width);
  if (auto hooks = claimAt(offset); hooks && hooks->write) {
    hooks->write(offset, width, value);
    return;
  }
  store(offset, width, value);
}

void Bar::plainStore64(uint64_t offset, uint64_t value) {
  store64(offset, value);
  if (auto hooks = claimAt(offset); hooks && hooks->store64) hooks->store64(offset, value);
}

Bar::View Bar::mapView(uint64_t offset, uint64_t length) const {
  check(offset, 1);
  if (length == 0 || size_ - offset < length) return {};
  uint64_t const first = offset & ~(pageSize() - 1);
  uint64_t const span = roundUpToPage(offset + length) - first;
  void* base =
      mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, static_cast<off_t>(first));
  if (base == MAP_FAILED) return {};
  return {base, span, static_cast<uint8_t*>(base) + (offset - first)};
}

void Bar::unmapView(View const& view) {
  if (view.base != nullptr) munmap(view.base, view.length);
}

}  // namespace sim
