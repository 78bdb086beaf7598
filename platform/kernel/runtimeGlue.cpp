// What a C++ compiler expects of its runtime library, supplied for the
// freestanding object: allocation operators on the layer's allocator, the
// pure-virtual handler, at-exit registration and the memory routines the
// compiler may call on its own. The hosted build keeps the program's own.
#include "platform/debugPrint.h"
#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/runtime.h"

using namespace qvrm7_driver::nQVWEND000;

#define QVRM7_HIDDEN __attribute__((visibility("hidden")))

// The allocation operators keep the visibility the language gives them; the
// link step localizes them with everything else but the entry.

void* operator new(size_t size) { return operatorNew(size); }
void* operator new[](size_t size) { return operatorNew(size); }
void operator delete(void* object) noexcept { operatorDelete(object); }
void operator delete[](void* object) noexcept { operatorDelete(object); }
void operator delete(void* object, size_t) noexcept { operatorDelete(object); }
void operator delete[](void* object, size_t) noexcept { operatorDelete(object); }

extern "C" {

QVRM7_HIDDEN void* __dso_handle = &__dso_handle;

QVRM7_HIDDEN void __cxa_pure_virtual() { qvrm7_driver::qvsdbg::pureVirtualCalled(); }

QVRM7_HIDDEN int __cxa_atexit(void (*function)(void*), void* argument, void*) {
  return registerAtExit(function, argument, &gAtExitHead);
}

QVRM7_HIDDEN void* memcpy(void* destination, void const* source, size_t count) {
  return nQVZOR180_memCpy(destination, source, count);
}

QVRM7_HIDDEN void* memmove(void* destination, void const* source, size_t count) {
  return nQVZOR180_memMove(destination, source, count);
}

QVRM7_HIDDEN void* memset(void* destination, int byte, size_t count) {
  return nQVZOR240_memSet(destination, byte, count);
}

QVRM7_HIDDEN int memcmp(void const* a, void const* b, size_t count) {
  return compareMemory(a, b, count);
}

}  // extern "C"
