// The stand-in's memory, output, halt and driver-registration services,
// and the test controls that every other service relies on.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/dma/dma.h"
#include "host/layer/driverHost.h"
#include "host/layer/lockedState.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/stripedLock.h"
#include "host/layer/syncControl.h"
#include "host/layer/user.h"
#include "platform/kernelServices.h"

namespace sim {

namespace {

constexpr int32_t kDefaultFailureCode = -51009;
// A whole scenario's calls fit: a test reads the log by position.
constexpr size_t kCallLogLimit = size_t{1} << 22;

struct FaultRule {
  uint64_t callsUntilFailure = 0;  // 0: no pending single failure
  bool always = false;
  int32_t code = kDefaultFailureCode;
};

struct State {
  std::mutex mutex;
  std::map<std::string, FaultRule, std::less<>> faults;
  bool logging = false;
  std::vector<std::string> log;
  std::map<std::string, uint64_t, std::less<>> counts;
  std::string debugText;
  bool echo = false;
  HaltHandler haltHandler;
  std::vector<HaltRecord> halts;
  std::shared_ptr<ImportHook const> importHook;
  // Read by every file request without the lock; changed under it.
  std::atomic<nQVZOR200_tDriverRecord*> driver{nullptr};
  uint64_t registrations = 0;
  uint64_t unregistrations = 0;
};

State& state() {
  static State* s = new State();  // never destroyed: imports may run at exit
  return *s;
}

// Live blocks, in shards chosen by the block's address, so that threads
// allocating and freeing at once seldom meet on one shard's lock.
struct alignas(64) BlockShard {
  std::mutex mutex;
  std::unordered_map<void*, uint64_t> blocks;  // block -> size asked for
  uint64_t liveBytes = 0;
  uint64_t totalBlocks = 0;
};

std::array<BlockShard, kLockStripes>& blockShards() {
  static auto* shards = new std::array<BlockShard, kLockStripes>();  // never destroyed
  return *shards;
}

BlockShard& shardOf(void const* block) {
  // Blocks are 16-byte aligned: the bits above those pick the shard.
  uint64_t const key = (reinterpret_cast<uintptr_t>(block) >> 4) * 0x9E3779B97F4A7C15ull;
  return blockShards()[key >> 60 & (kLockStripes - 1)];
}

template <class Read>
uint64_t sumOfShards(Read read) {
  uint64_t sum = 0;
  for (BlockShard& shard : blockShards()) {
    std::lock_guard lock(shard.mutex);
    sum += read(shard);
  }
  return sum;
}

// Fast path: no rule and no log means no lock on an import call.
std::atomic<bool> gWatching{false};

void updateWatching(State& s) {
  gWatching.store(s.logging || !s.faults.empty() || s.importHook != nullptr);
}

}  // namespace

namespace detail {

namespace {
thread_local uint64_t tImportsOfThisThread = 0;
}  // namespace

uint64_t importsOfThisThread() { return tImportsOfThisThread; }

bool enterImport(char const* import) {
  ++tImportsOfThisThread;
  if (!gWatching.load(std::memory_order_relaxed)) return false;
  State& s = state();
  std::shared_ptr<ImportHook const> hook;
  bool fail = false;
  {
    std::lock_guard lock(s.mutex);
    if (s.logging) {
      s.log.emplace_back(import);
      keepNewest(s.log, kCallLogLimit);
      ++s.counts[import];
    }
    hook = s.importHook;
    auto rule = s.faults.find(std::string_view(import));
    if (rule != s.faults.end()) {
      if (rule->second.always) {
        fail = true;
      } else if (rule->second.callsUntilFailure != 0) {
        fail = --rule->second.callsUntilFailure == 0;
      }
    }
  }
  // Outside the layer's lock: a hook may block its thread.
  if (hook) (*hook)(import);
  return fail;
}

int32_t failureCode(char const* import) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  auto rule = s.faults.find(std::string_view(import));
  return rule == s.faults.end() ? kDefaultFailureCode : rule->second.code;
}

}  // namespace detail

void failNthCall(std::string const& import, uint64_t n) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.faults[import].callsUntilFailure = n;
  updateWatching(s);
}

