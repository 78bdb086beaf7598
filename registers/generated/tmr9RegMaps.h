// The timing chip's digital-output block and its output timer. The DO map
// holds the timer's map as a member placed right after its own records:
// whole-map operations run over the DO registers first, then the timer's. Both have
// 8- or 16-bit registers written with writes of their width, write-only data
// and command registers without a shadow (every write goes to the hardware,
// the other bits 0), a reset value other than 0, and one-bit fields that take
// the value's lowest bit unless the table marks them to take any non-zero
// value.
#pragma once

#include "registers/registerMap.h"

namespace tmr9_regmaps {

using qvrm7_driver::u32;

inline constexpr char kVersion[] = "200a13081315";
inline constexpr armcore::Field kWordFields[] = {armcore::bits(0, 31, 0x00, 3)};

namespace outTimer {
using namespace armcore;
inline constexpr char kFile[] = "tmr9_regMaps/OutTimer";
inline constexpr Field kCommand_1_RegisterFields[] = {
    anyNonZeroBit(0, 0x00),  anyNonZeroBit(4, 0x08),  anyNonZeroBit(5, 0x28),
    anyNonZeroBit(6, 0x18),  anyNonZeroBit(7, 0x38),  anyNonZeroBit(8, 0x04),
    anyNonZeroBit(9, 0x24),  anyNonZeroBit(12, 0x0C), anyNonZeroBit(14, 0x1C),
    anyNonZeroBit(15, 0x3C), anyNonZeroBit(16, 0x02), anyNonZeroBit(21, 0x2A),
    anyNonZeroBit(22, 0x1A), anyNonZeroBit(23, 0x3A), anyNonZeroBit(24, 0x06),
    anyNonZeroBit(25, 0x26), anyNonZeroBit(26, 0x16), anyNonZeroBit(29, 0x2E)};
inline constexpr RegisterClass kCommand_1_Register{
    .access = kWrite, .fields = kCommand_1_RegisterFields, .shadow = false, .flushLine = 1373};
inline constexpr Field kStatus_1_RegisterFields[] = {
    bit(0, 0x00),  bit(1, 0x20),  bit(2, 0x10),  bit(3, 0x30),  bit(4, 0x08),  bit(5, 0x28),
    bit(6, 0x18),  bit(7, 0x38),  bit(8, 0x04),  bit(9, 0x24),  bit(10, 0x14), bit(11, 0x34),
    bit(12, 0x0C), bit(13, 0x2C), bit(14, 0x1C), bit(15, 0x3C), bit(17, 0x22), bit(21, 0x2A),
    bit(22, 0x1A), bit(23, 0x3A), bit(24, 0x06), bit(25, 0x26), bit(26, 0x16), bit(27, 0x36),
    bit(28, 0x0E), bit(29, 0x2E), bit(30, 0x1E)};
inline constexpr RegisterClass kStatus_1_Register{
    .access = kRead, .fields = kStatus_1_RegisterFields, .refreshLine = 1634};
inline constexpr RegisterClass kUI_Load_A_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 2159};
inline constexpr RegisterClass kUI_Save_Register{
    .access = kRead, .fields = kWordFields, .refreshLine = 2264};
inline constexpr RegisterClass kUI_Load_B_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 2373};
inline constexpr RegisterClass kUC_Load_A_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 2491};
inline constexpr RegisterClass kUC_Save_Register{
    .access = kRead, .fields = kWordFields, .refreshLine = 2596};
inline constexpr RegisterClass kUC_Load_B_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 2705};
inline constexpr RegisterClass kBC_Load_A_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 2823};
inline constexpr RegisterClass kBC_Save_Register{
    .access = kRead, .fields = kWordFields, .refreshLine = 2928};
inline constexpr RegisterClass kBC_Load_B_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 3037};
inline constexpr Field kMode_1_RegisterFields[] = {
    bit(0, 0x00),        bit(1, 0x20),  bit(2, 0x10),          bit(3, 0x30),
    bits(4, 6, 0x08, 1), bit(7, 0x38),  bit(10, 0x14),         bit(11, 0x34),
    bit(12, 0x0C),       bit(13, 0x2C), bits(14, 15, 0x1C, 1), anyNonZeroBit(16, 0x02),
    bit(17, 0x22),       bit(19, 0x32), bits(22, 26, 0x1A, 1), bits(27, 28, 0x36, 1)};
inline constexpr RegisterClass kMode_1_Register{
    .access = kWrite, .fields = kMode_1_RegisterFields, .flushLine = 3155};
