// Writers of prefixed lines on a thread-safe trace never share a line, and
// debug-print thread slots claimed by many threads at once.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/layer/control.h"
#include "platform/debugPrint.h"

using namespace qvrm7_driver::nQVWEND000;
using namespace qvrm7_driver::qvsdbg;

namespace {

TEST(TraceThreads, PrefixedLinesOfConcurrentWritersStayWhole) {
  sim::reset();
  tConsoleTraceDestination console;
  tTrace trace(&console);
  trace.enableThreadSafety();

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
  writer('b');
  first.join();
  trace.disableThreadSafety();

  std::string const prefix = "[qvrm7_driver--1--t.cpp" + std::string(26, '-') + "] ";
  std::istringstream lines(sim::debugOutput());
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count)
    ASSERT_TRUE(line == prefix + std::string(40, 'a') || line == prefix + std::string(40, 'b'))
        << line;
  EXPECT_EQ(count, 2 * kLines);
}

TEST(ThreadSlotClaims, SeventeenthThreadGetsNoSlotUntilOneIsFreed) {
  sim::reset();
  constexpr int kThreads = 17;
  std::latch tried(kThreads);
  std::vector<tThreadSlot*> claimed(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      claimed[i] = acquireThreadSlot();
      tried.arrive_and_wait();  // every claim stays held until all threads have tried
      releaseThreadSlot(claimed[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::count(claimed.begin(), claimed.end(), nullptr), 1);

  tThreadSlot* again = acquireThreadSlot();  // every slot was given back
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->depth, 1u);
  releaseThreadSlot(again);
}

}  // namespace
