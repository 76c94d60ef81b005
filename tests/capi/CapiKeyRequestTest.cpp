// `capi repo createKeyPair`, `generateCSR` and `importCertificate` as a caller
// runs them: a key made in a container, its request checked by OpenSSL and
// issued by a throw-away authority, the certificate installed, signatures
// with it checked by OpenSSL.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "CapiMachine.h"

namespace {

constexpr const char* kOk = "{\"result\":\"ok\"}";
constexpr const char* kRequestRefused = "{\"error\":\"generateCSR First call to CryptSignandEncode failed.\"}";
constexpr const char* kWineRequests
    = "Wine 8 refuses CryptSignAndEncodeCertificate with sha256RSA (error 2): the certificate was issued for the "
      "public key blob, not for a request";
const std::string kKeysetNotFound = " - conjunto de chave nao encontrada =Err 2148073494";

std::string boolText(bool value) { return value ? "true" : "false"; }

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CapiKeyRequest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        machine_ = new CapiMachine;
        openssl({ "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out", path("ca.pem"),
            "-subj", "/CN=Throw-away CA", "-days", "2" });
        // Wine's stand-in for a request: any request, its key replaced.
        openssl({ "req", "-new", "-key", path("ca.key"), "-subj", "/CN=any", "-out", path("any.csr") });
    }
    static void TearDownTestSuite()
    {
        delete machine_;
        machine_ = nullptr;
    }

    static std::string path(const std::string& name) { return machine_->directory() + "/" + name; }

    // openssl's standard output; a test failure when it fails.
    static std::string openssl(std::vector<std::string> args)
    {
        args.insert(args.begin(), "openssl");
        const ProcessResult result = runProcess(args);
        EXPECT_EQ(result.exitCode, 0) << args[1] << ": " << result.err;
        return result.out;
    }

    static std::string createKeyPair(const std::string& provider, int type, const std::string& container,
        bool useExistingKey, bool alsoGenerateCsr, const std::string& subject = "Maria Silva",
        const std::string& keyBits = "2048")
    {
        return machine_->success({ "capi", "repo", "createKeyPair", provider, std::to_string(type), container,
            boolText(useExistingKey), "false", keyBits, "unused", subject, boolText(alsoGenerateCsr) });
    }
    static std::vector<std::string> importArgs(
        const std::string& provider, int type, const std::string& container, const std::string& der)
    {
        return { "capi", "repo", "importCertificate", provider, std::to_string(type), container, base64(der) };
    }

    // The key's blob is checked, the request (where the platform makes one)
    // is checked against it, and the authority issues the certificate.
    static std::string issue(const std::string& blob, const std::string& request, const std::string& subject)
    {
        static int serial = 1000;
        const std::string blobBytes = unbase64(blob);
        EXPECT_EQ(blobBytes.substr(0, 1), "\x06"); // PUBLICKEYBLOB
        EXPECT_EQ(blobBytes.substr(8, 4), "RSA1");
        const std::string blobFile = machine_->writeFile("key.blob", blobBytes);
        std::vector<std::string> x509 = { "x509", "-req", "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
            "-set_serial", std::to_string(++serial), "-days", "2", "-outform", "DER", "-out", path("issued.der") };
        if (underWine()) {
            EXPECT_EQ(request, kRequestRefused);
            openssl({ "rsa", "-pubin", "-inform", "MSBLOB", "-in", blobFile, "-pubout", "-out", path("key.pem") });
            x509.insert(x509.end(), { "-in", path("any.csr"), "-force_pubkey", path("key.pem") });
        } else {
            const std::string requestFile = machine_->writeFile("request.der", unbase64(request));
            const ProcessResult verified = runProcess({ "openssl", "req", "-inform", "DER", "-in", requestFile,
                "-verify", "-noout", "-subject", "-nameopt", "multiline" });
            EXPECT_EQ(verified.exitCode, 0);
            EXPECT_NE(verified.err.find("verify OK"), std::string::npos) << verified.err;
            // The whole text is the one common name.
            EXPECT_EQ(verified.out, "subject=\n    commonName                = " + subject + "\n");
            const std::string parsed = openssl({ "asn1parse", "-inform", "DER", "-in", requestFile });
            EXPECT_NE(parsed.find("PRINTABLESTRING   :" + subject + "\n"), std::string::npos) << parsed;
            EXPECT_NE(parsed.find(":sha256WithRSAEncryption\n"), std::string::npos) << parsed;
            // The request's key is the one whose blob createKeyPair answered.
            EXPECT_EQ(openssl({ "req", "-inform", "DER", "-in", requestFile, "-noout", "-modulus" }),
                openssl({ "rsa", "-pubin", "-inform", "MSBLOB", "-in", blobFile, "-noout", "-modulus" }));
            x509.insert(x509.end(), { "-inform", "DER", "-in", requestFile });
        }
        openssl(x509);
        return readFile(path("issued.der"));
    }

    static std::string sign(const Identity& identity, const std::string& digest, const std::string& data)
    {
        return machine_->success({ "capi", "crypt", "sign", identity.thumbprint, digest, base64(data), "false" });
    }

    static CapiMachine* machine_;
};

