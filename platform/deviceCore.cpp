#include "platform/deviceCore.h"

#include "platform/debugPrint.h"
#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/session.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kIOControlUnsupportedSite{"tDeviceCore", 82};
constexpr StatusSite kOpenUnsupportedSite{"tDeviceCore", 115};
constexpr StatusSite kTransferAUnsupportedSite{"tDeviceCore", 143};
constexpr StatusSite kTransferBUnsupportedSite{"tDeviceCore", 157};
constexpr StatusSite kMapUnsupportedSite{"tDeviceCore", 172};
constexpr StatusSite kTransitionRefusedSite{"tDeviceCore", 364};
constexpr StatusSite kGateClosedSite{"tDeviceCore", 446};
constexpr StatusSite kGateNotPassingSite{"tDeviceCore", 501};
constexpr StatusSite kSessionClosingSite{"tDeviceCore", 520};
constexpr StatusSite kAsyncLockCreateSite{"synchronization", 1083};

void initializeList(tListLinks& head) {
  head.next = &head;
  head.previous = &head;
}

void append(tListLinks& head, tListLinks& links) {
  tListLinks* const last = head.previous;
  links.next = &head;
  links.previous = last;
  last->next = &links;
  head.previous = &links;
}

void unlink(tListLinks& links) {
  links.previous->next = links.next;
  links.next->previous = links.previous;
  links.next = &links;
  links.previous = &links;
}

}  // namespace

char const* pnpStateName(i32 state) {
  switch (state) {
    case kPnPStateNotStarted:
      return "kPnPStateNotStarted";
    case kPnPStateReady:
      return "kPnPStateReady";
    case kPnPStateIOSuspended:
      return "kPnPStateIOSuspended";
    case kPnPStateSleep:
      return "kPnPStateSleep";
    case kPnPStateNotPresent:
      return "kPnPStateNotPresent";
    default:
      return "invalid";
  }
}

// ---- Device events ---------------------------------------------------------

namespace {

void signalEventLocked(tWaitableRecord& event) {
  if (event.countLocked() != 0) return;
  if (event.autoConsume() != 0) {
    if (!event.wakeFirstLocked()) event.setCountLocked(1);
  } else {
    event.setCountLocked(1);
    event.wakeAllLocked();
  }
}

// How a count inside the gate (platform/ioCount.h) is dropped and waited
// for, such that whoever frees the count's owner once it reads 0 (close
// destroying a session, remove destroying a device) never frees what a
// releasing thread still uses, and a release that is not awaited takes no
// lock:
// - The waiter adds itself to the word before it looks at the count, and
//   once it has seen 0 it takes the event's lock (signalEvent) before it
//   goes on to free anything.
// - A release that leaves the count above 0, or takes it to 0 while no
//   waiter is in the word, is one compare-exchange, and touches nothing of
//   the owner afterwards.
// - A release that would take the count to 0 while a waiter is in the word
//   drops it under the event's lock and signals there.
// Every access to the word is sequentially consistent and read-modify-write
// where it changes, so the waiter's addition and the last release's
// exchange fall one before the other in the word's modification order. When
// the exchange comes first, the waiter's addition returns a count of 0 and
// it never sleeps; the releaser is done with the owner at its exchange.
// When the addition comes first, the exchange, which expected a word
// without waiters, fails and the release takes the locked path; the waiter
// can then see 0 only after a decrement made under the lock, so its own
// acquisition of the lock follows the releaser's unlock.
//
// The locked path is a function of its own so that the common one, inlined
// into the gate, needs no frame.
[[gnu::noinline, gnu::cold]] void releaseAwaited(qvatomicop::Integer<unsigned int>& count,
                                                 tWaitableRecord& event) {
  event.lock();
  if ((count.decrement() & kIOCountMask) == 0) signalEventLocked(event);
  event.unlock();
}

inline void releaseCount(qvatomicop::Integer<unsigned int>& count, tWaitableRecord& event) {
  u32 word = count.getValue();
  do {
    // A count of 1 in any word but 1 has a waiter beside it.
    if (word != 1 && (word & kIOCountMask) == 1) return releaseAwaited(count, event);
  } while (!count.compareExchange(word, word - 1));
}

// Returns once the count is 0 or the status failed. The event is signalled
// on the way out whatever the wait did, so that the next waiter finds it
// signalled (a release only signals an awaited count) and so that a last
// release under its lock is done before the caller goes on.
void awaitZero(qvatomicop::Integer<unsigned int>& count, tWaitableRecord& event, u32 timeout,
               bool interruptible, tStatus& status) {
  count.add(kIOWaiterUnit);
  do {
    if (status.isFatal()) break;
    (void)waitDeviceEvent(event, timeout, interruptible, status);
  } while ((count.getValue() & kIOCountMask) != 0);
  signalEvent(event);
  count.subtract(kIOWaiterUnit);
}

}  // namespace

