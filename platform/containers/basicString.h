// The library's string: the registry's copy of each registration name and
// the tab-joined registration list. Every operation that may allocate takes
// a status; after a failure the string holds exactly what it held before.
#pragma once

#include <stdint.h>

#include "platform/containers/allocator.h"

namespace qvhtl {

template <class Char, class Traits = CharTraits<Char>, class Alloc = wend::Allocator<Char>>
class BasicString {
 public:
  // A first allocation is never smaller than this, so that a name and a few
  // appends fit in one block.
  static constexpr u64 kMinimumCapacity = 127;

  BasicString() = default;

  // A null text is taken as the empty text.
  BasicString(Char const* text, tStatus& status, Alloc const& = Alloc()) {
    initialize(text, Traits::length(text), status);
  }

  BasicString(Char const* text, u64 count, tStatus& status, Alloc const& = Alloc()) {
    initialize(text, count, status);
  }

  // On failure the new string is empty.
  BasicString(BasicString const& other, tStatus& status, Alloc const& = Alloc()) {
    BasicString copy;
    copy.reserve(other.mSize, status);
    if (status.isFatal() || copy.mData == nullptr) return;
    Traits::move(copy.mData, other.data(), other.mSize);
    copy.mData[other.mSize] = Char();
    copy.mSize = other.mSize;
    swap(copy);
  }

  // Copies must report failure, so there is no copy without a status.
  BasicString(BasicString const&) = delete;
  BasicString& operator=(BasicString const&) = delete;

  ~BasicString() {
    Alloc::deallocate(mData);
    mData = nullptr;
    mCapacity = 0;
    mSize = 0;
  }

  void reserve(u64 count, tStatus& status) {
    if (mCapacity >= count && mCapacity != 0) return;
    u64 capacity = count > kMinimumCapacity ? count : kMinimumCapacity;
    u64 const grown = mCapacity + mCapacity / 2;
    if (grown > mCapacity && grown > capacity) capacity = grown;
    if (capacity == ~u64(0)) {  // no room for the terminator
      setSizeOverflow(status);
      return;
    }
    if (status.isFatal()) return;
    Char* block = Alloc::allocate(capacity + 1, status);
    if (block == nullptr) return;
    Traits::move(block, mData, mSize);
    block[mSize] = Char();
    Alloc::deallocate(mData);
    mData = block;
    mCapacity = capacity;
  }

  BasicString& assign(Char const* text, u64 count, tStatus& status) {
    if (status.isFatal()) return *this;
    if (count > mCapacity) {
      // Built aside, so a failure leaves this string alone; the old buffer
      // goes with the temporary.
      BasicString fresh;
      fresh.reserve(count, status);
      if (status.isFatal() || fresh.mData == nullptr) return *this;
      Traits::move(fresh.mData, text, count);
      fresh.mData[count] = Char();
      fresh.mSize = count;
      swap(fresh);
    } else if (count != 0) {
      Traits::move(mData, text, count);
      mData[count] = Char();
      mSize = count;
    } else if (mSize != 0) {
      mData[0] = Char();
      mSize = 0;
    }
    return *this;
  }

  BasicString& append(Char const* first, Char const* last, tStatus& status) {
    if (status.isFatal()) return *this;
    u64 const count = static_cast<u64>(last - first);
    u64 const size = mSize + count;
    if (size < mSize) {
      setSizeOverflow(status);
      return *this;
    }
    // The source may be this string's own text, which a reallocation moves:
    // remember where in the text it starts before the old buffer is freed.
    uintptr_t const start = reinterpret_cast<uintptr_t>(mData);
    uintptr_t const source = reinterpret_cast<uintptr_t>(first);
    bool const inside =
        mData != nullptr && source >= start && source < start + mSize * sizeof(Char);
    u64 const offset = inside ? static_cast<u64>(first - mData) : 0;
    if (size > mCapacity || mCapacity == 0) {
      reserve(size, status);
      if (status.isFatal() || mCapacity < size) return *this;
    }
    Traits::move(mData + mSize, inside ? mData + offset : first, count);
    mData[size] = Char();
    mSize = size;
    return *this;
  }

  BasicString& append(Char const* text, tStatus& status) {
    return append(text, text + Traits::length(text), status);
  }

  BasicString& append(BasicString const& other, tStatus& status) {
    return append(other.data(), other.data() + other.mSize, status);
  }

  void swap(BasicString& other) {
    Char* const data = mData;
    u64 const capacity = mCapacity;
    u64 const size = mSize;
    mData = other.mData;
    mCapacity = other.mCapacity;
    mSize = other.mSize;
    other.mData = data;
    other.mCapacity = capacity;
    other.mSize = size;
  }

  // Orders as the standard strings do: by characters, then the shorter first.
  int compare(Char const* text, u64 count) const {
    u64 const common = mSize < count ? mSize : count;
    int const order = Traits::compare(data(), text, common);
    if (order != 0) return order;
    return mSize < count ? -1 : (mSize > count ? 1 : 0);
  }
  int compare(Char const* text) const { return compare(text, Traits::length(text)); }
  int compare(BasicString const& other) const { return compare(other.data(), other.mSize); }

  // Never null: a string that never allocated reads as the empty text.
  Char const* data() const { return mData != nullptr ? mData : kEmpty; }
  Char const* c_str() const { return data(); }
  u64 size() const { return mSize; }
  u64 capacity() const { return mCapacity; }
  bool empty() const { return mSize == 0; }
  Char operator[](u64 index) const { return mData[index]; }

 private:
  void initialize(Char const* text, u64 count, tStatus& status) {
    reserve(count, status);
    if (mData == nullptr || mCapacity < count) return;
    Traits::move(mData, text, count);
    mData[count] = Char();
    mSize = count;
  }

  static constexpr Char kEmpty[1] = {};

  Char* mData = nullptr;
  u64 mCapacity = 0;
  u64 mSize = 0;
};

using String = BasicString<char, CharTraits<char>, wend::Allocator<char>>;
static_assert(sizeof(String) == 24);

}  // namespace qvhtl
