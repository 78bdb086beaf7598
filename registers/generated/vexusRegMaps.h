// The bridge chip's register maps over BAR 0: the core block (signature,
// interrupts, FPGA loading, configuration ports), the I2C master, the
// configuration port in its I2C, SPI and window forms, and the switched
// bridge port. None has a window: every register is reached at the
// accessor's address plus its offset, and nothing reports -52006. The
// isolation port, reached through the switched bridge port, has a header of
// its own (isolationPortRegMap.h).
//
// Every map exists at offset 0 only: the block lies at the address its
// accessor holds, and no other offset is defined.
#pragma once

#include "registers/registerMap.h"

namespace vexustools {

using qvrm7_driver::u32;
using qvrm7_driver::u64;
using qvrm7_driver::u8;

inline constexpr char kVersion[] = "22.8.0f108";
inline constexpr armcore::Field kWordFields[] = {armcore::bits(0, 31, 0x00, 3)};

namespace core {
using namespace armcore;
inline constexpr char kFile[] = "armgen/Vexus";
inline constexpr RegisterClass kSignature{.access = kRead, .fields = kWordFields};
inline constexpr Field kCOREDRFields[] = {
    bit(4, 0x08),          bit(5, 0x28),          bit(6, 0x18),          bit(7, 0x38),
    bits(12, 15, 0x0C, 1), bits(16, 19, 0x02, 1), bits(20, 23, 0x0A, 1), bits(24, 31, 0x06, 1)};
inline constexpr RegisterClass kCOREDR{.access = kRead, .fields = kCOREDRFields};
inline constexpr RegisterClass kReg01C{.access = kRead, .fields = kWordFields};
inline constexpr Field kCoreControlStatusRegisterFields[] = {bits(0, 1, 0x00, 1),
                                                             bits(16, 19, 0x02, 1)};
inline constexpr RegisterClass kCoreControlStatusRegister{
    .access = kReadWrite, .fields = kCoreControlStatusRegisterFields};
inline constexpr Field kInterruptMaskFields[] = {
    bit(0, 0x00),  bit(8, 0x04),  bit(9, 0x24),  bit(10, 0x14), bit(11, 0x34),
    bit(24, 0x06), bit(25, 0x26), bit(26, 0x16), bit(27, 0x36), bit(28, 0x0E),
    bit(29, 0x2E), bit(30, 0x1E), bit(31, 0x3E)};
inline constexpr RegisterClass kInterruptMask{.access = kReadWrite, .fields = kInterruptMaskFields};
inline constexpr Field kHBRCRFields[] = {
    bits(0, 11, 0x00, 2),  bit(13, 0x2C),         bit(14, 0x1C),         bit(15, 0x3C),
    bits(16, 19, 0x02, 1), bits(20, 23, 0x0A, 1), bits(24, 27, 0x06, 1), bit(28, 0x0E),
    bits(29, 30, 0x2E, 1), bit(31, 0x3E)};
inline constexpr RegisterClass kHBRCR{.access = kReadWrite, .fields = kHBRCRFields};
inline constexpr Field kFPGALoadingControlRegisterFields[] = {bit(0, 0x00), bit(1, 0x20),
                                                              bit(2, 0x10), bit(3, 0x30)};
inline constexpr RegisterClass kFPGALoadingControlRegister{
    .access = kWrite, .fields = kFPGALoadingControlRegisterFields};
inline constexpr Field kFPGALoadingModeRegisterFields[] = {bit(0, 0x00), bit(1, 0x20)};
inline constexpr RegisterClass kFPGALoadingModeRegister{.access = kReadWrite,
                                                        .fields = kFPGALoadingModeRegisterFields};
inline constexpr Field kFPGALoadStatusRegisterFields[] = {bits(0, 7, 0x00, 1), bit(8, 0x04)};
inline constexpr RegisterClass kFPGALoadStatusRegister{.access = kRead,
                                                       .fields = kFPGALoadStatusRegisterFields};
inline constexpr RegisterClass kFPGALoadingBaseAddressRegister{.access = kReadWrite,
                                                               .fields = kWordFields};
inline constexpr RegisterClass kFPGALoadingByteCountRegister{.access = kReadWrite,
                                                             .fields = kWordFields};
inline constexpr Field kFPGABusLoadingDataRegister8Fields[] = {bits(0, 7, 0x00, 1)};
inline constexpr RegisterClass kFPGABusLoadingDataRegister8{
    .access = kWrite, .width = 8, .fields = kFPGABusLoadingDataRegister8Fields, .strobe = 0xFF};
inline constexpr RegisterClass kFPGABusLoadingDataRegister64{
    .access = kWrite, .width = 64, .strobe = ~u64{0}, .hasId = false};
inline constexpr Field kConfigurationActivePortRegisterFields[] = {
    bits(0, 2, 0x00, 1), bits(8, 10, 0x04, 1), bits(16, 18, 0x02, 1)};
inline constexpr RegisterClass kConfigurationActivePortRegister{
    .access = kReadWrite, .fields = kConfigurationActivePortRegisterFields};
inline constexpr Field kConfigurationPortsModeRegisterFields[] = {
    bits(0, 3, 0x00, 1),   bits(4, 7, 0x08, 1),   bits(8, 11, 0x04, 1),  bits(12, 15, 0x0C, 1),
    bits(16, 19, 0x02, 1), bits(20, 23, 0x0A, 1), bits(24, 27, 0x06, 1), bits(28, 31, 0x0E, 1)};
inline constexpr RegisterClass kConfigurationPortsModeRegister{
    .access = kReadWrite, .fields = kConfigurationPortsModeRegisterFields};
inline constexpr Register kRegisters[] = {
    {.offset = 0x000, .type = &kSignature, .formatLine = 4727},
    {.offset = 0x00C, .type = &kCOREDR, .formatLine = 4736},
    {.offset = 0x01C, .type = &kReg01C, .formatLine = 4759},
    {.offset = 0x058, .type = &kCoreControlStatusRegister, .formatLine = 4768},
    {.offset = 0x05C, .type = &kInterruptMask, .formatLine = 4779},
    {.offset = 0x0A4, .type = &kHBRCR, .formatLine = 4812},
    {.offset = 0x440, .type = &kFPGALoadingControlRegister, .formatLine = 4839},
    {.offset = 0x444, .type = &kFPGALoadingModeRegister, .formatLine = 4854},
    {.offset = 0x448, .type = &kFPGALoadStatusRegister, .formatLine = 4865},
    {.offset = 0x450, .type = &kFPGALoadingBaseAddressRegister, .formatLine = 4876},
    {.offset = 0x458, .type = &kFPGALoadingByteCountRegister, .formatLine = 4885},
    {.offset = 0x460, .type = &kFPGABusLoadingDataRegister8, .formatLine = 4894},
    {.offset = 0x460, .type = &kFPGABusLoadingDataRegister64},
    {.offset = 0x510, .type = &kConfigurationActivePortRegister, .formatLine = 4904},
    {.offset = 0x514, .type = &kConfigurationPortsModeRegister, .formatLine = 4917},
};
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = kVersion,
    .oldestCompatibleVersion = kVersion,
    .sites = sitesIn(kFile, 4056, 4235, 4440, 4620, 4664, 4712, 4939),
    .registers = kRegisters,
    .window = false,
    .strobeFieldsRead = true};
}  // namespace core

