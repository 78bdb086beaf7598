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
  // All four return the new value.
  T increment() volatile { return __atomic_add_fetch(&value_, T{1}, __ATOMIC_SEQ_CST); }
  T decrement() volatile { return __atomic_sub_fetch(&value_, T{1}, __ATOMIC_SEQ_CST); }
  T add(T amount) volatile { return __atomic_add_fetch(&value_, amount, __ATOMIC_SEQ_CST); }
  T subtract(T amount) volatile { return __atomic_sub_fetch(&value_, amount, __ATOMIC_SEQ_CST); }
  // Stores desired when the value is still expected; otherwise expected
  // receives the value found. False then.
  bool compareExchange(T& expected, T desired) volatile {
    return __atomic_compare_exchange_n(&value_, &expected, desired, false, __ATOMIC_SEQ_CST,
                                       __ATOMIC_SEQ_CST);
  }

 private:
  T value_;
};

}  // namespace qvrm7_driver::qvatomicop
