// Every import call of a whole scenario failed in turn: the driver loaded,
// a module of each of two models added (their geographic addresses read
// one 8 and one 16 bits wide, the second without a PCI Express
// capability), a session on each, every register ioctl on every map the
// device lists, a map, the sessions closed, the modules removed, the driver
// unloaded. Each failure runs in a child process of its own, bounded in
// time, so that a crash, a halt or a hang is seen as such and names the call
// that caused it.
//
// Every failable call is failed while there are no more than a budget of
// them; past it, the first of each step and a fixed stride through the rest,
// unless QVRM7_SWEEP=full asks for all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "support/registerCalls.h"
#include "support/switchDeviceScenario.h"

namespace {

using Outcome = sim::RegisterReply;  // a step's result, status and value
using testing_support::layerHoldings;

// Imports that a kernel cannot fail, by operation: no result, or a result
// that is data the caller cannot tell from a failure (a clock, a handle, a
// copy that hands back its destination). Register writes and memory-map
// queries are among them: a write to a device that has gone is lost without
// a word.
constexpr std::string_view kUnfailable =
    " free memSet memCpy memMove vsprintf printToDebugger halt unregisterDriver acquireMutex"
    " releaseMutex destroyMutex destroySpinLock acquireSpinLockInterrupt"
    " releaseSpinLockInterrupt acquireSpinLockDPC releaseSpinLockDPC getThreadHandle getThreadID"
    " initializeSingleUseEvent releaseSingleUseEvent waitForSingleUseEvent getMonotonicCounter"
    " getTimerCount getTimerInterval sleepTimeout getTimeOfDay tUserMemMap_getSize"
    " tUserMemMap_getAccessMode tUserMemMap_getVirtualAddress unregisterDeviceInterface"
    " notifyUserspaceAddEvent unregisterProperty scheduleDPC unmapPhysicalFromKernel"
    " relinquishInterrupt memoryWrite8 memoryWrite16 memoryWrite32 tPageList_destroy"
    " tPageList_unmapFromKernel tPageList_unmapOnePageFromKernel tSGL_destroy ";

// Failures the driver answers with success by design, though something
// visible changed: a device that has gone reads all ones; the slot is read
// through a mapping of its own and is unknown without it.
constexpr std::string_view kVisibleByDesign =
    " memoryRead8 memoryRead16 memoryRead32 mapPhysicalToKernel ";

// Failable imports of the object that no path of the switch device can
// reach, with the reason; the sweep fails when one of them is called.
constexpr std::pair<std::string_view, std::string_view> kUnreachable[] = {
    {" reserveInterrupt ", "the switch device never reserves its interrupt"},
    {" pciSetDMAMask isAddressableMemOver4G tPageList_createFromAllocation"
     " tPageList_createFromAllocationNUMA tPageList_getPhysicalAddress tPageList_mapToKernel"
     " tPageList_mapOnePageToKernel tSGL_createForPCI tSGL_map tSGL_unmap tSGL_prepareForDMA"
     " tSGL_completeDMA tSGL_numSegments tSGL_iterate tSGL_nextSegment tSGL_getSegmentAddress"
     " tSGL_getSegmentSize ",
     "the switch device sets no DMA mask and makes no page list or scatter-gather list"},
    {" getPageSize tUserMemMap_mapPageList tUserMemMap_mapPhysicalAddress ",
     "no request gives a session a switch-state buffer, so a map is refused before anything "
     "is mapped"},
    {" waitForSingleUseEventInterruptible waitForSingleUseEventTimeout"
     " waitForSingleUseEventTimeoutInterruptible ",
     "only a gate that holds requests waits so, and no callback holds the gate (a removal "
     "refuses); a drain and a close with a request inside wait with waitForSingleUseEvent"},
};

// The layer imports of the object under test, as its symbol table names
// them; none when the table cannot be read.
std::set<std::string> importsOfTheObject() {
  std::set<std::string> imports;
  FILE* const nm = popen("nm -u '" QVRM7_DRIVER_OBJECT_PATH "'", "r");
  if (nm == nullptr) return imports;
  char line[256];
  while (std::fgets(line, sizeof line, nm) != nullptr) {
    std::istringstream words(line);
    std::string kind, name;
    if (words >> kind >> name && name.rfind("nQVZOR", 0) == 0) imports.insert(name);
  }
  pclose(nm);
  return imports;
}

bool listed(std::string_view list, std::string const& import) {
  return list.find(' ' + import.substr(import.find('_') + 1) + ' ') != std::string_view::npos;
}

bool error(Outcome const& o) { return o.ioctl < 0 || o.status < 0; }

enum : int { kEveryModule = -1, kModuleA = 0, kModuleB = 1 };

struct Step {
  std::string name;
  int module;
  bool setup;  // later steps of its module rely on it
  Outcome outcome;
  uint64_t endCall = 0;  // calls logged once it ended (baseline only)
};

uint64_t attributesOf(sim::PciDevice const& device) {
  std::string all;
  for (auto const& p : sim::livePropertiesOf(0, device.kernelParent()))
    all += p.name + '=' + std::string(p.value.begin(), p.value.end()) + ';';
  return std::hash<std::string>{}(all);
}

uint32_t geographicAddressOf(sim::PciDevice const& device) {
  uint32_t address = ~0u;
  for (auto const& p : sim::livePropertiesOf(0, device.kernelParent()))
    if (p.name == "pxiGeographicAddress" && p.value.size() >= 4)
      std::memcpy(&address, p.value.data(), 4);
  return address;
}

// The geographic address read a byte wide on A (the byte above the
// register's first, from bit 0) and 16 bits wide on B (from bit 8), so
// that the narrow chip reads are reached as well.
void narrowTheGeographicAddresses(sim::Rm7Module (&modules)[2]) {
  constexpr uint32_t kCapability = sim::Rm7Module::kGeographicAddressCapability;
  constexpr uint32_t kWidthAndShift = 0x001F0700;  // descriptor bits 8-10 and 16-20
  constexpr uint32_t kKept = sim::Rm7Module::kGeographicAddressDescriptor & ~kWidthAndShift;
  modules[kModuleA].bridge().chipWrite(kCapability + 4, 4,
                                       sim::Rm7Module::kGeographicAddressRegister + 1);
  modules[kModuleA].bridge().chipWrite(kCapability + 8, 4, kKept | 1u << 8);
  modules[kModuleB].bridge().chipWrite(kCapability + 8, 4, kKept | 2u << 8 | 8u << 16);
}

// Renames the PCI Express capability, so that the search for it ends in its
// probe write.
void withoutPciExpress(sim::ConfigSpace& config) {
  for (uint32_t at = config.get(0x34, 1); at != 0; at = config.get(at + 1, 1))
    if (config.get(at, 1) == sim::kPciExpressCapabilityID) config.set(at, 1, 0x09);
}

// Stops after a failed load: nothing else can reach the driver.
std::vector<Step> runScenario(std::vector<std::string> const& maps, bool positions) {
  std::vector<Step> steps;
  auto const step = [&](std::string name, int module, bool setup, auto body) {
    Outcome const outcome = body();
    steps.push_back(
        {std::move(name), module, setup, outcome, positions ? sim::callLog().size() : 0});
  };
  // One step per module, A first.
  auto const eachModule = [&](char const* what, bool setup, auto body) {
    for (int m : {kModuleA, kModuleB})
      step(std::string(what) + (m == kModuleA ? " A" : " B"), m, setup, [&] { return body(m); });
  };
  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  sim::Rm7Module modules[2] = {
      sim::Rm7Module({.subsystemID = 0x6BB1, .geographicAddress = 3}),
      sim::Rm7Module({.subsystemID = 0x6BB5, .geographicAddress = 4, .bus = 4, .interrupt = 49})};
  narrowTheGeographicAddresses(modules);
  withoutPciExpress(modules[kModuleB].device()->config());
  sim::UserFile files[2];
  step("load", kEveryModule, true, [&] { return Outcome{driver.load()}; });
  if (error(steps.back().outcome)) return steps;
  eachModule("add", true, [&](int m) {
    return Outcome{sim::plugIn(modules[m].device()), 0, attributesOf(*modules[m].device())};
  });
  // The narrowed reads still find each module's slot.
  for (int m : {kModuleA, kModuleB}) {
    if (!positions) break;
    EXPECT_EQ(geographicAddressOf(*modules[m].device()), modules[m].geographicAddress());
  }
  eachModule("open", true, [&](int m) {
    return Outcome{files[m].open("qvrm7_driver_qvrm7", modules[m].device()->kernelParent())};
  });
  for (int m : {kModuleA, kModuleB}) {
    sim::RegisterClient client{files[m]};
    for (auto const& call : testing_support::everyRegisterCall(maps))
      step(call.name + " on " + (m == kModuleA ? "A" : "B"), m, false,
           [&] { return call.run(client); });
    step(std::string("map on ") + (m == kModuleA ? "A" : "B"), m, false, [&] {
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
  return steps;
}

// What a run with one failed call did wrong, compared with the run without;
// empty when nothing.
std::string judge(std::vector<Step> const& baseline, std::vector<Step> const& run, size_t failing,
                  std::string const& import) {
  std::string problems;
  auto problem = [&](Step const& step, std::string const& what) {
    problems += "  " + step.name + ": " + what + "\n";
  };
  if (run.size() < baseline.size() && !error(run.back().outcome))
    problem(run.back(), "the run stopped without an error");
  for (size_t i = 0; i < run.size() && i < baseline.size(); ++i) {
    Step const& want = baseline[i];
    Step const& got = run[i];
    if (got.outcome == want.outcome) continue;
    std::ostringstream where;
    where << got.outcome << " where " << want.outcome << " was";
    std::string const seen = where.str();
    if (i == failing) {
      if (!error(got.outcome) && !listed(kVisibleByDesign, import))
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
      bool const concerns = baseline[j].module == kEveryModule || baseline[j].module == want.module;
      if (run[j].outcome == baseline[j].outcome || !concerns) continue;
      moduleChanged = true;
      reliedOnChanged |= baseline[j].setup;
    }
    bool const onlyValue =
        got.outcome.ioctl == want.outcome.ioctl && got.outcome.status == want.outcome.status;
    if (!(reliedOnChanged && error(got.outcome)) && !(moduleChanged && onlyValue))
      problem(got, "misbehaved after the failure " + seen);
  }
  return problems;
}

std::string leftovers(decltype(layerHoldings()) const& before) {
  auto const after = layerHoldings();
  if (after == before) return {};
  auto const text = [](auto const& holdings) {
    return std::apply([](auto... n) { return ((std::to_string(n) + ' ') + ...); }, holdings);
  };
  return "  left after unload (see layerHoldings): " + text(after) + "where " + text(before) +
         "was held\n";
}

// The body's findings, or what ended the child instead: a signal, a halt,
// or the alarm that bounds its time.
// A child is forked only by a thread that is alone in its process: a lock
// that another thread holds at the fork stays held in the child for ever.
struct Child {
  pid_t pid = -1;
  int pipe = -1;
};

Child startChild(std::function<std::string()> const& body, unsigned seconds) {
  int ends[2];
  if (pipe(ends) != 0) return {};
  std::fflush(nullptr);
  pid_t const child = fork();
  if (child == 0) {
    close(ends[0]);
    alarm(seconds);
    sim::setHaltHandler([out = ends[1]](sim::HaltRecord const& halt) {
      std::string const text =
          "  halt at " + halt.file + ":" + std::to_string(halt.line) + " " + halt.text + "\n";
      (void)!write(out, text.data(), text.size());
      _exit(3);
    });
    std::string const found = body();
    (void)!write(ends[1], found.data(), found.size());
    _exit(0);
  }
  close(ends[1]);
  return {child, ends[0]};
}

std::string finishChild(Child child) {
  if (child.pid < 0) return "no child\n";
  std::string found;
  char buffer[512];
  for (ssize_t got; (got = read(child.pipe, buffer, sizeof buffer)) > 0;)
    found.append(buffer, static_cast<size_t>(got));
  close(child.pipe);
  int status = 0;
  waitpid(child.pid, &status, 0);
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return found + "  did not end in time\n";
  if (WIFSIGNALED(status))
    return found + "  died of signal " + std::to_string(WTERMSIG(status)) + "\n";
  if (WEXITSTATUS(status) != 0 && found.empty())
    return "  exited with " + std::to_string(WEXITSTATUS(status)) + "\n";
  return found;
}

void prepare() {
  sim::reset();
  sim::useVirtualClock();
}

struct Failure {
  uint64_t call;
  std::string import;
  uint64_t occurrence;  // of its import
  size_t failing;       // the step it falls in
};

// Every failable call while there are no more than a budget of them; past
// it, the first of each step and a stride through the rest.
std::vector<Failure> runsToMake(std::vector<std::string> const& log, std::vector<Step> const& steps,
                                uint64_t failable, bool full) {
  constexpr uint64_t kBudget = 4000;
  uint64_t const stride = full ? 1 : (failable + kBudget - 1) / kBudget;
  std::vector<Failure> runs;
  std::map<std::string, uint64_t> seen;  // calls of each import so far
  size_t step = 0, lastStep = SIZE_MAX;
  for (uint64_t n = 0, k = 0; n < log.size(); ++n) {
    uint64_t const occurrence = ++seen[log[n]];
    while (steps[step].endCall <= n) ++step;
    if (listed(kUnfailable, log[n])) continue;
    bool const strided = k++ % stride == 0;
    if (step != lastStep || strided) runs.push_back({n, log[n], occurrence, step});
    lastStep = step;
  }
  return runs;
}

TEST(FaultSweep, EveryFailedImportIsReportedAndLeavesNothingBehind) {
  prepare();
  std::vector<std::string> maps;
  {
    sim::LoadedDriver driver{nQVWEND200_driverEntry};
    ASSERT_EQ(driver.load(), 0);
    maps = testing_support::mapsOfAModule();
  }
  prepare();
  auto const empty = layerHoldings();
  sim::enableCallLog(true);
  std::vector<Step> const baseline = runScenario(maps, true);
  std::vector<std::string> const log = sim::callLog();
  sim::enableCallLog(false);
  ASSERT_EQ(leftovers(empty), "");
  ASSERT_EQ(baseline.back().name, "unload");
  for (size_t i = 0; i < 5; ++i) ASSERT_FALSE(error(baseline[i].outcome)) << baseline[i].name;
  // Undisturbed, every listed map answers on both modules: else the
  // failures below would only meet refusals.
  std::vector<testing_support::RegisterCall> const calls = testing_support::everyRegisterCall(maps);
  for (char const* module : {" on A", " on B"}) {
    std::vector<Outcome> replies;
    for (auto const& call : calls)
      for (Step const& step : baseline)
        if (step.name == call.name + module) replies.push_back(step.outcome);
    EXPECT_EQ(testing_support::reachShortfall(calls, replies), "") << module;
  }

  char const* const mode = std::getenv("QVRM7_SWEEP");
  auto const failable = static_cast<uint64_t>(std::count_if(
      log.begin(), log.end(), [](std::string const& i) { return !listed(kUnfailable, i); }));
  std::vector<Failure> const runs =
      runsToMake(log, baseline, failable, mode != nullptr && std::string(mode) == "full");
  std::set<std::string> imports;
  for (Failure const& r : runs) imports.insert(r.import);
  std::string swept;
  for (std::string const& import : imports) swept += ' ' + import.substr(import.find('_') + 1);
  size_t named = 0;
  for (auto const& [unreachable, why] : kUnreachable) {
    named += static_cast<size_t>(std::count(unreachable.begin(), unreachable.end(), ' ')) - 1;
    for (std::string const& import : std::set<std::string>(log.begin(), log.end()))
      EXPECT_FALSE(listed(unreachable, import)) << import << " was called, though " << why;
  }
  // Every failable import of the object is swept or named with its reason,
  // so that one the driver comes to call is not left out unseen.
  std::set<std::string> const objectImports = importsOfTheObject();
  size_t failableImports = 0;
  for (std::string const& import : objectImports) {
    if (listed(kUnfailable, import)) continue;
    ++failableImports;
    bool const unreachable = std::any_of(std::begin(kUnreachable), std::end(kUnreachable),
                                         [&](auto const& u) { return listed(u.first, import); });
    EXPECT_TRUE(unreachable || std::find(log.begin(), log.end(), import) != log.end())
        << import << " can fail, yet the scenario never calls it and no reason is named";
  }
  std::set<std::string> called;
  for (std::string const& import : log)
    if (!listed(kUnfailable, import)) called.insert(import);
  EXPECT_EQ(failableImports, called.size() + named)
      << "a name listed as unreachable is no import of the object";

  // Shares of the runs go to worker processes side by side; each run is a
  // child of its worker.
  constexpr size_t kWorkers = 4;
  std::vector<Child> workers;
  for (size_t worker = 0; worker < kWorkers; ++worker) {
    workers.push_back(startChild(
        [&] {
          std::string findings;
          for (size_t k = worker; k < runs.size(); k += kWorkers) {
            Failure const& r = runs[k];
            std::string const found = finishChild(startChild(
                [&] {
                  prepare();
                  sim::failNthCall(r.import, r.occurrence);
                  // The scenario ends before what is left is looked at.
                  std::string problems =
                      judge(baseline, runScenario(maps, false), r.failing, r.import);
                  problems += leftovers(empty);
                  if (sim::unfiredFailures() != 0) problems += "  the failure never fired\n";
                  return problems;
                },
                60));
            if (!found.empty())
              findings += "call " + std::to_string(r.call) + ", " + r.import + " #" +
                          std::to_string(r.occurrence) + ", failed in " + baseline[r.failing].name +
                          ":\n" + found;
          }
          return findings;
        },
        1800));
  }
  for (Child const& worker : workers) EXPECT_EQ(finishChild(worker), "");
  std::printf(
      "fault sweep: %zu call sites failed, of %zu failable calls (%zu calls in all) at %zu "
      "imports over %zu steps and %zu listed maps%s\nimports swept:%s\n"
      "failable imports of the object no path of the switch device reaches: %zu (of %zu)\n",
      runs.size(), static_cast<size_t>(failable), log.size(), imports.size(), baseline.size(),
      maps.size(), runs.size() < failable ? "; QVRM7_SWEEP=full fails them all" : "", swept.c_str(),
      named, failableImports);
}

}  // namespace