namespace i2c {
using namespace armcore;
inline constexpr char kFile[] = "armgen/VexusI2C";
inline constexpr Field kI2CWriteDataControlRegisterFields[] = {
    bits(0, 7, 0x00, 1), bit(8, 0x04), bit(9, 0x24), bit(10, 0x14), bit(11, 0x34)};
inline constexpr RegisterClass kI2CWriteDataControlRegister{
    .access = kWrite, .fields = kI2CWriteDataControlRegisterFields};
inline constexpr Field kI2CReadDataStatusRegisterFields[] = {bits(0, 7, 0x00, 1), bit(8, 0x04),
                                                             bit(16, 0x02)};
inline constexpr RegisterClass kI2CReadDataStatusRegister{
    .access = kRead, .fields = kI2CReadDataStatusRegisterFields};
inline constexpr Register kRegisters[] = {
    {.offset = 0x530, .type = &kI2CWriteDataControlRegister, .formatLine = 753},
    {.offset = 0x534, .type = &kI2CReadDataStatusRegister, .formatLine = 770},
};
inline constexpr MapDescription kMap{.file = kFile,
                                     .version = kVersion,
                                     .oldestCompatibleVersion = kVersion,
                                     .sites = sitesIn(kFile, 619, 650, 675, 707, 723, 738, 782),
                                     .registers = kRegisters,
                                     .window = false,
                                     .strobeFieldsRead = true};
}  // namespace i2c

