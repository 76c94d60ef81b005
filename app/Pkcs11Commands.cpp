#include "Command.h"

std::vector<Command> pkcs11Commands()
{
    return {
        {"pkcs11", "list", "tokens", Guard::RuntimeErrors, unavailable<3>},
        {"pkcs11", "list", "certificates", Guard::RuntimeErrors, unavailable<3>},
        {"pkcs11", "list", "objects", Guard::RuntimeErrors, unavailable<5>},
        {"pkcs11", "crypt", "sign", Guard::RuntimeErrors, unavailable<8>},
        {"pkcs11", "crypt", "signWithKeyId", Guard::RuntimeErrors, unavailable<9>},
        {"pkcs11", "repo", "createKeyPair", Guard::RuntimeErrors, unavailable<7>},
        {"pkcs11", "repo", "getPublicKey", Guard::RuntimeErrors, unavailable<5>},
        {"pkcs11", "repo", "importCertificate", Guard::RuntimeErrors, unavailable<8>},
    };
}
