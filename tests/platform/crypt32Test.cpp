// The crypt32 stand-in called directly, for what no request of sigbrid
// reaches: refusals and their Windows codes, the size protocol, copies and
// the key link in the MY store, and a store that survives a killed installer.
#include "StandInSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace standin {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class Crypt32 : public ::testing::Test {
protected:
    Machine machine_;
};

Certificate decode(const Bytes& der, std::size_t cut = 0)
{
    return Certificate(CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size() - cut)));
}

// The installation the product performs: ADD_ALWAYS, then the key link.
void install(const Bytes& der, const wchar_t* container)
{
    CRYPT_KEY_PROV_INFO info {};
    info.pwszContainerName = const_cast<LPWSTR>(container);
    info.pwszProvName = const_cast<LPWSTR>(L"Microsoft Enhanced RSA and AES Cryptographic Provider");
    info.dwProvType = PROV_RSA_AES;
    info.dwKeySpec = AT_KEYEXCHANGE;
    Store store(openMyStore());
    Certificate stored;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), decode(der).get(), CERT_STORE_ADD_ALWAYS, stored.out()));
    ASSERT_TRUE(CertSetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
}

Certificate findByHash(HCERTSTORE store, const Bytes& der)
{
    const Bytes hash = sha1Of(der);
    CRYPT_HASH_BLOB blob { static_cast<DWORD>(hash.size()), const_cast<BYTE*>(hash.data()) };
    return Certificate(CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_HASH, &blob, nullptr));
}

// Opening "MY" with these flags, as a refusal table's call.
std::function<BOOL()> openingMy(DWORD flags)
{
    return [=] { return Store(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, flags, L"MY")) ? TRUE : FALSE; };
}

// The key link as read back; empty when there is none.
Bytes keyLink(PCCERT_CONTEXT context)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return {};
    Bytes buffer(size);
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        return {};
    return buffer;
}

std::wstring containerOf(PCCERT_CONTEXT context)
{
    const Bytes link = keyLink(context);
    return link.empty() ? L"<none>" : reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(link.data())->pwszContainerName;
}

int countCertificates(HCERTSTORE store)
{
    int count = 0;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context;
         context = CertEnumCertificatesInStore(store, context))
        ++count;
    return count;
}

BOOL encodeCommonName(std::string value, BYTE* out, DWORD* size)
{
    CERT_RDN_ATTR attribute { const_cast<LPSTR>(szOID_COMMON_NAME), CERT_RDN_PRINTABLE_STRING,
        { static_cast<DWORD>(value.size()), reinterpret_cast<BYTE*>(value.data()) } };
    CERT_RDN rdn { 1, &attribute };
    CERT_NAME_INFO name { 1, &rdn };
    return CryptEncodeObject(kEncoding, X509_NAME, &name, out, size);
}

// A container with an exchange key and a request for it with an empty subject.
struct Requester {
    Requester()
        : context(acquire("requester", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET))
    {
        if (!importKey(context.get(), msBlob(testKey(), true), 0))
            ADD_FAILURE() << "no key: " << std::hex << GetLastError();
        DWORD size = 0;
        CryptExportPublicKeyInfo(context.get(), AT_KEYEXCHANGE, kEncoding, nullptr, &size);
        keyInfo.resize(size);
        if (!CryptExportPublicKeyInfo(context.get(), AT_KEYEXCHANGE, kEncoding, publicKey(), &size))
            ADD_FAILURE() << "no public key info: " << std::hex << GetLastError();
        request.Subject = { static_cast<DWORD>(emptyName.size()), emptyName.data() };
        request.SubjectPublicKeyInfo = *publicKey();
    }
    PCERT_PUBLIC_KEY_INFO publicKey() { return reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(keyInfo.data()); }
    BOOL signRequest(DWORD keySpec, const char* oid, BYTE* out, DWORD* size,
        LPCSTR structType = X509_CERT_REQUEST_TO_BE_SIGNED) const
    {
        CRYPT_ALGORITHM_IDENTIFIER algorithm { const_cast<LPSTR>(oid), { 0, nullptr } };
        return CryptSignAndEncodeCertificate(
            context.get(), keySpec, kEncoding, structType, &request, &algorithm, nullptr, out, size);
    }

