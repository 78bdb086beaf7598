// Every import call of a whole scenario failed in turn: the driver loaded,
// a module of each of two models added, a session on each, every register
// ioctl on every map the device lists, a map, the sessions closed, the
// modules removed, the driver unloaded. Each failure runs in a child process
// of its own, bounded in time, so that a crash, a halt or a hang is seen as
// such and names the call that caused it.
//
// Every failable call is failed while there are no more than a budget of
// them; past it, the first of each step and a fixed stride through the rest,
// unless QVRM7_SWEEP=full asks for all.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/registerCalls.h"
#include "support/switchDeviceScenario.h"

namespace {

using sim::RegisterReply;

// Imports that a kernel cannot fail: no result, or a result that is data
// the caller cannot tell from a failure (a clock, a handle, a copy that
// hands back its destination). Register writes and memory-map queries are
// among them: a write to a device that has gone is lost without a word.
std::set<std::string> const kUnfailable = {"nQVZOR100_free",
                                           "nQVZOR240_memSet",
                                           "nQVZOR180_memCpy",
                                           "nQVZOR180_memMove",
                                           "nQVZOR100_vsprintf",
                                           "nQVZOR100_printToDebugger",
                                           "nQVZOR250_halt",
                                           "nQVZOR200_unregisterDriver",
                                           "nQVZOR150_acquireMutex",
                                           "nQVZOR150_releaseMutex",
                                           "nQVZOR150_destroyMutex",
                                           "nQVZOR100_destroySpinLock",
                                           "nQVZOR110_acquireSpinLockInterrupt",
                                           "nQVZOR110_releaseSpinLockInterrupt",
                                           "nQVZOR100_acquireSpinLockDPC",
                                           "nQVZOR100_releaseSpinLockDPC",
                                           "nQVZOR100_getThreadHandle",
                                           "nQVZOR100_getThreadID",
                                           "nQVZOR100_initializeSingleUseEvent",
                                           "nQVZOR100_releaseSingleUseEvent",
                                           "nQVZOR100_waitForSingleUseEvent",
                                           "nQVZOR1_getMonotonicCounter",
                                           "nQVZOR110_getTimerCount",
                                           "nQVZOR100_getTimerInterval",
                                           "nQVZOR250_sleepTimeout",
                                           "nQVZOR100_getTimeOfDay",
                                           "nQVZOR220_tUserMemMap_getSize",
                                           "nQVZOR220_tUserMemMap_getAccessMode",
                                           "nQVZOR220_tUserMemMap_getVirtualAddress",
                                           "nQVZOR200_unregisterDeviceInterface",
                                           "nQVZOR240_notifyUserspaceAddEvent",
                                           "nQVZOR200_unregisterProperty",
                                           "nQVZOR100_scheduleDPC",
                                           "nQVZOR230_unmapPhysicalFromKernel",
                                           "nQVZOR100_relinquishInterrupt",
                                           "nQVZOR100_memoryWrite8",
                                           "nQVZOR100_memoryWrite16",
                                           "nQVZOR100_memoryWrite32",
                                           "nQVZOR220_tPageList_destroy",
                                           "nQVZOR220_tPageList_unmapFromKernel",
                                           "nQVZOR220_tPageList_unmapOnePageFromKernel",
                                           "nQVZOR220_tSGL_destroy"};

// Failures the driver answers with success by design, though something
// visible changed.
std::map<std::string, std::string> const kVisibleByDesign = {
    {"nQVZOR100_memoryRead8", "a device that has gone reads all ones"},
    {"nQVZOR100_memoryRead16", "a device that has gone reads all ones"},
    {"nQVZOR100_memoryRead32", "a device that has gone reads all ones"},
    {"nQVZOR230_mapPhysicalToKernel",
     "the slot is read through a mapping of its own and is unknown without it"},
    {"nQVZOR100_vsnPrintf", "the model name is formatted with it, and is empty without it"},
};

struct Outcome {
  int32_t result = 0;
  int32_t status = 0;
  uint64_t value = 0;
  bool operator==(Outcome const&) const = default;
  bool error() const { return result < 0 || status < 0; }
};

std::string show(Outcome const& o) {
  char text[96];
  std::snprintf(text, sizeof text, "{%d, %d, 0x%llx}", o.result, o.status,
                static_cast<unsigned long long>(o.value));
  return text;
}

enum : int { kEveryModule = -1, kModuleA = 0, kModuleB = 1 };

struct Step {
  std::string name;
  int module;
  bool setup;  // later steps of its module rely on it
  Outcome outcome;
  uint64_t endCall = 0;  // calls logged once it ended (baseline only)
};

struct Holdings {
  uint64_t allocations, mutexes, spinLocks, mappings, interrupts, interfaces, properties, maps;
  bool driver;
  bool operator==(Holdings const&) const = default;
};

Holdings holdings() {
  return {sim::liveAllocations(),
          sim::liveMutexes(),
          sim::liveSpinLocks(),
          sim::liveMappings(),
          sim::interruptReservations().size(),
          sim::liveInterfaces().size(),
          sim::liveProperties().size(),
          sim::liveUserMaps(),
          sim::registeredDriver() != nullptr};
}

uint64_t hashOf(std::string const& text) { return std::hash<std::string>{}(text); }

uint64_t attributesOf(sim::PciDevice const& device) {
  std::string all;
  for (auto const& p : sim::livePropertiesOf(0, device.kernelParent()))
    all += p.name + '=' + std::string(p.value.begin(), p.value.end()) + ';';
  return hashOf(all);
}

class Scenario {
 public:
  explicit Scenario(std::vector<std::string> maps, bool positions)
      : maps_(std::move(maps)), positions_(positions) {}

