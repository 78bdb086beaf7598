// Lines as they reach the kernel log, the halt path and the assertion texts.
#include "platform/debugPrint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "host/layer/control.h"
#include "platform/containers/tArray.h"
#include "platform/kernelServices.h"
#include "platform/runtime.h"
#include "platform/trace.h"

using namespace qvrm7_driver;
using namespace qvrm7_driver::qvsdbg;

namespace {

class DebugPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::throwOnHalt();
  }
  void TearDown() override {
    debugHaltHook = debugHalt;
    debugLevelThreshold = 4096;
    debugFileWidth = 32;
    sim::reset();
  }

  template <class F>
  sim::HaltRecord expectHalt(F&& code) {
    try {
      code();
    } catch (sim::HaltTrap const& trap) {
      return trap.record;
    }
    ADD_FAILURE() << "no halt";
    return {};
  }
};

std::string out() { return sim::debugOutput(); }
std::string spaces(size_t n) { return std::string(n, ' '); }

// A line printed from file "f", line 1.
void printAtF(char const* text, char const* terminator = "\n") {
  tLineContext const context{"f", 1, terminator};
  debugLinePrintf(&context, "%s", text);
}
std::string const kPrefixF = "[rm7_driver|" + spaces(31) + "f|0001] ";

// A negative width is no width.
TEST_F(DebugPrint, PrefixFieldsAreRightAlignedAndKeepTheirTails) {
  for (auto [file, line, width, prefix] : {
           std::tuple{"io.cpp", 7, 32, "[rm7_driver|" + spaces(26) + "io.cpp|0007] "},
           {"0123456789abcdefghijklmnopqrstuvwxyzABCD", 456, 32,
            "[rm7_driver|89abcdefghijklmnopqrstuvwxyzABCD|0456] "},
           {"f", 12345, 32, "[rm7_driver|" + spaces(31) + "f|2345] "},
           {"f", 1, -2, std::string("[rm7_driver|f|0001] ")},
       }) {
    sim::clearDebugOutput();
    debugFileWidth = width;
    tLineContext const context{file, line, "\n"};
    debugLinePrintf(&context, "v%d", 1);
    EXPECT_EQ(out(), prefix + "v1\n");
  }
}

TEST_F(DebugPrint, LinesAreCutAt255AndTheTerminatorStaysInsideTheLine) {
  std::string const message(300, 'm');
  debugPrintf("%s", message.c_str());
  EXPECT_EQ(out(), message.substr(0, 255));
  sim::clearDebugOutput();
  printAtF(message.c_str());
  EXPECT_EQ(out(), kPrefixF + std::string(254 - kPrefixF.size(), 'm') + "\n");

  sim::clearDebugOutput();  // a terminator that can never fit is cut like any text
  std::string const terminator(300, 't');
  printAtF("message", terminator.c_str());
  EXPECT_EQ(out(), kPrefixF + "message" + terminator.substr(0, 255 - kPrefixF.size() - 7));

  sim::clearDebugOutput();  // a prefix longer than the line still ends in the terminator
  debugFileWidth = 400;
  printAtF("lost");
  EXPECT_EQ(out(), "[rm7_driver|" + spaces(242) + "\n");
}

TEST_F(DebugPrint, LevelledPrintsNeedTheThresholdAndAFailedFormatterPrintsNothing) {
  tLineContext const context{"f", 1, "\n"};
  debugPrintfLevel(4095, "low ");
  debugLinePrintfLevel(4095, &context, "low");
  debugPrintfLevel(4096, "at ");
  debugLinePrintfLevel(0x4000, &context, "gate");
  EXPECT_EQ(out(), "at " + kPrefixF + "gate\n");

  // A failed formatter prints nothing of the stack.
  sim::clearDebugOutput();
  sim::failEveryCall("nQVZOR100_vsnPrintf");
  debugPrintf("%s", "never formatted");
  EXPECT_EQ(out(), "");
  printAtF("never formatted");
  EXPECT_EQ(out(), kPrefixF + "\n");
}

TEST_F(DebugPrint, BufferWritersCutToTheSizeAndASizeOfZeroWritesNothing) {
  char buffer[8];
  EXPECT_EQ(concatenateStrings(buffer, sizeof buffer, 2, "abcde", "fghij"), 8u);  // with the NUL
  EXPECT_STREQ(buffer, "abcdefg");
  qvsdbg_VarLineToBuffer(buffer, sizeof buffer).print("%s", "0123456789");
  EXPECT_STREQ(buffer, "0123456");

  char guard[3] = {'#', '#', '#'};
  EXPECT_EQ(concatenateStrings(guard + 1, 0, 1, "a"), 0u);
  qvsdbg_VarLineToBuffer(guard + 1, 0).print("%s", "text");
  EXPECT_EQ(std::string(guard, 3), "###");
  EXPECT_EQ(out(), "");
}

