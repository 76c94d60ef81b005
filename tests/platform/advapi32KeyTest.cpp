// Keys, blobs, certificates kept with keys, hashes and signatures of the
// advapi32 stand-in, judged by OpenSSL.
#include "advapi32TestSupport.h"

#include <openssl/core_names.h>

#include <cstring>

namespace advapi32test {
namespace {

Key userKey(HCRYPTPROV context, DWORD keySpec)
{
    Key key;
    if (!CryptGetUserKey(context, keySpec, key.out()))
        *key.out() = 0;
    return key;
}

Key importBlob(HCRYPTPROV context, const Bytes& blob, DWORD flags)
{
    Key key;
    if (!CryptImportKey(context, blob.data(), static_cast<DWORD>(blob.size()), 0, flags, key.out()))
        *key.out() = 0;
    return key;
}

// A 1024-bit key made once: key generation is the slow part of these tests.
EVP_PKEY* testKey()
{
    static Pkey key = generateRsa(1024);
    return key.get();
}

using KeyTest = StandInTest;

TEST_F(KeyTest, ImportedKeyPairExportsAsOpenSslWritesIt)
{
    Context context = acquire("imported", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    Key key = importBlob(context.get(), msBlob(testKey(), true), CRYPT_EXPORTABLE);
    ASSERT_TRUE(key) << std::hex << lastError();
    EXPECT_EQ(exportKey(key.get(), PRIVATEKEYBLOB), msBlob(testKey(), true));
    EXPECT_EQ(exportKey(key.get(), PUBLICKEYBLOB), msBlob(testKey(), false));
}

TEST_F(KeyTest, ImportWithoutExportableFlagKeepsThePrivateHalfInside)
{
    Context context = acquire("fixed", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    Key key = importBlob(context.get(), msBlob(testKey(), true), 0);
    ASSERT_TRUE(key);
    DWORD size = 0;
    EXPECT_FALSE(CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_KEY_STATE));
    Context reopened = acquire("fixed", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0);
    Key again = userKey(reopened.get(), AT_KEYEXCHANGE);
    EXPECT_FALSE(CryptExportKey(again.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size));
}

TEST_F(KeyTest, ImportedPublicKeyStaysOutOfTheContainer)
{
    Context context = acquire("public", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    Key key = importBlob(context.get(), msBlob(testKey(), false), 0);
    ASSERT_TRUE(key);
    EXPECT_EQ(exportKey(key.get(), PUBLICKEYBLOB), msBlob(testKey(), false));
    EXPECT_FALSE(userKey(context.get(), AT_KEYEXCHANGE));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_NO_KEY));
    EXPECT_FALSE(userKey(context.get(), 3));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_KEY));
}