void signalEvent(tWaitableRecord& event) {
  event.lock();
  signalEventLocked(event);
  event.unlock();
}

bool waitDeviceEvent(tWaitableRecord& event, u32 timeout, bool interruptible, tStatus& status) {
  return event.wait(timeout, interruptible, status);
}

// ---- Pending requests ------------------------------------------------------

tPendingRequest::tPendingRequest()
    : tPendingRequestLinks{{&deviceLinks, &deviceLinks}, {&sessionLinks, &sessionLinks}},
      requestStatus{},
      requestDevice(nullptr),
      requestSession(nullptr),
      queued(0),
      cancelTried(0),
      completed(0) {}

tPendingRequest::~tPendingRequest() = default;

void tPendingRequest::operator delete(void* object) { operatorDelete(object); }

tPendingRequest* tPendingRequest::fromDeviceLinks(tListLinks* links) {
  // deviceLinks is the first member of the standard-layout links base.
  return static_cast<tPendingRequest*>(reinterpret_cast<tPendingRequestLinks*>(links));
}

tPendingRequest* tPendingRequest::fromSessionLinks(tListLinks* links) {
  auto* const base = reinterpret_cast<tPendingRequestLinks*>(
      reinterpret_cast<char*>(links) - offsetof(tPendingRequestLinks, sessionLinks));
  return static_cast<tPendingRequest*>(base);
}

// ---- Construction ----------------------------------------------------------

tDeviceCore::tDeviceCore(tStatus& status)
    : pnpState_(kPnPStateNotStarted),
      previousPnPState_(kPnPStateNotStarted),
      openSessions_(0),
      activeIO_(0),
      ioGateState_(kIOGateRefuse),
      reserved_(1) {
  if (status.isNotFatal()) asyncIOLock_.handle = createSpinLock(status, kAsyncLockCreateSite);
  drainEvent_.initialize(1, 1);
  if (status.isNotFatal()) (void)drainEvent_.createLock(status);
  initializeList(pendingRequests_);
  ioGateEvent_.initialize(1, 1);
  if (status.isNotFatal()) (void)ioGateEvent_.createLock(status);
}

tDeviceCore::~tDeviceCore() {
  destroySpinLock(asyncIOLock_.handle);
  drainEvent_.destroyLock();
  ioGateEvent_.destroyLock();
}

void tDeviceCore::operator delete(void* object) { operatorDelete(object); }

// ---- Default slots ---------------------------------------------------------

tDeviceInterface* const* tDeviceCore::getDeviceInterfaces() { return nullptr; }

tPropertyList tDeviceCore::getDeviceProperties() { return nullptr; }

tSession* tDeviceCore::openSession(tEventDescriptor const&, tDeviceInterface*, tStatus& status) {
  setStatus(status, kStatusNotSupported, kOpenUnsupportedSite);
  return nullptr;
}

void tDeviceCore::closeSession(tEventDescriptor const& context) {
  tSession* const session = context.session;
  if (session == nullptr) return;
  acquireAsyncIOLock();
  session->setClosingLocked();
  releaseAsyncIOLock();
  cancelSessionRequests(*session);
}

void tDeviceCore::destroySession(tEventDescriptor const&, tSession*) {}

u64 tDeviceCore::transferA(tEventDescriptor const&, tUserBuffer&, tStatus& status) {
  setStatus(status, kStatusNotSupported, kTransferAUnsupportedSite);
  return 0;
}

