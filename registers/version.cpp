#include "registers/version.h"

#include "platform/debugPrint.h"
#include "platform/memory.h"
#include "platform/runtime.h"
#include "platform/statusCodes.h"

namespace qvregitools {

using qvrm7_driver::nQVWEND000::setStatus;
using qvrm7_driver::nQVWEND000::StatusSite;

namespace {

namespace codes = qvrm7_driver::nQVWEND000;

constexpr char kVersionFile[] = "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/Version";
constexpr StatusSite kTooShortSite{kVersionFile, 75};
constexpr StatusSite kBuildTooLargeSite{kVersionFile, 119};
constexpr StatusSite kOutOfRangeSite{kVersionFile, 174};
constexpr StatusSite kPhaseLetterSite{kVersionFile, 201};
constexpr StatusSite kDotlessDigitSite{kVersionFile, 228};
constexpr StatusSite kDigitExpectedSite{kVersionFile, 247};
constexpr StatusSite kDotExpectedSite{kVersionFile, 265};
constexpr StatusSite kTrailingSite{kVersionFile, 287};

constexpr char kPhaseLetters[] = "dabf";
constexpr u64 kLargestNumber = 0xFFFFFFFFu;
constexpr u64 kDotlessMinimum = 5;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads text as a dotted or a dotless version. Each step does nothing once
// the status holds an error, so the first error is the one reported.
class tVersionReader {
 public:
  tVersionReader(char const* text, tStatus& status) : text_(text), position_(0), status_(status) {}

  // A decimal number of at least one digit. Once it is too large for 32 bits
  // it stops growing instead of wrapping, so the range check sees it as too
  // large and not as whatever its low bits say.
  u64 number() {
    if (status_.isFatal()) return 0;
    if (!isDigit(text_[position_])) {
      setStatus(status_, codes::kStatusVersionText, kDigitExpectedSite);
      return 0;
    }
    u64 value = 0;
    while (isDigit(text_[position_])) {
      u64 const digit = static_cast<u64>(text_[position_++] - '0');
      if (value <= kLargestNumber) value = value * 10 + digit;
    }
    return value;
  }

  u64 singleDigit() {
    if (status_.isFatal()) return 0;
    char const c = text_[position_];
    if (!isDigit(c)) {
      setStatus(status_, codes::kStatusVersionText, kDotlessDigitSite);
      return 0;
    }
    ++position_;
    return static_cast<u64>(c - '0');
  }

  void dot() {
    if (status_.isFatal()) return;
    if (text_[position_] != '.') {
      setStatus(status_, codes::kStatusVersionText, kDotExpectedSite);
      return;
    }
    ++position_;
  }

  i64 phase() {
    if (status_.isFatal()) return 0;
    char const c = text_[position_];
    for (i64 p = 0; c != '\0' && kPhaseLetters[p] != '\0'; ++p) {
      if (kPhaseLetters[p] == c) {
        ++position_;
        return p;
      }
    }
    setStatus(status_, codes::kStatusVersionText, kPhaseLetterSite);
    return 0;
  }

  void end() {
    if (status_.isFatal()) return;
    if (text_[position_] != '\0') setStatus(status_, codes::kStatusVersionText, kTrailingSite);
  }

 private:
  char const* text_;
  u64 position_;
  tStatus& status_;
};

bool hasDot(char const* text) {
  for (; *text != '\0'; ++text) {
    if (*text == '.') return true;
  }
  return false;
}

qvrm7_driver::nQVWEND000::tStaticStorage<Version> gNoneVersion;

}  // namespace

Version::Version(u32 major, u32 minor, u32 update, Phase phase, u32 build, tStatus& status)
    : packed_(0), extendedBuild_(0) {
  if (status.isFatal()) return;
  pack(major, minor, update, phase, build, status);
}

Version::Version(char const* text, tStatus& status) : packed_(0), extendedBuild_(0) {
  if (status.isFatal()) return;
  parse(text, status);
}

void Version::pack(u64 major, u64 minor, u64 update, i64 phase, u64 build, tStatus& status) {
  if (major > 0xFF || minor > 0xF || update > 0xF || phase < 0 || phase > kPhaseFinal ||
      build > kLargestNumber) {
    setStatus(status, codes::kStatusVersionRange, kOutOfRangeSite);
    return;
  }
  u32 packed =
      static_cast<u32>(major << 24 | minor << 20 | update << 16 | static_cast<u64>(phase) << 14);
  u32 extended = 0;
  if (build <= kLargestPackedBuild) {
    packed |= static_cast<u32>(build);
  } else {
    extended = static_cast<u32>(build);
  }
  packed_ = packed;
  extendedBuild_ = extended;
}

void Version::parse(char const* text, tStatus& status) {
  if (text == nullptr || text[0] == '\0') return;
  tVersionReader reader(text, status);
  u64 major = 0;
  u64 minor = 0;
  u64 update = 0;
  if (hasDot(text)) {
    major = reader.number();
    reader.dot();
    minor = reader.number();
    reader.dot();
    update = reader.number();
  } else {
    if (codes::textLength(text) < kDotlessMinimum) {
      setStatus(status, codes::kStatusVersionText, kTooShortSite);
      return;
    }
    major = reader.singleDigit();
    minor = reader.singleDigit();
    update = reader.singleDigit();
  }
  i64 const phase = reader.phase();
  u64 const build = reader.number();
  reader.end();
  if (status.isFatal()) return;
  pack(major, minor, update, phase, build, status);
}

void Version::toString(char* buffer, tStatus& status) const {
  if (status.isFatal()) return;
  u32 const build = extendedBuild_ != 0 ? extendedBuild_ : packed_ & kLargestPackedBuild;
  (void)qvrm7_driver::qvsdbg::formatText(buffer, kTextSize, "%u.%u.%u%c%u", packed_ >> 24,
                                         packed_ >> 20 & 0xF, packed_ >> 16 & 0xF,
                                         kPhaseLetters[packed_ >> 14 & 3], build);
}

u32 Version::toUInt32(tStatus& status) const {
  if (status.isFatal()) return 0;
  if (extendedBuild_ != 0) {
    setStatus(status, codes::kStatusBuildTooLarge, kBuildTooLargeSite);
    return 0;
  }
  return packed_;
}

Version const& noneVersion() { return *gNoneVersion.get(); }

void constructNoneVersion() {
  qvrm7_driver::nQVWEND000::registerStaticDestructor(
      new (qvrm7_driver::kPlacement, gNoneVersion.get()) Version());
}

}  // namespace qvregitools
