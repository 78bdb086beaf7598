// The version word of the registration library: major, minor, update, phase
// and build packed in 32 bits, with a second word for a build too large for
// the 14 bits it has there. Maps report their versions as text; callers name
// a version as a suffix of a registration name.
#pragma once

#include "platform/status.h"
#include "platform/types.h"

namespace qvregitools {

using nQVWENDS100::tStatus;
using qvrm7_driver::i64;
using qvrm7_driver::u32;
using qvrm7_driver::u64;

class Version {
 public:
  // d < a < b < f, as the comparisons order them.
  enum Phase : qvrm7_driver::i32 {
    kPhaseDevelopment = 0,
    kPhaseAlpha = 1,
    kPhaseBeta = 2,
    kPhaseFinal = 3,
  };

  // Room toString needs, terminator included; the longest text fits.
  static constexpr u64 kTextSize = 32;
  // The largest build the packed word holds itself.
  static constexpr u32 kLargestPackedBuild = 0x3FFF;

  constexpr Version() : packed_(0), extendedBuild_(0) {}
  constexpr explicit Version(u32 packedWord) : packed_(packedWord), extendedBuild_(0) {}
  // 0.0.0d0 when a part is out of range (-240026) or the status failed.
  Version(u32 major, u32 minor, u32 update, Phase phase, u32 build, tStatus& status);
  // Dotted ("22.8.0f141") or dotless ("100d1") text; a null or empty text is
  // 0.0.0d0. Any error (-240008, -240026) leaves 0.0.0d0.
  Version(char const* text, tStatus& status);

  friend bool operator==(Version const& a, Version const& b) {
    return a.packed_ == b.packed_ && a.extendedBuild_ == b.extendedBuild_;
  }
  friend bool operator!=(Version const& a, Version const& b) { return !(a == b); }
  // The packed word decides first, so a build held in the extended word
  // counts for less than any build in the packed word.
  friend bool operator<(Version const& a, Version const& b) {
    return a.packed_ < b.packed_ || (a.packed_ == b.packed_ && a.extendedBuild_ < b.extendedBuild_);
  }
  friend bool operator>(Version const& a, Version const& b) { return b < a; }

  // "%u.%u.%u%c%u" into at most kTextSize bytes.
  void toString(char* buffer, tStatus& status) const;
  // The packed word; 0 and -240046 when the build lives in the extended word.
  u32 toUInt32(tStatus& status) const;

  u32 packedWord() const { return packed_; }
  u32 extendedBuild() const { return extendedBuild_; }

 private:
  // Wider than the words they land in, so that no number is cut short on its
  // way to the range check.
  void pack(u64 major, u64 minor, u64 update, i64 phase, u64 build, tStatus& status);
  void parse(char const* text, tStatus& status);

  u32 packed_;
  u32 extendedBuild_;
};
static_assert(sizeof(Version) == 8);

// 0.0.0d0: what a name without a version suffix asks for. Built by the
// driver's constructor table.
Version const& noneVersion();
void constructNoneVersion();

}  // namespace qvregitools
