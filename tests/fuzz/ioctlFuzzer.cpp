// libFuzzer over the hosted driver, the stand-in layer and one simulated
// module. An input is a small program read byte by byte (bytes past its end
// read as 0): the module's model, then operations, each an op byte, a file
// slot byte (one of four) and its operands:
//
//   op % 8  0 open             1 close
//           2 raw ioctl: code (one of the register codes or any
//             32-bit one), record sizes, record bytes, patches that point
//             the record's 64-bit fields at names, into the caller's user
//             memory, across its end, at kernel memory, at 0 or anywhere,
//             and where the result goes
//           3 register ioctl: code, map name (a byte that picks a known
//             one, or 0xFF, a length byte and the name's bytes), ID, index
//             and value, in the record that code takes
//           4 map: offset word, size, access
//           5 transfer: which, offset and size in user memory
//           6 poke: offset, length and bytes into the user memory
//           7 remove the module (once)
//
// The seeds hold one such register ioctl of each code, and one on each map
// by its versioned name; maps.dict carries the names for mutations. After
// each input every file is closed and the module is removed: the layer must
// then hold what it held after the load (a halt aborts on its own), and its
// record lists must be within their bounds. At exit the fuzzer prints, per
// map, how many inputs had a register ioctl on it answered with success.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/layer/registration.h"
#include "support/registerCalls.h"
#include "support/switchDeviceScenario.h"

