// The trace as its destination sees it: line prefixes, pieces, numbers,
// hex rows, status texts, scopes, destination switches and the line lock.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/kernelServices.h"
#include "platform/runtime.h"

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;

namespace {

class Recorder : public iTraceDestination {
 public:
  explicit Recorder(std::string name = "recorder", bool accept = true)
      : name_(std::move(name)), accept_(accept) {}
  void print(char const* text) override { pieces.emplace_back(text); }
  void printCount(char const* text, u64 count) override { pieces.emplace_back(text, count); }
  void flush() override {}
  void getOption(char*, u64, u64*) override {}
  bool activate() override {
    ++activations;
    return accept_;
  }
  void deactivate() override { ++deactivations; }
  char const* getName() override { return name_.c_str(); }

  std::string text() const {
    std::string all;
    for (std::string const& piece : pieces) all += piece;
    return all;
  }

  std::vector<std::string> pieces;
  int activations = 0;
  int deactivations = 0;

 private:
  std::string name_;
  bool accept_;
};

class Trace : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::reset(); }

  Recorder recorder;
  tTrace trace{&recorder};
};

// "[" + fields, filled with '-' to 49 characters, then "] ".
std::string filled(std::string const& bracketed) {
  return bracketed + std::string(49 - bracketed.size(), '-') + "] ";
}

std::string hex8(void const* address) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(address) & 0xFFFFFFFFu));
  return text;
}

// ---- Line prefix -------------------------------------------------------------------

TEST_F(Trace, DefaultPrefixIsComponentLineAndBaseNameFilledTo51Characters) {
  trace.traceLinePrefix("qvrm7_driver", 0, 123, "platform/device.cpp", 0, kTraceLineOrdinary)
      .write("x")
      .endLine();
  std::string const prefix = filled("[qvrm7_driver--123--device.cpp");
  EXPECT_EQ(prefix.size(), 51u);
  EXPECT_EQ(recorder.text(), prefix + "x\n");
}

TEST_F(Trace, PrefixWithoutFieldsIsBlank) {
  trace.clearShowComponent();
  trace.clearShowLine();
  trace.clearShowFile();
  trace.traceLinePrefix("qvrm7_driver", 0, 1, "f", 0, kTraceLineOrdinary).endLine();
  EXPECT_EQ(recorder.text(), std::string(49, ' ') + "  " + "\n");
}

TEST_F(Trace, ColumnWidthZeroLeavesOnlyTheIndentationWhenFixed) {
  trace.setColumnWidth(0);
  trace.traceLinePrefix("qvrm7_driver", 0, 5, "f", 0, kTraceScopeEnter).endLine();
  trace.traceLinePrefix("qvrm7_driver", 0, 5, "f", 0, kTraceLineOrdinary).write("x").endLine();
  EXPECT_EQ(recorder.text(), "\n  x\n");

  recorder.pieces.clear();
  trace.clearFixedWidth();
  trace.traceLinePrefix("qvrm7_driver", 0, 5, "f", 0, kTraceLineOrdinary).endLine();
  EXPECT_EQ(recorder.text(), "[qvrm7_driver--5--f]   \n");
}

TEST_F(Trace, FixedWidthCapsTheBracketedPartAndFreeWidthDoesNot) {
  std::string const component(60, 'c');
  trace.traceLinePrefix(component.c_str(), 0, 7, "f", 0, kTraceLineOrdinary).endLine();
  EXPECT_EQ(recorder.text(), "[" + std::string(48, 'c') + "] \n");

  recorder.pieces.clear();
  trace.clearFixedWidth();
  trace.traceLinePrefix(component.c_str(), 0, 7, "f", 0, kTraceLineOrdinary).endLine();
  EXPECT_EQ(recorder.text(), "[" + component + "--7--f] \n");
}

TEST_F(Trace, FileFieldShowsTheBaseNameUnlessTheFullPathIsAsked) {
  trace.clearShowComponent();
  trace.clearShowLine();
  struct {
    char const* file;
    char const* shown;
  } const cases[] = {{"a/b\\c", "c"},    {"/x", "/x"}, {"\\x", "\\x"},
                     {"plain", "plain"}, {"dir/", ""}, {"", ""}};
  for (auto const& c : cases) {
    recorder.pieces.clear();
    trace.traceLinePrefix("qvrm7_driver", 0, 1, c.file, 0, kTraceLineOrdinary).endLine();
    EXPECT_EQ(recorder.text(), filled(std::string("[") + c.shown) + "\n") << c.file;
  }
  recorder.pieces.clear();
  trace.setShowFullPath();
  trace.traceLinePrefix("qvrm7_driver", 0, 1, "a/b\\c", 0, kTraceLineOrdinary).endLine();
  EXPECT_EQ(recorder.text(), filled("[a/b\\c") + "\n");
}

