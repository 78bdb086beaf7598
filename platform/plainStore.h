// A 64-bit store straight into mapped device memory, as a kernel driver
// writes wide data ports: one aligned store, not a call into the kernel
// services layer. The host build hands the same store to the stand-in
// layer, which performs it and lets the device's model see it; the kernel
// object stores directly.
#pragma once

#include "platform/types.h"

#ifndef QVRM7_KERNEL_BUILD
extern "C" void qvrm7HostStore64(uint64_t address, uint64_t value);
#endif

namespace qvrm7_driver::nQVWEND000 {

inline void storeQword(u64 address, u64 value) {
#ifdef QVRM7_KERNEL_BUILD
  *reinterpret_cast<u64 volatile*>(address) = value;
#else
  qvrm7HostStore64(address, value);
#endif
}

}  // namespace qvrm7_driver::nQVWEND000
