// Instructions per register ioctl under callgrind: arm_get and arm_write on
// one device through the layer's transport, each run kRuns times between
// two dumps. bench/callgrind-ioctl-counts counts only the driver's own
// functions of each dump; the layer's and the runtime's are left out.
#include <valgrind/callgrind.h>

#include "bench/ioctl/ioctlRig.h"

namespace {

constexpr int kRuns = 10000;

}  // namespace

int main() {
  bench::IoctlRig rig(1);
  struct Measured {
    char const* name;
    int32_t (bench::IoctlRig::*request)(unsigned);
  } const measured[] = {{"arm_get", &bench::IoctlRig::get}, {"arm_write", &bench::IoctlRig::write}};
  int failures = 0;
  for (Measured const& m : measured) {
    failures += (rig.*m.request)(0) != 0;  // warm
    CALLGRIND_DUMP_STATS_AT("before");
    for (int run = 0; run < kRuns; ++run) failures += (rig.*m.request)(0) != 0;
    CALLGRIND_DUMP_STATS_AT(m.name);
  }
  std::printf("runs per operation: %d\n", kRuns);
  return failures == 0 ? 0 : 1;
}
