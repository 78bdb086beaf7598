#include "platform/trace.h"

#include <stdarg.h>

#include "platform/debugPrint.h"
#include "platform/kernelServices.h"
#include "platform/memory.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr u64 kHexRowBytes = 16;
// Enough for a u64 in base 2 with its "2#" mark and the NUL.
constexpr u64 kNumberTextSize = 72;

char const* orEmpty(char const* text) { return text == nullptr ? "" : text; }

// "0x" for base 16, "b#" for bases other than 10; the routine writes bases
// without digits (0 and 1) in decimal.
char* numberText(char* buffer, u64 value, u32 base) {
  return unsignedToTextPrefixed(buffer, value, base);
}

// "major.minor.update<phase>build" of the packed version word.
void versionText(char* buffer, u32 version) {
  char* at = unsignedToText(buffer, version >> 24, 10);
  *at++ = '.';
  at = unsignedToText(at, (version >> 20) & 0xF, 10);
  *at++ = '.';
  at = unsignedToText(at, (version >> 16) & 0xF, 10);
  *at++ = "dabf"[(version >> 14) & 0x3];
  unsignedToText(at, version & 0x3FFF, 10);
}

// The part after the last separator; the first character never counts as
// one, so "/x" stays whole.
char const* baseName(char const* path) {
  char const* base = path;
  for (char const* at = path + (path[0] != '\0' ? 1 : 0); *at != '\0'; ++at) {
    if (*at == '/' || *at == '\\') base = at + 1;
  }
  return base;
}

u64 cappedCount(u64 available, u64 maxLength, u64 const* counter) {
  u64 allowed = maxLength;
  if (counter != nullptr) allowed = *counter < maxLength ? maxLength - *counter : 0;
  return available < allowed ? available : allowed;
}

u64 loadRelaxed(u64 const* word) { return __atomic_load_n(word, __ATOMIC_RELAXED); }
void storeRelaxed(u64* word, u64 value) { __atomic_store_n(word, value, __ATOMIC_RELAXED); }

}  // namespace

iTraceDestination::~iTraceDestination() = default;
iTraceable::~iTraceable() = default;

tTrace::tTrace(iTraceDestination* destination)
    : destination_(destination),
      options_{1, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1, 1},
      lineSuppressed_(0),
      columnWidth_(50),
      depth_(0),
      mutex_{},
      lineLockOwner_(0),
      line_{},
      cursor_(line_) {}

tTrace::~tTrace() {
  clearEnabled();
  disableThreadSafety();
  mutex_.destroy();
}

// ---- Thread safety ---------------------------------------------------------

void tTrace::enableThreadSafety() {
  if (threadSafe()) return;
  tStatus failure;
  if (mutex_.handle == 0 && !mutex_.create(failure)) return;
  options_[kThreadSafe] = 1;
}

void tTrace::disableThreadSafety() {
  // The mutex outlives the flag until the trace ends: a writer that saw the
  // flag set may be on its way to the mutex, and must find it there.
  options_[kThreadSafe] = 0;
}

void tTrace::takeLineLock() {
  if (!threadSafe()) return;
  u64 const self = nQVZOR100_getThreadHandle();
  // The kernel mutex does not nest: a second prefix of the same line keeps
  // the hold it already has.
  if (loadRelaxed(&lineLockOwner_) == self) return;
  mutex_.acquire();
  storeRelaxed(&lineLockOwner_, self);
}

void tTrace::releaseLineLock() {
  // Only the line that took the mutex gives it back: an end of line with no
  // prefix before it, or one in another thread, must not release it.
  u64 const owner = loadRelaxed(&lineLockOwner_);
  if (owner == 0 || owner != nQVZOR100_getThreadHandle()) return;
  storeRelaxed(&lineLockOwner_, 0);
  mutex_.release();
}

// ---- Character output ------------------------------------------------------

void tTrace::emit() {
  // Writers without the mutex may have stepped past the end together.
  if (cursor_ > line_ + kLineCapacity) cursor_ = line_ + kLineCapacity;
  *cursor_ = '\0';
  if (destination_ != nullptr) destination_->print(line_);
  cursor_ = line_;
}

