#include "Command.h"

std::vector<Command> capiCommands()
{
    return {
        {"capi", "list", "csp", Guard::StandardFailures, unavailable<2>},
        {"capi", "list", "countContainer", Guard::RuntimeErrors, unavailable<4>},
        {"capi", "list", "listContainer", Guard::RuntimeErrors, unavailable<4>},
        {"capi", "crypt", "sign", Guard::StandardFailures, unavailable<6>},
        {"capi", "crypt", "signList", Guard::StandardFailures, unavailable<5>},
        {"capi", "repo", "createKeyPair", Guard::NullOnly, unavailable<11>},
        {"capi", "repo", "generateCSR", Guard::TopLevel, unavailable<6>},
        {"capi", "repo", "importCertificate", Guard::StandardFailures, unavailable<6>},
    };
}
