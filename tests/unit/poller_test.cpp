// Polls of a scripted target on the layer's virtual clock: nothing moves the
// clock but the poll itself, through its spins. Then every register that a
// wait polls, on its map over a simulated module, with the time policy that
// register's waits use. Then the command FIFO controller over a simulated
// module's source-stream block: every word reaches the FIFO, and the control
// step writes its bit and spins until the FIFO status shows both done bits,
// or gives up after 20 s of the clock.
#include "registers/poller.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "host/layer/syncControl.h"
#include "platform/statusCodes.h"
#include "registers/pollTargets.h"
#include "source/qvrm7_driver/controllers/CommandFIFOController.h"
#include "support/expectSite.h"
#include "support/isolationPort.h"
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

// ---- Each polled register with its own time policy ----

using sim::ChipAccess;
using tAccessor = tPCIMemorySpaceAccessorDebug<false>;
using testing_support::MappedModule;

constexpr u32 kDone = 0x100;  // no register's strobe bit: it reads back

// A register that a wait polls, in its map over the simulated module.
struct PolledRegister {
  std::function<void(unsigned long timeout, tStatus&)> poll;  // through its register's poller
  std::function<std::vector<ChipAccess>()> log;               // what reached the register's block
  std::function<void()> clearLog;
  std::function<void(u32)> setValue;  // what the register's reads give from now on
  std::shared_ptr<void> keep;         // the map and what it stands on
};

// Pauses of 1 us doubling up to 4 us; a bounded wait.
template <class Register>
std::function<void(unsigned long, tStatus&)> pollOf(Register& record) {
  return [&record](unsigned long timeout, tStatus& status) {
    atut::tRegisterPoller<Register>{1, 4, static_cast<i32>(kTimeoutCode), nullptr}.poll(
        record, &Register::readRegister, 0, kDone, timeout, true, atut::kPollAnyBitSet, status);
  };
}

// A map over its own accessor; a windowed one sees its whole block.
template <class Map>
struct MapOnBar {
  MapOnBar(u64 address, u32 size) : accessor{address, size}, map(build(&accessor)) {}
  static Map build(tAccessor* accessor) {
    if constexpr (std::is_constructible_v<Map, tAccessor*, u32, u32, u32>)
      return Map(accessor, 0, 0, 0xFFFFFFFF);
    else
      return Map(accessor);
  }
  tAccessor accessor;
  Map map;
};

// The register that `pick` finds in a map of the block at `address` of BAR 0.
template <class Map, class Block, class Pick>
auto inBlock(u64 address, u32 size, Block& (*block)(MappedModule&), Pick pick) {
  return [=](MappedModule& module, u32 offset) {
    auto built = std::make_shared<MapOnBar<Map>>(module.bar0() + address, size);
    Block& at = block(module);
    return PolledRegister{pollOf(pick(built->map)), [&at] { return at.log(); },
                          [&at] { at.clearLog(); },
                          [&at, offset](u32 value) { at.setReadValue(offset, value); }, built};
  };
}

sim::FpgaBlock& baseBlock(MappedModule& m) { return m.fpga().base(); }
sim::FpgaBlock& threadBlock(MappedModule& m) { return m.fpga().thread(); }
sim::FpgaBlock& slotBlock(MappedModule& m) { return m.fpga().slot(); }
sim::FpgaBlock& sourceStreamBlock(MappedModule& m) { return m.fpga().sourceStreams(); }
sim::RegisterBlock& bridgeBlock(MappedModule& m) { return m.module().vexus().registers(); }

template <class Pick>
auto inBase(Pick pick) {
  return inBlock<tRM7BaseRegMap>(sim::Rm7Fpga::kBaseBlock, sim::Rm7Fpga::kBaseSize, baseBlock,
                                 pick);
}

// The isolation port's register, read through the switched bridge port: the
// reads that reach it are the remote ones, at its remote address.
PolledRegister isolationPortRegister(MappedModule& module, u32 address) {
  auto built = std::make_shared<testing_support::IsolationPort>(module.bar0());
  sim::VexusChip& chip = module.module().vexus();
  return {pollOf(built->map.recordFor<0x80000004>()), [&chip] { return chip.remoteLog(); },
          [&chip] { chip.clearRemoteLog(); },
          [&chip, address](u32 value) {
            chip.setIsolationRegister(static_cast<uint8_t>(address), value);
          },
          built};
}

enum Waiter { kSpins, kSleeps };
enum Timebase { kPrecise, kEfficient };

struct PolledRow {
  char const* name;
  u32 offset;  // in its block; the isolation port's: its remote address
  Waiter waiter;
  Timebase timebase;
  std::function<PolledRegister(MappedModule&, u32)> build;
};

