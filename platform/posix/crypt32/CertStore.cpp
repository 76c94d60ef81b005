#include "crypt32/CertStore.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "crypt32/CryptFailure.h"

namespace standin {
namespace {

std::map<const CERT_CONTEXT*, std::unique_ptr<CertContextObject>>& liveContexts()
{
    static std::map<const CERT_CONTEXT*, std::unique_ptr<CertContextObject>> contexts;
    return contexts;
}

// Threads that sign make and free contexts of their own at once.
std::mutex& contextsMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

std::shared_ptr<CertStore> CertStore::persisted(std::string directory)
{
    auto store = std::make_shared<CertStore>();
    for (StoreEntryFiles& entry : loadStoreEntries(directory))
        store->certificates_.push_back(std::make_shared<StoredCertificate>(StoredCertificate {
            std::move(entry.encoded), std::move(entry.properties), std::move(entry.id), X509_ASN_ENCODING }));
    std::reverse(store->certificates_.begin(), store->certificates_.end());
    store->directory_ = std::move(directory);
    return store;
}

std::shared_ptr<StoredCertificate> CertStore::add(const Bytes& encoded, const Properties& properties)
{
    auto certificate
        = std::make_shared<StoredCertificate>(StoredCertificate { encoded, properties, {}, X509_ASN_ENCODING });
    certificate->entryId = addStoreEntry(directory_, encoded, properties);
    certificates_.insert(certificates_.begin(), certificate);
    return certificate;
}

void CertStore::persist(const StoredCertificate& certificate)
{
    if (!certificate.entryId.empty())
        saveEntryProperties(directory_, certificate.entryId, certificate.properties);
}

PCCERT_CONTEXT makeContext(
    std::shared_ptr<StoredCertificate> certificate, std::shared_ptr<CertStore> store, HCERTSTORE handle)
{
    auto object = std::make_unique<CertContextObject>();
    object->decoded = std::make_unique<DecodedCertificate>(certificate->encoded);
    object->certificate = std::move(certificate);
    object->store = std::move(store);
    const Bytes& encoded = object->decoded->encoded();
    object->context.dwCertEncodingType = object->certificate->encodingType;
    object->context.pbCertEncoded = const_cast<BYTE*>(encoded.data());
    object->context.cbCertEncoded = static_cast<DWORD>(encoded.size());
    object->context.pCertInfo = object->decoded->info();
    object->context.hCertStore = handle;
    const CERT_CONTEXT* context = &object->context;
    const std::lock_guard<std::mutex> lock(contextsMutex());
    liveContexts().emplace(context, std::move(object));
    return context;
}

CertContextObject* contextObject(PCCERT_CONTEXT context)
{
    const std::lock_guard<std::mutex> lock(contextsMutex());
    auto found = liveContexts().find(context);
    return found == liveContexts().end() ? nullptr : found->second.get();
}

void releaseContext(PCCERT_CONTEXT context)
{
    const std::lock_guard<std::mutex> lock(contextsMutex());
    liveContexts().erase(context);
}

} // namespace standin