inline constexpr Field kMode_2_RegisterFields[] = {
    bit(2, 0x10),  bit(3, 0x30),  bits(7, 8, 0x38, 1), bit(17, 0x22), anyNonZeroBit(18, 0x12),
    bit(19, 0x32), bit(20, 0x0A), bit(21, 0x2A),       bit(22, 0x1A), anyNonZeroBit(26, 0x16),
    bit(27, 0x36), bit(29, 0x2E), bit(30, 0x1E)};
inline constexpr RegisterClass kMode_2_Register{
    .access = kWrite, .fields = kMode_2_RegisterFields, .strobe = 0x40000, .flushLine = 3633};
inline constexpr Field kPersonal_RegisterFields[] = {
    bit(5, 0x28), anyNonZeroBit(10, 0x14), bits(12, 13, 0x0C, 1), anyNonZeroBit(15, 0x3C)};
inline constexpr RegisterClass kPersonal_Register{
    .access = kWrite, .width = 16, .fields = kPersonal_RegisterFields, .flushLine = 4039};
inline constexpr Field kOutput_Control_RegisterFields[] = {bit(0, 0x00), bits(8, 15, 0x04, 1)};
inline constexpr RegisterClass kOutput_Control_Register{.access = kWrite,
                                                        .width = 16,
                                                        .fields = kOutput_Control_RegisterFields,
                                                        .reset = 0x1,
                                                        .flushLine = 4229};
inline constexpr Field kInterruptFields[] = {
    anyNonZeroBit(0, 0x00),  anyNonZeroBit(1, 0x20),  anyNonZeroBit(2, 0x10),
    anyNonZeroBit(5, 0x28),  anyNonZeroBit(6, 0x18),  anyNonZeroBit(8, 0x04),
    anyNonZeroBit(9, 0x24),  anyNonZeroBit(16, 0x02), anyNonZeroBit(19, 0x32),
    anyNonZeroBit(20, 0x0A), anyNonZeroBit(23, 0x3A), anyNonZeroBit(24, 0x06),
    anyNonZeroBit(25, 0x26), anyNonZeroBit(26, 0x16), anyNonZeroBit(29, 0x2E)};
inline constexpr RegisterClass kInterrupt1_Register{
    .access = kWrite, .fields = kInterruptFields, .shadow = false, .flushLine = 4345};
inline constexpr RegisterClass kInterrupt2_Register{
    .access = kWrite, .fields = kInterruptFields, .shadow = false, .flushLine = 4560};
inline constexpr Field kStatusPushingEnable_RegisterFields[] = {
    bits(0, 1, 0x00, 1),   bits(2, 3, 0x10, 1),   bits(4, 5, 0x08, 1),  bits(10, 11, 0x14, 1),
    bits(12, 13, 0x0C, 1), bits(16, 17, 0x02, 1), bits(18, 19, 0x12, 1)};
inline constexpr RegisterClass kStatusPushingEnable_Register{
    .access = kWrite, .fields = kStatusPushingEnable_RegisterFields, .flushLine = 4801};
inline constexpr Field kReset_RegisterFields[] = {anyNonZeroBit(0, 0x00), anyNonZeroBit(1, 0x20),
                                                  anyNonZeroBit(2, 0x10), anyNonZeroBit(3, 0x30)};
inline constexpr RegisterClass kReset_Register{.access = kWrite,
                                               .width = 16,
                                               .fields = kReset_RegisterFields,
                                               .shadow = false,
                                               .flushLine = 5037};
inline constexpr Register kRegisters[] = {
    {.offset = 0x00, .type = &kCommand_1_Register, .formatLine = 6185},
    {.offset = 0x00, .type = &kStatus_1_Register, .formatLine = 6228},
    {.offset = 0x04, .type = &kUI_Load_A_Register, .formatLine = 6289},
    {.offset = 0x04, .type = &kUI_Save_Register, .formatLine = 6298},
    {.offset = 0x08, .type = &kUI_Load_B_Register, .formatLine = 6307},
    {.offset = 0x0C, .type = &kUC_Load_A_Register, .formatLine = 6316},
    {.offset = 0x0C, .type = &kUC_Save_Register, .formatLine = 6325},
    {.offset = 0x10, .type = &kUC_Load_B_Register, .formatLine = 6334},
    {.offset = 0x14, .type = &kBC_Load_A_Register, .formatLine = 6343},
    {.offset = 0x14, .type = &kBC_Save_Register, .formatLine = 6352},
    {.offset = 0x18, .type = &kBC_Load_B_Register, .formatLine = 6361},
    {.offset = 0x1C, .type = &kMode_1_Register, .formatLine = 6370},
    {.offset = 0x20, .type = &kMode_2_Register, .formatLine = 6409},
    {.offset = 0x24, .type = &kPersonal_Register, .formatLine = 6442},
    {.offset = 0x26, .type = &kOutput_Control_Register, .formatLine = 6457},
    {.offset = 0x28, .type = &kInterrupt1_Register, .formatLine = 6468},
    {.offset = 0x2C, .type = &kInterrupt2_Register, .formatLine = 6505},
    {.offset = 0x30, .type = &kStatusPushingEnable_Register, .formatLine = 6542},
    {.offset = 0x34, .type = &kReset_Register, .formatLine = 6563},
};
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = kVersion,
    .oldestCompatibleVersion = kVersion,
    .sites = sitesIn(kFile, 5422, 5613, 5728, 6088, 6146, 6170, 6577),
    .registers = kRegisters,
    .oneBitFields = OneBitFields::kLowBit};
}  // namespace outTimer

