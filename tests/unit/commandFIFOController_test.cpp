// The command FIFO controller on a simulated module: every word reaches the
// FIFO, and the control step writes its bit and spins until the FIFO status
// shows both done bits, or gives up after 20 s of the layer's clock.
#include "source/qvrm7_driver/controllers/CommandFIFOController.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/rm7Module.h"
#include "host/layer/syncControl.h"
#include "source/qvrm7_driver/RM7Device.h"
#include "source/qvrm7_driver/RM7Helper.h"
#include "support/expectSite.h"

namespace qvrm7_driver {
namespace {

using Log = std::vector<sim::FpgaAccessRecord>;
constexpr sim::FpgaAccessRecord write(uint32_t offset, uint32_t value) {
  return {true, offset, 4, value};
}
constexpr sim::FpgaAccessRecord read(uint32_t offset, uint32_t value) {
  return {false, offset, 4, value};
}

TEST(CommandFIFOController, WritesEveryWordAndWaitsForBothDoneBits) {
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  sim::Rm7Module module;
  ASSERT_EQ(sim::plugIn(module.device()), 0);
  auto* const device =
      static_cast<RM7Device*>(static_cast<nQVWEND000::tDevice*>(module.device()->driverContext()));
  CommandFIFOController& fifo = device->helper()->commandFIFO();
  sim::FpgaBlock& block = module.fpga().sourceStreams();
  block.clearLog();

  nQVWEND000::tStatus status;
  fifo.writeFIFOWord(0x1234, status);
  fifo.writeFIFOWord(0x1234, status);
  EXPECT_EQ(block.log(), (Log{write(0, 0x1234), write(0, 0x1234)}));

  // The second step writes its bit again: the first one's write took it out
  // of the shadow.
  block.setReadValue(4, 0x1040000);
  for (int step = 0; step < 2; ++step) {
    block.clearLog();
    fifo.runControlStep(status);
    EXPECT_EQ(block.log(), (Log{write(4, 0x1000000), read(4, 0x1040000)}));
  }
  EXPECT_EQ(status.code, 0);

  sim::useVirtualClock();
  sim::setAutoAdvance(1000000);
  block.setReadValue(4, 0x1000000);
  uint64_t const start = sim::virtualNow();
  nQVWENDS100::tLongStatus timedOut;
  block.clearLog();
  fifo.runControlStep(timedOut);
  EXPECT_GT(block.log().size(), 2u) << "one bit alone is not done: the status is read again";
  testing_support::expectSite(timedOut, nQVWEND000::kStatusTimeout, "atut/poller/Poller", 585);
  EXPECT_GE(sim::virtualNow() - start, CommandFIFOController::kControlTimeout * 1000);
  sim::useRealClock();
  sim::unplug(*module.device());
}

}  // namespace
}  // namespace qvrm7_driver
