#include "TokenCertificate.h"

#include "CertificateDetails.h"
#include "Digest.h"
#include "ObjectSearch.h"

namespace {

// Runs `visit(session, token)` in a session of the slot's token opened
// without login.
template <typename Visit> void withPublicSession(P11Slot& slot, Visit visit)
{
    const P11Session& session = slot.openSession(kNoPin, false);
    // A failure from here on skips the close: C_Finalize ends the session.
    visit(session, slot.tokenInfo());
    slot.closeSession();
}

} // namespace

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
    std::vector<TokenCertificate> certificates;
    withPublicSession(slot, [&](const P11Session& session, const TokenInfo& token) {
        certificates = sessionCertificates(session, token.type, token.serial);
    });
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

nlohmann::json listCertificateDetails(P11Store& store)
{
    nlohmann::json records = nlohmann::json::array();
    for (P11Slot& slot : store.slots())
        withPublicSession(slot, [&](const P11Session& session, const TokenInfo& token) {
            for (CK_OBJECT_HANDLE object : findByClass(session, CKO_CERTIFICATE)) {
                const Bytes der = readValue(session, object);
                nlohmann::json record = certificateDetails(der, thumbprintOf(der));
                record["type"] = token.type;
                record["serial"] = token.serial;
                // An object without an ID names no key to sign with.
                if (const Bytes id = readAttribute(session, object, CKA_ID); !id.empty())
                    record["keyId"] = base64Encode(id);
                records.push_back(std::move(record));
            }
        });
    return records;
}
