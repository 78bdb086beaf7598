// The library's vectors. Vector holds plain values (relay command words,
// flash bytes); Vector_sct holds elements whose copy can fail and reports it
// in a status (the registry's name and registration pairs). After a failure
// either vector holds exactly what it held before.
#pragma once

#include <type_traits>

#include "platform/containers/allocator.h"

namespace qvhtl {

// A position past the end would write outside the elements; the failure
// has no line of its own.
inline constexpr qvrm7_driver::nQVWEND000::StatusSite kVectorPositionSite{"Vector", 0};

namespace detail {

// The next capacity when n elements no longer fit: half as much again, at
// least 8, at least n. A growth that overflows is left to the allocator's
// count check.
inline u64 grownCapacity(u64 capacity, u64 needed) {
  u64 grown = capacity + capacity / 2;
  if (grown < capacity) grown = ~u64(0);
  if (grown < 8) grown = 8;
  return grown > needed ? grown : needed;
}

// A range whose elements lie in memory as one block: a pointer, or an
// iterator that says where it stands. Such a range is copied as one block and
// may be the vector's own.
template <class Iterator>
inline constexpr bool kContiguous = std::is_pointer_v<Iterator> || requires(Iterator it) {
  it.address();
};

template <class Iterator>
auto addressOf(Iterator it) {
  if constexpr (std::is_pointer_v<Iterator>) {
    return it;
  } else {
    return it.address();
  }
}

inline bool checkPosition(u64 position, u64 size, tStatus& status) {
  if (position <= size) return true;
  qvrm7_driver::nQVWEND000::setStatus(status, qvrm7_driver::nQVWEND000::kStatusBadArgument,
                                      kVectorPositionSite);
  return false;
}

// The storage both vectors share, in the order the records lay it out, and
// their read access.
template <class T>
class VectorStorage {
 public:
  u64 size() const { return mSize; }
  u64 capacity() const { return mCapacity; }
  bool empty() const { return mSize == 0; }
  T* data() { return mData; }
  T const* data() const { return mData; }
  T& operator[](u64 index) { return mData[index]; }
  T const& operator[](u64 index) const { return mData[index]; }
  T* begin() { return mData; }
  T* end() { return mData + mSize; }
  T const* begin() const { return mData; }
  T const* end() const { return mData + mSize; }

 protected:
  VectorStorage() = default;
  ~VectorStorage() = default;

  u64 mCapacity = 0;
  u64 mSize = 0;
  T* mData = nullptr;
};

}  // namespace detail

template <class T, class Alloc = wend::Allocator<T>>
class Vector : public detail::VectorStorage<T> {
  using detail::VectorStorage<T>::mCapacity;
  using detail::VectorStorage<T>::mSize;
  using detail::VectorStorage<T>::mData;
  static_assert(std::is_trivially_copyable_v<T>, "Vector moves its elements as bytes");

 public:
  Vector() = default;
  Vector(Vector const&) = delete;
  Vector& operator=(Vector const&) = delete;
  ~Vector() { Alloc::deallocate(mData); }

  // Inserts the elements of [first, last) before position. The iterator
  // needs only difference, dereference and increment; one whose elements
  // lie in one block may be a range of this vector itself.
  template <class Iterator>
  void insert_(u64 position, Iterator first, Iterator last, tStatus& status) {
    if (status.isFatal()) return;
    if (!detail::checkPosition(position, mSize, status)) return;
    u64 const count = static_cast<u64>(last - first);
    u64 const size = mSize + count;
    if (size < mSize) {
      setSizeOverflow(status);
      return;
    }
    if (size <= mCapacity) {
      if (count == 0) return;
      // A range taken from this vector itself must be read where the shift
      // leaves it, not where it was.
      u64 const source = sourceIndex(first, count);
      moveElements(mData + position + count, mData + position, mSize - position);
      if (source != kNotInside) {
        for (u64 i = 0; i < count; ++i) {
          u64 const from = source + i < position ? source + i : source + i + count;
          mData[position + i] = mData[from];
        }
      } else {
        copyRange(mData + position, first, count);
      }
      mSize = size;
      return;
    }
    u64 const capacity = detail::grownCapacity(mCapacity, size);
    T* block = Alloc::allocate(capacity, status);
    if (block == nullptr) return;
    moveElements(block, mData, position);
    copyRange(block + position, first, count);
    moveElements(block + position + count, mData + position, mSize - position);
    Alloc::deallocate(mData);
    mData = block;
    mCapacity = capacity;
    mSize = size;
  }

 private:
  static constexpr u64 kNotInside = ~u64(0);

