// Polls of a scripted target on the layer's virtual clock: nothing moves the
// clock but the poll itself, through its spins. Then the command FIFO
// controller over a simulated module's source-stream block: every word
// reaches the FIFO, and the control step writes its bit and spins until the
// FIFO status shows both done bits, or gives up after 20 s of the clock.
#include "registers/poller.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/layer/syncControl.h"
#include "platform/statusCodes.h"
#include "source/qvrm7_driver/controllers/CommandFIFOController.h"
#include "support/expectSite.h"
#include "support/layerTest.h"
#include "support/mappedModule.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using testing_support::expectSite;

using SpinPoller = atut::Poller<tTimeout<tTimeWasterSpin, tTimebasePrecise>>;
constexpr i64 kTimeoutCode = driverCode(0xBFFA807Du);

// Reads its script in order, the last value for ever, and notes when.
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

using Polls = testing_support::LayerTest;

TEST_F(Polls, ConditionsStatusesAndTheHandlerDecideTheOutcome) {
  Handler handler;
  struct Case {
    u32 condition, mask, value;
    std::vector<u32> script;
    size_t reads;  // timeout 5, pauses of 2: four reads when nothing holds
    i64 code = 0;
    u64 line = 0;  // of the poller's own code
    i64 entry = 0;
    size_t failingRead = 0;
    bool handled = false;
  } const cases[] = {
      {0, 0x30, 0, {0x40, 0x10}, 2},
      {1, 0x30, 0, {0x10, 0x31}, 2},
      {1, 0x30, 0, {0x10}, 4, kTimeoutCode, 585},
      {2, 0x30, 0x30, {0x10, 0x40}, 2},
      {3, 0x0F, 0x03, {0xF1, 0xF3}, 2},
      {3, 0x0F, 0xF3, {0xF3}, 4, kTimeoutCode, 585},
      {4, 0xFF, 0xFF, {0xFF}, 1, kStatusBadArgument, 611},
      {0xFFFFFFFF, 0xFF, 0xFF, {0xFF}, 1, kStatusBadArgument, 611},
      {0, 1, 0, {1}, 0, -1, 0, -1},  // an error on entry: nothing read
      {0, 1, 0, {0, 0, 0, 1}, 4, kStatusVersionNewer, 0, kStatusVersionNewer},  // warnings go on
      {0, 1, 0, {0}, 2, kStatusNotAvailable, 0, 0, 2},        // a read error ends it
      {0, 1, 0, {0, 1}, 2, kStatusNotAvailable, 0, 0, 2},     // unless its value holds
      {0, 1, 0, {0}, 4, 0, 0, 0, 0, true},                    // the handler instead of the code
      {0, 1, 0, {0}, 1, kStatusNotAvailable, 0, 0, 1, true},  // and it sees the read error
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    sim::useVirtualClock(1000000000);  // each poll starts on a clock at rest
    handler.seen.clear();
    Target target{c.script, c.failingRead};
    tLongStatus status;
    status.head.code = c.entry;
    SpinPoller{2, 2, static_cast<i32>(kTimeoutCode), c.handled ? &handler : nullptr}.poll(
        target, &Target::read, c.value, c.mask, 5, true,
        static_cast<atut::PollCondition>(c.condition), status);
    EXPECT_EQ(status.head.code, c.code);
    if (c.line != 0) expectSite(status, c.code, "atut/poller/Poller", c.line);
    EXPECT_EQ(target.times.size(), c.reads);
    EXPECT_EQ(handler.seen, c.handled ? std::vector<i64>{c.code} : std::vector<i64>{});
  }
}

// Records its pauses instead of spinning; a deadline passes after three.
// Pauses too long for any clock to show: doubling must not wrap them short.
struct RecordingTimeout {
  RecordingTimeout(u64, bool useTimeout) : limited(useTimeout) {}
  bool expired() const { return limited && pauses.size() >= 3; }
  void waste(u64 microseconds) const { pauses.push_back(microseconds); }
  bool limited;
  static inline std::vector<u64> pauses;
};

TEST_F(Polls, DoublingSaturatesAtTheMaximumInsteadOfWrapping) {
  struct Case {
    u64 initial, maximum;
    std::vector<u32> script;  // one value never ends the poll: the deadline does
    std::vector<u64> pauses;  // microseconds
  } const cases[] = {
      {1, 8, {0}, {1, 2, 4, 8}},  // the pass that finds the deadline passed still pauses
      {u64{1} << 63, ~u64{0}, {0}, {u64{1} << 63, ~u64{0}, ~u64{0}, ~u64{0}}},
      {10, 3, {0, 0, 0, 0, 1}, {10, 3, 3, 3}},
      {0, 5, {0, 0, 0, 1}, {0, 0, 0}},
      {5, 0, {0, 0, 1}, {}},  // no pauses at all
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message() << "initial " << c.initial << " maximum " << c.maximum);
    RecordingTimeout::pauses.clear();
    Target target{c.script};
    tStatus status;
    bool const timesOut = c.script.size() == 1;
    atut::Poller<RecordingTimeout>{c.initial, c.maximum, static_cast<i32>(kTimeoutCode), nullptr}
        .poll(target, &Target::read, 1, 1, 0, timesOut, atut::kPollAllBitsSet, status);
    EXPECT_EQ(status.code, timesOut ? kTimeoutCode : 0);
    EXPECT_EQ(RecordingTimeout::pauses, c.pauses);
    EXPECT_EQ(target.times.size(), timesOut ? c.pauses.size() : c.script.size());
  }
}

using Log = std::vector<sim::FpgaAccessRecord>;

TEST(CommandFIFOController, WritesEveryWordAndWaitsForBothDoneBits) {
  testing_support::MappedModule module;
  tPCIMemorySpaceAccessorDebug<false> accessor{module.bar0() + sim::Rm7Fpga::kSourceStreamBlock,
                                               sim::Rm7Fpga::kSourceStreamSize};
  tHalcyonTmr9SourceStreams map(&accessor, 0, 0, 0xFFFFFFFF);
  tStatus status;
  tMutex mutex(status);
  CommandFIFOController fifo(map, mutex);
  sim::FpgaBlock& block = module.fpga().sourceStreams();

  fifo.writeFIFOWord(0x1234, status);
  fifo.writeFIFOWord(0x1234, status);
  EXPECT_EQ(block.log(), (Log{{true, 0, 4, 0x1234}, {true, 0, 4, 0x1234}}));

  // The second step writes its bit again: the first one's write took it out
  // of the shadow.
  block.setReadValue(4, 0x1040000);
  for (int step = 0; step < 2; ++step) {
    block.clearLog();
    fifo.runControlStep(status);
    EXPECT_EQ(block.log(), (Log{{true, 4, 4, 0x1000000}, {false, 4, 4, 0x1040000}}));
  }
  EXPECT_EQ(status.code, 0);

  sim::useVirtualClock();
  sim::setAutoAdvance(1000000);
  block.setReadValue(4, 0x1000000);
  block.clearLog();
  tLongStatus timedOut;
  fifo.runControlStep(timedOut);
  EXPECT_GT(block.log().size(), 2u) << "one bit alone is not done: the status is read again";
  expectSite(timedOut, kStatusTimeout, "atut/poller/Poller", 585);
  EXPECT_GE(sim::virtualNow(), CommandFIFOController::kControlTimeout * 1000);
}

}  // namespace