CapiMachine* CapiKeyRequest::machine_ = nullptr;

struct StoreCase {
    const char* provider;
    int type;
    const char* containerStem;
    const char* digest; // one that the provider signs under Wine too
    const char* acquireFailure; // the signing family that opens this provider
};

class CertificateInStore : public CapiKeyRequest, public ::testing::WithParamInterface<StoreCase> { };

TEST_P(CertificateInStore, IssuedForTheNewKeyItSignsForOpenSsl)
{
    const StoreCase& c = GetParam();
    const std::string container = machine_->newContainerName(c.containerStem);
    const std::string subject = "CN=Maria Silva,O=Example";
    const std::string request = createKeyPair(c.provider, c.type, container, false, true, subject);
    // The container exists now: the key step fails, and the request answers.
    EXPECT_EQ(createKeyPair(c.provider, c.type, container, false, true, subject), request);
    const std::string blob = createKeyPair(c.provider, c.type, container, true, false);
    const std::string der = issue(blob, request, subject);

    EXPECT_EQ(machine_->success(importArgs(c.provider, c.type, container, der)), kOk);
    const Identity identity = { sha1Hex(der),
        machine_->writeFile(
            "issued.pem", openssl({ "x509", "-inform", "DER", "-in", path("issued.der"), "-noout", "-pubkey" })),
        container };
    EXPECT_TRUE(machine_->verifies(identity, c.digest, "contrato", sign(identity, c.digest, "contrato"), false));

    EXPECT_EQ(machine_->success(importArgs(c.provider, c.type, container, der)), kOk);
    if (!underWine()) {
        EXPECT_EQ(machine_->copiesInStore(identity.thumbprint), 2);
    }
    EXPECT_TRUE(machine_->verifies(identity, c.digest, "outro", sign(identity, c.digest, "outro"), false));

    // Nothing opens the container at installation; signing does.
    const std::string other = issue(blob, request, subject);
    EXPECT_EQ(machine_->success(importArgs(c.provider, c.type, container + "-wrong", other)), kOk);
    EXPECT_EQ(machine_->error({ "capi", "crypt", "sign", sha1Hex(other), c.digest, base64("x"), "false" }),
        c.acquireFailure + kKeysetNotFound);
    if (underWine())
        GTEST_SKIP() << kWineRequests << "; Wine's store keeps one copy per certificate";
}

INSTANTIATE_TEST_SUITE_P(Providers, CertificateInStore,
    ::testing::Values(StoreCase { kEnhancedAes, kProvRsaAes, "Cont\xc3\xaainer-a\xc3\xa7\xc3\xa3o", "sha256",
                          "Err CryptAcquireContext2" },
        StoreCase { kAccentedCard, kProvRsaFull, "card", "sha1", "Err CryptAcquireContext1" }));

