// The trace as its destination sees it: line prefixes, chunks, numbers,
// hex rows, status texts, scopes, destination switches and the line lock.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/layer/control.h"
#include "support/layerTest.h"

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;

namespace {

struct Recorder : iTraceDestination {
  explicit Recorder(char const* label = "recorder", bool accepts = true)
      : name(label), accept(accepts) {}
  void print(char const* text) override { chunks.emplace_back(text); }
  void printCount(char const*, u64) override {}
  void flush() override {}
  void getOption(char*, u64, u64*) override {}
  bool activate() override { return ++activations, accept; }
  void deactivate() override { ++deactivations; }
  char const* getName() override { return name; }
  std::string take() {
    std::string all;
    for (std::string const& chunk : chunks) all += chunk;
    chunks.clear();
    return all;
  }

  char const* name;
  bool accept;
  std::vector<std::string> chunks;
  int activations = 0, deactivations = 0;
};

class Trace : public testing_support::LayerTest {
 protected:
  tTrace& line(char const* component, u64 lineNumber, char const* file, i32 kind = 0) {
    return trace.traceLinePrefix(component, 0, lineNumber, file, 0, kind);
  }

  Recorder recorder;
  tTrace trace{&recorder};
};

// "[" and the fields, filled with '-' to 49 characters, then "] ".
std::string filled(std::string const& bracketed) {
  return bracketed + std::string(49 - bracketed.size(), '-') + "] ";
}

// Fields joined by "--", the file by its base name, filled with '-' to the
// column and capped there; scopes indent the lines between their own.
TEST_F(Trace, PrefixIsFilledToItsColumnAndScopesIndentTheirLines) {
  for (auto [file, shown] : {std::pair{"platform/a\\dev.cpp", "dev.cpp"}, {"dir/", ""}}) {
    line("qvrm7_driver", 123, file).endLine();
    EXPECT_EQ(recorder.take(), filled(std::string("[qvrm7_driver--123--") + shown) + "\n");
  }
  std::string const component(60, 'c');
  line(component.c_str(), 7, "f").endLine();
  EXPECT_EQ(recorder.take(), "[" + std::string(48, 'c') + "] \n");

  std::string const prefix = filled("[qvrm7_driver--10--s.cpp");
  tStatus status{tStatus::kShortSize, -5};
  {
    tTraceScope outer("qvrm7_driver", 0, 10, "s.cpp", 0, "outer",
                      reinterpret_cast<void const*>(uintptr_t{0x1000}), &status, &trace);
    tTraceScope inner("qvrm7_driver", 0, 10, "s.cpp", 0, "inner", nullptr, nullptr, &trace);
    line("qvrm7_driver", 10, "s.cpp").write("body").endLine();
  }
  EXPECT_EQ(recorder.take(), prefix + "outer; this=0x1000; tStatus code=-5 {\n" + prefix +
                                 "  inner; {\n" + prefix + "    body\n" + prefix + "  } inner\n" +
                                 prefix + "} tStatus code=-5; outer\n");
  line("c", 1, "f", kTraceScopeLeave).endLine();
  EXPECT_EQ(trace.depth(), 0);
}

// Digits in every base are covered with the runtime's writers. The most
// negative values have no positive twin, yet keep their magnitude. Text is
// handed on at 253 characters or where a write with a newline ends.
TEST_F(Trace, ValuesAsText) {
  u32 const wide[] = {'h', 0x141, 0};
  trace.writeBool(true).writeBool(false).writeWide(wide).writeUnsigned(u16{5}, 2).writeChar(' ');
  trace.writeSigned(i64{INT64_MIN}, 10).writeChar(' ').writeSigned(i32{INT32_MIN}, 10);
  trace.writeChar(' ').writeSigned(i16{INT16_MIN}, 16).writeChar(' ').writeSigned(i32{-7}, 10);
  trace.endLine();
  EXPECT_EQ(recorder.take(),
            "true(1)false(0)L\"hA\"2#101 -9223372036854775808 -2147483648 -0x8000 -7\n");

  std::string const text(300, 't');
  std::string const cut =
      "!!Formatted string exceeds kMaxTraceLine characters!!" + text.substr(0, 255);
  trace.printf("%s", text.c_str()).write("b\nc").write("d");
  EXPECT_EQ(recorder.chunks,
            (std::vector<std::string>{cut.substr(0, 253), cut.substr(253) + "b\nc"}));
}

std::string hex8(void const* address) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(address) & 0xFFFFFFFFu));
  return text;
}

std::string fillers(int units, int width) {
  std::string text;
  for (int i = 0; i < units; ++i) text += std::string(2 * width, 'X') + " ";
  return text;
}