namespace configPortI2C {
using namespace armcore;
inline constexpr char kFile[] = "armgen/VexusConfigPortI2C";
inline constexpr Field kConfigPortI2CRegisterFields[] = {
    bits(0, 7, 0x00, 1), bits(8, 15, 0x04, 1), bits(16, 23, 0x02, 1), bits(24, 31, 0x06, 1)};
inline constexpr RegisterClass kConfigPortI2CRegister{.access = kReadWrite,
                                                      .fields = kConfigPortI2CRegisterFields};
inline constexpr Register kRegisters[] = {
    {.offset = 0x000, .type = &kConfigPortI2CRegister, .formatLine = 605},
};
inline constexpr MapDescription kMap{.file = kFile,
                                     .version = kVersion,
                                     .oldestCompatibleVersion = kVersion,
                                     .sites = sitesIn(kFile, 474, 502, 530, 559, 575, 590, 619),
                                     .registers = kRegisters,
                                     .window = false,
                                     .strobeFieldsRead = true};
}  // namespace configPortI2C

namespace configPortSPI {
using namespace armcore;
inline constexpr char kFile[] = "armgen/VexusConfigPortSPI";
inline constexpr Field kBusSettingsRegisterFields[] = {
    bits(0, 7, 0x00, 1), bits(8, 13, 0x04, 1),  bit(14, 0x1C),
    bit(15, 0x3C),       bits(16, 21, 0x02, 1), bit(22, 0x1A),
    bit(23, 0x3A),       bits(24, 29, 0x06, 1), bit(31, 0x3E)};
inline constexpr RegisterClass kBusSettingsRegister{.access = kReadWrite,
                                                    .fields = kBusSettingsRegisterFields};
inline constexpr Field kReadModeRegisterFields[] = {
    bits(0, 4, 0x00, 1),  bit(5, 0x28),  bit(6, 0x18),          bit(7, 0x38),
    bits(8, 13, 0x04, 1), bit(14, 0x1C), bit(15, 0x3C),         bits(16, 21, 0x02, 1),
    bit(22, 0x1A),        bit(23, 0x3A), bits(24, 30, 0x06, 1), bit(31, 0x3E)};
inline constexpr RegisterClass kReadModeRegister{.access = kReadWrite,
                                                 .fields = kReadModeRegisterFields};
inline constexpr RegisterClass kWriteModeRegister{.access = kReadWrite,
                                                  .fields = kReadModeRegisterFields};
inline constexpr Field kPrefixRegisterFields[] = {bits(0, 7, 0x00, 1), bits(16, 23, 0x02, 1)};
inline constexpr RegisterClass kPrefixRegister{.access = kReadWrite,
                                               .fields = kPrefixRegisterFields};
inline constexpr Register kRegisters[] = {
    {.offset = 0x000, .type = &kBusSettingsRegister, .formatLine = 2561},
    {.offset = 0x004, .type = &kReadModeRegister, .formatLine = 2586},
    {.offset = 0x008, .type = &kWriteModeRegister, .formatLine = 2617},
    {.offset = 0x00C, .type = &kPrefixRegister, .formatLine = 2648},
};
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = kVersion,
    .oldestCompatibleVersion = kVersion,
    .sites = sitesIn(kFile, 2106, 2236, 2366, 2497, 2522, 2546, 2658),
    .registers = kRegisters,
    .window = false,
    .strobeFieldsRead = true};
}  // namespace configPortSPI

namespace configPortWindow {
using namespace armcore;
inline constexpr char kFile[] = "armgen/VexusConfigPortWindow";
inline constexpr Field kContextRegisterFields[] = {bits(0, 4, 0x00, 1), bit(7, 0x38),
                                                   bits(8, 31, 0x04, 3)};
inline constexpr RegisterClass kContextRegister{.access = kReadWrite,
                                                .fields = kContextRegisterFields};
inline constexpr RegisterClass kWindowRegister{.access = kReadWrite, .fields = kWordFields};
inline constexpr Register kRegisters[] = {
    {.offset = 0x0C0, .type = &kContextRegister, .formatLine = 757},
    {.offset = 0x0E0, .type = &kWindowRegister, .formatLine = 770},
};
inline constexpr MapDescription kMap{.file = kFile,
                                     .version = kVersion,
                                     .oldestCompatibleVersion = kVersion,
                                     .sites = sitesIn(kFile, 611, 642, 673, 705, 724, 742, 778),
                                     .registers = kRegisters,
                                     .window = false,
                                     .strobeFieldsRead = true};
}  // namespace configPortWindow

