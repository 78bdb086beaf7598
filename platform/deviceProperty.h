// Property records: the device attributes, bus properties and interface
// properties that a device publishes through the layer, and their
// registration in the three scopes.
#pragma once

#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

class tDevice;

// How the value word is read and what the layer is handed for it.
enum tPropertyType : u64 {
  kPropertyInt32 = 50,    // 32-bit value inline: its address, 4 bytes
  kPropertyUInt32 = 51,   // the same
  kPropertyInt64 = 100,   // 64-bit value inline: its address, 8 bytes
  kPropertyUInt64 = 101,  // the same
  kPropertyText = 85,     // text pointer: the text with its NUL
  kPropertyData = 187,    // u32 size in the value word, data pointer after it
};

enum tPropertyScope : u32 {
  kPropertyScopeDevice = 0,     // device attributes, parent the kernel parent
  kPropertyScopeBus = 1,        // bus properties, parent the kernel parent
  kPropertyScopeInterface = 2,  // an interface's properties, parent its handle
};

struct tPropertyRecord {
  char const* name;
  u64 type;
  u64 handle;  // 0 until registered, and again once unregistered
  u64 value;

  void setValue32(u32 number) { value = number; }
  void setValue64(u64 number) { value = number; }
  void setText(char const* text) { value = reinterpret_cast<uintptr_t>(text); }
  u32 value32() const { return static_cast<u32>(value); }
  char const* text() const { return reinterpret_cast<char const*>(static_cast<uintptr_t>(value)); }
};
static_assert(sizeof(tPropertyRecord) == 32);

// A record of type kPropertyData: the block follows the value word, which
// holds the block's size.
struct tDataPropertyRecord {
  tPropertyRecord record;
  void const* data;
};
static_assert(offsetof(tDataPropertyRecord, data) == sizeof(tPropertyRecord));

// A null-terminated array of record pointers; null stands for an empty list.
using tPropertyList = tPropertyRecord* const*;

// What the layer is handed for a record's value.
struct tPropertyValue {
  void const* address;
  u64 size;
};
tPropertyValue propertyValue(tPropertyRecord const& record);

// Registers every record of the list in order and stores each handle. When
// the layer refuses one, every record of the list that holds a handle is
// unregistered again and -52003 is set. Nothing for a failed status or an
// empty list.
void registerProperties(u32 scope, u64 parent, tPropertyList list, tStatus& status);
// Unregisters every record that holds a handle and clears the handle.
void unregisterProperties(tPropertyList list);

// The device's three lists. parent is the kernel parent value of the
// device's PCI description; interface properties hang off each interface's
// own handle instead.
void registerBusProperties(tDevice& device, u64 parent, tStatus& status);
void registerDeviceProperties(tDevice& device, u64 parent, tStatus& status);
void registerInterfaceProperties(tDevice& device, tStatus& status);
void unregisterBusProperties(tDevice& device);
void unregisterDeviceProperties(tDevice& device);
void unregisterInterfaceProperties(tDevice& device);

}  // namespace qvrm7_driver::nQVWEND000
