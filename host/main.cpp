// Loads the driver object into the user-space kernel services layer, plugs
// simulated modules into the layer's PCI bus, shows what the driver made of
// each, opens a session, runs the transfers on it and works its register
// maps through the register ioctls, removes the modules, unloads the driver
// and checks that nothing was left behind.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/rm7Module.h"
#include "host/layer/syncControl.h"
#include "host/layer/user.h"
#include "host/layer/userFile.h"
#include "host/registerClient.h"

namespace {

constexpr char kInterface[] = "qvrm7_driver_qvrm7";

constexpr char kUsage[] =
    "usage: qvrm7-host [--model ID[,ID...]|all] [--count N] [--debug] [--help]\n"
    "\n"
    "Loads the driver into the simulated kernel services layer, plugs simulated\n"
    "modules into its PCI bus, shows each device's setup level, interface and\n"
    "attributes, opens a session, runs both transfers on it and works the register\n"
    "maps through the register ioctls, then removes the modules, unloads the driver\n"
    "and checks that nothing was left behind.\n"
    "\n"
    "  --model ID,...  subsystem IDs of the modules, in hexadecimal (default\n"
    "                  6BB1,6BB5); 'all' plugs every supported model. An ID the\n"
    "                  driver does not support shows how it refuses a module.\n"
    "  --count N       modules of each model (default 1, at most 32)\n"
    "  --debug         also print every line the driver printed\n"
    "  --help          this text\n";

struct Options {
  std::vector<uint16_t> models{0x6BB1, 0x6BB5};
  unsigned count = 1;
  bool debug = false;
};

bool parseModels(char const* text, std::vector<uint16_t>& models) {
  models.clear();
  if (std::strcmp(text, "all") == 0) {
    models.assign(sim::kRm7SubsystemIDs.begin(), sim::kRm7SubsystemIDs.end());
    return true;
  }
  std::string const list = text;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string const item = list.substr(start, end - start);
    char* rest = nullptr;
    unsigned long const id = std::strtoul(item.c_str(), &rest, 16);
    if (item.empty() || *rest != '\0' || id > 0xFFFF) return false;
    models.push_back(static_cast<uint16_t>(id));
    start = end + 1;
  }
  return true;
}

// False for options it does not know or values it cannot use.
bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string const option = argv[i];
    char const* const value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (option == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (option == "--debug") {
      options.debug = true;
      continue;
    }
    if (value == nullptr) return false;
    ++i;
    if (option == "--model") {
      if (!parseModels(value, options.models)) return false;
    } else if (option == "--count") {
      char* rest = nullptr;
      unsigned long const count = std::strtoul(value, &rest, 10);
      if (*rest != '\0' || count == 0 || count > 32) return false;
      options.count = static_cast<unsigned>(count);
    } else {
      return false;
    }
  }
  return true;
}

// The device attributes the layer received for a function, as one line.
std::string attributesOf(sim::PciDevice const& function) {
  std::string line;
  for (sim::PropertyRegistration const& p : sim::livePropertiesOf(0, function.kernelParent())) {
    char value[64];
    if (p.name == "pxiGeographicAddress" && p.value.size() == 4) {
      uint32_t slot = 0;
      std::memcpy(&slot, p.value.data(), 4);
      std::snprintf(value, sizeof value, "%" PRIu32, slot);
    } else {
      std::snprintf(value, sizeof value, "\"%s\"",
                    std::string(p.value.begin(), p.value.end()).c_str());
    }
    line += (line.empty() ? "" : " ") + p.name + "=" + value;
  }
  return line;
}

// What the driver said about the device's setup: the text after "reached ".
std::string setupLevelSaid() {
  std::string const output = sim::debugOutput();
  size_t const at = output.rfind("reached ");
  if (at == std::string::npos) return "not reported";
  size_t const end = output.find('\n', at);
  return output.substr(at + 8, end - at - 8);
}

void flushDebugOutput(bool show) {
  std::string const output = sim::debugOutput();
  if (show && !output.empty()) std::printf("  driver said:\n%s", output.c_str());
  sim::clearDebugOutput();
}

constexpr char kBaseMap[] = "RM7BaseRegMap_Ver22.8.0f141";
constexpr char kSlotRamMap[] = "RM7SlotRamRegisterMap_Ver22.8.0f141";
constexpr uint32_t kSignatureId = 0x80000000;
constexpr uint32_t kRelayStateWord0 = 0x80000000;
constexpr uint32_t kRelay1StateOfWord0 = 0x30000000;  // bits 3-5
constexpr uint32_t kRelay1State = 5;

bool done(sim::RegisterReply const& reply, char const* what) {
  if (reply.ioctl == 0 && reply.status == 0) return true;
  std::printf("  %s failed (ioctl %d, status %d)\n", what, reply.ioctl, reply.status);
  return false;
}

