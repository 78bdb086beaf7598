#include "platform/debugPrint.h"

#include "platform/assertion.h"
#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/status.h"
#include "platform/trace.h"

namespace qvrm7_driver::qvsdbg {

namespace {

using nQVWEND000::compareText;
using nQVWEND000::kComponent;
using nQVWEND000::textLength;

// The place this module names when a halt comes without a context.
constexpr char kThisFile[] = "debugPrint";
constexpr i32 kHaltWithoutContextLine = 341;

// The runtime's own place, named by the pure-virtual handler.
constexpr char kRuntimeFile[] = "initializeCPPRunTime";
constexpr i32 kPureVirtualLine = 348;

constexpr i32 kAssertionReportLevel = 105;

void printToKernelLog(char const* text) { nQVZOR100_printToDebugger(text); }

i32 formatWithKernelLayer(char* buffer, u64 size, char const* format, va_list arguments) {
  return nQVZOR100_vsnPrintf(buffer, size, format, arguments);
}

// Writes into a room of bytes, keeping the last byte for the NUL.
class tRoomWriter {
 public:
  tRoomWriter(char* cursor, u64 room) : cursor_(cursor), last_(cursor + room - 1) {}
  void put(char c) {
    if (cursor_ < last_) *cursor_++ = c;
  }
  void put(char const* text, u64 count) {
    for (u64 i = 0; i < count; ++i) put(text[i]);
  }
  char* finish() {
    *cursor_ = '\0';
    return cursor_;
  }

