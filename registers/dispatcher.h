// Registries of named objects: register maps, storage maps and device
// windows are each kept in one, in the order they were added, and found by
// name with an optional "_Ver<version>" suffix. Every registry runs the same
// code (RegistryCore); the templates only give it the types and the virtual
// slots its users call.
#pragma once

#include "platform/containers/basicString.h"
#include "platform/containers/vector.h"
#include "platform/eventDescriptor.h"
#include "platform/memory.h"
#include "platform/status.h"
#include "registers/registration.h"

namespace qvregitools {

using qvrm7_driver::nQVWEND000::tEventDescriptor;

// Room each name gets in the names listing.
inline constexpr u64 kNameSlotSize = 64;
// The longest name a caller may hand in from user space. A name with its
// version suffix is far shorter; anything longer is refused before the
// driver allocates a byte for it.
inline constexpr u64 kLargestUserNameSize = 4096;

namespace detail {

using tEntry = qvhtl::Pair_sct_pod<qvhtl::String, Registration*>;

class RegistryCore {
 public:
  RegistryCore() = default;
  // Frees the names and the entries; never a registration.
  ~RegistryCore() = default;
  RegistryCore(RegistryCore const&) = delete;
  RegistryCore& operator=(RegistryCore const&) = delete;

  u64 count() const { return entries_.size(); }
  // The first entry of exactly that name, or count().
  u64 find(char const* name) const;

  // Appends, even under a name already present (which is then never found).
  void append(char const* name, Registration& registration, tStatus& status);
  // Takes the first entry of that name out, keeping the others' order, and
  // hands its registration to the caller; null when there is none.
  Registration* unlink(char const* name);
  // unlink, with -240024 when nothing of that name is held.
  Registration* unlinkOrReport(char const* name, tStatus& status);
  // Runs whatever the status holds: unlinks and deletes.
  void removeAndDelete(char const* name, tStatus& status);
  // Deletes every registration still held, in registration order.
  void deleteAll();

  // The registration a name asks for, its version suffix checked; null with
  // the status set when there is none or it does not answer to the version.
  Registration* lookUp(char const* name, tStatus& status) const;
  // lookUp of a name of size bytes and a terminator (the same answer): a
  // request for a registration at its own version is recognised whole.
  Registration* lookUp(char const* name, u64 size, tStatus& status) const;

  void fillNames(char* buffer, tStatus& status) const;
  u64 listSize() const;
  void buildList(qvhtl::String& out, tStatus& status) const;

  // User space.
  static void copyIn(tEventDescriptor const& context, void* user, u64 size, unsigned char* dest,
                     tStatus& status);
  void copyNamesOut(tEventDescriptor const& context, void* user, tStatus& status) const;
  void copyListOut(tEventDescriptor const& context, void* user, tStatus& status) const;

 private:
  u64 find(char const* name, u64 length) const;
  u64 findOwnRequest(char const* name, u64 size) const;
  // Takes an entry out, keeping the others' order.
  void erase(u64 index);
  bool someNameRepeats() const;

  qvhtl::Vector_sct<tEntry> entries_;
  // No two entries share a name: the entry a registration's own request
  // matches at is then the first of its name.
  bool namesDistinct_ = true;
};

// A NUL-terminated copy of a name from user space, for the time of a lookup;
// on the heap only when it is longer than any registered name.
class tUserName {
 public:
  tUserName(tEventDescriptor const& context, void* user, u64 size, tStatus& status);
  ~tUserName();
  tUserName(tUserName const&) = delete;
  tUserName& operator=(tUserName const&) = delete;

  // Null when the name could not be read.
  char const* text() const { return text_; }

 private:
  char local_[kNameSlotSize + 1];
  char* text_;
};

}  // namespace detail

// Whether add asks the object for its version texts. An object type without
// them registers unversioned (0.0.0d0 both); a type may say otherwise by
// specialising this.
template <class T>
inline constexpr bool kRegistersVersions = requires(T const& object) {
  object.getVersion();
  object.getOldestCompatibleVersion();
};

template <class Wrapper>
class DispatcherBase {
 public:
  DispatcherBase() = default;
  // Frees the names and entries; the wrappers are not deleted here.
  virtual ~DispatcherBase() = default;
  DispatcherBase(DispatcherBase const&) = delete;
  DispatcherBase& operator=(DispatcherBase const&) = delete;
  static void operator delete(void* object) { qvrm7_driver::nQVWEND000::operatorDelete(object); }

  virtual void add(char const* name, Wrapper& wrapper, tStatus& status) {
    core_.append(name, wrapper, status);
  }
  virtual Wrapper* remove(char const* name, tStatus& status) {
    return static_cast<Wrapper*>(core_.unlinkOrReport(name, status));
  }
  // The caller owns what it gets back.
  virtual Wrapper* remove(char const* name) { return static_cast<Wrapper*>(core_.unlink(name)); }
  // out and mutexOut are written only when the lookup succeeds (a warning
  // counts as success).
  virtual void getRegistration(char const* name, Wrapper** out, tStatus& status,
                               tMutex** mutexOut) {
    answer(core_.lookUp(name, status), out, mutexOut);
  }
  virtual u64 getNumberOfRegistrations() const { return core_.count(); }
  // 64 bytes a name, in registry order.
  virtual void getRegistrationNames(char* buffer, tStatus& status) const {
    core_.fillNames(buffer, status);
  }
  // Including the terminating NUL.
  virtual u64 getSizeOfRegistrationList() const { return core_.listSize(); }
  // The names joined by tabs; out is cleared whatever the status holds.
  virtual void getRegistrationList(qvhtl::String& out, tStatus& status) const {
    core_.buildList(out, status);
  }

