// The PCI slot path: the domain, the index of the root hierarchy, and one
// byte (device << 3 | function) for every bridge on the way down to the
// device and for the device itself.
#include "platform/debugPrint.h"
#include "platform/kernelServices.h"
#include "platform/pciDevice.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

// The string only flags a failed allocation; these are where its assign and
// append report one.
constexpr StatusSite kStringAssignSite{"tBasicString", 1641};
constexpr StatusSite kStringAppendSite{"tBasicString", 1634};
// More bridges above the device than the slot path can hold.
constexpr tLineContext kSlotPathTooDeepContext{"tPCIDevice", 250, "\n"};

struct tSlotPathSearch {
  u8 targetBus;
  u16 domain;
  u8 rootIndex;
  u8 highestSubordinate;
  tPCIDevice::tSlotPath path;
  u8 found;
  // The layer reported more bridges above the device than the path holds.
  u8 tooDeep;
};

u8 pathByte(u32 device, u32 function) { return static_cast<u8>((device << 3) | (function & 7)); }

void append(tSlotPathSearch& search, u8 byte) { search.path.insert(search.path.size(), byte); }

// A piece the layer could not format leaves its buffer undefined; the path
// is then left empty, as a string that cannot grow leaves it, rather than
// published with a wrong or unreadable piece.
void leaveEmpty(tPCIDevice::tSlotPathString& path, tStatus& status, StatusSite site) {
  path.assign("", 0);
  setStatus(status, kStatusMemoryFull, site);
}

void visitBridge(void* context, nQVZOR100_tPCIBusRecord const* bridge) {
  tSlotPathSearch& search = *static_cast<tSlotPathSearch*>(context);
  if (search.found != 0 || bridge->domain != search.domain) return;
  // A bridge beyond the ranges seen so far starts a new hierarchy; the
  // comparison is inclusive, as other software computes the same path.
  if (search.highestSubordinate != 0 && bridge->bus >= search.highestSubordinate)
    ++search.rootIndex;
  if (bridge->subordinateBus > search.highestSubordinate)
    search.highestSubordinate = static_cast<u8>(bridge->subordinateBus);
  if (bridge->secondaryBus <= search.targetBus && search.targetBus <= bridge->subordinateBus) {
    // The enumeration is outside data: a path it makes too deep is dropped,
    // never allowed to overrun the array. One place stays for the device.
    if (search.path.size() + 1 < tPCIDevice::tSlotPath::capacity()) {
      append(search, pathByte(bridge->device, bridge->function));
    } else {
      search.tooDeep = 1;
    }
    if (bridge->secondaryBus == search.targetBus) search.found = 1;
  }
}

}  // namespace

void tPCIDevice::buildPCISlotPath(tSlotPathString& path, tPCIDescription const& description,
                                  tStatus& status) {
  tSlotPathSearch search{};
  search.targetBus = description.bus;
  i32 const domain = nQVZOR240_getPCIDomain(description.kernelDevice);
  search.domain = domain < 0 ? 0 : static_cast<u16>(domain);
  nQVZOR100_enumeratePCIBuses(visitBridge, &search, 0);
  append(search, pathByte(description.device, description.function));

  if (status.isFatal()) return;
  if (search.tooDeep != 0) {
    // The device works without its slot path; the property stays empty.
    debugLinePrintf(
        &kSlotPathTooDeepContext, "slot path of bus %u has more than %u bridges; left empty",
        static_cast<unsigned>(description.bus), static_cast<unsigned>(kSlotPathCapacity - 1));
    return;
  }

  char text[8];
  i32 const head = formatText(text, sizeof text, "%04X:%02X", static_cast<unsigned>(search.domain),
                              static_cast<unsigned>(search.rootIndex));
  if (!formatFitted(head, sizeof text)) return leaveEmpty(path, status, kStringAssignSite);
  path.assign(text, textLength(text));
  if (path.allocationFailed()) {
    setStatus(status, kStatusMemoryFull, kStringAssignSite);
    return;
  }
  for (u8 byte : search.path) {
    i32 const piece = formatText(text, sizeof text, ":%02X", static_cast<unsigned>(byte));
    if (!formatFitted(piece, sizeof text)) return leaveEmpty(path, status, kStringAppendSite);
    path.append(text, textLength(text));
    if (path.allocationFailed()) {
      setStatus(status, kStatusMemoryFull, kStringAppendSite);
      return;
    }
  }
}

}  // namespace qvrm7_driver::nQVWEND000
