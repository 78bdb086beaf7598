#include "platform/deviceProperty.h"

#include "platform/deviceCore.h"
#include "platform/deviceInterface.h"
#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kPropertyRefusedSite{"tDevice", 89};

// What a text property without a text stands for: the layer always gets a
// byte it may read.
constexpr char kEmptyText[] = "";

}  // namespace

tPropertyValue propertyValue(tPropertyRecord const& record) {
  switch (record.type) {
    case kPropertyInt32:
    case kPropertyUInt32:
      // The value word is little-endian: its first four bytes are the value.
      return {&record.value, 4};
    case kPropertyInt64:
    case kPropertyUInt64:
      return {&record.value, 8};
    case kPropertyText: {
      char const* const text = record.text();
      if (text == nullptr) return {kEmptyText, 1};
      return {text, textLength(text) + 1};
    }
    case kPropertyData:
      return {reinterpret_cast<tDataPropertyRecord const&>(record).data, record.value32()};
    default:
      // No other type occurs; the whole value word is what there is.
      return {&record.value, 8};
  }
}

void unregisterProperties(tPropertyList list) {
  if (list == nullptr) return;
  for (tPropertyRecord* const* entry = list; *entry != nullptr; ++entry) {
    tPropertyRecord& record = **entry;
    if (record.handle == 0) continue;
    nQVZOR200_unregisterProperty(record.handle);
    record.handle = 0;
  }
}

void registerProperties(u32 scope, u64 parent, tPropertyList list, tStatus& status) {
  if (status.isFatal() || list == nullptr) return;
  for (tPropertyRecord* const* entry = list; *entry != nullptr; ++entry) {
    tPropertyRecord& record = **entry;
    tPropertyValue const value = propertyValue(record);
    u64 const handle =
        nQVZOR200_registerProperty(scope, parent, record.name, value.address, value.size);
    if (handle != 0) {
      record.handle = handle;
      continue;
    }
    unregisterProperties(list);
    setStatus(status, kStatusNoMatch, kPropertyRefusedSite);
    return;
  }
}

void registerBusProperties(tDevice& device, u64 parent, tStatus& status) {
  if (status.isFatal()) return;
  registerProperties(kPropertyScopeBus, parent, device.getBusProperties(), status);
}

void registerDeviceProperties(tDevice& device, u64 parent, tStatus& status) {
  if (status.isFatal()) return;
  registerProperties(kPropertyScopeDevice, parent, device.getDeviceProperties(), status);
}

void registerInterfaceProperties(tDevice& device, tStatus& status) {
  tDeviceInterface* const* interfaces = device.getDeviceInterfaces();
  if (interfaces == nullptr) return;
  for (; *interfaces != nullptr && status.isNotFatal(); ++interfaces) {
    tDeviceInterface& deviceInterface = **interfaces;
    registerProperties(kPropertyScopeInterface, deviceInterface.kernelHandle(),
                       deviceInterface.properties(), status);
  }
}

void unregisterBusProperties(tDevice& device) { unregisterProperties(device.getBusProperties()); }

void unregisterDeviceProperties(tDevice& device) {
  unregisterProperties(device.getDeviceProperties());
}

void unregisterInterfaceProperties(tDevice& device) {
  tDeviceInterface* const* interfaces = device.getDeviceInterfaces();
  if (interfaces == nullptr) return;
  for (; *interfaces != nullptr; ++interfaces) unregisterProperties((*interfaces)->properties());
}

}  // namespace qvrm7_driver::nQVWEND000
