// Shared between the stand-in's lock and event imports and its clock.
#pragma once

#include <cstdint>

namespace sim::detail {

// A sleeping import called while this thread holds a spin lock is a driver
// fault that a kernel would not survive: print it and abort.
void requireNoSpinLock(char const* import);

// Any other misuse of the layer (bad handle, wrong owner): print and abort.
[[noreturn]] void layerFault(char const* import, char const* what);

// Every import call of the calling thread so far; the clock tells a spin
// (reads of the clock with nothing else in between) from it.
uint64_t importsOfThisThread();

bool clockIsVirtual();
// The virtual time without moving it.
uint64_t virtualClockPeek();
// Wakes every event waiter whose deadline is measured on the virtual clock
// so that it can look at the time again.
void notifyClockMoved();

void clearPendingInterrupts();

}  // namespace sim::detail
