// A usable slot: a module's slot whose token has a hexadecimal serial.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "P11Module.h"
#include "P11Session.h"
#include "TokenInfo.h"

class P11Slot {
public:
    P11Slot(const P11Module& module, CK_SLOT_ID slotId, TokenInfo found)
        : module_(&module)
        , slotId_(slotId)
        , found_(std::move(found))
    {
    }

    const P11Module& module() const { return *module_; }
    CK_SLOT_ID slotId() const { return slotId_; }

    // What the store read of the token when it found the slot: the token
    // listing answers it, so that each token is read once per request.
    const TokenInfo& foundInfo() const { return found_; }
    // Read afresh from the module.
    TokenInfo tokenInfo() const { return TokenInfo::read(*module_, slotId_); }

    // Opens the operation's session on this slot ("" and "ND" log in without
    // a PIN) and keeps it as the slot's session. Raises what the session's
    // opening raises; nothing is kept then.
    P11Session& openSession(const std::string& pin, bool login);
    // Closes and releases the slot's session; raises NoSessionOpen when it
    // has no handle (released all the same).
    void closeSession();
    // Closes a session that a failing operation left open; never raises.
    void abandonSession() noexcept;

private:
    const P11Module* module_;
    CK_SLOT_ID slotId_;
    TokenInfo found_;
    std::unique_ptr<P11Session> session_;
};

// Stands beside an operation's session: when the operation fails after the
// session opened, the session is still closed (C_Logout, C_CloseSession).
// The normal path closes it with closeSession before this runs.
class SessionGuard {
public:
    explicit SessionGuard(P11Slot& slot)
        : slot_(slot)
    {
    }
    ~SessionGuard() { slot_.abandonSession(); }
    SessionGuard(const SessionGuard&) = delete;
    SessionGuard& operator=(const SessionGuard&) = delete;

private:
    P11Slot& slot_;
};
