#include "platform/synchronization.h"

#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kMutexCreateSite{"synchronization", 823};
constexpr StatusSite kRecordLockCreateSite{"synchronization", 1919};
constexpr StatusSite kBoundedWaitTimedOutSite{"synchronization", 186};
constexpr StatusSite kNothingSignalledSite{"synchronization", 2074};
constexpr StatusSite kWaitInterruptedSite{"synchronization", 2107};
constexpr StatusSite kBoundedWaitInterruptedSite{"synchronization", 2170};
constexpr StatusSite kSemaphoreFormUnsupportedSite{"tSemaphore", 255};

// What the bounded wait hands the layer's timeout callback.
struct tAbortContext {
  tWaitableRecord* record;
  tWaiter* waiter;
};

}  // namespace

u64 createSpinLock(tStatus& status, StatusSite site) {
  u64 const handle = nQVZOR100_createSpinLock();
  if (handle == 0) setStatus(status, kStatusMemoryFull, site);
  return handle;
}

void destroySpinLock(u64& handle) {
  if (handle == 0) return;
  nQVZOR100_destroySpinLock(handle);
  handle = 0;
}

// ---- Mutexes -------------------------------------------------------------

bool tKernelMutex::create(tStatus& status) {
  handle = nQVZOR150_createMutex();
  if (handle != 0) return true;
  setStatus(status, kStatusMemoryFull, kMutexCreateSite);
  return false;
}

void tKernelMutex::destroy() {
  if (handle == 0) return;
  nQVZOR150_destroyMutex(handle);
  handle = 0;
}

tMutex::tMutex(tStatus& status) : kernel_{}, owner_(0), depth_(0) { (void)kernel_.create(status); }

tMutex::~tMutex() { kernel_.destroy(); }

void tMutex::acquire() {
  // Only the owning thread can find its own handle in owner_, so reading it
  // before holding the kernel mutex decides re-entry correctly. A thread's
  // handle does not change while it waits for the mutex: one read serves.
  u64 const self = nQVZOR100_getThreadHandle();
  if (owner() != self) {
    kernel_.acquire();
    __atomic_store_n(&owner_, self, __ATOMIC_RELAXED);
  }
  ++depth_;
}

void tMutex::release() {
  // A release the caller does not hold would wrap the depth and leave the
  // mutex owned for ever, or take a level from another thread.
  if (owner() != nQVZOR100_getThreadHandle() || depth_ == 0) return;
  if (--depth_ != 0) return;
  __atomic_store_n(&owner_, static_cast<u64>(0), __ATOMIC_RELAXED);
  kernel_.release();
}

// ---- Waitable record -----------------------------------------------------

tWaiter::tWaiter() : links{&links, &links}, status{}, site{} {}

tWaitableRecord::tWaitableRecord()
    : autoConsume_(1), count_(0), savedState_(0), spinLock_(0), head_{&head_, &head_} {}

void tWaitableRecord::initialize(u8 autoConsume, u32 count) {
  autoConsume_ = autoConsume;
  setCountLocked(count);
  savedState_ = 0;
  spinLock_ = 0;
  head_.next = &head_;
  head_.previous = &head_;
}

bool tWaitableRecord::createLock(tStatus& status) {
  spinLock_ = createSpinLock(status, kRecordLockCreateSite);
  return spinLock_ != 0;
}

void tWaitableRecord::destroyLock() { destroySpinLock(spinLock_); }

void tWaitableRecord::lock() { savedState_ = nQVZOR110_acquireSpinLockInterrupt(spinLock_); }

void tWaitableRecord::unlock() { nQVZOR110_releaseSpinLockInterrupt(spinLock_, savedState_); }

void tWaitableRecord::append(tWaiter& waiter) {
  tListLinks* const last = head_.previous;
  waiter.links.next = &head_;
  waiter.links.previous = last;
  last->next = &waiter.links;
  head_.previous = &waiter.links;
}

void tWaitableRecord::unlink(tWaiter& waiter) {
  waiter.links.previous->next = waiter.links.next;
  waiter.links.next->previous = waiter.links.previous;
  waiter.links.next = &waiter.links;
  waiter.links.previous = &waiter.links;
}

