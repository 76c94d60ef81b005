// OpenSSL's headers come first: <wincrypt.h> defines X509_NAME as a macro.
#include <openssl/crypto.h>

#include "ncrypt/StorageProviders.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cwchar>

#include "machine/StateFiles.h"
#include "machine/WinRoot.h"

namespace standin {
namespace {

constexpr char kKeySpecLine[] = "keyspec: ";
constexpr char kStaging[] = ".new-";

ALG_ID algorithmOf(DWORD legacyKeySpec) { return legacyKeySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX; }

}  // namespace

const std::vector<StorageProvider>& storageProviders()
{
    static const std::vector<StorageProvider> providers = {
        {MS_KEY_STORAGE_PROVIDER, L"Microsoft Software Key Storage Provider", "software", true, false},
        {MS_SMART_CARD_KEY_STORAGE_PROVIDER, nullptr, "smartcard", false, true},
    };
    return providers;
}

const StorageProvider* findStorageProvider(const WCHAR* name)
{
    for (const auto& provider : storageProviders())
        if (std::wcscmp(provider.name, name) == 0)
            return &provider;
    return nullptr;
}

KeyFiles::KeyFiles(const StorageProvider& provider, bool machine)
    : directory_(winRoot() + "/crypto/" + (machine ? "machine" : "user") + "/ksp/" + provider.keyStore)
{
}

std::string KeyFiles::path(const std::string& name) const { return directory_ + "/" + encodeFileName(name); }

bool KeyFiles::exists(const std::string& name) const { return ::access(path(name).c_str(), F_OK) == 0; }

SECURITY_STATUS KeyFiles::read(const std::string& name, StoredKey& key) const
{
    std::string text;
    if (encodeFileName(name).size() > NAME_MAX || !readFile(path(name), text))
        return NTE_BAD_KEYSET;
    const std::size_t lineEnd = text.find('\n');
    const bool wellFormed = text.compare(0, sizeof kKeySpecLine - 1, kKeySpecLine) == 0 && lineEnd != std::string::npos;
    if (wellFormed) {
        key.legacyKeySpec = static_cast<DWORD>(std::strtoul(text.c_str() + sizeof kKeySpecLine - 1, nullptr, 10));
        std::string keyText = text.substr(lineEnd + 1);
        key.key = RsaKey::fromFileText(keyText, algorithmOf(key.legacyKeySpec));
        OPENSSL_cleanse(keyText.data(), keyText.size());
    }
    OPENSSL_cleanse(text.data(), text.size());
    return key.key ? ERROR_SUCCESS : NTE_BAD_KEYSET;
}

SECURITY_STATUS KeyFiles::add(const std::string& name, const StoredKey& key) const
{
    if (encodeFileName(name).size() > NAME_MAX)
        return NTE_INVALID_PARAMETER;
    if (!makePrivateTree(directory_))
        return NTE_FAIL;
    // Sized once, and every copy of the key wiped: no freed block keeps it.
    std::string keyText = key.key->fileText();
    const std::string header = kKeySpecLine + std::to_string(key.legacyKeySpec) + "\n";
    std::string text;
    text.reserve(header.size() + keyText.size());
    text.append(header).append(keyText);
    OPENSSL_cleanse(keyText.data(), keyText.size());
    // A hidden name of this process's own, short whatever the key's name.
    static std::atomic<unsigned> written { 0 };
    const std::string staging
        = directory_ + "/" + kStaging + std::to_string(::getpid()) + "-" + std::to_string(++written);
    const bool staged = writeFileAtomic(staging, text);
    OPENSSL_cleanse(text.data(), text.size());
    if (!staged)
        return NTE_FAIL;
    if (renameNoReplace(staging, path(name)))
        return ERROR_SUCCESS;
    removeFile(staging);
    return exists(name) ? NTE_EXISTS : NTE_FAIL;
}

SECURITY_STATUS KeyFiles::remove(const std::string& name) const
{
    if (!exists(name))
        return NTE_BAD_KEYSET;
    return removeFile(path(name)) ? ERROR_SUCCESS : NTE_FAIL;
}

std::vector<std::string> KeyFiles::names() const
{
    std::vector<std::string> names;
    for (const auto& entry : listDirectory(directory_)) {
        std::string name;
        if (decodeFileName(entry, name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace standin
