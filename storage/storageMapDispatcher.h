// The registry of a device's storage maps, found by name and version.
#pragma once

#include "registers/dispatcher.h"
#include "storage/storageMapInterface.h"

namespace storagemap {

class StorageMapDispatcher final
    : public qvregitools::Dispatcher<StorageMapInterface, qvregitools::WrapperDispatcher> {
 public:
  StorageMapDispatcher() = default;
  ~StorageMapDispatcher() override = default;
};

}  // namespace storagemap