u64 tDeviceCore::transferB(tEventDescriptor const&, tUserBuffer&, tStatus& status) {
  setStatus(status, kStatusNotSupported, kTransferBUnsupportedSite);
  return 0;
}

u32 tDeviceCore::deviceIOControl(tEventDescriptor const&, u32, tUserBuffer&, tUserBuffer&,
                                 tStatus& status) {
  setStatus(status, kStatusNotSupported, kIOControlUnsupportedSite);
  return 0;
}

void tDeviceCore::mapMemory(tEventDescriptor const&, tUserMemoryMap&, tStatus& status) {
  setStatus(status, kStatusNotSupported, kMapUnsupportedSite);
}

void tDeviceCore::unmapMemory(tEventDescriptor const&, tUserMemoryMap&) {}

void tDeviceCore::startDevice(tEventDescriptor const&, tStatus&) {}

void tDeviceCore::stopDevice(tEventDescriptor const&) {}

bool tDeviceCore::suspendIO(tEventDescriptor const&, u32 mode, bool refuseWhenOpen) {
  if (refuseWhenOpen && openSessions_.getValue() != 0) return false;
  if (mode < kSuspendHold) {
    // Requests held at the gate wake and fail.
    setIOGateState(kIOGateRefuse, true);
  } else {
    setIOGateState(kIOGateHold, false);
  }
  cancelDeviceRequests();
  return true;
}

void tDeviceCore::resumeIO(tEventDescriptor const&) { setIOGateState(kIOGatePass, true); }

void tDeviceCore::enterSleep(tEventDescriptor const&) {}

void tDeviceCore::leaveSleep(tEventDescriptor const&) {}

void tDeviceCore::markNotPresent(tEventDescriptor const&) { setIOGateState(kIOGateRefuse, true); }

void tDeviceCore::configureDMA(u32 type, tStatus& status) {
  if (status.isFatal()) return;
  dmaConfiguration_.configure(type, nullptr);
}

void tDeviceCore::acquireAsyncIOLock() { asyncIOLock_.acquire(); }

void tDeviceCore::releaseAsyncIOLock() { asyncIOLock_.release(); }

// ---- The PnP state machine ---------------------------------------------------

void tDeviceCore::setPnPState(i32 state) {
  __atomic_store_n(&previousPnPState_, pnpState(), __ATOMIC_SEQ_CST);
  __atomic_store_n(&pnpState_, state, __ATOMIC_SEQ_CST);
}

bool tDeviceCore::transitionPnPState(tEventDescriptor const& context, u32 target, u32 mode,
                                     u8 refuseWhenOpen, tStatus& status) {
  if (status.isFatal()) return false;
  // No step leads out of NotPresent, and no step reaches a value that is no
  // state: either request would drive the machine round for ever.
  if (target > kPnPStateNotPresent ||
      (pnpState() == kPnPStateNotPresent && target != kPnPStateNotPresent)) {
    setStatus(status, kStatusBadArgument, kTransitionRefusedSite);
    return false;
  }

  i32 const goal = static_cast<i32>(target);
  while (pnpState() != goal) {
    switch (pnpState()) {
      case kPnPStateNotStarted:
        if (goal == kPnPStateNotPresent) {
          markNotPresent(context);
          setPnPState(kPnPStateNotPresent);
          return true;
        }
        startDevice(context, status);
        if (status.isFatal()) return false;
        setPnPState(kPnPStateReady);
        break;

      case kPnPStateReady:
        if (!suspendIO(context, mode, refuseWhenOpen != 0)) return false;
        setPnPState(kPnPStateIOSuspended);
        break;

      case kPnPStateIOSuspended:
        if (goal == kPnPStateReady) {
          resumeIO(context);
          setPnPState(kPnPStateReady);
          return true;
        }
        drainIO(false, status, kWaitForever);
        if (goal == kPnPStateSleep) {
          enterSleep(context);
          setPnPState(kPnPStateSleep);
          return true;
        }
        stopDevice(context);
        setPnPState(kPnPStateNotStarted);
        break;

      case kPnPStateSleep:
        leaveSleep(context);
        setPnPState(kPnPStateIOSuspended);
        break;

      default:
        // NotPresent with another target was refused above.
        return false;
    }
  }
  return true;
}

