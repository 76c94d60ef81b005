#include "Command.h"
#include "Messages.h"
#include "ObjectInfo.h"
#include "P11Store.h"
#include "TokenCertificate.h"

namespace {

// The store that the front end obtained for this request (the type code
// is ignored once the store exists).
P11Store& storeOf(const ArgVector& args) { return P11Store::getInstance(args.text(3)); }

Operation listTokens(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    return [&store] { return successEnvelope(store.listTokens()); };
}

Operation listCertificatesRow(const ArgVector& args)
{
    P11Store& store = storeOf(args);
    return [&store] { return successEnvelope(listCertificates(store)); };
}

Operation listObjectsRow(const ArgVector& args)
{
    const std::string& type = args.text(3);
    const std::string& serial = args.text(4);
    const std::string pin = args.text(5);
    P11Slot* slot = storeOf(args).findToken(type, serial);
    if (!slot)
        return [] { return errorEnvelope(kTokenNotFound); };
    return [slot, pin] { return successEnvelope(listObjects(*slot, pin)); };
}

}  // namespace

std::vector<Command> pkcs11Commands()
{
    return {
        { "pkcs11", "list", "tokens", Guard::RuntimeErrors, listTokens },
        { "pkcs11", "list", "certificates", Guard::RuntimeErrors, listCertificatesRow },
        { "pkcs11", "list", "objects", Guard::RuntimeErrors, listObjectsRow },
        { "pkcs11", "crypt", "sign", Guard::RuntimeErrors, unavailable<8> },
        { "pkcs11", "crypt", "signWithKeyId", Guard::RuntimeErrors, unavailable<9> },
        { "pkcs11", "repo", "createKeyPair", Guard::RuntimeErrors, unavailable<7> },
        { "pkcs11", "repo", "getPublicKey", Guard::RuntimeErrors, unavailable<5> },
        { "pkcs11", "repo", "importCertificate", Guard::RuntimeErrors, unavailable<8> },
    };
}
