// The library's own iterator: a forward walk over a run of elements in
// memory, as the flash code hands its data to a vector. It reads, steps and
// measures its distance to another walk over the same run; nothing more.
#pragma once

#include "platform/types.h"

namespace qvhtl {

template <class T>
class QVIteratorT {
 public:
  QVIteratorT() = default;
  explicit QVIteratorT(T* at) : mAt(at) {}

  T& operator*() const { return *mAt; }
  QVIteratorT& operator++() {
    ++mAt;
    return *this;
  }
  // Elements from other to this one; both walk the same run.
  qvrm7_driver::i64 operator-(QVIteratorT const& other) const { return mAt - other.mAt; }
  bool operator==(QVIteratorT const&) const = default;

  // Where the walk stands: a vector copies a run that lies in memory as one
  // block, and must know when the run is its own.
  T* address() const { return mAt; }

 private:
  T* mAt = nullptr;
};

}  // namespace qvhtl