namespace digitalOutput {
using namespace armcore;
inline constexpr char kFile[] = "tmr9_regMaps/DO";
inline constexpr Field kDO_Status_RegisterFields[] = {bits(0, 15, 0x00, 2)};
inline constexpr RegisterClass kDO_Status_Register{
    .access = kRead, .fields = kDO_Status_RegisterFields, .refreshLine = 1246};
inline constexpr Field kZELK_DIO_Enable_RegisterFields[] = {
    anyNonZeroBit(0, 0x00), anyNonZeroBit(1, 0x20), anyNonZeroBit(2, 0x10)};
inline constexpr RegisterClass kZELK_DIO_Enable_Register{
    .access = kWrite, .width = 8, .fields = kZELK_DIO_Enable_RegisterFields, .flushLine = 1355};
inline constexpr Field kCDO_DMA_Select_RegisterFields[] = {bits(4, 7, 0x08, 1)};
inline constexpr RegisterClass kCDO_DMA_Select_Register{
    .access = kWrite, .width = 8, .fields = kCDO_DMA_Select_RegisterFields, .flushLine = 1521};
inline constexpr RegisterClass kStatic_Digital_Output_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 1639};
inline constexpr Field kDIO_Direction_RegisterFields[] = {
    bit(0, 0x00),  bit(1, 0x20),  bit(2, 0x10),  bit(3, 0x30),  bit(4, 0x08),  bit(5, 0x28),
    bit(6, 0x18),  bit(7, 0x38),  bit(8, 0x04),  bit(9, 0x24),  bit(10, 0x14), bit(11, 0x34),
    bit(12, 0x0C), bit(13, 0x2C), bit(14, 0x1C), bit(15, 0x3C), bit(16, 0x02), bit(17, 0x22),
    bit(18, 0x12), bit(19, 0x32), bit(20, 0x0A), bit(21, 0x2A), bit(22, 0x1A), bit(23, 0x3A),
    bit(24, 0x06), bit(25, 0x26), bit(26, 0x16), bit(27, 0x36), bit(28, 0x0E), bit(29, 0x2E),
    bit(30, 0x1E), bit(31, 0x3E)};
inline constexpr RegisterClass kDIO_Direction_Register{
    .access = kWrite, .fields = kDIO_Direction_RegisterFields, .flushLine = 1757};
inline constexpr RegisterClass kCDO_FIFO_Data_Register{
    .access = kWrite, .fields = kWordFields, .shadow = false, .flushLine = 2593};
inline constexpr RegisterClass kDO_Mask_Enable_Register{
    .access = kWrite, .fields = kWordFields, .flushLine = 2680};
inline constexpr Field kDO_Mode_RegisterFields[] = {anyNonZeroBit(0, 0x00), anyNonZeroBit(1, 0x20),
                                                    bits(12, 13, 0x0C, 1), bits(14, 15, 0x1C, 1)};
inline constexpr RegisterClass kDO_Mode_Register{
    .access = kWrite, .fields = kDO_Mode_RegisterFields, .reset = 0x80, .flushLine = 2798};
inline constexpr Field kDO_Trigger_Select_RegisterFields[] = {
    anyNonZeroBit(8, 0x04), anyNonZeroBit(9, 0x24), bits(10, 15, 0x14, 1), anyNonZeroBit(16, 0x02),
    bit(17, 0x22),          bits(18, 23, 0x12, 1),  bit(25, 0x26),         bits(26, 31, 0x16, 1)};
