// Polls of a scripted target on the layer's virtual clock: nothing here
// moves the clock but the poll itself (its spins and sleeps).
#include "registers/poller.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "platform/atomicInteger.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;

using SpinPoller = atut::Poller<tTimeout<tTimeWasterSpin, tTimebasePrecise>>;
using SleepPoller = atut::Poller<tTimeout<tTimeWasterSleep, tTimebasePrecise>>;
constexpr i32 kTimeoutCode = static_cast<i32>(0xBFFA807Du);

// Reads its script in order (the last value for ever) and notes when.
class Target {
 public:
  explicit Target(std::vector<u32> script) : script_(std::move(script)) {}
  virtual ~Target() = default;

  virtual u32 read(tStatus& status) {
    times.push_back(sim::virtualNow());
    if (times.size() == failingRead) setStatus(status, kStatusNotAvailable, "fake", 9);
    return script_[std::min(times.size(), script_.size()) - 1];
  }

  std::vector<u64> times;
  size_t failingRead = 0;

 private:
  std::vector<u32> script_;
};

class Handler : public atut::PollerTimeoutHandler {
 public:
  void handleTimeout(tStatus& status) override { seen.push_back(status.code); }
  std::vector<i64> seen;
};

class Polls : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::useVirtualClock(1000000000);
  }
  void TearDown() override { sim::resetSyncControls(); }
  // A poll that follows the last one's final pause would begin inside its
  // spin, with time already running fast.
  static void startAfresh() { sim::advanceClock(0); }
};

TEST_F(Polls, EachConditionOnItsMaskAndValueAndAnInvalidOneFails) {
  struct Case {
    u32 condition, reading, mask, value;
    bool holds;
  } const cases[] = {
      {0, 0x10, 0x30, 0, true},
      {0, 0x40, 0x30, 0x40, false},
      {1, 0x31, 0x30, 0, true},
      {1, 0x10, 0x30, 0x10, false},
      {1, 0x00, 0x00, 7, true},
      {2, 0x40, 0x30, 0x30, true},
      {2, 0x10, 0x30, 0, false},
      {3, 0x1040000, 0x1040000, 0x1040000, true},
      {3, 0x0040000, 0x1040000, 0x1040000, false},
      {3, 0xF3, 0x0F, 0x03, true},
      {3, 0xF3, 0x0F, 0xF3, false},
      {4, 0xFF, 0xFF, 0xFF, false},
      {0xFFFFFFFF, 0xFF, 0xFF, 0xFF, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "condition " << static_cast<i32>(c.condition) << " reading " << c.reading);
    startAfresh();
    Target target({c.reading});
    SpinPoller const poller{1, 1, kTimeoutCode, nullptr};
    tLongStatus status;
    poller.poll(target, &Target::read, c.value, c.mask, 0, true,
                static_cast<atut::PollCondition>(c.condition), status);
    bool const invalid = c.condition > 3;
    if (c.holds) {
      expectSite(status, 0, "", 0);
    } else if (invalid) {
      expectSite(status, kStatusBadArgument, "atut/poller/Poller", 611);
    } else {
      expectSite(status, kTimeoutCode, "atut/poller/Poller", 585);
    }
    // Holding: one read. Timeout 0: the read after the first expired test
    // still counts. Invalid: the error ends the poll after one read.
    EXPECT_EQ(target.times.size(), c.holds || invalid ? 1u : 2u);
  }
}

TEST_F(Polls, PausesDoubleUpToTheMaximumAndTheExpiredPassStillReadsAndPauses) {
  struct Case {
    u64 initial, maximum, timeout;
    bool useTimeout;
    std::vector<u32> script;
    std::vector<u64> pauses;  // microseconds between consecutive reads
    bool timesOut;
  } const cases[] = {
      {1, 8, 20, true, {0}, {1, 2, 4, 8, 8, 8}, true},
      {10, 3, 0, false, {0, 0, 0, 0, 1}, {10, 3, 3, 3}, false},
      {0, 5, 0, false, {0, 0, 0, 1}, {0, 0, 0}, false},
      {4, 4, 9, true, {0}, {4, 4, 4, 4}, true},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message() << "initial " << c.initial << " maximum " << c.maximum);
    startAfresh();
    Target target(c.script);
    SpinPoller const poller{c.initial, c.maximum, kTimeoutCode, nullptr};
    tLongStatus status;
    poller.poll(target, &Target::read, 1, 1, c.timeout, c.useTimeout, atut::kPollAllBitsSet,
                status);
    EXPECT_EQ(status.head.code, c.timesOut ? kTimeoutCode : 0);
    // The last pause follows the last read, when the poll gives up.
    target.times.push_back(sim::virtualNow());
    ASSERT_EQ(target.times.size(), c.pauses.size() + (c.timesOut ? 1 : 2));
    for (size_t i = 0; i < c.pauses.size(); ++i) {
      u64 const gap = target.times[i + 1] - target.times[i];
      u64 const pause = c.pauses[i] * 1000 + 1;  // one tick more
      EXPECT_GE(gap, pause) << "pause " << i;
      EXPECT_LT(gap, pause + 1000) << "pause " << i;
    }
    if (!c.timesOut) {
      EXPECT_EQ(target.times.back(), target.times[target.times.size() - 2]);  // none after
    }
  }
}