  // Stops after a failed load: nothing else can reach the driver.
  std::vector<Step> run() {
    sim::LoadedDriver driver{nQVWEND200_driverEntry};
    sim::Rm7Module modules[2] = {
        sim::Rm7Module({.subsystemID = 0x6BB1, .geographicAddress = 3}),
        sim::Rm7Module({.subsystemID = 0x6BB5, .geographicAddress = 4, .bus = 4, .interrupt = 49})};
    sim::UserFile files[2];
    step("load", kEveryModule, true, [&] { return Outcome{driver.load()}; });
    if (steps_.back().outcome.result < 0) return steps_;
    // One step per module, A first.
    auto eachModule = [&](char const* what, bool setup, auto body) {
      for (int m : {kModuleA, kModuleB})
        step(std::string(what) + " " + name(m), m, setup, [&] { return body(m); });
    };
    eachModule("add", true, [&](int m) {
      return Outcome{sim::plugIn(modules[m].device()), 0, attributesOf(*modules[m].device())};
    });
    eachModule("open", true, [&](int m) {
      return Outcome{files[m].open("qvrm7_driver_qvrm7", modules[m].device()->kernelParent())};
    });
    for (int m : {kModuleA, kModuleB}) {
      sim::RegisterClient client{files[m]};
      for (auto const& call : testing_support::everyRegisterCall(maps_)) {
        step(call.name + " on " + name(m), m, false, [&] {
          RegisterReply const reply = call.run(client);
          return Outcome{reply.ioctl, reply.status, reply.value};
        });
      }
      step("map on " + name(m), m, false, [&] {
        uint64_t const userMap = sim::createUserMap(0x1000, kQVZORUserMapWritable, 0x7000000);
        uint64_t object = 0;
        int32_t const result = files[m].mmap(userMap, 0, &object);
        if (result >= 0) files[m].unmap(object);
        sim::destroyUserMap(userMap);
        return Outcome{result};
      });
    }
    eachModule("close", false, [&](int m) {
      files[m].close();
      return Outcome{};
    });
    eachModule("remove", false, [&](int m) {
      sim::UnplugReport const report = sim::unplug(*modules[m].device());
      return Outcome{static_cast<int32_t>(report.filesOpen), 0,
                     report.mappingsLeft << 32 | report.interruptsLeft};
    });
    step("unload", kEveryModule, false, [&] {
      driver.unload();
      return Outcome{};
    });
    return steps_;
  }

 private:
  static std::string name(int module) { return module == kModuleA ? "A" : "B"; }

  template <class Body>
  void step(std::string name, int module, bool setup, Body body) {
    Outcome const outcome = body();
    steps_.push_back(
        {std::move(name), module, setup, outcome, positions_ ? sim::callLog().size() : 0});
  }

