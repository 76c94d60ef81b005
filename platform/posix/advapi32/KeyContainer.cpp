// OpenSSL's headers come first: <wincrypt.h> defines X509_NAME as a macro.
#include <openssl/crypto.h>
#include <openssl/sha.h>

#include "advapi32/KeyContainer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <iterator>

#include "machine/StateFiles.h"
#include "machine/WinRoot.h"

namespace standin {
namespace {

constexpr char kKeyFile[] = ".key";
constexpr char kCertificateFile[] = ".cer";
constexpr char kClaim[] = "claim";
constexpr char kStaging[] = "new";
constexpr char kRemoved[] = "gone";

struct KeySpecName {
    DWORD keySpec;
    const char* fileStem;
    ALG_ID algId;
};

constexpr KeySpecName kKeySpecs[] = {
    {AT_KEYEXCHANGE, "exchange", CALG_RSA_KEYX},
    {AT_SIGNATURE, "signature", CALG_RSA_SIGN},
};

const KeySpecName* specName(DWORD keySpec)
{
    for (const auto& spec : kKeySpecs)
        if (spec.keySpec == keySpec)
            return &spec;
    return nullptr;
}

bool isDirectory(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

KeyContainer::KeyContainer(std::string name, std::string directory)
    : name_(std::move(name))
    , directory_(std::move(directory))
{
}

KeyContainer::KeyContainer(
    std::string name, std::string directory, std::string staging, std::unique_ptr<FileClaim> claim)
    : name_(std::move(name))
    , directory_(std::move(directory))
    , staging_(std::move(staging))
    , claim_(std::move(claim))
{
}

std::string KeyContainer::path(DWORD keySpec, const char* suffix) const
{
    return directory_ + "/" + specName(keySpec)->fileStem + suffix;
}

std::shared_ptr<RsaKey> KeyContainer::key(DWORD keySpec, DWORD& error)
{
    error = NTE_NO_KEY;
    if (!specName(keySpec))
        return nullptr;
    if (auto it = keys_.find(keySpec); it != keys_.end()) {
        error = ERROR_SUCCESS;
        return it->second;
    }
    std::string text;
    if (!persistent() || !readFile(path(keySpec, kKeyFile), text))
        return nullptr;
    auto key = RsaKey::fromFileText(text, specName(keySpec)->algId);
    OPENSSL_cleanse(text.data(), text.size());
    if (!key) {
        error = NTE_KEYSET_ENTRY_BAD;
        return nullptr;
    }
    keys_[keySpec] = key;
    error = ERROR_SUCCESS;
    return key;
}

bool KeyContainer::storeKey(DWORD keySpec, std::shared_ptr<RsaKey> key)
{
    if (!specName(keySpec))
        return false;
    if (persistent()) {
        std::string text = key->fileText();
        const bool written
            = !text.empty() && (claim_ ? appearWith(keySpec, text) : writeFileAtomic(path(keySpec, kKeyFile), text));
        OPENSSL_cleanse(text.data(), text.size());
        if (!written)
            return false;
    }
    keys_[keySpec] = std::move(key);
    return true;
}

bool KeyContainer::appearWith(DWORD keySpec, const std::string& keyText)
{
    const std::string keyFile = staging_ + "/" + specName(keySpec)->fileStem + kKeyFile;
    if (createDirectoryExclusive(staging_) != Creation::Created || !writeFileAtomic(keyFile, keyText)
        || !renameNoReplace(staging_, directory_)) {
        removeTree(staging_);
        return false;
    }
    claim_.reset();
    return true;
}

bool KeyContainer::storeCertificate(DWORD keySpec, const std::string& der)
{
    if (!specName(keySpec))
        return false;
    if (!persistent()) {
        certificates_[keySpec] = der;
        return true;
    }
    return writeFileAtomic(path(keySpec, kCertificateFile), der);
}

bool KeyContainer::certificate(DWORD keySpec, std::string& der)
{
    if (!specName(keySpec))
        return false;
    if (!persistent()) {
        auto it = certificates_.find(keySpec);
        if (it == certificates_.end())
            return false;
        der = it->second;
        return true;
    }
    return readFile(path(keySpec, kCertificateFile), der);
}

KeyStore::KeyStore(const ProviderInfo& provider)
    : directory_(winRoot() + "/crypto/user/" + provider.keyStore)
{
}

std::string KeyStore::containerDirectory(const std::string& name) const
{
    return directory_ + "/" + encodeFileName(name);
}

std::string KeyStore::hiddenPath(const char* kind, const std::string& name) const
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest);
    return directory_ + "/." + kind + "-" + encodeFileName(std::string(std::begin(digest), std::end(digest)));
}

DWORD KeyStore::create(const std::string& name, std::shared_ptr<KeyContainer>& container) const
{
    const std::string directory = containerDirectory(name);
    if (encodeFileName(name).size() > NAME_MAX)
        return NTE_BAD_KEYSET_PARAM;
    if (!makePrivateTree(directory_))
        return NTE_FAIL;
    std::unique_ptr<FileClaim> claim;
    switch (FileClaim::take(hiddenPath(kClaim, name), claim)) {
    case Creation::Created:
        break;
    case Creation::Exists:
        return NTE_EXISTS;
    case Creation::Failed:
        return NTE_FAIL;
    }
    if (isDirectory(directory))
        return NTE_EXISTS;
    // What a killed creator of this name left half made goes first.
    const std::string staging = hiddenPath(kStaging, name);
    if (isDirectory(staging) && !removeTree(staging))
        return NTE_FAIL;
    container = std::make_shared<KeyContainer>(name, directory, staging, std::move(claim));
    return ERROR_SUCCESS;
}

DWORD KeyStore::remove(const std::string& name) const
{
    const std::string directory = containerDirectory(name);
    if (encodeFileName(name).size() > NAME_MAX || !isDirectory(directory))
        return NTE_BAD_KEYSET;
    // Out of sight in one rename, then removed: a kill leaves the container
    // whole or gone.
    const std::string removed = hiddenPath(kRemoved, name) + "-" + std::to_string(::getpid());
    if (!renameNoReplace(directory, removed))
        return NTE_FAIL;
    removeTree(removed);
    return ERROR_SUCCESS;
}

DWORD KeyStore::open(const std::string& name, std::shared_ptr<KeyContainer>& container) const
{
    const std::string directory = containerDirectory(name);
    if (encodeFileName(name).size() > NAME_MAX || !isDirectory(directory))
        return NTE_BAD_KEYSET;
    container = std::make_shared<KeyContainer>(name, directory);
    return ERROR_SUCCESS;
}

std::vector<std::string> KeyStore::names() const
{
    std::vector<std::string> names;
    for (const auto& entry : listDirectory(directory_)) {
        std::string name;
        if (decodeFileName(entry, name) && isDirectory(directory_ + "/" + entry))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace standin
