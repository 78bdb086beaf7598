// Stand-in locks, threads and single-use events.
//
// A kernel mutex or spin lock is a heap object whose address is the handle.
// A single-use event lives entirely in the caller's 64 bytes (there is no
// destroy call): a state word and a marker. Waiters sleep on one of a fixed
// set of mutex and condition-variable buckets chosen by the event's address.
//
// The layer adds as little synchronisation of its own as it can (relaxed
// counters, no global lock on the lock paths), so that ThreadSanitizer still
// sees races in the driver rather than edges made by the stand-in.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>
#include <utility>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "host/layer/syncInternal.h"
#include "platform/kernelServices.h"

namespace sim {
namespace {

// ---- Threads ------------------------------------------------------------------

struct ThreadState {
  uint64_t handle = 0;
  uint32_t id = 0;
  std::atomic<bool> interruptPending{false};
};

struct ThreadRegistry {
  std::mutex mutex;
  std::unordered_map<uint64_t, ThreadState*> byHandle;
  std::atomic<uint64_t> next{1};
};

// Never destroyed: threads may end after static destruction has begun.
ThreadRegistry& registry() {
  static ThreadRegistry* const instance = new ThreadRegistry;
  return *instance;
}

struct ThreadSlot {
  ThreadState state;
  ThreadSlot() {
    ThreadRegistry& r = registry();
    uint64_t const n = r.next.fetch_add(1, std::memory_order_relaxed);
    // Handles look like addresses and differ from IDs, so a driver that mixes
    // the two is caught.
    state.handle = 0x7f5100000000ull + n * 0x40;
    state.id = static_cast<uint32_t>(n);
    std::lock_guard<std::mutex> guard(r.mutex);
    r.byHandle[state.handle] = &state;
  }
  ~ThreadSlot() {
    ThreadRegistry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    r.byHandle.erase(state.handle);
  }
};

ThreadState& self() {
  thread_local ThreadSlot slot;
  return slot.state;
}

thread_local uint32_t tSpinLocksHeld = 0;

// ---- Mutexes and spin locks ------------------------------------------------

constexpr uint64_t kMutexMarker = 0x4d7574657851564dull;
constexpr uint64_t kSpinMarker = 0x5370696e51564d37ull;

struct KernelMutex {
  uint64_t marker = kMutexMarker;
  std::mutex mutex;
  std::atomic<uint64_t> owner{0};
  std::atomic<uint64_t> acquires{0};
  std::atomic<uint64_t> releases{0};
};

enum class SpinLevel { none, interrupt, deferred };

struct SpinLock {
  uint64_t marker = kSpinMarker;
  std::mutex mutex;
  std::atomic<uint64_t> holder{0};
  SpinLevel level = SpinLevel::none;  // written by the holder only
  uint64_t savedState = 0;
};

std::atomic<uint64_t> gLiveMutexes{0};
std::atomic<uint64_t> gLiveSpinLocks{0};
std::atomic<uint64_t> gNextSavedState{0x1000};

KernelMutex& mutexAt(uint64_t handle, char const* import) {
  if (handle == 0) detail::layerFault(import, "null mutex handle");
  auto* m = reinterpret_cast<KernelMutex*>(handle);
  if (m->marker != kMutexMarker) detail::layerFault(import, "not a live mutex handle");
  return *m;
}

SpinLock& spinAt(uint64_t handle, char const* import) {
  if (handle == 0) detail::layerFault(import, "null spin-lock handle");
  auto* s = reinterpret_cast<SpinLock*>(handle);
  if (s->marker != kSpinMarker) detail::layerFault(import, "not a live spin-lock handle");
  return *s;
}

void spinAcquire(SpinLock& lock, SpinLevel level, char const* import) {
  uint64_t const me = self().handle;
  if (lock.holder.load(std::memory_order_relaxed) == me)
    detail::layerFault(import, "spin lock taken again by the thread that holds it");
  lock.mutex.lock();
  lock.holder.store(me, std::memory_order_relaxed);
  lock.level = level;
  ++tSpinLocksHeld;
}

void spinRelease(SpinLock& lock, SpinLevel level, char const* import) {
  if (lock.holder.load(std::memory_order_relaxed) != self().handle)
    detail::layerFault(import, "spin lock released by a thread that does not hold it");
  if (lock.level != level) detail::layerFault(import, "spin lock released at another level");
  lock.level = SpinLevel::none;
  lock.holder.store(0, std::memory_order_relaxed);
  --tSpinLocksHeld;
  lock.mutex.unlock();
}

// ---- Single-use events -----------------------------------------------------

constexpr uint32_t kEventMarker = 0x51e7e417u;

struct EventWord {
  std::atomic<uint32_t> released;
  uint32_t marker;
};
static_assert(sizeof(EventWord) <= kQVZORSingleUseEventSize);
static_assert(alignof(EventWord) <= 8);

struct Bucket {
  std::mutex mutex;
  std::condition_variable wake;
};
constexpr size_t kBuckets = 64;

Bucket* buckets() {
  static Bucket* const instance = new Bucket[kBuckets];
  return instance;
}

Bucket& bucketFor(void const* event) {
  auto const address = reinterpret_cast<uintptr_t>(event);
  return buckets()[((address >> 6) ^ (address >> 14)) % kBuckets];
}

void wakeEveryBucket() {
  Bucket* const all = buckets();
  for (size_t i = 0; i < kBuckets; ++i) {
    std::lock_guard<std::mutex> guard(all[i].mutex);
    all[i].wake.notify_all();
  }
}

EventWord& eventAt(void* event, char const* import) {
  if (event == nullptr) detail::layerFault(import, "null event");
  if (reinterpret_cast<uintptr_t>(event) % alignof(EventWord) != 0)
    detail::layerFault(import, "misaligned event storage");
  auto* word = static_cast<EventWord*>(event);
  if (word->marker != kEventMarker) detail::layerFault(import, "event was never initialised");
  return *word;
}

std::atomic<uint64_t> gBlocked{0};
// Waiters whose deadline is on the virtual clock: while there are none,
// moving the clock need not wake anyone.
std::atomic<uint64_t> gVirtualDeadlineWaiters{0};

enum class Outcome { released, timedOut, interrupted };

std::mutex gHookMutex;
std::function<void()> gWaitEndHook;
std::atomic<bool> gWaitEndHookSet{false};  // spares every other wait the lock

void runWaitEndHook() {
  if (!gWaitEndHookSet.load()) return;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> guard(gHookMutex);
    hook = gWaitEndHook;
  }
  if (hook) hook();
}

Outcome waitForEvent(void* event, char const* import, bool interruptible, bool bounded,
                     uint32_t timeoutMilliseconds) {
  detail::requireNoSpinLock(import);
  EventWord& word = eventAt(event, import);
  ThreadState& me = self();
  Bucket& bucket = bucketFor(event);

  std::unique_lock<std::mutex> lock(bucket.mutex);
  bool const onVirtualClock = bounded && detail::clockIsVirtual();
  uint64_t virtualDeadline = 0;
  std::chrono::steady_clock::time_point realDeadline{};
  if (bounded) {
    uint64_t const span = uint64_t{timeoutMilliseconds} * 1000000u;
    if (onVirtualClock) {
      gVirtualDeadlineWaiters.fetch_add(1);
      uint64_t const now = detail::virtualClockPeek();
      virtualDeadline = now + span < now ? UINT64_MAX : now + span;
    } else {
      realDeadline = std::chrono::steady_clock::now() + std::chrono::nanoseconds(span);
    }
  }

  Outcome outcome;
  bool counted = false;
  for (;;) {
    if (word.released.load(std::memory_order_acquire) != 0) {
      outcome = Outcome::released;
      break;
    }
    if (interruptible && me.interruptPending.exchange(false)) {
      outcome = Outcome::interrupted;
      break;
    }
    if (bounded && (onVirtualClock ? detail::virtualClockPeek() >= virtualDeadline
                                   : std::chrono::steady_clock::now() >= realDeadline)) {
      outcome = Outcome::timedOut;
      break;
    }
    if (!counted) {
      gBlocked.fetch_add(1, std::memory_order_relaxed);
      counted = true;
    }
    if (bounded && !onVirtualClock)
      bucket.wake.wait_until(lock, realDeadline);
    else
      bucket.wake.wait(lock);
  }
  if (counted) gBlocked.fetch_sub(1, std::memory_order_relaxed);
  if (onVirtualClock) gVirtualDeadlineWaiters.fetch_sub(1);
  lock.unlock();
  if (outcome != Outcome::released) runWaitEndHook();
  return outcome;
}

// Whatever failure code a test chose, an interrupted wait must read as one.
int32_t interruptedCode(char const* import) {
  int32_t const code = detail::failureCode(import);
  return code < 0 ? code : -1;
}

int32_t boundedWait(void* event, uint32_t timeout, nQVZOR100_tTimeoutCallback* callback,
                    char const* import, bool interruptible) {
  if (callback == nullptr || callback->function == nullptr)
    detail::layerFault(import, "bounded wait without a timeout callback");
  Outcome const outcome = waitForEvent(event, import, interruptible, true, timeout);
  if (outcome == Outcome::interrupted) return -1;
  if (outcome == Outcome::released) return 0;
  // In the waiting thread, before returning, and never afterwards: the
  // callback's context lives in the waiter's frame.
  callback->function(callback->context);
  return 1;
}

}  // namespace

