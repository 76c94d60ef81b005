#include "CapiStore.h"

#include <stdexcept>

#include "AnsiText.h"
#include "CapiMessages.h"
#include "CertificateInstallation.h"
#include "CertificateKey.h"
#include "CertificateRequest.h"
#include "Encoding.h"
#include "Failures.h"
#include "KeyPair.h"
#include "ProviderEnumeration.h"
#include "SigningAlgorithm.h"

namespace {

using Json = nlohmann::json;

// Listings may carry names in another code page; their bytes that are not
// UTF-8 are written as U+FFFD instead of failing the listing.
std::string compact(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// A member that is absent reads as null.
const Json& member(const Json& item, const char* key)
{
    static const Json absent;
    const auto found = item.find(key);
    return found == item.end() ? absent : *found;
}

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
        return base64Encode(key.signHash(hash));
    });
}

std::string CapiStore::signList(const std::string& thumbprint, const std::string& algorithmName,
                                const Json& list) const
{
    return raisedStyle([&] {
        // Every value is checked before the key is opened, so one bad value
        // signs nothing; values of the wrong type fail in their turn below.
        for (const Json& item : list) {
            const Json& text = member(item, "value");
            if (text.is_string())
                requireBase64(text.get_ref<const std::string&>());
        }
        const SigningAlgorithm& algorithm = signingAlgorithm(algorithmName);
        const CertificateKey key(thumbprint);
        Json answer = Json::array();
        if (list.is_null())
            return compact(answer);
        for (const Json& item : list) {
            const Json& text = member(item, "value");
            const Bytes value = base64Decode(text.get<std::string>());
            const HashObject hash = key.createHash(algorithm);
            const bool readyDigest = member(item, "hashedData").get<bool>();
            key.putValue(hash, algorithm, value, readyDigest);
            const std::string signature = base64Encode(key.signHash(hash));
            answer.push_back({{"data", text}, {"id", member(item, "id")}, {"signed", signature}});
        }
        return compact(answer);
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

std::string CapiStore::listContainer(const std::string& providerName, int providerType) const
{
    return raisedStyle([&] {
        Json answer;
        for (const std::string& name : enumerateContainers(providerName, providerType))
            answer.push_back({{"name", utf8FromAnsi(name)}});
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
    const std::string keyAnswer = errorTextStyle([&] {
        return exchangeKeyBlob(providerName, keyBits, containerName, useExistingKey, exportable, providerType);
    });
    return alsoGenerateCsr ? generateCSR(subjectText, providerName, containerName, providerType) : keyAnswer;
}

std::string CapiStore::generateCSR(const std::string& subjectText, const std::string& providerName,
                                   const std::string& containerName, int providerType) const
{
    return errorTextStyle([&] { return certificateRequest(subjectText, providerName, containerName, providerType); });
}
