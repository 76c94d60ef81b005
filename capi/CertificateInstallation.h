// Installing the certificate that an authority issued for a container's key:
// for Microsoft's software providers and every key storage provider (type 0)
// in the user's "MY" store, linked to the container; for any other provider
// onto the container's exchange key.
#pragma once

#include <string>

// Fails with the message of the step that failed.
void installCertificate(const std::string& certificateText, const std::string& providerName,
    const std::string& containerName, int providerType);
