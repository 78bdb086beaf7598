// The driver object loaded into the layer with simulated modules plugged in
// and one open file on each, for the register-ioctl measurements. Every
// buffer a request touches is user memory for the whole run, so the layer
// registers nothing per request.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/rm7Module.h"
#include "host/layer/user.h"
#include "host/layer/userFile.h"
#include "source/qvrm7_driver/interface/registerIoctls.h"

namespace bench {

// A register of the FPGA's base block that is read and written.
inline constexpr char kMapName[] = "RM7BaseRegMap_Ver22.8.0f141";
inline constexpr uint32_t kRegisterId = 0x8000000C;

// One device's requests, ready to send: the records never move.
struct DeviceRequests {
  qvrm7_driver::tArmRegisterArguments get;
  qvrm7_driver::tArmValueResult value;
  qvrm7_driver::tArmWriteArguments write;
  qvrm7_driver::tArmStatusResult status;
};

class IoctlRig {
 public:
  explicit IoctlRig(unsigned devices) : requests_(devices), files_(devices) {
    sim::reset();
    if (driver_.load() != 0) die("the driver did not load");
    name_ = std::make_unique<sim::UserRange>(kMapName, sizeof kMapName - 1);
    requests_range_ =
        std::make_unique<sim::UserRange>(requests_.data(), requests_.size() * sizeof requests_[0]);
    qvrm7_driver::tArmMapName const map{reinterpret_cast<uintptr_t>(kMapName), sizeof kMapName - 1};
    for (unsigned i = 0; i < devices; ++i) {
      modules_.push_back(std::make_unique<sim::Rm7Module>(
          sim::Rm7ModuleOptions{.geographicAddress = i, .bus = static_cast<uint16_t>(3 + i)}));
      if (sim::plugIn(modules_.back()->device()) != 0) die("a module was refused");
      if (files_[i].open("qvrm7_driver_qvrm7", modules_.back()->device()->kernelParent()) != 0)
        die("a device did not open");
      requests_[i].get = {map, kRegisterId, 0};
      requests_[i].write = {map, 0, kRegisterId, 0, 0, 0};
    }
  }
  ~IoctlRig() {
    for (sim::UserFile& file : files_) file.close();
    for (auto& module : modules_) sim::unplug(*module->device());
  }
  IoctlRig(IoctlRig const&) = delete;
  IoctlRig& operator=(IoctlRig const&) = delete;

  // arm_get of the register's shadow; the operation's status.
  int32_t get(unsigned device) {
    DeviceRequests& r = requests_[device];
    send(device, qvrm7_driver::kIoctlArmGet, r.get, r.value);
    return r.value.status;
  }
  // arm_write of a new value each time, so that every request writes the
  // register.
  int32_t write(unsigned device) {
    DeviceRequests& r = requests_[device];
    ++r.write.value;
    send(device, qvrm7_driver::kIoctlArmWrite, r.write, r.status);
    return r.status.status;
  }

 private:
  [[noreturn]] static void die(char const* why) {
    std::fprintf(stderr, "%s\n", why);
    std::exit(1);
  }
  template <class Arguments, class Result>
  void send(unsigned device, uint32_t code, Arguments const& arguments, Result& result) {
    if (files_[device].ioctl(code, &arguments, sizeof arguments, &result, sizeof result) != 0)
      die("the transport refused a request");
  }

  sim::LoadedDriver driver_{nQVWEND200_driverEntry};
  std::vector<DeviceRequests> requests_;
  std::unique_ptr<sim::UserRange> name_;
  std::unique_ptr<sim::UserRange> requests_range_;
  std::vector<std::unique_ptr<sim::Rm7Module>> modules_;
  std::vector<sim::UserFile> files_;
};

}  // namespace bench
