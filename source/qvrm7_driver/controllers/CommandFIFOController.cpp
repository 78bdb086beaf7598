#include "source/qvrm7_driver/controllers/CommandFIFOController.h"

#include "platform/statusCodes.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

constexpr u32 kControlBit = 0x1000000;

// Pauses of the spin, in microseconds.
constexpr u64 kInitialWait = 1;
constexpr u64 kMaximumWait = 100;

}  // namespace

CommandFIFOController::CommandFIFOController(tHalcyonTmr9SourceStreams& sourceStreams,
                                             tMutex& registrationMutex)
    : sourceStreams_(sourceStreams),
      mutex_(registrationMutex),
      poller_(kInitialWait, kMaximumWait, static_cast<i32>(kStatusTimeout)) {}

void CommandFIFOController::writeFIFOWord(u32 word, tStatus& status) {
  if (status.isFatal()) return;
  tMutexGuard guard(mutex_);
  sourceStreams_.commandFifoData().writeRegister(word, status, true);
}

void CommandFIFOController::runControlStep(tStatus& status) {
  if (status.isFatal()) return;
  tMutexGuard guard(mutex_);
  tHalcyonTmr9SourceStreams::tCommandFifoControl& control = sourceStreams_.commandFifoControl();
  control.set(control.get() | kControlBit);
  control.flush(status, false);
  if (status.isFatal()) return;
  using tFifoStatus = tHalcyonTmr9SourceStreams::tCommandFifoStatus;
  poller_.poller().poll(sourceStreams_.commandFifoStatus(), &tFifoStatus::readRegister,
                        kControlDone, kControlDone, kControlTimeout, true, atut::kPollMaskedEqual,
                        status);
}

}  // namespace qvrm7_driver
