// crypt32 certificate stores: opening a persisted system store of the
// emulated machine, closing, adding, enumerating and finding.
#include <wincrypt.h>
#include <windows.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "machine/FaultSwitch.h"
#include "kernel32/Handles.h"
#include "machine/StateFiles.h"
#include "machine/WideText.h"
#include "crypt32/CryptFailure.h"
#include "crypt32/CertStore.h"
#include "crypt32/Thumbprint.h"

namespace {

struct OpenStore {
    std::shared_ptr<standin::CertStore> store;
};

standin::HandleTable<OpenStore>& openStores()
{
    static standin::HandleTable<OpenStore> stores(0x40000);
    return stores;
}

std::shared_ptr<standin::CertStore> storeOf(HCERTSTORE handle)
{
    OpenStore* open = openStores().find(reinterpret_cast<ULONG_PTR>(handle));
    if (!open)
        standin::failWith(E_INVALIDARG);
    return open->store;
}

// The current user's system stores only, named in UTF-16 as every caller does.
std::shared_ptr<standin::CertStore> openSystemStore(DWORD flags, const void* name)
{
    if (flags != CERT_SYSTEM_STORE_CURRENT_USER || !name)
        standin::failWith(E_INVALIDARG);
    const std::string text = standin::utf8FromWide(static_cast<const WCHAR*>(name));
    if (text.empty())
        standin::failWith(E_INVALIDARG);
    const std::string directory = standin::storeDirectory("CurrentUser", text);
    // Windows creates a system store on first open.
    struct stat status;
    const bool exists = ::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    if (!exists && !standin::makePrivateTree(directory))
        standin::failWith(ERROR_ACCESS_DENIED);
    return standin::CertStore::persisted(directory);
}

using Match = std::function<bool(const standin::StoredCertificate&)>;

// The next certificate after `previous` (released here, as crypt32 does)
// that `matches`, as a new context.
PCCERT_CONTEXT nextContext(HCERTSTORE handle, PCCERT_CONTEXT previous, const Match& matches)
{
    std::shared_ptr<standin::StoredCertificate> after;
    std::shared_ptr<standin::CertStore> previousStore;
    if (previous) {
        if (standin::CertContextObject* object = standin::contextObject(previous)) {
            after = object->certificate;
            previousStore = object->store;
        }
        standin::releaseContext(previous);
    }
    const auto store = storeOf(handle);
    const auto& certificates = store->certificates();
    auto at = certificates.begin();
    if (previous) {
        at = std::find(certificates.begin(), certificates.end(), after);
        if (previousStore != store || at == certificates.end())
            standin::failWith(E_INVALIDARG);
        ++at;
    }
    for (; at != certificates.end(); ++at) {
        if (!matches(**at))
            continue;
        try {
            return standin::makeContext(*at, store, handle);
        } catch (const standin::CryptFailure&) {
            // A damaged entry in the machine's store is passed over.
        }
    }
    standin::failWith(CRYPT_E_NOT_FOUND);
}

Match findMatch(DWORD findType, const void* findPara)
{
    switch (findType) {
    case CERT_FIND_ANY:
        return [](const standin::StoredCertificate&) { return true; };
    case CERT_FIND_SHA1_HASH: {
        const auto* wanted = static_cast<const CRYPT_HASH_BLOB*>(findPara);
        if (!wanted || (wanted->cbData && !wanted->pbData))
            standin::failWith(E_INVALIDARG);
        const standin::Bytes hash(wanted->pbData, wanted->pbData + wanted->cbData);
        return [hash](const standin::StoredCertificate& certificate) {
            return standin::sha1Thumbprint(certificate.encoded) == hash;
        };
    }
    default:
        standin::failWith(E_INVALIDARG);
    }
}

} // namespace

HCERTSTORE WINAPI CertOpenStore(
    LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara)
{
    (void)dwEncodingType;
    (void)hCryptProv;
    if (standin::injectFault("CertOpenStore"))
        return nullptr;
    return standin::answerOrFail<HCERTSTORE>(nullptr, [&]() {
        if (lpszStoreProvider != CERT_STORE_PROV_SYSTEM_W)
            standin::failWith(ERROR_FILE_NOT_FOUND); // no such store provider is installed
        const auto store = openSystemStore(dwFlags, pvPara);
        return reinterpret_cast<HCERTSTORE>(openStores().add(std::make_unique<OpenStore>(OpenStore { store })));
    });
}

BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags)
{
    // Contexts still held keep their store's data alive even under
    // CERT_CLOSE_STORE_FORCE_FLAG: a caller's context never dangles.
    (void)dwFlags;
    if (standin::injectFault("CertCloseStore"))
        return FALSE;
    if (!hCertStore)
        return TRUE;
    return openStores().remove(reinterpret_cast<ULONG_PTR>(hCertStore)) ? TRUE : standin::fail(E_INVALIDARG);
}

BOOL WINAPI CertAddCertificateContextToStore(
    HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext)
{
    if (standin::injectFault("CertAddCertificateContextToStore"))
        return FALSE;
    if (ppStoreContext)
        *ppStoreContext = nullptr;
    return standin::answerOrFail<BOOL>(FALSE, [&]() {
        const auto store = storeOf(hCertStore);
        const standin::CertContextObject* source = standin::contextObject(pCertContext);
        if (!source)
            standin::failWith(E_INVALIDARG);
        // Every addition is a new copy: no caller asks for another disposition.
        if (dwAddDisposition != CERT_STORE_ADD_ALWAYS)
            standin::failWith(E_INVALIDARG);
        const auto stored = store->add(source->certificate->encoded, source->certificate->properties);
        if (ppStoreContext)
            *ppStoreContext = standin::makeContext(stored, store, hCertStore);
        return TRUE;
    });
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext)
{
    if (standin::injectFault("CertEnumCertificatesInStore"))
        return nullptr;
    return standin::answerOrFail<PCCERT_CONTEXT>(nullptr, [&]() {
        return nextContext(hCertStore, pPrevCertContext, [](const standin::StoredCertificate&) { return true; });
    });
}

PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType, DWORD dwFindFlags,
    DWORD dwFindType, const void* pvFindPara, PCCERT_CONTEXT pPrevCertContext)
{
    (void)dwCertEncodingType;
    (void)dwFindFlags;
    if (standin::injectFault("CertFindCertificateInStore")) {
        standin::releaseContext(pPrevCertContext);
        return nullptr;
    }
    return standin::answerOrFail<PCCERT_CONTEXT>(nullptr, [&]() {
        Match matches;
        try {
            matches = findMatch(dwFindType, pvFindPara);
        } catch (const standin::CryptFailure&) {
            standin::releaseContext(pPrevCertContext);
            throw;
        }
        return nextContext(hCertStore, pPrevCertContext, matches);
    });
}
