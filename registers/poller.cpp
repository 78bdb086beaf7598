#include "registers/poller.h"

#include "platform/atomicInteger.h"
#include "platform/statusCodes.h"
#include "registers/pollTargets.h"

namespace atut::detail {

using qvrm7_driver::nQVWEND000::setStatus;
using qvrm7_driver::nQVWEND000::StatusSite;

namespace {

constexpr char kPollerFile[] = "atut/poller/Poller";
constexpr StatusSite kTimedOutSite{kPollerFile, 585};
constexpr StatusSite kInvalidConditionSite{kPollerFile, 611};

}  // namespace

bool conditionHolds(PollCondition condition, u32 reading, u32 mask, u32 value, tStatus& status) {
  u32 const masked = reading & mask;
  switch (static_cast<i32>(condition)) {
    case kPollAnyBitSet:
      return masked != 0;
    case kPollAllBitsSet:
      return masked == mask;
    case kPollAllBitsClear:
      return masked == 0;
    case kPollMaskedEqual:
      return masked == value;
    default:
      setStatus(status, qvrm7_driver::nQVWEND000::kStatusBadArgument, kInvalidConditionSite);
      return false;
  }
}

u64 nextInterval(u64 interval, u64 maximum) {
  u64 const doubled = interval > ~u64{0} / 2 ? ~u64{0} : interval * 2;
  return doubled < maximum ? doubled : maximum;
}

void recordTimeout(i32 timeoutCode, tStatus& status) {
  setStatus(status, timeoutCode, kTimedOutSite);
}

}  // namespace atut::detail

namespace atut {

// The wait for a device's count of active requests, built once here so that
// both builds compile the poll under their own flags.
using tActiveCount = qvrm7_driver::qvatomicop::Integer<unsigned int>;
using tActiveCountAdapter =
    PollerStatusAdapter<tActiveCount, unsigned int (tActiveCount::*)() const volatile>;
template void Poller<qvrm7_driver::nQVWEND000::tTimeout<
    qvrm7_driver::nQVWEND000::tTimeWasterSleep, qvrm7_driver::nQVWEND000::tTimebaseEfficient>>::
    poll<tActiveCountAdapter, unsigned int (tActiveCountAdapter::*)(tStatus&)>(
        tActiveCountAdapter&, unsigned int (tActiveCountAdapter::*)(tStatus&), unsigned int,
        unsigned int, unsigned long, bool, PollCondition, tStatus&) const;

// Every register's poll, each with its own waiter and time base.
QVRM7_POLLED_REGISTERS(QVRM7_REGISTER_POLL)

}  // namespace atut

namespace qvrm7_driver {

// The controllers' poller configurations: spinning ones, and sleeping ones
// that no controller holds yet.
template class RegisterPoller<
    nQVWEND000::tTimeout<nQVWEND000::tTimeWasterSpin, nQVWEND000::tTimebasePrecise>>;
template class RegisterPoller<
    nQVWEND000::tTimeout<nQVWEND000::tTimeWasterSleep, nQVWEND000::tTimebasePrecise>>;

}  // namespace qvrm7_driver