// ---- Internal ----------------------------------------------------------------

namespace detail {

void layerFault(char const* import, char const* what) {
  std::fprintf(stderr, "qvrm7 layer: %s: %s\n", import, what);
  std::fflush(stderr);
  std::abort();
}

void requireNoSpinLock(char const* import) {
  if (tSpinLocksHeld != 0) layerFault(import, "sleeping call while this thread holds a spin lock");
}

void notifyClockMoved() {
  if (gVirtualDeadlineWaiters.load() != 0) wakeEveryBucket();
}

}  // namespace detail

// ---- Controls ----------------------------------------------------------------

uint64_t blockedWaiters() { return gBlocked.load(std::memory_order_relaxed); }

bool waitUntilBlocked(uint64_t n, uint64_t timeoutMilliseconds) {
  auto const limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (blockedWaiters() < n) {
    if (std::chrono::steady_clock::now() >= limit) return false;
    std::this_thread::yield();
  }
  return true;
}

void setWaitEndHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> guard(gHookMutex);
  gWaitEndHookSet.store(static_cast<bool>(hook));
  gWaitEndHook = std::move(hook);
}

bool interruptThread(uint64_t threadHandle) {
  {
    ThreadRegistry& r = registry();
    std::lock_guard<std::mutex> guard(r.mutex);
    auto const found = r.byHandle.find(threadHandle);
    if (found == r.byHandle.end()) return false;
    found->second->interruptPending.store(true);
  }
  wakeEveryBucket();
  return true;
}

