#include "CapiStore.h"

#include <stdexcept>

#include "AnsiText.h"
#include "CapiMessages.h"
#include "CertificateInstallation.h"
#include "CertificateDetails.h"
#include "CertificateKey.h"
#include "CertificateRequest.h"
#include "Encoding.h"
#include "Failures.h"
#include "KeyPair.h"
#include "ListSigning.h"
#include "ProviderEnumeration.h"
#include "SignedList.h"
#include "SigningAlgorithm.h"

namespace {

using Json = nlohmann::json;

}  // namespace

std::string CapiStore::sign(const std::string& thumbprint, const std::string& algorithmName, const std::string& data,
                            bool readyDigest) const
{
    return raisedStyle([&] {
        requireBase64(data);
        const Bytes value = base64Decode(data);
        const SigningAlgorithm& algorithm = signingAlgorithm(algorithmName);
        const CertificateKey key(thumbprint);
        const HashObject hash = key.createHash(algorithm);
        key.putValue(hash, algorithm, value, readyDigest);
        return base64Encode(key.signHash(hash, algorithm));
    });
}

std::string CapiStore::signList(const std::string& thumbprint, const std::string& algorithmName,
                                const Json& list) const
{
    return raisedStyle([&] {
        requireBase64Values(list);
        const SigningAlgorithm& algorithm = signingAlgorithm(algorithmName);
        const CertificateKey key(thumbprint);
        if (list.is_null())
            return SignedList().text();
        return signListItems(thumbprint, key, algorithm, list);
    });
}

std::string CapiStore::listCSPs() const
{
    return raisedStyle([] {
        Json answer;
        for (const ProviderEntry& provider : enumerateProviders())
            answer.push_back({{"cspname", utf8FromAnsi(provider.name)}, {"csptype", provider.type}});
        return compact(answer);
    });
}

Json CapiStore::listKSPs() const
{
    return raisedStyle([] {
        Json answer = Json::array();
        for (const StorageProviderEntry& provider : enumerateStorageProviders())
            answer.push_back({{"name", provider.name},
                              {"comment", provider.comment ? Json(*provider.comment) : Json(nullptr)}});
        return answer;
    });
}

Json CapiStore::listCertificates() const
{
    return raisedStyle([] { return storeCertificates(); });
}

std::string CapiStore::listContainer(const std::string& providerName, int providerType) const
{
    return raisedStyle([&] {
        Json answer;
        for (const std::string& name : enumerateContainers(providerName, providerType))
            answer.push_back({{"name", name}});
        return compact(answer);
    });
}

std::string CapiStore::countContainers(const std::string& providerName, int providerType) const
{
    return errorTextStyle([&] { return std::to_string(enumerateContainers(providerName, providerType).size()); });
}

std::string CapiStore::acceptPKCS7(const std::string& certificateText, const std::string& providerName,
                                   const std::string& containerName, int providerType) const
{
    return raisedStyle([&] {
        installCertificate(certificateText, providerName, containerName, providerType);
        return std::string(kInstallAnswer);
    });
}

std::string CapiStore::createKeyPair(const std::string& providerName, int keyBits, const std::string& containerName,
                                     bool useExistingKey, bool exportable, int providerType,
                                     const std::string& subjectText, bool alsoGenerateCsr) const
{
    if (useExistingKey) {
        const std::string keyAnswer = errorTextStyle([&] {
            NewContainer none;
            return exchangeKeyBlob(providerName, keyBits, containerName, true, exportable, providerType, none);
        });
        return alsoGenerateCsr ? generateCSR(subjectText, providerName, containerName, providerType) : keyAnswer;
    }
    // A new key answers its own failure: a request made after it would send
    // the key that the container held before to the CA. The container goes
    // again when the key or its request fails.
    return errorTextStyle([&] {
        NewContainer made;
        std::string answer
            = exchangeKeyBlob(providerName, keyBits, containerName, false, exportable, providerType, made);
        if (alsoGenerateCsr)
            answer = certificateRequest(subjectText, providerName, containerName, providerType);
        made.keep();
        return answer;
    });
}

std::string CapiStore::generateCSR(const std::string& subjectText, const std::string& providerName,
                                   const std::string& containerName, int providerType) const
{
    return errorTextStyle([&] { return certificateRequest(subjectText, providerName, containerName, providerType); });
}
