// Checks that a register reads a fixed signature: the register is refreshed
// from the hardware (a register outside its map's window keeps its old
// value, and the refresh's failure stays in the status), then compared. A
// mismatch sets one code for every chip; the site tells the chips apart.
#pragma once

#include "platform/statusCodes.h"
#include "storage/hardwareStateCheckerInterface.h"

namespace atut {

inline constexpr qvrm7_driver::i64 kStatusWrongSignature =
    qvrm7_driver::nQVWEND000::driverCode(0xBFFA8078);
inline constexpr qvrm7_driver::nQVWEND000::StatusSite kWrongSignatureSite{
    "atut/simpleSignatureChecker/SimpleSignatureChecker", 63};

template <class Register, qvrm7_driver::u32 Signature>
class SimpleSignatureChecker final : public kdut::HardwareStateCheckerInterface {
 public:
  explicit SimpleSignatureChecker(Register& signatureRegister,
                                  qvrm7_driver::nQVWEND000::StatusSite site = kWrongSignatureSite)
      : register_(&signatureRegister), site_(site) {}

  void checkHardwareState(nQVWENDS100::tStatus& status) override {
    if (status.isFatal()) return;
    register_->refresh(status);
    if (register_->shadow != Signature)
      qvrm7_driver::nQVWEND000::setStatus(status, kStatusWrongSignature, site_);
  }

 private:
  Register* register_;
  qvrm7_driver::nQVWEND000::StatusSite site_;
};

}  // namespace atut