inline constexpr RegisterClass kDO_Trigger_Select_Register{
    .access = kWrite, .fields = kDO_Trigger_Select_RegisterFields, .flushLine = 2988};
inline constexpr RegisterClass kDO_DirectDataRegister{
    .access = kWrite, .fields = kWordFields, .shadow = false, .flushLine = 3248};
inline constexpr RegisterClass kDO_MOVR_DirectDataRegister{
    .access = kWrite, .fields = kWordFields, .shadow = false, .flushLine = 3309};
inline constexpr RegisterClass kDO_WDT_SafeStateRegister{
    .access = kWrite, .fields = kWordFields, .flushLine = 3396};
inline constexpr Field kWatchdogModeFields[] = {
    bits(0, 1, 0x00, 1),   bits(2, 3, 0x10, 1),   bits(4, 5, 0x08, 1),   bits(6, 7, 0x18, 1),
    bits(8, 9, 0x04, 1),   bits(10, 11, 0x14, 1), bits(12, 13, 0x0C, 1), bits(14, 15, 0x1C, 1),
    bits(16, 17, 0x02, 1), bits(18, 19, 0x12, 1), bits(20, 21, 0x0A, 1), bits(22, 23, 0x1A, 1),
    bits(24, 25, 0x06, 1), bits(26, 27, 0x16, 1), bits(28, 29, 0x0E, 1), bits(30, 31, 0x1E, 1)};
inline constexpr RegisterClass kDO_WDT_ModeSelect1_Register{
    .access = kWrite, .fields = kWatchdogModeFields, .flushLine = 3514};
inline constexpr RegisterClass kDO_WDT_ModeSelect2_Register{
    .access = kWrite, .fields = kWatchdogModeFields, .flushLine = 3992};
inline constexpr Field kDO_ProgFIFO_Flag_RegisterFields[] = {bits(0, 11, 0x00, 2)};
inline constexpr RegisterClass kDO_ProgFIFO_Flag_Register{
    .access = kWrite,
    .width = 16,
    .fields = kDO_ProgFIFO_Flag_RegisterFields,
    .shadow = false,
    .flushLine = 4444};
inline constexpr Register kRegisters[] = {
    {.offset = 0x00, .type = &kDO_Status_Register, .formatLine = 5514},
    {.offset = 0x00, .type = &kZELK_DIO_Enable_Register, .formatLine = 5523},
    {.offset = 0x02, .type = &kCDO_DMA_Select_Register, .formatLine = 5536},
    {.offset = 0x04, .type = &kStatic_Digital_Output_Register, .formatLine = 5545},
    {.offset = 0x08, .type = &kDIO_Direction_Register, .formatLine = 5554},
    {.offset = 0x0C, .type = &kCDO_FIFO_Data_Register, .formatLine = 5625},
    {.offset = 0x10, .type = &kDO_Mask_Enable_Register, .formatLine = 5634},
    {.offset = 0x14, .type = &kDO_Mode_Register, .formatLine = 5643},
    {.offset = 0x18, .type = &kDO_Trigger_Select_Register, .formatLine = 5658},
    {.offset = 0x1C, .type = &kDO_DirectDataRegister, .formatLine = 5681},
    {.offset = 0x20, .type = &kDO_MOVR_DirectDataRegister, .formatLine = 5690},
    {.offset = 0x24, .type = &kDO_WDT_SafeStateRegister, .formatLine = 5699},
    {.offset = 0x28, .type = &kDO_WDT_ModeSelect1_Register, .formatLine = 5708},
    {.offset = 0x2C, .type = &kDO_WDT_ModeSelect2_Register, .formatLine = 5747},
    {.offset = 0x30, .type = &kDO_ProgFIFO_Flag_Register, .formatLine = 5786},
};
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = kVersion,
    .oldestCompatibleVersion = kVersion,
    .sites = sitesIn(kFile, 4799, 5092, 5111, 5429, 5484, 5499, 5794),
    .registers = kRegisters,
    .oneBitFields = OneBitFields::kLowBit};
}  // namespace digitalOutput

