// Lines as they reach the kernel log, the halt path and the assertion texts,
// the thread slots behind the indentation, and the module's text helpers.
#include "platform/debugPrint.h"

#include <gtest/gtest.h>

#include <cstdio>
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

// Every hook and setting a test may change, put back afterwards.
class DebugPrint : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::throwOnHalt();
  }
  void TearDown() override {
    debugHaltHook = saved_.halt;
    debugFormatHook = saved_.format;
    debugPrintHook = saved_.print;
    debugLevelThreshold = saved_.threshold;
    debugFileWidth = saved_.fileWidth;
    debugPrefixWriters = saved_.writers;
    sim::reset();
  }

  std::string output() { return sim::debugOutput(); }

  // Runs code that must halt; the record of the halt it made.
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

 private:
  struct {
    tHaltHook halt = debugHaltHook;
    tFormatHook format = debugFormatHook;
    tPrintHook print = debugPrintHook;
    i32 threshold = debugLevelThreshold;
    i32 fileWidth = debugFileWidth;
    tPrefixWriter const* writers = debugPrefixWriters;
  } saved_;
};

std::string spaces(size_t n) { return std::string(n, ' '); }

// ---- Plain and prefixed lines ------------------------------------------------

TEST_F(DebugPrint, PrefixNamesComponentFileAndLine) {
  tLineContext const context{"io.cpp", 7, "\n"};
  debugLinePrintf(&context, "value %d", 42);
  EXPECT_EQ(output(), "[rm7_driver|" + spaces(26) + "io.cpp|0007] value 42\n");
}

TEST_F(DebugPrint, FileFieldKeepsTheTailOfLongPathsAndPadsShortNames) {
  std::string const longPath = "0123456789abcdefghijklmnopqrstuvwxyzABCD";  // 40
  tLineContext const longContext{longPath.c_str(), 1, "\n"};
  debugLinePrintf(&longContext, "x");
  EXPECT_EQ(output(), "[rm7_driver|" + longPath.substr(8) + "|0001] x\n");

  sim::clearDebugOutput();
  tLineContext const shortContext{"a.cpp", 1, "\n"};
  debugLinePrintf(&shortContext, "x");
  EXPECT_EQ(output(), "[rm7_driver|" + spaces(27) + "a.cpp|0001] x\n");
}

TEST_F(DebugPrint, LineFieldIsFourDigitsZeroPaddedKeepingTheLowDigits) {
  for (auto [line, text] : {std::pair{0, "0000"}, {7, "0007"}, {456, "0456"}, {12345, "2345"}}) {
    sim::clearDebugOutput();
    tLineContext const context{"f", line, "\n"};
    debugLinePrintf(&context, "m");
    EXPECT_EQ(output(), "[rm7_driver|" + spaces(31) + "f|" + text + "] m\n") << line;
  }
}

TEST_F(DebugPrint, PlainLineIsTheFormattedTextCutAt255) {
  debugPrintf("%s-%u", "plain", 5u);
  EXPECT_EQ(output(), "plain-5");

  sim::clearDebugOutput();
  std::string const message(300, 'm');
  debugPrintf("%s", message.c_str());
  EXPECT_EQ(output(), message.substr(0, 255));
}

TEST_F(DebugPrint, LongPrefixedLineIsCutSoThatItsTerminatorSurvives) {
  tLineContext const context{"io.cpp", 7, "\n"};
  std::string const message(300, 'm');
  debugLinePrintf(&context, "%s", message.c_str());
  std::string const line = output();
  ASSERT_EQ(line.size(), 255u);
  EXPECT_EQ(line.back(), '\n');
  std::string const prefix = "[rm7_driver|" + spaces(26) + "io.cpp|0007] ";
  EXPECT_EQ(line, prefix + std::string(254 - prefix.size(), 'm') + "\n");
}

TEST_F(DebugPrint, TerminatorLongerThanTheLineDoesNotWriteOutsideIt) {
  std::string const terminator(300, 't');
  tLineContext const context{"io.cpp", 7, terminator.c_str()};
  debugLinePrintf(&context, "message");
  // It cannot fit: it is cut after the message like any text, inside the line.
  std::string const prefix = "[rm7_driver|" + spaces(26) + "io.cpp|0007] ";
  EXPECT_EQ(output(), prefix + "message" + terminator.substr(0, 255 - prefix.size() - 7));
}

