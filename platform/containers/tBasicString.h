// The platform's own string (the PCI slot path). It grows to exactly what it
// is asked for, on the platform allocator, and only flags a failed
// allocation: the caller turns the flag into a status with its own line.
#pragma once

#include <stdint.h>

#include "platform/containers/allocator.h"

namespace qvrm7_driver::nQVWEND000 {

template <class Char, class Alloc = tAllocator<Char>>
class tBasicString {
 public:
  tBasicString() = default;
  tBasicString(tBasicString const&) = delete;
  tBasicString& operator=(tBasicString const&) = delete;
  ~tBasicString() { Alloc::deallocate(_data); }

  void reserve(u64 count) {
    if (count == 0 || count <= _capacity) return;
    if (count == ~u64(0)) {  // no room for the terminator
      _allocationFailed = 1;
      return;
    }
    Char* block = Alloc::allocate(count + 1);
    if (block == nullptr) {
      _allocationFailed = 1;
      return;
    }
    copy(block, _data, _size);
    block[_size] = Char();
    Alloc::deallocate(_data);
    _data = block;
    _capacity = count;
  }

  // A successful assign that had to allocate also clears an earlier flag.
  tBasicString& assign(Char const* text, u64 count) {
    if (count > _capacity) {
      tBasicString fresh;
      fresh.reserve(count);
      if (fresh._data == nullptr) {
        _allocationFailed = 1;
        return *this;
      }
      copy(fresh._data, text, count);
      fresh._data[count] = Char();
      fresh._size = count;
      swap(fresh);
    } else if (count != 0) {
      copy(_data, text, count);
      _data[count] = Char();
      _size = count;
    } else if (_size != 0) {
      _data[0] = Char();
      _size = 0;
    }
    return *this;
  }

  tBasicString& append(Char const* text, u64 count) {
    u64 const size = _size + count;
    if (size < _size) {
      _allocationFailed = 1;
      return *this;
    }
    // The text may be this string's own, which growing moves.
    uintptr_t const start = reinterpret_cast<uintptr_t>(_data);
    uintptr_t const source = reinterpret_cast<uintptr_t>(text);
    bool const inside =
        _data != nullptr && source >= start && source < start + _size * sizeof(Char);
    u64 const offset = inside ? static_cast<u64>(text - _data) : 0;
    reserve(size);
    if (size > _capacity) {
      _allocationFailed = 1;
      return *this;
    }
    if (count == 0) return *this;
    copy(_data + _size, inside ? _data + offset : text, count);
    _data[size] = Char();
    _size = size;
    return *this;
  }

  // Never null: a string that never allocated reads as the empty text.
  Char const* c_str() const { return _data != nullptr ? _data : kEmpty; }
  u64 size() const { return _size; }
  u64 capacity() const { return _capacity; }
  bool allocationFailed() const { return _allocationFailed != 0; }

 private:
  static void copy(Char* destination, Char const* source, u64 count) {
    if (count != 0) moveMemory(destination, source, count * sizeof(Char));
  }

  void swap(tBasicString& other) {
    swapField(_data, other._data);
    swapField(_capacity, other._capacity);
    swapField(_size, other._size);
    swapField(_allocationFailed, other._allocationFailed);
  }

  template <class F>
  static void swapField(F& a, F& b) {
    F const held = a;
    a = b;
    b = held;
  }

  static constexpr Char kEmpty[1] = {};

  Char* _data = nullptr;
  u64 _capacity = 0;
  u64 _size = 0;
  u8 _allocationFailed = 0;
};

}  // namespace qvrm7_driver::nQVWEND000
