// Allocation on the kernel services layer's allocator, behind a 16-byte
// header, and the small text, number and memory routines that stand in for
// the runtime library a kernel object does not have.
#pragma once

#include <stdarg.h>

#include "platform/status.h"

namespace qvrm7_driver::nQVWEND000 {

// A block the layer did not have, for an allocation that sets the flag:
// the platform allocator's own failure, and that of every allocation made
// in its name.
inline constexpr StatusSite kAllocationFailedSite{"memory", 520};

// Header in front of every block: {requested size + 16, flag}.
struct tAllocationHeader {
  u64 totalSize;
  u64 flag;
};
static_assert(sizeof(tAllocationHeader) == 16);

void* operatorNew(u64 size);
void* operatorNewFlagged(u64 size, tStatus& status, u8 flag);
void operatorDelete(void* object);

// Construct a T on the layer's allocator; null (and the status set) on failure.
template <class T, class... Args>
T* createObject(tStatus& status, Args&&... args) {
  void* memory = operatorNewFlagged(sizeof(T), status, 1);
  if (memory == nullptr) return nullptr;
  return new (kPlacement, memory) T(static_cast<Args&&>(args)...);
}

// Destroy and free what createObject made; null is allowed.
template <class T>
void destroyObject(T* object) {
  if (object == nullptr) return;
  object->~T();
  operatorDelete(object);
}

int formatTextUnbounded(char* buffer, char const* format, ...);
u64 parseUnsigned(char const* text, u64 base);
u64 textToNumber(char const* text);
char* unsignedToText(char* buffer, u64 value, u64 base);
char* unsignedToTextWidth(char* buffer, u64 value, u64 width, u64 base);
char* unsignedToTextPrefixed(char* buffer, u64 value, u64 base);
char* copyTextTail(char* destination, char const* source, u64 n);
void splitTokens(u64 capacity, char* text, char** tokens);
u64 countTokens(char const* text);
i32 compareText(char const* a, char const* b);
u64 textLength(char const* text);
void* fillMemory(void* destination, i32 byte, u64 n);
i32 compareMemory(void const* a, void const* b, u64 n);
void* copyMemory(void* destination, void const* source, u64 n);
void* moveMemory(void* destination, void const* source, u64 n);

}  // namespace qvrm7_driver::nQVWEND000