class tOutTimer final : public armcore::RegisterMap<tOutTimer, outTimer::kMap, armcore::BarPath> {
 public:
  using RegisterMap::RegisterMap;
  using tCommand_1_Register = tRegisterRecord<outTimer::kCommand_1_Register>;
  using tStatus_1_Register = tRegisterRecord<outTimer::kStatus_1_Register>;
  using tUI_Load_A_Register = tRegisterRecord<outTimer::kUI_Load_A_Register>;
  using tUI_Save_Register = tRegisterRecord<outTimer::kUI_Save_Register>;
  using tUI_Load_B_Register = tRegisterRecord<outTimer::kUI_Load_B_Register>;
  using tUC_Load_A_Register = tRegisterRecord<outTimer::kUC_Load_A_Register>;
  using tUC_Save_Register = tRegisterRecord<outTimer::kUC_Save_Register>;
  using tUC_Load_B_Register = tRegisterRecord<outTimer::kUC_Load_B_Register>;
  using tBC_Load_A_Register = tRegisterRecord<outTimer::kBC_Load_A_Register>;
  using tBC_Save_Register = tRegisterRecord<outTimer::kBC_Save_Register>;
  using tBC_Load_B_Register = tRegisterRecord<outTimer::kBC_Load_B_Register>;
  using tMode_1_Register = tRegisterRecord<outTimer::kMode_1_Register>;
  using tMode_2_Register = tRegisterRecord<outTimer::kMode_2_Register>;
  using tPersonal_Register = tRegisterRecord<outTimer::kPersonal_Register>;
  using tOutput_Control_Register = tRegisterRecord<outTimer::kOutput_Control_Register>;
  using tInterrupt1_Register = tRegisterRecord<outTimer::kInterrupt1_Register>;
  using tInterrupt2_Register = tRegisterRecord<outTimer::kInterrupt2_Register>;
  using tStatusPushingEnable_Register = tRegisterRecord<outTimer::kStatusPushingEnable_Register>;
  using tReset_Register = tRegisterRecord<outTimer::kReset_Register>;
};

}  // namespace tmr9_regmaps

// The DO map holds the timer's map right after its own records, built over
// the same accessor at the timer's base with a window that holds all of it.
template <>
struct armcore::MemberMap<tmr9_regmaps::digitalOutput::kMap> {
  using type = tmr9_regmaps::tOutTimer;
  static constexpr qvrm7_driver::u32 kBase = 0x34;
};

namespace tmr9_regmaps {

class tDO final : public armcore::RegisterMap<tDO, digitalOutput::kMap, armcore::BarPath> {
 public:
  // Where the timer's registers begin in the block.
  static constexpr u32 kOutTimerBase = armcore::MemberMap<digitalOutput::kMap>::kBase;

  using RegisterMap::RegisterMap;

  using tDO_Status_Register = tRegisterRecord<digitalOutput::kDO_Status_Register>;
  using tZELK_DIO_Enable_Register = tRegisterRecord<digitalOutput::kZELK_DIO_Enable_Register>;
  using tCDO_DMA_Select_Register = tRegisterRecord<digitalOutput::kCDO_DMA_Select_Register>;
  using tStatic_Digital_Output_Register =
      tRegisterRecord<digitalOutput::kStatic_Digital_Output_Register>;
  using tDIO_Direction_Register = tRegisterRecord<digitalOutput::kDIO_Direction_Register>;
  using tCDO_FIFO_Data_Register = tRegisterRecord<digitalOutput::kCDO_FIFO_Data_Register>;
  using tDO_Mask_Enable_Register = tRegisterRecord<digitalOutput::kDO_Mask_Enable_Register>;
  using tDO_Mode_Register = tRegisterRecord<digitalOutput::kDO_Mode_Register>;
  using tDO_Trigger_Select_Register = tRegisterRecord<digitalOutput::kDO_Trigger_Select_Register>;
  using tDO_DirectDataRegister = tRegisterRecord<digitalOutput::kDO_DirectDataRegister>;
  using tDO_MOVR_DirectDataRegister = tRegisterRecord<digitalOutput::kDO_MOVR_DirectDataRegister>;
  using tDO_WDT_SafeStateRegister = tRegisterRecord<digitalOutput::kDO_WDT_SafeStateRegister>;
  using tDO_WDT_ModeSelect1_Register = tRegisterRecord<digitalOutput::kDO_WDT_ModeSelect1_Register>;
  using tDO_WDT_ModeSelect2_Register = tRegisterRecord<digitalOutput::kDO_WDT_ModeSelect2_Register>;
  using tDO_ProgFIFO_Flag_Register = tRegisterRecord<digitalOutput::kDO_ProgFIFO_Flag_Register>;

  tOutTimer& outTimer() { return member(); }
};

// The records, the timer's map, then the accessor, base and window.
static_assert(tDO::recordsOffset() == 8);
static_assert(tDO::memberOffset() == 320 && sizeof(tOutTimer) == 440);
static_assert(tDO::accessorOffset() == 760 && tDO::baseOffset() == 768);
static_assert(sizeof(tDO) == 784);

}  // namespace tmr9_regmaps
