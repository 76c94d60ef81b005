// `capi crypt sign` and `capi crypt signList` as a caller runs them: keys and
// certificates placed in the current user's store, every signature checked
// with OpenSSL against the certificate's public key.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "CapiMachine.h"

namespace {

using Json = nlohmann::json;

constexpr const char* kDigestNames[] = {"sha1", "sha256", "sha512"};
const std::string kKeysetNotFound = " - conjunto de chave nao encontrada =Err 2148073494";

std::string boolText(bool value) { return value ? "true" : "false"; }

class CapiSigning : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        machine_ = new CapiMachine;
        identity_ = machine_->install(kEnhancedAes, kProvRsaAes);
    }
    static void TearDownTestSuite()
    {
        delete machine_;
        machine_ = nullptr;
    }

    std::string sign(const Identity& identity, const std::string& algorithm, const std::string& bytes,
                     bool readyDigest)
    {
        return machine_->success(
            {"capi", "crypt", "sign", identity.thumbprint, algorithm, base64(bytes), boolText(readyDigest)});
    }
    std::string signError(const Identity& identity, const std::string& algorithm, const std::string& bytes,
                          bool readyDigest, const std::map<std::string, std::string>& extra = {})
    {
        return machine_->error(
            {"capi", "crypt", "sign", identity.thumbprint, algorithm, base64(bytes), boolText(readyDigest)}, extra);
    }
    std::vector<std::string> signListArgs(const Identity& identity, const std::string& algorithm,
                                          const std::string& listText)
    {
        return {"capi", "crypt", "signList", identity.thumbprint, algorithm, base64(listText)};
    }

    static CapiMachine* machine_;
    static Identity identity_;
};

CapiMachine* CapiSigning::machine_ = nullptr;
Identity CapiSigning::identity_;

TEST_F(CapiSigning, SignsDataAndReadyDigestsThatOpenSslVerifies)
{
    const std::string data = "documento para assinar\n";
    for (const char* name : kDigestNames) {
        SCOPED_TRACE(name);
        const std::string signature = sign(identity_, name, data, false);
        EXPECT_TRUE(machine_->verifies(identity_, name, data, signature, false)) << signature;
        // PKCS#1 v1.5 is deterministic, and a ready digest of the same data
        // gives the same signature.
        EXPECT_EQ(sign(identity_, name, data, false), signature);
        const std::string digest = digestOf(name, data);
        EXPECT_EQ(sign(identity_, name, digest, true), signature);
        EXPECT_TRUE(machine_->verifies(identity_, name, digest, signature, true));
    }
}

