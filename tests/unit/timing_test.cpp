// Time units, time bases, deadlines and the two time wasters, all on the
// stand-in's virtual clock.

#include "platform/timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "host/layer/syncControl.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

constexpr u64 kMax = UINT64_MAX;

// Units above hours keep stepping by 60; finer units saturate instead of
// wrapping: 2e16 us is 2e19 ns, past 2^64, and wrapped it would be about
// 1.55e18 ns, a deadline some 600 years too early.
TEST(TimeUnits, ConvertsAcrossTheScaleAndSaturates) {
  constexpr auto ns = kTimeUnitNanoseconds, us = kTimeUnitMicroseconds, ms = kTimeUnitMilliseconds,
                 s = kTimeUnitSeconds, min = kTimeUnitMinutes, h = kTimeUnitHours,
                 u7 = static_cast<nQVWEND200_tTimeUnit>(7),
                 u8 = static_cast<nQVWEND200_tTimeUnit>(8),
                 bad = static_cast<nQVWEND200_tTimeUnit>(0xFFFFFFFFu);
  struct Conversion {
    u64 value;
    nQVWEND200_tTimeUnit from, to;
    u64 expected;
  };
  Conversion const neighbours[] = {
      {1, s, us, 1000000},       {90, min, h, 1},      {999, us, ms, 0},
      {0, bad, ns, 0},           {1, u7, h, 60},       {3600, h, u8, 1},
      {2, h, ns, 7200000000000}, {kMax, ns, ns, kMax}, {7199999999999, ns, h, 1},
  };
  Conversion const saturating[] = {
      {20000000000000000ull, us, ns, kMax},
      {kMax / 1000 + 1, us, ns, kMax},
      {kMax / 1000, us, ns, kMax / 1000 * 1000},
      {1ull << 40, h, ns, kMax},
  };
  auto const check = [](Conversion const& c) {
    EXPECT_EQ(convertTimeUnits(c.value, c.from, c.to), c.expected)
        << c.value << " from unit " << c.from << " to unit " << c.to;
  };
  for (Conversion const& c : neighbours) check(c);
  for (Conversion const& c : saturating) check(c);
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

// ---- tTimeout --------------------------------------------------------------------

using PreciseSpin = tTimeout<tTimeWasterSpin, tTimebasePrecise>;
using PreciseSleep = tTimeout<tTimeWasterSleep, tTimebasePrecise>;
using EfficientSleep = tTimeout<tTimeWasterSleep, tTimebaseEfficient>;

// A zero timeout on the efficient base still lasts one tick.
TEST_F(VirtualClock, TimeoutSpansTheDurationPlusOneUnitWhenArmedAndNeverOverflows) {
  PreciseSpin const timeout(10, true);
  PreciseSpin const unarmed(10, false);
  EXPECT_EQ(timeout.span(), 10001u);
  sim::advanceClock(10000);
  EXPECT_FALSE(timeout.expired());
  sim::advanceClock(1);
  EXPECT_TRUE(timeout.expired());
  sim::advanceClock(kMax - kStart - 10002);
  EXPECT_FALSE(unarmed.expired());

  // A span that would overflow is the converted duration alone: saturated on
  // conversion, so never early either.
  EXPECT_EQ(EfficientSleep::spanOf(kMax - 10), kMax - 10);
  sim::useVirtualClock(kStart);
  PreciseSpin const huge(20000000000000000ull, true);
  EXPECT_EQ(huge.span(), kMax);
  sim::advanceClock(2000000000000000000ull);  // about 63 years
  EXPECT_FALSE(huge.expired());

  u64 const tickNs = tTimebaseEfficient::tickLength() * 1000;
  sim::useVirtualClock(kStart / tickNs * tickNs);  // on a tick boundary
  EfficientSleep const zero(0, true);
  sim::advanceClock(tickNs - 1);
  EXPECT_FALSE(zero.expired());
  sim::advanceClock(1);
  EXPECT_TRUE(zero.expired());
}

// Seconds since 1904 and the microseconds as a binary fraction of 2^64.
TEST_F(VirtualClock, TimeOfDayCountsFrom1904InBinaryFractions) {
  sim::useVirtualClock(500000000);  // 1970-01-01 00:00:00.5 UTC
  tTimestamp stamp{1, 1};
  readTimeOfDay(stamp);
  EXPECT_EQ(stamp.seconds, 2082844800u);
  EXPECT_EQ(stamp.fraction, 500000u * 18446744073709ull);
}

// The spin waster re-reads the clock and never sleeps. Without time passing
// on reads the sleep waster's zero-length sleeps still end the wait: each
// lets a microsecond pass, as a real clock would.
TEST_F(VirtualClock, SleepWasterSleepsWholeMillisecondsThenZeroLengthSleeps) {
  u64 const start = sim::virtualNow();
  PreciseSleep(0, false).waste(1500);
  std::vector<uint32_t> const sleeps = sim::sleepLog();
  EXPECT_EQ(sleeps.front(), 1000u);
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 0u), static_cast<long>(sleeps.size() - 1));
  EXPECT_LE(sleeps.size(), 1u + 502u);  // about one per microsecond left
  EXPECT_GE(sim::virtualNow() - start, 1500000u);

  // The remainder never wraps the layer's microsecond count.
  sim::clearSleepLog();
  sleepRemainder(0, 5000000000000ull);  // 5000 s left
  sleepRemainder(1500000, 2000000);     // half a millisecond left
  EXPECT_EQ(sim::sleepLog(), (std::vector<uint32_t>{4294967000u, 0}));

  sim::clearSleepLog();
  sim::setAutoAdvance(1000);
  u64 const before = sim::virtualNow();
  PreciseSpin(0, false).waste(10);
  u64 const spent = sim::virtualNow() - before;
  EXPECT_GE(spent, 10001u);
  EXPECT_LT(spent, 10001u + 3000u);  // at most one more round of reads
  EXPECT_TRUE(sim::sleepLog().empty());
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
