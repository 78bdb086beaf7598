// What every flash-backed storage map answers the storage-map registry: its
// version and the oldest version a caller may still ask for, as version text
// ("1.0.0d1", or the five-character form). An empty version makes the map's
// registration unversioned.
#pragma once

namespace storagemap {

class StorageMapInterface {
 public:
  virtual ~StorageMapInterface() = default;
  virtual char const* getVersion() const = 0;
  virtual char const* getOldestCompatibleVersion() const = 0;
};

}  // namespace storagemap
