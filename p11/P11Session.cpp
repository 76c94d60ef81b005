#include "P11Session.h"

#include <stdexcept>

#include "Encoding.h"
#include "Secret.h"

namespace {

struct LoginFailure {
    CK_RV rv;
    const char* message;
};

constexpr LoginFailure kLoginFailures[] = {
    { CKR_PIN_INCORRECT, kLoginPinIncorrect },
    { CKR_PIN_INVALID, kLoginPinInvalid },
    { CKR_PIN_LEN_RANGE, kLoginPinLenRange },
    { CKR_PIN_EXPIRED, kLoginPinExpired },
    { CKR_PIN_LOCKED, kLoginPinLocked },
    { CKR_ARGUMENTS_BAD, kLoginArgumentsBad },
};

}  // namespace

bool isNoPin(const std::string& pin) { return pin.empty() || pin == kNoPin; }

const char* loginFailureMessage(CK_RV rv)
{
    for (const LoginFailure& failure : kLoginFailures)
        if (failure.rv == rv)
            return failure.message;
    return kLoginGeneric;
}

P11Session::P11Session(const P11Module& module, CK_SLOT_ID slotId, const std::string& pin, bool login)
    : module_(module)
{
    const CK_FLAGS flags = login ? CKF_SERIAL_SESSION | CKF_RW_SESSION : CKF_SERIAL_SESSION;
    // Judged by the handle alone, not by the return code.
    module_.call(p11::C_OpenSession, IfMissing::Fail, slotId, flags, NULL_PTR, NULL_PTR, &handle_);
    if (!login)
        return;
    if (handle_ == 0)
        throw NoSessionOpen {};

    CK_RV rv;
    if (isNoPin(pin)) {
        rv = module_.call(p11::C_Login, IfMissing::Fail, handle_, CKU_USER, NULL_PTR, CK_ULONG { 0 });
    } else {
        // The module's parameter is not const: it gets a copy of exactly the
        // PIN's bytes, wiped as soon as the call returns.
        SecretText pinCopy(pin);
        rv = module_.call(
            p11::C_Login, IfMissing::Fail, handle_, CKU_USER, pinCopy.bytes(), static_cast<CK_ULONG>(pinCopy.size()));
    }
    if (rv != CKR_OK)
        throw std::runtime_error(loginFailureMessage(rv));
}

void P11Session::close()
{
    if (handle_ == 0)
        throw NoSessionOpen {};
    module_.call(p11::C_Logout, IfMissing::Answer, handle_);
    module_.call(p11::C_CloseSession, IfMissing::Answer, handle_);
    handle_ = 0;
}