TEST_F(Polls, WithoutPausesReadsFollowEachOtherUntilTheDeadline) {
  Target once({0, 0, 0, 0, 1});
  SpinPoller const immediate{5, 0, kTimeoutCode, nullptr};
  tStatus status;
  immediate.poll(once, &Target::read, 1, 1, 0, false, atut::kPollAllBitsSet, status);
  EXPECT_EQ(once.times, std::vector<u64>(5, once.times[0]));  // not a moment passed

  Target never({0});
  tLongStatus late;
  immediate.poll(never, &Target::read, 1, 1, 5, true, atut::kPollAllBitsSet, late);
  expectSite(late, kTimeoutCode, "atut/poller/Poller", 585);
  EXPECT_GE(never.times.back() - never.times.front(), 5001u);
}

TEST_F(Polls, StatusesOnEntryAndFromReadsAndTheHandlerDecideTheOutcome) {
  Handler handler;
  struct Case {
    char const* what;
    i64 entry;
    size_t failingRead;
    u32 holdsFrom;  // the read whose value satisfies the condition; 0: none
    atut::PollerTimeoutHandler* handler;
    i64 code;
    size_t reads;
  } const cases[] = {
      {"error on entry: nothing read", -1, 0, 1, nullptr, -1, 0},
      {"a warning does not stop the loop", kStatusVersionNewer, 0, 4, nullptr, kStatusVersionNewer,
       4},
      {"a read error ends it after its pause", 0, 2, 0, nullptr, kStatusNotAvailable, 2},
      {"a read error with a value that holds", 0, 2, 2, nullptr, kStatusNotAvailable, 2},
      {"the handler instead of the code", 0, 0, 0, &handler, 0, 4},
      {"the handler sees the read error", 0, 1, 0, &handler, kStatusNotAvailable, 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    startAfresh();
    handler.seen.clear();
    std::vector<u32> script(c.holdsFrom == 0 ? 1 : c.holdsFrom, 0);
    if (c.holdsFrom != 0) script.back() = 1;
    Target target(script);
    target.failingRead = c.failingRead;
    SpinPoller const poller{2, 2, kTimeoutCode, c.handler};
    tStatus status;
    status.code = c.entry;
    poller.poll(target, &Target::read, 1, 1, 5, true, atut::kPollMaskedEqual, status);
    EXPECT_EQ(status.code, c.code);
    EXPECT_EQ(target.times.size(), c.reads);
    bool const gaveUp = c.holdsFrom == 0 && c.entry >= 0;
    EXPECT_EQ(handler.seen.size(), gaveUp && c.handler != nullptr ? 1u : 0u);
  }
}

TEST_F(Polls, TheSleepingFormSleepsWholeMillisecondsAndLongTimesNeverWrap) {
  Target slow({0});
  SleepPoller const sleeper{2500, 2500, kTimeoutCode, nullptr};
  tStatus status;
  sleeper.poll(slow, &Target::read, 1, 1, 3000, true, atut::kPollAllBitsSet, status);
  EXPECT_EQ(status.code, kTimeoutCode);
  EXPECT_EQ(slow.times.size(), 3u);
  std::vector<uint32_t> slept;
  for (uint32_t microseconds : sim::sleepLog()) {
    EXPECT_EQ(microseconds % 1000, 0u);
    if (microseconds != 0) slept.push_back(microseconds);
  }
  EXPECT_EQ(slept, (std::vector<uint32_t>{2000, 2000, 2000}));

  // A timeout that does not fit in nanoseconds is long, not short.
  Target eventually({0, 0, 0, 1});
  SpinPoller const spinner{1, 1, kTimeoutCode, nullptr};
  tStatus longWait;
  spinner.poll(eventually, &Target::read, 1, 1, u64{1} << 62, true, atut::kPollAllBitsSet,
               longWait);
  EXPECT_EQ(longWait.code, 0);

  // The wait on a counter: its reads never touch the status.
  qvatomicop::Integer<unsigned int> active(1);
  using Adapter = atut::PollerStatusAdapter<qvatomicop::Integer<unsigned int>,
                                            unsigned int (qvatomicop::Integer<unsigned int>::*)()
                                                const volatile>;
  Adapter adapter(active, &qvatomicop::Integer<unsigned int>::getValue);
  atut::Poller<tTimeout<tTimeWasterSleep, tTimebaseEfficient>> const drain{10000, 10000,
                                                                           kTimeoutCode, nullptr};
  tStatus warned;
  warned.code = 5;
  drain.poll(adapter, &Adapter::poll, 1, 0xFFFFFFFF, 0, false, atut::kPollMaskedEqual, warned);
  EXPECT_EQ(warned.code, 5);
}

// Pauses too long for any clock to show: the doubling must not wrap them
// into short ones.
struct RecordingTimeout {
  RecordingTimeout(u64, bool) {}
  bool expired() const { return pauses.size() >= 3; }
  void waste(u64 microseconds) const { pauses.push_back(microseconds); }
  static inline std::vector<u64> pauses;
};

TEST_F(Polls, DoublingSaturatesAtTheMaximumInsteadOfWrapping) {
  Target never({0});
  atut::Poller<RecordingTimeout> const poller{u64{1} << 63, ~u64{0}, kTimeoutCode, nullptr};
  tStatus status;
  poller.poll(never, &Target::read, 1, 1, 0, true, atut::kPollAllBitsSet, status);
  EXPECT_EQ(RecordingTimeout::pauses, (std::vector<u64>{u64{1} << 63, ~u64{0}, ~u64{0}, ~u64{0}}));
}

}  // namespace
