#include "TokenSigning.h"

#include <algorithm>
#include <stdexcept>

#include "Digest.h"
#include "ObjectSearch.h"
#include "Pkcs11Messages.h"
#include "SigningAlgorithm.h"
#include "TokenCertificate.h"
#include "TokenFailure.h"

namespace {

// A module may report any length: a signature longer than this is not believed.
constexpr CK_ULONG kSignatureLengthLimit = 64UL * 1024;

// The DER DigestInfo that goes before each digest (RFC 8017, 9.2, note 1).
struct DigestInfoPrefix {
    ALG_ID algorithm;
    Bytes prefix;
};

const DigestInfoPrefix kDigestInfoPrefixes[] = {
    { CALG_SHA1, { 0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14 } },
    { CALG_SHA_256,
        { 0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04,
            0x20 } },
    { CALG_SHA_512,
        { 0x30, 0x51, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04,
            0x40 } },
};

Bytes digestInfo(ALG_ID algorithm, const Bytes& digest)
{
    Bytes info;
    for (const DigestInfoPrefix& entry : kDigestInfoPrefixes)
        if (entry.algorithm == algorithm)
            info = entry.prefix;
    info.insert(info.end(), digest.begin(), digest.end());
    return info;
}

// The CKA_ID of the first certificate on the token with this thumbprint,
// read in a session without login; all its bytes, zero bytes included.
Bytes certificateId(P11Slot& slot, const std::string& thumbprint)
{
    const P11Session& session = slot.openSession(kNoPin, false);
    const SessionGuard guard(slot);
    Bytes id;
    for (CK_OBJECT_HANDLE certificate : findByClass(session, CKO_CERTIFICATE)) {
        Bytes certificateId = readAttribute(session, certificate, CKA_ID);
        if (thumbprintOf(readValue(session, certificate)) == thumbprint) {
            id = std::move(certificateId);
            break;
        }
    }
    slot.closeSession();
    return id;
}

bool holdsThumbprint(P11Slot& slot, const std::string& thumbprint)
{
    const std::vector<TokenCertificate> certificates = tokenCertificates(slot);
    return std::any_of(certificates.begin(), certificates.end(),
        [&](const TokenCertificate& certificate) { return certificate.thumbprint == thumbprint; });
}

void checkSigned(CK_RV rv)
{
    if (rv != CKR_OK)
        throw std::runtime_error(tokenFailure(kSignFailed, rv));
}

} // namespace

std::string signByThumbprint(P11Store& store, const std::string& data, const std::string& thumbprint,
    const std::string& pin, const std::string& algorithmName, bool readyDigest)
{
    requireBase64(data);
    for (P11Slot& slot : store.slots())
        if (holdsThumbprint(slot, thumbprint))
            return signWithKeyId(slot, data, certificateId(slot, thumbprint), pin, algorithmName, readyDigest);
    throw std::runtime_error(kNoCertificateForThumbprint);
}

std::string signWithKeyId(P11Slot& slot, const std::string& data, const Bytes& keyId, const std::string& pin,
    const std::string& algorithmName, bool readyDigest)
{
    requireBase64(data);
    const P11Session& session = slot.openSession(pin, true);
    const SessionGuard guard(slot);
    std::string result = signInSession(session, data, keyId, algorithmName, readyDigest);
    slot.closeSession();
    return result;
}

std::string signInSession(const P11Session& session, const std::string& data, const Bytes& keyId,
    const std::string& algorithmName, bool readyDigest)
{
    const CK_OBJECT_HANDLE key = findKeyById(session, CKO_PRIVATE_KEY, keyId);
    if (key == 0)
        return {};
    const SigningAlgorithm& algorithm = signingAlgorithm(algorithmName);
    Bytes digest = base64Decode(data);
    if (readyDigest) {
        if (digest.size() != algorithm.digestLength)
            return kDigestSizeMismatch;
    } else {
        Bytes hashed;
        if (!computeDigest(PROV_RSA_AES, algorithm.algId, digest.data(), static_cast<DWORD>(digest.size()), hashed))
            throw std::runtime_error(kDigestFailed);
        digest = std::move(hashed);
    }
    return base64Encode(tokenSign(session, key, digestInfo(algorithm.algId, digest)));
}

Bytes tokenSign(const P11Session& session, CK_OBJECT_HANDLE key, Bytes toSign)
{
    const P11Module& module = session.module();
    const CK_SESSION_HANDLE handle = session.handle();
    const auto length = static_cast<CK_ULONG>(toSign.size());
    CK_MECHANISM mechanism { CKM_RSA_PKCS, NULL_PTR, 0 };
    checkSigned(module.call(p11::C_SignInit, IfMissing::Fail, handle, &mechanism, key));

    CK_ULONG reported = 0;
    checkSigned(module.call(p11::C_Sign, IfMissing::Fail, handle, toSign.data(), length, NULL_PTR, &reported));
    // A length beyond the limit gets a buffer of the limit: a token that
    // really needs more answers CKR_BUFFER_TOO_SMALL.
    const CK_ULONG allocated = std::min(reported, kSignatureLengthLimit);
    Bytes signature(allocated + 1, 0);
    CK_ULONG written = allocated;
    checkSigned(module.call(p11::C_Sign, IfMissing::Fail, handle, toSign.data(), length, signature.data(), &written));
    signature.resize(std::min(written, allocated));
    return signature;
}
