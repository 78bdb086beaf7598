// The FPGA's base block: signature and revision, scratch, hardware timer,
// error status and clear, slot enumeration and sub-card reset, the self-test
// sine generator and ADC, relay operate and release times, the external
// trigger input and nine trigger configurations, the relay-count engine and
// the sub-card flash command interface.
#pragma once

#include "registers/registerMap.h"

namespace qvrm7_driver {

class tRM7BaseRegMap;

namespace nRM7BaseRegMap {

using namespace armcore;

// A trigger's static source: four bits, stored as given.
enum StaticSourceEnum : u8 {};

inline constexpr Field kWord[] = {bits(0, 31, 0x00, 3)};
inline constexpr Field kRevisionFields[] = {bits(0, 7, 0x00, 1), bits(8, 15, 0x04, 1),
                                            bits(16, 23, 0x02, 1), bits(24, 31, 0x06, 1)};
inline constexpr Field kErrorFields[] = {bit(8, 0x04),  bit(9, 0x24),  bit(10, 0x14), bit(11, 0x34),
                                         bit(12, 0x0C), bit(13, 0x2C), bit(17, 0x22), bit(18, 0x12),
                                         bit(19, 0x32), bit(20, 0x0A)};
inline constexpr Field kSlotFields[] = {bits(0, 5, 0x00, 1)};
inline constexpr Field kFiveBitFields[] = {bit(0, 0x00), bit(1, 0x20), bit(2, 0x10), bit(3, 0x30),
                                           bit(4, 0x08)};
inline constexpr Field kSineFields[] = {bits(0, 24, 0x00, 3)};
inline constexpr Field kStepFields[] = {bits(0, 9, 0x00, 2)};
inline constexpr Field kAdcFields[] = {bits(0, 11, 0x00, 2)};
inline constexpr Field kRelayFields[] = {bit(0, 0x00), bit(1, 0x20), bit(2, 0x10),
                                         bit(3, 0x30), bit(4, 0x08), bit(5, 0x28),
                                         bit(6, 0x18), bit(7, 0x38), bit(8, 0x04)};
inline constexpr Field kExtTrigInFields[] = {bit(8, 0x04), bit(10, 0x14)};
inline constexpr Field kTrigConfigFields[] = {bits(0, 3, 0x00, 1), bit(4, 0x08), bit(5, 0x28),
                                              bit(8, 0x04), bit(9, 0x24)};
inline constexpr Field kRelayCountFields[] = {
    bit(0, 0x00),  bit(1, 0x20),          bit(2, 0x10),         bit(3, 0x30),  bit(4, 0x08),
    bit(8, 0x04),  bit(9, 0x24),          bit(10, 0x14),        bit(11, 0x34), bit(12, 0x0C),
    bit(13, 0x2C), bits(16, 20, 0x02, 1), bits(25, 29, 0x26, 1)};
inline constexpr Field kFlashControlFields[] = {bits(0, 1, 0x00, 1), bit(2, 0x10), bit(31, 0x3E)};
inline constexpr Field kSlotAndAddrFields[] = {bits(0, 23, 0x00, 3), bits(24, 27, 0x06, 1)};
inline constexpr Field kSwCommandFields[] = {bits(0, 3, 0x00, 1), bits(16, 23, 0x02, 1)};
inline constexpr Field kSwResultsFields[] = {bit(0, 0x00), bit(1, 0x20), bit(2, 0x10), bit(3, 0x30),
                                             bits(16, 23, 0x02, 1)};

// Register classes: access, fields, strobe bits, and the -52006 lines of
// their refresh and flush.
inline constexpr RegisterClass kSignature{
    .access = kReadWrite, .fields = kWord, .refreshLine = 1667, .flushLine = 1643};
inline constexpr RegisterClass kRevision{
    .access = kRead, .fields = kRevisionFields, .refreshLine = 1778};
inline constexpr RegisterClass kScratch{
    .access = kReadWrite, .fields = kWord, .refreshLine = 1960, .flushLine = 1936};
inline constexpr RegisterClass kHardwareTimer{
    .access = kRead, .fields = kWord, .refreshLine = 2071};
inline constexpr RegisterClass kImmediateErrorStatus{
    .access = kRead, .fields = kErrorFields, .refreshLine = 2167};
inline constexpr RegisterClass kStickyErrorStatus{
    .access = kRead, .fields = kErrorFields, .refreshLine = 2407};
inline constexpr RegisterClass kStickyErrorClear{
    .access = kWrite, .fields = kErrorFields, .strobe = 0x001E3F00, .flushLine = 2660};
inline constexpr RegisterClass kSubCardResetAssert{
    .access = kWrite, .fields = kSlotFields, .strobe = 0x3F, .flushLine = 2994};
inline constexpr RegisterClass kSubCardResetClear{
    .access = kWrite, .fields = kSlotFields, .strobe = 0x3F, .flushLine = 3112};
inline constexpr RegisterClass kSlotEnumeration{
    .access = kRead, .fields = kSlotFields, .refreshLine = 3217};
inline constexpr RegisterClass kSelfTestControl{
    .access = kWrite, .fields = kFiveBitFields, .strobe = 0x1F, .flushLine = 3326};
inline constexpr RegisterClass kSelfTestStatus{
    .access = kRead, .fields = kFiveBitFields, .refreshLine = 3527};
inline constexpr RegisterClass kSineAmp{
    .access = kReadWrite, .fields = kSineFields, .refreshLine = 3724, .flushLine = 3700};
inline constexpr RegisterClass kRadiansPerStep{
    .access = kReadWrite, .fields = kSineFields, .refreshLine = 3872, .flushLine = 3848};
inline constexpr RegisterClass kNumStepsStored{
    .access = kReadWrite, .fields = kStepFields, .refreshLine = 4020, .flushLine = 3996};
inline constexpr RegisterClass kAdcVoltage{
    .access = kRead, .fields = kAdcFields, .refreshLine = 4131};
inline constexpr RegisterClass kSelfTestRelayCntl{
    .access = kWrite, .fields = kRelayFields, .flushLine = 4240};
inline constexpr RegisterClass kSelfTestRelayState{
    .access = kRead, .fields = kRelayFields, .refreshLine = 4537};
inline constexpr RegisterClass kGainCalRelayOpTime{
    .access = kReadWrite, .fields = kWord, .refreshLine = 4798, .flushLine = 4774};
inline constexpr RegisterClass kGainCalRelayRelTime{
    .access = kReadWrite, .fields = kWord, .refreshLine = 4946, .flushLine = 4922};
inline constexpr RegisterClass kPortRelayOpTime{
    .access = kReadWrite, .fields = kWord, .refreshLine = 5094, .flushLine = 5070};
inline constexpr RegisterClass kPortRelayRelTime{
    .access = kReadWrite, .fields = kWord, .refreshLine = 5242, .flushLine = 5218};
inline constexpr RegisterClass kExtTrigInConfig{
    .access = kReadWrite, .fields = kExtTrigInFields, .refreshLine = 5390, .flushLine = 5366};
inline constexpr RegisterClass kTrigConfig{
    .access = kReadWrite, .fields = kTrigConfigFields, .refreshLine = 5569, .flushLine = 5545};
inline constexpr RegisterClass kRelayCountConfigStatus{.access = kReadWrite,
                                                       .fields = kRelayCountFields,
                                                       .strobe = 0x1F,
                                                       .readViewAlias = true,
                                                       .refreshLine = 5849,
                                                       .flushLine = 5825};
inline constexpr RegisterClass kRelayCountSlotSuccess{
    .access = kRead, .fields = kSlotFields, .refreshLine = 6297};
inline constexpr RegisterClass kSubCardFlashStatusError{
    .access = kRead, .fields = kSlotFields, .refreshLine = 6393};
inline constexpr RegisterClass kSubCardFlashControl{.access = kReadWrite,
                                                    .fields = kFlashControlFields,
                                                    .strobe = 0x80000004,
                                                    .readViewAlias = true,
                                                    .refreshLine = 6526,
                                                    .flushLine = 6502};
inline constexpr RegisterClass kFlashSwSlotAndAddr{
    .access = kReadWrite, .fields = kSlotAndAddrFields, .refreshLine = 6722, .flushLine = 6698};
inline constexpr RegisterClass kFlashSwCommand{
    .access = kWrite, .fields = kSwCommandFields, .flushLine = 6877};
inline constexpr RegisterClass kFlashSwResults{
    .access = kRead, .fields = kSwResultsFields, .refreshLine = 7006};

// In declaration order, with the -52019 line of each whole ID.
inline constexpr Register kRegisters[] = {
    {.offset = 0x00, .type = &kSignature, .formatLine = 9287},
    {.offset = 0x04, .type = &kRevision, .formatLine = 9296},
    {.offset = 0x08, .type = &kRevision, .formatLine = 9311},
    {.offset = 0x0C, .type = &kScratch, .formatLine = 9326},
    {.offset = 0x10, .type = &kHardwareTimer, .formatLine = 9335},
    {.offset = 0x14, .type = &kImmediateErrorStatus, .formatLine = 9344},
    {.offset = 0x18, .type = &kStickyErrorStatus, .formatLine = 9371},
    {.offset = 0x1C, .type = &kStickyErrorClear, .formatLine = 9398},
    {.offset = 0x60, .type = &kSubCardResetAssert, .formatLine = 9425},
    {.offset = 0x64, .type = &kSubCardResetClear, .formatLine = 9434},
    {.offset = 0x68, .type = &kSlotEnumeration, .formatLine = 9443},
    {.offset = 0x20, .type = &kSelfTestControl, .formatLine = 9452},
    {.offset = 0x24, .type = &kSelfTestStatus, .formatLine = 9469},
    {.offset = 0x28, .type = &kSineAmp, .formatLine = 9486},
    {.offset = 0x2C, .type = &kRadiansPerStep, .formatLine = 9495},
    {.offset = 0x30, .type = &kNumStepsStored, .formatLine = 9504},
    {.offset = 0x34, .type = &kAdcVoltage, .formatLine = 9513},
    {.offset = 0x38, .type = &kSelfTestRelayCntl, .formatLine = 9522},
    {.offset = 0x3C, .type = &kSelfTestRelayState, .formatLine = 9547},
    {.offset = 0x40, .type = &kGainCalRelayOpTime, .formatLine = 9572},
    {.offset = 0x44, .type = &kGainCalRelayRelTime, .formatLine = 9581},
    {.offset = 0x48, .type = &kPortRelayOpTime, .formatLine = 9590},
    {.offset = 0x4C, .type = &kPortRelayRelTime, .formatLine = 9599},
    {.offset = 0xC8, .type = &kExtTrigInConfig, .formatLine = 9608},
    {.offset = 0xCC, .type = &kTrigConfig, .formatLine = 9619},
    {.offset = 0xD0, .type = &kTrigConfig, .formatLine = 9636},
    {.offset = 0xD4, .type = &kTrigConfig, .formatLine = 9653},
    {.offset = 0xD8, .type = &kTrigConfig, .formatLine = 9670},
    {.offset = 0xDC, .type = &kTrigConfig, .formatLine = 9687},
    {.offset = 0xE0, .type = &kTrigConfig, .formatLine = 9704},
    {.offset = 0xE4, .type = &kTrigConfig, .formatLine = 9721},
    {.offset = 0xE8, .type = &kTrigConfig, .formatLine = 9738},
    {.offset = 0xEC, .type = &kTrigConfig, .formatLine = 9755},
    {.offset = 0x70, .type = &kRelayCountConfigStatus, .formatLine = 9772, .readFormatLine = 9805},
    {.offset = 0x74, .type = &kRelayCountSlotSuccess, .formatLine = 9828},
    {.offset = 0x78, .type = &kSubCardFlashStatusError, .formatLine = 9837},
    {.offset = 0x7C, .type = &kSubCardFlashControl, .formatLine = 9846, .readFormatLine = 9859},
    {.offset = 0x80, .type = &kFlashSwSlotAndAddr, .formatLine = 9868},
    {.offset = 0x84, .type = &kFlashSwCommand, .formatLine = 9879},
    {.offset = 0x88, .type = &kFlashSwResults, .formatLine = 9890},
};

inline constexpr char kFile[] = "armgen/RM7BaseRegMap";
inline constexpr MapDescription kMap{
    .file = kFile,
    .version = "22.8.0f141",
    .oldestCompatibleVersion = "22.8.0f141",
    .sites = sitesIn(kFile, 7770, 8176, 8650, 9057, 9156, 9272, 9906),
    .registers = kRegisters};

// A trigger configuration: its static source and four drive and input bits.
class tTrigConfigRegType : public tRegisterRecord<tRM7BaseRegMap, kMap, kTrigConfig> {
 public:
  void writeTrigStaticSource(StaticSourceEnum source, tStatus& status, bool force) {
    writeField<0>(source, status, force);
  }
  void writeLowDrive(bool on, tStatus& status, bool force) { writeField<4>(on, status, force); }
  void writeHighDrive(bool on, tStatus& status, bool force) { writeField<5>(on, status, force); }
  void writePolarity(bool on, tStatus& status, bool force) { writeField<8>(on, status, force); }
  void writeFilterOff(bool on, tStatus& status, bool force) { writeField<9>(on, status, force); }
  bool readLowDrive(tStatus& status) { return readField<4>(status); }
  bool readHighDrive(tStatus& status) { return readField<5>(status); }
  bool readPolarity(tStatus& status) { return readField<8>(status); }
  bool readFilterOff(tStatus& status) { return readField<9>(status); }
};

}  // namespace nRM7BaseRegMap

class tRM7BaseRegMap final
    : public armcore::RegisterMap<tRM7BaseRegMap, nRM7BaseRegMap::kMap, armcore::BarPath,
                                  nRM7BaseRegMap::tTrigConfigRegType> {
 public:
  using RegisterMap::RegisterMap;
  ~tRM7BaseRegMap() override;

  using tSignatureReg = tRegisterRecord<nRM7BaseRegMap::kSignature>;
  using tRevisionRegType = tRegisterRecord<nRM7BaseRegMap::kRevision>;
  using tScratchReg = tRegisterRecord<nRM7BaseRegMap::kScratch>;
  using tHardwareTimerReg = tRegisterRecord<nRM7BaseRegMap::kHardwareTimer>;
  using tImmediateErrorStatusReg = tRegisterRecord<nRM7BaseRegMap::kImmediateErrorStatus>;
  using tStickyErrorStatusReg = tRegisterRecord<nRM7BaseRegMap::kStickyErrorStatus>;
  using tStickyErrorClearReg = tRegisterRecord<nRM7BaseRegMap::kStickyErrorClear>;
  using tSubCardResetAssertReg = tRegisterRecord<nRM7BaseRegMap::kSubCardResetAssert>;
  using tSubCardResetClearReg = tRegisterRecord<nRM7BaseRegMap::kSubCardResetClear>;
  using tSlotEnumerationReg = tRegisterRecord<nRM7BaseRegMap::kSlotEnumeration>;
  using tSelfTestControlReg = tRegisterRecord<nRM7BaseRegMap::kSelfTestControl>;
  using tSelfTestStatusReg = tRegisterRecord<nRM7BaseRegMap::kSelfTestStatus>;
  using tSineAmpReg = tRegisterRecord<nRM7BaseRegMap::kSineAmp>;
  using tRadiansPerStepReg = tRegisterRecord<nRM7BaseRegMap::kRadiansPerStep>;
  using tNumStepsStoredReg = tRegisterRecord<nRM7BaseRegMap::kNumStepsStored>;
  using tAdcVoltageReg = tRegisterRecord<nRM7BaseRegMap::kAdcVoltage>;
  using tSelfTestRelayCntlReg = tRegisterRecord<nRM7BaseRegMap::kSelfTestRelayCntl>;
  using tSelfTestRelayStateReg = tRegisterRecord<nRM7BaseRegMap::kSelfTestRelayState>;
  using tGainCalRelayOpTimeReg = tRegisterRecord<nRM7BaseRegMap::kGainCalRelayOpTime>;
  using tGainCalRelayRelTimeReg = tRegisterRecord<nRM7BaseRegMap::kGainCalRelayRelTime>;
  using tPortRelayOpTimeReg = tRegisterRecord<nRM7BaseRegMap::kPortRelayOpTime>;
  using tPortRelayRelTimeReg = tRegisterRecord<nRM7BaseRegMap::kPortRelayRelTime>;
  using tExtTrigInConfigReg = tRegisterRecord<nRM7BaseRegMap::kExtTrigInConfig>;
  using tTrigConfigRegType = nRM7BaseRegMap::tTrigConfigRegType;
  using tRelayCountConfigStatusReg = tRegisterRecord<nRM7BaseRegMap::kRelayCountConfigStatus>;
  using tRelayCountSlotSuccessReg = tRegisterRecord<nRM7BaseRegMap::kRelayCountSlotSuccess>;
  using tSubCardFlashStatusErrorReg = tRegisterRecord<nRM7BaseRegMap::kSubCardFlashStatusError>;
  using tSubCardFlashControlReg = tRegisterRecord<nRM7BaseRegMap::kSubCardFlashControl>;
  using tFlashSwSlotAndAddrReg = tRegisterRecord<nRM7BaseRegMap::kFlashSwSlotAndAddr>;
  using tFlashSwCommandReg = tRegisterRecord<nRM7BaseRegMap::kFlashSwCommand>;
  using tFlashSwResultsReg = tRegisterRecord<nRM7BaseRegMap::kFlashSwResults>;

  // The records that the controllers, the pollers and the signature check use.
  tSignatureReg& signature() { return recordFor<0x80000000>(); }
  tImmediateErrorStatusReg& immediateErrorStatus() { return recordFor<0xC0000014>(); }
  tSelfTestStatusReg& selfTestStatus() { return recordFor<0xC0000024>(); }
  template <u32 Trigger>  // 0 to 8
  tTrigConfigRegType& trigConfig() {
    static_assert(Trigger < 9);
    return recordFor<0x800000CC + 4 * Trigger>();
  }
  tRelayCountConfigStatusReg& relayCountConfigStatus() { return recordFor<0x80000070>(); }
  tSubCardFlashControlReg& subCardFlashControl() { return recordFor<0x8000007C>(); }
  tFlashSwResultsReg& flashSwResults() { return recordFor<0xC0000088>(); }
};

}  // namespace qvrm7_driver
