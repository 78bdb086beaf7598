#include "source/qvrm7_driver/switchstate/SwitchStateBuffer.h"

#include "source/qvrm7_driver/driverCodes.h"

namespace sass {

using qvrm7_driver::kStatusSwitchStateBufferMissing;
using qvrm7_driver::kStatusSwitchStateMapSelector;
using qvrm7_driver::kStatusSwitchStateMapTooLarge;
using qvrm7_driver::nQVWEND000::setStatus;
using qvrm7_driver::nQVWEND000::StatusSite;

namespace {

constexpr char kBufferFile[] = "sass/SwitchStateBuffer";
constexpr StatusSite kBufferMissingSite{kBufferFile, 212};
constexpr StatusSite kMapSelectorSite{kBufferFile, 217};
constexpr StatusSite kMapTooLargeSite{kBufferFile, 222};

}  // namespace

void SwitchStateBuffer::adoptPages(tPageList const& pages, u32 byteSize) {
  pages_ = pages;
  byteSize_ = byteSize;
}

void SwitchStateBuffer::mapInto(tUserMemoryMap& map, tStatus& status) {
  if (status.isFatal()) return;
  if (!allocated()) {
    setStatus(status, kStatusSwitchStateBufferMissing, kBufferMissingSite);
    return;
  }
  if (map.selector() != kMapSelector) {
    setStatus(status, kStatusSwitchStateMapSelector, kMapSelectorSite);
    return;
  }
  if (map.size() > pages_.size) {
    setStatus(status, kStatusSwitchStateMapTooLarge, kMapTooLargeSite);
    return;
  }
  // The map object bounds the pages by the caller's area.
  map.mapPageList(nullptr, pages_, 0, byteSize_, status);
}

}  // namespace sass
