// The bridge chip's isolation port, which has no block in the BAR: every
// register is read and written through the port accessor, a remote access
// over the switched bridge port that reports its failures in the status. A
// failed access leaves the record as it was (shadow, dirty flag, strobe
// bits).
#pragma once

#include "registers/generated/vexusRegMaps.h"
#include "storage/tmr9PortAccessor.h"

namespace vexustools {

// The register's address is the remote address; every register is 32 bits.
struct IsolationPortPath {
  using tAccessor = TMR9PortAccessor;
  static u64 read(TMR9PortAccessor* port, u32 address, u32, tStatus& status) {
    return port->read(address, status);
  }
  static void write(TMR9PortAccessor* port, u32 address, u32, u64 value, tStatus& status) {
    port->write(address, static_cast<u32>(value), status);
  }
};

namespace isolationPort {
using namespace armcore;
inline constexpr char kFile[] = "armgen/IsolationPortRegMap";
inline constexpr RegisterClass kReg000{.access = kReadWrite, .fields = kWordFields};
inline constexpr Field kIsolationPortControlStatusRegisterFields[] = {
    bit(0, 0x00),          bit(1, 0x20),          bits(4, 5, 0x08, 1),  bit(7, 0x38),
    bit(8, 0x04),          bit(9, 0x24),          bit(10, 0x14),        bits(12, 15, 0x0C, 1),
    bits(16, 19, 0x02, 1), bits(22, 23, 0x1A, 1), bits(24, 27, 0x06, 1)};
inline constexpr RegisterClass kIsolationPortControlStatusRegister{
    .access = kReadWrite, .fields = kIsolationPortControlStatusRegisterFields, .reset = 0x0F000203};
inline constexpr RegisterClass kReg014{.access = kRead, .fields = kWordFields};
inline constexpr Field kIsoPortXilinxTxPhaseControlRegFields[] = {
    bit(0, 0x00),         bit(1, 0x20),          bit(2, 0x10),         bit(3, 0x30),
    bits(4, 12, 0x08, 2), bits(16, 23, 0x02, 1), bits(24, 31, 0x06, 1)};
inline constexpr RegisterClass kIsoPortXilinxTxPhaseControlReg{
    .access = kReadWrite, .fields = kIsoPortXilinxTxPhaseControlRegFields, .strobe = 0x3};
inline constexpr Register kRegisters[] = {
    {.offset = 0x000, .type = &kReg000, .formatLine = 1776},
    {.offset = 0x004, .type = &kIsolationPortControlStatusRegister, .formatLine = 1785},
    {.offset = 0x014, .type = &kReg014, .formatLine = 1814},
    {.offset = 0x018, .type = &kIsoPortXilinxTxPhaseControlReg, .formatLine = 1823},
};
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = kVersion,
    .oldestCompatibleVersion = kVersion,
    .sites = sitesIn(kFile, 1471, 1550, 1635, 1715, 1737, 1761, 1843),
    .registers = kRegisters,
    .window = false,
    .strobeFieldsRead = true};
}  // namespace isolationPort

template <u32 Offset>
class tIsolationPortRegMapWithOffset;

template <>
class tIsolationPortRegMapWithOffset<0u> final
    : public armcore::RegisterMap<tIsolationPortRegMapWithOffset<0u>, isolationPort::kMap,
                                  IsolationPortPath> {
 public:
  using RegisterMap::RegisterMap;
  using tReg000 = tRegisterRecord<isolationPort::kReg000>;
  using tIsolationPortControlStatusRegister =
      tRegisterRecord<isolationPort::kIsolationPortControlStatusRegister>;
  using tReg014 = tRegisterRecord<isolationPort::kReg014>;
  using tIsoPortXilinxTxPhaseControlReg =
      tRegisterRecord<isolationPort::kIsoPortXilinxTxPhaseControlReg>;
};

}  // namespace vexustools
