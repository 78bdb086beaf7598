// Time units, the two time bases, the two ways of letting time pass and the
// deadline built from them, and the time of day. Every wait here runs in the
// calling thread: the driver has no timer of its own.
#pragma once

#include "platform/kernelServices.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// Neighbours differ by 1000 up to seconds and by 60 above.
enum nQVWEND200_tTimeUnit : u32 {
  kTimeUnitNanoseconds = 1,
  kTimeUnitMicroseconds = 2,
  kTimeUnitMilliseconds = 3,
  kTimeUnitSeconds = 4,
  kTimeUnitMinutes = 5,
  kTimeUnitHours = 6,
};

// Towards a finer unit the value saturates at the largest u64: a duration too
// long to express must not come out as a short one.
u64 convertTimeUnits(u64 value, nQVWEND200_tTimeUnit from, nQVWEND200_tTimeUnit to);

// Filled once, on first use, by whichever thread gets there first; every
// writer stores the same values and the ready flag goes last.
struct tTimebaseState {
  u8 ready;
  u32 efficientUnit;
  u32 preciseUnit;
  u64 efficientTick;  // microseconds per kernel timer tick
  u64 preciseTick;    // monotonic-counter nanoseconds per precise unit step
};

// Returns the kernel timer interval (microseconds per tick).
u32 initializeTimebase();
u64 efficientTimerCount();

// The monotonic counter, in nanoseconds.
struct tTimebasePrecise {
  static u64 now();
  static u64 tickLength();
  static nQVWEND200_tTimeUnit unit();
};

// The kernel timer count scaled to microseconds; cheap, coarse.
struct tTimebaseEfficient {
  static u64 now();
  static u64 tickLength();
  static nQVWEND200_tTimeUnit unit();
};

// Sleeps the whole milliseconds left of a wait (0 when under one remains).
void sleepRemainder(u64 elapsedNanoseconds, u64 waitNanoseconds);

// Keeps the processor: each round re-reads the time base.
struct tTimeWasterSpin {
  template <class Timebase>
  static void wasteOnce(u64 /*elapsed*/, u64 /*wait*/) {
    (void)Timebase::now();
  }
};

// Gives the processor away in whole milliseconds through the layer.
struct tTimeWasterSleep {
  template <class Timebase>
  static void wasteOnce(u64 elapsed, u64 wait) {
    nQVWEND200_tTimeUnit const unit = Timebase::unit();
    sleepRemainder(convertTimeUnits(elapsed, unit, kTimeUnitNanoseconds),
                   convertTimeUnits(wait, unit, kTimeUnitNanoseconds));
  }
};

// A deadline measured on Timebase; Waster decides how an interval passes.
template <class Waster, class Timebase>
class tTimeout {
 public:
  tTimeout(u64 durationMicroseconds, bool armed)
      : armed_(armed), start_(0), span_(spanOf(durationMicroseconds)) {
    if (armed_) start_ = Timebase::now();
  }

  // A duration always lasts at least one tick beyond its converted value, so
  // a reading taken just before the base steps cannot end it early.
  static u64 spanOf(u64 microseconds) {
    u64 const converted = convertTimeUnits(microseconds, kTimeUnitMicroseconds, Timebase::unit());
    u64 const withTick = converted + Timebase::tickLength();
    return withTick < converted ? converted : withTick;
  }

  bool expired() const { return armed_ && Timebase::now() - start_ >= span_; }

  void waste(u64 intervalMicroseconds) const {
    u64 const wait = spanOf(intervalMicroseconds);
    u64 const begin = Timebase::now();
    for (;;) {
      u64 const elapsed = Timebase::now() - begin;
      if (elapsed >= wait) return;
      Waster::template wasteOnce<Timebase>(elapsed, wait);
    }
  }

  bool armed() const { return armed_; }
  u64 start() const { return start_; }
  u64 span() const { return span_; }

 private:
  bool armed_;
  u64 start_;
  u64 span_;
};

// Fraction of a second in units of 2^-64 s, seconds since 1904-01-01 UTC.
struct tTimestamp {
  u64 fraction;
  u64 seconds;
};

inline constexpr u64 kFractionPerMicrosecond = 18446744073709ull;  // floor(2^64 / 10^6)
inline constexpr u64 kSecondsFrom1904To1970 = 2082844800ull;

void readTimeOfDay(tTimestamp& timestamp);

}  // namespace qvrm7_driver::nQVWEND000