  std::vector<std::string> maps_;
  bool positions_;
  std::vector<Step> steps_;
};

bool concerns(Step const& earlier, Step const& later) {
  return earlier.module == kEveryModule || earlier.module == later.module;
}

// What a run with one failed call did wrong, compared with the run without;
// empty when nothing.
std::string judge(std::vector<Step> const& baseline, std::vector<Step> const& run, size_t failing,
                  std::string const& import) {
  std::string problems;
  auto problem = [&](Step const& step, std::string const& what) {
    problems += "  " + step.name + ": " + what + "\n";
  };
  if (run.size() < baseline.size() && run.back().outcome.error() == false)
    problem(run.back(), "the run stopped without an error");
  for (size_t i = 0; i < run.size() && i < baseline.size(); ++i) {
    Step const& want = baseline[i];
    Step const& got = run[i];
    if (got.outcome == want.outcome) continue;
    std::string const seen = show(got.outcome) + " where " + show(want.outcome) + " was";
    if (i == failing) {
      if (!got.outcome.error() && !kVisibleByDesign.contains(import))
        problem(got, "the failure was reported as success " + seen);
      continue;
    }
    if (i < failing) {
      problem(got, "changed before the failure " + seen);
      continue;
    }
    // A step may be refused when one it relies on failed or changed, and
    // may read other values when an earlier request of its module changed.
    bool reliedOnChanged = false, moduleChanged = false;
    for (size_t j = 0; j < i; ++j) {
      if (run[j].outcome == baseline[j].outcome || !concerns(baseline[j], want)) continue;
      moduleChanged = true;
      reliedOnChanged |= baseline[j].setup;
    }
    bool const onlyValue =
        got.outcome.result == want.outcome.result && got.outcome.status == want.outcome.status;
    if (!(reliedOnChanged && got.outcome.error()) && !(moduleChanged && onlyValue))
      problem(got, "misbehaved after the failure " + seen);
  }
  return problems;
}

std::string leftovers(Holdings const& before) {
  Holdings const after = holdings();
  if (after == before) return {};
  char text[256];
  std::snprintf(text, sizeof text,
                "  left after unload: %llu allocations, %llu mutexes, %llu spin locks, %llu "
                "mappings, %llu interrupts, %llu interfaces, %llu properties, driver %s\n",
                static_cast<unsigned long long>(after.allocations - before.allocations),
                static_cast<unsigned long long>(after.mutexes - before.mutexes),
                static_cast<unsigned long long>(after.spinLocks - before.spinLocks),
                static_cast<unsigned long long>(after.mappings - before.mappings),
                static_cast<unsigned long long>(after.interrupts - before.interrupts),
                static_cast<unsigned long long>(after.interfaces - before.interfaces),
                static_cast<unsigned long long>(after.properties - before.properties),
                after.driver ? "still registered" : "gone");
  return text;
}

// The body's findings, or what ended the child instead: a signal, a halt,
// or the time running out.
// A child is forked only by a thread that is alone in its process: a lock
// that another thread holds at the fork stays held in the child for ever.
struct Child {
  pid_t pid = -1;
  int pipe = -1;
};

Child startChild(std::function<std::string()> const& body) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {};
  std::fflush(nullptr);
  pid_t const child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    int const out = pipeEnds[1];
    sim::setHaltHandler([out](sim::HaltRecord const& halt) {
      std::string const text =
          "  halt at " + halt.file + ":" + std::to_string(halt.line) + " " + halt.text + "\n";
      (void)!write(out, text.data(), text.size());
      _exit(3);
    });
    std::string const found = body();
    (void)!write(out, found.data(), found.size());
    _exit(0);
  }
  close(pipeEnds[1]);
  return {child, pipeEnds[0]};
}

std::string finishChild(Child child, std::chrono::seconds limit) {
  if (child.pid < 0) return "no child\n";
  int const pipeEnd = child.pipe;
  std::string found;
  auto const deadline = std::chrono::steady_clock::now() + limit;
  bool hung = false;
  for (;;) {
    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{pipeEnd, POLLIN, 0};
    if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) == 0) {
      hung = true;
      break;
    }
    char buffer[512];
    ssize_t const got = read(pipeEnd, buffer, sizeof buffer);
    if (got <= 0) break;
    found.append(buffer, static_cast<size_t>(got));
  }
  close(pipeEnd);
  if (hung) kill(child.pid, SIGKILL);
  int status = 0;
  waitpid(child.pid, &status, 0);
  if (hung) return found + "  did not end in time\n";
  if (WIFSIGNALED(status))
    return found + "  died of signal " + std::to_string(WTERMSIG(status)) + "\n";
  if (WEXITSTATUS(status) != 0 && found.empty())
    return "  exited with " + std::to_string(WEXITSTATUS(status)) + "\n";
  return found;
}

std::string inChild(std::function<std::string()> const& body, std::chrono::seconds limit) {
  return finishChild(startChild(body), limit);
}

void prepare() {
  sim::reset();
  sim::useVirtualClock();
}

