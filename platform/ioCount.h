// The counts of requests inside the IO gate (a device's active requests, a
// session's requests in flight) share their word with the number of threads
// waiting for the count to reach 0 (a drain, a close): the count in the low
// 24 bits, the waiters in units of kIOWaiterUnit above. One atomic word lets
// a release see, in the same step that drops the count, whether anyone
// waits; a poll of the word compares it under kIOCountMask.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

inline constexpr u32 kIOCountMask = 0x00FFFFFFu;
inline constexpr u32 kIOWaiterUnit = 0x01000000u;

}  // namespace qvrm7_driver::nQVWEND000
