// The base of every device object: its lifecycle (PnP) state machine, the IO
// gate through which every request from user space enters, the counts of
// open sessions and active requests, the drain event, the cancellable
// pending requests and the asynchronous-IO lock. tDevice adds the
// property slots that a bus device fills.
//
// The driver callbacks reach a device only through the virtual operations
// below, declared in their fixed slot order: never reorder or insert.
#pragma once

#include "platform/atomicInteger.h"
#include "platform/deviceProperty.h"
#include "platform/dmaConfiguration.h"
#include "platform/eventDescriptor.h"
#include "platform/ioCount.h"
#include "platform/status.h"
#include "platform/synchronization.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

class tDeviceInterface;
class tSession;
class tUserBuffer;
class tUserMemoryMap;
class tDeviceCore;

enum tPnPState : i32 {
  kPnPStateNotStarted = 0,
  kPnPStateReady = 1,
  kPnPStateIOSuspended = 2,
  kPnPStateSleep = 3,
  kPnPStateNotPresent = 4,
};

// "kPnPStateReady" and so on; "invalid" for any other value.
char const* pnpStateName(i32 state);

enum tIOGateState : i32 {
  kIOGateRefuse = 0,  // requests fail with -52022
  kIOGateHold = 1,    // requests wait on the IO-gate event
  kIOGatePass = 2,    // requests are admitted and counted
};

// suspendIO modes: below kSuspendHold the gate closes, from it on it holds.
inline constexpr u32 kSuspendClose = 1;
inline constexpr u32 kSuspendHold = 2;

// ---- Device events ---------------------------------------------------------
// The drain event, the IO-gate event and every session's event are waitable
// records with the auto-consume flag set, starting signalled.

// Wakes the first waiter, or leaves the record signalled when none waits;
// nothing when it is signalled already. With auto-consume clear it wakes
// every waiter and stays signalled.
void signalEvent(tWaitableRecord& event);
// The semaphore's wait: 0 only tests, kWaitForever has no bound.
bool waitDeviceEvent(tWaitableRecord& event, u32 timeout, bool interruptible, tStatus& status);

// ---- Pending requests ------------------------------------------------------

// The two list links of a request, apart from the virtual table so that a
// link leads back to its request.
struct tPendingRequestLinks {
  tListLinks deviceLinks;
  tListLinks sessionLinks;
};

// A cancellable request, kept on its device's list and, when it came from a
// session, on that session's list while it is queued.
class tPendingRequest : public tPendingRequestLinks {
 public:
  tPendingRequest();
  virtual ~tPendingRequest();
  tPendingRequest(tPendingRequest const&) = delete;
  tPendingRequest& operator=(tPendingRequest const&) = delete;

  // Called with the device's asynchronous-IO lock held: none may sleep.
  virtual void start() = 0;
  // True when the request could be withdrawn.
  virtual bool cancel() = 0;
  virtual void complete() = 0;

  static void operator delete(void* object);

  static tPendingRequest* fromDeviceLinks(tListLinks* links);
  static tPendingRequest* fromSessionLinks(tListLinks* links);

  tStatus requestStatus;
  tDeviceCore* requestDevice;
  tSession* requestSession;  // null for a request of no session
  u32 queued;
  u8 cancelTried;
  u8 completed;
};

// ---- The device core -------------------------------------------------------

#ifdef QVRM7_TEST_SEAMS
// Test builds only (the kernel object and the benchmarks have none of it):
// what runs on a request's thread between the IO gate's looks, so that a
// test can put a suspend and its drain exactly there. No layer call happens
// in that window, so nothing else can reach it.
enum class tGateSeamPoint : u32 {
  seen,     // the gate passed; the request is not counted yet
  counted,  // counted; the gate not looked at again yet
};
class tGateSeam {
 public:
  virtual void at(tDeviceCore& device, tGateSeamPoint point) = 0;

 protected:
  ~tGateSeam() = default;
};
// Null removes it. Every request of every device runs it.
void setGateSeam(tGateSeam* seam);
#endif

class tDeviceCore {
 public:
  // Locks are made only while the status is clean; a refusal sets -52000
  // and leaves the device unusable but safe to destroy.
  explicit tDeviceCore(tStatus& status);
  tDeviceCore(tDeviceCore const&) = delete;
  tDeviceCore& operator=(tDeviceCore const&) = delete;

