#include "KeyGeneration.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>

#include "AttributeTemplate.h"
#include "Encoding.h"
#include "ObjectSearch.h"
#include "TokenFailure.h"

namespace {

constexpr char kIdentifierAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kRandomPartLength = 4;
constexpr std::size_t kLabelLimit = 18;
// Room for the key pair and the certificate that will follow it (0x1C00).
constexpr std::uint32_t kKeyPairRoom = 7168;
constexpr unsigned char kPublicExponent[] = { 0x01, 0x00, 0x01 };

// A uniform value in 0..bound-1: draws that fall in the incomplete last
// bucket of the 32-bit range would favour small values, so they are redrawn.
std::uint32_t uniformBelow(std::mt19937& generator, std::uint32_t bound)
{
    constexpr std::uint64_t range = std::uint64_t { 1 } << 32;
    const std::uint64_t limit = range - range % bound;
    std::uint64_t draw = 0;
    do
        draw = generator();
    while (draw >= limit);
    return static_cast<std::uint32_t>(draw % bound);
}

} // namespace

std::string randomIdentifier(std::size_t count)
{
    std::string alphabet = kIdentifierAlphabet;
    std::random_device device;
    std::mt19937 generator(device());
    for (std::uint32_t i = 1; i < alphabet.size(); ++i) {
        const std::uint32_t j = uniformBelow(generator, i + 1);
        if (j != i)
            std::swap(alphabet[i], alphabet[j]);
    }
    return alphabet.substr(0, std::min(count, alphabet.size()));
}

std::string createKeyPair(P11Slot& slot, const std::string& label, const std::string& pin, CK_ULONG modulusBits)
{
    const P11Session& session = slot.openSession(pin, true);
    const SessionGuard guard(slot);
    // A token whose information cannot be read counts as full.
    if (slot.tokenInfo().freePublicMemory <= kKeyPairRoom)
        throw std::runtime_error(kNoRoomForKeyPair);
    std::string keyId = generateKeyPair(session, label, modulusBits);
    slot.closeSession();
    return keyId;
}

std::string generateKeyPair(const P11Session& session, const std::string& label, CK_ULONG modulusBits)
{
    const std::string cutLabel = label.substr(0, kLabelLimit);
    const std::string keyId = randomIdentifier(kRandomPartLength) + "-"
        + base64Encode(reinterpret_cast<const unsigned char*>(cutLabel.data()), cutLabel.size());

    AttributeTemplate publicKey;
    publicKey.text(CKA_ID, keyId)
        .text(CKA_LABEL, cutLabel)
        .flag(CKA_TOKEN, CK_TRUE)
        .flag(CKA_ENCRYPT, CK_TRUE)
        .flag(CKA_VERIFY, CK_TRUE)
        .number(CKA_MODULUS_BITS, modulusBits)
        .bytes(CKA_PUBLIC_EXPONENT, kPublicExponent, sizeof kPublicExponent)
        .flag(CKA_WRAP, CK_TRUE);
    AttributeTemplate privateKey;
    privateKey.text(CKA_ID, keyId)
        .text(CKA_LABEL, cutLabel)
        .flag(CKA_TOKEN, CK_TRUE)
        .flag(CKA_PRIVATE, CK_TRUE)
        .flag(CKA_SENSITIVE, CK_TRUE)
        .flag(CKA_DECRYPT, CK_TRUE)
        .flag(CKA_SIGN, CK_TRUE)
        .flag(CKA_UNWRAP, CK_TRUE);

    CK_MECHANISM mechanism { CKM_RSA_PKCS_KEY_PAIR_GEN, NULL_PTR, 0 };
    CK_OBJECT_HANDLE publicHandle = 0;
    CK_OBJECT_HANDLE privateHandle = 0;
    const CK_RV rv = session.module().call(p11::C_GenerateKeyPair, IfMissing::Fail, session.handle(), &mechanism,
        publicKey.data(), publicKey.count(), privateKey.data(), privateKey.count(), &publicHandle, &privateHandle);
    if (rv != CKR_OK)
        throw std::runtime_error(tokenFailure(kKeyPairFailed, rv));
    return base64Encode(reinterpret_cast<const unsigned char*>(keyId.data()), keyId.size());
}

std::string getPublicKey(P11Slot& slot, const std::string& keyIdText)
{
    const P11Session& session = slot.openSession(kNoPin, false);
    const SessionGuard guard(slot);
    std::string modulus;
    if (const CK_OBJECT_HANDLE key = findKeyById(session, CKO_PUBLIC_KEY, base64Decode(keyIdText))) {
        const AttributeValue read = readAttributeValue(session, key, CKA_MODULUS);
        if (read.rv != CKR_OK)
            throw std::runtime_error(tokenFailure(kPublicKeyReadFailed, read.rv));
        if (read.bytes.empty())
            throw std::runtime_error(std::string(kPublicKeyReadFailed) + kModulusUnavailable);
        modulus = base64Encode(read.bytes);
    }
    slot.closeSession();
    return modulus;
}