TEST_F(KeyTest, MalformedBlobsAreRefused)
{
    Context context = acquire(nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    Bytes blob = msBlob(testKey(), true);
    Bytes truncated(blob.begin(), blob.end() - 1);
    EXPECT_FALSE(importBlob(context.get(), truncated, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_DATA));
    Bytes badVersion = blob;
    badVersion[1] = 3;
    EXPECT_FALSE(importBlob(context.get(), badVersion, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_VER));
    Bytes badMagic = blob;
    badMagic[8] = 'X';
    EXPECT_FALSE(importBlob(context.get(), badMagic, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_DATA));
}

using CertificateTest = StandInTest;

TEST_F(CertificateTest, SomethingElseThanACertificateIsRefused)
{
    installProviders("1 eToken Base Cryptographic Provider\n");
    Context context = acquire("card", "eToken Base Cryptographic Provider", PROV_RSA_FULL, CRYPT_NEWKEYSET);
    Key key = importBlob(context.get(), msBlob(testKey(), true), 0);
    const Bytes notCertificate = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_FALSE(CryptSetKeyParam(key.get(), KP_CERTIFICATE, notCertificate.data(), 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_DATA));
    const Bytes notDer = bytesOf("hello");
    EXPECT_FALSE(CryptSetKeyParam(key.get(), KP_CERTIFICATE, notDer.data(), 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_DATA));
}

TEST_F(CertificateTest, WindowsSoftwareProvidersKeepNoCertificates)
{
    Context context = containerWithKey("software");
    Key key = userKey(context.get(), AT_KEYEXCHANGE);
    const Bytes certificate = selfSignedCertificate(testKey(), "Titular");
    EXPECT_FALSE(CryptSetKeyParam(key.get(), KP_CERTIFICATE, certificate.data(), 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_TYPE));
}

using SignTest = StandInTest;

TEST_F(SignTest, NoHashOidSignsTheBareDigest)
{
    Context context = acquire("bare", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    ASSERT_TRUE(importBlob(context.get(), msBlob(testKey(), true), 0));
    const Bytes digest(20, 0x5A);
    Hash hash;
    ASSERT_TRUE(CryptCreateHash(context.get(), CALG_SHA1, 0, 0, hash.out()));
    ASSERT_TRUE(CryptSetHashParam(hash.get(), HP_HASHVAL, digest.data(), 0));
    Bytes signature(128);
    DWORD size = 128;
    ASSERT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, CRYPT_NOHASHOID, signature.data(), &size));
    signature = reversed(signature);
    // Recover the signed block with the public key: PKCS#1 type 1 around the digest alone.
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(testKey(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    ASSERT_EQ(EVP_PKEY_verify_recover_init(ctx.get()), 1);
    Bytes recovered(128);
    size_t recoveredSize = recovered.size();
    ASSERT_EQ(EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &recoveredSize, signature.data(), signature.size()),
              1);
    recovered.resize(recoveredSize);
    EXPECT_EQ(recovered, digest);
}

TEST_F(SignTest, SignatureSizesKeyChoiceAndHashState)
{
    Context context = acquire("sizes", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    ASSERT_TRUE(importBlob(context.get(), msBlob(testKey(), true), 0));
    Hash hash;
    ASSERT_TRUE(CryptCreateHash(context.get(), CALG_SHA_256, 0, 0, hash.out()));
    ASSERT_TRUE(CryptHashData(hash.get(), reinterpret_cast<const BYTE*>("x"), 1, 0));
    DWORD size = 0;
    EXPECT_FALSE(CryptSignHashA(hash.get(), AT_SIGNATURE, nullptr, 0, nullptr, &size));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_NO_KEY));
    EXPECT_FALSE(CryptSignHashA(hash.get(), 3, nullptr, 0, nullptr, &size));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_ALGID));
    EXPECT_FALSE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0x4, nullptr, &size));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
    ASSERT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &size));
    EXPECT_EQ(size, 128u);
    // The size query leaves the hash open.
    EXPECT_TRUE(CryptHashData(hash.get(), reinterpret_cast<const BYTE*>("y"), 1, 0));
    Bytes signature(size);
    DWORD shortSize = 100;
    EXPECT_FALSE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &shortSize));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(shortSize, 128u);
    ASSERT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size));
    EXPECT_TRUE(verifies(testKey(), "SHA256", bytesOf("xy"), reversed(signature)));
    EXPECT_FALSE(CryptHashData(hash.get(), reinterpret_cast<const BYTE*>("z"), 1, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_HASH_STATE));
}

TEST_F(SignTest, HashParameters)
{
    Context context = acquire(nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    Hash hash;
    ASSERT_TRUE(CryptCreateHash(context.get(), CALG_SHA_512, 0, 0, hash.out()));
    DWORD value = 0;
    DWORD size = sizeof value;
    ASSERT_TRUE(CryptGetHashParam(hash.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(value, 64u);
    ASSERT_TRUE(CryptGetHashParam(hash.get(), HP_ALGID, reinterpret_cast<BYTE*>(&value), &size, 0));
    EXPECT_EQ(value, static_cast<DWORD>(CALG_SHA_512));
}

TEST_F(SignTest, HashOutlivesItsReleasedContext)
{
    Context context = acquire("outlive", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    ASSERT_TRUE(importBlob(context.get(), msBlob(testKey(), true), 0));
    Hash hash;
    ASSERT_TRUE(CryptCreateHash(context.get(), CALG_SHA1, 0, 0, hash.out()));
    context = Context();
    ASSERT_TRUE(CryptHashData(hash.get(), reinterpret_cast<const BYTE*>("q"), 1, 0));
    Bytes signature(128);
    DWORD size = 128;
    ASSERT_TRUE(CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size));
    EXPECT_TRUE(verifies(testKey(), "SHA1", bytesOf("q"), reversed(signature)));
}

}  // namespace
}  // namespace advapi32test