TEST_F(Trace, OptionalFieldsFollowInTheirOrder) {
  trace.clearShowComponent();
  trace.clearShowLine();
  trace.clearShowFile();
  trace.setShowVersion();
  trace.setShowLevel();
  trace.setShowThreadID();
  // 1.2.3, phase bits 01 ("a"), build 0x0567.
  trace.traceLinePrefix("qvrm7_driver", 0x01234567u, 1, "f", 105, kTraceLineOrdinary).endLine();
  char thread[32];
  std::snprintf(thread, sizeof thread, "0x%X", nQVZOR100_getThreadID());
  EXPECT_EQ(recorder.text(), filled(std::string("[1.2.3a1383--") + thread + "--105") + "\n");

  recorder.pieces.clear();
  trace.clearShowVersion();
  trace.clearShowThreadID();
  trace.clearShowLevel();
  trace.setShowTimer();
  trace.traceLinePrefix("qvrm7_driver", 0, 1, "f", 0, kTraceLineOrdinary).endLine();
  std::string const line = recorder.text();
  ASSERT_EQ(line.size(), 52u);
  size_t const digits = line.find('-');
  ASSERT_NE(digits, std::string::npos);
  EXPECT_EQ(line.substr(1, digits - 1).find_first_not_of("0123456789"), std::string::npos);
}

// ---- Pieces ----------------------------------------------------------------------

TEST_F(Trace, LongTextIsHandedOnIn253CharacterPieces) {
  std::string const text(300, 'a');
  trace.write(text.c_str());
  ASSERT_EQ(recorder.pieces.size(), 1u);
  EXPECT_EQ(recorder.pieces[0], text.substr(0, 253));
  trace.endLine();
  ASSERT_EQ(recorder.pieces.size(), 2u);
  EXPECT_EQ(recorder.pieces[1], text.substr(253) + "\n");
}

TEST_F(Trace, APieceEndsWhereTheCallThatCarriedANewlineEnds) {
  trace.write("a\nb");
  trace.write("c");
  EXPECT_EQ(recorder.pieces, std::vector<std::string>{"a\nb"});
  trace.write("d\n");
  EXPECT_EQ(recorder.pieces, (std::vector<std::string>{"a\nb", "cd\n"}));
}

TEST_F(Trace, DisabledTraceWritesNothing) {
  trace.clearEnabled();
  trace.traceLinePrefix("qvrm7_driver", 0, 1, "f", 0, kTraceLineOrdinary).write("x").endLine();
  trace.hexDump("abc", 3, 1);
  EXPECT_TRUE(recorder.pieces.empty());
}

TEST_F(Trace, CappedWritesCountWhatTheyWrote) {
  u64 counter = 0;
  trace.write("abcdef", 4, &counter);
  EXPECT_EQ(counter, 4u);
  trace.write("ghi", 4, &counter);
  EXPECT_EQ(counter, 4u);
  counter = 9;  // already beyond the cap
  trace.write("jkl", 4, &counter);
  EXPECT_EQ(counter, 9u);
  trace.write("mnopq", 2, nullptr);
  trace.writeBytes("r\0s", 3, 10, nullptr);
  trace.endLine();
  // The destination takes a text: the piece ends for it at the NUL.
  EXPECT_EQ(recorder.text(), "abcdmnr");
}

TEST_F(Trace, CharactersBooleansAndWideText) {
  u32 const wide[] = {'h', 0x141, 'i', 0};
  trace.writeChar('a')
      .writeChar(static_cast<signed char>('b'))
      .writeChar(static_cast<unsigned char>('c'))
      .writeBool(true)
      .writeBool(false)
      .writeWide(wide)
      .writeWide(wide, 1)
      .writeWide(nullptr)
      .endLine();
  EXPECT_EQ(recorder.text(), "abctrue(1)false(0)L\"hAi\"L\"h\"L\"\"\n");
}

