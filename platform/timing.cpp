#include "platform/timing.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr u64 kMaxU64 = ~static_cast<u64>(0);

// Read without a lock by every thread, so every access is atomic.
constinit tTimebaseState gTimebase{};

bool timebaseReady() { return __atomic_load_n(&gTimebase.ready, __ATOMIC_ACQUIRE) != 0; }

void ensureTimebase() {
  if (!timebaseReady()) (void)initializeTimebase();
}

u64 loadTick(u64 const& tick) {
  ensureTimebase();
  return __atomic_load_n(&tick, __ATOMIC_RELAXED);
}

nQVWEND200_tTimeUnit loadUnit(u32 const& unit) {
  ensureTimebase();
  return static_cast<nQVWEND200_tTimeUnit>(__atomic_load_n(&unit, __ATOMIC_RELAXED));
}

}  // namespace

u64 convertTimeUnits(u64 value, nQVWEND200_tTimeUnit from, nQVWEND200_tTimeUnit to) {
  u32 unit = from;
  while (unit != to) {
    if (unit > to) {
      u64 const factor = unit > kTimeUnitSeconds ? 60 : 1000;
      value = value > kMaxU64 / factor ? kMaxU64 : value * factor;
      --unit;
      // Saturated or zero values stay so: no need to walk far-off units.
      if (value == kMaxU64 || value == 0) break;
    } else {
      value /= unit <= kTimeUnitMilliseconds ? 1000 : 60;
      ++unit;
      if (value == 0) break;
    }
  }
  return value;
}

u32 initializeTimebase() {
  __atomic_store_n(&gTimebase.efficientUnit, static_cast<u32>(kTimeUnitMicroseconds),
                   __ATOMIC_RELAXED);
  __atomic_store_n(&gTimebase.preciseUnit, static_cast<u32>(kTimeUnitNanoseconds),
                   __ATOMIC_RELAXED);
  u32 const interval = nQVZOR100_getTimerInterval();
  __atomic_store_n(&gTimebase.efficientTick, static_cast<u64>(interval), __ATOMIC_RELAXED);
  __atomic_store_n(&gTimebase.preciseTick,
                   convertTimeUnits(1, kTimeUnitNanoseconds, kTimeUnitNanoseconds),
                   __ATOMIC_RELAXED);
  __atomic_store_n(&gTimebase.ready, static_cast<u8>(1), __ATOMIC_RELEASE);
  return interval;
}

u64 efficientTimerCount() { return nQVZOR110_getTimerCount(); }

// Time-base readings wrap like the counters they come from: only differences
// of two readings are ever used.
u64 tTimebasePrecise::now() {
  u64 const tick = loadTick(gTimebase.preciseTick);
  return nQVZOR1_getMonotonicCounter() * tick;
}
u64 tTimebasePrecise::tickLength() { return loadTick(gTimebase.preciseTick); }
nQVWEND200_tTimeUnit tTimebasePrecise::unit() { return loadUnit(gTimebase.preciseUnit); }

u64 tTimebaseEfficient::now() {
  u64 const tick = loadTick(gTimebase.efficientTick);
  return efficientTimerCount() * tick;
}
u64 tTimebaseEfficient::tickLength() { return loadTick(gTimebase.efficientTick); }
nQVWEND200_tTimeUnit tTimebaseEfficient::unit() { return loadUnit(gTimebase.efficientUnit); }

void sleepRemainder(u64 elapsedNanoseconds, u64 waitNanoseconds) {
  u64 const remaining = elapsedNanoseconds >= waitNanoseconds ? 0 : waitNanoseconds - elapsedNanoseconds;
  u64 milliseconds = remaining / 1000000;
  // The layer takes 32-bit microseconds; a longer remainder is slept in
  // several goes rather than cut short by a wrap.
  constexpr u64 kMaxMilliseconds = 0xFFFFFFFFull / 1000;
  if (milliseconds > kMaxMilliseconds) milliseconds = kMaxMilliseconds;
  nQVZOR250_sleepTimeout(static_cast<u32>(milliseconds * 1000));
}

void readTimeOfDay(tTimestamp& timestamp) {
  u32 seconds = 0;
  u32 microseconds = 0;
  nQVZOR100_getTimeOfDay(&seconds, &microseconds);
  timestamp.fraction = static_cast<u64>(microseconds) * kFractionPerMicrosecond;
  timestamp.seconds = static_cast<u64>(seconds) + kSecondsFrom1904To1970;
}

}  // namespace qvrm7_driver::nQVWEND000