// The register stack as user space reaches it: the registrations, the FPGA's
// signature read from the hardware, a relay state set and flushed in the
// slot RAM, and a register's format.
bool showRegisterStack(sim::UserFile& file, sim::Rm7Module& module) {
  sim::RegisterClient client(file);
  std::string list;
  if (!done(client.list(list), "the registration list")) return false;
  for (char& c : list) c = c == '\t' ? ' ' : c;
  std::printf("  register maps: %s\n", list.c_str());

  sim::RegisterReply const signature = client.read(kBaseMap, kSignatureId);
  if (!done(signature, "the FPGA signature read")) return false;
  std::printf("  FPGA signature read from %s: 0x%08" PRIX64 "\n", kBaseMap, signature.value);

  if (!done(client.set(kSlotRamMap, kRelay1StateOfWord0, kRelay1State), "the relay state set") ||
      !done(client.flush(kSlotRamMap, kRelayStateWord0, false), "the relay state flush"))
    return false;
  std::printf("  relay 1 of slot RAM word 0 set to %u and flushed: the block received 0x%08" PRIX32
              "\n",
              kRelay1State, module.fpga().slotRam().lastWritten(0));

  std::vector<std::pair<uint8_t, uint64_t>> fields;
  if (!done(client.format(kSlotRamMap, kRelayStateWord0, fields), "the format")) return false;
  static constexpr char const* kTypes[] = {"bit", "u8", "u16", "u32"};
  std::string line;
  for (auto const& [type, mask] : fields) {
    char field[32];
    std::snprintf(field, sizeof field, " %s 0x%" PRIX64, type < 4 ? kTypes[type] : "?", mask);
    line += field;
  }
  std::printf("  format of slot RAM word 0: %zu fields:%s\n", fields.size(), line.c_str());
  return module.fpga().slotRam().lastWritten(0) == kRelay1State << 3 &&
         signature.value == sim::Rm7Fpga::kSignature;
}

bool isSupported(uint16_t model) {
  for (uint16_t supported : sim::kRm7SubsystemIDs)
    if (supported == model) return true;
  return false;
}

// Plugs the module in and uses it; false when the driver did not do what it
// should.
bool serve(sim::Rm7Module& module, unsigned number, bool debug) {
  sim::PciDevice const& function = *module.device();
  uint16_t const model = function.options().subsystemID;
  std::printf("module %u: model %04X at %04x:%02x:%02x.%x, chassis slot %u\n", number, model,
              function.options().domain, function.options().bus, function.options().device,
              function.options().function, module.geographicAddress());
  int32_t const added = sim::plugIn(module.device());
  if (added < 0) {
    std::printf("  refused by add device (%d)%s\n", added,
                isSupported(model) ? "" : ": not a supported model");
    flushDebugOutput(debug);
    return !isSupported(model);
  }
  std::printf("  setup level %s, interface \"%s\"\n", setupLevelSaid().c_str(), kInterface);
  std::printf("  attributes: %s\n", attributesOf(function).c_str());

  sim::UserFile file;
  int32_t const opened = file.open(kInterface, function.kernelParent());
  if (opened < 0) {
    std::printf("  open failed (%d)\n", opened);
    flushDebugOutput(debug);
    return false;
  }
  uint8_t buffer[16] = {};
  uint64_t movedA = 0;
  uint64_t movedB = 0;
  int32_t const resultA = file.transferA(buffer, sizeof buffer, &movedA);
  int32_t const resultB = file.transferB(buffer, sizeof buffer, &movedB);
  std::printf("  session: transfers returned %d and %d, moving %" PRIu64 " and %" PRIu64 " bytes\n",
              resultA, resultB, movedA, movedB);
  bool const registers = showRegisterStack(file, module);
  file.close();
  flushDebugOutput(debug);
  return resultA == 0 && resultB == 0 && registers;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  sim::LoadedDriver driver(nQVWEND200_driverEntry);
  int32_t const loaded = driver.load();
  if (loaded < 0 || sim::registeredDriver() != &driver.record()) {
    std::fprintf(stderr, "qvrm7-host: the driver did not load (%d)\n", loaded);
    return 1;
  }
  std::printf("driver \"%s\" loaded\n", driver.record().driverName);

  bool good = true;
  std::vector<std::unique_ptr<sim::Rm7Module>> modules;
  for (uint16_t model : options.models) {
    for (unsigned copy = 0; copy < options.count; ++copy) {
      auto const index = static_cast<uint32_t>(modules.size());
      modules.push_back(std::make_unique<sim::Rm7Module>(
          sim::Rm7ModuleOptions{.subsystemID = model,
                                .geographicAddress = (index + 1) % 32,
                                .bus = static_cast<uint16_t>(3 + index / 32),
                                .device = static_cast<uint16_t>(index % 32)}));
      good = serve(*modules.back(), index + 1, options.debug) && good;
    }
  }

  for (auto const& module : modules) sim::unplug(*module->device());
  std::printf("removed %zu module%s\n", modules.size(), modules.size() == 1 ? "" : "s");
  driver.unload();
  flushDebugOutput(options.debug);

  uint64_t const left[] = {sim::liveAllocations(), sim::liveMappings(), sim::liveMutexes(),
                           sim::liveSpinLocks(), sim::liveUserMaps()};
  bool const clean = left[0] + left[1] + left[2] + left[3] + left[4] == 0;
  std::printf("driver unloaded: %s (%" PRIu64 " allocations, %" PRIu64 " mappings, %" PRIu64
              " mutexes, %" PRIu64 " spin locks, %" PRIu64 " user maps left)\n",
              clean ? "nothing left behind" : "LEAKED", left[0], left[1], left[2], left[3],
              left[4]);
  if (sim::registeredDriver() != nullptr) {
    std::printf("the driver is still registered after unload\n");
    good = false;
  }
  return good && clean ? 0 : 1;
}
