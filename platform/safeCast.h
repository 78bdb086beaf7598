// The checked narrowing: a value put into fewer bits than it came in, with
// the status told when the bits do not hold it.
#pragma once

#include "platform/status.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

// A value too wide for the bits it is put into.
inline constexpr StatusSite kNarrowingOutOfRangeSite{"safeCast", 25};

// The low `bits` bits of value. One that does not fit sets -52003 first: the
// cut then names some other element, and only the error keeps the next
// step from using it (every step returns at once on an error).
template <unsigned bits>
inline u32 safeCast(u64 value, tStatus& status) {
  static_assert(bits > 0 && bits < 32, "a narrowing to fewer bits than a u32 holds");
  constexpr u64 kLargest = (u64{1} << bits) - 1;
  if (value > kLargest) setStatus(status, kStatusNoMatch, kNarrowingOutOfRangeSite);
  return static_cast<u32>(value & kLargest);
}

}  // namespace qvrm7_driver::nQVWEND000
