// Polls of a scripted target on the layer's virtual clock: nothing moves the
// clock but the poll itself, through its spins and sleeps.
#include "registers/poller.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using testing_support::expectSite;

using SpinPoller = atut::Poller<tTimeout<tTimeWasterSpin, tTimebasePrecise>>;
constexpr i32 kTimeoutCode = static_cast<i32>(0xBFFA807Du);
constexpr char kFile[] = "atut/poller/Poller";

// Reads its script in order (the last value for ever) and notes when.
struct Target {
  u32 read(tStatus& status) {
    times.push_back(sim::virtualNow());
    if (times.size() == failingRead) setStatus(status, kStatusNotAvailable, StatusSite{"fake", 9});
    return script[std::min(times.size(), script.size()) - 1];
  }
  std::vector<u32> script;
  size_t failingRead = 0;
  std::vector<u64> times = {};
};

struct Handler : atut::PollerTimeoutHandler {
  void handleTimeout(tStatus& status) override { seen.push_back(status.code); }
  std::vector<i64> seen;
};

class Polls : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::resetSyncControls(); }
  // Each poll starts on a clock at rest, not inside the last poll's spin.
  static void startAfresh() { sim::useVirtualClock(1000000000); }
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
      {3, 0xF3, 0x0F, 0x03, true},
      {3, 0xF3, 0x0F, 0xF3, false},
      {4, 0xFF, 0xFF, 0xFF, false},
      {0xFFFFFFFF, 0xFF, 0xFF, 0xFF, false},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<i32>(c.condition) << " on " << c.reading);
    startAfresh();
    Target target{{c.reading}};
    tLongStatus status;
    SpinPoller{1, 1, kTimeoutCode, nullptr}.poll(target, &Target::read, c.value, c.mask, 0, true,
                                                 static_cast<atut::PollCondition>(c.condition),
                                                 status);
    bool const invalid = c.condition > 3;
    if (c.holds) {
      EXPECT_EQ(status.head.code, 0);
    } else {
      expectSite(status, invalid ? i64{kStatusBadArgument} : kTimeoutCode, kFile,
                 invalid ? 611 : 585);
    }
    // Timeout 0: the read after the first expired test still counts.
    EXPECT_EQ(target.times.size(), c.holds || invalid ? 1u : 2u);
  }
}

TEST_F(Polls, PausesDoubleUpToTheMaximumAndTheExpiredPassStillReadsAndPauses) {
  struct Case {
    u64 initial, maximum, timeout;
    bool useTimeout;
    std::vector<u32> script;
    std::vector<u64> pauses;  // microseconds after each read, the last one's included
  } const cases[] = {
      {1, 8, 20, true, {0}, {1, 2, 4, 8, 8, 8}},
      {10, 3, 0, false, {0, 0, 0, 0, 1}, {10, 3, 3, 3, 0}},
      {0, 5, 0, false, {0, 0, 0, 1}, {0, 0, 0, 0}},  // one tick each
      {4, 4, 9, true, {0}, {4, 4, 4, 4}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message() << "initial " << c.initial << " maximum " << c.maximum);
    startAfresh();
    Target target{c.script};
    tStatus status;
    SpinPoller{c.initial, c.maximum, kTimeoutCode, nullptr}.poll(
        target, &Target::read, 1, 1, c.timeout, c.useTimeout, atut::kPollAllBitsSet, status);
    bool const timesOut = c.script.size() == 1;
    EXPECT_EQ(status.code, timesOut ? kTimeoutCode : 0);
    target.times.push_back(sim::virtualNow());
    ASSERT_EQ(target.times.size(), c.pauses.size() + 1);
    for (size_t i = 0; i < c.pauses.size(); ++i) {
      u64 const gap = target.times[i + 1] - target.times[i];
      bool const last = i + 1 == c.pauses.size();
      u64 const pause = !timesOut && last ? 0 : c.pauses[i] * 1000 + 1;  // none after success
      EXPECT_GE(gap, pause) << i;
      EXPECT_LE(gap, pause + (pause == 0 ? 0 : 1000)) << i;
    }
  }

  // No pauses and no deadline: not a moment passes between reads.
  startAfresh();
  Target eager{{0, 0, 0, 1}};
  tStatus status;
  SpinPoller{5, 0, kTimeoutCode, nullptr}.poll(eager, &Target::read, 1, 1, 0, false,
                                               atut::kPollAllBitsSet, status);
  EXPECT_EQ(eager.times, std::vector<u64>(4, eager.times[0]));
}

