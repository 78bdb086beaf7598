// The interface every register map answers: field and register access on the
// shadow cache and on the hardware, formats, whole-map operations, versions.
// Slot order is fixed: the register ioctls and the dispatcher reach maps only
// through these twelve slots.
#pragma once

#include "platform/status.h"
#include "platform/types.h"

namespace arm {

using qvrm7_driver::u32;
using qvrm7_driver::u64;

// A field's type follows from its width alone; user space gets it as a byte.
enum FieldType : u32 {
  kFieldBool = 0,  // 1 bit
  kFieldU8 = 1,    // 2 to 8 bits
  kFieldU16 = 2,   // 9 to 16 bits
  kFieldU32 = 3,   // 17 to 32 bits
};

// Register and field IDs.
inline constexpr u32 kWholeRegisterBit = 0x80000000u;
inline constexpr u32 kReadViewBit = 0x40000000u;
inline constexpr u32 kFieldCodeMask = 0x3F000000u;
inline constexpr u32 kOffsetMask = 0x00FFFFFFu;

template <class Status>
class DynamicAccessInterfaceBase {
 public:
  virtual void get(u32 id, u64& value, Status& status, u32 index) = 0;
  virtual void set(u32 id, u64 value, Status& status, u32 index) = 0;
  virtual void read(u32 id, u64& value, Status& status, u32 index) = 0;
  virtual void write(u32 id, u64 value, bool force, Status& status, u32 index) = 0;
  virtual void flush(u32 id, bool force, Status& status, u32 index) = 0;
  virtual void refresh(u32 id, Status& status, u32 index) = 0;
  virtual void getRegisterFormat(u32 id, u32& count, FieldType* types, u64* masks,
                                 Status& status) const = 0;
  virtual void flushRegMap(bool force, Status& status) = 0;
  virtual void refreshRegMap(Status& status) = 0;
  virtual void markDirtyRegMap() = 0;
  virtual char const* getVersion() const = 0;
  virtual char const* getOldestCompatibleVersion() const = 0;

 protected:
  // No virtual destructor in the interface: maps are destroyed through their
  // own class, which adds one after these slots.
  ~DynamicAccessInterfaceBase() = default;
};

using tDynamicAccessInterface = DynamicAccessInterfaceBase<nQVWENDS100::tStatus>;

}  // namespace arm
