// The constructor table: every static object of the driver is built here,
// by an explicit entry, when the runtime first starts. Nothing is left in
// the object for a loader to construct, so the program that links the
// driver never runs these constructors itself.
#include "platform/runtime.h"
#include "platform/trace.h"
#include "registers/version.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

struct tConstructorTable {
  u64 startMarker;
  tStaticConstructor entries[3];
  u64 endMarker;
};

// Run from the last entry to the first: the console destination stands last,
// so it exists before the trace that prints through it, and both exist before
// any other static object. The at-exit list then tears the trace down before
// its destination.
__attribute__((section(".qvrm7_ctors"),
               used)) constinit tConstructorTable const gConstructorTable = {
    0x5354415254435452ull,  // start marker
    {
        qvregitools::constructNoneVersion,
        constructTrace,
        constructConsoleTraceDestination,
    },
    0x454e444354524c53ull,  // end marker
};

}  // namespace

tStaticConstructor const* constructorTableFirst() { return gConstructorTable.entries; }

tStaticConstructor const* constructorTableEnd() {
  return gConstructorTable.entries +
         sizeof(gConstructorTable.entries) / sizeof(gConstructorTable.entries[0]);
}

}  // namespace qvrm7_driver::nQVWEND000
