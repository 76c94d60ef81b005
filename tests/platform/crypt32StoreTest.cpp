// The current user's MY store of the stand-in as the product uses it: install
// with key-provider information, find by thumbprint in a later store handle,
// read the property back; duplicates, dispositions, persistence and safety.
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <set>
#include <string>

#include "crypt32TestSupport.h"

namespace {

class MyStoreTest : public ::testing::Test {
protected:
    MachineFixture machine;
};

CRYPT_KEY_PROV_INFO keyProvInfo(const wchar_t* container, const wchar_t* provider)
{
    CRYPT_KEY_PROV_INFO info {};
    info.pwszContainerName = const_cast<LPWSTR>(container);
    info.pwszProvName = const_cast<LPWSTR>(provider);
    info.dwProvType = 24;
    info.dwKeySpec = 1;
    return info;
}

// The installation the product performs: ADD_ALWAYS, then the key link.
void install(const Bytes& der, const wchar_t* container)
{
    Store store(openMyStore());
    ASSERT_NE(store.get(), nullptr);
    Context created(CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    ASSERT_NE(created.get(), nullptr);
    PCCERT_CONTEXT storedContext = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), created.get(), CERT_STORE_ADD_ALWAYS, &storedContext));
    Context stored(storedContext);
    CRYPT_KEY_PROV_INFO info = keyProvInfo(container, L"Microsoft Enhanced RSA and AES Cryptographic Provider");
    ASSERT_TRUE(CertSetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
}

PCCERT_CONTEXT findByHash(HCERTSTORE store, const Bytes& hash, PCCERT_CONTEXT previous = nullptr)
{
    CRYPT_HASH_BLOB blob { static_cast<DWORD>(hash.size()), const_cast<BYTE*>(hash.data()) };
    return CertFindCertificateInStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_HASH, &blob, previous);
}

std::wstring containerOf(PCCERT_CONTEXT context)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        return L"<none>";
    std::vector<unsigned char> buffer(size);
    if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        return L"<unread>";
    return reinterpret_cast<CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName;
}

int countCertificates(HCERTSTORE store)
{
    int count = 0;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context;
         context = CertEnumCertificatesInStore(store, context))
        ++count;
    return count;
}

TEST_F(MyStoreTest, ContextCarriesTheDecodedCertificateFields)
{
    const Bytes der = makeCertificate(0x0102A3, "Fields");
    Context context(CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    ASSERT_NE(context.get(), nullptr);
    const CERT_INFO* info = context.get()->pCertInfo;
    EXPECT_EQ(info->dwVersion, static_cast<DWORD>(CERT_V3));
    // Serial numbers are kept least significant byte first.
    EXPECT_EQ(Bytes(info->SerialNumber.pbData, info->SerialNumber.pbData + info->SerialNumber.cbData),
        (Bytes { 0xA3, 0x02, 0x01 }));
    EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, szOID_RSA_SHA256RSA);
    EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA);

    const unsigned char* at = der.data();
    std::unique_ptr<X509, decltype(&X509_free)> parsed(
        d2i_X509(nullptr, &at, static_cast<long>(der.size())), X509_free);
    ASSERT_TRUE(parsed);
    unsigned char* name = nullptr;
    const int nameSize = i2d_X509_NAME(X509_get_subject_name(parsed.get()), &name);
    EXPECT_EQ(Bytes(info->Subject.pbData, info->Subject.pbData + info->Subject.cbData), Bytes(name, name + nameSize));
    EXPECT_EQ(Bytes(info->Issuer.pbData, info->Issuer.pbData + info->Issuer.cbData), Bytes(name, name + nameSize));
    OPENSSL_free(name);

    // NotAfter - NotBefore is the year the certificate was made for.
    const auto ticks
        = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    EXPECT_EQ(ticks(info->NotAfter) - ticks(info->NotBefore), 365ULL * 24 * 3600 * 10000000ULL);
    const unsigned long long unixSeconds = ticks(info->NotBefore) / 10000000ULL - 11644473600ULL;
    EXPECT_LE(unixSeconds, static_cast<unsigned long long>(time(nullptr)));
    EXPECT_GT(unixSeconds + 600, static_cast<unsigned long long>(time(nullptr)));
}

