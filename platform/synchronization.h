// Locks and waits built on the kernel services layer: the plain kernel mutex,
// the re-entrant tMutex, spin locks at interrupt and deferred-call level, and
// the waitable record (a count plus a first-in first-out queue of waiters,
// each parked on a single-use kernel event) behind tSemaphore and the device
// and session events.
#pragma once

#include "platform/kernelServices.h"
#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// A wait that never times out; 0 only tests the record.
inline constexpr u32 kWaitForever = 0xFFFFFFFFu;

// A spin lock from the layer; a refusal sets -52000 at the caller's site.
u64 createSpinLock(tStatus& status, StatusSite site);

// ---- Mutexes -------------------------------------------------------------

// A kernel mutex without re-entrancy: the trace's, and the one inside tMutex.
struct tKernelMutex {
  u64 handle = 0;

  // -52000 when the layer refuses; the handle then stays 0.
  bool create(tStatus& status);
  void acquire() { nQVZOR150_acquireMutex(handle); }
  void release() { nQVZOR150_releaseMutex(handle); }
  void destroy();
};

// Re-entrant: the owning thread may take it again; other threads block in the
// kernel mutex. Free when owner and depth are 0.
class tMutex {
 public:
  explicit tMutex(tStatus& status);
  ~tMutex();
  tMutex(tMutex const&) = delete;
  tMutex& operator=(tMutex const&) = delete;

  void acquire();
  // Gives back one level. A call from a thread that does not hold the mutex
  // (or at depth 0) changes nothing.
  void release();

  u64 kernelHandle() const { return kernel_.handle; }
  u64 owner() const { return __atomic_load_n(&owner_, __ATOMIC_RELAXED); }
  // Meaningful to the owner only.
  u32 depth() const { return depth_; }

 private:
  tKernelMutex kernel_;
  u64 owner_;  // read by every thread that tries to take the mutex
  u32 depth_;  // changed only by the owner
};

// Holds a tMutex for one scope.
class tMutexGuard {
 public:
  explicit tMutexGuard(tMutex& mutex) : mutex_(mutex) { mutex_.acquire(); }
  ~tMutexGuard() { mutex_.release(); }
  tMutexGuard(tMutexGuard const&) = delete;
  tMutexGuard& operator=(tMutexGuard const&) = delete;

 private:
  tMutex& mutex_;
};

// ---- Spin locks ----------------------------------------------------------

// Interrupt level: the saved state is kept beside the handle while the lock is
// held, so one pair must never be taken twice at once.
struct tInterruptSpinLock {
  u64 handle = 0;
  u64 savedState = 0;

  void acquire() { savedState = nQVZOR110_acquireSpinLockInterrupt(handle); }
  void release() { nQVZOR110_releaseSpinLockInterrupt(handle, savedState); }
};

// Deferred-call level.
struct tDeferredSpinLock {
  u64 handle = 0;

  void acquire() { nQVZOR100_acquireSpinLockDPC(handle); }
  void release() { nQVZOR100_releaseSpinLockDPC(handle); }
};

// Destroys the lock when there is one and clears the handle.
void destroySpinLock(u64& handle);

// ---- Waitable record -----------------------------------------------------

struct tListLinks {
  tListLinks* next;
  tListLinks* previous;
};

// One waiting thread, in that thread's own frame for the time of one wait.
struct tWaiter {
  tListLinks links;  // first: the record's list holds tWaiter through these
  alignas(8) unsigned char event[kQVZORSingleUseEventSize];
  tStatus status;
  StatusSite site;  // of the code in status, carried to the caller's status

  tWaiter();
  tWaiter(tWaiter const&) = delete;
  tWaiter& operator=(tWaiter const&) = delete;

  // Unlinking points both links back at the waiter itself.
  bool isQueued() const { return links.next != &links; }
};

class tWaitableRecord {
 public:
  tWaitableRecord();
  tWaitableRecord(tWaitableRecord const&) = delete;
  tWaitableRecord& operator=(tWaitableRecord const&) = delete;

  // Fields only: the spin lock is made separately, since some owners make it
  // only while their status is clean.
  void initialize(u8 autoConsume, u32 count);
  // -52000 (line 1919) when the layer refuses.
  bool createLock(tStatus& status);
  void destroyLock();

  void lock();
  void unlock();

  // Only under the lock.
  u32 countLocked() const { return count(); }
  void setCountLocked(u32 count) { __atomic_store_n(&count_, count, __ATOMIC_RELAXED); }
  bool hasWaitersLocked() const { return head_.next != &head_; }
  // Unlinks the oldest waiter and releases its event; false when none.
  bool wakeFirstLocked();
  // Unlinks and releases every waiter, oldest first.
  void wakeAllLocked();

  // Takes one unit or waits for one. timeout is in the layer's unit: 0 only
  // tests (-52007 when nothing is signalled), kWaitForever has no bound, any
  // other value bounds the wait (-52007 when it runs out). An interrupted
  // wait reports -52025. True when a unit was taken.
  bool wait(u32 timeout, bool interruptible, tStatus& status);

  // The counting semaphore's release: one unit, or one waiter woken.
  void release();

  // May be read by any thread; exact only under the lock.
  u32 count() const { return __atomic_load_n(&count_, __ATOMIC_RELAXED); }
  u8 autoConsume() const { return autoConsume_; }
  u64 spinLockHandle() const { return spinLock_; }

 private:
  void append(tWaiter& waiter);
  static void unlink(tWaiter& waiter);
  static void abortWait(void* context);

  u8 autoConsume_;
  u32 count_;
  u64 savedState_;
  u64 spinLock_;
  tListLinks head_;  // next = oldest waiter, previous = newest
};

// ---- Counting semaphore --------------------------------------------------

class tSemaphore {
 public:
  // Makes its spin lock even when the caller's status already holds an error.
  tSemaphore(u32 initialCount, tStatus& status);
  // Not supported here: reports -52002 and leaves a semaphore without a lock.
  tSemaphore(u32 initialCount, uintptr_t attributes, u32 maximumCount, tStatus& status);
  ~tSemaphore();
  tSemaphore(tSemaphore const&) = delete;
  tSemaphore& operator=(tSemaphore const&) = delete;

  void release() { record_.release(); }
  // Returns once a unit was taken.
  void wait();
  bool waitWithTimeout(u32 timeout, bool interruptible, tStatus& status) {
    return record_.wait(timeout, interruptible, status);
  }

  u32 count() const { return record_.count(); }
  tWaitableRecord& record() { return record_; }

 private:
  tWaitableRecord record_;
};

}  // namespace qvrm7_driver::nQVWEND000