TEST_F(CapiSigning, OtherAlgorithmNamesSignWithSha256)
{
    const std::string data = "abc";
    for (const char* name : {"SHA1", "sha384", "", "Sha512"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(machine_->verifies(identity_, "sha256", data, sign(identity_, name, data, false), false));
    }
    // Even empty data hashes and signs.
    EXPECT_TRUE(machine_->verifies(identity_, "sha256", "", sign(identity_, "sha256", "", false), false));
}

TEST_F(CapiSigning, ReadyDigestOfTheWrongLengthIsRefused)
{
    const std::string message = "Tamanho do hash nao condiz com algoritmo utilizado";
    EXPECT_EQ(signError(identity_, "sha256", digestOf("sha1", "x"), true), message);
    EXPECT_EQ(signError(identity_, "sha1", digestOf("sha256", "x"), true), message);
    EXPECT_EQ(signError(identity_, "sha512", "", true), message);
    const std::string shortDigest = base64(digestOf("sha256", "x"));
    EXPECT_EQ(machine_->error(
                  signListArgs(identity_, "sha512", R"([{"value":")" + shortDigest + R"(","hashedData":true}])")),
              message);
}

TEST_F(CapiSigning, SignListAnswersOneCompactObjectPerItemInOrder)
{
    const std::string first = "primeiro", second = "segundo";
    for (const char* name : kDigestNames) {
        SCOPED_TRACE(name);
        const std::string secondDigest = base64(digestOf(name, second));
        const Json list = Json::array({{{"id", 7}, {"value", base64(first)}, {"hashedData", false}},
                                       {{"hashedData", true}, {"value", secondDigest}, {"id", "dois"}},
                                       {{"value", base64(first)}, {"hashedData", false}}});
        const std::string answer = machine_->success(signListArgs(identity_, name, list.dump()));
        const Json parsed = Json::parse(answer);
        ASSERT_EQ(parsed.size(), 3u) << answer;
        EXPECT_EQ(answer, parsed.dump());  // compact, keys in order
        EXPECT_EQ(answer.rfind("[{\"data\":\"" + base64(first) + "\",\"id\":7,\"signed\":\"", 0), 0u) << answer;
        EXPECT_EQ(parsed[1]["data"], secondDigest);
        EXPECT_EQ(parsed[1]["id"], "dois");
        EXPECT_TRUE(parsed[2]["id"].is_null());
        EXPECT_TRUE(parsed[2].contains("id"));
        const std::string firstSignature = parsed[0]["signed"];
        EXPECT_TRUE(machine_->verifies(identity_, name, first, firstSignature, false));
        EXPECT_TRUE(machine_->verifies(identity_, name, digestOf(name, second), parsed[1]["signed"], true));
        EXPECT_EQ(parsed[2]["signed"], firstSignature);
        EXPECT_EQ(sign(identity_, name, first, false), firstSignature);
    }
}

TEST_F(CapiSigning, DataThatIsNotBase64SignsNothing)
{
    const std::string message = "Dados nao estao em base64 valido";
    for (const char* data : { "====", "YQ=", "Y", "yes", "-1", "YWJj!" }) {
        SCOPED_TRACE(data);
        EXPECT_EQ(machine_->error({ "capi", "crypt", "sign", identity_.thumbprint, "sha256", data, "false" }), message);
        // The bad value is found before the first item is signed; the key is
        // never opened (a missing certificate would say so first).
        const std::string list = R"([{"value":"YQ==","hashedData":false},{"value":")" + std::string(data) + R"("}])";
        EXPECT_EQ(machine_->error(signListArgs({ std::string(40, '0'), "", "" }, "sha256", list)), message);
    }
}

TEST_F(CapiSigning, SignListOfNothingAnswersAnEmptyArray)
{
    EXPECT_EQ(machine_->success(signListArgs(identity_, "sha256", "[]")), "[]");
    EXPECT_EQ(machine_->success(signListArgs(identity_, "sha256", "null")), "[]");
    // The list text ends at its first zero byte.
    EXPECT_EQ(machine_->success(signListArgs(identity_, "sha256", std::string("[]\0garbage", 10))), "[]");
}

TEST_F(CapiSigning, SignListRefusesMembersOfTheWrongType)
{
    auto failure = [&](const std::string& list) { return machine_->error(signListArgs(identity_, "sha1", list)); };
    EXPECT_NE(failure(R"([{"value":12,"hashedData":false}])").find("type must be string, but is number"),
              std::string::npos);
    EXPECT_NE(failure(R"([{"hashedData":false}])").find("type must be string, but is null"), std::string::npos);
    EXPECT_NE(failure(R"([{"value":"YQ==","hashedData":"true"}])").find("type must be boolean, but is string"),
              std::string::npos);
    EXPECT_NE(failure(R"([{"value":"YQ=="}])").find("type must be boolean, but is null"), std::string::npos);
    // A failing item discards the signatures already made.
    EXPECT_NE(failure(R"([{"value":"YQ==","hashedData":false},{"value":true}])").find("type must be string"),
              std::string::npos);
    EXPECT_NE(failure("[{").find("parse error"), std::string::npos);
    // The list is parsed before the certificate is looked for.
    EXPECT_NE(machine_->error({"capi", "crypt", "signList", "00", "sha1", base64("nope")}).find("parse error"),
              std::string::npos);
}

// Copying and writing the echoed "id" recurse once per level: a few thousand
// levels overflowed the stack (CapiMachine runs sigbrid on a 1 MiB one).
TEST_F(CapiSigning, SignListRefusesDeepNestingBeforeAnythingRecursesOnIt)
{
    auto nested = [](int depth, const std::string& open, const std::string& close) {
        std::string text;
        for (int i = 0; i < 2 * depth; ++i)
            text += i < depth ? open : close;
        return text;
    };
    auto item = [](const std::string& id) { return R"([{"value":"YQ==","hashedData":false,"id":)" + id + "}]"; };
    const std::string tooDeep = "Lista com aninhamento acima do limite";
    // 11,000 levels stay within Windows' 32,767-character command line.
    for (const std::string& list : { item(nested(11000, "[", "]")), item(nested(3000, R"({"":[)", "]}")),
             item(nested(99, "[", "]")), nested(101, "[", "]") })
        EXPECT_EQ(machine_->error(signListArgs(identity_, "sha256", list)), tooDeep) << list.substr(0, 60);
    // The list, its item and 98 levels of "id" make the limit of 100.
    const Json answer = Json::parse(machine_->success(signListArgs(identity_, "sha256", item(nested(98, "[", "]")))));
    EXPECT_EQ(answer[0]["id"], Json::parse(nested(98, "[", "]")));
}

TEST_F(CapiSigning, CertificatesAreFoundByTheWholeLowerCaseThumbprintOnly)
{
    std::string upper = identity_.thumbprint;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(upper, identity_.thumbprint);
    const std::string notFound = "Err CertFindCertificateInStore";
    const std::string& good = identity_.thumbprint;
    for (const std::string& near : { upper, std::string(40, '0'), good + "g", good + " " })
        EXPECT_EQ(signError({ near, "", "" }, "sha256", "a", false), notFound) << near;
    EXPECT_EQ(machine_->error(signListArgs({std::string(40, 'f'), "", ""}, "sha256", "[]")), notFound);

    const Identity withoutKey = machine_->addCertificate("", "", 0);
    EXPECT_EQ(signError(withoutKey, "sha256", "a", false), "Err CertGetCertificateContextProperty");
}

TEST_F(CapiSigning, KnownSmartCardProvidersAreOpenedAsNamed)
{
    // A PROV_RSA_FULL card provider: SHA-1 is what every one of them signs.
    const Identity card = machine_->install(kEToken, kProvRsaFull);
    const std::string signature = sign(card, "sha1", "cartao", false);
    EXPECT_TRUE(machine_->verifies(card, "sha1", "cartao", signature, false));

    // A container that the named provider lacks: the known branch's message.
    const std::string missing = machine_->newContainerName("missing");
    EXPECT_EQ(signError(machine_->addCertificate(missing, kEToken, kProvRsaFull), "sha256", "a", false),
              "Err CryptAcquireContext1" + kKeysetNotFound);
    // Athena's name, with anything around it, is Microsoft's card provider.
    EXPECT_EQ(signError(machine_->addCertificate(missing, "Athena ASECard Crypto CSP v2", kProvRsaFull), "sha256",
                        "a", false),
              "Err CryptAcquireContext1" + kKeysetNotFound);
    // An abbreviated known name is not known.
    EXPECT_EQ(signError(machine_->addCertificate(missing, "eToken Base", kProvRsaFull), "sha256", "a", false),
              "Err CryptAcquireContext2" + kKeysetNotFound);
}

TEST_F(CapiSigning, OtherProvidersAreOpenedThroughTheEnhancedAesProvider)
{
    // The key lives in the Enhanced AES provider; the certificate names
    // another software provider and a type that is not PROV_RSA_AES.
    const std::string container = machine_->newContainerName();
    machine_->importKey(kEnhancedAes, kProvRsaAes, container);
    for (const char* named : {kStrong, "", "Some Vendor CSP"}) {
        SCOPED_TRACE(named);
        const Identity identity = machine_->addCertificate(container, named, 999);
        EXPECT_TRUE(machine_->verifies(identity, "sha512", "x", sign(identity, "sha512", "x", false), false));
    }
    const Identity missing = machine_->addCertificate(machine_->newContainerName("missing"), kStrong, kProvRsaFull);
    EXPECT_EQ(signError(missing, "sha256", "a", false), "Err CryptAcquireContext2" + kKeysetNotFound);
}

TEST_F(CapiSigning, NonAsciiContainerNamesReachTheirKey)
{
    const std::string container = machine_->newContainerName("Cont\xc3\xaainer-a\xc3\xa7\xc3\xa3o");
    machine_->importKey(kEnhancedAes, kProvRsaAes, container);
    const Identity identity = machine_->addCertificate(container, kEnhancedAes, kProvRsaAes);
    EXPECT_TRUE(machine_->verifies(identity, "sha1", "z", sign(identity, "sha1", "z", false), false));
}

// Failures that a healthy machine never shows, through the stand-in's fault
// switch; Wine has no such switch.
class CapiSigningFaults : public CapiSigning {
protected:
    void SetUp() override
    {
        if (underWine())
            GTEST_SKIP() << "the fault switch belongs to the Linux stand-in";
    }
    std::string withFault(const std::string& faults, const std::string& algorithm = "sha256", bool digest = false)
    {
        const std::string value = digest ? digestOf(algorithm == "sha1" ? "sha1" : "sha256", "d") : "d";
        return signError(identity_, algorithm, value, digest, {{"SIGBRID_FAULTS", faults}});
    }
};

TEST_F(CapiSigningFaults, EachStepFailsWithItsOwnMessage)
{
    EXPECT_EQ(withFault("CertOpenStore=5"), "Err CertOpenStore");
    EXPECT_EQ(withFault("CertFindCertificateInStore=0x80092004"), "Err CertFindCertificateInStore");
    EXPECT_EQ(withFault("CertGetCertificateContextProperty#1=5"), "Err CertGetCertificateContextProperty");
    EXPECT_EQ(withFault("CertGetCertificateContextProperty#2=5"), "The property was not retrieved.");
    EXPECT_EQ(withFault("CryptAcquireContextA=0x80090016"), "Err CryptAcquireContext2" + kKeysetNotFound);
    EXPECT_EQ(withFault("CryptAcquireContextA=0x80090019"), "Err CryptAcquireContext2Erro ao obter chave privada.");
    EXPECT_EQ(withFault("CryptAcquireContextA=5"), "Err CryptAcquireContext2Err 5");
    EXPECT_EQ(withFault("CryptCreateHash=5", "sha1"), "(CryptCreateHash SHA1)Err 5");
    EXPECT_EQ(withFault("CryptCreateHash=5", "sha512"), "(CryptCreateHash SHA512)Err 5");
    EXPECT_EQ(withFault("CryptCreateHash=5", "SHA1"), "(CryptCreateHash SHA256)Err 5");
    EXPECT_EQ(withFault("CryptCreateHash=0x8009000D"), "(CryptCreateHash SHA256)A chave n\xc3\xa3o existe");
    EXPECT_EQ(withFault("CryptSetHashParam=5", "sha1", true), "Err CryptSetHashParam");
    EXPECT_EQ(withFault("CryptHashData=5"), "Err CryptHashData");
    EXPECT_EQ(withFault("CryptSignHashA#1=5"), "Err CryptSignHashErr 5");
    EXPECT_EQ(withFault("CryptSignHashA#2=0x8009000D"), "Err CryptSignHashA chave n\xc3\xa3o existe");
}

TEST_F(CapiSigningFaults, KnownProviderFailuresUseTheFirstFamily)
{
    const Identity card = machine_->install(kEToken, kProvRsaFull);
    EXPECT_EQ(signError(card, "sha256", "a", false, {{"SIGBRID_FAULTS", "CryptAcquireContextA=0x80090016"}}),
              "Err CryptAcquireContext1" + kKeysetNotFound);
    EXPECT_EQ(signError(card, "sha256", "a", false, {{"SIGBRID_FAULTS", "CryptAcquireContextA=0x80090019"}}),
              "Err CryptAcquireContext1Erro ao obter chave privada.");
}

TEST_F(CapiSigningFaults, SignListStopsAtTheFirstFailingItem)
{
    const std::string list = R"([{"value":"YQ==","hashedData":false},{"value":"Yg==","hashedData":false}])";
    EXPECT_EQ(machine_->error(signListArgs(identity_, "sha256", list), {{"SIGBRID_FAULTS", "CryptCreateHash#2=5"}}),
              "(CryptCreateHash SHA256)Err 5");
    EXPECT_EQ(machine_->error(signListArgs(identity_, "sha256", list), {{"SIGBRID_FAULTS", "CryptSignHashA#3=5"}}),
              "Err CryptSignHashErr 5");
}

}  // namespace