void detail::clearPendingInterrupts() {
  ThreadRegistry& r = registry();
  std::lock_guard<std::mutex> guard(r.mutex);
  for (auto& entry : r.byHandle) entry.second->interruptPending.store(false);
}

uint64_t liveMutexes() { return gLiveMutexes.load(std::memory_order_relaxed); }
uint64_t liveSpinLocks() { return gLiveSpinLocks.load(std::memory_order_relaxed); }
uint64_t mutexAcquireCount(uint64_t mutex) {
  return mutexAt(mutex, "mutexAcquireCount").acquires.load(std::memory_order_relaxed);
}
uint64_t mutexReleaseCount(uint64_t mutex) {
  return mutexAt(mutex, "mutexReleaseCount").releases.load(std::memory_order_relaxed);
}
uint32_t spinLocksHeldByThisThread() { return tSpinLocksHeld; }

}  // namespace sim

// ---- Imports -----------------------------------------------------------------

using sim::detail::enterImport;
using sim::detail::layerFault;

extern "C" {

uint64_t nQVZOR150_createMutex(void) {
  if (enterImport("nQVZOR150_createMutex")) return 0;
  auto* m = new (std::nothrow) sim::KernelMutex;
  if (m == nullptr) return 0;
  sim::gLiveMutexes.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<uint64_t>(m);
}

void nQVZOR150_acquireMutex(uint64_t mutex) {
  char const* const import = "nQVZOR150_acquireMutex";
  (void)enterImport(import);
  sim::detail::requireNoSpinLock(import);
  sim::KernelMutex& m = sim::mutexAt(mutex, import);
  uint64_t const me = sim::self().handle;
  if (m.owner.load(std::memory_order_relaxed) == me)
    layerFault(import, "mutex taken again by the thread that holds it");
  m.mutex.lock();
  m.owner.store(me, std::memory_order_relaxed);
  m.acquires.fetch_add(1, std::memory_order_relaxed);
}

void nQVZOR150_releaseMutex(uint64_t mutex) {
  char const* const import = "nQVZOR150_releaseMutex";
  (void)enterImport(import);
  sim::KernelMutex& m = sim::mutexAt(mutex, import);
  if (m.owner.load(std::memory_order_relaxed) != sim::self().handle)
    layerFault(import, "mutex released by a thread that does not hold it");
  m.owner.store(0, std::memory_order_relaxed);
  m.releases.fetch_add(1, std::memory_order_relaxed);
  m.mutex.unlock();
}

void nQVZOR150_destroyMutex(uint64_t mutex) {
  char const* const import = "nQVZOR150_destroyMutex";
  (void)enterImport(import);
  if (mutex == 0) return;
  sim::KernelMutex& m = sim::mutexAt(mutex, import);
  if (m.owner.load(std::memory_order_relaxed) != 0) layerFault(import, "mutex destroyed while held");
  m.marker = 0;
  delete &m;
  sim::gLiveMutexes.fetch_sub(1, std::memory_order_relaxed);
}

uint64_t nQVZOR100_createSpinLock(void) {
  if (enterImport("nQVZOR100_createSpinLock")) return 0;
  auto* s = new (std::nothrow) sim::SpinLock;
  if (s == nullptr) return 0;
  sim::gLiveSpinLocks.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<uint64_t>(s);
}

void nQVZOR100_destroySpinLock(uint64_t spinLock) {
  char const* const import = "nQVZOR100_destroySpinLock";
  (void)enterImport(import);
  if (spinLock == 0) return;
  sim::SpinLock& s = sim::spinAt(spinLock, import);
  if (s.holder.load(std::memory_order_relaxed) != 0) layerFault(import, "spin lock destroyed while held");
  s.marker = 0;
  delete &s;
  sim::gLiveSpinLocks.fetch_sub(1, std::memory_order_relaxed);
}

uint64_t nQVZOR110_acquireSpinLockInterrupt(uint64_t spinLock) {
  char const* const import = "nQVZOR110_acquireSpinLockInterrupt";
  (void)enterImport(import);
  sim::SpinLock& s = sim::spinAt(spinLock, import);
  sim::spinAcquire(s, sim::SpinLevel::interrupt, import);
  s.savedState = sim::gNextSavedState.fetch_add(1, std::memory_order_relaxed);
  return s.savedState;
}

void nQVZOR110_releaseSpinLockInterrupt(uint64_t spinLock, uint64_t savedState) {
  char const* const import = "nQVZOR110_releaseSpinLockInterrupt";
  (void)enterImport(import);
  sim::SpinLock& s = sim::spinAt(spinLock, import);
  // The state must come back unchanged from the acquire that returned it.
  if (s.holder.load(std::memory_order_relaxed) == sim::self().handle && savedState != s.savedState)
    layerFault(import, "saved state is not the one its acquire returned");
  sim::spinRelease(s, sim::SpinLevel::interrupt, import);
}

void nQVZOR100_acquireSpinLockDPC(uint64_t spinLock) {
  char const* const import = "nQVZOR100_acquireSpinLockDPC";
  (void)enterImport(import);
  sim::spinAcquire(sim::spinAt(spinLock, import), sim::SpinLevel::deferred, import);
}

void nQVZOR100_releaseSpinLockDPC(uint64_t spinLock) {
  char const* const import = "nQVZOR100_releaseSpinLockDPC";
  (void)enterImport(import);
  sim::spinRelease(sim::spinAt(spinLock, import), sim::SpinLevel::deferred, import);
}

uint64_t nQVZOR100_getThreadHandle(void) {
  (void)enterImport("nQVZOR100_getThreadHandle");
  return sim::self().handle;
}

uint32_t nQVZOR100_getThreadID(void) {
  (void)enterImport("nQVZOR100_getThreadID");
  return sim::self().id;
}

void nQVZOR100_initializeSingleUseEvent(void* event) {
  char const* const import = "nQVZOR100_initializeSingleUseEvent";
  (void)enterImport(import);
  if (event == nullptr) layerFault(import, "null event");
  if (reinterpret_cast<uintptr_t>(event) % alignof(sim::EventWord) != 0)
    layerFault(import, "misaligned event storage");
  auto* word = ::new (event) sim::EventWord;
  word->released.store(0, std::memory_order_relaxed);
  word->marker = sim::kEventMarker;
}

void nQVZOR100_releaseSingleUseEvent(void* event) {
  char const* const import = "nQVZOR100_releaseSingleUseEvent";
  (void)enterImport(import);
  sim::EventWord& word = sim::eventAt(event, import);
  sim::Bucket& bucket = sim::bucketFor(event);
  std::lock_guard<std::mutex> guard(bucket.mutex);
  // Latches: a wait that begins later returns at once.
  word.released.store(1, std::memory_order_release);
  bucket.wake.notify_all();
}

void nQVZOR100_waitForSingleUseEvent(void* event) {
  char const* const import = "nQVZOR100_waitForSingleUseEvent";
  (void)enterImport(import);
  (void)sim::waitForEvent(event, import, false, false, 0);
}

int32_t nQVZOR100_waitForSingleUseEventInterruptible(void* event) {
  char const* const import = "nQVZOR100_waitForSingleUseEventInterruptible";
  // An injected failure is an interruption.
  if (enterImport(import)) {
    sim::runWaitEndHook();
    return sim::interruptedCode(import);
  }
  return sim::waitForEvent(event, import, true, false, 0) == sim::Outcome::interrupted ? -1 : 0;
}

int32_t nQVZOR100_waitForSingleUseEventTimeout(void* event, uint32_t timeout,
                                               nQVZOR100_tTimeoutCallback* callback) {
  char const* const import = "nQVZOR100_waitForSingleUseEventTimeout";
  // An injected failure is a wait whose time is already up.
  if (enterImport(import)) return sim::boundedWait(event, 0, callback, import, false);
  return sim::boundedWait(event, timeout, callback, import, false);
}

int32_t nQVZOR100_waitForSingleUseEventTimeoutInterruptible(void* event, uint32_t timeout,
                                                            nQVZOR100_tTimeoutCallback* callback) {
  char const* const import = "nQVZOR100_waitForSingleUseEventTimeoutInterruptible";
  if (enterImport(import)) {
    sim::runWaitEndHook();
    return sim::interruptedCode(import);
  }
  return sim::boundedWait(event, timeout, callback, import, true);
}

}  // extern "C"
