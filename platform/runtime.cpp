#include "platform/runtime.h"

#include "platform/memory.h"

namespace qvrm7_driver::nQVWEND000 {

tAtExitNode* gAtExitHead = nullptr;

namespace {

// Not locked: the entry and the unload callback never run concurrently
// with each other or with any other callback.
u32 gStartCount = 0;

}  // namespace

// The driver's own constructor table, in staticObjects.cpp.
extern tStaticConstructor const* constructorTableFirst();
extern tStaticConstructor const* constructorTableEnd();

i32 registerAtExit(void (*function)(void*), void* argument, tAtExitNode** head) {
  void* memory = operatorNew(sizeof(tAtExitNode));
  if (memory == nullptr) return -1;
  *head = new (kPlacement, memory) tAtExitNode{*head, function, argument};
  return 0;
}

void runtimeInitFrom(tStaticConstructor const* first, tStaticConstructor const* end) {
  if (gStartCount++ != 0) return;
  // Last entry first: the console destination and the trace stand at the
  // end of the table so that they exist before any other static object.
  for (tStaticConstructor const* entry = end; entry != first;) {
    --entry;
    (*entry)();
  }
}

void runtimeInit() { runtimeInitFrom(constructorTableFirst(), constructorTableEnd()); }

void runtimeDeinit() {
  // An unmatched stop must not wrap the count: the runtime could never
  // start again.
  if (gStartCount == 0) return;
  if (--gStartCount != 0) return;
  while (gAtExitHead != nullptr) {
    tAtExitNode* node = gAtExitHead;
    gAtExitHead = node->next;
    void (*function)(void*) = node->function;
    void* argument = node->argument;
    // The node goes back first: a function that registers again gets a
    // fresh node and is run by this same loop.
    operatorDelete(node);
    function(argument);
  }
}

u32 runtimeStartCount() { return gStartCount; }

}  // namespace qvrm7_driver::nQVWEND000