    Context context;
    Bytes keyInfo;
    Bytes emptyName { 0x30, 0x00 };
    CERT_REQUEST_INFO request {};
};

TEST_F(Crypt32, RefusalsTheSizeProtocolAndTheKeyLink)
{
    const Bytes der = makeCertificate(7);
    install(der, L"held");
    Store store(openMyStore());
    Certificate found = findByHash(store.get(), der);
    const PCCERT_CONTEXT context = found.get();
    ASSERT_TRUE(found);
    // The link comes back with its strings inside the caller's buffer.
    const Bytes link = keyLink(context);
    ASSERT_FALSE(link.empty());
    const auto* read = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(link.data());
    EXPECT_GE(reinterpret_cast<const BYTE*>(read->pwszContainerName), link.data());
    EXPECT_LT(reinterpret_cast<const BYTE*>(read->pwszContainerName), link.data() + link.size());

    BYTE pin[] = { '1', '2', '3', '4' };
    CRYPT_KEY_PROV_PARAM param { 32, pin, sizeof pin, 0 };
    CRYPT_KEY_PROV_INFO withParams = *read;
    withParams.cProvParam = 1;
    withParams.rgProvParam = &param;
    CRYPT_DATA_BLOB name { sizeof pin, pin };
    const auto setting = [&](DWORD property, DWORD flags, const void* value) {
        return [=] { return CertSetCertificateContextProperty(context, property, flags, value); };
    };
    DWORD size = 0;
    const auto getting = [&](DWORD property) {
        return [=, &size] { return CertGetCertificateContextProperty(context, property, nullptr, &size); };
    };
    Requester requester;
    const auto signing = [&](DWORD keySpec, const char* oid, LPCSTR structType = X509_CERT_REQUEST_TO_BE_SIGNED) {
        return [=, &requester, &size] { return requester.signRequest(keySpec, oid, nullptr, &size, structType); };
    };
    const auto adding = [&](DWORD disposition) {
        return [=, &store] { return CertAddCertificateContextToStore(store.get(), context, disposition, nullptr); };
    };
    const Bytes garbage { 0x04, 0x03, 'a', 'b', 'c' };
    const std::vector<Refusal> refusals = {
        { [&] { return decode(garbage) ? TRUE : FALSE; }, CRYPT_E_ASN1_BADTAG },
        { [&] { return decode(der, 10) ? TRUE : FALSE; }, CRYPT_E_ASN1_EOD },
        { getting(CERT_FRIENDLY_NAME_PROP_ID), CRYPT_E_NOT_FOUND },
        // The current user's stores only, opened by the UTF-16 provider without flags.
        { [&] { return CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr) ? TRUE : FALSE; },
            ERROR_FILE_NOT_FOUND },
        { [&] { return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, 0, "MY") ? TRUE : FALSE; }, ERROR_FILE_NOT_FOUND },
        { openingMy(CERT_SYSTEM_STORE_LOCAL_MACHINE), E_INVALIDARG },
        { openingMy(CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG), E_INVALIDARG },
        { openingMy(CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG), E_INVALIDARG },
        { [&] { return CryptEncodeObject(kEncoding, reinterpret_cast<LPCSTR>(9999), &der, nullptr, &size); },
            ERROR_FILE_NOT_FOUND },
        { signing(AT_KEYEXCHANGE, "1.2.3.4"), NTE_BAD_ALGID },
        // Requests alone are signed, and with SHA-256 alone.
        { signing(AT_KEYEXCHANGE, szOID_RSA_SHA1RSA), NTE_BAD_ALGID },
        { signing(AT_KEYEXCHANGE, szOID_RSA_SHA256RSA, X509_CERT_TO_BE_SIGNED), ERROR_FILE_NOT_FOUND },
        { [&] { return CryptEncodeObject(kEncoding, X509_PUBLIC_KEY_INFO, requester.publicKey(), nullptr, &size); },
            ERROR_FILE_NOT_FOUND },
        // The signature key spec has no key in this container.
        { signing(AT_SIGNATURE, szOID_RSA_SHA256RSA), NTE_NO_KEY },
        // The key link is the only property: nothing else is kept, nothing removed.
        { getting(CERT_SHA1_HASH_PROP_ID), CRYPT_E_NOT_FOUND },
        { setting(CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr), E_INVALIDARG },
        { setting(CERT_KEY_PROV_INFO_PROP_ID, 0, &withParams), E_INVALIDARG },
        { setting(CERT_FRIENDLY_NAME_PROP_ID, 0, &name), E_INVALIDARG },
        { setting(CERT_KEY_PROV_INFO_PROP_ID, CERT_SET_PROPERTY_INHIBIT_PERSIST_FLAG, read), E_INVALIDARG },
        // Every addition is a new copy; no other disposition is offered.
        { adding(CERT_STORE_ADD_NEW), E_INVALIDARG },
        { adding(CERT_STORE_ADD_USE_EXISTING), E_INVALIDARG },
        { adding(CERT_STORE_ADD_REPLACE_EXISTING), E_INVALIDARG },
    };
    expectRefusals(refusals);

    // Sizes that depend on the key or on the layout are not pinned (0).
    expectSizeProtocol({
        { [&](BYTE* out, DWORD* size) {
             return CertGetCertificateContextProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID, out, size);
         },
            0 },
        { [&](BYTE* out, DWORD* size) { return encodeCommonName("Short", out, size); }, 18 },
        { [&](BYTE* out, DWORD* size) { return requester.signRequest(AT_KEYEXCHANGE, szOID_RSA_SHA256RSA, out, size); },
            0 },
    });
}