TEST_F(Polls, StatusesOnEntryAndFromReadsAndTheHandlerDecideTheOutcome) {
  Handler handler;
  struct Case {
    char const* what;
    i64 entry;
    size_t failingRead, holdsFrom;  // holdsFrom 0: never
    atut::PollerTimeoutHandler* handler;
    i64 code;
    size_t reads;
  } const cases[] = {
      {"error on entry: nothing read", -1, 0, 1, nullptr, -1, 0},
      {"a warning does not stop the loop", kStatusVersionNewer, 0, 4, nullptr, kStatusVersionNewer,
       4},
      {"a read error ends it", 0, 2, 0, nullptr, kStatusNotAvailable, 2},
      {"a read error with a value that holds", 0, 2, 2, nullptr, kStatusNotAvailable, 2},
      {"the handler instead of the code", 0, 0, 0, &handler, 0, 4},
      {"the handler sees the read error", 0, 1, 0, &handler, kStatusNotAvailable, 1},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    startAfresh();
    handler.seen.clear();
    Target target{std::vector<u32>(c.holdsFrom == 0 ? 1 : c.holdsFrom, 0), c.failingRead};
    if (c.holdsFrom != 0) target.script.back() = 1;
    tStatus status;
    status.code = c.entry;
    SpinPoller{2, 2, kTimeoutCode, c.handler}.poll(target, &Target::read, 1, 1, 5, true,
                                                   atut::kPollMaskedEqual, status);
    EXPECT_EQ(status.code, c.code);
    EXPECT_EQ(target.times.size(), c.reads);
    bool const gaveUp = c.holdsFrom == 0 && c.entry >= 0 && c.handler != nullptr;
    EXPECT_EQ(handler.seen, gaveUp ? std::vector<i64>{c.code} : std::vector<i64>{});
  }
}

TEST_F(Polls, TheSleepingFormSleepsWholeMillisecondsAndLongTimesNeverWrap) {
  startAfresh();
  Target slow{{0}};
  tStatus status;
  atut::Poller<tTimeout<tTimeWasterSleep, tTimebasePrecise>>{2500, 2500, kTimeoutCode, nullptr}
      .poll(slow, &Target::read, 1, 1, 3000, true, atut::kPollAllBitsSet, status);
  EXPECT_EQ(status.code, kTimeoutCode);
  EXPECT_EQ(slow.times.size(), 3u);
  std::vector<uint32_t> slept;
  for (uint32_t microseconds : sim::sleepLog()) {
    EXPECT_EQ(microseconds % 1000, 0u);
    if (microseconds != 0) slept.push_back(microseconds);
  }
  EXPECT_EQ(slept, (std::vector<uint32_t>{2000, 2000, 2000}));

  // A timeout too long for nanoseconds is long, not short.
  startAfresh();
  Target eventually{{0, 0, 0, 1}};
  tStatus longWait;
  SpinPoller{1, 1, kTimeoutCode, nullptr}.poll(eventually, &Target::read, 1, 1, u64{1} << 62, true,
                                               atut::kPollAllBitsSet, longWait);
  EXPECT_EQ(longWait.code, 0);
}

// Pauses too long for any clock to show: doubling must not wrap them short.
struct RecordingTimeout {
  RecordingTimeout(u64, bool) {}
  bool expired() const { return pauses.size() >= 3; }
  void waste(u64 microseconds) const { pauses.push_back(microseconds); }
  static inline std::vector<u64> pauses;
};

TEST_F(Polls, DoublingSaturatesAtTheMaximumInsteadOfWrapping) {
  Target never{{0}};
  tStatus status;
  atut::Poller<RecordingTimeout>{u64{1} << 63, ~u64{0}, kTimeoutCode, nullptr}.poll(
      never, &Target::read, 1, 1, 0, true, atut::kPollAllBitsSet, status);
  EXPECT_EQ(RecordingTimeout::pauses, (std::vector<u64>{u64{1} << 63, ~u64{0}, ~u64{0}, ~u64{0}}));
}

}  // namespace