// ---- The IO gate -------------------------------------------------------------

void tDeviceCore::setIOGateState(i32 state, bool wake) {
  ioGateEvent_.lock();
  __atomic_store_n(&ioGateState_, state, __ATOMIC_SEQ_CST);
  ioGateEvent_.unlock();
  if (wake) signalEvent(ioGateEvent_);
}

#ifdef QVRM7_TEST_SEAMS
namespace {
tGateSeam* gGateSeam = nullptr;
}  // namespace

void setGateSeam(tGateSeam* seam) { __atomic_store_n(&gGateSeam, seam, __ATOMIC_SEQ_CST); }

#define QVRM7_GATE_SEAM(point)                                             \
  do {                                                                     \
    tGateSeam* const seam = __atomic_load_n(&gGateSeam, __ATOMIC_SEQ_CST); \
    if (seam != nullptr) seam->at(*this, tGateSeamPoint::point);           \
  } while (false)
#else
#define QVRM7_GATE_SEAM(point) \
  do {                         \
  } while (false)
#endif

inline tDeviceCore::tPass tDeviceCore::pass(tSession* session) {
  if (ioGateState() != kIOGatePass) return tPass::notPassing;
  QVRM7_GATE_SEAM(seen);
  // Counted before the second look: a closing side sets the state first and
  // drains afterwards, so either it sees this request or the request sees
  // the new state. Without the second look a request that saw the gate pass
  // just before a drain found nothing to wait for would go on to a device
  // that its suspend has since taken apart.
  activeIO_.increment();
  QVRM7_GATE_SEAM(counted);
  if (ioGateState() != kIOGatePass) return tPass::counted;
  if (session != nullptr) session->inFlight().increment();
  return tPass::admitted;
}

bool tDeviceCore::tryPass(tSession* session, i32& state) {
  tPass const passed = pass(session);
  if (passed == tPass::admitted) return true;
  if (passed == tPass::counted) releaseCount(activeIO_, drainEvent_);
  state = ioGateState();
  return false;
}

bool tDeviceCore::acquireIOGate(tSession* session, tStatus& status, u32 timeout) {
  // A passing gate admits without building a frame: every other way goes
  // on in waitAtGate, which first takes back a count made here.
  tPass const passed = status.isNotFatal() ? pass(session) : tPass::notPassing;
  if (passed == tPass::admitted) return true;
  return waitAtGate(session, status, timeout, passed == tPass::counted);
}

bool tDeviceCore::waitAtGate(tSession* session, tStatus& status, u32 timeout, bool counted) {
  if (counted) releaseCount(activeIO_, drainEvent_);
  for (;;) {
    if (status.isFatal()) return false;
    i32 state = kIOGateRefuse;
    if (tryPass(session, state)) return true;
    if (state != kIOGateHold) {
      // Refusing, or a word that is no gate state at all.
      setStatus(status, kStatusDeviceNotStarted, kGateClosedSite);
      return false;
    }
    (void)waitDeviceEvent(ioGateEvent_, timeout, true, status);
    // A timeout or interruption is in the status now; the loop's first
    // test returns it.
    if (ioGateState() == kIOGateHold) continue;
    // The state changed: pass the wake-up on to the next held request.
    signalEvent(ioGateEvent_);
  }
}

bool tDeviceCore::tryEnterIOGate(tSession* session, tStatus& status) {
  if (status.isFatal()) return false;
  i32 state = kIOGateRefuse;
  if (tryPass(session, state)) return true;
  setStatus(status, kStatusDeviceNotStarted, kGateNotPassingSite);
  return false;
}

void tDeviceCore::releaseIOGate(tSession* session) {
  if (session != nullptr) releaseCount(session->inFlight(), session->event());
  releaseCount(activeIO_, drainEvent_);
}

void tDeviceCore::drainIO(bool interruptible, tStatus& status, u32 timeout) {
  awaitZero(activeIO_, drainEvent_, timeout, interruptible, status);
}

// ---- Pending requests ----------------------------------------------------------

