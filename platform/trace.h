// The trace: one global object that gathers text into a line buffer and
// hands every finished chunk to a replaceable destination. A line may begin
// with a prefix of the place that writes it and an indentation that follows
// the nesting of traced scopes.
#pragma once

#include "platform/status.h"
#include "platform/synchronization.h"

namespace qvrm7_driver::nQVWEND000 {

class tTrace;

// Where finished trace text goes.
class iTraceDestination {
 public:
  virtual ~iTraceDestination();
  virtual void print(char const* text) = 0;
  virtual void printCount(char const* text, u64 count) = 0;
  virtual void flush() = 0;
  // The option text that selects this destination, cut to `size` (the last
  // byte always NUL); `required` receives the size the whole text needs.
  virtual void getOption(char* buffer, u64 size, u64* required) = 0;
  // False refuses to become the destination.
  virtual bool activate() = 0;
  virtual void deactivate() = 0;
  virtual char const* getName() = 0;
};

// Prints trace text to the kernel log through the debug-print module.
class tConsoleTraceDestination final : public iTraceDestination {
 public:
  tConsoleTraceDestination() = default;
  ~tConsoleTraceDestination() override;
  void print(char const* text) override;
  void printCount(char const* text, u64 count) override;
  void flush() override;
  void getOption(char* buffer, u64 size, u64* required) override;
  bool activate() override;
  void deactivate() override;
  char const* getName() override;
};

// An object that can describe itself on a trace.
class iTraceable {
 public:
  virtual ~iTraceable();
  virtual void traceTo(tTrace& trace) const = 0;
};

// The last argument of a line prefix.
enum : i32 {
  kTraceLineOrdinary = 0,
  kTraceScopeEnter = 1,
  kTraceScopeLeave = 2,
};

class tTrace {
 public:
  // Characters a line holds before it is handed on in chunks.
  static constexpr u64 kLineCapacity = 253;
  // Buffer of a formatted write (and of a status text).
  static constexpr u64 kMaxTraceLine = 256;

  explicit tTrace(iTraceDestination* destination);
  virtual ~tTrace();

  tTrace(tTrace const&) = delete;
  tTrace& operator=(tTrace const&) = delete;

  // ---- Options ---------------------------------------------------------
  bool enabled() const { return options_[kEnabled] != 0; }
  void setEnabled() { options_[kEnabled] = 1; }
  void clearEnabled() { options_[kEnabled] = 0; }
  bool showComponent() const { return options_[kShowComponent] != 0; }
  void setShowComponent() { options_[kShowComponent] = 1; }
  void clearShowComponent() { options_[kShowComponent] = 0; }
  bool showVersion() const { return options_[kShowVersion] != 0; }
  void setShowVersion() { options_[kShowVersion] = 1; }
  void clearShowVersion() { options_[kShowVersion] = 0; }
  bool showLine() const { return options_[kShowLine] != 0; }
  void setShowLine() { options_[kShowLine] = 1; }
  void clearShowLine() { options_[kShowLine] = 0; }
  bool showFile() const { return options_[kShowFile] != 0; }
  void setShowFile() { options_[kShowFile] = 1; }
  void clearShowFile() { options_[kShowFile] = 0; }
  bool showFullPath() const { return options_[kShowFullPath] != 0; }
  void setShowFullPath() { options_[kShowFullPath] = 1; }
  void clearShowFullPath() { options_[kShowFullPath] = 0; }
  bool showTimer() const { return options_[kShowTimer] != 0; }
  void setShowTimer() { options_[kShowTimer] = 1; }
  void clearShowTimer() { options_[kShowTimer] = 0; }
  bool showLevel() const { return options_[kShowLevel] != 0; }
  void setShowLevel() { options_[kShowLevel] = 1; }
  void clearShowLevel() { options_[kShowLevel] = 0; }
  bool showThreadID() const { return options_[kShowThreadID] != 0; }
  void setShowThreadID() { options_[kShowThreadID] = 1; }
  void clearShowThreadID() { options_[kShowThreadID] = 0; }
  bool indentScopes() const { return options_[kIndentScopes] != 0; }
  void setIndentScopes() { options_[kIndentScopes] = 1; }
  void clearIndentScopes() { options_[kIndentScopes] = 0; }
  bool fixedWidth() const { return options_[kFixedWidth] != 0; }
  void setFixedWidth() { options_[kFixedWidth] = 1; }
  void clearFixedWidth() { options_[kFixedWidth] = 0; }

  // Each prefixed line is then written under a kernel mutex, so traced code
  // must run where it may sleep. A failed mutex creation leaves it off.
  bool threadSafe() const { return options_[kThreadSafe] != 0; }
  void enableThreadSafety();
  void disableThreadSafety();

