// Encoding and signing below what the request steps show end to end: the size
// protocol, self-signed certificates that OpenSSL must accept, refusals.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "crypt32TestSupport.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char kProvider[] = "Microsoft Enhanced RSA and AES Cryptographic Provider";

Bytes encodeName(const std::string& value, DWORD valueType)
{
    CERT_RDN_ATTR attribute { const_cast<LPSTR>(szOID_COMMON_NAME), valueType,
        { static_cast<DWORD>(value.size()), reinterpret_cast<BYTE*>(const_cast<char*>(value.data())) } };
    CERT_RDN rdn { 1, &attribute };
    CERT_NAME_INFO name { 1, &rdn };
    DWORD size = 0;
    if (!CryptEncodeObject(kEncoding, X509_NAME, &name, nullptr, &size))
        return {};
    Bytes encoded(size);
    if (!CryptEncodeObject(kEncoding, X509_NAME, &name, encoded.data(), &size))
        return {};
    encoded.resize(size);
    return encoded;
}

// A key container with a fresh exchange key, as createKeyPair leaves it.
class KeyContainer {
public:
    explicit KeyContainer(const char* name)
    {
        if (!CryptAcquireContextA(&provider_, name, kProvider, PROV_RSA_AES, CRYPT_NEWKEYSET))
            return;
        HCRYPTKEY key = 0;
        if (CryptGenKey(provider_, AT_KEYEXCHANGE, (1024u << 16) | CRYPT_EXPORTABLE, &key))
            CryptDestroyKey(key);
        else
            provider_ = 0;
    }
    KeyContainer(const KeyContainer&) = delete;
    KeyContainer& operator=(const KeyContainer&) = delete;
    ~KeyContainer()
    {
        if (provider_)
            CryptReleaseContext(provider_, 0);
    }
    HCRYPTPROV get() const { return provider_; }

private:
    HCRYPTPROV provider_ = 0;
};

std::vector<unsigned char> exportPublicKeyInfo(HCRYPTPROV provider, DWORD keySpec)
{
    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(provider, keySpec, kEncoding, nullptr, &size))
        return {};
    std::vector<unsigned char> buffer(size);
    if (!CryptExportPublicKeyInfo(
            provider, keySpec, kEncoding, reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data()), &size))
        return {};
    return buffer;
}

Bytes signAndEncode(HCRYPTPROV provider, LPCSTR structType, const void* info, const char* algorithmOid)
{
    CRYPT_ALGORITHM_IDENTIFIER algorithm { const_cast<LPSTR>(algorithmOid), { 0, nullptr } };
    DWORD size = 0;
    if (!CryptSignAndEncodeCertificate(
            provider, AT_KEYEXCHANGE, kEncoding, structType, info, &algorithm, nullptr, nullptr, &size))
        return {};
    Bytes encoded(size);
    if (!CryptSignAndEncodeCertificate(
            provider, AT_KEYEXCHANGE, kEncoding, structType, info, &algorithm, nullptr, encoded.data(), &size))
        return {};
    encoded.resize(size);
    return encoded;
}

FILETIME fileTime(unsigned long long unixSeconds)
{
    const unsigned long long ticks = (unixSeconds + 11644473600ULL) * 10000000ULL;
    return FILETIME { static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(ticks >> 32) };
}