  template <class Iterator>
  u64 sourceIndex(Iterator first, u64 count) const {
    if constexpr (detail::kContiguous<Iterator>) {
      if (mData == nullptr || count == 0) return kNotInside;
      uintptr_t const start = reinterpret_cast<uintptr_t>(mData);
      uintptr_t const end = reinterpret_cast<uintptr_t>(mData + mSize);
      uintptr_t const from = reinterpret_cast<uintptr_t>(detail::addressOf(first));
      if (from < start || from >= end) return kNotInside;
      return static_cast<u64>((from - start) / sizeof(T));
    } else {
      (void)first;
      (void)count;
      return kNotInside;
    }
  }

  static void moveElements(T* destination, T const* source, u64 count) {
    if (count != 0) qvrm7_driver::nQVWEND000::moveMemory(destination, source, count * sizeof(T));
  }

  template <class Iterator>
  static void copyRange(T* destination, Iterator first, u64 count) {
    if constexpr (detail::kContiguous<Iterator>) {
      moveElements(destination, detail::addressOf(first), count);
    } else {
      for (u64 i = 0; i < count; ++i, ++first) destination[i] = *first;
    }
  }
};

// A pair whose first member can only be copied with a status. A zeroed pair
// is a valid empty one.
template <class First, class Second, class Status = tStatus>
struct Pair_sct_pod {
  First first{};
  Second second{};

  Pair_sct_pod() = default;
  Pair_sct_pod(Pair_sct_pod const& other, Status& status)
      : first(other.first, status), second(other.second) {}
  Pair_sct_pod(Pair_sct_pod const&) = delete;
  Pair_sct_pod& operator=(Pair_sct_pod const&) = delete;

  void swap(Pair_sct_pod& other) {
    first.swap(other.first);
    Second const held = second;
    second = other.second;
    other.second = held;
  }
};

template <class T, class Alloc = wend::Allocator<T>>
class Vector_sct : public detail::VectorStorage<T> {
  using detail::VectorStorage<T>::mCapacity;
  using detail::VectorStorage<T>::mSize;
  using detail::VectorStorage<T>::mData;

 public:
  Vector_sct() = default;
  Vector_sct(Vector_sct const&) = delete;
  Vector_sct& operator=(Vector_sct const&) = delete;
  ~Vector_sct() {
    for (u64 i = 0; i < mSize; ++i) mData[i].~T();
    Alloc::deallocate(mData);
  }

  // Opens count empty elements before position without counting them: the
  // caller swaps its element into the opened slot, then incrementSize.
  void insert_(u64 position, u64 count, tStatus& status) {
    if (status.isFatal()) return;
    if (!detail::checkPosition(position, mSize, status)) return;
    u64 const size = mSize + count;
    if (size < mSize) {
      setSizeOverflow(status);
      return;
    }
    if (size > mCapacity) {
      reallocate(position, count, detail::grownCapacity(mCapacity, size), status);
      return;
    }
    for (u64 i = mSize; i < size; ++i) new (qvrm7_driver::kPlacement, mData + i) T();
    for (u64 i = mSize; i > position; --i) mData[i - 1].swap(mData[i - 1 + count]);
  }

  // Counts elements that insert_ opened. Never past the capacity.
  void incrementSize(u64 count) {
    if (count <= mCapacity - mSize) mSize += count;
  }

  // Takes out the element at position, keeping the order of the others.
  void erase(u64 position) {
    if (position >= mSize) return;
    for (u64 i = position; i + 1 < mSize; ++i) mData[i].swap(mData[i + 1]);
    --mSize;
    mData[mSize].~T();
  }

 private:
  void reallocate(u64 position, u64 count, u64 capacity, tStatus& status) {
    T* block = Alloc::allocate(capacity, status);
    if (block == nullptr) return;
    u64 made = 0;
    bool failed = false;
    for (u64 i = 0; i < mSize + count; ++i) {
      if (i < position) {
        new (qvrm7_driver::kPlacement, block + i) T(mData[i], status);
      } else if (i < position + count) {
        new (qvrm7_driver::kPlacement, block + i) T();
      } else {
        new (qvrm7_driver::kPlacement, block + i) T(mData[i - count], status);
      }
      ++made;
      if (status.isFatal()) {
        failed = true;
        break;
      }
    }
    if (failed) {
      for (u64 i = 0; i < made; ++i) block[i].~T();
      Alloc::deallocate(block);
      return;
    }
    for (u64 i = 0; i < mSize; ++i) mData[i].~T();
    Alloc::deallocate(mData);
    mData = block;
    mCapacity = capacity;
  }
};

}  // namespace qvhtl