TEST_F(CapiKeyRequest, CertificateInstalledOnACardKeyReadsBackAndSigns)
{
    const std::string container = machine_->newContainerName("card");
    const std::string request = createKeyPair(kEToken, kProvRsaFull, container, false, true);
    const std::string der = issue(createKeyPair(kEToken, kProvRsaFull, container, true, false), request, "Maria Silva");
    if (underWine()) {
        EXPECT_EQ(machine_->error(importArgs(kEToken, kProvRsaFull, container, der)),
            "acceptPKCS7 - Operacao cancelada ou token bloqueado");
        GTEST_SKIP() << kWineRequests << "; Wine's rsaenh keeps no certificate with a key (KP_CERTIFICATE: "
                     << "NTE_BAD_TYPE)";
    }
    EXPECT_EQ(machine_->success(importArgs(kEToken, kProvRsaFull, container, der)), kOk);
    EXPECT_EQ(machine_->keyCertificate(kEToken, kProvRsaFull, container), der);
    EXPECT_EQ(machine_->copiesInStore(sha1Hex(der)), 0);
    // As Windows' certificate propagation does for a card, the certificate
    // read from the key goes to "MY" with its key link.
    const Identity identity = machine_->placeCertificate(der, container, kEToken, kProvRsaFull);
    EXPECT_TRUE(machine_->verifies(identity, "sha1", "cartao", sign(identity, "sha1", "cartao"), false));
}

TEST_F(CapiKeyRequest, KeyStepThatFailsLeavesItsContainerBehind)
{
    const std::string container = machine_->newContainerName("left");
    // 32768 bits fit the flag word, and no provider makes such a key.
    EXPECT_EQ(createKeyPair(kEnhancedAes, kProvRsaAes, container, false, false, "x", "32768"),
        "{\"error\":\"createKeyPair - CryptGenKey\"}");
    EXPECT_EQ(createKeyPair(kEnhancedAes, kProvRsaAes, container, false, false),
        "{\"error\":\"createKeyPair - CryptAcquireContext\"}");
    EXPECT_EQ(createKeyPair(kEnhancedAes, kProvRsaAes, container, true, false),
        "{\"error\":\"createKeyPair - CryptGetUserKey\"}");
}

// Every failure message in step order. Placeholders name the suite's
// containers and certificate; steps that a healthy machine never fails are
// reached with the stand-in's fault switch.
enum class Answer { ErrorText, Raised };
enum class OnWine { Runs, Skipped };

struct FailureCase {
    std::vector<std::string> args; // after "capi repo"
    const char* faults;
    const char* message;
    Answer answer;
    OnWine onWine = OnWine::Runs;
};

class FailureMessages : public CapiKeyRequest, public ::testing::WithParamInterface<FailureCase> {
protected:
    static void SetUpTestSuite()
    {
        CapiKeyRequest::SetUpTestSuite();
        names_["$KEY"] = machine_->newContainerName("key");
        machine_->importKey(kEnhancedAes, kProvRsaAes, names_["$KEY"]);
        names_["$CARDKEY"] = machine_->newContainerName("cardkey");
        machine_->importKey(kEToken, kProvRsaFull, names_["$CARDKEY"]);
        names_["$EMPTY"] = machine_->newContainerName("empty");
        machine_->createContainer(kEToken, kProvRsaFull, names_["$EMPTY"]);
        names_["$CERT"] = base64(selfSignedCertificate(7, "sigbrid failures"));
    }

    std::string value(const std::string& text) const
    {
        if (text == "$NEW")
            return machine_->newContainerName("new");
        const auto found = names_.find(text);
        return found == names_.end() ? text : found->second;
    }

    static std::map<std::string, std::string> names_;
};

std::map<std::string, std::string> FailureMessages::names_;

TEST_P(FailureMessages, AnswerTheFailingStepsMessage)
{
    const FailureCase& c = GetParam();
    if (underWine() && *c.faults)
        GTEST_SKIP() << "the fault switch belongs to the Linux stand-in";
    if (underWine() && c.onWine == OnWine::Skipped)
        GTEST_SKIP() << "Wine's crypt32 puts any byte in a PrintableString; Windows refuses '@' and accented letters";
    std::vector<std::string> args = { "capi", "repo" };
    for (const std::string& text : c.args)
        args.push_back(value(text));
    const std::map<std::string, std::string> faults = { { "SIGBRID_FAULTS", c.faults } };
    if (c.answer == Answer::ErrorText)
        EXPECT_EQ(machine_->success(args, faults), std::string("{\"error\":\"") + c.message + "\"}");
    else
        EXPECT_EQ(machine_->error(args, faults), c.message);
}

