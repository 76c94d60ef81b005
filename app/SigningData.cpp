#include "SigningData.h"

#include <stdexcept>

#include "Digest.h"
#include "EncodingMessages.h"
#include "SigningAlgorithm.h"

SigningData signingData(const ArgVector& args, std::size_t dataPosition, std::size_t flagPosition,
    const std::string& algorithmName, const char* digestFailure)
{
    // Without the flag the value is read whole, and the request then fails
    // for the missing flag, as it always has.
    if (!args.readsElsewhere(dataPosition) || args.size() <= flagPosition || args.flag(flagPosition))
        return { args.base64Text(dataPosition) };
    // The provider that hashes a token's data; its digest is what the key's
    // own provider would make of the same bytes.
    DigestStream digest(PROV_RSA_AES, signingAlgorithm(algorithmName).algId);
    Base64Stream decoder;
    Bytes decoded;
    args.base64Pieces(dataPosition, [&](const char* text, std::size_t size) {
        decoded.clear();
        if (!decoder.add(text, size, decoded))
            throw std::runtime_error(kDataNotBase64);
        // A failed hash answers only once the whole value is known to be base64.
        digest.add(decoded.data(), static_cast<DWORD>(decoded.size()));
    });
    Bytes value;
    if (!decoder.complete())
        throw std::runtime_error(kDataNotBase64);
    if (!digest.finish(value))
        throw std::runtime_error(digestFailure);
    return { base64Encode(value), true };
}