TEST_F(DebugPrint, PrefixFillingTheWholeLineStillEndsWithItsTerminator) {
  debugFileWidth = 400;
  tLineContext const context{"f", 1, "\n"};
  debugLinePrintf(&context, "lost");
  std::string const line = output();
  ASSERT_EQ(line.size(), 255u);
  EXPECT_EQ(line.substr(0, 12), "[rm7_driver|");
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find("lost"), std::string::npos);
}

TEST_F(DebugPrint, LevelledPrintsNeedTheThreshold) {
  tLineContext const context{"f", 1, "\n"};
  debugPrintfLevel(4095, "low ");
  debugLinePrintfLevel(4095, &context, "low");
  EXPECT_EQ(output(), "");
  debugPrintfLevel(4096, "at ");
  debugPrintfLevel(16384, "above ");
  debugLinePrintfLevel(0x4000, &context, "gate");
  EXPECT_EQ(output(), "at above [rm7_driver|" + spaces(31) + "f|0001] gate\n");

  sim::clearDebugOutput();
  debugLevelThreshold = 0;
  debugPrintfLevel(0, "now");
  EXPECT_EQ(output(), "now");
}

TEST_F(DebugPrint, FailedFormatterPrintsNothingOfTheStack) {
  sim::failNthCall("nQVZOR100_vsnPrintf", 1);
  debugPrintf("%s", "never formatted");
  EXPECT_EQ(output(), "");

  sim::failNthCall("nQVZOR100_vsnPrintf", 1);
  tLineContext const context{"f", 1, "\n"};
  debugLinePrintf(&context, "%s", "never formatted");
  EXPECT_EQ(output(), "[rm7_driver|" + spaces(31) + "f|0001] \n");
}

TEST_F(DebugPrint, HooksRedirectOutputAndFormatting) {
  static std::vector<std::string> lines;
  lines.clear();
  debugPrintHook = [](char const* text) { lines.emplace_back(text); };
  debugFormatHook = [](char* buffer, u64 size, char const*, va_list) -> i32 {
    std::snprintf(buffer, size, "hooked");
    return 6;
  };
  debugPrintf("ignored %d", 1);
  static tPrefixWriter const onlyBracket[] = {writeOpenBracket, nullptr};
  debugPrefixWriters = onlyBracket;
  tLineContext const context{"f", 1, "\r\n"};
  debugLinePrintf(&context, "ignored");
  EXPECT_EQ(output(), "");
  EXPECT_EQ(lines, (std::vector<std::string>{"hooked", "[hooked\r\n"}));
}

TEST_F(DebugPrint, FormatTextReportsATextThatDidNotFit) {
  char buffer[8];
  EXPECT_EQ(formatText(buffer, sizeof buffer, "%d", 1234), 4);
  EXPECT_STREQ(buffer, "1234");
  EXPECT_EQ(formatText(buffer, sizeof buffer, "%s", "longer text"), -1);
  EXPECT_STREQ(buffer, "longer ");
}

// ---- Field writers -------------------------------------------------------------

struct PaddedCase {
  char const* text;
  i32 width;
  char pad;
  u64 room;
  char const* expected;
};

TEST_F(DebugPrint, WritePaddedAlignsRightAndCutsToTheRoom) {
  PaddedCase const cases[] = {
      {"abc", 0, ' ', 64, "abc"},                   // width 0: the whole text
      {"abc", 6, ' ', 64, "   abc"},                // padded in front
      {"7", 4, '0', 64, "0007"},                    // the line field's padding
      {"qvrm7_driver", 10, ' ', 64, "rm7_driver"},  // the tail of a longer text
      {"abcdef", 6, ' ', 64, "abcdef"},             // exactly as wide
      {"abc", 6, '.', 4, "..."},                    // room 4: three bytes and the NUL
      {"abc", 0, ' ', 1, ""},                       // room 1: only the NUL
      {nullptr, 3, '-', 64, "---"},                 // no text
      {"abc", -2, ' ', 64, "abc"},                  // a negative width is no width
  };
  for (PaddedCase const& c : cases) {
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    char* end = writePadded(buffer, c.room, c.text, c.width, c.pad);
    EXPECT_STREQ(buffer, c.expected) << c.expected;
    EXPECT_EQ(end, buffer + std::strlen(c.expected)) << c.expected;
    if (c.room < sizeof buffer) {
      EXPECT_EQ(buffer[c.room], '#') << "past the room: " << c.expected;
    }
  }
}