using tBase = tRM7BaseRegMap;
PolledRow const kPolledRows[] = {
    {"tImmediateErrorStatusReg", 0x14, kSpins, kPrecise,
     inBase([](tBase& m) -> tBase::tImmediateErrorStatusReg& { return m.immediateErrorStatus(); })},
    {"tSelfTestStatusReg", 0x24, kSpins, kPrecise,
     inBase([](tBase& m) -> tBase::tSelfTestStatusReg& { return m.selfTestStatus(); })},
    {"tCommandFifoStatus", 0x4, kSpins, kPrecise,
     inBlock<tHalcyonTmr9SourceStreams>(
         sim::Rm7Fpga::kSourceStreamBlock, sim::Rm7Fpga::kSourceStreamSize, sourceStreamBlock,
         [](tHalcyonTmr9SourceStreams& m) -> tHalcyonTmr9SourceStreams::tCommandFifoStatus& {
           return m.commandFifoStatus();
         })},
    {"tCommandThreadConfigStatusReg", 0x00, kSpins, kPrecise,
     inBlock<tRM7ThreadRegisterMap>(
         sim::Rm7Fpga::kThreadBlock, sim::Rm7Fpga::kThreadSize, threadBlock,
         [](tRM7ThreadRegisterMap& m) -> tRM7ThreadRegisterMap::tCommandThreadConfigStatusReg& {
           return m.commandThreadConfigStatus();
         })},
    {"tFlashSwResultsReg", 0x88, kSpins, kPrecise,
     inBase([](tBase& m) -> tBase::tFlashSwResultsReg& { return m.flashSwResults(); })},
    {"tSubCardFlashControlReg", 0x7C, kSleeps, kPrecise,
     inBase([](tBase& m) -> tBase::tSubCardFlashControlReg& { return m.subCardFlashControl(); })},
    {"tRelayCountConfigStatusReg", 0x70, kSpins, kPrecise,
     inBase([](tBase& m) -> tBase::tRelayCountConfigStatusReg& {
       return m.relayCountConfigStatus();
     })},
    {"tSlotConfigStatusReg", 0x00, kSpins, kPrecise,
     inBlock<tRM7SlotRegisterMap>(
         sim::Rm7Fpga::kSlotBlock, sim::Rm7Fpga::kSlotSize, slotBlock,
         [](tRM7SlotRegisterMap& m) -> tRM7SlotRegisterMap::tSlotConfigStatusReg& {
           return m.slotConfigStatus();
         })},
    {"tFPGALoadStatusRegister", 0x448, kSleeps, kEfficient,
     inBlock<vexustools::tVexusWithOffset<0u>>(
         0, 0x518, bridgeBlock,
         [](vexustools::tVexusWithOffset<0u>& m)
             -> vexustools::tVexusWithOffset<0u>::tFPGALoadStatusRegister& {
           return m.recordFor<0xC0000448>();
         })},
    {"tI2CReadDataStatusRegister", 0x534, kSleeps, kPrecise,
     inBlock<vexustools::tVexusI2CWithOffset<0u>>(
         0, 0x538, bridgeBlock,
         [](vexustools::tVexusI2CWithOffset<0u>& m)
             -> vexustools::tVexusI2CWithOffset<0u>::tI2CReadDataStatusRegister& {
           return m.recordFor<0xC0000534>();
         })},
    {"tIsolationPortControlStatusRegister", 0x04, kSleeps, kEfficient, isolationPortRegister},
    {"tConfigControlReg", 0x688, kSleeps, kEfficient,
     inBlock<vexustools::tSwitchedVexusBimRegMapWithOffset<0u>>(
         0, 0x704, bridgeBlock,
         [](vexustools::tSwitchedVexusBimRegMapWithOffset<0u>& m)
             -> vexustools::tSwitchedVexusBimRegMapWithOffset<0u>::tConfigControlReg& {
           return m.recordFor<0x80000688>();
         })},
};

// The poll re-reads the register where its map places it until the done bit
// shows, then stops; it lets time pass by its own waiter (a sleeping poll
// through the layer's sleep, a spinning one never) on its own time base (the
// precise one is the monotonic counter, the efficient one the timer count);
// a poll that never sees the bit gives up with its timeout code.
TEST_F(Polls, EveryPolledRegisterWaitsWithItsOwnWaiterAndTimeBase) {
  constexpr size_t kReadsWithout = 3;
  for (PolledRow const& row : kPolledRows) {
    SCOPED_TRACE(row.name);
    MappedModule module;
    sim::useVirtualClock(1000000000);
    PolledRegister polled = row.build(module, row.offset);
    polled.setValue(0);
    polled.clearLog();
    // The done bit shows from the fourth read on: set once three reads have
    // reached the register, before the next bus read.
    sim::setImportHook([&polled](char const* import) {
      if (std::string_view(import) == "nQVZOR100_memoryRead32" &&
          polled.log().size() == kReadsWithout)
        polled.setValue(kDone);
    });
    sim::enableCallLog(true);
    tLongStatus status;
    polled.poll(1000000, status);
    sim::setImportHook(nullptr);
    EXPECT_EQ(status.head.code, 0);
    std::vector<ChipAccess> reads(kReadsWithout, {false, row.offset, 4, 0});
    reads.push_back({false, row.offset, 4, kDone});
    EXPECT_EQ(polled.log(), reads);
    EXPECT_EQ(sim::callCount("nQVZOR250_sleepTimeout") != 0, row.waiter == kSleeps);
    EXPECT_EQ(sim::callCount("nQVZOR1_getMonotonicCounter") != 0, row.timebase == kPrecise);
    EXPECT_EQ(sim::callCount("nQVZOR110_getTimerCount") != 0, row.timebase == kEfficient);

    polled.setValue(0);
    polled.clearLog();
    tLongStatus timedOut;
    polled.poll(100, timedOut);
    expectSite(timedOut, kTimeoutCode, "atut/poller/Poller", 585);
    std::vector<ChipAccess> const log = polled.log();
    EXPECT_GE(log.size(), 2u);
    EXPECT_EQ(log, std::vector<ChipAccess>(log.size(), {false, row.offset, 4, 0}));
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
