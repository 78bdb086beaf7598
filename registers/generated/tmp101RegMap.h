// The temperature sensor on the module's I2C bus: its temperature register
// (16 bits, read) and its configuration register (8 bits, written), each
// named by the register pointer that is its address. Every access goes
// through an I2C device accessor and reports its failures in the status; a
// failed access leaves the record as it was.
#pragma once

#include "registers/registerMap.h"
#include "storage/i2cDeviceAccessor.h"

namespace atut {

// The temperature register is the only one read and is read as 16 bits; the
// configuration register is the only one written, as 8 bits.
struct TMP101Path {
  using tAccessor = I2CDeviceAccessor;
  static u64 read(I2CDeviceAccessor* accessor, u32 address, u32, tStatus& status) {
    return accessor->readRegister16(static_cast<u8>(address), status);
  }
  static void write(I2CDeviceAccessor* accessor, u32 address, u32, u64 value, tStatus& status) {
    accessor->writeRegister8(static_cast<u8>(address), static_cast<u8>(value), status);
  }
};

namespace tmp101 {
using namespace armcore;
inline constexpr char kFile[] = "./dep_mirror/deps/atut_mock/includes/atut/armgen/TMP101RegMap";
inline constexpr char kVersion[] = "22.8.0f108";
inline constexpr Field kTemperatureFields[] = {bits(0, 15, 0x00, 2)};
inline constexpr RegisterClass kTemperatureRegister{
    .access = kRead, .width = 16, .fields = kTemperatureFields, .refreshLine = 346};
inline constexpr Field kConfigurationFields[] = {bit(0, 0x00), bit(1, 0x20), bit(2, 0x10),
                                                 bit(3, 0x30), bit(4, 0x08), bit(5, 0x28),
                                                 bit(6, 0x18), bit(7, 0x38)};
inline constexpr RegisterClass kConfigurationRegister{
    .access = kWrite, .width = 8, .fields = kConfigurationFields, .flushLine = 455};
inline constexpr Register kRegisters[] = {
    {.offset = 0x00, .type = &kTemperatureRegister, .formatLine = 891},
    {.offset = 0x01, .type = &kConfigurationRegister, .formatLine = 900},
};
inline constexpr MapDescription kMap{.file = kFile,
                                     .version = kVersion,
                                     .oldestCompatibleVersion = kVersion,
                                     .sites = sitesIn(kFile, 743, 784, 803, 845, 861, 876, 922),
                                     .registers = kRegisters};
}  // namespace tmp101

class tTMP101RegMap final : public armcore::RegisterMap<tTMP101RegMap, tmp101::kMap, TMP101Path> {
 public:
  using RegisterMap::RegisterMap;
  using tTemperatureRegister = tRegisterRecord<tmp101::kTemperatureRegister>;
  using tConfigurationRegister = tRegisterRecord<tmp101::kConfigurationRegister>;
};

}  // namespace atut
