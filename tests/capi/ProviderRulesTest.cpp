// The pure rules of the CryptoAPI road: which provider a name reaches, the
// texts made from Windows error codes, and the two failure styles.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>

#include "Failures.h"
#include "KeyPair.h"
#include "ProviderRules.h"
#include "SigningAlgorithm.h"

namespace {

TEST(ProviderRules, KnownProvidersAreFoundAsSubstrings)
{
    for (const char* known : KnownSmartCardProviders)
        EXPECT_TRUE(isKnownSmartCardProvider(known)) << known;
    const std::string safeSignIc = KnownSmartCardProviders[6];
    EXPECT_TRUE(isKnownSmartCardProvider(safeSignIc + " v2"));
    EXPECT_FALSE(isKnownSmartCardProvider(safeSignIc.substr(0, 11)));
    EXPECT_FALSE(isKnownSmartCardProvider(""));
    EXPECT_FALSE(isKnownSmartCardProvider("etoken base cryptographic provider"));
    EXPECT_FALSE(isKnownSmartCardProvider("Microsoft Enhanced RSA and AES Cryptographic Provider"));
}

TEST(ProviderRules, OnlyAthenaIsRenamed)
{
    const std::string athena = "Athena ASECard Crypto CSP";
    const std::string microsoftCard = "Microsoft Base Smart Card Crypto Provider";
    EXPECT_EQ(mapProviderName(athena, ProviderMatch::Substring), microsoftCard);
    EXPECT_EQ(mapProviderName(athena, ProviderMatch::Equality), microsoftCard);
    EXPECT_EQ(mapProviderName(athena + " v2", ProviderMatch::Substring), microsoftCard);
    EXPECT_EQ(mapProviderName(athena + " v2", ProviderMatch::Equality), athena + " v2");
    EXPECT_EQ(mapProviderName("Athena", ProviderMatch::Substring), "Athena");
    EXPECT_EQ(mapProviderName("", ProviderMatch::Substring), "");
}

TEST(ProviderRules, CertificatesOfMicrosoftSoftwareProvidersGoToTheStore)
{
    EXPECT_TRUE(installsInStore("Microsoft Enhanced RSA and AES Cryptographic Provider"));
    EXPECT_TRUE(installsInStore("Vendor CSP for Microsoft Windows"));
    EXPECT_FALSE(installsInStore("Microsoft Base Smart Card Crypto Provider"));
    EXPECT_FALSE(installsInStore("microsoft enhanced rsa and aes cryptographic provider"));
    EXPECT_FALSE(installsInStore("eToken Base Cryptographic Provider"));
}

TEST(KeyPair, FlagWordHoldsWholeKilobitsAndExportability)
{
    struct Case {
        int keyBits;
        bool exportable;
        std::optional<DWORD> flags;
    };
    for (const Case& c : { Case { 2048, true, 0x08000001 }, Case { 3000, false, 0x08000000 },
             Case { 1000, true, 0x00000001 }, Case { 1000, false, 0 }, Case { -1, false, 0 },
             Case { 64512, false, 0xFC000000 }, Case { 65536, false, std::nullopt },
             Case { -1024, true, std::nullopt } })
        EXPECT_EQ(keyGenerationFlags(c.keyBits, c.exportable), c.flags) << c.keyBits;
}

TEST(KeyPair, PublicKeyBlobMustBeAnRsaPublicKeyBlob)
{
    // BLOBHEADER, then RSAPUBKEY's magic, bit length and exponent.
    auto blob = [](char type, const std::string& magic) {
        const std::string text = type + std::string("\x02\x00\x00\x00\xa4\x00\x00", 7) + magic
            + std::string("\x00\x08\x00\x00\x01\x00\x01\x00", 8);
        return Bytes(text.begin(), text.end());
    };
    auto failure = [](const Bytes& bytes) -> std::string {
        try {
            checkPublicKeyBlob(bytes);
            return "";
        } catch (const std::runtime_error& refused) {
            return refused.what();
        }
    };
    EXPECT_EQ(failure(blob(0x06, "RSA1")), "");
    EXPECT_EQ(failure(blob(0x07, "RSA2")), "createKeyPair - Invalid public key blob");
    EXPECT_EQ(failure({}), "createKeyPair - Invalid public key blob");
    EXPECT_EQ(failure(blob(0x06, "RSA2")), "createKeyPair - Invalid public key type");
    EXPECT_EQ(failure(blob(0x06, std::string("DH1\0", 4))), "createKeyPair - Invalid public key type");
    EXPECT_EQ(failure(Bytes(10, 0x06)), "createKeyPair - Invalid public key type");
}

TEST(ErrorTexts, TwoCodesHaveWordsTheRestAreUnsignedDecimal)
{
    EXPECT_EQ(errorCodeText(0x80090019), "Erro ao obter chave privada.");
    EXPECT_EQ(errorCodeText(0x8009000D), "A chave n\xc3\xa3o existe");
    EXPECT_EQ(errorCodeText(0x80090016), "Err 2148073494");
    EXPECT_EQ(errorCodeText(5), "Err 5");
    EXPECT_EQ(errorCodeText(0), "Err 0");
    EXPECT_EQ(errorCodeText(0xFFFFFFFF), "Err 4294967295");
}

TEST(FailureStyles, ErrorTextAnswersTheMessageUnescaped)
{
    EXPECT_EQ(
        errorTextStyle([]() -> std::string { throw std::runtime_error("a \"b\" c"); }), "{\"error\":\"a \"b\" c\"}");
    EXPECT_EQ(
        errorTextStyle([]() -> std::string { throw std::runtime_error(""); }), "{\"error\":\"Unexpected error\"}");
    EXPECT_EQ(errorTextStyle([]() -> std::string { throw 42; }), "{\"error\":\"Unexpected error\"}");
    EXPECT_EQ(errorTextStyle([] { return std::string("7"); }), "7");
}

TEST(FailureStyles, RaisedStyleAlwaysRaisesARuntimeError)
{
    try {
        raisedStyle([]() -> std::string { return nlohmann::json(1).get<std::string>(); });
        FAIL() << "no failure raised";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find("type must be string, but is number"), std::string::npos);
    }
    try {
        raisedStyle([]() -> std::string { throw 42; });
        FAIL() << "no failure raised";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Unexpected error");
    }
}

TEST(SigningAlgorithms, ExactLowerCaseNamesElseSha256)
{
    EXPECT_EQ(signingAlgorithm("sha1").algId, static_cast<ALG_ID>(CALG_SHA1));
    EXPECT_EQ(signingAlgorithm("sha1").digestLength, 20u);
    EXPECT_EQ(signingAlgorithm("sha512").algId, static_cast<ALG_ID>(CALG_SHA_512));
    EXPECT_EQ(signingAlgorithm("sha512").digestLength, 64u);
    for (const char* other : { "sha256", "SHA1", "sha384", "", "sha1 " }) {
        EXPECT_EQ(signingAlgorithm(other).algId, static_cast<ALG_ID>(CALG_SHA_256)) << other;
        EXPECT_EQ(signingAlgorithm(other).digestLength, 32u);
        EXPECT_STREQ(signingAlgorithm(other).createHashFailure, "(CryptCreateHash SHA256)");
    }
}

} // namespace
