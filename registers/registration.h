// One entry of a registry: the versions a registered object answers to, and,
// in the wrapper, the object itself with the re-entrant mutex that serialises
// every use of it.
#pragma once

#include "platform/status.h"
#include "platform/synchronization.h"
#include "registers/version.h"

namespace qvregitools {

using qvrm7_driver::u8;
using qvrm7_driver::nQVWEND000::tMutex;

class Registration {
 public:
  Registration(u8 supportsVersioning, Version version, Version oldestCompatibleVersion)
      : supportsVersioning_(supportsVersioning),
        version_(version),
        oldestCompatibleVersion_(oldestCompatibleVersion) {}
  virtual ~Registration() = default;
  Registration(Registration const&) = delete;
  Registration& operator=(Registration const&) = delete;
  // Registrations live on the layer's allocator.
  static void operator delete(void* object);

  virtual u8 getSupportsVersioning() const { return supportsVersioning_; }
  virtual Version getVersion() const { return version_; }
  virtual Version getOldestCompatibleVersion() const { return oldestCompatibleVersion_; }
  // A versioned registration must be asked for a version between its oldest
  // compatible one and its own (a newer one passes with a warning); an
  // unversioned one only without a version.
  virtual void checkVersion(Version requested, tStatus& status) const;

  // Remembers the name a request gives for this registration at its own
  // version, "<name>_Ver<version text>", so that the registry answers it
  // without parsing; none when the name holds "_Ver" itself (a request would
  // split there) or the whole does not fit.
  void nameOwnRequest(char const* name, char const* versionText);
  // Whether the size bytes at name are that request.
  bool isOwnRequest(char const* name, u64 size) const;
  // Drops the own request unless its name is the length bytes at name: a
  // registry answers it only at an entry of that very name.
  void keepOwnRequestFor(char const* name, u64 length);
  // The length of the name in the own request.
  u64 ownRequestBaseSize() const { return ownRequestBaseSize_; }
  // checkVersion of the version the own request names, the registration's,
  // whose outcome is known once it is accepted.
  void checkOwnVersion(tStatus& status) const;

 private:
  static constexpr u64 kOwnRequestSize = 64;

  u8 supportsVersioning_;
  Version version_;
  Version oldestCompatibleVersion_;
  // Size 0: no own request.
  u8 ownRequestSize_ = 0;
  u8 ownRequestBaseSize_ = 0;
  bool ownRequestAccepted_ = false;
  char ownRequest_[kOwnRequestSize];
};

// The wrapper does not own the object: whoever registered it deletes it.
template <class T>
class RegistrationWrapper : public Registration {
 public:
  // The mutex is made here; a refusal sets -52000 and leaves a wrapper whose
  // destruction has no mutex to give back.
  RegistrationWrapper(u8 supportsVersioning, Version version, Version oldestCompatibleVersion,
                      T& object, tStatus& status)
      : Registration(supportsVersioning, version, oldestCompatibleVersion),
        mutex_(status),
        object_(&object) {}
  ~RegistrationWrapper() override = default;

  tMutex& mutex() { return mutex_; }
  T* object() const { return object_; }

 private:
  tMutex mutex_;
  T* object_;
};

}  // namespace qvregitools
