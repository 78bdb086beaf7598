// Test controls of the stand-in layer's locks, events and clock. Only tests
// and the main program use this.
//
// Units of the stand-in: the monotonic counter is in nanoseconds, the timer
// count in ticks of getTimerInterval() microseconds, sleepTimeout in
// microseconds, and the bounded single-use-event waits in milliseconds.
//
// A bounded event wait returns 0 when the event was released, 1 when its time
// ran out (after the caller's callback has run, in the waiting thread), and
// -1 when an interruptible wait was interrupted (the callback does not run).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace sim {

// ---- Clock ---------------------------------------------------------------
// The real clock (CLOCK_MONOTONIC) is the default. On the virtual clock time
// stands still until a test moves it, or moves by a set step on every read of
// the monotonic counter or the timer count; sleepTimeout moves it by the
// sleep instead of sleeping, and bounded event waits measure their deadline
// on it (a waiter whose deadline passes wakes when the clock is moved).
// Switch clocks only while no thread waits.
//
// A thread that spins on the virtual clock sees time pass as it would on a
// real one: without a set step, a read of the monotonic counter or the timer
// count that directly follows another such read of the same thread (no other
// import of that thread, no clock control in between) is the k-th read of a
// spin and moves the clock on by k nanoseconds after it is read. A spin of d
// nanoseconds thus ends after about sqrt(2d) reads, and overshoots its end by
// less than one step; the first read after anything else moves nothing.
void useVirtualClock(uint64_t startNanoseconds = 0);
void useRealClock();
bool virtualClockInUse();
void advanceClock(uint64_t nanoseconds);
void setAutoAdvance(uint64_t nanosecondsPerRead);  // 0: off
// The current virtual time; reading it does not move the clock.
uint64_t virtualNow();

// Microseconds per timer tick (default 4000); never 0.
void setTimerInterval(uint32_t microseconds);

// On the virtual clock the time of day is the virtual time taken as
// nanoseconds since 1970-01-01 00:00:00 UTC.

// Every sleepTimeout argument since the last clear, in order.
std::vector<uint32_t> sleepLog();
void clearSleepLog();

// ---- Threads -----------------------------------------------------------------
// Threads blocked in a single-use-event wait right now.
uint64_t blockedWaiters();
// Blocks (on real time, at most timeoutMilliseconds) until at least n threads
// are blocked in event waits; false when that did not happen in time.
bool waitUntilBlocked(uint64_t n, uint64_t timeoutMilliseconds = 10000);

// Makes the current or next interruptible event wait of the thread with that
// handle (nQVZOR100_getThreadHandle) return -1. Non-interruptible waits leave
// the request pending. False when no such thread is alive.
bool interruptThread(uint64_t threadHandle);

// Runs in the waiting thread when an event wait is about to end without its
// event: after a bounded wait's time ran out and before its callback runs, or
// before an interruptible wait reports the interruption. A test uses it to
// put a release exactly into that window. Empty: nothing runs.
void setWaitEndHook(std::function<void()> hook);

// ---- Locks -------------------------------------------------------------------
uint64_t liveMutexes();
uint64_t liveSpinLocks();
// Kernel acquires and releases of one mutex so far.
uint64_t mutexAcquireCount(uint64_t mutex);
uint64_t mutexReleaseCount(uint64_t mutex);
// Spin locks the calling thread holds.
uint32_t spinLocksHeldByThisThread();

// The clock, timer interval, sleep log and pending interrupts back to their
// defaults. Live locks are kept: they belong to whoever made them.
void resetSyncControls();

}  // namespace sim