void tTrace::append(char c, bool& newlineSeen) {
  if (cursor_ >= line_ + kLineCapacity) emit();
  *cursor_++ = c;
  if (c == '\n') newlineSeen = true;
  if (cursor_ >= line_ + kLineCapacity) {
    emit();
    newlineSeen = false;
  }
}

void tTrace::finishWrite(bool newlineSeen) {
  if (newlineSeen) emit();
}

tTrace& tTrace::writeBytes(char const* data, u64 count) {
  if (!accepting() || data == nullptr) return *this;
  bool newlineSeen = false;
  for (u64 i = 0; i < count; ++i) append(data[i], newlineSeen);
  finishWrite(newlineSeen);
  return *this;
}

tTrace& tTrace::writeBytes(char const* data, u64 count, u64 maxLength, u64* counter) {
  if (data == nullptr) return *this;
  u64 const n = cappedCount(count, maxLength, counter);
  writeBytes(data, n);
  if (counter != nullptr) *counter += n;
  return *this;
}

tTrace& tTrace::write(char const* text) {
  if (text == nullptr) return *this;
  return writeBytes(text, textLength(text));
}

tTrace& tTrace::write(char const* text, u64 maxLength, u64* counter) {
  if (text == nullptr) return *this;
  return writeBytes(text, textLength(text), maxLength, counter);
}

void tTrace::writeRepeated(char c, u64 count) {
  char chunk[32];
  for (char& slot : chunk) slot = c;
  while (count > 0) {
    u64 const n = count < sizeof chunk ? count : sizeof chunk;
    writeBytes(chunk, n);
    count -= n;
  }
}

tTrace& tTrace::writeChar(char c) { return writeBytes(&c, 1); }
tTrace& tTrace::writeChar(signed char c) { return writeChar(static_cast<char>(c)); }
tTrace& tTrace::writeChar(unsigned char c) { return writeChar(static_cast<char>(c)); }

tTrace& tTrace::writeBool(bool value) { return write(value ? "true(1)" : "false(0)"); }

tTrace& tTrace::writeWide(u32 const* text, u64 count) {
  if (!accepting()) return *this;
  if (text == nullptr) count = 0;
  bool newlineSeen = false;
  append('L', newlineSeen);
  append('"', newlineSeen);
  for (u64 i = 0; i < count; ++i) append(static_cast<char>(text[i] & 0xFF), newlineSeen);
  append('"', newlineSeen);
  finishWrite(newlineSeen);
  return *this;
}

tTrace& tTrace::writeWide(u32 const* text) {
  u64 count = 0;
  if (text != nullptr) {
    while (text[count] != 0) ++count;
  }
  return writeWide(text, count);
}

// ---- Numbers -----------------------------------------------------------------

tTrace& tTrace::writeUnsigned(u64 value, u32 base) {
  if (!accepting()) return *this;
  char text[kNumberTextSize];
  numberText(text, value, base);
  return write(text);
}

tTrace& tTrace::writeUnsigned(u32 value, u32 base) { return writeUnsigned(u64{value}, base); }
tTrace& tTrace::writeUnsigned(u16 value, u32 base) { return writeUnsigned(u64{value}, base); }
tTrace& tTrace::writeHex(u64 value) { return writeUnsigned(value, 16); }

tTrace& tTrace::writeSigned(i64 value, u32 base) {
  if (!accepting()) return *this;
  if (value >= 0) return writeUnsigned(static_cast<u64>(value), base);
  // Negated as unsigned: the most negative value has no positive twin.
  write("-");
  return writeUnsigned(0u - static_cast<u64>(value), base);
}

tTrace& tTrace::writeSigned(i32 value, u32 base) { return writeSigned(i64{value}, base); }
tTrace& tTrace::writeSigned(i16 value, u32 base) { return writeSigned(i64{value}, base); }

// ---- Formatted text, status, objects ---------------------------------------

tTrace& tTrace::printf(char const* format, ...) {
  if (!accepting()) return *this;
  char text[kMaxTraceLine] = {};
  va_list arguments;
  va_start(arguments, format);
  i32 const count = qvsdbg::debugFormatHook(text, sizeof text, format, arguments);
  va_end(arguments);
  if (count == -1) write("!!Formatted string exceeds kMaxTraceLine characters!!");
  text[kMaxTraceLine - 1] = '\0';
  return write(text);
}