// ---- Numbers -------------------------------------------------------------------------

TEST_F(Trace, NumbersCarryTheirBase) {
  trace.writeUnsigned(u64{255}, 16).writeChar(' ');
  trace.writeUnsigned(u64{255}, 8).writeChar(' ');
  trace.writeUnsigned(u32{255}, 10).writeChar(' ');
  trace.writeUnsigned(u16{5}, 2).writeChar(' ');
  trace.writeUnsigned(u64{0}, 16).writeChar(' ');
  trace.writeHex(0xABCDEF).writeChar(' ');
  trace.writeSigned(i64{-255}, 16).writeChar(' ');
  trace.writeSigned(i32{-7}, 10).writeChar(' ');
  trace.writeSigned(i16{42}, 10).endLine();
  EXPECT_EQ(recorder.text(), "0xFF 8#377 255 2#101 0x0 0xABCDEF -0xFF -7 42\n");
}

TEST_F(Trace, BasesWithoutDigitsAreWrittenInDecimal) {
  trace.writeUnsigned(u64{255}, 0).writeChar(' ').writeUnsigned(u64{255}, 1).writeChar(' ');
  trace.writeSigned(i64{-3}, 1).endLine();
  EXPECT_EQ(recorder.text(), "255 255 -3\n");
}

TEST_F(Trace, MostNegativeValuesKeepTheirMagnitude) {
  trace.writeSigned(i64{INT64_MIN}, 10).writeChar(' ');
  trace.writeSigned(i32{INT32_MIN}, 10).writeChar(' ');
  trace.writeSigned(i16{INT16_MIN}, 10).writeChar(' ');
  trace.writeSigned(i64{INT64_MIN}, 16).endLine();
  EXPECT_EQ(recorder.text(), "-9223372036854775808 -2147483648 -32768 -0x8000000000000000\n");
}

// ---- Formatted text and statuses ----------------------------------------------------------

TEST_F(Trace, PrintfWarnsOfATextCutAtTheLineLimit) {
  trace.printf("n=%d", 5).endLine();
  EXPECT_EQ(recorder.text(), "n=5\n");

  recorder.pieces.clear();
  std::string const text(300, 't');
  trace.printf("%s", text.c_str()).endLine();
  EXPECT_EQ(recorder.text(),
            "!!Formatted string exceeds kMaxTraceLine characters!!" + text.substr(0, 255) + "\n");
}

TEST_F(Trace, ShortStatusShowsOnlyItsCode) {
  tStatus status{tStatus::kShortSize, -52005};
  trace.writeStatus(status);
  EXPECT_EQ(recorder.text(), "\ntStatus contents:\n\tcode = -52005\n");
}

TEST_F(Trace, LongStatusShowsItsOriginAndExtraWordsUpToTheFirstZero) {
  nQVWENDS100::tLongStatus status;
  status.head.code = -52000;
  std::memcpy(status.component, "qvrm7_driver", sizeof status.component);  // no NUL
  std::strcpy(status.file, "memory");
  status.line = 520;
  status.extra[0] = 0x1234;
  status.extra[1] = 0;
  status.extra[2] = 0x99;
  char buffer[256];
  i32 const count = formatStatus(status, buffer, sizeof buffer);
  std::string const expected =
      "\ntStatus contents:\n\tcode = -52000\n"
      "\tcomponent name = qvrm7_driv\n\tfile name: memory\n\tline number = 520\n"
      "\tstack trace:\n\t\t0x0000000000001234\n\t\t0x0000000000000000\n";
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(count, static_cast<i32>(expected.size()));

  // Code 0 stops after the first line even in a long record.
  status.head.code = 0;
  EXPECT_EQ(formatStatus(status, buffer, sizeof buffer), 29);
  EXPECT_STREQ(buffer, "\ntStatus contents:\n\tcode = 0\n");
}

