// Instruction counts under callgrind of register requests through the real
// driver object and the stand-in's transport, one dump per request kind as
// in hostedInstructions.cpp. bench/callgrind-counts sums, per dump, the
// instructions of the driver object's own functions, leaving out the
// layer's (imports, copies, locks) and this program's.
#include <valgrind/callgrind.h>

#include <cstdio>

#include "bench/registerRequests.h"
#include "host/layer/control.h"

namespace {

constexpr int kRuns = 2000;

struct Request {
  char const* name;
  int32_t (bench::RegisterRecords::*send)(sim::UserFile&);
};

}  // namespace

int main() {
  sim::reset();
  int failures = 0;
  {
    bench::Caller caller;
    bench::RegisterTarget const target = caller.target();
    bench::RegisterRecords records(target);
    bool const mapped =
        !target.map.empty() && records.armGet(caller.file()) == 0 && records.value.status == 0;
    if (mapped) {
      records.write.value = records.value.value;
      std::printf("register: %s 0x%08x\n", target.map.c_str(), target.id);
    } else {
      std::printf("register: none (%s)\n",
                  target.map.empty() ? "no register map is registered" : "the get was refused");
    }
    Request const requests[] = {
        {"armGetSizeOfRegistrationList", &bench::RegisterRecords::armGetSizeOfRegistrationList},
        {mapped ? "armGet" : "armGetRefused", &bench::RegisterRecords::armGet},
        {mapped ? "armWrite" : "armWriteRefused", &bench::RegisterRecords::armWrite},
    };
    for (Request const& request : requests) {
      if ((records.*request.send)(caller.file()) != 0) ++failures;  // warm
      sim::clearUserCopies();
      CALLGRIND_DUMP_STATS_AT("before");
      for (int run = 0; run < kRuns; ++run) (void)(records.*request.send)(caller.file());
      CALLGRIND_DUMP_STATS_AT(request.name);
      sim::clearUserCopies();
    }
    if (mapped && (records.value.status != 0 || records.written.status != 0)) ++failures;
  }
  std::printf("runs per operation: %d\n", kRuns);
  return failures == 0 ? 0 : 1;
}
