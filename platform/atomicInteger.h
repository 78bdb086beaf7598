// A 32- or 64-bit counter that several threads change at once. Every access
// is sequentially consistent: the IO gate depends on a count's increment
// being ordered before its following read of the gate state.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::qvatomicop {

template <class T>
class Integer {
 public:
  constexpr Integer() : value_(0) {}
  constexpr explicit Integer(T value) : value_(value) {}
  Integer(Integer const&) = delete;
  Integer& operator=(Integer const&) = delete;

  // Pollers read the count through this member, hence const volatile.
  T getValue() const volatile { return __atomic_load_n(&value_, __ATOMIC_SEQ_CST); }
  void setValue(T value) volatile { __atomic_store_n(&value_, value, __ATOMIC_SEQ_CST); }
  // Both return the new value.
  T increment() volatile { return __atomic_add_fetch(&value_, T{1}, __ATOMIC_SEQ_CST); }
  T decrement() volatile { return __atomic_sub_fetch(&value_, T{1}, __ATOMIC_SEQ_CST); }
  // Decrements only a value above 1; false, changing nothing, otherwise.
  bool decrementAboveOne() volatile {
    T value = __atomic_load_n(&value_, __ATOMIC_SEQ_CST);
    while (value > 1) {
      if (__atomic_compare_exchange_n(&value_, &value, value - 1, false, __ATOMIC_SEQ_CST,
                                      __ATOMIC_SEQ_CST))
        return true;
    }
    return false;
  }

 private:
  T value_;
};

}  // namespace qvrm7_driver::qvatomicop
