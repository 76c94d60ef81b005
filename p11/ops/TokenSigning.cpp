#include "TokenSigning.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "Digest.h"
#include "ObjectSearch.h"
#include "Pkcs11Messages.h"
#include "SignedList.h"
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

// The DigestInfo that the token signs for one value: its digest made here,
// or the value itself when it is a ready digest of the algorithm's size
// (none when it is not).
std::optional<Bytes> toBeSigned(const SigningAlgorithm& algorithm, const Bytes& value, bool readyDigest)
{
    if (readyDigest) {
        if (value.size() != algorithm.digestLength)
            return std::nullopt;
        return digestInfo(algorithm.algId, value);
    }
    Bytes digest;
    if (!computeDigest(PROV_RSA_AES, algorithm.algId, value.data(), static_cast<DWORD>(value.size()), digest))
        throw std::runtime_error(kDigestFailed);
    return digestInfo(algorithm.algId, digest);
}

// The first usable slot with a certificate of this thumbprint, and that
// certificate's CKA_ID there; raises the not-found message.
std::pair<P11Slot*, Bytes> certificateOnToken(P11Store& store, const std::string& thumbprint)
{
    for (P11Slot& slot : store.slots())
        if (holdsThumbprint(slot, thumbprint))
            return { &slot, certificateId(slot, thumbprint) };
    throw std::runtime_error(kNoCertificateForThumbprint);
}

// `work` in one read-write session with login, closed after it, also when
// it fails.
template <typename Work> std::string inLoggedInSession(P11Slot& slot, const std::string& pin, Work work)
{
    const P11Session& session = slot.openSession(pin, true);
    const SessionGuard guard(slot);
    std::string result = work(session);
    slot.closeSession();
    return result;
}

} // namespace

std::string signByThumbprint(P11Store& store, const std::string& data, const std::string& thumbprint,
    const std::string& pin, const std::string& algorithmName, bool readyDigest)
{
    requireBase64(data);
    const auto [slot, keyId] = certificateOnToken(store, thumbprint);
    return signWithKeyId(*slot, data, keyId, pin, algorithmName, readyDigest);
}

std::string signWithKeyId(P11Slot& slot, const std::string& data, const Bytes& keyId, const std::string& pin,
    const std::string& algorithmName, bool readyDigest)
{
    requireBase64(data);
    return inLoggedInSession(slot, pin, [&](const P11Session& session) {
        return signInSession(session, data, keyId, algorithmName, readyDigest);
    });
}

std::string signInSession(const P11Session& session, const std::string& data, const Bytes& keyId,
    const std::string& algorithmName, bool readyDigest)
{
    const CK_OBJECT_HANDLE key = findKeyById(session, CKO_PRIVATE_KEY, keyId);
    if (key == 0)
        return {};
    const SigningAlgorithm& algorithm = signingAlgorithm(algorithmName);
    const std::optional<Bytes> info = toBeSigned(algorithm, base64Decode(data), readyDigest);
    if (!info)
        return kDigestSizeMismatch;
    return base64Encode(tokenSign(session, key, *info));
}

std::string signListByThumbprint(P11Store& store, const nlohmann::json& list, const std::string& thumbprint,
    const std::string& pin, const std::string& algorithmName)
{
    requireBase64Values(list);
    if (list.is_null() || list.empty())
        return SignedList().text();
    const std::pair<P11Slot*, Bytes> certificate = certificateOnToken(store, thumbprint);
    return inLoggedInSession(*certificate.first, pin, [&](const P11Session& session) {
        return signListInSession(session, list, certificate.second, algorithmName);
    });
}

std::string signListInSession(
    const P11Session& session, const nlohmann::json& list, const Bytes& keyId, const std::string& algorithmName)
{
    const CK_OBJECT_HANDLE key = findKeyById(session, CKO_PRIVATE_KEY, keyId);
    if (key == 0)
        throw std::runtime_error(kNoPrivateKey);
    const SigningAlgorithm& algorithm = signingAlgorithm(algorithmName);
    // Three module calls per item: a list that fits on a command line stays
    // far inside the request's call budget.
    SignedList answer(list.size());
    for (const nlohmann::json& item : list) {
        const Bytes value = base64Decode(listMember(item, "value").get<std::string>());
        const std::optional<Bytes> info = toBeSigned(algorithm, value, listMember(item, "hashedData").get<bool>());
        if (!info)
            throw std::runtime_error(kDigestSizeMismatch);
        answer.add(item, base64Encode(tokenSign(session, key, *info)));
    }
    return std::move(answer).text();
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
    // One spare byte, so that even a zero length passes a buffer.
    Bytes signature(allocated + 1);
    CK_ULONG written = allocated;
    checkSigned(module.call(p11::C_Sign, IfMissing::Fail, handle, toSign.data(), length, signature.data(), &written));
    signature.resize(std::min(written, allocated));
    return signature;
}