namespace switchedPort {
using namespace armcore;
inline constexpr char kFile[] = "armgen/SwitchedVexusBimRegMap";
inline constexpr Field kReadFlowControlRegFields[] = {bits(0, 11, 0x00, 2), bit(16, 0x02)};
inline constexpr RegisterClass kReadFlowControlReg{.access = kReadWrite,
                                                   .fields = kReadFlowControlRegFields};
inline constexpr Field kRouteDefineRegFields[] = {bits(8, 10, 0x04, 1), bits(11, 13, 0x34, 1),
                                                  bits(14, 16, 0x1C, 1), bits(17, 19, 0x22, 1),
                                                  bits(20, 23, 0x0A, 1)};
inline constexpr RegisterClass kRouteDefineReg{.access = kWrite, .fields = kRouteDefineRegFields};
inline constexpr Field kConfigControlRegFields[] = {
    bit(0, 0x00),          bit(1, 0x20),          bit(2, 0x10),
    bits(8, 10, 0x04, 1),  bits(11, 13, 0x34, 1), bits(14, 16, 0x1C, 1),
    bits(17, 19, 0x22, 1), bits(20, 23, 0x0A, 1), bits(24, 31, 0x06, 1)};
inline constexpr RegisterClass kConfigControlReg{
    .access = kReadWrite, .fields = kConfigControlRegFields, .strobe = 0x3};
inline constexpr RegisterClass kReg68C{.access = kReadWrite, .fields = kWordFields};
inline constexpr RegisterClass kReg694{.access = kRead, .fields = kWordFields};
inline constexpr RegisterClass kReg698{.access = kReadWrite, .fields = kWordFields};
inline constexpr RegisterClass kReg6A4{.access = kReadWrite, .fields = kWordFields};
inline constexpr Field kCapabilitiesRegFields[] = {bits(0, 7, 0x00, 1), bits(8, 15, 0x04, 1),
                                                   bits(16, 23, 0x02, 1)};
inline constexpr RegisterClass kCapabilitiesReg{.access = kRead, .fields = kCapabilitiesRegFields};
inline constexpr Field kSetupRegFields[] = {bit(1, 0x20), bits(4, 7, 0x08, 1),
                                            bits(8, 12, 0x04, 1)};
inline constexpr RegisterClass kSetupReg{.access = kReadWrite, .fields = kSetupRegFields};
inline constexpr Field kReg700Fields[] = {bits(0, 2, 0x00, 1)};
inline constexpr RegisterClass kReg700{.access = kRead, .fields = kReg700Fields};
inline constexpr Register kRegisters[] = {
    {.offset = 0x644, .type = &kReadFlowControlReg, .formatLine = 2745},
    {.offset = 0x680, .type = &kRouteDefineReg, .formatLine = 2756},
    {.offset = 0x688, .type = &kConfigControlReg, .formatLine = 2773},
    {.offset = 0x68C, .type = &kReg68C, .formatLine = 2798},
    {.offset = 0x694, .type = &kReg694, .formatLine = 2807},
    {.offset = 0x698, .type = &kReg698, .formatLine = 2816},
    {.offset = 0x6A4, .type = &kReg6A4, .formatLine = 2825},
    {.offset = 0x600, .type = &kCapabilitiesReg, .formatLine = 2834},
    {.offset = 0x604, .type = &kSetupReg, .formatLine = 2847},
    {.offset = 0x700, .type = &kReg700, .formatLine = 2860},
};
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = kVersion,
    .oldestCompatibleVersion = kVersion,
    .sites = sitesIn(kFile, 2350, 2450, 2556, 2657, 2691, 2730, 2868),
    .registers = kRegisters,
    .window = false,
    .strobeFieldsRead = true};
}  // namespace switchedPort

template <u32 Offset>
class tVexusWithOffset;
template <u32 Offset>
class tVexusI2CWithOffset;
template <u32 Offset>
class tVexusConfigPortI2CWithOffset;
template <u32 Offset>
class tVexusConfigPortSPIWithOffset;
template <u32 Offset>
class tVexusConfigPortWindowWithOffset;
template <u32 Offset>
class tSwitchedVexusBimRegMapWithOffset;

