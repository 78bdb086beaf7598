// Writers of prefixed lines on a thread-safe trace never share a line.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "host/layer/control.h"

using namespace qvrm7_driver::nQVWEND000;

namespace {

TEST(TraceThreads, PrefixedLinesOfConcurrentWritersStayWhole) {
  sim::reset();
  tConsoleTraceDestination console;
  tTrace trace(&console);
  trace.enableThreadSafety();
  ASSERT_TRUE(trace.threadSafe());

  constexpr int kLines = 200;
  auto writer = [&trace](char letter) {
    for (int i = 0; i < kLines; ++i) {
      trace.traceLinePrefix("qvrm7_driver", 0, 1, "t.cpp", 0, kTraceLineOrdinary);
      // Written in small parts, so that an unlocked line would interleave.
      for (int c = 0; c < 40; ++c) trace.writeChar(letter);
      trace.endLine();
    }
  };
  std::thread first(writer, 'a');
  std::thread second(writer, 'b');
  first.join();
  second.join();
  trace.disableThreadSafety();

  std::string const prefix = "[qvrm7_driver--1--t.cpp" + std::string(26, '-') + "] ";
  std::istringstream lines(sim::debugOutput());
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    ASSERT_TRUE(line == prefix + std::string(40, 'a') || line == prefix + std::string(40, 'b'))
        << line;
  }
  EXPECT_EQ(count, 2 * kLines);
}

}  // namespace
