// Time units, time bases, deadlines and the two time wasters, all on the
// stand-in's virtual clock.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/layer/syncControl.h"
#include "platform/timing.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

constexpr u64 kMax = UINT64_MAX;

// ---- Unit conversion ---------------------------------------------------------

struct ConversionCase {
  u64 value;
  nQVWEND200_tTimeUnit from;
  nQVWEND200_tTimeUnit to;
  u64 expected;
};

TEST(TimeUnits, ConvertsBetweenNeighboursAndAcrossTheScale) {
  ConversionCase const cases[] = {
      {1, kTimeUnitSeconds, kTimeUnitMicroseconds, 1000000},
      {90, kTimeUnitMinutes, kTimeUnitHours, 1},
      {999, kTimeUnitMicroseconds, kTimeUnitMilliseconds, 0},
      {1000, kTimeUnitMicroseconds, kTimeUnitMilliseconds, 1},
      {2, kTimeUnitHours, kTimeUnitNanoseconds, 7200000000000ull},
      {7199999999999ull, kTimeUnitNanoseconds, kTimeUnitHours, 1},
      {59, kTimeUnitSeconds, kTimeUnitMinutes, 0},
      {42, kTimeUnitMilliseconds, kTimeUnitMilliseconds, 42},
      {kMax, kTimeUnitNanoseconds, kTimeUnitNanoseconds, kMax},
      // Units above hours keep stepping by 60.
      {1, static_cast<nQVWEND200_tTimeUnit>(7), kTimeUnitHours, 60},
      {3600, kTimeUnitHours, static_cast<nQVWEND200_tTimeUnit>(8), 1},
  };
  for (ConversionCase const& c : cases) {
    EXPECT_EQ(convertTimeUnits(c.value, c.from, c.to), c.expected)
        << c.value << " from unit " << c.from << " to unit " << c.to;
  }
}

TEST(TimeUnits, FinerUnitsSaturateInsteadOfWrapping) {
  // 2e16 us is 2e19 ns, past 2^64: wrapped it would be about 1.55e18 ns, a
  // deadline some 600 years too early.
  EXPECT_EQ(convertTimeUnits(20000000000000000ull, kTimeUnitMicroseconds, kTimeUnitNanoseconds), kMax);
  EXPECT_EQ(convertTimeUnits(kMax / 1000, kTimeUnitMicroseconds, kTimeUnitNanoseconds),
            kMax / 1000 * 1000);
  EXPECT_EQ(convertTimeUnits(kMax / 1000 + 1, kTimeUnitMicroseconds, kTimeUnitNanoseconds), kMax);
  EXPECT_EQ(convertTimeUnits(1ull << 40, kTimeUnitHours, kTimeUnitNanoseconds), kMax);
  EXPECT_EQ(convertTimeUnits(0, static_cast<nQVWEND200_tTimeUnit>(0xFFFFFFFFu), kTimeUnitNanoseconds), 0u);
}

// ---- Clock fixture -----------------------------------------------------------

class VirtualClock : public ::testing::Test {
 protected:
  static constexpr u64 kStart = 1000000000000ull;  // an arbitrary point, 1000 s in

  void SetUp() override {
    sim::resetSyncControls();
    sim::useVirtualClock(kStart);
  }
  void TearDown() override { sim::resetSyncControls(); }
};

// ---- Time bases ----------------------------------------------------------------

TEST_F(VirtualClock, TimebasesReadTheCounterAndTheTimerInTheirUnits) {
  EXPECT_EQ(initializeTimebase(), nQVZOR100_getTimerInterval());
  EXPECT_EQ(tTimebasePrecise::unit(), kTimeUnitNanoseconds);
  EXPECT_EQ(tTimebasePrecise::tickLength(), 1u);
  EXPECT_EQ(tTimebaseEfficient::unit(), kTimeUnitMicroseconds);
  u64 const tick = tTimebaseEfficient::tickLength();
  EXPECT_EQ(tick, nQVZOR100_getTimerInterval());

  EXPECT_EQ(tTimebasePrecise::now(), kStart);
  // Whole ticks only: the efficient base moves in steps of one interval.
  EXPECT_EQ(tTimebaseEfficient::now(), kStart / 1000 / tick * tick);
  sim::advanceClock(tick * 1000 - 1);
  EXPECT_EQ(tTimebaseEfficient::now(), (kStart / 1000 + tick - 1) / tick * tick);
  EXPECT_EQ(efficientTimerCount(), nQVZOR110_getTimerCount());
}