TEST_F(DebugPrint, FixedArrayOverrunPrintsTheAssertionThenHalts) {
  nQVWEND000::tArray<u8, 256> path;
  while (path.size() < 256) path.insert(0, static_cast<u8>(path.size()));
  EXPECT_EQ(expectHalt([&] { path.insert(0, 0xFF); }).line, 456u);
  std::string const prefix = "[rm7_driver|" + spaces(26) + "tArray|0456] ";
  EXPECT_EQ(out(), "[qvrm7_driver|tArray|456] !!ASSERT!!\n" + prefix +
                       "ASSERT(_size+n <= kMaxSize) \n" + prefix + " \n");
  EXPECT_EQ(path.size(), 256u);  // nothing moved
  EXPECT_EQ(path[255], 0);

  nQVWEND000::tArray<u8, 256> one;
  one.insert(0, 1);
  EXPECT_EQ(expectHalt([&] { one.insert(2, 2); }).text, "ASSERT(position <= _size) ");
  EXPECT_EQ(one.size(), 1u);
}

TEST_F(DebugPrint, HaltsNameTheirPlaceEvenAfterAHookThatReturns) {
  expectHalt([] { pureVirtualCalled(); });
  EXPECT_EQ(out(),
            "[qvrm7_driver|initializeCPPRunTime|348] !!ASSERT!!\n"
            "BUG: A call to a pure virtual function was made!\n");
  sim::HaltRecord halt = expectHalt([] { debugHalt(nullptr, nullptr); });
  EXPECT_EQ(std::tie(halt.file, halt.line, halt.text), std::tuple("debugPrint", 341u, "halt"));
  debugBreak("warning", "c", 0, 1, "f");
  EXPECT_EQ(sim::halts().size(), 2u);
  EXPECT_EQ(expectHalt([] { debugBreak("io", "c", 0, 1, "f"); }).text, "WEND debug break");

  static std::vector<std::string> seen;
  debugHaltHook = [](tLineContext const*, char const* message) { seen.emplace_back(message); };
  EXPECT_EQ(expectHalt([] { nQVWEND000::assertionFailed("f", 1, "expr"); }).text, "expr");
  EXPECT_EQ(expectHalt([] { pureVirtualCalled(); }).text, "ASSERT");
  EXPECT_EQ(seen, (std::vector<std::string>{"expr", "ASSERT"}));
}

// The runtime builds the global trace on the console and tears it down with
// its mutex; a report without it prints nothing.
TEST_F(DebugPrint, AssertionReportsReachTheConsoleOnlyWhileTheRuntimeRuns) {
  uint64_t const before = sim::liveAllocations();
  nQVWEND000::runtimeInit();
  for (char const* category : {"default", "warning", "io"}) {
    assertionReport(category, "qvrm7_driver", 0, 12, "src/check.cpp", "size");
  }
  std::string const prefix = "[qvrm7_driver--12--check.cpp" + std::string(21, '-') + "] ";
  EXPECT_EQ(out(), prefix + "ASSERTION FAILED: size\n" + prefix + "ASSERTION WARNING: size\n" +
                       prefix + "ASSERTION FAILED (io): size\n");
  nQVWEND000::getTraceInstance()->enableThreadSafety();
  sim::enableCallLog(true);
  nQVWEND000::runtimeDeinit();
  EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), 1u);
  EXPECT_EQ(sim::liveAllocations(), before);
  sim::clearDebugOutput();
  assertionReport("default", "qvrm7_driver", 0, 12, "check.cpp", "no trace, no line");
  EXPECT_EQ(out(), "");
}

TEST_F(DebugPrint, ThreadSlotDepthIndentsPrefixedLinesAndAStrayReleaseIsIgnored) {
  tThreadSlot* slot = acquireThreadSlot();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(acquireThreadSlot(), slot);
  printAtF("in");
  EXPECT_EQ(out(), kPrefixF + "  in\n");
  for (int i = 0; i < 3; ++i) releaseThreadSlot(slot);  // the last never held: no wrap
  EXPECT_EQ(findThreadSlot(nQVZOR100_getThreadID()), nullptr);
  EXPECT_EQ(std::tie(slot->depth, slot->inUse), std::tuple(0u, 0u));
}

}  // namespace
