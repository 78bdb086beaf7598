// Loads the driver object into the user-space kernel services layer, shows
// what the layer saw, unloads it and checks that nothing was left behind.
#include <cstdio>
#include <cstring>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"

namespace {

int fail(char const* what) {
  std::fprintf(stderr, "qvrm7-host: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  sim::enableCallLog(true);
  sim::LoadedDriver driver(nQVWEND200_driverEntry);
  int32_t const result = driver.load();
  std::printf("driver entry returned %d\n", result);
  if (result < 0) return fail("the driver did not load");

  nQVZOR200_tDriverRecord* registered = sim::registeredDriver();
  if (registered != &driver.record()) return fail("the driver did not register its record");
  std::printf("registered driver \"%s\" with %s callbacks\n", registered->driverName,
              registered->unload != nullptr && registered->addDevice != nullptr ? "its" : "missing");
  std::printf("static objects and allocations while loaded: %llu live blocks\n",
              static_cast<unsigned long long>(sim::liveAllocations()));

  driver.unload();
  std::printf("unloaded; layer calls made: %zu\n", sim::callLog().size());
  if (!sim::debugOutput().empty()) std::printf("debug output:\n%s", sim::debugOutput().c_str());

  if (sim::registeredDriver() != nullptr) return fail("the driver is still registered after unload");
  if (sim::liveAllocations() != 0) {
    std::fprintf(stderr, "qvrm7-host: %llu blocks leaked\n",
                 static_cast<unsigned long long>(sim::liveAllocations()));
    return 1;
  }
  std::printf("nothing leaked\n");
  return 0;
}
