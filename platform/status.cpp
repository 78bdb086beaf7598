#include "platform/status.h"

#include "platform/kernelServices.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

using nQVWENDS100::tLongStatus;

constexpr u64 kUnbounded = ~u64{0};
constexpr u64 kComponentField = sizeof(tLongStatus::component);
constexpr u64 kFileField = sizeof(tLongStatus::file);
// A file name too long for the field keeps its head and its tail, which
// together still tell the directory and the base name apart.
constexpr u64 kFileKept = kFileField - 1;
constexpr u64 kFileHead = 49;
constexpr u64 kFileTail = 49;
static_assert(kFileHead + 2 + kFileTail == kFileKept);

// Texts taken from a caller's long record need not end within their field,
// so every length here is taken with a bound.
u64 boundedLength(char const* text, u64 bound) {
  u64 length = 0;
  while (length < bound && text[length] != '\0') ++length;
  return length;
}

// Copies up to the field's size, stopping at the NUL, zero-fills the rest
// and always leaves the last byte NUL.
void copyField(char* field, u64 fieldSize, char const* text) {
  u64 index = 0;
  for (; index < fieldSize && text[index] != '\0'; ++index) field[index] = text[index];
  for (; index < fieldSize; ++index) field[index] = '\0';
  field[fieldSize - 1] = '\0';
}

void writeFile(char* field, char const* text, u64 bound) {
  copyField(field, kFileField, text);
  u64 const length = boundedLength(text, bound);
  if (length <= kFileKept) return;
  field[kFileHead] = '.';
  field[kFileHead + 1] = '.';
  char const* tail = text + length - kFileTail;
  for (u64 index = 0; index < kFileTail; ++index) field[kFileHead + 2 + index] = tail[index];
  field[kFileKept] = '\0';
}

bool setCode(tStatus& status, i64 code, char const* component, char const* file, u64 line,
             u64 fileBound) {
  if (code == 0) return false;
  if (status.code < 0) return false;
  if (status.code > 0 && code > 0) return false;
  status.code = code;
  if (!status.isLongForm()) return true;

  tLongStatus& record = nQVWENDS100::asLong(status);
  copyField(record.component, kComponentField, component != nullptr ? component : "");
  writeFile(record.file, file != nullptr ? file : "", fileBound);
  record.line = line;
  record.extra[0] = 0;
  return true;
}

struct tCodePair {
  i32 layer;
  i64 platform;
};

// Results of the layer and the codes they become here.
constexpr tCodePair kInbound[] = {
    {-51352, kStatusMemoryFull},     {-51353, kStatusLayerNoResources},
    {-51256, kStatusNotSupported},   {-51150, kStatusNoMatch},
    {-51009, kStatusBadArgument},    {-51101, kStatusNotAvailable},
    {-51400, kStatusTimeout},        {-51104, kStatusLayer51104},
    {-51000, kStatusLayer51000},     {-51152, kStatusUnsupportedAccess},
    {-51409, kStatusBufferTooSmall}, {-51300, kStatusLayer51300},
    {-51405, kStatusLayer51405},     {-51401, kStatusLayer51401},
    {-51106, kStatusLayer51106},
};

// Codes that leave for the layer. Not the inverse of the inbound table: a
// timeout leaves as -51550 and a bare layer failure as -51202.
constexpr tCodePair kOutbound[] = {
    {-51352, kStatusMemoryFull},        {-51353, kStatusLayerNoResources},
    {-51256, kStatusNotSupported},      {-51150, kStatusNoMatch},
    {-51009, kStatusBadArgument},       {-51101, kStatusNotAvailable},
    {-51550, kStatusTimeout},           {-51202, kStatusLayerFailure},
    {-51104, kStatusLayer51104},        {-51000, kStatusLayer51000},
    {-51152, kStatusUnsupportedAccess}, {-51409, kStatusBufferTooSmall},
    {-51300, kStatusLayer51300},        {-51405, kStatusLayer51405},
    {-51401, kStatusLayer51401},        {-51106, kStatusLayer51106},
};

constexpr i32 kLayerUnknownFailure = -51001;

}  // namespace

bool setStatusCode(tStatus& status, i64 code, char const* component, char const* file, u64 line) {
  return setCode(status, code, component, file, line, kUnbounded);
}

bool mergeStatus(tStatus& destination, tStatus const& source) {
  char const* component = "";
  char const* file = "";
  u64 line = 0;
  if (source.isLongForm()) {
    tLongStatus const& from = nQVWENDS100::asLong(source);
    component = from.component;
    file = from.file;
    line = from.line;
  }
  if (!setCode(destination, source.code, component, file, line, kFileField)) return false;

  if (destination.isLongForm() && source.isLongForm()) {
    u64 const* from = nQVWENDS100::asLong(source).extra;
    u64* to = nQVWENDS100::asLong(destination).extra;
    for (u64 index = 0; index < 10; ++index) {
      to[index] = from[index];
      if (from[index] == 0) break;
    }
  }
  return true;
}

tStatus* newHeapStatus() {
  // Straight from the layer, without the allocation header: the record is
  // freed the same way. A failure has nowhere to be reported but the null.
  void* memory = nQVZOR100_malloc(sizeof(tStatus));
  if (memory == nullptr) return nullptr;
  return new (kPlacement, memory) tStatus{};
}

void deleteHeapStatus(tStatus* status) {
  if (status == nullptr) return;
  nQVZOR100_free(status);
}

i64 fromKernelLayerStatus(i32 result) {
  if (result == 0) return kStatusSuccess;
  for (tCodePair const& pair : kInbound) {
    if (pair.layer == result) return pair.platform;
  }
  return kStatusLayerFailure;
}

i32 toKernelLayerStatus(i64 code) {
  if (code == kStatusSuccess) return 0;
  for (tCodePair const& pair : kOutbound) {
    if (pair.platform == code) return pair.layer;
  }
  return kLayerUnknownFailure;
}

}  // namespace qvrm7_driver::nQVWEND000
