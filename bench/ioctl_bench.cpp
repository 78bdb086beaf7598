// Register requests through the stand-in's transport (the hosted build of
// the driver, loaded as the layer loads the object), beside an ioctl system
// call of this machine; and requests per second from several threads, each
// on a device of its own.
#include <benchmark/benchmark.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "bench/registerRequests.h"

namespace {

// Every copy is recorded by the stand-in: a long run forgets them now and
// then.
constexpr int64_t kCopiesKept = 4096;

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
// 2 arm_write (force, the value held) of the register a map names (see
// bench::RegisterTarget), skipped while no map is registered.
int32_t (bench::RegisterRecords::*const kRequests[])(sim::UserFile&) = {
    &bench::RegisterRecords::armGetSizeOfRegistrationList, &bench::RegisterRecords::armGet,
    &bench::RegisterRecords::armWrite};

void registerRequest(benchmark::State& state) {
  bench::Caller caller;
  bench::RegisterTarget const target = caller.target();
  bench::RegisterRecords records(target);
  auto const send = kRequests[state.range(0)];
  if (state.range(0) != 0) {
    if (target.map.empty() || records.armGet(caller.file()) != 0 || records.value.status != 0) {
      state.SkipWithError("no register map is registered");
      return;
    }
    records.write.value = records.value.value;
  }
  int64_t sent = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize((records.*send)(caller.file()));
    if (++sent % kCopiesKept == 0 && state.thread_index() == 0) sim::clearUserCopies();
  }
  state.SetItemsProcessed(sent);
}
BENCHMARK(registerRequest)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(registerRequest)->Arg(0)->Arg(1)->ThreadRange(1, 8)->UseRealTime();

}  // namespace
