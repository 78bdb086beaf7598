// Lines as they reach the kernel log, the halt path and the assertion texts.
#include "platform/debugPrint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/assertion.h"
#include "platform/kernelServices.h"
#include "platform/runtime.h"

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

TEST_F(DebugPrint, PrefixFieldsAreRightAlignedAndKeepTheirTails) {
  struct {
    char const* file;
    i32 line;
    std::string prefix;
  } const cases[] = {
      {"io.cpp", 7, "[rm7_driver|" + spaces(26) + "io.cpp|0007] "},
      {"a.cpp", 0, "[rm7_driver|" + spaces(27) + "a.cpp|0000] "},
      {"0123456789abcdefghijklmnopqrstuvwxyzABCD", 456,
       "[rm7_driver|89abcdefghijklmnopqrstuvwxyzABCD|0456] "},
      {"f", 12345, "[rm7_driver|" + spaces(31) + "f|2345] "},
  };
  for (auto const& c : cases) {
    sim::clearDebugOutput();
    tLineContext const context{c.file, c.line, "\n"};
    debugLinePrintf(&context, "v%d", 1);
    EXPECT_EQ(out(), c.prefix + "v1\n");
  }
}

TEST_F(DebugPrint, LinesAreCutAt255AndAPrefixedLineKeepsItsTerminator) {
  std::string const message(300, 'm');
  debugPrintf("%s", message.c_str());
  EXPECT_EQ(out(), message.substr(0, 255));

  sim::clearDebugOutput();
  tLineContext const context{"io.cpp", 7, "\n"};
  debugLinePrintf(&context, "%s", message.c_str());
  std::string const prefix = "[rm7_driver|" + spaces(26) + "io.cpp|0007] ";
  EXPECT_EQ(out(), prefix + std::string(254 - prefix.size(), 'm') + "\n");
}

TEST_F(DebugPrint, OversizedTerminatorOrPrefixStaysInsideTheLine) {
  std::string const terminator(300, 't');
  tLineContext const context{"io.cpp", 7, terminator.c_str()};
  debugLinePrintf(&context, "message");
  std::string const prefix = "[rm7_driver|" + spaces(26) + "io.cpp|0007] ";
  EXPECT_EQ(out(), prefix + "message" + terminator.substr(0, 255 - prefix.size() - 7));

  sim::clearDebugOutput();
  debugFileWidth = 400;
  tLineContext const wide{"f", 1, "\n"};
  debugLinePrintf(&wide, "lost");
  std::string const line = out();
  ASSERT_EQ(line.size(), 255u);
  EXPECT_EQ(line.substr(0, 12), "[rm7_driver|");
  EXPECT_EQ(line.back(), '\n');
}

TEST_F(DebugPrint, LevelledPrintsNeedTheThreshold) {
  tLineContext const context{"f", 1, "\n"};
  debugPrintfLevel(4095, "low ");
  debugLinePrintfLevel(4095, &context, "low");
  debugPrintfLevel(4096, "at ");
  debugPrintfLevel(16384, "above ");
  debugLinePrintfLevel(0x4000, &context, "gate");
  EXPECT_EQ(out(), "at above [rm7_driver|" + spaces(31) + "f|0001] gate\n");
}

TEST_F(DebugPrint, FailedFormatterPrintsNothingOfTheStack) {
  sim::failNthCall("nQVZOR100_vsnPrintf", 1);
  debugPrintf("%s", "never formatted");
  EXPECT_EQ(out(), "");
  sim::failNthCall("nQVZOR100_vsnPrintf", 1);
  tLineContext const context{"f", 1, "\n"};
  debugLinePrintf(&context, "%s", "never formatted");
  EXPECT_EQ(out(), "[rm7_driver|" + spaces(31) + "f|0001] \n");
}

TEST_F(DebugPrint, WritePaddedAlignsRightAndCutsToTheRoom) {
  struct {
    char const* text;
    i32 width;
    char pad;
    u64 room;
    char const* expected;
  } const cases[] = {
      {"abc", 0, ' ', 64, "abc"},                   // width 0: the whole text
      {"abc", 6, ' ', 64, "   abc"},                // padded in front
      {"qvrm7_driver", 10, ' ', 64, "rm7_driver"},  // a longer text keeps its tail
      {"abc", 6, '.', 4, "..."},                    // three bytes and the NUL
      {"abc", 0, ' ', 1, ""},                       // only the NUL
      {"abc", -2, ' ', 64, "abc"},                  // a negative width is no width
  };
  for (auto const& c : cases) {
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    char* end = writePadded(buffer, c.room, c.text, c.width, c.pad);
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(end, buffer + std::strlen(c.expected));
    if (c.room < sizeof buffer) {
      EXPECT_EQ(buffer[c.room], '#') << "past the room";
    }
  }
}

TEST_F(DebugPrint, ConcatenateStringsCountsTheNulAndNeverPassesTheSize) {
  char buffer[8];
  EXPECT_EQ(concatenateStrings(buffer, sizeof buffer, 3, "ab", "cd", "e"), 6u);
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_EQ(concatenateStrings(buffer, sizeof buffer, 2, "abcde", "fghij"), 8u);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(concatenateStrings(buffer, sizeof buffer, 0), 1u);
  EXPECT_STREQ(buffer, "");
  buffer[0] = '#';
  EXPECT_EQ(concatenateStrings(buffer, 0, 1, "a"), 0u);
  EXPECT_EQ(buffer[0], '#');
}

