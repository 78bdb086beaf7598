// Stand-in clocks: the real monotonic clock by default, or a virtual one that
// only tests (and sleeps) move.

#include <time.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "host/layer/syncInternal.h"
#include "platform/kernelServices.h"

namespace sim {
namespace {

constexpr uint32_t kDefaultTimerInterval = 4000;  // 250 ticks a second
constexpr size_t kSleepLogLimit = 1u << 20;

std::atomic<bool> gVirtual{false};
std::atomic<uint64_t> gVirtualNanoseconds{0};
std::atomic<uint64_t> gAutoAdvance{0};
std::atomic<uint32_t> gTimerInterval{kDefaultTimerInterval};
// Bumped by every clock control: a spin never runs across one.
std::atomic<uint64_t> gClockControls{0};

// The calling thread's last clock read and how long its spin has lasted.
struct SpinState {
  uint64_t imports = 0;
  uint64_t controls = 0;
  uint64_t reads = 0;
};
thread_local SpinState tSpin;

std::mutex gSleepLogMutex;
std::vector<uint32_t> gSleepLog;

uint64_t readRealClock(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void clockControlled() { gClockControls.fetch_add(1); }

// How far this read of a spin moves the clock: the k-th read, k nanoseconds.
// The import that called us has already been counted.
uint64_t spinStep() {
  uint64_t const imports = detail::importsOfThisThread();
  uint64_t const controls = gClockControls.load();
  bool const spinning = imports == tSpin.imports + 1 && controls == tSpin.controls;
  tSpin.reads = spinning ? tSpin.reads + 1 : 0;
  tSpin.imports = imports;
  tSpin.controls = controls;
  return tSpin.reads;
}

// A read of the monotonic counter or the timer count: on the virtual clock it
// moves time on by the set step, or else by the spin's step, after the read.
uint64_t readClock() {
  if (!gVirtual.load()) return readRealClock(CLOCK_MONOTONIC);
  uint64_t step = gAutoAdvance.load(std::memory_order_relaxed);
  uint64_t const spin = spinStep();
  if (step == 0) step = spin;
  if (step == 0) return gVirtualNanoseconds.load();
  uint64_t const before = gVirtualNanoseconds.fetch_add(step);
  detail::notifyClockMoved();
  return before;
}

}  // namespace

namespace detail {
bool clockIsVirtual() { return gVirtual.load(); }
uint64_t virtualClockPeek() { return gVirtualNanoseconds.load(); }
}  // namespace detail

void useVirtualClock(uint64_t startNanoseconds) {
  clockControlled();
  gVirtualNanoseconds.store(startNanoseconds);
  gVirtual.store(true);
}

void useRealClock() {
  clockControlled();
  gVirtual.store(false);
  gAutoAdvance.store(0);
}

bool virtualClockInUse() { return gVirtual.load(); }

void advanceClock(uint64_t nanoseconds) {
  clockControlled();
  gVirtualNanoseconds.fetch_add(nanoseconds);
  detail::notifyClockMoved();
}

void setAutoAdvance(uint64_t nanosecondsPerRead) {
  clockControlled();
  gAutoAdvance.store(nanosecondsPerRead);
}

uint64_t virtualNow() { return gVirtualNanoseconds.load(); }

void setTimerInterval(uint32_t microseconds) {
  gTimerInterval.store(microseconds == 0 ? 1 : microseconds);
}

std::vector<uint32_t> sleepLog() {
  std::lock_guard<std::mutex> guard(gSleepLogMutex);
  return gSleepLog;
}

void clearSleepLog() {
  std::lock_guard<std::mutex> guard(gSleepLogMutex);
  gSleepLog.clear();
}

void resetSyncControls() {
  useRealClock();
  gVirtualNanoseconds.store(0);
  gTimerInterval.store(kDefaultTimerInterval);
  clearSleepLog();
  detail::clearPendingInterrupts();
  setWaitEndHook(nullptr);
}

}  // namespace sim

using sim::detail::enterImport;

extern "C" {

uint64_t nQVZOR1_getMonotonicCounter(void) {
  (void)enterImport("nQVZOR1_getMonotonicCounter");
  return sim::readClock();
}

uint64_t nQVZOR110_getTimerCount(void) {
  (void)enterImport("nQVZOR110_getTimerCount");
  return sim::readClock() / (uint64_t{sim::gTimerInterval.load()} * 1000u);
}

uint32_t nQVZOR100_getTimerInterval(void) {
  (void)enterImport("nQVZOR100_getTimerInterval");
  return sim::gTimerInterval.load();
}

void nQVZOR250_sleepTimeout(uint32_t microseconds) {
  char const* const import = "nQVZOR250_sleepTimeout";
  (void)enterImport(import);
  sim::detail::requireNoSpinLock(import);
  {
    std::lock_guard<std::mutex> guard(sim::gSleepLogMutex);
    if (sim::gSleepLog.size() < sim::kSleepLogLimit) sim::gSleepLog.push_back(microseconds);
  }
  if (sim::gVirtual.load()) {
    // Even a zero-length sleep lets some time pass, as it does on a real
    // clock; otherwise a caller sleeping off a sub-millisecond remainder
    // would wait on a clock that never moves.
    sim::advanceClock(microseconds == 0 ? 1000u : uint64_t{microseconds} * 1000u);
  } else if (microseconds == 0) {
    std::this_thread::yield();
  } else {
    timespec pause{static_cast<time_t>(microseconds / 1000000u),
                   static_cast<long>(microseconds % 1000000u) * 1000};
    while (nanosleep(&pause, &pause) != 0) {
    }
  }
}

void nQVZOR100_getTimeOfDay(uint32_t* seconds, uint32_t* microseconds) {
  (void)enterImport("nQVZOR100_getTimeOfDay");
  uint64_t const now = sim::gVirtual.load() ? sim::gVirtualNanoseconds.load()
                                            : sim::readRealClock(CLOCK_REALTIME);
  if (seconds != nullptr) *seconds = static_cast<uint32_t>(now / 1000000000u);
  if (microseconds != nullptr) *microseconds = static_cast<uint32_t>(now % 1000000000u / 1000u);
}

}  // extern "C"