TEST_F(Trace, StatusTextThatDoesNotFitIsReportedAndWrittenAsFarAsItGoes) {
  nQVWENDS100::tLongStatus status;
  status.head.code = -1;
  std::memset(status.file, 'f', sizeof status.file - 1);
  for (u64& word : status.extra) word = 0xFFFF;
  char buffer[256];
  EXPECT_EQ(formatStatus(status, buffer, sizeof buffer), -1);
  EXPECT_EQ(formatStatus(status, buffer, 20), -1);
  EXPECT_EQ(formatStatus(status, buffer, 0), -1);

  trace.writeStatus(status);
  std::string const text = recorder.text();
  EXPECT_EQ(text.rfind("\ntStatus contents:\n\tcode = -1\n\tcomponent name = ", 0), 0u);
  EXPECT_LE(text.size(), 255u);
  EXPECT_GT(text.size(), 200u);
}

class Described : public iTraceable {
 public:
  void traceTo(tTrace& trace) const override { trace.write("described"); }
};

TEST_F(Trace, ObjectsDescribeThemselves) {
  trace.writeObject(Described()).endLine();
  EXPECT_EQ(recorder.text(), "described\n");
}

// ---- Hex dump ------------------------------------------------------------------------

std::string fillers(int units, int width) {
  std::string text;
  for (int i = 0; i < units; ++i) text += std::string(2 * width, 'X') + " ";
  return text;
}

TEST_F(Trace, HexDumpFillsTheLastRowWithPlaceholders) {
  char const data[] =
      "AB\x01"
      "DE";
  trace.hexDump(data, 5, 1);
  ASSERT_EQ(recorder.pieces.size(), 1u);
  EXPECT_EQ(recorder.pieces[0], hex8(data) + ": 41 42 01 44 45 " + fillers(11, 1) + ": AB.DE\n");
}

TEST_F(Trace, HexDumpRowsAreSixteenBytesEachOnALineOfItsOwn) {
  char const data[] = "0123456789abcdefXYZ";
  trace.hexDump(data, 19, 1);
  ASSERT_EQ(recorder.pieces.size(), 2u);
  EXPECT_EQ(recorder.pieces[0].substr(0, 10), hex8(data) + ": ");
  EXPECT_EQ(recorder.pieces[0].substr(58), ": 0123456789abcdef\n");
  EXPECT_EQ(recorder.pieces[1], hex8(data + 16) + ": 58 59 5A " + fillers(13, 1) + ": XYZ\n");
}

TEST_F(Trace, HexDumpShowsWordsInTheMachinesOrder) {
  u8 const data[] = {0x01, 0x02, 0x03, 0x04};
  trace.hexDump(data, 4, 2);
  EXPECT_EQ(recorder.text(), hex8(data) + ": 0201 0403 " + fillers(6, 2) + ": ....\n");
  recorder.pieces.clear();
  trace.hexDump(data, 4, 4);
  EXPECT_EQ(recorder.text(), hex8(data) + ": 04030201 " + fillers(3, 4) + ": ....\n");
}

TEST_F(Trace, HexDumpNeverReadsPastAPartialLastUnit) {
  // On the heap, so that a read past the fifth byte is caught.
  std::unique_ptr<u8[]> data(new u8[5]{0x01, 0x02, 0x03, 0x04, 0x41});
  trace.hexDump(data.get(), 5, 4);
  EXPECT_EQ(recorder.text(),
            hex8(data.get()) + ": 04030201 41XXXXXX " + fillers(2, 4) + ": ....A\n");

  recorder.pieces.clear();
  std::unique_ptr<u8[]> odd(new u8[3]{0x61, 0x62, 0x63});
  trace.hexDump(odd.get(), 3, 2);
  EXPECT_EQ(recorder.text(), hex8(odd.get()) + ": 6261 63XX " + fillers(6, 2) + ": abc\n");
}

TEST_F(Trace, HexDumpUnitsOfOtherSizesAndOfZero) {
  char const data[] = "ABCDEF";
  trace.hexDump(data, 6, 3);
  EXPECT_EQ(recorder.text(), hex8(data) + ": 414243 444546 " + fillers(3, 3) + ": ABCDEF\n");

  recorder.pieces.clear();
  trace.hexDump(data, 2, 0);
  EXPECT_EQ(recorder.text(), hex8(data) + ": 41 42 " + fillers(14, 1) + ": AB\n");

  recorder.pieces.clear();
  trace.hexDump(data, 2, 100);  // the unit shrinks to the data
  EXPECT_EQ(recorder.text(), hex8(data) + ": 4241 " + fillers(7, 2) + ": AB\n");

  recorder.pieces.clear();
  trace.hexDump(nullptr, 4, 1).hexDump(data, 0, 1);
  EXPECT_TRUE(recorder.pieces.empty());
}