  u64 columnWidth() const { return columnWidth_; }
  void setColumnWidth(u64 width) { columnWidth_ = width; }
  i64 depth() const { return depth_; }
  iTraceDestination* destination() const { return destination_; }

  // ---- Writing (each returns the trace, so that calls chain) -------------
  tTrace& write(char const* text);
  // At most maxLength minus *counter characters; the counter grows by what
  // was written. A null counter caps at maxLength alone.
  tTrace& write(char const* text, u64 maxLength, u64* counter);
  tTrace& writeBytes(char const* data, u64 count);
  tTrace& writeBytes(char const* data, u64 count, u64 maxLength, u64* counter);
  tTrace& writeChar(char c);
  tTrace& writeChar(signed char c);
  tTrace& writeChar(unsigned char c);
  tTrace& writeBool(bool value);
  tTrace& writeWide(u32 const* text, u64 count);
  tTrace& writeWide(u32 const* text);
  // Base 16 "0xFF", base 10 plain, any other base "8#377"; a base below 2
  // is written in base 10.
  tTrace& writeSigned(i64 value, u32 base);
  tTrace& writeSigned(i32 value, u32 base);
  tTrace& writeSigned(i16 value, u32 base);
  tTrace& writeUnsigned(u64 value, u32 base);
  tTrace& writeUnsigned(u32 value, u32 base);
  tTrace& writeUnsigned(u16 value, u32 base);
  tTrace& writeHex(u64 value);
  tTrace& printf(char const* format, ...) __attribute__((format(printf, 2, 3)));
  tTrace& writeStatus(tStatus const& status);
  tTrace& writeObject(iTraceable const& object);
  // Rows of 16 bytes in units of 1, 2 or 4 bytes (others byte by byte).
  tTrace& hexDump(void const* data, u64 size, u64 unit);

  // While the trace is disabled or the line suppressed, nothing is formatted,
  // locked or counted: the prefix takes no mutex and a scope leaves the depth
  // as it is.
  tTrace& traceLinePrefix(char const* component, u32 version, u64 line, char const* file, u64 level,
                          i32 kind);
  tTrace& endLine();

  // Announces the switch on the current destination, then switches when the
  // new one differs and accepts; returns the destination current on entry.
  iTraceDestination* setDestination(iTraceDestination* destination);

 private:
  enum : u32 {
    kEnabled,
    kShowComponent,
    kShowVersion,
    kShowLine,
    kShowFile,
    kShowFullPath,
    kShowTimer,
    kShowLevel,
    kShowThreadID,
    kThreadSafe,
    kIndentScopes,
    kFixedWidth,
    kOptionCount
  };

  // Read before a line takes its lock, while another line may end.
  bool accepting() const {
    return enabled() && __atomic_load_n(&lineSuppressed_, __ATOMIC_RELAXED) == 0;
  }
  void clearLineSuppressed() { __atomic_store_n(&lineSuppressed_, u8{0}, __ATOMIC_RELAXED); }
  void append(char c, bool& newlineSeen);
  void finishWrite(bool newlineSeen);
  void emit();
  void writeRepeated(char c, u64 count);
  void takeLineLock();
  void releaseLineLock();

  iTraceDestination* destination_;
  u8 options_[kOptionCount];
  u8 lineSuppressed_;
  u64 columnWidth_;
  i64 depth_;
  tKernelMutex mutex_;
  // Thread handle of the thread whose prefixed line holds the mutex, 0 when
  // none: only that line's end gives it back.
  u64 lineLockOwner_;
  char line_[kLineCapacity + 1];
  char* cursor_;
};

// Writes an opening line when made and a closing line when it ends; the
// lines between are indented one step further.
class tTraceScope {
 public:
  // A null trace means the global one.
  tTraceScope(char const* component, u32 version, u64 line, char const* file, u64 level,
              char const* name, void const* object, tStatus* status, tTrace* trace);
  ~tTraceScope();

  tTraceScope(tTraceScope const&) = delete;
  tTraceScope& operator=(tTraceScope const&) = delete;

 private:
  char const* component_;
  u32 version_;
  u64 line_;
  char const* file_;
  u64 level_;
  char const* name_;
  tStatus* status_;
  tTrace* trace_;
};

// The text form of a status; the characters written, or -1 when the
// buffer was too small (what fitted is then in the buffer).
i32 formatStatus(tStatus const& status, char* buffer, u64 size);

// The global trace; null before the runtime has built it or after it has
// torn it down.
tTrace* getTraceInstance();

// Entries of the constructor table: each builds its object in static
// storage and registers its destructor. The destination is built first and
// destroyed last, so the trace never holds the address of an object that
// is not there.
void constructConsoleTraceDestination();
void constructTrace();

}  // namespace qvrm7_driver::nQVWEND000
