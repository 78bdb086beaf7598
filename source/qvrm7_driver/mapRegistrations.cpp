#include "source/qvrm7_driver/mapRegistrations.h"

#include "platform/debugPrint.h"
#include "registers/armDispatcher.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

// A registration name with its "_Ver" suffix and version text.
constexpr u64 kVersionedNameSize = 96;

}  // namespace

void registerMaps(armki::ARMDispatcher& dispatcher, tMapRegistration const* maps, u32 count,
                  tStatus& status) {
  for (u32 i = 0; i < count && status.isNotFatal(); ++i)
    dispatcher.add(maps[i].name, *maps[i].map, status);
}

void removeRegistrations(armki::ARMDispatcher& dispatcher, tMapRegistration const* maps,
                         u32 count) {
  for (u32 i = count; i-- > 0;) dispatcher.remove(maps[i].name);
}

tMutex* registrationMutex(armki::ARMDispatcher& dispatcher, tMapRegistration const& registration,
                          tStatus& status) {
  if (status.isFatal()) return nullptr;
  char name[kVersionedNameSize];
  i32 const length =
      formatText(name, sizeof name, "%s_Ver%s", registration.name, registration.map->getVersion());
  // A name the layer could not format is no name, not a buffer to read
  // until some NUL: the lookup refuses it as it refuses a null name.
  bool const named = formatFitted(length, sizeof name);
  arm::tDynamicAccessInterface* map = nullptr;
  tMutex* mutex = nullptr;
  dispatcher.getRegistration(named ? name : nullptr, &map, status, &mutex);
  return map != nullptr ? mutex : nullptr;
}

}  // namespace qvrm7_driver