void failEveryCall(std::string const& import) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.faults[import].always = true;
  updateWatching(s);
}

void setFailureCode(std::string const& import, int32_t code) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.faults[import].code = code;
  updateWatching(s);
}

void setImportHook(ImportHook hook) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.importHook = hook ? std::make_shared<ImportHook const>(std::move(hook)) : nullptr;
  updateWatching(s);
}

void clearFaults() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.faults.clear();
  updateWatching(s);
}

uint64_t unfiredFailures() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return static_cast<uint64_t>(
      std::count_if(s.faults.begin(), s.faults.end(),
                    [](auto const& rule) { return rule.second.callsUntilFailure != 0; }));
}

uint64_t liveAllocations() {
  return sumOfShards([](BlockShard const& shard) { return shard.blocks.size(); });
}

uint64_t liveAllocationBytes() {
  return sumOfShards([](BlockShard const& shard) { return shard.liveBytes; });
}

uint64_t totalAllocations() {
  return sumOfShards([](BlockShard const& shard) { return shard.totalBlocks; });
}

void enableCallLog(bool on) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.logging = on;
  updateWatching(s);
}

std::vector<std::string> callLog() {
  return readLocked(state(), [&](State& s) { return s.log; });
}

uint64_t callCount(std::string const& import) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  auto found = s.counts.find(import);
  return found == s.counts.end() ? 0 : found->second;
}

std::string debugOutput() {
  return readLocked(state(), [&](State& s) { return s.debugText; });
}

size_t debugOutputSize() {
  return readLocked(state(), [&](State& s) { return s.debugText.size(); });
}

void clearDebugOutput() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.debugText.clear();
}

void echoDebugOutput(bool on) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.echo = on;
}

void setHaltHandler(HaltHandler handler) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.haltHandler = std::move(handler);
}

void throwOnHalt() {
  setHaltHandler([](HaltRecord const& record) { throw HaltTrap{record}; });
}

std::vector<HaltRecord> halts() {
  return readLocked(state(), [&](State& s) { return s.halts; });
}

void reset() {
  resetSyncControls();
  clearRegistrations();
  clearUserCopies();
  resetDmaControls();
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.faults.clear();
  s.logging = false;
  s.log.clear();
  s.counts.clear();
  s.debugText.clear();
  s.echo = false;
  s.haltHandler = nullptr;
  s.halts.clear();
  s.importHook = nullptr;
  updateWatching(s);
}

// ---- Driver loading -------------------------------------------------------

LoadedDriver::LoadedDriver(DriverEntry entry)
    : entry_(entry),
      record_(static_cast<nQVZOR200_tDriverRecord*>(std::malloc(sizeof(nQVZOR200_tDriverRecord)))) {
  std::memset(record_, kLayerRecordPattern, sizeof *record_);
}

LoadedDriver::~LoadedDriver() {
  if (loaded_) unload();
  std::free(record_);
}

int32_t LoadedDriver::load() {
  int32_t result = entry_(record_);
  loaded_ = result >= 0;
  return result;
}

void LoadedDriver::unload() {
  if (!loaded_) return;
  loaded_ = false;
  record_->unload(record_);
}

nQVZOR200_tDriverRecord* registeredDriver() {
  return state().driver.load(std::memory_order_acquire);
}

uint64_t driverRegistrations() {
  return readLocked(state(), [&](State& s) { return s.registrations; });
}

uint64_t driverUnregistrations() {
  return readLocked(state(), [&](State& s) { return s.unregistrations; });
}

}  // namespace sim

using sim::detail::enterImport;
using sim::detail::failureCode;