// The core block: signature, interrupts, FPGA loading and the configuration
// ports' selection.
template <>
class tVexusWithOffset<0u> final
    : public armcore::RegisterMap<tVexusWithOffset<0u>, core::kMap, armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  using tSignature = tRegisterRecord<core::kSignature>;
  using tCOREDR = tRegisterRecord<core::kCOREDR>;
  using tReg01C = tRegisterRecord<core::kReg01C>;
  using tCoreControlStatusRegister = tRegisterRecord<core::kCoreControlStatusRegister>;
  using tInterruptMask = tRegisterRecord<core::kInterruptMask>;
  using tHBRCR = tRegisterRecord<core::kHBRCR>;
  using tFPGALoadingControlRegister = tRegisterRecord<core::kFPGALoadingControlRegister>;
  using tFPGALoadingModeRegister = tRegisterRecord<core::kFPGALoadingModeRegister>;
  using tFPGALoadStatusRegister = tRegisterRecord<core::kFPGALoadStatusRegister>;
  using tFPGALoadingBaseAddressRegister = tRegisterRecord<core::kFPGALoadingBaseAddressRegister>;
  using tFPGALoadingByteCountRegister = tRegisterRecord<core::kFPGALoadingByteCountRegister>;
  using tFPGABusLoadingDataRegister8 = tRegisterRecord<core::kFPGABusLoadingDataRegister8>;
  using tFPGABusLoadingDataRegister64 = tRegisterRecord<core::kFPGABusLoadingDataRegister64>;
  using tConfigurationActivePortRegister = tRegisterRecord<core::kConfigurationActivePortRegister>;
  using tConfigurationPortsModeRegister = tRegisterRecord<core::kConfigurationPortsModeRegister>;
};

// The I2C master's two registers.
template <>
class tVexusI2CWithOffset<0u> final
    : public armcore::RegisterMap<tVexusI2CWithOffset<0u>, i2c::kMap, armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  using tI2CWriteDataControlRegister = tRegisterRecord<i2c::kI2CWriteDataControlRegister>;
  using tI2CReadDataStatusRegister = tRegisterRecord<i2c::kI2CReadDataStatusRegister>;
};

// The configuration port in its I2C form.
template <>
class tVexusConfigPortI2CWithOffset<0u> final
    : public armcore::RegisterMap<tVexusConfigPortI2CWithOffset<0u>, configPortI2C::kMap,
                                  armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  using tConfigPortI2CRegister = tRegisterRecord<configPortI2C::kConfigPortI2CRegister>;
};

// The configuration port in its SPI form.
template <>
class tVexusConfigPortSPIWithOffset<0u> final
    : public armcore::RegisterMap<tVexusConfigPortSPIWithOffset<0u>, configPortSPI::kMap,
                                  armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  using tBusSettingsRegister = tRegisterRecord<configPortSPI::kBusSettingsRegister>;
  using tReadModeRegister = tRegisterRecord<configPortSPI::kReadModeRegister>;
  using tWriteModeRegister = tRegisterRecord<configPortSPI::kWriteModeRegister>;
  using tPrefixRegister = tRegisterRecord<configPortSPI::kPrefixRegister>;
};

// The configuration port in its window form: the two registers of the
// windowed access to the chip's internal space, by name.
template <>
class tVexusConfigPortWindowWithOffset<0u> final
    : public armcore::RegisterMap<tVexusConfigPortWindowWithOffset<0u>, configPortWindow::kMap,
                                  armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  using tContextRegister = tRegisterRecord<configPortWindow::kContextRegister>;
  using tWindowRegister = tRegisterRecord<configPortWindow::kWindowRegister>;
};

// The switched bridge port, whose configuration control and data registers
// carry the remote accesses to the isolation port.
template <>
class tSwitchedVexusBimRegMapWithOffset<0u> final
    : public armcore::RegisterMap<tSwitchedVexusBimRegMapWithOffset<0u>, switchedPort::kMap,
                                  armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  using tReadFlowControlReg = tRegisterRecord<switchedPort::kReadFlowControlReg>;
  using tRouteDefineReg = tRegisterRecord<switchedPort::kRouteDefineReg>;
  using tConfigControlReg = tRegisterRecord<switchedPort::kConfigControlReg>;
  using tReg68C = tRegisterRecord<switchedPort::kReg68C>;
  using tReg694 = tRegisterRecord<switchedPort::kReg694>;
  using tReg698 = tRegisterRecord<switchedPort::kReg698>;
  using tReg6A4 = tRegisterRecord<switchedPort::kReg6A4>;
  using tCapabilitiesReg = tRegisterRecord<switchedPort::kCapabilitiesReg>;
  using tSetupReg = tRegisterRecord<switchedPort::kSetupReg>;
  using tReg700 = tRegisterRecord<switchedPort::kReg700>;
};

}  // namespace vexustools
