#include "registers/dispatcher.h"

#include "platform/memory.h"
#include "platform/statusCodes.h"
#include "platform/userBuffer.h"

namespace qvregitools {

using qvrm7_driver::nQVWEND000::setStatus;
using qvrm7_driver::nQVWEND000::StatusSite;

namespace {

namespace codes = qvrm7_driver::nQVWEND000;

#define QVREGITOOLS_HEADER(name) "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/" name

constexpr char kRegistrationFile[] = QVREGITOOLS_HEADER("Registration");
constexpr StatusSite kVersionRequiredSite{kRegistrationFile, 82};
constexpr StatusSite kNotVersionedSite{kRegistrationFile, 96};
constexpr StatusSite kVersionTooOldSite{kRegistrationFile, 114};
constexpr StatusSite kVersionNewerSite{kRegistrationFile, 121};

constexpr char kDispatcherBaseFile[] = QVREGITOOLS_HEADER("DispatcherBase");
constexpr StatusSite kBaseNotRemovedSite{kDispatcherBaseFile, 115};
constexpr StatusSite kNotFoundSite{kDispatcherBaseFile, 151};
constexpr StatusSite kNoNamesBufferSite{kDispatcherBaseFile, 179};
constexpr StatusSite kNullNameSite{kDispatcherBaseFile, 264};

constexpr char kWrapperDispatcherFile[] = QVREGITOOLS_HEADER("WrapperDispatcher");
constexpr StatusSite kRemoveNullNameSite{kWrapperDispatcherFile, 91};
constexpr StatusSite kNotRemovedSite{kWrapperDispatcherFile, 98};

constexpr char kDispatcherFile[] = QVREGITOOLS_HEADER("Dispatcher");
constexpr StatusSite kUserNameTooLongSite{kDispatcherFile, 58};

#undef QVREGITOOLS_HEADER

constexpr char kVersionMark[] = "_Ver";
constexpr u64 kVersionMarkLength = sizeof kVersionMark - 1;
constexpr char kListSeparator = '\t';

// Where the first "_Ver" starts, or where the text ends when it has none:
// the length of the base name, found in one pass that stops there. The rest
// of the mark is looked at only after an underscore, so nothing past the
// terminator is read.
u64 baseNameLength(char const* name) {
  static_assert(kVersionMarkLength == 4);
  for (u64 i = 0;; ++i) {
    char const c = name[i];
    if (c == '\0') return i;
    if (c == kVersionMark[0] && name[i + 1] == kVersionMark[1] && name[i + 2] == kVersionMark[2] &&
        name[i + 3] == kVersionMark[3])
      return i;
  }
}

u64 loadWord(char const* at) {
  u64 word;
  __builtin_memcpy(&word, at, sizeof word);
  return word;
}

// Whether the n bytes at a and at b are the same, a word at a time; the last
// word overlaps the one before it rather than reading past n.
bool sameBytes(char const* a, char const* b, u64 n) {
  constexpr u64 kWord = sizeof(u64);
  if (n < kWord) {
    for (u64 i = 0; i < n; ++i)
      if (a[i] != b[i]) return false;
    return true;
  }
  for (u64 i = 0; i + kWord < n; i += kWord)
    if (loadWord(a + i) != loadWord(b + i)) return false;
  return loadWord(a + n - kWord) == loadWord(b + n - kWord);
}

u64 userAddress(void* user) { return static_cast<u64>(reinterpret_cast<uintptr_t>(user)); }

}  // namespace

void Registration::operator delete(void* object) { codes::operatorDelete(object); }

void Registration::checkVersion(Version requested, tStatus& status) const {
  if (status.isFatal()) return;
  if (requested == noneVersion()) {
    if (supportsVersioning_ != 0)
      setStatus(status, codes::kStatusVersionRequired, kVersionRequiredSite);
    return;
  }
  if (supportsVersioning_ == 0) {
    setStatus(status, codes::kStatusNotVersioned, kNotVersionedSite);
  } else if (requested < oldestCompatibleVersion_) {
    setStatus(status, codes::kStatusVersionTooOld, kVersionTooOldSite);
  } else if (requested > version_) {
    setStatus(status, codes::kStatusVersionNewer, kVersionNewerSite);
  }
}

void Registration::nameOwnRequest(char const* name, char const* versionText) {
  ownRequestSize_ = 0;
  if (name == nullptr || versionText == nullptr) return;
  u64 const base = baseNameLength(name);
  if (name[base] != '\0') return;
  u64 const text = codes::textLength(versionText);
  if (base + kVersionMarkLength + text > kOwnRequestSize) return;
  // Made while the registry is filled, so byte by byte, without asking the
  // layer.
  char const* const parts[] = {name, kVersionMark, versionText};
  char* at = ownRequest_;
  for (char const* part : parts)
    for (char const* c = part; *c != '\0'; ++c) *at++ = *c;
  ownRequestBaseSize_ = static_cast<u8>(base);
  ownRequestSize_ = static_cast<u8>(base + kVersionMarkLength + text);
  // The registration's version is the one its own request names.
  ownRequestAccepted_ = version_ != noneVersion() && !(version_ < oldestCompatibleVersion_);
}

void Registration::checkOwnVersion(tStatus& status) const {
  if (!ownRequestAccepted_) checkVersion(version_, status);
}

bool Registration::isOwnRequest(char const* name, u64 size) const {
  return ownRequestSize_ != 0 && size == ownRequestSize_ && sameBytes(ownRequest_, name, size);
}

void Registration::keepOwnRequestFor(char const* name, u64 length) {
  if (length != ownRequestBaseSize_ || !sameBytes(ownRequest_, name, length)) ownRequestSize_ = 0;
}

namespace detail {

u64 RegistryCore::find(char const* name) const { return find(name, codes::textLength(name)); }

// Names of another length are passed over without a look at their bytes.
u64 RegistryCore::find(char const* name, u64 length) const {
  for (u64 i = 0; i < entries_.size(); ++i) {
    qvhtl::String const& entry = entries_[i].first;
    if (entry.size() == length && sameBytes(entry.data(), name, length)) return i;
  }
  return entries_.size();
}

void RegistryCore::append(char const* name, Registration& registration, tStatus& status) {
  if (status.isFatal()) return;
  if (name == nullptr) {
    setStatus(status, codes::kStatusNullName, kNullNameSite);
    return;
  }
  u64 const length = codes::textLength(name);
  tEntry entry;
  entry.first.assign(name, length, status);
  entry.second = &registration;
  u64 const end = entries_.size();
  bool const repeated = find(name, length) != end;
  entries_.insert_(end, 1, status);
  if (status.isFatal()) return;
  entries_[end].swap(entry);
  entries_.incrementSize(1);
  registration.keepOwnRequestFor(name, length);
  if (repeated) namesDistinct_ = false;
}

bool RegistryCore::someNameRepeats() const {
  for (u64 i = 1; i < entries_.size(); ++i) {
    qvhtl::String const& name = entries_[i].first;
    if (find(name.data(), name.size()) != i) return true;
  }
  return false;
}

void RegistryCore::erase(u64 index) {
  entries_.erase(index);
  if (!namesDistinct_) namesDistinct_ = !someNameRepeats();
}

Registration* RegistryCore::unlink(char const* name) {
  if (name == nullptr) return nullptr;
  u64 const index = find(name);
  if (index == entries_.size()) return nullptr;
  Registration* const registration = entries_[index].second;
  erase(index);
  return registration;
}

Registration* RegistryCore::unlinkOrReport(char const* name, tStatus& status) {
  if (status.isFatal()) return nullptr;
  if (name == nullptr) {
    setStatus(status, codes::kStatusNullName, kNullNameSite);
    return nullptr;
  }
  Registration* const registration = unlink(name);
  if (registration == nullptr)
    setStatus(status, codes::kStatusRegistrationNotFound, kBaseNotRemovedSite);
  return registration;
}

void RegistryCore::removeAndDelete(char const* name, tStatus& status) {
  if (name == nullptr) {
    setStatus(status, codes::kStatusNullName, kRemoveNullNameSite);
    return;
  }
  Registration* const registration = unlink(name);
  if (registration == nullptr) {
    setStatus(status, codes::kStatusRegistrationNotFound, kNotRemovedSite);
    return;
  }
  delete registration;
}

void RegistryCore::deleteAll() {
  while (!entries_.empty()) {
    Registration* const registration = entries_[0].second;
    erase(0);
    delete registration;
  }
}

Registration* RegistryCore::lookUp(char const* name, tStatus& status) const {
  if (status.isFatal()) return nullptr;
  if (name == nullptr) {
    setStatus(status, codes::kStatusNullName, kNullNameSite);
    return nullptr;
  }
  u64 const mark = baseNameLength(name);
  Version requested;
  if (name[mark] != '\0') {
    requested = Version(name + mark + kVersionMarkLength, status);
    if (status.isFatal()) return nullptr;
  }
  u64 const index = find(name, mark);
  if (index == entries_.size()) {
    setStatus(status, codes::kStatusRegistrationNotFound, kNotFoundSite);
    return nullptr;
  }
  Registration* const registration = entries_[index].second;
  registration->checkVersion(requested, status);
  return status.isFatal() ? nullptr : registration;
}

// The first entry whose registration the name is the own request of, when
// the general way finds that entry too: no earlier entry has the entry's
// name, which append made sure is the request's base name. The base name
// holds no "_Ver" and the request nothing after it but the version text, so
// the general way splits the request right after it, finds that entry and
// parses the text the registration's version was parsed from.
u64 RegistryCore::findOwnRequest(char const* name, u64 size) const {
  u64 const end = entries_.size();
  for (u64 i = 0; i < end; ++i) {
    Registration const& registration = *entries_[i].second;
    if (!registration.isOwnRequest(name, size)) continue;
    return namesDistinct_ || find(name, registration.ownRequestBaseSize()) == i ? i : end;
  }
  return end;
}

Registration* RegistryCore::lookUp(char const* name, u64 size, tStatus& status) const {
  if (status.isFatal()) return nullptr;
  u64 const index = findOwnRequest(name, size);
  if (index == entries_.size()) return lookUp(name, status);
  Registration* const registration = entries_[index].second;
  registration->checkOwnVersion(status);
  return status.isFatal() ? nullptr : registration;
}

void RegistryCore::fillNames(char* buffer, tStatus& status) const {
  if (status.isFatal()) return;
  if (buffer == nullptr) {
    setStatus(status, codes::kStatusNullName, kNoNamesBufferSite);
    return;
  }
  for (u64 i = 0; i < entries_.size(); ++i) {
    qvhtl::String const& name = entries_[i].first;
    // The terminator too, but never past the slot: a name that fills the
    // slot has none.
    u64 const bytes = name.size() < kNameSlotSize ? name.size() + 1 : kNameSlotSize;
    codes::copyMemory(buffer + kNameSlotSize * i, name.c_str(), bytes);
  }
}

// A tab goes in only after text: an empty first name gives no tab.
u64 RegistryCore::listSize() const {
  u64 size = 0;
  for (u64 i = 0; i < entries_.size(); ++i) {
    if (size != 0) ++size;
    size += entries_[i].first.size();
  }
  return size + 1;
}

void RegistryCore::buildList(qvhtl::String& out, tStatus& status) const {
  tStatus clean;
  out.assign("", 0, clean);
  for (u64 i = 0; i < entries_.size(); ++i) {
    if (!out.empty()) {
      char const separator = kListSeparator;
      out.append(&separator, &separator + 1, status);
    }
    out.append(entries_[i].first, status);
  }
}

void RegistryCore::copyIn(tEventDescriptor const& context, void* user, u64 size,
                          unsigned char* dest, tStatus& status) {
  codes::tUserBuffer(context, userAddress(user), size).read(0, dest, size, status);
}

void RegistryCore::copyNamesOut(tEventDescriptor const& context, void* user,
                                tStatus& status) const {
  if (status.isFatal()) return;
  if (entries_.empty()) {
    fillNames(nullptr, status);
    return;
  }
  u64 const bytes = entries_.size() * kNameSlotSize;
  auto* const names = static_cast<char*>(codes::operatorNewFlagged(bytes, status, 0));
  if (names == nullptr) return;
  codes::fillMemory(names, 0, bytes);
  fillNames(names, status);
  codes::tUserBuffer(context, userAddress(user), bytes).write(0, names, bytes, status);
  codes::operatorDelete(names);
}

void RegistryCore::copyListOut(tEventDescriptor const& context, void* user, tStatus& status) const {
  if (status.isFatal()) return;
  qvhtl::String list;
  buildList(list, status);
  if (list.empty()) return;
  codes::tUserBuffer(context, userAddress(user), list.size())
      .write(0, list.c_str(), list.size(), status);
}

tUserName::tUserName(tEventDescriptor const& context, void* user, u64 size, tStatus& status)
    : text_(nullptr) {
  if (status.isFatal()) return;
  // Refused before anything is allocated: the size is the caller's, and one
  // that fills 64 bits would make size + 1 wrap to nothing.
  if (size > kLargestUserNameSize) {
    setStatus(status, codes::kStatusBadArgument, kUserNameTooLongSite);
    return;
  }
  // Every register request names its map: a name that fits, as every
  // registered one does, takes no allocation on the request's path.
  char* const text = size < sizeof local_
                         ? local_
                         : static_cast<char*>(codes::operatorNewFlagged(size + 1, status, 0));
  if (text == nullptr) return;
  // Every byte is the copy's or the terminator: nothing to clear first.
  if (size != 0) {
    RegistryCore::copyIn(context, user, size, reinterpret_cast<unsigned char*>(text), status);
  }
  if (status.isFatal()) {
    if (text != local_) codes::operatorDelete(text);
    return;
  }
  text[size] = '\0';
  text_ = text;
}

tUserName::~tUserName() {
  if (text_ != local_) codes::operatorDelete(text_);
}

}  // namespace detail
}  // namespace qvregitools