// ---- Destinations ------------------------------------------------------------------------

TEST_F(Trace, SwitchIsAnnouncedOnTheOldDestination) {
  Recorder next("next");
  EXPECT_EQ(trace.setDestination(&next), &recorder);
  EXPECT_EQ(trace.destination(), &next);
  EXPECT_EQ(recorder.text(), "Switching trace destination to next\n");
  EXPECT_EQ(recorder.deactivations, 1);
  EXPECT_EQ(next.activations, 1);
  EXPECT_TRUE(next.pieces.empty());
}

TEST_F(Trace, SameOrRefusingDestinationIsAnnouncedButKept) {
  EXPECT_EQ(trace.setDestination(&recorder), &recorder);
  Recorder refusing("refusing", false);
  EXPECT_EQ(trace.setDestination(&refusing), &recorder);
  EXPECT_EQ(trace.destination(), &recorder);
  EXPECT_EQ(recorder.text(),
            "Switching trace destination to recorder\n"
            "Switching trace destination to refusing\n");
  EXPECT_EQ(recorder.activations, 0);
  EXPECT_EQ(recorder.deactivations, 0);
  EXPECT_EQ(refusing.activations, 1);
}

TEST_F(Trace, NoDestinationIsNoSwitch) {
  EXPECT_EQ(trace.setDestination(nullptr), &recorder);
  EXPECT_EQ(trace.destination(), &recorder);
  EXPECT_TRUE(recorder.pieces.empty());
}

TEST_F(Trace, ConsoleDestinationPrintsToTheKernelLog) {
  tConsoleTraceDestination console;
  console.print("whole ");
  console.printCount("partial", 4);
  console.printCount("all", u64{1} << 40);
  EXPECT_EQ(sim::debugOutput(), "whole partall");
  EXPECT_STREQ(console.getName(), "qvsdbg_printf");
  EXPECT_TRUE(console.activate());

  char buffer[32];
  u64 required = 0;
  console.getOption(buffer, sizeof buffer, &required);
  EXPECT_STREQ(buffer, " --destination wend");
  EXPECT_EQ(required, 20u);
  console.getOption(buffer, 5, nullptr);
  EXPECT_STREQ(buffer, " --d");
  buffer[0] = '#';
  required = 0;
  console.getOption(buffer, 0, &required);
  console.getOption(nullptr, 8, nullptr);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(required, 20u);
}

// ---- Scopes ------------------------------------------------------------------------------

TEST_F(Trace, ScopesOpenAndCloseAroundIndentedLines) {
  std::string const prefix = filled("[qvrm7_driver--10--s.cpp");
  tStatus status{tStatus::kShortSize, -5};
  {
    tTraceScope outer("qvrm7_driver", 0, 10, "s.cpp", 0, "outer",
                      reinterpret_cast<void const*>(uintptr_t{0x1000}), &status, &trace);
    EXPECT_EQ(trace.depth(), 1);
    {
      tTraceScope inner("qvrm7_driver", 0, 10, "s.cpp", 0, "inner", nullptr, nullptr, &trace);
      trace.traceLinePrefix("qvrm7_driver", 0, 10, "s.cpp", 0, kTraceLineOrdinary)
          .write("body")
          .endLine();
    }
  }
  EXPECT_EQ(trace.depth(), 0);
  EXPECT_EQ(recorder.pieces, (std::vector<std::string>{
                                 prefix + "outer; this=0x1000; tStatus code=-5 {\n",
                                 prefix + "  inner; {\n",
                                 prefix + "    body\n",
                                 prefix + "  } inner\n",
                                 prefix + "} tStatus code=-5; outer\n",
                             }));
}

TEST_F(Trace, LeavingMoreScopesThanWereEnteredKeepsTheDepthAtZero) {
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceScopeLeave).endLine();
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceScopeLeave).endLine();
  EXPECT_EQ(trace.depth(), 0);
  trace.clearIndentScopes();
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceScopeEnter).endLine();
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary).write("flat").endLine();
  EXPECT_EQ(trace.depth(), 1);
  EXPECT_EQ(recorder.pieces.back(), filled("[c--1--f") + "flat\n");
}

// ---- The line lock -------------------------------------------------------------------------