TEST_F(Crypt32, StoreFilesArePrivateAndLeftoversOfInterruptedWritesAreIgnored)
{
    const Bytes der = makeCertificate(7007);
    install(der, L"private");
    const std::string directory = machine_.root() + "/certstores/CurrentUser/MY";
    const std::pair<std::string, mode_t> modes[] = { { directory, 0700 },
        { directory + "/00000001/certificate.cer", 0600 }, { directory + "/00000001/properties", 0600 } };
    for (const auto& [path, mode] : modes)
        EXPECT_EQ(modeOf(path), mode) << path;
    // What a killed process may leave: an entry without its certificate, a
    // half-written temporary file, a damaged properties file.
    ASSERT_EQ(mkdir((directory + "/00000002").c_str(), 0700), 0);
    std::ofstream(directory + "/00000001/.properties.tmp") << "partial";
    std::ofstream(directory + "/00000001/properties", std::ios::app) << "\x02\x00";
    Store store(openMyStore());
    EXPECT_EQ(countCertificates(store.get()), 1);
    EXPECT_EQ(containerOf(findByHash(store.get(), der).get()), L"private");
    // A second copy, without a key link, steps over the leftover's number and
    // is the one found.
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), decode(der).get(), CERT_STORE_ADD_ALWAYS, nullptr));
    Store reopened(openMyStore());
    EXPECT_EQ(countCertificates(reopened.get()), 2);
    EXPECT_EQ(containerOf(findByHash(reopened.get(), der).get()), L"<none>");
    EXPECT_EQ(modeOf(directory + "/00000003/certificate.cer"), 0600);
}

TEST_F(Crypt32, InstallerKilledMidWayLeavesEveryListedEntryWhole)
{
    long serial = 20000;
    killWhileWriting([&] { install(makeCertificate(serial++), L"killed"); }, std::chrono::milliseconds(300));
    Store store(openMyStore());
    int whole = 0;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store.get(), nullptr); context;
         context = CertEnumCertificatesInStore(store.get(), context)) {
        EXPECT_NE(context->pCertInfo, nullptr);
        const std::wstring container = containerOf(context);
        // The newest entry may have lost its key link to the kill, never its certificate.
        EXPECT_TRUE(container == L"killed" || (whole == 0 && container == L"<none>"));
        ++whole;
    }
    EXPECT_GT(whole, 0);
}

} // namespace
} // namespace standin