tTrace& tTrace::writeStatus(tStatus const& status) {
  if (!accepting()) return *this;
  char text[kMaxTraceLine] = {};
  formatStatus(status, text, sizeof text);
  text[kMaxTraceLine - 1] = '\0';
  return write(text);
}

tTrace& tTrace::writeObject(iTraceable const& object) {
  if (accepting()) object.traceTo(*this);
  return *this;
}

i32 formatStatus(tStatus const& status, char* buffer, u64 size) {
  if (buffer == nullptr || size == 0) return -1;
  i32 const head = formatText(buffer, size, "\ntStatus contents:\n\tcode = %ld\n", status.code);
  if (status.code == 0 || !status.isLongForm()) {
    return formatFitted(head, size) ? head : -1;
  }
  if (head <= 0 || static_cast<u64>(head) >= size) return -1;
  u64 count = static_cast<u64>(head);

  // The record's texts need not end inside their fields.
  nQVWENDS100::tLongStatus const& record = nQVWENDS100::asLong(status);
  i32 const origin = formatText(
      buffer + count, size - count,
      "\tcomponent name = %.*s\n\tfile name: %.*s\n\tline number = %lu\n\tstack trace:\n",
      static_cast<int>(sizeof record.component), record.component,
      static_cast<int>(sizeof record.file), record.file, record.line);
  if (origin < 0) return -1;
  count += static_cast<u64>(origin);

  for (u64 word : record.extra) {
    if (count >= size) return -1;
    i32 const written = formatText(buffer + count, size - count, "\t\t0x%016lx\n", word);
    if (written < 0) return -1;
    count += static_cast<u64>(written);
    if (word == 0) break;
  }
  return count < size ? static_cast<i32>(count) : -1;
}

// ---- Hex dump ----------------------------------------------------------------

tTrace& tTrace::hexDump(void const* data, u64 size, u64 unit) {
  if (data == nullptr || size == 0 || !accepting()) return *this;
  u8 const* const bytes = static_cast<u8 const*>(data);
  // A unit of 0 would leave no units in a row; it is read as single bytes.
  u64 width = unit == 0 ? 1 : unit;
  if (width > kHexRowBytes) width = kHexRowBytes;
  if (width > size) width = size;
  u64 const unitsPerRow = kHexRowBytes / width;
  u64 const rowBytes = unitsPerRow * width;

  for (u64 rowStart = 0; rowStart < size; rowStart += rowBytes) {
    // Longest row: 10 + 16 * 3 + 2 + 16 + 1 characters and the NUL.
    char row[96];
    u64 const address = reinterpret_cast<uintptr_t>(bytes + rowStart) & 0xFFFFFFFFu;
    char* at = unsignedToTextWidth(row, address, 8, 16);
    *at++ = ':';
    *at++ = ' ';
    for (u64 index = 0; index < unitsPerRow; ++index) {
      u64 const offset = rowStart + index * width;
      if (width == 4 && offset + 4 <= size) {
        u32 value;
        __builtin_memcpy(&value, bytes + offset, sizeof value);
        at = unsignedToTextWidth(at, value, 8, 16);
      } else if (width == 2 && offset + 2 <= size) {
        u16 value;
        __builtin_memcpy(&value, bytes + offset, sizeof value);
        at = unsignedToTextWidth(at, value, 4, 16);
      } else {
        // Bytes past the end are never read: a unit cut by the end of the
        // data shows its remaining bytes one by one, then fillers.
        for (u64 b = offset; b < offset + width; ++b) {
          if (b < size) {
            at = unsignedToTextWidth(at, bytes[b], 2, 16);
          } else {
            *at++ = 'X';
            *at++ = 'X';
          }
        }
      }
      *at++ = ' ';
    }
    *at++ = ':';
    *at++ = ' ';
    u64 const rowEnd = rowStart + rowBytes < size ? rowStart + rowBytes : size;
    for (u64 offset = rowStart; offset < rowEnd; ++offset) {
      u8 const c = bytes[offset];
      *at++ = c >= 0x20 && c <= 0x7E ? static_cast<char>(c) : '.';
    }
    *at++ = '\n';
    *at = '\0';
    write(row);
  }
  return *this;
}

