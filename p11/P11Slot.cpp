#include "P11Slot.h"

P11Session& P11Slot::openSession(const std::string& pin, bool login)
{
    session_ = std::make_unique<P11Session>(*module_, slotId_, pin, login);
    return *session_;
}

void P11Slot::closeSession()
{
    const std::unique_ptr<P11Session> session = std::move(session_);
    if (!session)
        throw NoSessionOpen {};
    session->close();
}

void P11Slot::abandonSession() noexcept
{
    try {
        if (session_)
            closeSession();
    } catch (...) {
        // No handle: nothing was open. A missing C_Logout or C_CloseSession
        // is skipped by the close itself.
    }
}