 private:
  char* cursor_;
  char* last_;
};

tThreadSlot gThreadSlots[kThreadSlotCount] = {};

u64 loadRelaxed(u64 const* word) { return __atomic_load_n(word, __ATOMIC_RELAXED); }
u32 loadRelaxed(u32 const* word) { return __atomic_load_n(word, __ATOMIC_RELAXED); }

char const* orEmpty(char const* text) { return text == nullptr ? "" : text; }

bool sameText(char const* a, char const* b) {
  return a != nullptr && b != nullptr && compareText(a, b) == 0;
}

}  // namespace

tAcquireThreadSlotHook debugAcquireThreadSlotHook = acquireThreadSlot;
tReleaseThreadSlotHook debugReleaseThreadSlotHook = releaseThreadSlot;
tPrintHook debugPrintHook = printToKernelLog;
i32 debugLevelThreshold = 4096;
i32 debugComponentWidth = 10;
i32 debugFileWidth = 32;
i32 debugLineWidth = 4;
tPrefixWriter debugPrefixWriterTable[9] = {
    writeOpenBracket, writeComponent,    writeSeparator,   writeFile, writeSeparator,
    writeLine,        writeCloseBracket, writeIndentation, nullptr,
};
tPrefixWriter const* debugPrefixWriters = debugPrefixWriterTable;
tHaltHook debugHaltHook = debugHalt;
tFormatHook debugFormatHook = formatWithKernelLayer;

// ---- Printing ----------------------------------------------------------

void debugVPrintf(char const* format, va_list arguments) {
  // Zeroed: a formatter that fails before writing must not send stack
  // contents to the kernel log.
  char buffer[kLineBufferSize] = {};
  debugFormatHook(buffer, kLineBufferSize, format, arguments);
  buffer[kLineBufferSize - 1] = '\0';
  debugPrintHook(buffer);
}

void debugPrintf(char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  debugVPrintf(format, arguments);
  va_end(arguments);
}

void debugPrintfLevel(i32 level, char const* format, ...) {
  if (level < debugLevelThreshold) return;
  va_list arguments;
  va_start(arguments, format);
  debugVPrintf(format, arguments);
  va_end(arguments);
}

void debugLineVPrintf(tLineContext const* context, char const* format, va_list arguments) {
  char buffer[kLineBufferSize] = {};
  char* const end = buffer + kLineBufferSize;
  char const* terminator = orEmpty(context->terminator);
  u64 const terminatorLength = textLength(terminator);
  // A terminator that could never fit reserves nothing: the prefix and the
  // message keep their place and the terminator is cut like any text.
  u64 const cut = terminatorLength <= kLineBufferSize - 1 ? kLineBufferSize - 1 - terminatorLength
                                                         : kLineBufferSize - 1;

  char* cursor = buffer;
  for (tPrefixWriter const* writer = debugPrefixWriters; *writer != nullptr; ++writer) {
    cursor = (*writer)(cursor, static_cast<u64>(end - cursor), context);
  }
  debugFormatHook(cursor, static_cast<u64>(end - cursor), format, arguments);
  buffer[cut] = '\0';

  // The writers leave one unbroken text, so its end is found from the
  // start; a prefix longer than the cut then still keeps the terminator.
  char* textEnd = buffer + textLength(buffer);
  copyText(textEnd, static_cast<u64>(end - textEnd), terminator);
  debugPrintHook(buffer);
}

void debugLinePrintf(tLineContext const* context, char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  debugLineVPrintf(context, format, arguments);
  va_end(arguments);
}

void debugLinePrintfLevel(i32 level, tLineContext const* context, char const* format, ...) {
  if (level < debugLevelThreshold) return;
  va_list arguments;
  va_start(arguments, format);
  debugLineVPrintf(context, format, arguments);
  va_end(arguments);
}

i32 formatText(char* buffer, u64 size, char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  i32 const count = debugFormatHook(buffer, size, format, arguments);
  va_end(arguments);
  return count;
}

// ---- Prefix writers ----------------------------------------------------

char* copyText(char* cursor, u64 room, char const* text) {
  if (room == 0) return cursor;
  tRoomWriter writer(cursor, room);
  text = orEmpty(text);
  writer.put(text, textLength(text));
  return writer.finish();
}

char* writePadded(char* cursor, u64 room, char const* text, i32 width, char pad) {
  if (room == 0) return cursor;
  tRoomWriter writer(cursor, room);
  text = orEmpty(text);
  u64 const length = textLength(text);
  if (width <= 0) {
    writer.put(text, length);
  } else if (length < static_cast<u64>(width)) {
    for (u64 i = length; i < static_cast<u64>(width); ++i) writer.put(pad);
    writer.put(text, length);
  } else {
    writer.put(text + (length - static_cast<u64>(width)), static_cast<u64>(width));
  }
  return writer.finish();
}

char* writeOpenBracket(char* cursor, u64 room, tLineContext const*) {
  return copyText(cursor, room, "[");
}

char* writeSeparator(char* cursor, u64 room, tLineContext const*) {
  return copyText(cursor, room, "|");
}

char* writeCloseBracket(char* cursor, u64 room, tLineContext const*) {
  return copyText(cursor, room, "] ");
}

char* writeComponent(char* cursor, u64 room, tLineContext const*) {
  return writePadded(cursor, room, kComponent, debugComponentWidth, ' ');
}

char* writeFile(char* cursor, u64 room, tLineContext const* context) {
  return writePadded(cursor, room, context->file, debugFileWidth, ' ');
}

char* writeLine(char* cursor, u64 room, tLineContext const* context) {
  char digits[16];
  char* at = digits;
  i32 const line = context->line;
  if (line < 0) *at++ = '-';
  nQVWEND000::unsignedToText(at, line < 0 ? 0u - static_cast<u64>(line) : static_cast<u64>(line),
                             10);
  return writePadded(cursor, room, digits, debugLineWidth, '0');
}

char* writeIndentation(char* cursor, u64 room, tLineContext const*) {
  tThreadSlot const* slot = findThreadSlot(nQVZOR100_getThreadID());
  if (slot == nullptr || room == 0) return cursor;
  tRoomWriter writer(cursor, room);
  for (u32 depth = loadRelaxed(&slot->depth); depth > 0; --depth) writer.put(' ');
  return writer.finish();
}

u64 concatenateStrings(char* buffer, u64 size, u32 count, ...) {
  if (buffer == nullptr || size == 0) return 0;
  tRoomWriter writer(buffer, size);
  va_list texts;
  va_start(texts, count);
  for (u32 i = 0; i < count; ++i) {
    char const* text = orEmpty(va_arg(texts, char const*));
    writer.put(text, textLength(text));
  }
  va_end(texts);
  return static_cast<u64>(writer.finish() - buffer) + 1;
}

// ---- Thread slots ------------------------------------------------------

tThreadSlot* findThreadSlot(u64 threadID) {
  for (tThreadSlot& slot : gThreadSlots) {
    if (__atomic_load_n(&slot.inUse, __ATOMIC_ACQUIRE) == 1 &&
        loadRelaxed(&slot.threadID) == threadID) {
      return &slot;
    }
  }
  return nullptr;
}

tThreadSlot* acquireThreadSlot() {
  u64 const threadID = nQVZOR100_getThreadID();
  if (tThreadSlot* held = findThreadSlot(threadID)) {
    __atomic_store_n(&held->depth, loadRelaxed(&held->depth) + 1, __ATOMIC_RELAXED);
    return held;
  }
  for (tThreadSlot& slot : gThreadSlots) {
    u32 expected = 0;
    if (loadRelaxed(&slot.inUse) == 0 &&
        __atomic_compare_exchange_n(&slot.inUse, &expected, 1u, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_RELAXED)) {
      __atomic_store_n(&slot.threadID, threadID, __ATOMIC_RELAXED);
      __atomic_store_n(&slot.depth, 1u, __ATOMIC_RELAXED);
      return &slot;
    }
  }
  return nullptr;
}

void releaseThreadSlot(tThreadSlot* slot) {
  if (slot == nullptr) return;
  u32 const depth = loadRelaxed(&slot->depth);
  // A release without a claim would wrap the depth and keep the slot
  // taken for good.
  if (depth == 0) return;
  __atomic_store_n(&slot->depth, depth - 1, __ATOMIC_RELAXED);
  if (depth != 1) return;
  __atomic_store_n(&slot->threadID, u64{0}, __ATOMIC_RELAXED);
  u32 expected = 1;
  __atomic_compare_exchange_n(&slot->inUse, &expected, 0u, false, __ATOMIC_RELEASE,
                              __ATOMIC_RELAXED);
}

// ---- Halts and assertions ----------------------------------------------

void debugHalt(tLineContext const* context, char const* message) {
  char const* file = context != nullptr ? context->file : kThisFile;
  i32 const line = context != nullptr ? context->line : kHaltWithoutContextLine;
  nQVZOR250_halt(kComponent, file, static_cast<u64>(line), message != nullptr ? message : "halt");
}

void debugBreak(char const* category, char const*, u32, u64, char const*) {
  if (sameText(category, "warning")) return;
  debugHaltHook(nullptr, "WEND debug break");
}

void assertionReport(char const* category, char const* component, u32 version, u64 line,
                     char const* file, char const* message) {
  nQVWEND000::tTrace* trace = nQVWEND000::getTraceInstance();
  if (trace == nullptr) return;
  trace->traceLinePrefix(component, version, line, file, kAssertionReportLevel,
                         nQVWEND000::kTraceLineOrdinary);
  if (sameText(category, "default")) {
    trace->write("ASSERTION FAILED: ");
  } else if (sameText(category, "warning")) {
    trace->write("ASSERTION WARNING: ");
  } else {
    trace->write("ASSERTION FAILED (").write(category).write("): ");
  }
  trace->write(message).endLine();
}

void pureVirtualCalled() {
  debugPrintf("[%s|%s|%d] !!ASSERT!!\n", kComponent, kRuntimeFile, kPureVirtualLine);
  debugPrintf("BUG: A call to a pure virtual function was made!\n");
  tLineContext const context{kRuntimeFile, kPureVirtualLine, "\n"};
  debugHaltHook(&context, "ASSERT");
  debugHalt(&context, "ASSERT");
}

// ---- Line objects --------------------------------------------------------

qvsdbg_VarLine::~qvsdbg_VarLine() = default;

void qvsdbg_VarLine::print(char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  debugLineVPrintf(&context_, format, arguments);
  va_end(arguments);
}

qvsdbg_VarLineToBuffer::~qvsdbg_VarLineToBuffer() = default;

void qvsdbg_VarLineToBuffer::print(char const* format, ...) {
  // The NUL goes to index size - 1: without a byte there is nothing to do.
  if (buffer_ == nullptr || size_ == 0) return;
  buffer_[0] = '\0';
  va_list arguments;
  va_start(arguments, format);
  debugFormatHook(buffer_, size_, format, arguments);
  va_end(arguments);
  buffer_[size_ - 1] = '\0';
}

}  // namespace qvrm7_driver::qvsdbg

namespace qvrm7_driver::nQVWEND000 {

void assertionFailed(char const* file, i32 line, char const* expression) {
  using namespace qvsdbg;
  expression = orEmpty(expression);
  debugPrintf("[%s|%s|%d] !!ASSERT!!\n", kComponent, orEmpty(file), line);
  tLineContext const context{file, line, "\n"};
  debugLinePrintf(&context, "%s", expression);
  debugLinePrintf(&context, " ");
  debugHaltHook(&context, expression);
  debugHalt(&context, expression);
}

}  // namespace qvrm7_driver::nQVWEND000
