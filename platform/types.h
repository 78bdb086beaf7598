// Fixed-width names shared by every part of the driver. Only freestanding
// headers are allowed here: the same sources build as a kernel object.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace qvrm7_driver {

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;
using i8 = int8_t;
using i16 = int16_t;
using i32 = int32_t;
using i64 = int64_t;

// Placement construction without <new>: the hosted test build pulls in the
// standard placement operator, the kernel build has none, and a private tag
// keeps the two from ever meeting.
struct tPlacement {};
inline constexpr tPlacement kPlacement{};

}  // namespace qvrm7_driver

inline void* operator new(size_t, qvrm7_driver::tPlacement, void* where) noexcept { return where; }
inline void operator delete(void*, qvrm7_driver::tPlacement, void*) noexcept {}
