// The platform's fixed-capacity array: elements inline, no allocation, so
// nothing to fail but the capacity, which callers bound themselves.
// Overrunning it is a broken consistency and halts.
#pragma once

#include "platform/assertion.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

inline constexpr char kArrayFile[] = "tArray";
inline constexpr i32 kArrayCapacityLine = 456;

template <class T, u64 kMaxSize>
class tArray {
 public:
  // Inserts value before position; the elements from position on move up.
  void insert(u64 position, T const& value) { insert(position, 1, value); }

  u64 size() const { return _size; }
  static constexpr u64 capacity() { return kMaxSize; }
  T& operator[](u64 index) { return _data[index]; }
  T const& operator[](u64 index) const { return _data[index]; }
  T* begin() { return _data; }
  T* end() { return _data + _size; }
  T const* begin() const { return _data; }
  T const* end() const { return _data + _size; }

 private:
  void insert(u64 position, u64 n, T const& value) {
    if (n > kMaxSize - _size) {
      assertionFailed(kArrayFile, kArrayCapacityLine, "ASSERT(_size+n <= kMaxSize) ");
    }
    // A position past the end would leave a hole of unset elements.
    if (position > _size) {
      assertionFailed(kArrayFile, kArrayCapacityLine, "ASSERT(position <= _size) ");
    }
    for (u64 i = _size; i < _size + n; ++i) _data[i] = T();
    for (u64 i = _size; i > position; --i) _data[i - 1 + n] = _data[i - 1];
    for (u64 i = position; i < position + n; ++i) _data[i] = value;
    _size += n;
  }

  T _data[kMaxSize] = {};
  u64 _size = 0;
};

}  // namespace qvrm7_driver::nQVWEND000
