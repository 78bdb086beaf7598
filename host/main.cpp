// Loads the driver object into the user-space kernel services layer, plugs
// simulated RM7 modules into the layer's PCI bus, shows what the layer saw,
// removes the modules, unloads the driver and checks that nothing was left.
#include <cstdio>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"

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
  std::printf("registered driver \"%s\"\n", registered->driverName);

  // One module of a supported model and one that no driver supports.
  sim::Rm7Module supported(sim::Rm7ModuleOptions{.subsystemID = 0x6BB1, .geographicAddress = 4});
  sim::Rm7Module unsupported(sim::Rm7ModuleOptions{.subsystemID = 0x1234, .bus = 5});
  sim::Rm7Module* const modules[] = {&supported, &unsupported};
  for (sim::Rm7Module* module : modules) {
    int32_t const added = sim::plugIn(module->device());
    std::printf("module with subsystem 0x%04X plugged in: add device returned %d\n",
                module->device()->record().subsystemID, added);
  }
  for (sim::Rm7Module* module : modules) {
    sim::UnplugReport const report = sim::unplug(*module->device());
    if (report.mappingsLeft != 0 || report.interruptsLeft != 0)
      return fail("a removed module left mappings or interrupts behind");
  }

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
