#include "CertificateInstallation.h"

#include <windows.h>
#include <wincrypt.h>

#include <stdexcept>
#include <vector>

#include "CapiMessages.h"
#include "CertificateBytes.h"
#include "CryptHandles.h"
#include "Encoding.h"
#include "ProviderRules.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A name in UTF-16 (wide text on the stand-in) through the ANSI code page.
// With the length -1 both calls count the terminator, and the second writes
// it; they answer 0 on failure.
std::vector<WCHAR> wideName(const std::string& name, const char* countFailed, const char* conversionFailed)
{
    const int count = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (count == 0)
        throw std::runtime_error(countFailed);
    std::vector<WCHAR> wide(static_cast<std::size_t>(count));
    const int written = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), count);
    if (written == 0)
        throw std::runtime_error(conversionFailed);
    wide.resize(static_cast<std::size_t>(written));
    return wide;
}

void installInStore(
    const Bytes& certificate, const std::string& providerName, const std::string& containerName, int providerType)
{
    // Declared in the reverse of their release: the names, the store, the
    // certificate.
    CertificateContext created;
    CertificateStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
    if (!store)
        throw std::runtime_error(kInstallOpenStoreFailed);
    created.reset(CertCreateCertificateContext(kEncoding, certificate.data(), static_cast<DWORD>(certificate.size())));
    if (!created)
        throw std::runtime_error(kInstallCreateContextFailed);

    std::vector<WCHAR> container = wideName(containerName, kInstallWideContainerFailed, kInstallWideContainerFailed);
    std::vector<WCHAR> provider = wideName(providerName, kInstallWideProviderCountFailed, kInstallWideProviderFailed);
    CRYPT_KEY_PROV_INFO keyProviderInfo {};
    keyProviderInfo.pwszContainerName = container.data();
    keyProviderInfo.pwszProvName = provider.data();
    keyProviderInfo.dwProvType = static_cast<DWORD>(providerType);
    keyProviderInfo.dwKeySpec = AT_KEYEXCHANGE;
    // The key link goes on before the certificate enters "MY", which copies
    // the context's properties with it: a signer that finds the certificate
    // finds its key, even while a re-installation is under way.
    if (!CertSetCertificateContextProperty(created.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &keyProviderInfo))
        throw std::runtime_error(kInstallSetPropertyFailed);
    if (!CertAddCertificateContextToStore(store.get(), created.get(), CERT_STORE_ADD_ALWAYS, nullptr))
        throw std::runtime_error(kInstallAddFailed);
}

void installOnKey(
    const Bytes& certificate, const std::string& providerName, const std::string& containerName, int providerType)
{
    // Declared in the reverse of their release: key, context.
    ProviderContext context;
    KeyObject key;
    HCRYPTPROV rawContext = 0;
    if (!CryptAcquireContextA(
            &rawContext, containerName.c_str(), providerName.c_str(), static_cast<DWORD>(providerType), 0))
        throw std::runtime_error(kInstallAcquireFailed);
    context.reset(rawContext);
    HCRYPTKEY rawKey = 0;
    if (!CryptGetUserKey(context.get(), AT_KEYEXCHANGE, &rawKey))
        throw std::runtime_error(kInstallGetUserKeyFailed);
    key.reset(rawKey);
    // KP_CERTIFICATE carries no length: the provider reads it from the DER
    // header, so the bytes must be exactly one DER sequence.
    if (!isOneDerSequence(certificate) || !CryptSetKeyParam(key.get(), KP_CERTIFICATE, certificate.data(), 0))
        throw std::runtime_error(kInstallSetKeyParamFailed);
}

} // namespace

void installCertificate(const std::string& certificateText, const std::string& providerName,
    const std::string& containerName, int providerType)
{
    if (providerName.empty())
        throw std::runtime_error(kInstallProviderNameNull);
    if (containerName.empty())
        throw std::runtime_error(kInstallContainerNameNull);
    if (certificateText.empty())
        throw std::runtime_error(kInstallCertificateNull);
    const Bytes certificate = base64Decode(certificateText);
    if (installsInStore(providerName, providerType))
        installInStore(certificate, providerName, containerName, providerType);
    else
        installOnKey(certificate, providerName, containerName, providerType);
}
