// How a container of register maps enters them in the register dispatcher
// and takes them out again: by name, in one order and its reverse.
#pragma once

#include "platform/status.h"
#include "platform/synchronization.h"
#include "registers/dynamicAccessInterface.h"

namespace armki {
class ARMDispatcher;
}

namespace qvrm7_driver {

struct tMapRegistration {
  char const* name;
  arm::tDynamicAccessInterface* map;
};

// Adds each map in turn while the status stays clean.
void registerMaps(armki::ARMDispatcher& dispatcher, tMapRegistration const* maps, u32 count,
                  nQVWEND000::tStatus& status);
// Removes each name, last first, every one on a status of its own: a name
// that was never added (its add failed) costs nothing.
void removeRegistrations(armki::ARMDispatcher& dispatcher, tMapRegistration const* maps, u32 count);
// The re-entrant mutex of a map's registration, asked for by the map's own
// version; null with the status set when it is not registered.
nQVWEND000::tMutex* registrationMutex(armki::ARMDispatcher& dispatcher,
                                      tMapRegistration const& registration,
                                      nQVWEND000::tStatus& status);

template <u32 N>
void registerMaps(armki::ARMDispatcher& dispatcher, tMapRegistration const (&maps)[N],
                  nQVWEND000::tStatus& status) {
  registerMaps(dispatcher, maps, N, status);
}
template <u32 N>
void removeRegistrations(armki::ARMDispatcher& dispatcher, tMapRegistration const (&maps)[N]) {
  removeRegistrations(dispatcher, maps, N);
}

}  // namespace qvrm7_driver
