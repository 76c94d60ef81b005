// The objects behind advapi32's handles, shared by the files of the stand-in's
// advapi32: provider contexts, keys and hashes. A key or hash refers to the
// context it was made on, so that releasing that context while they live is
// seen (see CryptReleaseContext).
#pragma once

// RsaKey.h first: it orders OpenSSL before <wincrypt.h>.
#include "advapi32/RsaKey.h"

#include "kernel32/Handles.h"
#include "advapi32/KeyContainer.h"
#include "advapi32/Providers.h"

#include <memory>
#include <string>
#include <vector>

namespace standin {

struct ProviderContext {
    ProviderInfo provider;
    std::shared_ptr<KeyContainer> container;
    // PP_ENUMCONTAINERS: the names seen at CRYPT_FIRST and the next to give.
    std::vector<std::string> enumeration;
    std::size_t enumerationNext = 0;
};

struct KeyObject {
    std::shared_ptr<RsaKey> key;
    std::shared_ptr<ProviderContext> context;
    // The container and key spec the key belongs to.
    std::shared_ptr<KeyContainer> container;
    DWORD keySpec = 0;
    bool keepsCertificates = false;
};

struct EvpMdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

struct HashObject {
    std::shared_ptr<ProviderContext> context;
    ALG_ID algId = 0;
    std::unique_ptr<EVP_MD_CTX, EvpMdCtxFree> ctx;
    DWORD size = 0;
    bool finished = false;
    unsigned char value[EVP_MAX_MD_SIZE] = {};
};

// Handle tables: the context table holds shared owners, since hashes share
// their context.
HandleTable<std::shared_ptr<ProviderContext>>& contextHandles();
HandleTable<KeyObject>& keyHandles();
HandleTable<HashObject>& hashHandles();

std::shared_ptr<ProviderContext> findContext(HCRYPTPROV handle);

// The size-query-then-fill answer: size only when pbData is NULL,
// ERROR_MORE_DATA with the size when the buffer is short, else the value.
BOOL copyOut(const void* value, DWORD size, BYTE* pbData, DWORD* pdwDataLen);

}  // namespace standin