// ---- tTimeout --------------------------------------------------------------------

using PreciseSpin = tTimeout<tTimeWasterSpin, tTimebasePrecise>;
using PreciseSleep = tTimeout<tTimeWasterSleep, tTimebasePrecise>;
using EfficientSleep = tTimeout<tTimeWasterSleep, tTimebaseEfficient>;

TEST_F(VirtualClock, PreciseTimeoutSpansTheDurationPlusOneNanosecond) {
  PreciseSpin const timeout(10, true);
  EXPECT_EQ(timeout.span(), 10001u);
  EXPECT_EQ(timeout.start(), kStart);
  sim::advanceClock(10000);
  EXPECT_FALSE(timeout.expired());
  sim::advanceClock(1);
  EXPECT_TRUE(timeout.expired());
}

TEST_F(VirtualClock, ZeroTimeoutOnTheEfficientBaseStillLastsOneTick) {
  u64 const tickNs = tTimebaseEfficient::tickLength() * 1000;
  sim::useVirtualClock(kStart / tickNs * tickNs);  // on a tick boundary
  EfficientSleep const timeout(0, true);
  EXPECT_EQ(timeout.span(), tTimebaseEfficient::tickLength());
  EXPECT_FALSE(timeout.expired());
  sim::advanceClock(tickNs - 1);
  EXPECT_FALSE(timeout.expired());
  sim::advanceClock(1);
  EXPECT_TRUE(timeout.expired());
}

TEST_F(VirtualClock, SpanThatWouldOverflowIsTheConvertedDurationAlone) {
  EXPECT_EQ(EfficientSleep::spanOf(kMax - 10), kMax - 10);
  // Saturated on conversion, so never early either.
  PreciseSpin const timeout(20000000000000000ull, true);
  EXPECT_EQ(timeout.span(), kMax);
  sim::advanceClock(2000000000000000000ull);  // about 63 years
  EXPECT_FALSE(timeout.expired());
}

TEST_F(VirtualClock, UnarmedTimeoutNeverExpires) {
  PreciseSpin const timeout(0, false);
  sim::advanceClock(kMax - kStart - 1);
  EXPECT_FALSE(timeout.expired());
}

TEST_F(VirtualClock, SpinWasterReReadsTheClockAndNeverSleeps) {
  sim::setAutoAdvance(1000);
  PreciseSpin const timeout(0, false);
  u64 const before = sim::virtualNow();
  timeout.waste(10);
  u64 const spent = sim::virtualNow() - before;
  EXPECT_GE(spent, 10001u);
  EXPECT_LT(spent, 10001u + 3000u);  // at most one more round of reads
  EXPECT_TRUE(sim::sleepLog().empty());
}

TEST_F(VirtualClock, SleepWasterSleepsWholeMillisecondsThenZeroLengthSleeps) {
  // 250 us pass on every read of the counter, so the loop comes to an end.
  sim::setAutoAdvance(250000);
  PreciseSleep const timeout(0, false);
  u64 const before = sim::virtualNow();
  timeout.waste(2000);
  EXPECT_EQ(sim::sleepLog(), (std::vector<uint32_t>{1000, 0, 0, 0}));
  EXPECT_GE(sim::virtualNow() - before, 2000001u);
}

TEST(SleepRemainder, NeverWrapsTheLayersMicrosecondCount) {
  sim::resetSyncControls();
  sim::useVirtualClock(0);
  sleepRemainder(0, 5000000000000ull);  // 5000 s left
  sleepRemainder(1500000, 2000000);     // half a millisecond left
  std::vector<uint32_t> const log = sim::sleepLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], 4294967000u);
  EXPECT_EQ(log[1], 0u);
  sim::resetSyncControls();
}

// ---- Time of day ---------------------------------------------------------------------

TEST_F(VirtualClock, TimeOfDayCountsFrom1904InBinaryFractions) {
  sim::useVirtualClock(500000000);  // 1970-01-01 00:00:00.5 UTC
  tTimestamp stamp{1, 1};
  readTimeOfDay(stamp);
  EXPECT_EQ(stamp.seconds, 2082844800u);
  EXPECT_EQ(stamp.fraction, 500000u * 18446744073709ull);
  EXPECT_LT(stamp.fraction, 1ull << 63);
  EXPECT_GT(stamp.fraction, (1ull << 63) - 1000000000ull);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