// ---- Line prefix -------------------------------------------------------------

tTrace& tTrace::traceLinePrefix(char const* component, u32 version, u64 line, char const* file,
                                u64 level, i32 kind) {
  // A line that will not be printed is neither formatted nor locked; nor
  // does its scope count towards the indentation of printed lines.
  if (!accepting()) return *this;
  u64 counter = 0;
  u64 const pad = columnWidth_ == 0 ? 0 : columnWidth_ - 1;
  u64 const cap = fixedWidth() ? pad : ~u64{0};
  takeLineLock();

  char const* separator = "[";
  bool fieldWritten = false;
  auto field = [&](char const* text) {
    write(separator, cap, &counter);
    write(orEmpty(text), cap, &counter);
    separator = "--";
    fieldWritten = true;
  };
  char number[kNumberTextSize];
  if (showComponent()) field(component);
  if (showVersion()) {
    versionText(number, version);
    field(number);
  }
  if (showLine()) {
    numberText(number, line, 10);
    field(number);
  }
  if (showFile()) {
    file = orEmpty(file);
    field(showFullPath() ? file : baseName(file));
  }
  if (showThreadID()) {
    numberText(number, nQVZOR100_getThreadID(), 16);
    field(number);
  }
  if (showTimer()) {
    numberText(number, nQVZOR110_getTimerCount(), 10);
    field(number);
  }
  if (showLevel()) {
    numberText(number, level, 10);
    field(number);
  }

  if (counter < pad) writeRepeated(fieldWritten ? '-' : ' ', pad - counter);
  if (!(fixedWidth() && columnWidth_ == 0)) write(fieldWritten ? "] " : "  ");

  if (kind == kTraceScopeLeave) depth_ = depth_ > 0 ? depth_ - 1 : 0;
  if (indentScopes() && depth_ > 0) writeRepeated(' ', 2 * static_cast<u64>(depth_));
  if (kind == kTraceScopeEnter) ++depth_;
  return *this;
}

tTrace& tTrace::endLine() {
  write("\n");
  clearLineSuppressed();
  releaseLineLock();
  return *this;
}

iTraceDestination* tTrace::setDestination(iTraceDestination* destination) {
  iTraceDestination* const previous = destination_;
  // There is nothing to name, announce or switch to.
  if (destination == nullptr) return previous;
  // A line this thread already holds stays held: the announcement ends it
  // but does not give back a mutex it did not take.
  bool const lineWasHeld = loadRelaxed(&lineLockOwner_) == nQVZOR100_getThreadHandle();
  takeLineLock();
  write("Switching trace destination to ").write(destination->getName()).write("\n");
  clearLineSuppressed();
  if (destination != previous && destination->activate()) {
    destination_ = destination;
    if (previous != nullptr) previous->deactivate();
  }
  if (!lineWasHeld) releaseLineLock();
  return previous;
}

// ---- Scopes ------------------------------------------------------------------

tTraceScope::tTraceScope(char const* component, u32 version, u64 line, char const* file, u64 level,
                         char const* name, void const* object, tStatus* status, tTrace* trace)
    : component_(component),
      version_(version),
      line_(line),
      file_(file),
      level_(level),
      name_(name),
      status_(status),
      trace_(trace != nullptr ? trace : getTraceInstance()) {
  if (trace_ == nullptr) return;
  trace_->traceLinePrefix(component_, version_, line_, file_, level_, kTraceScopeEnter);
  if (name_ != nullptr) trace_->write(name_).write("; ");
  if (object != nullptr) {
    trace_->write("this=").writeHex(reinterpret_cast<uintptr_t>(object)).write("; ");
  }
  if (status_ != nullptr) trace_->write("tStatus code=").writeSigned(status_->code, 10).write(" ");
  trace_->write("{").endLine();
}

tTraceScope::~tTraceScope() {
  if (trace_ == nullptr) return;
  trace_->traceLinePrefix(component_, version_, line_, file_, level_, kTraceScopeLeave);
  trace_->write("} ");
  if (status_ != nullptr) trace_->write("tStatus code=").writeSigned(status_->code, 10).write("; ");
  if (name_ != nullptr) trace_->write(name_);
  trace_->endLine();
}

}  // namespace qvrm7_driver::nQVWEND000