bool contains(const Bytes& haystack, const Bytes& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

class EncodeTest : public ::testing::Test {
protected:
    MachineFixture machine;
};

TEST_F(EncodeTest, ShortBufferGetsMoreDataAndTheSize)
{
    const std::string value = "Short";
    CERT_RDN_ATTR attribute { const_cast<LPSTR>(szOID_COMMON_NAME), CERT_RDN_PRINTABLE_STRING,
        { 5, reinterpret_cast<BYTE*>(const_cast<char*>(value.data())) } };
    CERT_RDN rdn { 1, &attribute };
    CERT_NAME_INFO name { 1, &rdn };
    Bytes buffer(4);
    DWORD size = 4;
    EXPECT_FALSE(CryptEncodeObject(kEncoding, X509_NAME, &name, buffer.data(), &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 18u);
    EXPECT_FALSE(CryptEncodeObject(kEncoding, reinterpret_cast<LPCSTR>(9999), &name, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(EncodeTest, SelfSignedCertificateVerifiesAndReadsBack)
{
    KeyContainer container("selfsigned");
    ASSERT_NE(container.get(), 0u);
    Bytes name = encodeName("Self Signed", CERT_RDN_PRINTABLE_STRING);
    std::vector<unsigned char> keyInfo = exportPublicKeyInfo(container.get(), AT_KEYEXCHANGE);
    ASSERT_FALSE(keyInfo.empty());
    BYTE serial[] = { 0x01, 0x02, 0x83 }; // least significant first; crypt32 reads it as signed
    CERT_INFO info {};
    info.dwVersion = CERT_V3;
    info.SerialNumber = { sizeof serial, serial };
    info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(szOID_RSA_SHA256RSA);
    info.Issuer = { static_cast<DWORD>(name.size()), name.data() };
    info.Subject = info.Issuer;
    info.NotBefore = fileTime(1577836800); // 2020-01-01, a UTCTime
    info.NotAfter = fileTime(2840140800); // 2060-01-01, a GeneralizedTime
    info.SubjectPublicKeyInfo = *reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(keyInfo.data());
    BYTE basicConstraints[] = { 0x30, 0x03, 0x01, 0x01, 0xff }; // cA TRUE
    CERT_EXTENSION extension { const_cast<LPSTR>("2.5.29.19"), TRUE, { sizeof basicConstraints, basicConstraints } };
    info.cExtension = 1;
    info.rgExtension = &extension;

    const Bytes certificate = signAndEncode(container.get(), X509_CERT_TO_BE_SIGNED, &info, szOID_RSA_SHA256RSA);
    ASSERT_FALSE(certificate.empty());
    const unsigned char* at = certificate.data();
    std::unique_ptr<X509, decltype(&X509_free)> parsed(
        d2i_X509(nullptr, &at, static_cast<long>(certificate.size())), X509_free);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(X509_verify(parsed.get(), X509_get0_pubkey(parsed.get())), 1);
    ASSERT_EQ(X509_get_ext_count(parsed.get()), 1);
    EXPECT_EQ(X509_EXTENSION_get_critical(X509_get_ext(parsed.get(), 0)), 1);

    Context context(
        CertCreateCertificateContext(kEncoding, certificate.data(), static_cast<DWORD>(certificate.size())));
    ASSERT_NE(context.get(), nullptr);
    const CERT_INFO* read = context.get()->pCertInfo;
    EXPECT_EQ(read->dwVersion, static_cast<DWORD>(CERT_V3));
    EXPECT_EQ(Bytes(read->SerialNumber.pbData, read->SerialNumber.pbData + read->SerialNumber.cbData),
        Bytes(serial, serial + sizeof serial));
    EXPECT_EQ(ASN1_STRING_type(X509_get0_serialNumber(parsed.get())), V_ASN1_NEG_INTEGER);
    EXPECT_TRUE(contains(certificate, { 0x17, 0x0d, '2', '0', '0', '1', '0', '1' }));
    EXPECT_TRUE(contains(certificate, { 0x18, 0x0f, '2', '0', '6', '0', '0', '1', '0', '1' }));
    EXPECT_EQ(read->NotBefore.dwLowDateTime, info.NotBefore.dwLowDateTime);
    EXPECT_EQ(read->NotBefore.dwHighDateTime, info.NotBefore.dwHighDateTime);
    EXPECT_EQ(read->NotAfter.dwLowDateTime, info.NotAfter.dwLowDateTime);
    EXPECT_EQ(read->NotAfter.dwHighDateTime, info.NotAfter.dwHighDateTime);
    EXPECT_EQ(Bytes(read->Subject.pbData, read->Subject.pbData + read->Subject.cbData), name);
    ASSERT_EQ(read->cExtension, 1u);
    EXPECT_STREQ(read->rgExtension[0].pszObjId, "2.5.29.19");
    EXPECT_TRUE(read->rgExtension[0].fCritical);
    EXPECT_EQ(
        Bytes(read->rgExtension[0].Value.pbData, read->rgExtension[0].Value.pbData + read->rgExtension[0].Value.cbData),
        Bytes(basicConstraints, basicConstraints + sizeof basicConstraints));
}

TEST_F(EncodeTest, SigningRefusesWhatItCannotDo)
{
    KeyContainer container("refusals");
    ASSERT_NE(container.get(), 0u);
    const Bytes subject = encodeName("Refusals", CERT_RDN_PRINTABLE_STRING);
    std::vector<unsigned char> keyInfo = exportPublicKeyInfo(container.get(), AT_KEYEXCHANGE);
    CERT_REQUEST_INFO request {};
    request.Subject = { static_cast<DWORD>(subject.size()), const_cast<BYTE*>(subject.data()) };
    request.SubjectPublicKeyInfo = *reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(keyInfo.data());

    CRYPT_ALGORITHM_IDENTIFIER unknown { const_cast<LPSTR>("1.2.3.4"), { 0, nullptr } };
    DWORD size = 0;
    EXPECT_FALSE(CryptSignAndEncodeCertificate(container.get(), AT_KEYEXCHANGE, kEncoding,
        X509_CERT_REQUEST_TO_BE_SIGNED, &request, &unknown, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));

    CRYPT_ALGORITHM_IDENTIFIER sha256 { const_cast<LPSTR>(szOID_RSA_SHA256RSA), { 0, nullptr } };
    ASSERT_TRUE(CryptSignAndEncodeCertificate(container.get(), AT_KEYEXCHANGE, kEncoding,
        X509_CERT_REQUEST_TO_BE_SIGNED, &request, &sha256, nullptr, nullptr, &size));
    Bytes small(size - 1);
    DWORD offered = size - 1;
    EXPECT_FALSE(CryptSignAndEncodeCertificate(container.get(), AT_KEYEXCHANGE, kEncoding,
        X509_CERT_REQUEST_TO_BE_SIGNED, &request, &sha256, nullptr, small.data(), &offered));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(offered, size);

    // The signature key spec has no key in this container.
    EXPECT_FALSE(CryptSignAndEncodeCertificate(container.get(), AT_SIGNATURE, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED,
        &request, &sha256, nullptr, nullptr, &size));
    EXPECT_NE(GetLastError(), 0u);
}

} // namespace