class TraceLock : public Trace {
 protected:
  void SetUp() override {
    Trace::SetUp();
    sim::enableCallLog(true);
  }
  uint64_t acquires() { return sim::callCount("nQVZOR150_acquireMutex"); }
  uint64_t releases() { return sim::callCount("nQVZOR150_releaseMutex"); }
};

TEST_F(TraceLock, EachPrefixedLineHoldsTheMutexUntilItsEnd) {
  EXPECT_FALSE(trace.threadSafe());
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary).endLine();
  EXPECT_EQ(acquires(), 0u);

  trace.enableThreadSafety();
  ASSERT_TRUE(trace.threadSafe());
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary).write("x");
  EXPECT_EQ(acquires(), 1u);
  EXPECT_EQ(releases(), 0u);
  trace.endLine();
  EXPECT_EQ(releases(), 1u);

  Recorder next("next");
  trace.setDestination(&next);
  EXPECT_EQ(acquires(), 2u);
  EXPECT_EQ(releases(), 2u);

  trace.disableThreadSafety();
  EXPECT_FALSE(trace.threadSafe());
  EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), 1u);
  EXPECT_EQ(acquires(), releases());
}

TEST_F(TraceLock, AnEndOfLineThatTookNoLockReleasesNone) {
  trace.enableThreadSafety();
  trace.write("unprefixed").endLine();
  EXPECT_EQ(releases(), 0u);

  trace.disableThreadSafety();
  uint64_t const taken = acquires();
  uint64_t const given = releases();
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary);
  trace.enableThreadSafety();  // after this line's prefix
  trace.endLine();
  EXPECT_EQ(acquires(), taken);
  EXPECT_EQ(releases(), given);
  trace.disableThreadSafety();
}

TEST_F(TraceLock, SecondPrefixOfTheSameLineDoesNotTakeTheMutexAgain) {
  trace.enableThreadSafety();
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary);
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary);
  EXPECT_EQ(acquires(), 1u);
  trace.endLine();
  EXPECT_EQ(releases(), 1u);
  trace.disableThreadSafety();
}

TEST_F(TraceLock, TurningSafetyOffInsideALineGivesTheMutexBackFirst) {
  trace.enableThreadSafety();
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary);
  trace.disableThreadSafety();
  EXPECT_EQ(acquires(), 1u);
  EXPECT_EQ(releases(), 1u);
  EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), 1u);
  trace.endLine();
  EXPECT_EQ(releases(), 1u);
}

TEST_F(TraceLock, FailedMutexCreationLeavesTheTraceUnlocked) {
  sim::failNthCall("nQVZOR150_createMutex", 1);
  trace.enableThreadSafety();
  EXPECT_FALSE(trace.threadSafe());
  trace.traceLinePrefix("c", 0, 1, "f", 0, kTraceLineOrdinary).endLine();
  EXPECT_EQ(acquires(), 0u);
}

TEST_F(TraceLock, DestructionDestroysTheMutex) {
  {
    Recorder local;
    tTrace own(&local);
    own.enableThreadSafety();
  }
  EXPECT_EQ(sim::callCount("nQVZOR150_createMutex"), 1u);
  EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), 1u);
}

// ---- The global trace ------------------------------------------------------------------

TEST(GlobalTrace, RuntimeBuildsItOnTheConsoleAndTearsItDown) {
  sim::reset();
  uint64_t const before = sim::liveAllocations();
  EXPECT_EQ(getTraceInstance(), nullptr);
  runtimeInit();
  tTrace* trace = getTraceInstance();
  ASSERT_NE(trace, nullptr);
  EXPECT_STREQ(trace->destination()->getName(), "qvsdbg_printf");
  trace->traceLinePrefix("qvrm7_driver", 0, 3, "a/g.cpp", 0, kTraceLineOrdinary)
      .write("to the log")
      .endLine();
  EXPECT_EQ(sim::debugOutput(), filled("[qvrm7_driver--3--g.cpp") + "to the log\n");
  trace->enableThreadSafety();

  sim::enableCallLog(true);
  runtimeDeinit();
  EXPECT_EQ(getTraceInstance(), nullptr);
  EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), 1u);
  EXPECT_EQ(sim::liveAllocations(), before);
  sim::reset();
}

}  // namespace
