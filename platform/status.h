// The status record that every operation takes last, the rule by which codes
// are set and merged, and the two translation tables to and from the kernel
// services layer's result codes.
#pragma once

#include "platform/types.h"

namespace nQVWENDS100 {

struct tStatus {
  static constexpr uint64_t kShortSize = 16;
  static constexpr uint64_t kLongSize = 216;

  uint64_t size = kShortSize;
  int64_t code = 0;

  constexpr bool isFatal() const { return code < 0; }
  constexpr bool isNotFatal() const { return code >= 0; }
  constexpr bool isLongForm() const { return size >= kLongSize; }
};

// The long form exists only when a caller hands one in. It begins with the
// short record, so a tStatus& whose size says "long" is one of these.
struct tLongStatus {
  tStatus head{tStatus::kLongSize, 0};
  char component[10] = {};
  char file[101] = {};
  uint64_t line = 0;
  uint64_t extra[10] = {};

  operator tStatus&() { return head; }
};

inline tLongStatus& asLong(tStatus& status) { return reinterpret_cast<tLongStatus&>(status); }
inline tLongStatus const& asLong(tStatus const& status) {
  return reinterpret_cast<tLongStatus const&>(status);
}

static_assert(sizeof(tStatus) == 16);
static_assert(sizeof(tLongStatus) == 216);
static_assert(offsetof(tLongStatus, component) == 16);
static_assert(offsetof(tLongStatus, file) == 26);
static_assert(offsetof(tLongStatus, line) == 128);
static_assert(offsetof(tLongStatus, extra) == 136);

}  // namespace nQVWENDS100

namespace qvrm7_driver::nQVWEND000 {

using nQVWENDS100::tStatus;

inline constexpr char kComponent[] = "qvrm7_driver";

// The place a status names: the file and line the record carries. Each site
// is one constant, defined once beside the code (or in the table) that sets
// it, and named k<What>Site.
struct StatusSite {
  char const* file;
  u64 line;
};

// Applies the precedence rule; true when the code was replaced.
bool setStatusCode(tStatus& status, i64 code, char const* component, char const* file, u64 line);

// The usual form: the driver's component with the site's file and line.
inline bool setStatus(tStatus& status, i64 code, StatusSite site) {
  return setStatusCode(status, code, kComponent, site.file, site.line);
}

// Folds a callee's status into the caller's; true when the caller's changed.
bool mergeStatus(tStatus& destination, tStatus const& source);

// A 16-byte short status straight from the layer's allocator.
tStatus* newHeapStatus();
void deleteHeapStatus(tStatus* status);

// Result of the layer -> status (inbound table), set with the driver's
// component and the given file and line; a result of 0 sets nothing.
i64 fromKernelLayerStatus(i32 result);
inline void translateZORStatusToWENDStatusWithErrorDetails(int result, tStatus& status,
                                                           char const* file, unsigned long line) {
  if (result != 0) setStatusCode(status, fromKernelLayerStatus(result), kComponent, file, line);
}
// The same at one of the driver's sites.
inline void translateZORStatusToWENDStatusWithErrorDetails(int result, tStatus& status,
                                                           StatusSite site) {
  translateZORStatusToWENDStatusWithErrorDetails(result, status, site.file, site.line);
}

// Status code -> result for the layer (outbound table).
i32 toKernelLayerStatus(i64 code);

}  // namespace qvrm7_driver::nQVWEND000