void tDeviceCore::queuePendingRequest(tPendingRequest& request, tSession* session,
                                      tStatus& status) {
  if (status.isFatal()) return;
  // The closing flag and both lists belong to the asynchronous-IO lock: a
  // close between the test and the appends would leave the request on a
  // session that is about to be destroyed.
  acquireAsyncIOLock();
  if (session != nullptr && session->closingLocked()) {
    releaseAsyncIOLock();
    setStatus(status, kStatusSessionClosing, kSessionClosingSite);
    return;
  }
  if (tryEnterIOGate(session, status)) {
    request.queued = 1;
    request.requestDevice = this;
    request.requestSession = session;
    request.cancelTried = 0;
    request.completed = 0;
    request.requestStatus.code = 0;
    request.start();
    append(pendingRequests_, request.deviceLinks);
    if (session != nullptr) append(session->pendingRequestsLocked(), request.sessionLinks);
  }
  releaseAsyncIOLock();
}

void tDeviceCore::cancelOne(tPendingRequest& request) {
  if (request.queued == 0 || request.cancelTried != 0 || request.completed != 0) return;
  bool const cancelled = request.cancel();
  request.cancelTried = 1;
  if (!cancelled || request.queued == 0) return;
  // complete() may end the request: keep what the release needs.
  tSession* const session = request.requestSession;
  if (session != nullptr) unlink(request.sessionLinks);
  unlink(request.deviceLinks);
  request.queued = 0;
  request.complete();
  releaseIOGate(session);
}

void tDeviceCore::cancelPendingRequest(tPendingRequest& request) {
  acquireAsyncIOLock();
  cancelOne(request);
  releaseAsyncIOLock();
}

void tDeviceCore::cancelDeviceRequests() {
  acquireAsyncIOLock();
  tListLinks* const head = &pendingRequests_;
  // The next entry is taken before the call-outs, which may unlink and end
  // the current one.
  for (tListLinks *links = head->next, *next = links->next; links != head;
       links = next, next = links->next) {
    cancelOne(*tPendingRequest::fromDeviceLinks(links));
  }
  releaseAsyncIOLock();
}

void tDeviceCore::cancelSessionRequests(tSession& session) {
  acquireAsyncIOLock();
  tListLinks* const head = &session.pendingRequestsLocked();
  for (tListLinks *links = head->next, *next = links->next; links != head;
       links = next, next = links->next) {
    cancelOne(*tPendingRequest::fromSessionLinks(links));
  }
  releaseAsyncIOLock();
}

// ---- Sessions ------------------------------------------------------------------

tSession* tDeviceCore::openSessionCounted(tEventDescriptor const& context,
                                          tDeviceInterface* deviceInterface, tStatus& status) {
  tSession* const session = openSession(context, deviceInterface, status);
  if (status.isNotFatal()) {
    openSessions_.increment();
    return session;
  }
  // A device that fails may still hand back what it had built; nobody else
  // will ever see it, so it goes back to the device here.
  if (session != nullptr) destroySession(context, session);
  return nullptr;
}

void tDeviceCore::finishCloseSession(tEventDescriptor const& context, tSession* session) {
  tStatus local;
  awaitZero(session->inFlight(), session->event(), kWaitForever, false, local);
  openSessions_.decrement();
  destroySession(context, session);
}

// ---- tDevice -------------------------------------------------------------------

tDevice::tDevice(tStatus& status) : tDeviceCore(status) {}

tDevice::~tDevice() = default;

i32 tDevice::dumpDevice(char* buffer, u64 size, char const* prefix, u64 kernelDevice,
                        u64 kernelParent, char const* suffix) const {
  return formatText(buffer, size, "%stDevice(%p,zorDev:%p,pdo:%p) (%s from %s)%s",
                    prefix != nullptr ? prefix : "", static_cast<void const*>(this),
                    reinterpret_cast<void*>(static_cast<uintptr_t>(kernelDevice)),
                    reinterpret_cast<void*>(static_cast<uintptr_t>(kernelParent)),
                    pnpStateName(pnpState()), pnpStateName(previousPnPState()),
                    suffix != nullptr ? suffix : "");
}

}  // namespace qvrm7_driver::nQVWEND000
