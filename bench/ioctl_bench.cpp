// Register requests through the stand-in's transport (the hosted build of
// the driver, loaded as the layer loads the object), beside an ioctl system
// call of this machine; and requests per second from several threads, each
// on a device of its own.
#include <benchmark/benchmark.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "bench/registerRequests.h"

namespace {

void systemIoctl(benchmark::State& state) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    state.SkipWithError("no pipe");
    return;
  }
  int pending = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ioctl(pipeEnds[0], FIONREAD, &pending));
  close(pipeEnds[0]);
  close(pipeEnds[1]);
}
BENCHMARK(systemIoctl);

// 0 arm_getSizeOfRegistrationList, which every device answers; 1 arm_get and
// 2 arm_write (force, the value held) of the register bench::RegisterTarget
// names, skipped when the driver refuses the get.
int32_t (bench::RegisterRecords::*const kRequests[])(sim::UserFile&) = {
    &bench::RegisterRecords::armGetSizeOfRegistrationList, &bench::RegisterRecords::armGet,
    &bench::RegisterRecords::armWrite};

void registerRequest(benchmark::State& state) {
  bench::Caller caller;
  bench::RegisterTarget const target = caller.target();
  bench::RegisterRecords records(target);
  auto const send = kRequests[state.range(0)];
  if (state.range(0) != 0) {
    if (records.armGet(caller.file()) != 0 || records.value.status != 0) {
      state.SkipWithError("the register's get was refused");
      return;
    }
    records.write.value = records.value.value;
  }
  for (auto _ : state) benchmark::DoNotOptimize((records.*send)(caller.file()));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(registerRequest)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(registerRequest)->Arg(0)->Arg(1)->Arg(2)->ThreadRange(1, 8)->UseRealTime();

}  // namespace
