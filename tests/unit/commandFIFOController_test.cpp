// The command FIFO controller over a simulated module's source-stream block:
// every word reaches the FIFO, and the control step writes its bit and spins
// until the FIFO status shows both done bits, or gives up after 20 s of the
// layer's clock.
#include "source/qvrm7_driver/controllers/CommandFIFOController.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/layer/syncControl.h"
#include "support/expectSite.h"
#include "support/mappedModule.h"

namespace qvrm7_driver {
namespace {

using Log = std::vector<sim::FpgaAccessRecord>;

TEST(CommandFIFOController, WritesEveryWordAndWaitsForBothDoneBits) {
  testing_support::MappedModule module;
  nQVWEND000::tPCIMemorySpaceAccessorDebug<false> accessor{
      module.bar0() + sim::Rm7Fpga::kSourceStreamBlock, sim::Rm7Fpga::kSourceStreamSize};
  tHalcyonTmr9SourceStreams map(&accessor, 0, 0, 0xFFFFFFFF);
  nQVWEND000::tStatus status;
  nQVWEND000::tMutex mutex(status);
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
  nQVWENDS100::tLongStatus timedOut;
  fifo.runControlStep(timedOut);
  EXPECT_GT(block.log().size(), 2u) << "one bit alone is not done: the status is read again";
  testing_support::expectSite(timedOut, nQVWEND000::kStatusTimeout, "atut/poller/Poller", 585);
  EXPECT_GE(sim::virtualNow(), CommandFIFOController::kControlTimeout * 1000);
}

}  // namespace
}  // namespace qvrm7_driver