std::vector<std::string> keyPair(const std::string& provider, const std::string& container,
    const std::string& useExistingKey = "false", const std::string& subject = "Maria",
    const std::string& alsoGenerateCsr = "false")
{
    return { "createKeyPair", provider, provider == kEToken ? "1" : "24", container, useExistingKey, "true", "2048",
        "-", subject, alsoGenerateCsr };
}
std::vector<std::string> request(
    const std::string& provider, const std::string& container, const std::string& subject = "Maria")
{
    return { "generateCSR", provider, provider == kEToken ? "1" : "24", container, subject };
}
std::vector<std::string> install(
    const std::string& provider, const std::string& container, const std::string& certificate = "$CERT")
{
    return { "importCertificate", provider, provider == kEToken ? "1" : "24", container, certificate };
}

const std::string kNoCertificate = base64("not a certificate");
const std::string kCutCertificate = base64(selfSignedCertificate(8, "cut").substr(0, 200));

INSTANTIATE_TEST_SUITE_P(EveryStep, FailureMessages,
    ::testing::Values(
        FailureCase { keyPair("", "$NEW"), "", "createKeyPair - providerName is null", Answer::ErrorText },
        FailureCase { keyPair(kEnhancedAes, ""), "", "createKeyPair - containerName is null", Answer::ErrorText },
        FailureCase { keyPair(kEnhancedAes, "$NEW"), "CryptAcquireContextA=5", "createKeyPair - CryptAcquireContext",
            Answer::ErrorText },
        FailureCase {
            keyPair(kEnhancedAes, "$NEW"), "CryptGenKey=5", "createKeyPair - CryptGenKey", Answer::ErrorText },
        FailureCase { keyPair(kEnhancedAes, "$KEY", "true"), "CryptGetUserKey=5", "createKeyPair - CryptGetUserKey",
            Answer::ErrorText },
        FailureCase {
            keyPair(kEnhancedAes, "$NEW"), "CryptExportKey#1=5", "createKeyPair - CryptExportKey", Answer::ErrorText },
        FailureCase {
            keyPair(kEnhancedAes, "$NEW"), "LocalAlloc=8", "createKeyPair - Insufficient Memory", Answer::ErrorText },
        FailureCase {
            keyPair(kEnhancedAes, "$NEW"), "CryptExportKey#2=5", "createKeyPair - CryptExportKey", Answer::ErrorText },
        // The key is made, and the request's answer replaces the blob.
        FailureCase { keyPair(kEnhancedAes, "$NEW", "false", "maria@example.com", "true"), "",
            "generateCSR The first call to CryptEncodeObject failed. A public/private key pair may not exit "
            "in the container.",
            Answer::ErrorText, OnWine::Skipped },
        FailureCase { request(kEnhancedAes, "$KEY", ""), "", "generateCSR - DN is null", Answer::ErrorText },
        FailureCase { request("", "$KEY"), "", "generateCSR - Provider name is null", Answer::ErrorText },
        FailureCase { request(kEnhancedAes, ""), "", "generateCSR - Container name is null", Answer::ErrorText },
        FailureCase { request(kEnhancedAes, "$KEY", "Jo\xc3\xa3o"), "",
            "generateCSR The first call to CryptEncodeObject failed. A public/private key pair may not exit "
            "in the container.",
            Answer::ErrorText, OnWine::Skipped },
        FailureCase { request(kEnhancedAes, "$KEY"), "LocalAlloc#1=8",
            "generateCSR The pbNamencoded malloc operation failed.", Answer::ErrorText },
        FailureCase { request(kEnhancedAes, "$KEY"), "CryptEncodeObject#2=5",
            "generateCSR The second call to CryptEncodeObject failed.", Answer::ErrorText },
        FailureCase { request(kEToken, "missing"), "", "generateCSR CryptAcquireContext failed 1.", Answer::ErrorText },
        FailureCase {
            request(kEnhancedAes, "missing"), "", "generateCSR CryptAcquireContext failed 2.", Answer::ErrorText },
        FailureCase { request(kEToken, "$EMPTY"), "",
            "generateCSR The first call to CryptExportPublickKeyInfo failed.  The probable cause is that  "
            "There is no key pair in the key container.",
            Answer::ErrorText },
        FailureCase { request(kEnhancedAes, "$KEY"), "LocalAlloc#2=8", "generateCSR Memory allocation failed.",
            Answer::ErrorText },
        FailureCase { request(kEnhancedAes, "$KEY"), "CryptExportPublicKeyInfo#2=5",
            "generateCSR The second call to CryptExportPublicKeyInfo failed.", Answer::ErrorText },
        FailureCase { request(kEnhancedAes, "$KEY"), "CryptSignAndEncodeCertificate#1=5",
            "generateCSR First call to CryptSignandEncode failed.", Answer::ErrorText },
        FailureCase { request(kEnhancedAes, "$KEY"), "LocalAlloc#3=8", "generateCSR The malloc operation failed.",
            Answer::ErrorText },
        FailureCase { request(kEnhancedAes, "$KEY"), "CryptSignAndEncodeCertificate#2=5",
            "generateCSR The second call to CryptSignAndEncode failed.", Answer::ErrorText },
        FailureCase { install("", "c"), "", "acceptPKCS7 - Provider name is null", Answer::Raised },
        FailureCase { install(kEnhancedAes, ""), "", "acceptPKCS7 - Container name is null", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c", ""), "", "acceptPKCS7 - PKCS#7 data is null", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c"), "CertOpenStore=5", "acceptPKCS7 - CertOpenStore", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c", kNoCertificate), "", "acceptPKCS7 - CertCreateCertificateContext",
            Answer::Raised },
        FailureCase { install(kEnhancedAes, "c"), "MultiByteToWideChar#1=87",
            "acceptPKCS7 - MultiByteToWideChar - w_container", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c"), "MultiByteToWideChar#2=87",
            "acceptPKCS7 - MultiByteToWideChar - w_container", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c"), "MultiByteToWideChar#3=87",
            "acceptPKCS7 - MultiByteToWideChar - w_provider", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c"), "MultiByteToWideChar#4=87",
            "acceptPKCS7 - Insufficient Memory - w_provider", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c"), "CertAddCertificateContextToStore=5",
            "acceptPKCS7 - CertAddCertificateContextToStore", Answer::Raised },
        FailureCase { install(kEnhancedAes, "c"), "CertSetCertificateContextProperty=5",
            "acceptPKCS7 - CertSetCertificateContextProperty", Answer::Raised },
        // Card providers, Microsoft's included, and lower-case names open
        // the container; a Microsoft software provider's name would not.
        FailureCase { install(kEToken, "missing"), "",
            "acceptPKCS7 - Erro recuperando Contexto criptografico. Valide o nome do container e o Provider",
            Answer::Raised },
        FailureCase { install(kMsSmartCard, "missing"), "",
            "acceptPKCS7 - Erro recuperando Contexto criptografico. Valide o nome do container e o Provider",
            Answer::Raised },
        FailureCase { install("microsoft enhanced rsa and aes cryptographic provider", "missing"), "",
            "acceptPKCS7 - Erro recuperando Contexto criptografico. Valide o nome do container e o Provider",
            Answer::Raised },
        FailureCase { install(kEToken, "$EMPTY"), "", "acceptPKCS7 - CryptGetUserKey", Answer::Raised },
        FailureCase { install(kEToken, "$CARDKEY", kNoCertificate), "",
            "acceptPKCS7 - Operacao cancelada ou token bloqueado", Answer::Raised },
        // KP_CERTIFICATE has no length: bytes cut short never reach it.
        FailureCase { install(kEToken, "$CARDKEY", kCutCertificate), "",
            "acceptPKCS7 - Operacao cancelada ou token bloqueado", Answer::Raised }));

} // namespace
