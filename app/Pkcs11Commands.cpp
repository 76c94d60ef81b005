#include <cstdint>
#include <stdexcept>

#include "CertificateImport.h"
#include "Command.h"
#include "Encoding.h"
#include "KeyGeneration.h"
#include "Messages.h"
#include "ObjectInfo.h"
#include "P11Store.h"
#include "Pkcs11Messages.h"
#include "Secret.h"
#include "SigningData.h"
#include "SigningList.h"
#include "TokenCertificate.h"
#include "TokenSigning.h"

namespace {

// The store that the front end obtained for this request (the type code
// is ignored once the store exists).
P11Store& storeOf(const ArgVector& args) { return P11Store::getInstance(args.text(3)); }

Operation listTokens(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    return [&store] { return successEnvelope(store.listTokens()); };
}

Operation listTokenDetails(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    return [&store] { return successEnvelope(store.listTokenDetails()); };
}

Operation listCertificatesRow(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    return [&store] { return successEnvelope(listCertificates(store)); };
}

Operation listCertificateDetailsRow(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    return [&store] { return successEnvelope(listCertificateDetails(store)); };
}

// The slot of the token that the request names by type (A3) and serial
// (A4), looked up after every parameter is read; none answers the front
// end's own message.
template <typename Run> Operation onToken(const ArgVector& args, Run run)
{
    P11Slot* slot = storeOf(args).findToken(args.text(3), args.text(4));
    if (!slot)
        return [] { return errorEnvelope(kTokenNotFound); };
    return [slot, run = std::move(run)] { return run(*slot); };
}

Operation listObjectsRow(const ArgVector& args)
{
    const SecretText pin = args.pin(5);
    return onToken(args, [pin](P11Slot& slot) { return successEnvelope(listObjects(slot, pin.text())); });
}

// A signing operation's text: the size message is a failure, anything else
// (the empty text too) a success.
Json signingEnvelope(const std::string& answer)
{
    return answer == kDigestSizeMismatch ? errorEnvelope(answer) : successEnvelope(answer);
}

Operation signRow(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    const std::string thumbprint = args.text(4);
    const std::string algorithmName = args.text(5);
    const SecretText pin = args.pin(6);
    SigningData data = signingData(args, 7, 8, algorithmName, kDigestFailed);
    const bool readyDigest = data.digested || args.flag(8);
    return [=, &store, data = std::move(data.text)] {
        return signingEnvelope(signByThumbprint(store, data, thumbprint, pin.text(), algorithmName, readyDigest));
    };
}

Operation signListRow(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    const std::string thumbprint = args.text(4);
    const std::string algorithmName = args.text(5);
    const SecretText pin = args.pin(6);
    std::string encodedList = args.base64Text(7);
    // Decoding and parsing belong to the operation, as in capi's signList;
    // the list's JSON failures keep their text as the token road's own.
    return [=, &store, encodedList = std::move(encodedList)]() mutable {
        try {
            const Json list = decodeSigningList(std::move(encodedList));
            return successEnvelope(signListByThumbprint(store, list, thumbprint, pin.text(), algorithmName));
        } catch (const Json::exception& failure) {
            throw std::runtime_error(failure.what());
        }
    };
}

Operation signWithKeyIdRow(const ArgVector& args)
{
    const std::string keyIdText = args.text(5);
    const std::string algorithmName = args.text(6);
    const SecretText pin = args.pin(7);
    const bool readyFlag = args.flag(8);
    SigningData data = signingData(args, 9, 8, algorithmName, kDigestFailed);
    const bool readyDigest = data.digested || readyFlag;
    // All decoded bytes are the identifier, zero bytes included.
    const Bytes keyId = base64Decode(keyIdText);
    return onToken(args, [=, data = std::move(data.text)](P11Slot& slot) {
        return signingEnvelope(signWithKeyId(slot, data, keyId, pin.text(), algorithmName, readyDigest));
    });
}

Operation createKeyPairRow(const ArgVector& args)
{
    const std::string label = args.text(5);
    // atoi's value as the 32-bit CK_ULONG of the Windows ABI, on every platform.
    const auto modulusBits = static_cast<CK_ULONG>(static_cast<std::uint32_t>(args.integer(6)));
    const SecretText pin = args.pin(7);
    return onToken(args, [=](P11Slot& slot) { return successEnvelope(createKeyPair(slot, label, pin.text(), modulusBits)); });
}

Operation getPublicKeyRow(const ArgVector& args)
{
    const std::string keyIdText = args.text(5);
    return onToken(args, [=](P11Slot& slot) { return successEnvelope(getPublicKey(slot, keyIdText)); });
}

Operation importCertificateRow(const ArgVector& args)
{
    const std::string type = args.text(3);
    const std::string keyIdText = args.text(5);
    const std::string label = args.text(6);
    const SecretText pin = args.pin(7);
    std::string certificateText = args.base64Text(8);
    return onToken(args, [=, certificateText = std::move(certificateText)](P11Slot& slot) {
        return successEnvelope(importCertificate(slot, keyIdText, type, label, certificateText, pin.text()));
    });
}

} // namespace

std::vector<Command> pkcs11Commands()
{
    return {
        { "pkcs11", "list", "tokens", Guard::RuntimeErrors, listTokens },
        { "pkcs11", "list", "tokenDetails", Guard::RuntimeErrors, listTokenDetails },
        { "pkcs11", "list", "certificates", Guard::RuntimeErrors, listCertificatesRow },
        { "pkcs11", "list", "certificateDetails", Guard::RuntimeErrors, listCertificateDetailsRow },
        { "pkcs11", "list", "objects", Guard::RuntimeErrors, listObjectsRow },
        { "pkcs11", "crypt", "sign", Guard::RuntimeErrors, signRow },
        { "pkcs11", "crypt", "signList", Guard::RuntimeErrors, signListRow },
        { "pkcs11", "crypt", "signWithKeyId", Guard::RuntimeErrors, signWithKeyIdRow },
        { "pkcs11", "repo", "createKeyPair", Guard::RuntimeErrors, createKeyPairRow },
        { "pkcs11", "repo", "getPublicKey", Guard::RuntimeErrors, getPublicKeyRow },
        { "pkcs11", "repo", "importCertificate", Guard::RuntimeErrors, importCertificateRow },
    };
}
