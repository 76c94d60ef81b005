// A PKCS#11 session on one slot, opened (and logged in) for one operation.
#pragma once

#include <string>

#include "P11Module.h"

// The failure of an operation that has no session to work with. Deliberately
// not a std::exception: the front end answers it with "error": null.
struct NoSessionOpen {
    const char* what() const noexcept { return kNoSessionOpen; }
};

// The PIN text that, like the empty one, means "no PIN".
inline constexpr const char* kNoPin = "ND";

// The PIN texts that mean "log in without a PIN".
bool isNoPin(const std::string& pin);

// The message of a refused C_Login.
const char* loginFailureMessage(CK_RV rv);

class P11Session {
public:
    // Opens a read-write session and logs in as the user when `login` is
    // set, else a read-only one without login (whose handle may be 0).
    // Raises NoSessionOpen, or std::runtime_error with the login message.
    P11Session(const P11Module& module, CK_SLOT_ID slotId, const std::string& pin, bool login);
    P11Session(const P11Session&) = delete;
    P11Session& operator=(const P11Session&) = delete;
    // Closes nothing: a session still open here belongs to an operation that
    // failed, and the module's C_Finalize at the end of the request ends it.
    ~P11Session() = default;

    const P11Module& module() const { return module_; }
    CK_SESSION_HANDLE handle() const { return handle_; }

    // C_Logout then C_CloseSession, whatever either answers. Raises
    // NoSessionOpen, calling nothing, when no session was opened.
    void close();

private:
    const P11Module& module_;
    CK_SESSION_HANDLE handle_ = 0;
};