  // The index of the first entry of that name; getNumberOfRegistrations()
  // when there is none.
  u64 findEntry(char const* name) const { return core_.find(name); }

 protected:
  // What a lookup found, written out; nothing when it found nothing.
  static void answer(Registration* registration, Wrapper** out, tMutex** mutexOut) {
    if (registration == nullptr) return;
    Wrapper* const found = static_cast<Wrapper*>(registration);
    *out = found;
    if (mutexOut != nullptr) *mutexOut = &found->mutex();
  }

  detail::RegistryCore core_;
};

// Makes and deletes the wrappers itself: add takes the object.
template <class T>
class WrapperDispatcher : public DispatcherBase<RegistrationWrapper<T>> {
  using Base = DispatcherBase<RegistrationWrapper<T>>;

 public:
  using Wrapper = RegistrationWrapper<T>;
  using Base::add;
  using Base::getRegistration;
  using Base::remove;

  WrapperDispatcher() = default;
  // Every wrapper still held goes, whatever its name.
  ~WrapperDispatcher() override { this->core_.deleteAll(); }

  // Always runs: a teardown removes on whatever status it carries.
  Wrapper* remove(char const* name, tStatus& status) override {
    this->core_.removeAndDelete(name, status);
    return nullptr;
  }
  Wrapper* remove(char const* name) override {
    tStatus dropped;
    return remove(name, dropped);
  }

  // A failed add leaves neither wrapper nor entry behind.
  virtual void add(char const* name, T& object, tStatus& status) {
    if (status.isFatal()) return;
    void* const memory = qvrm7_driver::nQVWEND000::operatorNewFlagged(sizeof(Wrapper), status, 0);
    if (memory == nullptr) return;
    u8 supportsVersioning = 0;
    char const* versionText = nullptr;
    Version version;
    Version oldest;
    if constexpr (kRegistersVersions<T>) {
      char const* const oldestText = object.getOldestCompatibleVersion();
      versionText = object.getVersion();
      supportsVersioning = versionText != nullptr && versionText[0] != '\0' ? 1 : 0;
      version = Version(versionText, status);
      oldest = Version(oldestText, status);
    }
    if (status.isFatal()) {
      qvrm7_driver::nQVWEND000::operatorDelete(memory);
      return;
    }
    Wrapper* const wrapper = new (qvrm7_driver::kPlacement, memory)
        Wrapper(supportsVersioning, version, oldest, object, status);
    if (supportsVersioning != 0) wrapper->nameOwnRequest(name, versionText);
    if (status.isNotFatal()) add(name, *wrapper, status);
    if (status.isFatal()) delete wrapper;
  }

  // out is always written: the object, or null when none was found.
  virtual void getRegistration(char const* name, T** out, tStatus& status, tMutex** mutexOut) {
    Wrapper* wrapper = nullptr;
    getRegistration(name, &wrapper, status, mutexOut);
    *out = wrapper != nullptr ? wrapper->object() : nullptr;
  }
};

// The registry as the ioctls see it: names arrive from user space, and the
// listings go back there.
template <class T, template <class> class Layer>
class Dispatcher : public Layer<T> {
 public:
  using Wrapper = RegistrationWrapper<T>;
  using Layer<T>::getRegistration;
  using Layer<T>::getRegistrationNames;
  using Layer<T>::getRegistrationList;

  Dispatcher() = default;
  ~Dispatcher() override = default;

  // out is the object, or null when none was found or the name could not be
  // read; a name longer than kLargestUserNameSize is refused with -52005.
  virtual void getRegistration(tEventDescriptor const& context, void* userName,
                               unsigned long nameSize, T** out, tStatus& status,
                               tMutex** mutexOut) {
    if (status.isFatal()) return;
    *out = nullptr;
    detail::tUserName const name(context, userName, nameSize, status);
    if (name.text() == nullptr) return;
    // The name's length is known here, which the lookup by text would have
    // to find: the answer is that lookup's, with a request for a
    // registration at its own version recognised whole.
    Wrapper* wrapper = nullptr;
    this->answer(this->core_.lookUp(name.text(), nameSize, status), &wrapper, mutexOut);
    if (wrapper != nullptr) *out = wrapper->object();
  }

  // Every name in a 64-byte slot, all slots copied; the caller's buffer is
  // taken to hold them. An empty registry reports -240031 and copies nothing.
  void getRegistrationNames(tEventDescriptor const& context, void* user, tStatus& status) const {
    this->core_.copyNamesOut(context, user, status);
  }
  // The tab-joined list without its NUL; an empty registry copies nothing.
  void getRegistrationList(tEventDescriptor const& context, void* user, tStatus& status) const {
    this->core_.copyListOut(context, user, status);
  }
  void getUserBytes(tEventDescriptor const& context, void* user, unsigned long size,
                    unsigned char* dest, tStatus& status) {
    detail::RegistryCore::copyIn(context, user, size, dest, status);
  }
};

}  // namespace qvregitools