TEST_F(MyStoreTest, BytesThatAreNotACertificateFailWithTheAsn1Codes)
{
    const Bytes garbage { 0x04, 0x03, 'a', 'b', 'c' };
    SetLastError(0);
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, garbage.data(), 5), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_BADTAG));

    const Bytes der = makeCertificate(7);
    EXPECT_EQ(CertCreateCertificateContext(
                  X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size() - 10)),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_EOD));
}

TEST_F(MyStoreTest, DispositionsOtherThanAlwaysLookForTheSameCertificate)
{
    const Bytes der = makeCertificate(3003);
    install(der, L"kept");
    Store store(openMyStore());
    Context created(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));

    PCCERT_CONTEXT result = reinterpret_cast<PCCERT_CONTEXT>(1);
    EXPECT_FALSE(CertAddCertificateContextToStore(store.get(), created.get(), CERT_STORE_ADD_NEW, &result));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
    EXPECT_EQ(result, nullptr);

    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), created.get(), CERT_STORE_ADD_USE_EXISTING, &result));
    Context existing(result);
    EXPECT_EQ(containerOf(existing.get()), L"kept");
    EXPECT_EQ(countCertificates(store.get()), 1);

    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), created.get(), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    Store reopened(openMyStore());
    EXPECT_EQ(countCertificates(reopened.get()), 1);
    Context replaced(findByHash(reopened.get(), sha1Of(der)));
    EXPECT_EQ(containerOf(replaced.get()), L"<none>"); // the replacement came without a key link
}

TEST_F(MyStoreTest, PropertyReadsFollowTheSizeProtocol)
{
    const Bytes der = makeCertificate(4004);
    install(der, L"sized");
    Store store(openMyStore());
    Context found(findByHash(store.get(), sha1Of(der)));
    ASSERT_NE(found.get(), nullptr);

    DWORD needed = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &needed));
    std::vector<unsigned char> small(needed - 1);
    DWORD offered = needed - 1;
    EXPECT_FALSE(CertGetCertificateContextProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID, small.data(), &offered));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(offered, needed);

    Bytes hash(20);
    DWORD hashSize = 20;
    ASSERT_TRUE(CertGetCertificateContextProperty(found.get(), CERT_SHA1_HASH_PROP_ID, hash.data(), &hashSize));
    EXPECT_EQ(hash, sha1Of(der));

    DWORD size = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(found.get(), CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));

    // NULL data removes the property, and the removal persists.
    ASSERT_TRUE(CertSetCertificateContextProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
    Store reopened(openMyStore());
    Context again(findByHash(reopened.get(), sha1Of(der)));
    EXPECT_FALSE(CertGetCertificateContextProperty(again.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
}

TEST_F(MyStoreTest, ProviderParametersAndMissingNamesSurviveTheStore)
{
    const Bytes der = makeCertificate(4005);
    Store store(openMyStore());
    Context created(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    PCCERT_CONTEXT storedContext = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), created.get(), CERT_STORE_ADD_ALWAYS, &storedContext));
    Context stored(storedContext);
    BYTE pin[] = { '1', '2', '3', '4' };
    CRYPT_KEY_PROV_PARAM param { 32, pin, sizeof pin, 0 };
    CRYPT_KEY_PROV_INFO info = keyProvInfo(L"c", nullptr);
    info.cProvParam = 1;
    info.rgProvParam = &param;
    ASSERT_TRUE(CertSetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));

    Store reopened(openMyStore());
    Context found(findByHash(reopened.get(), sha1Of(der)));
    DWORD size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<unsigned char> buffer(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(found.get(), CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
    const auto* read = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    EXPECT_EQ(read->pwszProvName, nullptr);
    ASSERT_EQ(read->cProvParam, 1u);
    EXPECT_EQ(read->rgProvParam[0].dwParam, 32u);
    EXPECT_EQ(Bytes(read->rgProvParam[0].pbData, read->rgProvParam[0].pbData + read->rgProvParam[0].cbData),
        Bytes(pin, pin + 4));
    EXPECT_GE(read->rgProvParam[0].pbData, buffer.data());
    EXPECT_LT(read->rgProvParam[0].pbData, buffer.data() + size);
}

TEST_F(MyStoreTest, ContextsOutliveAForcedCloseOfTheirStore)
{
    const Bytes der = makeCertificate(5005);
    install(der, L"held");
    HCERTSTORE store = openMyStore();
    Context found(findByHash(store, sha1Of(der)));
    ASSERT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG));
    ASSERT_NE(found.get(), nullptr);
    EXPECT_EQ(found.get()->pCertInfo->SerialNumber.pbData[0], 0x8D); // 5005 = 0x138D
    EXPECT_EQ(containerOf(found.get()), L"held");
    Context duplicate(CertDuplicateCertificateContext(found.get()));
    EXPECT_EQ(duplicate.get(), found.get());
}

