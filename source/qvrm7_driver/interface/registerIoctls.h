// The register ioctls of the interface "qvrm7_driver_qvrm7" as a user-space
// client sees them: the operation codes and, for each, the argument record
// it sends and the result record it gets back. Only fixed-width fields,
// little-endian, no implicit padding; the driver refuses a request whose
// input or output size is not exactly that of its records.
//
// Every record ends with the caller's 32-bit status. The input's status is
// where the operation starts (an error there makes it do nothing); the
// output's is where it ended. The ioctl's own result reports only the
// transport (sizes, the records' copies); a refused operation comes back in
// the output record with the ioctl itself succeeding.
//
// A register map is named by the user address and byte count of its name,
// which needs no terminator: "RM7BaseRegMap_Ver22.8.0f141" or, for an older
// client, any version the map is still compatible with. Listings are copied
// to user addresses the records carry; each comes with its size, and the
// driver writes nothing into a buffer too small for what it would copy.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace qvrm7_driver {

// The register group; the Ex variants take an element index, the others
// pass index 0. An element index has 24 bits: one of 0x1000000 or more
// comes back as -52003 and the operation does nothing.
enum tRegisterIoctlCode : uint32_t {
  kIoctlArmGet = 0x0301,
  kIoctlArmSet = 0x0302,
  kIoctlArmRead = 0x0303,
  kIoctlArmWrite = 0x0304,
  kIoctlArmFlushRegister = 0x0305,
  kIoctlArmRefreshRegister = 0x0306,
  kIoctlArmFlushRegMap = 0x0307,
  kIoctlArmGetRegisterFormat = 0x0308,
  kIoctlArmGetRegistrationNames = 0x0309,
  kIoctlArmGetRegistrationList = 0x030A,
  kIoctlArmGetSizeOfRegistrationList = 0x030B,
  kIoctlArmGetEx = 0x0311,
  kIoctlArmSetEx = 0x0312,
  kIoctlArmReadEx = 0x0313,
  kIoctlArmWriteEx = 0x0314,
  kIoctlArmFlushRegisterEx = 0x0315,
  kIoctlArmRefreshRegisterEx = 0x0316,
};

// Room a caller gives each listing: 64 bytes a registration for the names,
// the list's size less its NUL for the list, and for a format 64 type bytes
// and 64 masks of 8 bytes.
inline constexpr uint64_t kArmNameSlotSize = 64;
inline constexpr uint64_t kArmFormatFields = 64;
inline constexpr unsigned kArmElementIndexBits = 24;

struct tArmMapName {
  uint64_t address;  // user address of the name's first byte
  uint64_t size;     // bytes of the name; a NUL among them ends it early
};

// ---- Argument records -------------------------------------------------------

// arm_get, arm_read, arm_refreshRegister.
struct tArmRegisterArguments {
  tArmMapName map;
  uint32_t id;
  int32_t status;
};
// arm_getEx, arm_readEx, arm_refreshRegisterEx.
struct tArmRegisterExArguments {
  tArmMapName map;
  uint32_t id;
  uint32_t index;
  uint32_t reserved;
  int32_t status;
};
// arm_set takes a 32-bit value, which reaches the map widened with zeros;
// arm_setEx takes all 64 bits.
struct tArmSetArguments {
  tArmMapName map;
  uint32_t value;
  uint32_t id;
  uint32_t reserved;
  int32_t status;
};
struct tArmSetExArguments {
  tArmMapName map;
  uint64_t value;
  uint32_t id;
  uint32_t index;
  uint32_t reserved;
  int32_t status;
};
// force: any value but 0 writes even a clean register.
struct tArmWriteArguments {
  tArmMapName map;
  uint64_t value;
  uint32_t id;
  uint32_t force;
  uint32_t reserved;
  int32_t status;
};
struct tArmWriteExArguments {
  tArmMapName map;
  uint64_t value;
  uint32_t id;
  uint32_t force;
  uint32_t index;
  int32_t status;
};
struct tArmFlushArguments {
  tArmMapName map;
  uint32_t id;
  uint32_t force;
  uint32_t reserved;
  int32_t status;
};
struct tArmFlushExArguments {
  tArmMapName map;
  uint32_t id;
  uint32_t force;
  uint32_t index;
  int32_t status;
};
struct tArmFlushMapArguments {
  tArmMapName map;
  uint32_t force;
  int32_t status;
};
// The field types go one byte each to types, the masks eight bytes each to
// masks.
struct tArmFormatArguments {
  tArmMapName map;
  uint64_t types;
  uint64_t typesSize;
  uint64_t masks;
  uint64_t masksSize;
  uint32_t id;
  int32_t status;
};
// arm_getRegistrationNames and arm_getRegistrationList.
struct tArmListingArguments {
  uint64_t buffer;  // user address
  uint64_t size;    // bytes at that address
  uint32_t reserved;
  int32_t status;
};
struct tArmStatusArguments {
  int32_t status;
};