namespace {

using testing_support::layerHoldings;

constexpr char kInterface[] = "qvrm7_driver_qvrm7";
constexpr size_t kSlots = 4;
// The caller's user memory for the whole input: free bytes, then one slot
// per known name.
constexpr size_t kUserSize = 4096;
constexpr size_t kNamesAt = 2048, kNameSlot = 64;
// A map name byte that says the name's own bytes follow.
constexpr uint8_t kNameFollows = 0xFF;
constexpr size_t kLongestName = 96;
constexpr uint32_t kRecordSize = 128;

using testing_support::kRegisterCodes;
constexpr size_t kCodeCount = std::size(kRegisterCodes);

struct Reader {
  uint8_t const* data;
  size_t left;
  uint8_t byte() { return left == 0 ? 0 : (--left, *data++); }
  template <class T>
  T number() {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
      value |= static_cast<T>(static_cast<T>(byte()) << (8 * i));
    return value;
  }
};

struct World {
  std::unique_ptr<sim::LoadedDriver> driver;
  decltype(layerHoldings()) loaded;
  // The device's maps by their versioned names, then one bare, an old
  // version, an unknown one and an empty one.
  std::vector<std::string> names;
  size_t versioned = 0;             // names that must reach a map
  std::vector<uint64_t> reachedBy;  // inputs, per versioned name
  std::vector<uint8_t> reachedNow;  // by the current input
  uint64_t inputs = 0;              // run by this process
  alignas(16) std::array<uint8_t, kUserSize> user{};
  alignas(16) std::array<uint8_t, 256> kernel{};  // never user memory
};

World* const gWorld = new World();  // never destroyed: libFuzzer may exit at any time

uint64_t address(void const* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

[[noreturn]] void finding(char const* what) {
  std::fprintf(stderr, "ioctl fuzzer: %s\n", what);
  __builtin_trap();
}

uint64_t patchAddress(World& w, Reader& in, uint8_t* record, size_t field, size_t size) {
  switch (in.byte() % 6) {
    case 0:
      return address(w.user.data() + in.number<uint16_t>() % kUserSize);
    case 1: {  // a known name, in its slot of the user memory
      size_t const which = in.byte() % w.names.size();
      uint64_t const length = w.names[which].size();
      uint8_t* const slot = w.user.data() + kNamesAt + which * kNameSlot;
      std::memcpy(slot, w.names[which].data(), length);
      if (field + 16 <= size) std::memcpy(record + field + 8, &length, 8);
      return address(slot);
    }
    case 2:
      return address(w.kernel.data() + in.byte() % w.kernel.size());
    case 3:
      return 0;
    case 4:
      return in.number<uint64_t>();
    default:
      return address(w.user.data() + kUserSize - in.byte() % 16);
  }
}

void rawIoctl(World& w, sim::UserFile& file, Reader& in) {
  uint8_t const pick = in.byte();
  uint32_t const code =
      pick < 0xF0 ? kRegisterCodes[pick % kCodeCount].code : in.number<uint32_t>();
  testing_support::RegisterCode sizes{code, 0, 0};  // for a code of no register ioctl
  for (auto const& known : kRegisterCodes)
    if (known.code == code) sizes = known;
  if (in.byte() % 4 == 0)
    sizes = {code, in.byte() % (kRecordSize + 1u), in.byte() % (kRecordSize + 1u)};
  alignas(16) uint8_t record[kRecordSize] = {};
  for (uint32_t i = 0; i < sizes.input; ++i) record[i] = in.byte();
  for (unsigned patches = in.byte() % 4; patches != 0; --patches) {
    size_t const field = in.byte() % (kRecordSize / 8) * 8;
    if (field + 8 > sizes.input) continue;
    uint64_t const value = patchAddress(w, in, record, field, sizes.input);
    std::memcpy(record + field, &value, 8);
  }
  alignas(16) uint8_t output[kRecordSize];
  std::memset(output, 0xA5, sizeof output);
  // No output, an output in user memory, no input, or both in place.
  uint8_t const where = in.byte() % 5;
  void* const out = where == 0   ? nullptr
                    : where == 1 ? w.user.data() + (kUserSize - kRecordSize)
                                 : static_cast<void*>(output);
  void const* const input = where == 2 ? nullptr : record;
  uint32_t returned = 0;
  int32_t const result = file.ioctl(code, input, sizes.input, out, sizes.output, &returned);
  if (returned > sizes.output) finding("more bytes returned than the output holds");
  if (out == output && result < 0 && returned == 0 && output[0] != 0xA5)
    finding("a refused request wrote its output");
}

// A well-formed one through the client; the value's low bit clears the
// force flag, and a names request asks for up to 31 slots.
void registerIoctl(World& w, sim::UserFile& file, Reader& in) {
  sim::RegisterClient client{file};
  uint32_t const code = kRegisterCodes[in.byte() % kCodeCount].code;
  std::string map;
  if (uint8_t const pick = in.byte(); pick != kNameFollows) {
    map = w.names[pick % w.names.size()];
  } else {
    for (size_t length = in.byte() % (kLongestName + 1); length != 0; --length)
      map += static_cast<char>(in.byte());
  }
  auto const id = in.number<uint32_t>();
  auto const index = in.number<uint32_t>();
  auto value = in.number<uint64_t>();
  if (code == qvrm7_driver::kIoctlArmGetRegistrationNames) value %= 32;
  sim::RegisterReply const reply =
      testing_support::registerCall(client, code, map, id, value, index, (value & 1) == 0);
  if (!testing_support::answered(reply)) return;
  for (size_t i = 0; i < w.versioned; ++i)
    if (map == w.names[i]) w.reachedNow[i] = 1;
}

// A process that ran no inputs (the parent of parallel jobs) has nothing to
// count: a block of zeros from it would say that no map was reached.
void printReach() {
  World const& w = *gWorld;
  if (w.inputs == 0) {
    std::fprintf(stderr,
                 "map reach: this process ran no inputs; each job printed its own "
                 "above, at the end of its log fuzz-<job>.log\n");
    return;
  }
  std::string unreached;
  std::fprintf(stderr, "map reach (inputs with a register ioctl answered):\n");
  for (size_t i = 0; i < w.versioned; ++i) {
    std::fprintf(stderr, "  %-48s %llu\n", w.names[i].c_str(),
                 static_cast<unsigned long long>(w.reachedBy[i]));
    if (w.reachedBy[i] == 0) unreached += ' ' + w.names[i];
  }
  std::fprintf(stderr, "maps not reached:%s\n", unreached.empty() ? " none" : unreached.c_str());
}

void map(sim::UserFile& file, Reader& in) {
  uint64_t const offset = in.number<uint16_t>();
  uint64_t const size = (in.number<uint16_t>() + 1u) * 16u;
  uint64_t const userMap = sim::createUserMap(size, in.byte() & 3, 0x7000000);
  uint64_t object = 0;
  if (file.mmap(userMap, offset, &object) >= 0) file.unmap(object);
  sim::destroyUserMap(userMap);
}

void transfer(World& w, sim::UserFile& file, Reader& in) {
  bool const second = in.byte() & 1;
  size_t const at = in.number<uint16_t>() % kUserSize;
  size_t const size = in.number<uint16_t>() % (kUserSize - at + 1);
  uint8_t* const buffer = w.user.data() + at;
  uint64_t moved = 0;
  (void)(second ? file.transferB(buffer, size, &moved) : file.transferA(buffer, size, &moved));
  if (moved > size) finding("a transfer moved more than its buffer");
}

void poke(World& w, Reader& in) {
  size_t const at = in.number<uint16_t>() % kUserSize;
  size_t const length = in.byte();
  for (size_t i = 0; i < length && at + i < kUserSize; ++i) w.user[at + i] = in.byte();
}

// Any operation but the removal.
void operate(World& w, sim::UserFile& file, Reader& in, uint8_t op) {
  switch (op % 8) {
    case 0:
      return (void)file.open(kInterface);
    case 1:
      return file.close();
    case 2:
      return rawIoctl(w, file, in);
    case 3:
      return registerIoctl(w, file, in);
    case 4:
      return map(file, in);
    case 5:
      return transfer(w, file, in);
    default:
      return poke(w, in);
  }
}

void checkRecordsBounded() {
  size_t const limit = 2 * sim::kRecordLimit;
  sim::RegistrationRecordCounts const counts = sim::registrationRecordCounts();
  if (sim::userCopyCount() > limit) finding("the user copies grow without bound");
  if (counts.interfaceUnregistrations > limit || counts.propertyUnregistrations > limit ||
      counts.addEvents > limit || counts.deferredCalls > limit)
    finding("the registration history grows without bound");
  if (counts.interfaces > limit + sim::liveInterfaces().size() ||
      counts.properties > limit + sim::liveProperties().size())
    finding("ended registrations are kept without bound");
  if (sim::debugOutputSize() > 2 * sim::kDebugOutputLimit)
    finding("the debug output grows without bound");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  World& w = *gWorld;
  sim::reset();
  sim::useVirtualClock();
  w.driver = std::make_unique<sim::LoadedDriver>(nQVWEND200_driverEntry);
  if (w.driver->load() != 0) finding("the driver did not load");
  w.loaded = layerHoldings();
  std::vector<std::string> const listed = testing_support::mapsOfAModule();
  if (listed.empty()) finding("the module was not served");
  for (std::string const& map : listed) w.names.push_back(testing_support::versionedName(map));
  w.versioned = w.names.size();
  w.names.push_back(listed.front());
  w.names.push_back("RM7BaseRegMap_Ver22.8.0f108");
  w.names.push_back(testing_support::kUnknownMap);
  w.names.push_back("");
  if (w.names.size() * kNameSlot > kUserSize - kRecordSize - kNamesAt)
    finding("the names do not fit their slots");
  w.reachedBy.assign(w.versioned, 0);
  w.reachedNow.assign(w.versioned, 0);
  std::atexit(printReach);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  World& w = *gWorld;
  ++w.inputs;
  Reader in{data, size};
  w.user.fill(0);
  sim::UserRange const userMemory(w.user.data(), w.user.size());
  sim::Rm7Module module({.subsystemID = sim::kRm7SubsystemIDs[in.byte() % 10]});
  if (sim::plugIn(module.device()) != 0) finding("the module was not served");
  bool removed = false;
  {
    sim::UserFile files[kSlots];
    while (in.left != 0) {
      uint8_t const op = in.byte();
      sim::UserFile& file = files[in.byte() % kSlots];
      if (op % 8 != 7)
        operate(w, file, in, op);
      else if (!std::exchange(removed, true))
        sim::unplug(*module.device());
    }
  }
  if (!removed) sim::unplug(*module.device());
  for (size_t i = 0; i < w.versioned; ++i)
    w.reachedBy[i] += std::exchange(w.reachedNow[i], uint8_t{0});
  if (layerHoldings() != w.loaded) finding("the layer holds more than after the load");
  checkRecordsBounded();
  return 0;
}
