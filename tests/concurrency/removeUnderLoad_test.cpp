// Modules removed while threads on several sessions keep sending register
// ioctls, round after round: every request ends as it would undisturbed or
// is refused (the gate's -52022 or a stale session), none hangs, nothing is
// left once the last file closes, and a second module's requests never
// notice the first one going.
//
// QVRM7_REMOVE_ROUNDS sets the rounds (a short run by default).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
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

unsigned rounds() {
  char const* const text = std::getenv("QVRM7_REMOVE_ROUNDS");
  return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 6;
}

bool refused(RegisterReply const& reply) {
  return reply.ioctl == 0 && (reply.status == kGateRefused || reply.status == kStaleSession);
}

// One thread with a session of its own, cycling through the calls.
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
  return load;
}

void start(Caller& caller, Load const& load, size_t first, std::atomic<bool> const& removed) {
  caller.thread = std::thread([&caller, &load, first, &removed] {
    sim::RegisterClient client{caller.file};
    unsigned after = 0;
    for (size_t i = first; after < kRequestsAfterRemoval; ++i) {
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

// Joins every caller, or ends the process when they hang.
void joinAll(std::vector<std::unique_ptr<Caller>>& callers) {
  testing_support::joinWithin(std::chrono::seconds(120),
                              "a request hung while its module was removed", [&] {
                                for (auto& caller : callers) caller->thread.join();
                              });
}

void waitForRequests(std::vector<std::unique_ptr<Caller>> const& callers, uint64_t each) {
  for (auto const& caller : callers)
    while (caller->sent.load() < each) std::this_thread::yield();
}

class RemoveUnderLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    loaded = layerHoldings();
  }
  // The callers of one module, each on a file of its own.
  std::vector<std::unique_ptr<Caller>> open(sim::PciDevice const& module, size_t count) {
    std::vector<std::unique_ptr<Caller>> callers;
    for (size_t i = 0; i < count; ++i) {
      callers.push_back(std::make_unique<Caller>());
      EXPECT_EQ(callers.back()->file.open(kInterface, module.kernelParent()), 0);
    }
    return callers;
  }
  // Every request ended as undisturbed or was refused; a module left in
  // place refuses none.
  static void expectEndedOrRefused(std::vector<std::unique_ptr<Caller>> const& callers,
                                   bool removed = true) {
    for (auto const& caller : callers) {
      EXPECT_EQ(caller->wrong, std::vector<std::string>{});
      if (removed)
        EXPECT_TRUE(caller->refusedOnceRemoved);
      else
        EXPECT_EQ(caller->refusals, 0u) << "the other module's requests were refused";
    }
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  decltype(layerHoldings()) loaded;
};

TEST_F(RemoveUnderLoad, RequestsOnSeveralSessionsEndOrAreRefusedAndNothingIsLeft) {
  for (unsigned round = 0; round < rounds(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    sim::Rm7Module module({.subsystemID = sim::kRm7SubsystemIDs[round % 10]});
    ASSERT_EQ(sim::plugIn(module.device()), 0);
    Load const load = loadFor(*module.device());
    std::atomic<bool> removed{false};
    auto callers = open(*module.device(), 4);
    for (size_t i = 0; i < callers.size(); ++i) start(*callers[i], load, i * 3, removed);
    waitForRequests(callers, 1 + round % 4);
    sim::UnplugReport const report = sim::unplug(*module.device());
    removed.store(true);
    joinAll(callers);
    EXPECT_EQ(report.filesOpen, callers.size());
    expectEndedOrRefused(callers);
    callers.clear();  // the last close destroys the device
    EXPECT_EQ(layerHoldings(), loaded);
  }
}

TEST_F(RemoveUnderLoad, AModuleRemovedMidFlightLeavesTheOtherOneAlone) {
  for (unsigned round = 0; round < rounds(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    sim::Rm7Module going({.subsystemID = 0x6BB1, .geographicAddress = 3});
    sim::Rm7Module staying({.subsystemID = 0x6BB5, .geographicAddress = 4, .bus = 4});
    ASSERT_EQ(sim::plugIn(going.device()), 0);
    ASSERT_EQ(sim::plugIn(staying.device()), 0);
    Load const goingLoad = loadFor(*going.device());
    Load const stayingLoad = loadFor(*staying.device());
    std::atomic<bool> removed{false}, never{false};
    auto goingCallers = open(*going.device(), 2);
    auto stayingCallers = open(*staying.device(), 2);
    for (size_t i = 0; i < 2; ++i) {
      start(*goingCallers[i], goingLoad, i * 5, removed);
      start(*stayingCallers[i], stayingLoad, i * 5, never);
    }
    waitForRequests(goingCallers, 1 + round % 3);
    sim::unplug(*going.device());
    removed.store(true);
    joinAll(goingCallers);
    // The staying callers run on until they have sent as many again as the
    // going ones sent in all.
    uint64_t sent = 0;
    for (auto const& caller : goingCallers) sent += caller->sent.load();
    waitForRequests(stayingCallers, sent);
    never.store(true);
    joinAll(stayingCallers);
    expectEndedOrRefused(goingCallers);
    expectEndedOrRefused(stayingCallers, false);
    goingCallers.clear();
    stayingCallers.clear();
    sim::unplug(*staying.device());
    EXPECT_EQ(layerHoldings(), loaded);
  }
}

}  // namespace
