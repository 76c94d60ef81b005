#include "TokenCertificate.h"

#include "Digest.h"
#include "ObjectSearch.h"

void to_json(nlohmann::json& json, const TokenCertificate& certificate)
{
    json = nlohmann::json {
        { "type", certificate.type },
        { "serial", certificate.serial },
        { "thumbprint", certificate.thumbprint },
    };
}

std::string thumbprintOf(const Bytes& der)
{
    Bytes digest;
    if (!digestSha1(der.data(), static_cast<DWORD>(der.size()), digest))
        return {};
    return hexEncode(digest);
}

std::vector<TokenCertificate> sessionCertificates(
    const P11Session& session, const std::string& type, const std::string& serial)
{
    std::vector<TokenCertificate> certificates;
    for (CK_OBJECT_HANDLE object : findByClass(session, CKO_CERTIFICATE))
        certificates.push_back({ type, serial, thumbprintOf(readValue(session, object)) });
    return certificates;
}

std::vector<TokenCertificate> tokenCertificates(P11Slot& slot)
{
    const P11Session& session = slot.openSession(kNoPin, false);
    // A failure from here on skips the close: C_Finalize ends the session.
    const TokenInfo token = slot.tokenInfo();
    std::vector<TokenCertificate> certificates = sessionCertificates(session, token.type, token.serial);
    slot.closeSession();
    return certificates;
}

std::vector<TokenCertificate> listCertificates(P11Store& store)
{
    std::vector<TokenCertificate> certificates;
    for (P11Slot& slot : store.slots()) {
        std::vector<TokenCertificate> found = tokenCertificates(slot);
        certificates.insert(certificates.end(), found.begin(), found.end());
    }
    return certificates;
}
