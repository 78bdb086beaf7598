// The console destination and the one global trace that prints through it;
// both are built by the constructor table and torn down at runtime stop.
#include <limits.h>

#include "platform/debugPrint.h"
#include "platform/runtime.h"
#include "platform/trace.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr char kConsoleOption[] = " --destination wend";

tStaticStorage<tConsoleTraceDestination> gConsoleStorage;
tStaticStorage<tTrace> gTraceStorage;
tTrace* gTrace = nullptr;

}  // namespace

tConsoleTraceDestination::~tConsoleTraceDestination() = default;

void tConsoleTraceDestination::print(char const* text) { debugPrintf("%s", text); }

void tConsoleTraceDestination::printCount(char const* text, u64 count) {
  // A precision is an int: a larger count would not be a precision at all.
  int const precision = count > INT_MAX ? INT_MAX : static_cast<int>(count);
  debugPrintf("%.*s", precision, text);
}

void tConsoleTraceDestination::flush() {}

void tConsoleTraceDestination::getOption(char* buffer, u64 size, u64* required) {
  if (buffer != nullptr && size != 0) {
    qvsdbg::copyText(buffer, size, kConsoleOption);
    buffer[size - 1] = '\0';
  }
  if (required != nullptr) *required = sizeof kConsoleOption;
}

bool tConsoleTraceDestination::activate() { return true; }

void tConsoleTraceDestination::deactivate() {}

char const* tConsoleTraceDestination::getName() { return "qvsdbg_printf"; }

tTrace* getTraceInstance() { return gTrace; }

void constructConsoleTraceDestination() {
  registerStaticDestructor(new (kPlacement, gConsoleStorage.get()) tConsoleTraceDestination());
}

void constructTrace() {
  gTrace = new (kPlacement, gTraceStorage.get()) tTrace(gConsoleStorage.get());
  registerAtExit(
      [](void* trace) {
        gTrace = nullptr;
        static_cast<tTrace*>(trace)->~tTrace();
      },
      gTrace, &gAtExitHead);
}

}  // namespace qvrm7_driver::nQVWEND000
