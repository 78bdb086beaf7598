// Every wait of the driver on hardware: read a value through a member
// function of its target until a condition on it holds, pausing a little
// longer after each read, until a deadline passes or the status fails. The
// target is any class with such a reader (a register record, a flash
// controller, an adapter over a counter); the time policy is a tTimeout.
#pragma once

#include "platform/memory.h"
#include "platform/status.h"
#include "platform/timing.h"

namespace atut {

using nQVWENDS100::tStatus;
using qvrm7_driver::i32;
using qvrm7_driver::u32;
using qvrm7_driver::u64;

// Called instead of recording the timeout code when a poll gives up.
class PollerTimeoutHandler {
 public:
  virtual ~PollerTimeoutHandler() = default;
  virtual void handleTimeout(tStatus& status) = 0;
};

// Compared as a signed number: anything but these four never holds and
// reports -52005.
enum PollCondition : u32 {
  kPollAnyBitSet = 0,
  kPollAllBitsSet = 1,
  kPollAllBitsClear = 2,
  kPollMaskedEqual = 3,
};

namespace detail {

// Whether the reading satisfies the condition; -52005 for an invalid one.
bool conditionHolds(PollCondition condition, u32 reading, u32 mask, u32 value, tStatus& status);
// The next pause: twice this one, at most the maximum, never wrapped.
u64 nextInterval(u64 interval, u64 maximum);
// The poller's own give-up: the timeout code, which an error already
// recorded keeps out.
void recordTimeout(i32 timeoutCode, tStatus& status);

}  // namespace detail

// Only configuration: one poller may serve consecutive and concurrent polls.
// Every time is in microseconds.
template <class Timeout, class Value = unsigned int>
class Poller {
 public:
  using PollCondition = atut::PollCondition;

  u64 initialWait;                       // the first pause
  u64 maximumWait;                       // pauses double up to this; 0: never pause
  i32 timeoutCode;                       // recorded when the poll gives up without a handler
  PollerTimeoutHandler* timeoutHandler;  // not owned; may be null

  // reader is a member function Value (T::*)(tStatus&), virtual or not.
  // Without useTimeout the poll has no deadline. The read after the pass
  // that finds the deadline passed still counts, and the last unsuccessful
  // pass still pauses before the poll gives up.
  template <class T, class Reader>
  void poll(T& object, Reader reader, Value value, Value mask, unsigned long timeout,
            bool useTimeout, PollCondition condition, tStatus& status) const {
    if (status.isFatal()) return;
    Timeout const deadline(timeout, useTimeout);
    u64 interval = initialWait;
    for (;;) {
      bool const expired = deadline.expired();
      Value const reading = (object.*reader)(status);
      if (detail::conditionHolds(condition, reading, mask, value, status)) return;
      if (maximumWait != 0) {
        u64 const pause = interval;
        interval = detail::nextInterval(interval, maximumWait);
        deadline.waste(pause);
      }
      if (expired || status.isFatal()) break;
    }
    if (timeoutHandler != nullptr) {
      timeoutHandler->handleTimeout(status);
      return;
    }
    detail::recordTimeout(timeoutCode, status);
  }
};

// A getter that takes no status, as a poll target; it never touches the
// status.
template <class T, class Getter, class Value = unsigned int>
class PollerStatusAdapter {
 public:
  PollerStatusAdapter(T& object, Getter getter) : object_(&object), getter_(getter) {}

  Value poll(tStatus&) { return (object_->*getter_)(); }

 private:
  T* object_;
  Getter getter_;
};

}  // namespace atut

namespace qvrm7_driver {

// A controller's poller configuration, kept with the controller; the handler
// is always null.
template <class Timeout>
class RegisterPoller {
 public:
  RegisterPoller(u64 initialWait, u64 maximumWait, i32 timeoutCode)
      : poller_{initialWait, maximumWait, timeoutCode, nullptr} {}
  virtual ~RegisterPoller() = default;
  static void operator delete(void* object) { nQVWEND000::operatorDelete(object); }

  atut::Poller<Timeout> const& poller() const { return poller_; }

 private:
  atut::Poller<Timeout> poller_;
};

// Both built once, in poller.cpp.
extern template class RegisterPoller<
    nQVWEND000::tTimeout<nQVWEND000::tTimeWasterSpin, nQVWEND000::tTimebasePrecise>>;
extern template class RegisterPoller<
    nQVWEND000::tTimeout<nQVWEND000::tTimeWasterSleep, nQVWEND000::tTimebasePrecise>>;

}  // namespace qvrm7_driver
