// Certificate stores and contexts of the crypt32 stand-in. A store keeps its
// certificates (bytes and properties) in order; a context is a reference-
// counted heap object that shares its certificate's record and keeps the
// store alive, so closing a store, even forcibly, never frees what a caller
// still holds.
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "crypt32/DecodedCertificate.h"
#include "crypt32/StoreFiles.h"

namespace standin {

struct StoredCertificate {
    Bytes encoded;
    Properties properties;
    std::string entryId; // persisted entries only
    DWORD encodingType = X509_ASN_ENCODING;
};

// The newest certificate comes first: of two copies that
// CERT_STORE_ADD_ALWAYS made, a search finds the later one, just as Windows,
// whose system stores keep one copy per thumbprint, finds the properties of
// the later installation.
class CertStore {
public:
    // Loads the persisted store in `directory`.
    static std::shared_ptr<CertStore> persisted(std::string directory);

    const std::vector<std::shared_ptr<StoredCertificate>>& certificates() const { return certificates_; }

    std::shared_ptr<StoredCertificate> add(const Bytes& encoded, const Properties& properties);
    // Writes the certificate's properties through to the persisted entry.
    void persist(const StoredCertificate& certificate);

private:
    std::string directory_;
    std::vector<std::shared_ptr<StoredCertificate>> certificates_;
};

struct CertContextObject {
    CERT_CONTEXT context {}; // what callers see; its address is the PCCERT_CONTEXT
    std::unique_ptr<DecodedCertificate> decoded;
    std::shared_ptr<StoredCertificate> certificate;
    std::shared_ptr<CertStore> store; // null for a context outside any store
};

// A new context for `certificate`, which `handle` names.
PCCERT_CONTEXT makeContext(
    std::shared_ptr<StoredCertificate> certificate, std::shared_ptr<CertStore> store, HCERTSTORE handle);
// The stand-in's object behind a context it handed out; null for any other pointer.
CertContextObject* contextObject(PCCERT_CONTEXT context);
void releaseContext(PCCERT_CONTEXT context);

} // namespace standin
