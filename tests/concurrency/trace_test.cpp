// Writers of prefixed lines on a thread-safe trace never share a line.
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host/layer/control.h"

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;

namespace {

class Collector : public iTraceDestination {
 public:
  void print(char const* text) override { chunks.emplace_back(text); }
  void printCount(char const* text, u64 count) override { chunks.emplace_back(text, count); }
  void flush() override {}
  void getOption(char*, u64, u64*) override {}
  bool activate() override { return true; }
  void deactivate() override {}
  char const* getName() override { return "collector"; }

  std::vector<std::string> chunks;
};

TEST(TraceThreads, PrefixedLinesOfConcurrentWritersStayWhole) {
  sim::reset();
  Collector collector;
  tTrace trace(&collector);
  trace.enableThreadSafety();
  ASSERT_TRUE(trace.threadSafe());

  constexpr int kLines = 200;
  auto writer = [&trace](char letter) {
    std::string const body(40, letter);
    for (int i = 0; i < kLines; ++i) {
      trace.traceLinePrefix("qvrm7_driver", 0, 1, "t.cpp", 0, kTraceLineOrdinary);
      // Written in small parts, so that an unlocked line would interleave.
      for (char c : body) trace.writeChar(c);
      trace.endLine();
    }
  };
  std::thread first(writer, 'a');
  std::thread second(writer, 'b');
  first.join();
  second.join();
  trace.disableThreadSafety();

  std::string const prefix = "[qvrm7_driver--1--t.cpp" + std::string(49 - 23, '-') + "] ";
  ASSERT_EQ(collector.chunks.size(), 2u * kLines);
  for (std::string const& chunk : collector.chunks) {
    ASSERT_TRUE(chunk == prefix + std::string(40, 'a') + "\n" ||
                chunk == prefix + std::string(40, 'b') + "\n")
        << chunk;
  }
}

}  // namespace
