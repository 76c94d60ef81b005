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
    std::string listContainer(const std::string& providerName, int providerType) const;

    // ErrorText style: failures are answered as {"error":"<message>"}.
    std::string countContainers(const std::string& providerName, int providerType) const;
};
