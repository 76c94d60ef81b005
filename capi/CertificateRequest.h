// The PKCS#10 request for a container's exchange key: the subject text as one
// common name (a PrintableString where one holds it, else a UTF8String),
// signed with SHA-256 and RSA by the key it certifies: a CSP container's, or
// for provider type 0 a KSP's persisted key.
#pragma once

#include <string>

// The DER request in base64.
std::string certificateRequest(const std::string& subjectText, const std::string& providerName,
    const std::string& containerName, int providerType);
