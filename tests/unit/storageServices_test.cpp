// The storage-map and device-window registries: a storage map registers with
// its version texts, a window with none, so that it answers only to its bare
// name or to version 0.0.0d0.
#include <gtest/gtest.h>

#include "host/layer/control.h"
#include "platform/statusCodes.h"
#include "storage/deviceWindowDispatcher.h"
#include "storage/storageMapDispatcher.h"
#include "support/expectSite.h"

namespace {

using nQVWENDS100::tLongStatus;
using namespace qvrm7_driver::nQVWEND000;

struct FakeStorageMap final : storagemap::StorageMapInterface {
  char const* getVersion() const override { return "1.0.0d1"; }
  char const* getOldestCompatibleVersion() const override { return "1.0.0d0"; }
};

class FakeWindow final : public devicewindow::DeviceWindow {};

template <class Object, class Registry>
void* lookUp(Registry& registry, char const* name, tLongStatus& status) {
  Object* found = nullptr;
  registry.getRegistration(name, &found, status, nullptr);
  return found;
}

TEST(StorageDispatchersTest, AStorageMapAnswersToItsVersionsAndAWindowOnlyToVersionNone) {
  sim::reset();
  FakeStorageMap map;
  FakeWindow window;
  storagemap::StorageMapDispatcher maps;
  devicewindow::DeviceWindowDispatcher windows;
  tLongStatus added;
  maps.add("Calibration", map, added);
  windows.add("SubCardFlash", window, added);
  ASSERT_EQ(added.head.code, 0);
  struct Case {
    char const* name;
    bool found;
    int64_t code = 0;
    uint64_t line = 0;
  } const cases[] = {
      {"Calibration", false, kStatusVersionRequired, 82},
      {"Calibration_Ver100d0", true},
      {"Calibration_Ver1.0.0d1", true},
      {"SubCardFlash", true},
      {"SubCardFlash_Ver0.0.0d0", true},
      {"SubCardFlash_Ver000d0", true},
      {"SubCardFlash_Ver1.0.0d1", false, kStatusNotVersioned, 96},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    tLongStatus status;
    bool const isMap = c.name[0] == 'C';
    void* const found = isMap ? lookUp<storagemap::StorageMapInterface>(maps, c.name, status)
                              : lookUp<devicewindow::DeviceWindow>(windows, c.name, status);
    void* const object = isMap ? static_cast<void*>(&map) : &window;
    EXPECT_EQ(found, c.found ? object : nullptr);
    EXPECT_EQ(status.head.code, c.code);
    if (c.line != 0)
      testing_support::expectSite(status, c.code,
                                  "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/Registration",
                                  c.line);
  }
}

}  // namespace
