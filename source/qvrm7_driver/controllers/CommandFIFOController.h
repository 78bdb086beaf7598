// Relay command words into the FPGA's command FIFO through the source-stream
// map. The map is registered, so user space may reach the same records by
// name: the controller works on them under that registration's mutex, never
// under a lock of its own.
#pragma once

#include "platform/synchronization.h"
#include "platform/timing.h"
#include "registers/generated/HalcyonTmr9SourceStreams.h"
#include "registers/pollTargets.h"

namespace qvrm7_driver {

class CommandFIFOController {
 public:
  // The FIFO status the control step waits for, and how long it spins.
  static constexpr u32 kControlDone = 0x1040000;
  static constexpr u64 kControlTimeout = 20000000;

  CommandFIFOController(tHalcyonTmr9SourceStreams& sourceStreams,
                        nQVWEND000::tMutex& registrationMutex);
  CommandFIFOController(CommandFIFOController const&) = delete;
  CommandFIFOController& operator=(CommandFIFOController const&) = delete;

  // Every word reaches the FIFO, the same word twice included.
  void writeFIFOWord(u32 word, nQVWEND000::tStatus& status);
  // Sets the control bit, writes the control register when that changed it
  // or it was not yet written, and spins until the FIFO status shows both
  // done bits.
  void runControlStep(nQVWEND000::tStatus& status);

 private:
  using tPoller =
      RegisterPoller<atut::tRegisterTimeout<tHalcyonTmr9SourceStreams::tCommandFifoStatus>>;

  tHalcyonTmr9SourceStreams& sourceStreams_;
  nQVWEND000::tMutex& mutex_;
  tPoller poller_;
};

}  // namespace qvrm7_driver