  // Slots 0 and 1.
  virtual ~tDeviceCore();
  // Slot 2: null-terminated, or null when the device has none.
  virtual tDeviceInterface* const* getDeviceInterfaces();
  // Slot 3: the device attributes.
  virtual tPropertyList getDeviceProperties();
  // Slot 4.
  virtual tSession* openSession(tEventDescriptor const& context, tDeviceInterface* deviceInterface,
                                tStatus& status);
  // Slot 5: marks the session closing and cancels its pending requests.
  virtual void closeSession(tEventDescriptor const& context);
  // Slot 6: called once per session, after its last request left.
  virtual void destroySession(tEventDescriptor const& context, tSession* session);
  // Slots 7 and 8: the bytes moved.
  virtual u64 transferA(tEventDescriptor const& context, tUserBuffer& buffer, tStatus& status);
  virtual u64 transferB(tEventDescriptor const& context, tUserBuffer& buffer, tStatus& status);
  // Slot 9: the bytes written to the output buffer.
  virtual u32 deviceIOControl(tEventDescriptor const& context, u32 code, tUserBuffer& input,
                              tUserBuffer& output, tStatus& status);
  // Slots 10 and 11.
  virtual void mapMemory(tEventDescriptor const& context, tUserMemoryMap& map, tStatus& status);
  virtual void unmapMemory(tEventDescriptor const& context, tUserMemoryMap& map);
  // Slots 12 to 18: the steps of the PnP state machine.
  virtual void startDevice(tEventDescriptor const& context, tStatus& status);
  virtual void stopDevice(tEventDescriptor const& context);
  virtual bool suspendIO(tEventDescriptor const& context, u32 mode, bool refuseWhenOpen);
  virtual void resumeIO(tEventDescriptor const& context);
  virtual void enterSleep(tEventDescriptor const& context);
  virtual void leaveSleep(tEventDescriptor const& context);
  virtual void markNotPresent(tEventDescriptor const& context);
  // Slot 19: run by the device factory right after construction.
  virtual void initializeDevice(tEventDescriptor const& context, tStatus& status) = 0;
  // Slot 20: never called.
  virtual void busHook() = 0;
  // Slot 21.
  virtual void configureDMA(u32 type, tStatus& status);
  // Slot 22: enters the gate, waiting while it holds; true when admitted,
  // and then the request counts as active (and in flight for the session).
  virtual bool acquireIOGate(tSession* session, tStatus& status, u32 timeout);
  // Slot 23: the request leaves.
  virtual void releaseIOGate(tSession* session);
  // Slots 24 and 25.
  virtual void acquireAsyncIOLock();
  virtual void releaseAsyncIOLock();

  // Drives the state machine to target. False when a step refused (start
  // failed, suspend refused) or the target cannot be reached: a value
  // outside the states, or any state but NotPresent once not present.
  bool transitionPnPState(tEventDescriptor const& context, u32 target, u32 mode, u8 refuseWhenOpen,
                          tStatus& status);
  // Returns once no request is active (or the status failed).
  void drainIO(bool interruptible, tStatus& status, u32 timeout);
  // Enters the gate only when it passes right now; never waits.
  bool tryEnterIOGate(tSession* session, tStatus& status);

  void queuePendingRequest(tPendingRequest& request, tSession* session, tStatus& status);
  void cancelPendingRequest(tPendingRequest& request);
  void cancelDeviceRequests();
  void cancelSessionRequests(tSession& session);

  // Open and close as the driver callbacks run them around slots 4 to 6.
  // Null when the open failed: a session the device returned with the
  // failure has gone back through slot 6.
  tSession* openSessionCounted(tEventDescriptor const& context, tDeviceInterface* deviceInterface,
                               tStatus& status);
  void finishCloseSession(tEventDescriptor const& context, tSession* session);

  i32 pnpState() const { return __atomic_load_n(&pnpState_, __ATOMIC_SEQ_CST); }
  i32 previousPnPState() const { return __atomic_load_n(&previousPnPState_, __ATOMIC_SEQ_CST); }
  i32 ioGateState() const { return __atomic_load_n(&ioGateState_, __ATOMIC_SEQ_CST); }
  u32 openSessionCount() const { return openSessions_.getValue(); }
  u32 activeIOCount() const { return activeIO_.getValue() & kIOCountMask; }
  tDMAConfiguration& dmaConfiguration() { return dmaConfiguration_; }
  tDMAConfiguration const& dmaConfiguration() const { return dmaConfiguration_; }

  static void operator delete(void* object);

 protected:
  // Sets the gate state under the IO-gate event's lock; with wake, the
  // event is signalled so that held requests look at the new state.
  void setIOGateState(i32 state, bool wake);
  tWaitableRecord& drainEvent() { return drainEvent_; }
  tWaitableRecord& ioGateEvent() { return ioGateEvent_; }

 private:
  void setPnPState(i32 state);
  // One pass of the gate: admits the request when the gate passes and still
  // passes after the count went up. Otherwise the state it finds.
  bool tryPass(tSession* session, i32& state);
  // One look at the gate. counted: the request was counted before it saw
  // the gate stop passing, and its count must be taken back.
  enum class tPass { admitted, notPassing, counted };
  tPass pass(tSession* session);
  // acquireIOGate once the first look did not admit: takes back the count
  // when asked, then passes, waiting while the gate holds.
  [[gnu::noinline]] bool waitAtGate(tSession* session, tStatus& status, u32 timeout, bool counted);
  void cancelOne(tPendingRequest& request);

  tDeferredSpinLock asyncIOLock_;
  i32 pnpState_;
  i32 previousPnPState_;
  tWaitableRecord drainEvent_;
  qvatomicop::Integer<unsigned int> openSessions_;
  qvatomicop::Integer<unsigned int> activeIO_;
  tListLinks pendingRequests_;
  tWaitableRecord ioGateEvent_;
  i32 ioGateState_;
  i32 reserved_;
  tDMAConfiguration dmaConfiguration_;
};

// A device on a bus: the bus device fills and lists its bus properties.
class tDevice : public tDeviceCore {
 public:
  explicit tDevice(tStatus& status);
  ~tDevice() override;

  // Slot 26: fills the bus property records from what the device knows.
  virtual void fillPCIProperties() = 0;
  // Slot 27: the bus properties, null-terminated.
  virtual tPropertyList getBusProperties() = 0;

  // One line for debugging, formatted into buffer (cut to size):
  // prefix, the device, the layer's device and parent, the state and the
  // previous state, suffix. The count of the layer's formatting.
  i32 dumpDevice(char* buffer, u64 size, char const* prefix, u64 kernelDevice, u64 kernelParent,
                 char const* suffix) const;
};

}  // namespace qvrm7_driver::nQVWEND000
