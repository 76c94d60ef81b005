// The CryptoAPI operations. The store keeps nothing between calls: each
// operation opens, uses and releases its own handles, so any instance serves
// any operation.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

class CapiStore {
public:
    // Raised style: failures leave as std::runtime_error with their message.
    std::string sign(const std::string& thumbprint, const std::string& algorithmName, const std::string& data,
                     bool readyDigest) const;
    std::string signList(const std::string& thumbprint, const std::string& algorithmName,
                         const nlohmann::json& list) const;
    std::string listCSPs() const;
    // The CNG key storage providers, [{"name", "comment"}].
    nlohmann::json listKSPs() const;
    // The certificates of the current user's "MY" store.
    nlohmann::json listCertificates() const;
    std::string listContainer(const std::string& providerName, int providerType) const;
    // Answers {"result":"ok"} once the certificate is installed.
    std::string acceptPKCS7(const std::string& certificateText, const std::string& providerName,
                            const std::string& containerName, int providerType) const;

    // ErrorText style: failures are answered as {"error":"<message>"}.
    std::string countContainers(const std::string& providerName, int providerType) const;
    // The public key blob in base64; with `alsoGenerateCsr`, whatever the key
    // step answered, the request's answer instead.
    std::string createKeyPair(const std::string& providerName, int keyBits, const std::string& containerName,
                              bool useExistingKey, bool exportable, int providerType, const std::string& subjectText,
                              bool alsoGenerateCsr) const;
    std::string generateCSR(const std::string& subjectText, const std::string& providerName,
                            const std::string& containerName, int providerType) const;
};
