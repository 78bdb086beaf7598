// Small register maps described as the driver's maps are, carrying every
// variant the core supports: 8-, 16- and 32-bit records, a register
// without shadow, strobe bits, a read-view alias, two records at one offset,
// an array, a member map, and a map of 1536 registers.
#pragma once

#include <cstdint>

#include "registers/registerMap.h"

namespace testmaps {

using namespace armcore;

inline constexpr char kTestFile[] = "test/TestRegMap";

inline constexpr Field kControlFields[] = {bits(0, 1, 0x00, 1), bit(2, 0x10), bits(8, 15, 0x04, 1),
                                           bit(31, 0x3E)};
inline constexpr Field kStatusFields[] = {bits(0, 7, 0x00, 1), bit(16, 0x02)};
inline constexpr Field kCommandFields[] = {bit(24, 0x06)};
inline constexpr Field kByteFields[] = {bit(0), bits(4, 7, 0x08, 1)};
inline constexpr Field kHalfFields[] = {bit(0), bits(8, 15, 0x04, 1)};
inline constexpr Field kWholeFields[] = {bits(0, 31, 0x00, 3)};
inline constexpr Field kCountFields[] = {bits(0, 15, 0x00, 2)};
inline constexpr RegisterClass kControlClass{.access = kReadWrite,
                                             .fields = kControlFields,
                                             .strobe = 0x80000004,
                                             .readViewAlias = true,
                                             .refreshLine = 100,
                                             .flushLine = 101};
inline constexpr RegisterClass kStatusClass{
    .access = kRead, .fields = kStatusFields, .refreshLine = 102};
inline constexpr RegisterClass kCommandClass{
    .access = kWrite, .fields = kCommandFields, .strobe = 0x01000000, .flushLine = 103};
inline constexpr RegisterClass kByteClass{
    .access = kWrite, .width = 8, .fields = kByteFields, .flushLine = 104};
inline constexpr RegisterClass kHalfClass{
    .access = kWrite, .width = 16, .fields = kHalfFields, .reset = 0x1, .flushLine = 105};
inline constexpr RegisterClass kFifoClass{
    .access = kWrite, .fields = kWholeFields, .shadow = false, .flushLine = 106};
inline constexpr RegisterClass kScratchClass{
    .access = kReadWrite, .fields = kWholeFields, .refreshLine = 107, .flushLine = 108};
inline constexpr RegisterClass kCountClass{
    .access = kReadWrite, .fields = kCountFields, .refreshLine = 109, .flushLine = 110};

inline constexpr Register kTestRegisters[] = {
    {.offset = 0x00, .type = &kControlClass, .formatLine = 200, .readFormatLine = 201},
    {.offset = 0x04, .type = &kStatusClass, .formatLine = 202},
    {.offset = 0x04, .type = &kCommandClass, .formatLine = 203},
    {.offset = 0x08, .type = &kByteClass, .formatLine = 204},
    {.offset = 0x0A, .type = &kHalfClass, .formatLine = 205},
    {.offset = 0x0C, .type = &kFifoClass, .formatLine = 206},
    {.offset = 0x10, .type = &kScratchClass, .formatLine = 207},
    {.offset = 0x20, .type = &kCountClass, .formatLine = 208, .count = 4, .stride = 4},
};
inline constexpr MapDescription kTestMap{.file = kTestFile,
                                         .version = "1.2.3f4",
                                         .oldestCompatibleVersion = "1.0.0f1",
                                         .sites = sitesIn(kTestFile, 10, 11, 12, 13, 14, 15, 16),
                                         .registers = kTestRegisters};

class tTestRegMap;
class tControlReg : public tRegisterRecord<tTestRegMap, kTestMap, kControlClass> {};

class tTestRegMap final : public RegisterMap<tTestRegMap, kTestMap, BarPath, tControlReg> {
 public:
  using RegisterMap::RegisterMap;
  tControlReg& control() { return record<0>(); }
  auto& status() { return recordFor<0xC0000004>(); }
  auto& fifo() { return recordFor<0x8000000C>(); }
  auto& count(u32 index) { return record<7>(index); }
};

// A map whose whole-map operations carry on into a member map.
inline constexpr char kParentFile[] = "test/ParentRegMap";
inline constexpr Register kParentRegisters[] = {
    {.offset = 0, .type = &kScratchClass, .formatLine = 300}};
inline constexpr MapDescription kParentMap{
    .file = kParentFile,
    .version = "1.0.0d1",
    .oldestCompatibleVersion = "1.0.0d1",
    .sites = sitesIn(kParentFile, 20, 21, 22, 23, 24, 25, 26),
    .registers = kParentRegisters};

}  // namespace testmaps

template <>
struct armcore::MemberMap<testmaps::kParentMap> {
  using type = testmaps::tTestRegMap;
  static constexpr qvrm7_driver::u32 kBase = 0x40;
};

namespace testmaps {

class tParentRegMap final : public RegisterMap<tParentRegMap, kParentMap, BarPath> {
 public:
  using RegisterMap::RegisterMap;
};

// 512 words of four 3-bit fields, then 1024 counters: 1536 registers.
inline constexpr char kLargeFile[] = "test/LargeRegMap";
inline constexpr Field kStateFields[] = {bits(0, 2, 0x00, 1), bits(3, 5, 0x30, 1),
                                         bits(6, 8, 0x18, 1), bits(9, 11, 0x24, 1)};
inline constexpr RegisterClass kStateClass{
    .access = kReadWrite, .fields = kStateFields, .refreshLine = 379, .flushLine = 355};
inline constexpr RegisterClass kCounterClass{
    .access = kReadWrite, .fields = kWholeFields, .refreshLine = 620, .flushLine = 596};
inline constexpr Register kLargeRegisters[] = {
    {.offset = 0x0000, .type = &kStateClass, .formatLine = 500, .count = 512, .stride = 4},
    {.offset = 0x1000, .type = &kCounterClass, .formatLine = 501, .count = 1024, .stride = 4},
};
inline constexpr MapDescription kLargeMap{.file = kLargeFile,
                                          .version = "22.8.0f141",
                                          .oldestCompatibleVersion = "22.8.0f141",
                                          .sites = sitesIn(kLargeFile, 40, 41, 42, 43, 44, 45, 46),
                                          .registers = kLargeRegisters};

class tLargeRegMap final : public RegisterMap<tLargeRegMap, kLargeMap, BarPath> {
 public:
  using RegisterMap::RegisterMap;
};

}  // namespace testmaps
