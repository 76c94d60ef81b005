#include "CapiMessages.h"
#include "CapiStore.h"
#include "Command.h"
#include "SigningData.h"
#include "SigningList.h"

namespace {

// The listings and the key and certificate requests run on the process's
// one store.
const CapiStore& capiStore()
{
    static const CapiStore store;
    return store;
}

Operation listCsp(const ArgVector&)
{
    return [] { return successEnvelope(capiStore().listCSPs()); };
}

Operation listKsp(const ArgVector&)
{
    return [] { return successEnvelope(capiStore().listKSPs()); };
}

Operation listCertificates(const ArgVector&)
{
    return [] { return successEnvelope(capiStore().listCertificates()); };
}

Operation countContainer(const ArgVector& args)
{
    const std::string providerName = args.text(3);
    const int providerType = args.integer(4);
    return [=] { return successEnvelope(capiStore().countContainers(providerName, providerType)); };
}

Operation listContainer(const ArgVector& args)
{
    const std::string providerName = args.text(3);
    const int providerType = args.integer(4);
    return [=] { return successEnvelope(capiStore().listContainer(providerName, providerType)); };
}

// The signing commands run on a store of their own, made for the request.
Operation cryptSign(const ArgVector& args)
{
    const std::string thumbprint = args.text(3);
    const std::string algorithmName = args.text(4);
    SigningData data = signingData(args, 5, 6, algorithmName, kHashDataFailed);
    const bool readyDigest = data.digested || args.flag(6);
    return [=, data = std::move(data.text)] {
        return successEnvelope(CapiStore().sign(thumbprint, algorithmName, data, readyDigest));
    };
}

Operation cryptSignList(const ArgVector& args)
{
    const std::string thumbprint = args.text(3);
    const std::string algorithmName = args.text(4);
    std::string encodedList = args.base64Text(5);
    // Decoding and parsing belong to the operation: their failures are
    // answered with their own text. The list may be a long text: moved, not
    // copied, into the operation, and on into the decoder.
    return [=, encodedList = std::move(encodedList)]() mutable {
        return successEnvelope(
            CapiStore().signList(thumbprint, algorithmName, decodeSigningList(std::move(encodedList))));
    };
}

Operation createKeyPair(const ArgVector& args)
{
    const std::string providerName = args.text(3);
    const int providerType = args.integer(4);
    const std::string containerName = args.text(5);
    const bool useExistingKey = args.flag(6);
    const bool exportable = args.flag(7);
    const int keyBits = args.integer(8);
    // A9 means nothing; reading A11 makes it required all the same.
    const std::string subjectText = args.text(10);
    const bool alsoGenerateCsr = args.flag(11);
    return [=] {
        return successEnvelope(capiStore().createKeyPair(providerName, keyBits, containerName, useExistingKey,
                                                         exportable, providerType, subjectText, alsoGenerateCsr));
    };
}

Operation generateCsr(const ArgVector& args)
{
    const std::string providerName = args.text(3);
    const int providerType = args.integer(4);
    const std::string containerName = args.text(5);
    const std::string subjectText = args.text(6);
    return [=] {
        return successEnvelope(capiStore().generateCSR(subjectText, providerName, containerName, providerType));
    };
}

Operation importCertificate(const ArgVector& args)
{
    const std::string providerName = args.text(3);
    const int providerType = args.integer(4);
    const std::string containerName = args.text(5);
    std::string certificateText = args.base64Text(6);
    return [=, certificateText = std::move(certificateText)] {
        return successEnvelope(capiStore().acceptPKCS7(certificateText, providerName, containerName, providerType));
    };
}

}  // namespace

std::vector<Command> capiCommands()
{
    return {
        {"capi", "list", "csp", Guard::StandardFailures, listCsp},
        {"capi", "list", "ksp", Guard::RuntimeErrors, listKsp},
        {"capi", "list", "certificates", Guard::RuntimeErrors, listCertificates},
        {"capi", "list", "countContainer", Guard::RuntimeErrors, countContainer},
        {"capi", "list", "listContainer", Guard::RuntimeErrors, listContainer},
        {"capi", "crypt", "sign", Guard::StandardFailures, cryptSign},
        {"capi", "crypt", "signList", Guard::StandardFailures, cryptSignList},
        {"capi", "repo", "createKeyPair", Guard::NullOnly, createKeyPair},
        {"capi", "repo", "generateCSR", Guard::TopLevel, generateCsr},
        {"capi", "repo", "importCertificate", Guard::StandardFailures, importCertificate},
    };
}