bool tWaitableRecord::wakeFirstLocked() {
  if (!hasWaitersLocked()) return false;
  // links is the waiter's first member.
  tWaiter& first = *reinterpret_cast<tWaiter*>(head_.next);
  unlink(first);
  nQVZOR100_releaseSingleUseEvent(first.event);
  return true;
}

void tWaitableRecord::wakeAllLocked() {
  while (wakeFirstLocked()) {
  }
}

void tWaitableRecord::release() {
  lock();
  u32 const current = countLocked();
  if (current == 0) {
    // The release itself is the unit handed to the woken waiter.
    if (!wakeFirstLocked()) setCountLocked(1);
  } else {
    setCountLocked(current + 1);
    wakeAllLocked();
  }
  unlock();
}

// Run by the layer in the waiting thread when a bounded wait runs out.
void tWaitableRecord::abortWait(void* context) {
  tAbortContext& abort = *static_cast<tAbortContext*>(context);
  tWaitableRecord& record = *abort.record;
  tWaiter& waiter = *abort.waiter;
  record.lock();
  if (waiter.isQueued()) {
    unlink(waiter);
    setStatus(waiter.status, kStatusTimeout, kBoundedWaitTimedOutSite);
    waiter.site = kBoundedWaitTimedOutSite;
    nQVZOR100_releaseSingleUseEvent(waiter.event);
  }
  record.unlock();
}

bool tWaitableRecord::wait(u32 timeout, bool interruptible, tStatus& status) {
  if (status.isFatal()) return false;

  lock();
  u32 const current = countLocked();
  if (current != 0) {
    if (autoConsume_ != 0) setCountLocked(current - 1);
    unlock();
    return true;
  }
  if (timeout == 0) {
    unlock();
    setStatus(status, kStatusTimeout, kNothingSignalledSite);
    return false;
  }

  // No kernel wait may begin under the spin lock: queue first, then wait. A
  // release that lands in between is kept by the event.
  tWaiter waiter;
  nQVZOR100_initializeSingleUseEvent(waiter.event);
  append(waiter);
  unlock();

  // The abort function may still run on another context while this wait is
  // returning, so what it is handed lives as long as the waiter.
  tAbortContext abort{this, &waiter};
  nQVZOR100_tTimeoutCallback callback{&tWaitableRecord::abortWait, &abort};
  if (timeout == kWaitForever) {
    if (!interruptible) {
      nQVZOR100_waitForSingleUseEvent(waiter.event);
    } else if (nQVZOR100_waitForSingleUseEventInterruptible(waiter.event) < 0) {
      lock();
      if (waiter.isQueued()) {
        setStatus(status, kStatusInterrupted, kWaitInterruptedSite);
        unlink(waiter);
      }
      unlock();
      // No longer queued without our doing: the unit was handed over.
      if (status.isFatal()) return false;
    }
  } else {
    if (!interruptible) {
      (void)nQVZOR100_waitForSingleUseEventTimeout(waiter.event, timeout, &callback);
    } else if (nQVZOR100_waitForSingleUseEventTimeoutInterruptible(waiter.event, timeout,
                                                                   &callback) < 0) {
      lock();
      if (waiter.isQueued()) {
        setStatus(waiter.status, kStatusInterrupted, kBoundedWaitInterruptedSite);
        waiter.site = kBoundedWaitInterruptedSite;
        unlink(waiter);
      }
      unlock();
    }
  }

  // Whoever unlinked the waiter did so under the lock and may still be
  // touching its event: let them finish before the frame goes away.
  lock();
  unlock();

  if (waiter.status.isFatal()) {
    setStatus(status, waiter.status.code, waiter.site);
    return false;
  }
  return true;
}

// ---- Counting semaphore --------------------------------------------------

tSemaphore::tSemaphore(u32 initialCount, tStatus& status) {
  record_.initialize(1, initialCount);
  (void)record_.createLock(status);
}

tSemaphore::tSemaphore(u32 /*initialCount*/, uintptr_t /*attributes*/, u32 /*maximumCount*/,
                       tStatus& status) {
  record_.initialize(1, 0);
  setStatus(status, kStatusNotSupported, kSemaphoreFormUnsupportedSite);
}

tSemaphore::~tSemaphore() { record_.destroyLock(); }

void tSemaphore::wait() {
  tStatus local{};
  (void)record_.wait(kWaitForever, false, local);
}

}  // namespace qvrm7_driver::nQVWEND000
