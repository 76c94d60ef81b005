// Issued certificates stored on the token beside their key pair, joined to it
// by the key pair's CKA_ID. The certificate is stored as given, not parsed.
#pragma once

#include <string>

#include "P11Session.h"
#include "P11Slot.h"

// Logs in and creates the certificate object; answers the success text with
// the key identifier as the caller sent it.
std::string importCertificate(P11Slot& slot, const std::string& keyIdText, const std::string& type,
    const std::string& label, const std::string& certificateText, const std::string& pin);
std::string createCertificateObject(const P11Session& session, const std::string& keyIdText, const std::string& type,
    const std::string& label, const std::string& certificateText);
