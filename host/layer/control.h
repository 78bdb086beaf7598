// Test controls of the user-space kernel services layer: fault injection,
// observation and halt trapping. Only tests and the main program use this;
// the driver sees nothing but the imports of platform/kernelServices.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Every record list of the layer (user copies, registrations and
// unregistrations, add events, deferred calls, halts, the PCI access log)
// keeps only its newest entries, so that a long run cannot grow it without
// bound: a test sees at least the last kRecordLimit entries and never more
// than twice that. The call log keeps far more (a whole scenario is read by
// position); the debug output keeps its newest kDebugOutputLimit bytes or
// more, never twice as many.
inline constexpr size_t kRecordLimit = 4096;
inline constexpr size_t kDebugOutputLimit = size_t{1} << 20;

// ---- Fault injection ---------------------------------------------------
// An import that fails answers as a refusing layer would: a null pointer, a 0
// handle, or a negative layer code (failureCode, -51009 by default).
void failNthCall(std::string const& import, uint64_t n);  // n = 1: the next call
void failEveryCall(std::string const& import);
void setFailureCode(std::string const& import, int32_t code);
void clearFaults();
// Single failures asked for with failNthCall whose call has not come yet.
uint64_t unfiredFailures();

// Runs at the start of every import call, on the calling thread, before the
// import does anything; a test may use it to hold one thread at one import.
using ImportHook = std::function<void(char const* import)>;
void setImportHook(ImportHook hook);  // an empty hook removes it

// ---- Observation -------------------------------------------------------
uint64_t liveAllocations();  // blocks from malloc not yet freed
uint64_t liveAllocationBytes();
uint64_t totalAllocations();  // every successful malloc since reset

// Every import call, in order, by name (off until enabled).
void enableCallLog(bool on);
std::vector<std::string> callLog();
uint64_t callCount(std::string const& import);  // counted while the log is on

// Everything the driver printed through printToDebugger.
std::string debugOutput();
size_t debugOutputSize();  // debugOutput().size(), without the copy
void clearDebugOutput();
void echoDebugOutput(bool on);  // also copy it to stderr as it arrives

// ---- Halt trapping ------------------------------------------------------
struct HaltRecord {
  std::string driver;
  std::string file;
  uint64_t line = 0;
  std::string text;
};
// halt never returns: the handler must not return either (throw, longjmp or
// exit). Without a handler the layer prints the halt and aborts.
using HaltHandler = std::function<void(HaltRecord const&)>;
void setHaltHandler(HaltHandler handler);
// Thrown by throwOnHalt(); only safe where the halting code was built with
// exceptions (the hosted driver library, not the kernel object).
struct HaltTrap {
  HaltRecord record;
};
void throwOnHalt();
std::vector<HaltRecord> halts();  // every halt seen since reset

// Everything above back to its defaults (faults, logs, capture, handler),
// and the clock, registrations, user-copy records and page placement of the
// other services.
// Live allocations are kept: they belong to whoever made them.
void reset();

namespace detail {
// Called first by every import: logs the call and says whether it must fail.
bool enterImport(char const* import);
int32_t failureCode(char const* import);
}  // namespace detail

}  // namespace sim
