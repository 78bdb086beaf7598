// Register requests as a benchmark makes them: the driver loaded once into
// the stand-in, a module of its own plugged in for each caller and a file
// open on that module's interface, and the register a request addresses.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "host/layer/driverHost.h"
#include "host/layer/rm7Module.h"
#include "host/layer/user.h"
#include "host/layer/userFile.h"
#include "host/registerClient.h"

namespace bench {

inline constexpr char kInterfaceName[] = "qvrm7_driver_qvrm7";

// The driver stays loaded until the program ends.
inline sim::LoadedDriver& loadedDriver() {
  static sim::LoadedDriver* driver = [] {
    auto* loaded = new sim::LoadedDriver(nQVWEND200_driverEntry);
    if (loaded->load() != 0) std::abort();
    return loaded;
  }();
  return *driver;
}

// Plugging and unplugging are one at a time, as a bus adds and removes
// devices.
inline std::mutex& busMutex() {
  static std::mutex mutex;
  return mutex;
}

// The map and register a register request names: QVRM7_BENCH_MAP and
// QVRM7_BENCH_ID (hexadecimal) when given, else the first map registered and
// the register at offset 0. Empty map: none is registered.
struct RegisterTarget {
  std::string map;
  uint32_t id = 0x80000000;
};

// A caller with a module and an open file of its own.
class Caller {
 public:
  Caller() {
    loadedDriver();
    std::lock_guard lock(busMutex());
    if (sim::plugIn(module_.device()) != 0 ||
        file_.open(kInterfaceName, module_.device()->kernelParent()) != 0)
      std::abort();
  }
  ~Caller() {
    file_.close();
    std::lock_guard lock(busMutex());
    sim::unplug(*module_.device());
  }
  Caller(Caller const&) = delete;
  Caller& operator=(Caller const&) = delete;

  sim::UserFile& file() { return file_; }

  RegisterTarget target() {
    RegisterTarget target;
    if (char const* map = std::getenv("QVRM7_BENCH_MAP")) {
      target.map = map;
    } else {
      sim::RegisterClient client(file_);
      std::string list;
      if (client.list(list).status == 0) target.map = list.substr(0, list.find('\t'));
    }
    if (char const* id = std::getenv("QVRM7_BENCH_ID")) target.id = std::strtoul(id, nullptr, 16);
    return target;
  }

 private:
  sim::Rm7Module module_;
  sim::UserFile file_;
};

// One register request's records, kept in the caller's registered memory so
// that a request adds no range of its own. The name is kept here too.
struct RegisterRecords {
  explicit RegisterRecords(RegisterTarget const& target)
      : name(target.map.empty() ? std::string(" ") : target.map),
        nameRange(name.data(), name.size()),
        get{{sim::RegisterClient::address(name.data()), target.map.size()}, target.id, 0},
        write{
            {sim::RegisterClient::address(name.data()), target.map.size()}, 0, target.id, 1, 0, 0} {
  }

  std::string name;
  sim::UserRange nameRange;
  qvrm7_driver::tArmRegisterArguments get;
  qvrm7_driver::tArmWriteArguments write;
  qvrm7_driver::tArmStatusArguments sizeArguments{0};
  qvrm7_driver::tArmValueResult value{};
  qvrm7_driver::tArmStatusResult written{};
  qvrm7_driver::tArmSizeResult size{};

  int32_t armGet(sim::UserFile& file) {
    return file.ioctl(qvrm7_driver::kIoctlArmGet, &get, sizeof get, &value, sizeof value);
  }
  int32_t armWrite(sim::UserFile& file) {
    return file.ioctl(qvrm7_driver::kIoctlArmWrite, &write, sizeof write, &written, sizeof written);
  }
  int32_t armGetSizeOfRegistrationList(sim::UserFile& file) {
    return file.ioctl(qvrm7_driver::kIoctlArmGetSizeOfRegistrationList, &sizeArguments,
                      sizeof sizeArguments, &size, sizeof size);
  }
};

}  // namespace bench