std::vector<std::string> mapsOfTheDevice() {
  prepare();
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  sim::Rm7Module module;
  sim::UserFile file;
  if (driver.load() != 0 || sim::plugIn(module.device()) != 0 ||
      file.open("qvrm7_driver_qvrm7") != 0)
    return {};
  sim::RegisterClient client{file};
  std::vector<std::string> maps = testing_support::listedMaps(client);
  file.close();
  sim::unplug(*module.device());
  return maps;
}

// The calls to fail, by position in the log.
std::vector<uint64_t> callsToFail(std::vector<std::string> const& log,
                                  std::vector<Step> const& steps, bool full) {
  constexpr uint64_t kBudget = 4000;
  std::vector<uint64_t> failable;
  for (uint64_t n = 0; n < log.size(); ++n)
    if (!kUnfailable.contains(log[n])) failable.push_back(n);
  if (full || failable.size() <= kBudget) return failable;
  std::vector<uint64_t> chosen;
  uint64_t const stride = (failable.size() + kBudget - 1) / kBudget;
  size_t stepIndex = 0;
  uint64_t lastStep = ~uint64_t{0};
  for (uint64_t i = 0; i < failable.size(); ++i) {
    while (failable[i] >= steps[stepIndex].endCall) ++stepIndex;
    // The first failable call of each step, and a stride through the rest.
    if (stepIndex != lastStep || i % stride == 0) chosen.push_back(failable[i]);
    lastStep = stepIndex;
  }
  return chosen;
}

TEST(FaultSweep, EveryFailedImportIsReportedAndLeavesNothingBehind) {
  std::vector<std::string> const maps = mapsOfTheDevice();
  prepare();
  Holdings const empty = holdings();
  sim::enableCallLog(true);
  std::vector<Step> const baseline = Scenario(maps, true).run();
  std::vector<std::string> const log = sim::callLog();
  sim::enableCallLog(false);
  ASSERT_EQ(leftovers(empty), "");
  ASSERT_EQ(baseline.back().name, "unload");
  for (size_t i = 0; i < 5; ++i) ASSERT_FALSE(baseline[i].outcome.error()) << baseline[i].name;

  char const* const mode = std::getenv("QVRM7_SWEEP");
  bool const full = mode != nullptr && std::string(mode) == "full";
  std::vector<uint64_t> const chosen = callsToFail(log, baseline, full);
  struct Run {
    uint64_t call;
    std::string import;
    uint64_t occurrence;  // of its import
    size_t failing;       // the step it falls in
  };
  std::vector<Run> runs;
  std::set<std::string> imports;
  std::map<std::string, uint64_t> seen;  // calls of each import so far
  for (uint64_t n = 0; n < log.size() && runs.size() < chosen.size(); ++n) {
    uint64_t const occurrence = ++seen[log[n]];
    if (n != chosen[runs.size()]) continue;
    size_t failing = 0;
    while (baseline[failing].endCall <= n) ++failing;
    runs.push_back({n, log[n], occurrence, failing});
    imports.insert(log[n]);
  }

  // Shares of the runs go to worker processes side by side; each run is a
  // child of its worker.
  constexpr size_t kWorkers = 4;
  std::vector<Child> workers;
  for (size_t worker = 0; worker < kWorkers; ++worker) {
    workers.push_back(startChild([&] {
      std::string findings;
      for (size_t k = worker; k < runs.size(); k += kWorkers) {
        Run const& r = runs[k];
        std::string const found = inChild(
            [&] {
              prepare();
              sim::failNthCall(r.import, r.occurrence);
              std::vector<Step> const run = Scenario(maps, false).run();
              return judge(baseline, run, r.failing, r.import) + leftovers(empty);
            },
            std::chrono::seconds(60));
        if (!found.empty())
          findings += "call " + std::to_string(r.call) + ", " + r.import + " #" +
                      std::to_string(r.occurrence) + ", failed in " + baseline[r.failing].name +
                      ":\n" + found;
      }
      return findings;
    }));
  }
  for (Child const& worker : workers) EXPECT_EQ(finishChild(worker, std::chrono::minutes(30)), "");
  auto const failable = std::count_if(
      log.begin(), log.end(), [](std::string const& i) { return !kUnfailable.contains(i); });
  std::printf(
      "fault sweep: %zu call sites failed, of %zu failable calls (%zu calls in all) at %zu "
      "imports over %zu steps and %zu listed maps%s\n",
      chosen.size(), static_cast<size_t>(failable), log.size(), imports.size(), baseline.size(),
      maps.size(),
      chosen.size() < static_cast<size_t>(failable) ? "; QVRM7_SWEEP=full fails them all" : "");
}

}  // namespace