TEST_F(DebugPrint, WritersPutTheirNulInTheLastByteOfASmallRoom) {
  char buffer[4] = {'#', '#', '#', '#'};
  tLineContext const context{"f", 1, "\n"};
  EXPECT_EQ(writeCloseBracket(buffer, 2, &context), buffer + 1);
  EXPECT_STREQ(buffer, "]");
  EXPECT_EQ(buffer[2], '#');
  EXPECT_EQ(writeSeparator(buffer, 0, &context), buffer);
  EXPECT_EQ(buffer[0], ']');
}

TEST_F(DebugPrint, ConcatenateStringsJoinsCutsAndCountsTheNul) {
  char buffer[8];
  EXPECT_EQ(concatenateStrings(buffer, sizeof buffer, 3, "ab", "cd", "e"), 6u);
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_EQ(concatenateStrings(buffer, sizeof buffer, 2, "abcde", "fghij"), 8u);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(concatenateStrings(buffer, sizeof buffer, 0), 1u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(
      concatenateStrings(buffer, sizeof buffer, 3, "a", static_cast<char const*>(nullptr), "b"),
      3u);
  EXPECT_STREQ(buffer, "ab");
  buffer[0] = '#';
  EXPECT_EQ(concatenateStrings(buffer, 0, 1, "a"), 0u);
  EXPECT_EQ(buffer[0], '#');
}

// ---- Line objects ----------------------------------------------------------------

TEST_F(DebugPrint, VarLinePrintsAPrefixedLineOfItsPlace) {
  qvsdbg_VarLine line("io.cpp", 12, "\n");
  line.print("n=%d", 3);
  EXPECT_EQ(output(), "[rm7_driver|" + spaces(26) + "io.cpp|0012] n=3\n");
}

TEST_F(DebugPrint, VarLineToBufferFormatsIntoTheCallersBufferOnly) {
  char buffer[8];
  qvsdbg_VarLineToBuffer line(buffer, sizeof buffer);
  line.print("%s", "0123456789");
  EXPECT_STREQ(buffer, "0123456");
  EXPECT_EQ(output(), "");
}

TEST_F(DebugPrint, VarLineToBufferOfSizeZeroWritesNothing) {
  char guard[3] = {'#', '#', '#'};
  qvsdbg_VarLineToBuffer line(guard + 1, 0);
  line.print("%s", "text");
  EXPECT_EQ(std::string(guard, 3), "###");
}

// ---- Halts and assertions ------------------------------------------------------------

TEST_F(DebugPrint, AssertionPrintsItsSequenceThenHaltsWithTheExpression) {
  sim::HaltRecord halt =
      expectHalt([] { nQVWEND000::assertionFailed("tArray", 120, "ASSERT(_size+n <= kMaxSize)"); });
  std::string const prefix = "[rm7_driver|" + spaces(26) + "tArray|0120] ";
  EXPECT_EQ(output(), "[qvrm7_driver|tArray|120] !!ASSERT!!\n" + prefix +
                          "ASSERT(_size+n <= kMaxSize)\n" + prefix + " \n");
  EXPECT_EQ(halt.driver, "qvrm7_driver");
  EXPECT_EQ(halt.file, "tArray");
  EXPECT_EQ(halt.line, 120u);
  EXPECT_EQ(halt.text, "ASSERT(_size+n <= kMaxSize)");
}

TEST_F(DebugPrint, PureVirtualCallPrintsTheBugLineAndHalts) {
  sim::HaltRecord halt = expectHalt([] { pureVirtualCalled(); });
  EXPECT_EQ(output(),
            "[qvrm7_driver|initializeCPPRunTime|348] !!ASSERT!!\n"
            "BUG: A call to a pure virtual function was made!\n");
  EXPECT_EQ(halt.file, "initializeCPPRunTime");
  EXPECT_EQ(halt.line, 348u);
  EXPECT_EQ(halt.text, "ASSERT");
}

TEST_F(DebugPrint, HaltWithoutContextOrMessageNamesThisModule) {
  sim::HaltRecord halt = expectHalt([] { debugHalt(nullptr, nullptr); });
  EXPECT_EQ(halt.driver, "qvrm7_driver");
  EXPECT_EQ(halt.file, "debugPrint");
  EXPECT_EQ(halt.line, 341u);
  EXPECT_EQ(halt.text, "halt");

  tLineContext const context{"device", 88, "\n"};
  halt = expectHalt([&] { debugHalt(&context, "stop"); });
  EXPECT_EQ(halt.file, "device");
  EXPECT_EQ(halt.line, 88u);
  EXPECT_EQ(halt.text, "stop");
}

TEST_F(DebugPrint, DebugBreakHaltsUnlessItIsAWarning) {
  debugBreak("warning", "c", 0, 1, "f");
  EXPECT_TRUE(sim::halts().empty());
  for (char const* category : {"default", "io", static_cast<char const*>(nullptr)}) {
    sim::HaltRecord halt = expectHalt([&] { debugBreak(category, "c", 0, 1, "f"); });
    EXPECT_EQ(halt.text, "WEND debug break");
    EXPECT_EQ(halt.line, 341u);
  }
}

TEST_F(DebugPrint, AHaltHookThatReturnsStillEndsInTheLayersHalt) {
  static std::vector<std::string> seen;
  seen.clear();
  debugHaltHook = [](tLineContext const*, char const* message) { seen.emplace_back(message); };
  sim::HaltRecord halt = expectHalt([] { nQVWEND000::assertionFailed("f", 1, "expr"); });
  EXPECT_EQ(seen, std::vector<std::string>{"expr"});
  EXPECT_EQ(halt.text, "expr");
  halt = expectHalt([] { pureVirtualCalled(); });
  EXPECT_EQ(halt.text, "ASSERT");
}

TEST_F(DebugPrint, AssertionReportWritesOneTraceLineByCategory) {
  nQVWEND000::runtimeInit();
  std::string const prefix = "[qvrm7_driver--12--check.cpp" + std::string(49 - 28, '-') + "] ";
  assertionReport("default", "qvrm7_driver", 0, 12, "src/check.cpp", "size");
  assertionReport("warning", "qvrm7_driver", 0, 12, "src/check.cpp", "size");
  assertionReport("io", "qvrm7_driver", 0, 12, "src/check.cpp", "size");
  EXPECT_EQ(output(), prefix + "ASSERTION FAILED: size\n" + prefix + "ASSERTION WARNING: size\n" +
                          prefix + "ASSERTION FAILED (io): size\n");
  nQVWEND000::runtimeDeinit();

  sim::clearDebugOutput();
  assertionReport("default", "qvrm7_driver", 0, 12, "check.cpp", "no trace, no line");
  EXPECT_EQ(output(), "");
}

// ---- Thread slots ------------------------------------------------------------------

class ThreadSlots : public DebugPrint {};

TEST_F(ThreadSlots, ReentryDeepensTheIndentationOfPrefixedLines) {
  tThreadSlot* slot = acquireThreadSlot();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(acquireThreadSlot(), slot);
  EXPECT_EQ(slot->depth, 2u);
  EXPECT_EQ(findThreadSlot(nQVZOR100_getThreadID()), slot);

  tLineContext const context{"f", 1, "\n"};
  debugLinePrintf(&context, "in");
  EXPECT_EQ(output(), "[rm7_driver|" + spaces(31) + "f|0001]   in\n");

  releaseThreadSlot(slot);
  EXPECT_EQ(slot->depth, 1u);
  releaseThreadSlot(slot);
  EXPECT_EQ(slot->inUse, 0u);
  EXPECT_EQ(findThreadSlot(nQVZOR100_getThreadID()), nullptr);

  // A release the slot never had changes nothing.
  releaseThreadSlot(slot);
  EXPECT_EQ(slot->depth, 0u);
  EXPECT_EQ(slot->inUse, 0u);
  releaseThreadSlot(nullptr);
}

}  // namespace
