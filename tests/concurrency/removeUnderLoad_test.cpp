// A module removed while threads on several sessions keep sending register
// ioctls, round after round: every request ends as it would undisturbed or
// is refused (the gate's -52022 or a stale session), none hangs, nothing is
// left once the last file closes, and a second module's requests never
// notice the first one going.
//
// QVRM7_REMOVE_ROUNDS sets the rounds (a short run by default).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "source/qvrm7_driver/driverCodes.h"
#include "support/registerCalls.h"
#include "support/switchDeviceScenario.h"

namespace {

using sim::RegisterReply;
using testing_support::everyRegisterCall;
using testing_support::layerHoldings;
using testing_support::RegisterCall;

constexpr char kInterface[] = "qvrm7_driver_qvrm7";
constexpr int32_t kGateRefused = -52022;
constexpr auto kStaleSession = static_cast<int32_t>(qvrm7_driver::kStatusStaleSession);
// Requests each caller sends once it has seen its module go.
constexpr unsigned kRequestsAfterRemoval = 8;

// What the going module's callers did inside the driver while the removal
// ran: registration mutexes taken and register reads and writes. Counted
// only while the removal runs, since a hook makes every import take the
// layer's lock.
thread_local bool tGoingCaller = false;
struct DuringRemoval {
  std::atomic<uint64_t> mutexes{0}, registers{0};
};
DuringRemoval gDuringRemoval;

void countDuringRemoval(char const* import) {
  if (!tGoingCaller) return;
  std::string_view const name(import);
  if (name == "nQVZOR150_acquireMutex") gDuringRemoval.mutexes.fetch_add(1);
  if (name.starts_with("nQVZOR100_memoryRead") || name.starts_with("nQVZOR100_memoryWrite"))
    gDuringRemoval.registers.fetch_add(1);
}

bool refused(RegisterReply const& reply) {
  return reply.ioctl == 0 && (reply.status == kGateRefused || reply.status == kStaleSession);
}

struct Caller {
  sim::UserFile file;
  std::atomic<uint64_t> sent{0};
  std::vector<std::string> wrong;  // requests that ended neither way
  uint64_t refusals = 0;
  bool refusedOnceRemoved = true;  // every request begun after the removal was
  std::thread thread;
};

struct Load {
  std::vector<RegisterCall> calls;
  std::vector<RegisterReply> undisturbed;  // ioctl and status of each call
};

Load loadFor(sim::PciDevice const& module) {
  sim::UserFile file;
  EXPECT_EQ(file.open(kInterface, module.kernelParent()), 0);
  sim::RegisterClient client{file};
  Load load{everyRegisterCall(testing_support::listedMaps(client)), {}};
  for (RegisterCall const& call : load.calls) {
    RegisterReply const reply = call.run(client);
    load.undisturbed.push_back({reply.ioctl, reply.status, 0});
  }
  // Undisturbed, every listed map answers: else the load would not reach
  // the maps the removal must be safe against.
  EXPECT_EQ(testing_support::reachShortfall(load.calls, load.undisturbed), "");
  return load;
}

// The callers of one module, each on a file of its own and a thread that
// cycles through the calls from a different one, until it has sent a few
// once it saw its module go.
using Callers = std::vector<std::unique_ptr<Caller>>;
Callers startCallers(sim::PciDevice const& module, size_t count, Load const& load,
                     std::atomic<bool> const& removed, bool going) {
  Callers callers;
  for (size_t first = 0; first < 3 * count; first += 3) {
    Caller& caller = *callers.emplace_back(std::make_unique<Caller>());
    EXPECT_EQ(caller.file.open(kInterface, module.kernelParent()), 0);
    caller.thread = std::thread([&caller, &load, first, &removed, going] {
      tGoingCaller = going;
      sim::RegisterClient client{caller.file};
      for (size_t i = first, after = 0; after < kRequestsAfterRemoval; ++i) {
        bool const gone = removed.load();
        size_t const which = i % load.calls.size();
        RegisterReply reply = load.calls[which].run(client);
        reply.value = 0;
        if (refused(reply))
          ++caller.refusals;
        else if (reply != load.undisturbed[which])
          caller.wrong.push_back(load.calls[which].name);
        if (gone) {
          caller.refusedOnceRemoved &= refused(reply);
          ++after;
        }
        caller.sent.fetch_add(1);
      }
    });
  }
  return callers;
}

// Joins every caller, or ends the process when they hang.
void joinAll(Callers& callers) {
  testing_support::joinWithin(std::chrono::seconds(120),
                              "a request hung while its module was removed", [&] {
                                for (auto& caller : callers) caller->thread.join();
                              });
}

// Waits until each has sent as many; what they sent in all.
uint64_t waitForRequests(Callers const& callers, uint64_t each) {
  uint64_t sent = 0;
  for (auto const& caller : callers) {
    while (caller->sent.load() < each) std::this_thread::yield();
    sent += caller->sent.load();
  }
  return sent;
}

TEST(RemoveUnderLoad, RequestsEndOrAreRefusedNothingIsLeftAndTheOtherModuleCarriesOn) {
  sim::reset();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  ASSERT_EQ(driver.load(), 0);
  auto const loaded = layerHoldings();
  char const* const rounds = std::getenv("QVRM7_REMOVE_ROUNDS");
  for (unsigned long round = 0; round < (rounds ? std::strtoul(rounds, nullptr, 10) : 6); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    sim::Rm7Module going({.subsystemID = sim::kRm7SubsystemIDs[round % 10]});
    sim::Rm7Module staying({.subsystemID = 0x6BB5, .geographicAddress = 4, .bus = 4});
    ASSERT_EQ(sim::plugIn(going.device()), 0);
    ASSERT_EQ(sim::plugIn(staying.device()), 0);
    Load const goingLoad = loadFor(*going.device()), stayingLoad = loadFor(*staying.device());
    std::atomic<bool> removed{false}, never{false};
    Callers goingCallers = startCallers(*going.device(), 4, goingLoad, removed, true);
    Callers stayingCallers = startCallers(*staying.device(), 2, stayingLoad, never, false);
    waitForRequests(goingCallers, 1 + round % 4);
    sim::setImportHook(countDuringRemoval);
    sim::UnplugReport const report = sim::unplug(*going.device());
    sim::setImportHook({});
    removed.store(true);
    joinAll(goingCallers);
    EXPECT_EQ(report.filesOpen, goingCallers.size());
    // The staying callers run on until each has sent as many again as the
    // going ones sent in all.
    waitForRequests(stayingCallers, waitForRequests(goingCallers, 0));
    never.store(true);
    joinAll(stayingCallers);
    for (Callers const* callers : {&goingCallers, &stayingCallers})
      for (auto const& caller : *callers) EXPECT_EQ(caller->wrong, std::vector<std::string>{});
    for (auto const& caller : goingCallers) EXPECT_TRUE(caller->refusedOnceRemoved);
    for (auto const& caller : stayingCallers)
      EXPECT_EQ(caller->refusals, 0u) << "the other module's requests were refused";
    goingCallers.clear();  // the last close destroys the device
    stayingCallers.clear();
    sim::unplug(*staying.device());
    EXPECT_EQ(layerHoldings(), loaded);
  }
  std::printf(
      "remove under load: during the removals the requests took %llu registration "
      "mutexes and touched registers %llu times\n",
      static_cast<unsigned long long>(gDuringRemoval.mutexes.load()),
      static_cast<unsigned long long>(gDuringRemoval.registers.load()));
}

}  // namespace
