// The debug-print module: every line the driver prints reaches the kernel
// log through here, and every broken internal consistency ends here in a
// halt. Each outside service is reached through a hook variable so that a
// host can redirect output, formatting and halting without touching callers.
//
// Nothing here allocates or reports failure: each print formats into one
// 256-byte stack buffer and cuts what does not fit.
#pragma once

#include <stdarg.h>

#include "platform/types.h"

namespace qvrm7_driver::qvsdbg {

// The longest line is one byte short of this: the last byte is the NUL.
inline constexpr u64 kLineBufferSize = 256;

// Where a prefixed line comes from, and what follows its message.
struct tLineContext {
  char const* file;
  i32 line;
  char const* terminator;
};

// One thread's claim on an indentation depth. The in-use word is changed
// only by compare-and-swap; the other two only by the owning thread.
struct tThreadSlot {
  u64 threadID;
  u32 depth;
  u32 inUse;
};
inline constexpr u32 kThreadSlotCount = 16;

// Writes at the cursor at most `room` bytes, the last of them a NUL, and
// returns the position of that NUL, where the next writer starts.
using tPrefixWriter = char* (*)(char* cursor, u64 room, tLineContext const* context);
using tAcquireThreadSlotHook = tThreadSlot* (*)();
using tReleaseThreadSlotHook = void (*)(tThreadSlot* slot);
using tPrintHook = void (*)(char const* text);
// Must not return. Should a host's hook return anyway, the callers that
// promise never to return halt through the layer themselves.
using tHaltHook = void (*)(tLineContext const* context, char const* message);
using tFormatHook = i32 (*)(char* buffer, u64 size, char const* format, va_list arguments);

// ---- Hooks and settings (constant-initialised; a host may change them) --
extern tAcquireThreadSlotHook debugAcquireThreadSlotHook;
extern tReleaseThreadSlotHook debugReleaseThreadSlotHook;
extern tPrintHook debugPrintHook;
extern i32 debugLevelThreshold;
extern i32 debugComponentWidth;
extern i32 debugFileWidth;
extern i32 debugLineWidth;
extern tPrefixWriter debugPrefixWriterTable[9];
extern tPrefixWriter const* debugPrefixWriters;
extern tHaltHook debugHaltHook;
extern tFormatHook debugFormatHook;

// ---- Printing ----------------------------------------------------------
// Plain lines: the formatted text as it is, cut at 255 characters; a caller
// that wants a line break puts "\n" in its format.
void debugPrintf(char const* format, ...) __attribute__((format(printf, 1, 2)));
void debugPrintfLevel(i32 level, char const* format, ...) __attribute__((format(printf, 2, 3)));
void debugVPrintf(char const* format, va_list arguments);

// Prefixed lines: "[component|file|line] ", the indentation, the message,
// then the context's terminator, which survives any cut.
void debugLinePrintf(tLineContext const* context, char const* format, ...)
    __attribute__((format(printf, 2, 3)));
void debugLinePrintfLevel(i32 level, tLineContext const* context, char const* format, ...)
    __attribute__((format(printf, 3, 4)));
void debugLineVPrintf(tLineContext const* context, char const* format, va_list arguments);

// Bounded formatting for the rest of the driver; the count of the format
// hook (-1 from the layer when the text did not fit).
i32 formatText(char* buffer, u64 size, char const* format, ...)
    __attribute__((format(printf, 3, 4)));
// Whether formatText's count says the whole text, with its NUL, is in the
// buffer; after any other count the buffer holds nothing to rely on.
inline bool formatFitted(i32 count, u64 size) {
  return count >= 0 && static_cast<u64>(count) < size;
}

// ---- Prefix writers ----------------------------------------------------
char* writeOpenBracket(char* cursor, u64 room, tLineContext const* context);
char* writeComponent(char* cursor, u64 room, tLineContext const* context);
char* writeSeparator(char* cursor, u64 room, tLineContext const* context);
char* writeFile(char* cursor, u64 room, tLineContext const* context);
char* writeLine(char* cursor, u64 room, tLineContext const* context);
char* writeCloseBracket(char* cursor, u64 room, tLineContext const* context);
// Without a slot of the calling thread it writes nothing, not even a NUL.
char* writeIndentation(char* cursor, u64 room, tLineContext const* context);

// Right-aligned field: width 0 (or less) writes the whole text, a shorter
// text is padded in front, a longer one keeps its last `width` characters.
char* writePadded(char* cursor, u64 room, char const* text, i32 width, char pad);

// The writers' truncation rule for a plain text.
char* copyText(char* cursor, u64 room, char const* text);

// Joins `count` texts given as further char const* arguments; the bytes
// used including the NUL (0 when there is no room at all).
u64 concatenateStrings(char* buffer, u64 size, u32 count, ...);

// ---- Thread slots ------------------------------------------------------
tThreadSlot* acquireThreadSlot();
void releaseThreadSlot(tThreadSlot* slot);
tThreadSlot* findThreadSlot(u64 threadID);

// ---- Halts and assertions ----------------------------------------------
[[noreturn]] void debugHalt(tLineContext const* context, char const* message);
// Returns for the category "warning"; halts for any other.
void debugBreak(char const* category, char const* component, u32 version, u64 line,
                char const* file);
// One trace line at level 105; nothing when the trace does not exist.
void assertionReport(char const* category, char const* component, u32 version, u64 line,
                     char const* file, char const* message);
// Where every pure virtual slot of the driver leads.
[[noreturn]] void pureVirtualCalled();

// ---- Line objects --------------------------------------------------------
// A prefixed print bound to one place in the source.
class qvsdbg_VarLine {
 public:
  qvsdbg_VarLine(char const* file, i32 line, char const* terminator)
      : context_{file, line, terminator} {}
  virtual ~qvsdbg_VarLine();
  virtual void print(char const* format, ...) __attribute__((format(printf, 2, 3)));

  qvsdbg_VarLine(qvsdbg_VarLine const&) = delete;
  qvsdbg_VarLine& operator=(qvsdbg_VarLine const&) = delete;

 private:
  tLineContext context_;
};

// Formats into the caller's buffer: no prefix, no terminator, no output.
class qvsdbg_VarLineToBuffer {
 public:
  qvsdbg_VarLineToBuffer(char* buffer, u64 size) : buffer_(buffer), size_(size) {}
  virtual ~qvsdbg_VarLineToBuffer();
  virtual void print(char const* format, ...) __attribute__((format(printf, 2, 3)));

  qvsdbg_VarLineToBuffer(qvsdbg_VarLineToBuffer const&) = delete;
  qvsdbg_VarLineToBuffer& operator=(qvsdbg_VarLineToBuffer const&) = delete;

 private:
  char* buffer_;
  u64 size_;
};

}  // namespace qvrm7_driver::qvsdbg

// The platform layer prints through the module under these names too.
namespace qvrm7_driver::nQVWEND000 {
using qvsdbg::debugLinePrintf;
using qvsdbg::debugLinePrintfLevel;
using qvsdbg::debugPrintf;
using qvsdbg::debugPrintfLevel;
using qvsdbg::formatFitted;
using qvsdbg::formatText;
using qvsdbg::pureVirtualCalled;
using qvsdbg::tLineContext;
}  // namespace qvrm7_driver::nQVWEND000