TEST_F(DebugPrint, VarLineToBufferCutsAndASizeOfZeroWritesNothing) {
  char buffer[8];
  qvsdbg_VarLineToBuffer(buffer, sizeof buffer).print("%s", "0123456789");
  EXPECT_STREQ(buffer, "0123456");
  char guard[3] = {'#', '#', '#'};
  qvsdbg_VarLineToBuffer(guard + 1, 0).print("%s", "text");
  EXPECT_EQ(std::string(guard, 3), "###");
  EXPECT_EQ(out(), "");
}

TEST_F(DebugPrint, AssertionPrintsItsSequenceThenHaltsWithTheExpression) {
  sim::HaltRecord halt =
      expectHalt([] { nQVWEND000::assertionFailed("tArray", 120, "ASSERT(_size+n <= kMaxSize)"); });
  std::string const prefix = "[rm7_driver|" + spaces(26) + "tArray|0120] ";
  EXPECT_EQ(out(), "[qvrm7_driver|tArray|120] !!ASSERT!!\n" + prefix +
                       "ASSERT(_size+n <= kMaxSize)\n" + prefix + " \n");
  EXPECT_EQ(halt.driver, "qvrm7_driver");
  EXPECT_EQ(halt.file, "tArray");
  EXPECT_EQ(halt.line, 120u);
  EXPECT_EQ(halt.text, "ASSERT(_size+n <= kMaxSize)");
}

TEST_F(DebugPrint, PureVirtualCallPrintsTheBugLineAndHalts) {
  sim::HaltRecord halt = expectHalt([] { pureVirtualCalled(); });
  EXPECT_EQ(out(),
            "[qvrm7_driver|initializeCPPRunTime|348] !!ASSERT!!\n"
            "BUG: A call to a pure virtual function was made!\n");
  EXPECT_EQ(halt.file, "initializeCPPRunTime");
  EXPECT_EQ(halt.line, 348u);
  EXPECT_EQ(halt.text, "ASSERT");
}

TEST_F(DebugPrint, HaltsWithoutContextAndDebugBreaks) {
  sim::HaltRecord halt = expectHalt([] { debugHalt(nullptr, nullptr); });
  EXPECT_EQ(halt.file, "debugPrint");
  EXPECT_EQ(halt.line, 341u);
  EXPECT_EQ(halt.text, "halt");

  debugBreak("warning", "c", 0, 1, "f");
  EXPECT_EQ(sim::halts().size(), 1u);
  halt = expectHalt([] { debugBreak("io", "c", 0, 1, "f"); });
  EXPECT_EQ(halt.text, "WEND debug break");
  EXPECT_EQ(halt.line, 341u);
}

TEST_F(DebugPrint, AHaltHookThatReturnsStillEndsInTheLayersHalt) {
  static std::vector<std::string> seen;
  debugHaltHook = [](tLineContext const*, char const* message) { seen.emplace_back(message); };
  EXPECT_EQ(expectHalt([] { nQVWEND000::assertionFailed("f", 1, "expr"); }).text, "expr");
  EXPECT_EQ(expectHalt([] { pureVirtualCalled(); }).text, "ASSERT");
  EXPECT_EQ(seen, (std::vector<std::string>{"expr", "ASSERT"}));
}

TEST_F(DebugPrint, AssertionReportWritesOneTraceLineByCategory) {
  nQVWEND000::runtimeInit();
  std::string const prefix = "[qvrm7_driver--12--check.cpp" + std::string(21, '-') + "] ";
  for (char const* category : {"default", "warning", "io"}) {
    assertionReport(category, "qvrm7_driver", 0, 12, "src/check.cpp", "size");
  }
  EXPECT_EQ(out(), prefix + "ASSERTION FAILED: size\n" + prefix + "ASSERTION WARNING: size\n" +
                       prefix + "ASSERTION FAILED (io): size\n");
  nQVWEND000::runtimeDeinit();
  sim::clearDebugOutput();
  assertionReport("default", "qvrm7_driver", 0, 12, "check.cpp", "no trace, no line");
  EXPECT_EQ(out(), "");
}

TEST_F(DebugPrint, ThreadSlotDepthIndentsPrefixedLinesAndAStrayReleaseIsIgnored) {
  tThreadSlot* slot = acquireThreadSlot();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(acquireThreadSlot(), slot);
  tLineContext const context{"f", 1, "\n"};
  debugLinePrintf(&context, "in");
  EXPECT_EQ(out(), "[rm7_driver|" + spaces(31) + "f|0001]   in\n");

  releaseThreadSlot(slot);
  releaseThreadSlot(slot);
  EXPECT_EQ(findThreadSlot(nQVZOR100_getThreadID()), nullptr);
  releaseThreadSlot(slot);  // never held: must not wrap the depth
  EXPECT_EQ(slot->depth, 0u);
  EXPECT_EQ(slot->inUse, 0u);
}

}  // namespace