TEST_F(MyStoreTest, StoreNamesIgnoreCaseAndMemoryStoresLeaveNothingBehind)
{
    const Bytes der = makeCertificate(6006);
    {
        Store lower(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "my"));
        Context created(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
        ASSERT_TRUE(CertAddCertificateContextToStore(lower.get(), created.get(), CERT_STORE_ADD_ALWAYS, nullptr));
        Store memory(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
        ASSERT_TRUE(CertAddCertificateContextToStore(memory.get(), created.get(), CERT_STORE_ADD_ALWAYS, nullptr));
        EXPECT_EQ(countCertificates(memory.get()), 1);
    }
    Store upper(openMyStore());
    EXPECT_EQ(countCertificates(upper.get()), 1);
    Store other(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
    EXPECT_EQ(countCertificates(other.get()), 0);
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0,
                  CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG, L"Absent"),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(MyStoreTest, StoreFilesArePrivateAndLeftoversOfInterruptedWritesAreIgnored)
{
    const Bytes der = makeCertificate(7007);
    install(der, L"private");
    const std::string directory = machine.root() + "/certstores/CurrentUser/MY";
    struct stat status;
    ASSERT_EQ(stat(directory.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((directory + "/00000001/certificate.cer").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((directory + "/00000001/properties").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // What a killed process may leave: an entry without its certificate, a
    // half-written temporary file, a damaged properties file.
    ASSERT_EQ(mkdir((directory + "/00000002").c_str(), 0700), 0);
    std::ofstream(directory + "/00000001/.properties.tmp") << "partial";
    std::ofstream(directory + "/00000001/properties", std::ios::app) << "\x02\x00";

    Store store(openMyStore());
    EXPECT_EQ(countCertificates(store.get()), 1);
    Context found(findByHash(store.get(), sha1Of(der)));
    EXPECT_EQ(containerOf(found.get()), L"private");
    install(makeCertificate(7008), L"next"); // numbering steps over the leftover
    Store reopened(openMyStore());
    EXPECT_EQ(countCertificates(reopened.get()), 2);
}

TEST_F(MyStoreTest, InstallerKilledMidWayLeavesEveryListedEntryWhole)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (long serial = 20000;; ++serial) {
            const Bytes der = makeCertificate(serial);
            HCERTSTORE store = openMyStore();
            PCCERT_CONTEXT created
                = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
            PCCERT_CONTEXT stored = nullptr;
            CertAddCertificateContextToStore(store, created, CERT_STORE_ADD_ALWAYS, &stored);
            CRYPT_KEY_PROV_INFO info = keyProvInfo(L"killed", L"provider");
            CertSetCertificateContextProperty(stored, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
            CertFreeCertificateContext(stored);
            CertFreeCertificateContext(created);
            CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
        }
    }
    usleep(300 * 1000);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    Store store(openMyStore());
    ASSERT_NE(store.get(), nullptr);
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
    install(makeCertificate(29999), L"after");
    Store reopened(openMyStore());
    EXPECT_EQ(countCertificates(reopened.get()), whole + 1);
}

} // namespace