extern "C" {

// ---- Memory ----------------------------------------------------------------

void* nQVZOR100_malloc(uint64_t size) {
  if (enterImport("nQVZOR100_malloc")) return nullptr;
  // The driver's allocation header is 16 bytes and its objects may ask for
  // 16-byte alignment, so every block is 16-byte aligned; size 0 still
  // yields a block of its own.
  if (size > UINT64_MAX - 15) return nullptr;  // no such block exists
  void* block = std::aligned_alloc(16, size == 0 ? 16 : (size + 15) / 16 * 16);
  if (block == nullptr) return nullptr;
  sim::BlockShard& shard = sim::shardOf(block);
  std::lock_guard lock(shard.mutex);
  shard.blocks.emplace(block, size);
  shard.liveBytes += size;
  ++shard.totalBlocks;
  return block;
}

void nQVZOR100_free(void* block) {
  enterImport("nQVZOR100_free");
  if (block == nullptr) return;
  {
    sim::BlockShard& shard = sim::shardOf(block);
    std::lock_guard lock(shard.mutex);
    auto found = shard.blocks.find(block);
    if (found == shard.blocks.end()) {
      std::fprintf(stderr, "layer: free of %p, which is not a live block\n", block);
      std::abort();
    }
    shard.liveBytes -= found->second;
    shard.blocks.erase(found);
  }
  std::free(block);
}

void* nQVZOR240_memSet(void* destination, int32_t byte, uint64_t count) {
  enterImport("nQVZOR240_memSet");
  return std::memset(destination, byte, count);
}

void* nQVZOR180_memCpy(void* destination, void const* source, uint64_t count) {
  enterImport("nQVZOR180_memCpy");
  return std::memcpy(destination, source, count);
}

void* nQVZOR180_memMove(void* destination, void const* source, uint64_t count) {
  enterImport("nQVZOR180_memMove");
  return std::memmove(destination, source, count);
}

uint32_t nQVZOR100_getPageSize(void) { return 4096; }

// ---- Output and halt ----------------------------------------------------

int32_t nQVZOR100_vsprintf(char* buffer, char const* format, va_list arguments) {
  enterImport("nQVZOR100_vsprintf");
  return std::vsprintf(buffer, format, arguments);
}

int32_t nQVZOR100_vsnPrintf(char* buffer, uint64_t size, char const* format, va_list arguments) {
  if (enterImport("nQVZOR100_vsnPrintf")) return -1;
  int const written = std::vsnprintf(buffer, size, format, arguments);
  if (written < 0 || static_cast<uint64_t>(written) >= size) return -1;
  return written;
}

void nQVZOR100_printToDebugger(char const* text) {
  enterImport("nQVZOR100_printToDebugger");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  s.debugText += text;
  if (s.debugText.size() >= 2 * sim::kDebugOutputLimit)
    s.debugText.erase(0, s.debugText.size() - sim::kDebugOutputLimit);
  if (s.echo) std::fputs(text, stderr);
}

void nQVZOR250_halt(char const* driverName, char const* file, uint64_t line, char const* text) {
  enterImport("nQVZOR250_halt");
  sim::HaltRecord record{driverName ? driverName : "", file ? file : "", line, text ? text : ""};
  sim::HaltHandler handler;
  {
    sim::State& s = sim::state();
    std::lock_guard lock(s.mutex);
    s.halts.push_back(record);
    keepNewest(s.halts);
    handler = s.haltHandler;
  }
  if (handler) handler(record);
  std::fprintf(stderr, "HALT %s %s:%llu %s\n", record.driver.c_str(), record.file.c_str(),
               static_cast<unsigned long long>(line), record.text.c_str());
  std::abort();
}

// ---- Driver registration --------------------------------------------------

int32_t nQVZOR200_registerDriver(nQVZOR200_tDriverRecord* record) {
  if (enterImport("nQVZOR200_registerDriver")) return failureCode("nQVZOR200_registerDriver");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  if (s.driver.load(std::memory_order_relaxed) != nullptr) return -51009;  // one at a time
  s.driver.store(record, std::memory_order_release);
  ++s.registrations;
  return 0;
}

void nQVZOR200_unregisterDriver(nQVZOR200_tDriverRecord* record) {
  enterImport("nQVZOR200_unregisterDriver");
  sim::detail::releaseDevicesOf(record);
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  if (s.driver.load(std::memory_order_relaxed) != record) {
    std::fprintf(stderr, "layer: unregisterDriver of a record that is not registered\n");
    std::abort();
  }
  s.driver.store(nullptr, std::memory_order_release);
  ++s.unregistrations;
}

}  // extern "C"
