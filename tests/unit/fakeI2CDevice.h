// An I2C device for tests: registers of bytes, a log of every transfer, and
// a code that makes the next transfers fail without moving a byte.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/status.h"
#include "storage/i2cDeviceAccessor.h"

namespace i2ctest {

struct Transfer {
  bool write;
  uint8_t pointer;
  std::vector<uint8_t> bytes;  // written, or delivered
  bool operator==(Transfer const&) const = default;
};

class FakeI2CDevice final : public atut::I2CDevice {
 public:
  std::map<uint8_t, std::vector<uint8_t>> registers;
  std::vector<Transfer> log;
  int64_t failWith = 0;  // 0: transfers succeed

  void read(uint8_t pointer, uint8_t* buffer, uint32_t count, atut::tStatus& status) override {
    if (fail(status)) return;
    std::vector<uint8_t> bytes = registers[pointer];
    bytes.resize(count);
    for (uint32_t i = 0; i < count; ++i) buffer[i] = bytes[i];
    log.push_back({false, pointer, bytes});
  }
  void write(uint8_t pointer, uint8_t const* buffer, uint32_t count,
             atut::tStatus& status) override {
    if (fail(status)) return;
    registers[pointer].assign(buffer, buffer + count);
    log.push_back({true, pointer, registers[pointer]});
  }

 private:
  static constexpr qvrm7_driver::nQVWEND000::StatusSite kFailureSite{"fake i2c", 1};
  bool fail(atut::tStatus& status) {
    if (failWith == 0) return false;
    qvrm7_driver::nQVWEND000::setStatus(status, failWith, kFailureSite);
    return true;
  }
};

}  // namespace i2ctest
