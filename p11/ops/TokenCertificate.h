// The certificates on the tokens, each known by its token and thumbprint.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "Encoding.h"
#include "P11Session.h"
#include "P11Slot.h"
#include "P11Store.h"

struct TokenCertificate {
    std::string type;
    std::string serial;
    // Lower-case hexadecimal SHA-1 of the certificate's CKA_VALUE; empty
    // when the digest could not be computed.
    std::string thumbprint;
};

void to_json(nlohmann::json& json, const TokenCertificate& certificate);

// Every usable slot's certificates, in slot order.
std::vector<TokenCertificate> listCertificates(P11Store& store);
// Every usable token's certificates, each with what it holds (its names,
// validity, ...), its token's type and serial and its CKA_ID ("keyId").
nlohmann::json listCertificateDetails(P11Store& store);
// The certificates that one token shows without login.
std::vector<TokenCertificate> tokenCertificates(P11Slot& slot);
// The certificate objects visible in `session`, in the module's order.
std::vector<TokenCertificate> sessionCertificates(
    const P11Session& session, const std::string& type, const std::string& serial);

// The thumbprint of a certificate's DER bytes; empty when hashing fails.
std::string thumbprintOf(const Bytes& der);