TEST_F(Trace, HexDumpRowsAreFullLinesAndNeverReadPastTheData) {
  char const data[] = "0123456789abcdefX\x01Z";
  trace.hexDump(data, 19, 1);
  ASSERT_EQ(recorder.chunks.size(), 2u);
  EXPECT_EQ(recorder.chunks[0].substr(58), ": 0123456789abcdef\n");
  EXPECT_EQ(recorder.chunks[1], hex8(data + 16) + ": 58 01 5A " + fillers(13, 1) + ": X.Z\n");
  recorder.chunks.clear();

  // On the heap, so that a read past the last byte is caught: a partial last
  // unit, and unit 0 taken as single bytes.
  std::unique_ptr<u8[]> words(new u8[5]{0x01, 0x02, 0x03, 0x04, 0x41});
  std::string const at = hex8(words.get()) + ": ";
  trace.hexDump(words.get(), 4, 2).hexDump(words.get(), 5, 4).hexDump(words.get(), 2, 0);
  EXPECT_EQ(recorder.take(), at + "0201 0403 " + fillers(6, 2) + ": ....\n" + at +
                                 "04030201 41XXXXXX " + fillers(2, 4) + ": ....A\n" + at +
                                 "01 02 " + fillers(14, 1) + ": ..\n");
}

// A refused or null destination keeps the current one; the console prints to
// the kernel log and caps a huge count.
TEST_F(Trace, DestinationSwitchIsAnnouncedOnTheOldOneAndTheConsoleCapsACount) {
  Recorder refusing("refusing", false), next("next");
  EXPECT_EQ(trace.setDestination(&refusing), &recorder);
  EXPECT_EQ(trace.setDestination(nullptr), &recorder);
  EXPECT_EQ(trace.setDestination(&next), &recorder);
  EXPECT_EQ(trace.destination(), &next);
  EXPECT_EQ(recorder.take(),
            "Switching trace destination to refusing\nSwitching trace destination to next\n");
  EXPECT_EQ(std::pair(recorder.deactivations, next.activations), std::pair(1, 1));

  tConsoleTraceDestination console;
  console.print("whole ");
  console.printCount("partial", 4);
  console.printCount("all", u64{1} << 40);
  EXPECT_EQ(sim::debugOutput(), "whole partall");
}

TEST_F(Trace, OnlyTheLineThatTookTheMutexGivesItBack) {
  // (acquires, releases) of the trace's mutex so far.
  auto locks = [] {
    return std::pair(sim::callCount("nQVZOR150_acquireMutex"),
                     sim::callCount("nQVZOR150_releaseMutex"));
  };
  using Locks = std::pair<uint64_t, uint64_t>;
  sim::enableCallLog(true);
  sim::failNthCall("nQVZOR150_createMutex", 1);
  trace.enableThreadSafety();  // no mutex: the trace stays unlocked
  EXPECT_FALSE(trace.threadSafe());
  line("c", 1, "f").endLine();
  EXPECT_EQ(locks(), Locks(0, 0));

  trace.enableThreadSafety();
  line("c", 1, "f");
  line("c", 1, "f");  // the same line: the mutex does not nest
  trace.endLine();
  EXPECT_EQ(locks(), Locks(1, 1));
  trace.write("unprefixed").endLine();
  EXPECT_EQ(locks(), Locks(1, 1));

  line("c", 1, "f");
  trace.disableThreadSafety();  // the line keeps its hold until it ends
  trace.endLine();
  EXPECT_EQ(locks(), Locks(2, 2));
  // Kept for writers that saw the flag and are on their way to the mutex.
  EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), 0u);

  line("c", 1, "f");
  trace.enableThreadSafety();  // after this line's prefix; the kept mutex again
  trace.endLine();
  EXPECT_EQ(locks(), Locks(2, 2));
  EXPECT_EQ(sim::callCount("nQVZOR150_createMutex"), 2u);

  // A switch announced inside this thread's held line leaves the hold to
  // the line; on its own it takes and gives back the mutex.
  Recorder next("next");
  line("c", 1, "f");
  trace.setDestination(&next);
  EXPECT_EQ(locks(), Locks(3, 2));
  trace.endLine();
  trace.setDestination(&recorder);
  EXPECT_EQ(locks(), Locks(4, 4));
}

// A line that is not printed costs no layer call: no mutex, no thread ID, no
// timer, and nothing is formatted. The scope it would open leaves the depth
// alone, so printed lines afterwards are indented as before.
TEST_F(Trace, ALineThatIsNotPrintedTakesNoLockAndCallsNothing) {
  trace.enableThreadSafety();
  trace.setShowThreadID();
  trace.setShowTimer();
  tStatus failed{tStatus::kShortSize, -52005};
  sim::enableCallLog(true);
  trace.clearEnabled();
  {
    tTraceScope scope("c", 0, 1, "f", 0, "silent", &trace, &failed, &trace);
    line("c", 1, "f").printf("%d", 5).writeStatus(failed).writeHex(0x10).writeSigned(-1, 8);
    EXPECT_EQ(trace.depth(), 0);
    trace.endLine();
  }
  EXPECT_EQ(sim::callLog(), std::vector<std::string>{});
  EXPECT_EQ(recorder.take(), "");
}

}  // namespace
