// The driver's runtime: reference-counted start and stop, the table of
// static constructors and the at-exit list on which each registers its
// destructor.
#pragma once

#include "platform/status.h"

namespace qvrm7_driver::nQVWEND000 {

struct tAtExitNode {
  tAtExitNode* next;
  void (*function)(void*);
  void* argument;
};
static_assert(sizeof(tAtExitNode) == 24);

using tStaticConstructor = void (*)();

// The driver-wide at-exit list that every static constructor registers on.
extern tAtExitNode* gAtExitHead;

// 0, or -1 when no node could be allocated (the list is then unchanged).
i32 registerAtExit(void (*function)(void*), void* argument, tAtExitNode** head);

// The first start runs the driver's constructor table, last entry first.
void runtimeInit();
// The last stop runs the at-exit list, last registered first.
void runtimeDeinit();
// runtimeInit over another table (first and one past the last entry); the
// reference count is the same one.
void runtimeInitFrom(tStaticConstructor const* first, tStaticConstructor const* end);
u32 runtimeStartCount();

// Registers a static object's destructor: the common tail of every entry of
// the constructor table.
template <class T>
void registerStaticDestructor(T* object) {
  registerAtExit([](void* self) { static_cast<T*>(self)->~T(); }, object, &gAtExitHead);
}

// Storage for an object that the constructor table builds: no dynamic
// initialisation is left for a loader to run.
template <class T>
struct tStaticStorage {
  alignas(T) unsigned char bytes[sizeof(T)];
  T* get() { return reinterpret_cast<T*>(bytes); }
};

// The build's version record: key=value texts, null-terminated.
char const* const* getVersionRecord();

// The driver's own start and stop hooks.
void driverInitHook(tStatus& status);
void driverDeinitHook();

}  // namespace qvrm7_driver::nQVWEND000