// ---- Result records ---------------------------------------------------------

// arm_get, arm_read and their Ex variants.
struct tArmValueResult {
  uint64_t value;
  uint32_t reserved;
  int32_t status;
};
struct tArmFormatResult {
  uint32_t count;  // fields copied out
  int32_t status;
};
// arm_getSizeOfRegistrationList: the list's bytes with its NUL.
struct tArmSizeResult {
  uint64_t size;
  uint32_t reserved;
  int32_t status;
};
// Every other register ioctl.
struct tArmStatusResult {
  int32_t status;
};

// The status closes every record.
template <class Record>
inline constexpr bool kArmStatusLast = offsetof(Record, status) + sizeof(int32_t) == sizeof(Record);

static_assert(sizeof(tArmMapName) == 16);
static_assert(sizeof(tArmRegisterArguments) == 24);
static_assert(sizeof(tArmRegisterExArguments) == 32);
static_assert(sizeof(tArmSetArguments) == 32);
static_assert(offsetof(tArmSetArguments, value) == 16 && offsetof(tArmSetArguments, id) == 20);
static_assert(offsetof(tArmSetArguments, status) == 28);
static_assert(sizeof(tArmSetExArguments) == 40);
static_assert(sizeof(tArmWriteArguments) == 40);
static_assert(sizeof(tArmWriteExArguments) == 40);
static_assert(sizeof(tArmFlushArguments) == 32);
static_assert(sizeof(tArmFlushExArguments) == 32);
static_assert(sizeof(tArmFlushMapArguments) == 24);
static_assert(sizeof(tArmFormatArguments) == 56);
static_assert(sizeof(tArmListingArguments) == 24);
static_assert(sizeof(tArmStatusArguments) == 4);
static_assert(sizeof(tArmValueResult) == 16);
static_assert(sizeof(tArmFormatResult) == 8);
static_assert(sizeof(tArmSizeResult) == 16);
static_assert(sizeof(tArmStatusResult) == 4);
static_assert(kArmStatusLast<tArmRegisterArguments> && kArmStatusLast<tArmRegisterExArguments> &&
              kArmStatusLast<tArmSetArguments> && kArmStatusLast<tArmSetExArguments> &&
              kArmStatusLast<tArmWriteArguments> && kArmStatusLast<tArmWriteExArguments> &&
              kArmStatusLast<tArmFlushArguments> && kArmStatusLast<tArmFlushExArguments> &&
              kArmStatusLast<tArmFlushMapArguments> && kArmStatusLast<tArmFormatArguments> &&
              kArmStatusLast<tArmListingArguments> && kArmStatusLast<tArmStatusArguments> &&
              kArmStatusLast<tArmValueResult> && kArmStatusLast<tArmFormatResult> &&
              kArmStatusLast<tArmSizeResult> && kArmStatusLast<tArmStatusResult>);

}  // namespace qvrm7_driver
