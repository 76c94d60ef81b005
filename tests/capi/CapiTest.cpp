// The `capi` requests as a caller runs them: keys made and certificates
// installed by the requests themselves, every signature checked with OpenSSL,
// requests checked and their keys certified, and every failure answered with
// the message of the step that failed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "CapiMachine.h"
#include "IssuedCertificates.h"

namespace {

using Json = nlohmann::json;
using Args = std::vector<std::string>;

constexpr const char* kOk = "{\"result\":\"ok\"}";
// A subject that the stand-in's ANSI code page (UTF-8) cannot read: its
// request fails.
constexpr const char* kNotUtf8 = "Jo\xe3o";
const std::string kKeysetNotFound = " - conjunto de chave nao encontrada =Err 2148073494";

std::string boolText(bool value) { return value ? "true" : "false"; }

Args signing(const std::string& thumbprint, const std::string& algorithm,
    const std::string& data = "ZA==", const std::string& readyDigest = "false")
{
    return { "capi", "crypt", "sign", thumbprint, algorithm, data, readyDigest };
}
Args signingList(const std::string& thumbprint, const std::string& algorithm, const std::string& list)
{
    return { "capi", "crypt", "signList", thumbprint, algorithm, base64(list) };
}

// The software provider is of the AES type, a KSP of none, every other one of
// the full RSA type.
std::string typeOf(const std::string& provider)
{
    if (provider == kSoftwareKsp || provider == kSmartCardKsp)
        return "0";
    return provider == kEnhancedAes ? "24" : "1";
}
Args counting(const std::string& provider, const std::string& type)
{
    return { "capi", "list", "countContainer", provider, type };
}
Args keyPair(const std::string& container = "$NEW", const std::string& keyBits = "2048",
    const std::string& useExistingKey = "false", const std::string& subject = "Maria",
    const std::string& alsoGenerateCsr = "false", const std::string& provider = kEnhancedAes)
{
    // A card makes no exportable key.
    const std::string exportable = provider == kSmartCardKsp ? "false" : "true";
    return { "capi", "repo", "createKeyPair", provider, typeOf(provider), container, useExistingKey, exportable,
        keyBits, "-", subject, alsoGenerateCsr };
}
Args request(const std::string& provider = kEnhancedAes, const std::string& container = "$KEY",
    const std::string& subject = "Maria")
{
    return { "capi", "repo", "generateCSR", provider, typeOf(provider), container, subject };
}
Args install(const std::string& provider = kEnhancedAes, const std::string& container = "c",
    const std::string& certificate = "$CERT")
{
    return { "capi", "repo", "importCertificate", provider, typeOf(provider), container, certificate };
}

class Capi : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        machine_ = std::make_unique<CapiMachine>();
        signer_ = machine_->install(kEnhancedAes, kProvRsaAes);
        const std::string unlinked = selfSignedCertificate(6, "unlinked");
        names_ = { { "$ID", signer_.thumbprint }, { "$ID41", signer_.thumbprint + "0" }, { "$KEY", signer_.container },
            { "$CARDKEY", machine_->newContainerName("card") }, { "$EMPTY", machine_->newContainerName("empty") },
            { "$LEFT", machine_->newContainerName("left") }, { "$NOKEY", sha1Hex(unlinked) },
            { "$CERT", base64(selfSignedCertificate(7, "sigbrid failures")) } };
        // Less than a kilobit asks for the provider's own length.
        const std::string blob
            = unbase64(machine_->success(keyPair(names_["$CARDKEY"], "-1", "false", "M", "false", kEToken)));
        EXPECT_EQ(blob.substr(0, 1) + blob.substr(8, 4), "\x06RSA1");
        machine_->createEmptyContainer(kEToken, kProvRsaFull, names_["$EMPTY"]);
        if (underWine())
            return;
        machine_->addUnlinked(unlinked);
        // A signer of each KSP, and a certificate whose KSP key was deleted.
        kspSigners_ = { machine_->install(kSoftwareKsp, kKspType), machine_->install(kSmartCardKsp, kKspType) };
        const std::string gone = machine_->newContainerName("gone");
        machine_->createEmptyContainer(kSoftwareKsp, kKspType, gone);
        names_.insert({ { "$KSPID", kspSigners_[0].thumbprint }, { "$CARDKSPID", kspSigners_[1].thumbprint },
            { "$KSPKEY", kspSigners_[0].container }, { "$KSPLEFT", machine_->newContainerName("kspleft") },
            { "$KSPGONE", machine_->addCertificate(gone, kSoftwareKsp, kKspType).thumbprint } });
    }
    static void TearDownTestSuite() { machine_.reset(); }

    // openssl's standard output; a test failure when it fails.
    static std::string openssl(Args args)
    {
        args.insert(args.begin(), "openssl");
        const ProcessResult result = runProcess(args);
        EXPECT_EQ(result.exitCode, 0) << args[1] << ": " << result.err;
        return result.out;
    }

    static std::string sign(
        const Identity& identity, const std::string& algorithm, const std::string& bytes, bool readyDigest = false)
    {
        return machine_->success(signing(identity.thumbprint, algorithm, base64(bytes), boolText(readyDigest)));
    }
    static bool signsFor(const Identity& identity, const std::string& algorithm, const std::string& data)
    {
        return verifies(identity, algorithm, data, sign(identity, algorithm, data), false);
    }

    // The blob of a new 3000-bit key, or the request for the one there.
    static std::string createKeyPair(const std::string& provider, const std::string& container, bool useExistingKey,
        const std::string& subject = "Maria Silva")
    {
        return machine_->success(
            keyPair(container, "3000", boolText(useExistingKey), subject, boolText(useExistingKey), provider));
    }

    // The key's blob is checked, the request (where the platform makes one)
    // is checked against it, and the suite's key issues the certificate for
    // the blob's key. The subject is one common name of the ASN.1 string
    // type `tag`: PrintableString (0x13) or UTF8String (0x0c).
    static std::string issue(
        const std::string& blob, const std::string& request, const std::string& subject, char tag = 0x13)
    {
        static int serial = 1000;
        const std::string blobBytes = unbase64(blob);
        EXPECT_EQ(blobBytes.substr(0, 1), "\x06"); // PUBLICKEYBLOB
        // RSA1 and 2048 bits: key lengths are whole kilobits.
        EXPECT_EQ(blobBytes.substr(8, 8), std::string("RSA1\x00\x08\x00\x00", 8));
        if (underWine()) {
            // The name was encoded: Wine fails the next step.
            EXPECT_EQ(request, "{\"error\":\"generateCSR First call to CryptSignandEncode failed.\"}");
        } else {
            const std::string requestFile = machine_->writeFile("request.der", unbase64(request));
            const ProcessResult verified = runProcess({ "openssl", "req", "-inform", "DER", "-in", requestFile,
                "-verify", "-noout", "-subject", "-nameopt", "multiline,utf8,-esc_msb", "-modulus" });
            EXPECT_NE(verified.err.find("verify OK"), std::string::npos) << verified.err;
            // The whole text is the one common name, and the request's key is
            // the one whose blob createKeyPair answered.
            const std::string blobFile = machine_->writeFile("key.blob", blobBytes);
            EXPECT_EQ(verified.out,
                "subject=\n    commonName                = " + subject + "\n"
                    + openssl({ "rsa", "-pubin", "-inform", "MSBLOB", "-in", blobFile, "-noout", "-modulus" }));
            // Name, RDN and attribute around the value, byte for byte.
            std::string name = std::string { tag, static_cast<char>(subject.size()) } + subject;
            name = "\x30" + std::string { static_cast<char>(name.size() + 5) } + "\x06\x03\x55\x04\x03" + name;
            for (const char* wrapper : { "\x31", "\x30" })
                name = wrapper + std::string { static_cast<char>(name.size()) } + name;
            EXPECT_NE(unbase64(request).find(name), std::string::npos) << subject;
            const std::string parsed = openssl({ "asn1parse", "-inform", "DER", "-in", requestFile });
            EXPECT_NE(parsed.find(":sha256WithRSAEncryption\n"), std::string::npos) << parsed;
        }
        return selfSignedCertificate(++serial, subject, blobKey(blobBytes).get());
    }

    static inline std::unique_ptr<CapiMachine> machine_;
    static inline Identity signer_;
    // Not under Wine, whose ncrypt opens no persisted key (Wine 8's
    // NCryptOpenKey is a stub).
    static inline std::vector<Identity> kspSigners_;
    static inline std::map<std::string, std::string> names_;
};

TEST_F(Capi, SignaturesVerifyWithOpenSsl)
{
    const std::string first = "primeiro", second = "segundo";
    // A CSP's key and, where CNG keeps keys, a key of each KSP.
    std::vector<Identity> signers = kspSigners_;
    signers.insert(signers.begin(), signer_);
    for (const Identity& signer : signers) {
        SCOPED_TRACE(signer.container);
        for (const char* name : { "sha1", "sha256", "sha512" }) {
            SCOPED_TRACE(name);
            const std::string signature = sign(signer, name, first);
            EXPECT_TRUE(verifies(signer, name, first, signature, false)) << signature;
            // PKCS#1 v1.5 is deterministic (the list below signs the same data
            // again), and a ready digest of the same data gives the same
            // signature.
            EXPECT_EQ(sign(signer, name, digestOf(name, first), true), signature);

            // signList: one compact object per item, in order, "id" echoed
            // (null when the item has none).
            const std::string secondDigest = base64(digestOf(name, second));
            const Json list = Json::array({ { { "id", 7 }, { "value", base64(first) }, { "hashedData", false } },
                { { "hashedData", true }, { "value", secondDigest }, { "id", "dois" } },
                { { "value", base64(first) }, { "hashedData", false } } });
            EXPECT_EQ(machine_->success(signingList(signer.thumbprint, name, list.dump())),
                Json::array({ { { "data", base64(first) }, { "id", 7 }, { "signed", signature } },
                                { { "data", secondDigest }, { "id", "dois" }, { "signed", sign(signer, name, second) } },
                                { { "data", base64(first) }, { "id", nullptr }, { "signed", signature } } })
                    .dump());
        }
        // Other algorithm names sign with SHA-256; even empty data signs.
        for (const char* name : { "SHA1", "sha384", "", "Sha512", "sha1 " })
            EXPECT_TRUE(verifies(signer, "sha256", "", sign(signer, name, ""), false)) << name;
        // Line breaks aside, well-formed base64 is signed as written.
        for (const char* data : { "\r\n", "YW\r\nJj", "+/+/" })
            EXPECT_TRUE(verifies(
                signer, "sha256", unbase64(data), machine_->success(signing(signer.thumbprint, "sha256", data)), false))
                << data;
    }

    // Any provider but a known card one, of any type, is opened as the
    // Enhanced AES one.
    const Pkey key = certificateKey(signer_.certificate);
    for (const char* named : { kStrong, "Some Vendor CSP for Microsoft" })
        EXPECT_TRUE(signsFor(machine_->addCertificate(signer_.container, named, 999, key.get()), "sha512", "x"))
            << named;

    // A container that the named provider lacks shows which family opened it:
    // Athena's name, with anything around it, is Microsoft's card provider,
    // and an abbreviated known name is not known.
    const std::string missing = machine_->newContainerName("missing");
    for (const auto& [provider, family] : std::vector<std::pair<std::string, std::string>> { { kAccentedCard, "1" },
             { "Athena ASECard Crypto CSP v2 Microsoft", "1" }, { "eToken Base Microsoft", "2" } })
        EXPECT_EQ(
            machine_->error(signing(machine_->addCertificate(missing, provider, kProvRsaFull).thumbprint, "sha256")),
            "Err CryptAcquireContext" + family + kKeysetNotFound)
            << provider;
}

// A long list on a key that software holds signs on several threads, each
// opening a key of its own (the process dies at its second opening here);
// the answer is the one thread's, byte for byte, and the first failing item
// in list order decides a failure. A card's list stays on one thread: the
// stand-in stops a program whose second thread opens a card's key.
TEST_F(Capi, SignListAnswersAlikeOnOneProcessorAndOnFour)
{
    if (underWine())
        GTEST_SKIP() << "the processors that Wine reports are the host's";
    auto listOf = [](std::size_t size, const std::map<std::size_t, Json>& bad = {}) {
        Json list = Json::array();
        for (std::size_t i = 0; i < size; ++i)
            list.push_back(bad.count(i) ? bad.at(i)
                                        : Json { { "id", i }, { "value", base64(digestOf("sha1", std::to_string(i))) },
                                              { "hashedData", i % 3 == 0 } });
        return list.dump();
    };
    const Json shortDigest = { { "value", base64("short") }, { "hashedData", true } };
    const Json numberValue = { { "value", 12 }, { "hashedData", false } };
    const Json noFlag = { { "value", "YQ==" } };
    const std::string card = machine_->install(kAccentedCard, kProvRsaFull).thumbprint;
    const std::string wrongLength = "Tamanho do hash nao condiz com algoritmo utilizado";
    const std::string kTypeError = "[json.exception.type_error.302] type must be ";
    const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
        { signer_.thumbprint, listOf(63), "", "" }, { signer_.thumbprint, listOf(64), "", "" },
        { signer_.thumbprint, listOf(65), "", "" }, { signer_.thumbprint, listOf(1000), "", "" },
        { signer_.thumbprint, listOf(1000, { { 0, shortDigest } }), wrongLength, "" },
        { signer_.thumbprint, listOf(1000, { { 500, numberValue } }), kTypeError + "string, but is number", "" },
        { signer_.thumbprint, listOf(1000, { { 999, noFlag } }), kTypeError + "boolean, but is null", "" },
        { signer_.thumbprint, listOf(1000, { { 400, noFlag }, { 900, shortDigest } }),
            kTypeError + "boolean, but is null", "" },
        { signer_.thumbprint, listOf(128), "", "CryptAcquireContextA#2=kill" },
        { kspSigners_[0].thumbprint, listOf(1000), "", "" }, { kspSigners_[1].thumbprint, listOf(300), "", "" },
        { card, listOf(300), "", "" },
    };
    for (const auto& [thumbprint, list, failure, faults] : rows) {
        machine_->writeFile("list", base64(list));
        const Args args = { "capi", "crypt", "signList", thumbprint, "sha1", machine_->fromFile("list") };
        machine_->writeFile("processors", "1");
        const std::string one = machine_->sigbrid(args, { { "SIGBRID_FAULTS", faults } }).out;
        const Json answer = Json::parse(one);
        EXPECT_TRUE(failure.empty() ? answer["success"].is_string() : answer["error"] == failure) << one.substr(0, 200);
        machine_->writeFile("processors", "4");
        // Compared whole, and not printed: an answer runs to hundreds of kilobytes.
        EXPECT_TRUE(machine_->sigbrid(args, { { "SIGBRID_FAULTS", faults } }).out == (faults.empty() ? one : ""))
            << thumbprint << ", " << Json::parse(list).size() << " items";
    }
    std::filesystem::remove(machine_->directory() + "/processors");
}

TEST_F(Capi, RefusedInputsSignNothing)
{
    for (const char* data :
        { "====", "YQ=", "Y", "yes", "-1", "YWJj!", "YW J", "YQ==YQ==", "YW=j", "Y===", "YWJ\t", "YQ-_", "!QQ=" }) {
        EXPECT_EQ(machine_->error(signing(signer_.thumbprint, "sha256", data)), "Dados nao estao em base64 valido");
        // The bad value is found before the first item is signed; the key is
        // never opened (a missing certificate would say so first).
        const Json list = Json::array({ { { "value", "YQ==" }, { "hashedData", false } }, { { "value", data } } });
        EXPECT_EQ(machine_->error(signingList(std::string(40, '0'), "sha256", list.dump())),
            "Dados nao estao em base64 valido");
    }

    // Certificates are found by the whole lower-case thumbprint only.
    std::string upper = signer_.thumbprint;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    ASSERT_NE(upper, signer_.thumbprint);
    for (const std::string& near : { upper, std::string(40, '0'), signer_.thumbprint + "g", signer_.thumbprint + " " })
        EXPECT_EQ(machine_->error(signing(near, "sha256")), "Err CertFindCertificateInStore") << near;

    // Members of the wrong type; a failing item discards the signatures
    // already made, and the list is parsed before the certificate is looked
    // for.
    for (const auto& [list, message] : std::vector<std::pair<std::string, std::string>> {
             { R"([{"value":12,"hashedData":false}])", "type must be string, but is number" },
             { R"([{"hashedData":false}])", "type must be string, but is null" },
             { R"([{"value":"YQ==","hashedData":"true"}])", "type must be boolean, but is string" },
             { R"([{"value":"YQ=="}])", "type must be boolean, but is null" },
             { R"([{"value":"YQ==","hashedData":false},{"value":true}])", "type must be string" },
             { "[{", "parse error" }, { "nope", "parse error" } })
        EXPECT_NE(machine_->error(signingList(message == "parse error" ? "00" : signer_.thumbprint, "sha1", list))
                      .find(message),
            std::string::npos)
            << list;

    // Copying and writing the echoed "id" recurse once per level: a few
    // thousand levels overflowed the stack (sigbrid runs on a 1 MiB one).
    auto nested = [](int depth, const std::string& open, const std::string& close) {
        std::string text;
        for (int i = 0; i < 2 * depth; ++i)
            text += i < depth ? open : close;
        return text;
    };
    auto item = [](const std::string& id) { return R"([{"value":"YQ==","hashedData":false,"id":)" + id + "}]"; };
    for (const std::string& list :
        { item(nested(3000, R"({"":[)", "]}")), item(nested(99, "[", "]")), nested(101, "[", "]") })
        EXPECT_EQ(
            machine_->error(signingList(signer_.thumbprint, "sha256", list)), "Lista com aninhamento acima do limite")
            << list.substr(0, 60);
    // The list, its item and 98 levels of "id" make the limit of 100.
    const Json answer
        = Json::parse(machine_->success(signingList(signer_.thumbprint, "sha256", item(nested(98, "[", "]")))));
    EXPECT_EQ(answer[0]["id"], Json::parse(nested(98, "[", "]")));
}

// What a caller builds its certificate picker from: every certificate of
// "MY", in the store's order, with the key link it has. Wine's crypt32
// decodes no otherName of an alternative name, so there no CPF or CNPJ is
// read.
TEST_F(Capi, CertificatesAreListedWithWhatTheyHold)
{
    std::map<std::string, Json> expected;
    for (const IssuedCertificate& issued : issuedCertificates()) {
        const std::string container = machine_->newContainerName("picker");
        EXPECT_EQ(machine_->success(install(kEnhancedAes, container, base64(issued.der))), kOk);
        Json record = issued.record;
        record.update({ { "thumbprint", sha1Hex(issued.der) }, { "hasPrivateKey", true }, { "provider", kEnhancedAes },
            { "providerType", kProvRsaAes }, { "container", container } });
        if (underWine()) {
            record.erase("cpf");
            record.erase("cnpj");
        }
        expected[sha1Hex(issued.der)] = record;
    }
    const Json listed = Json::parse(machine_->success({ "capi", "list", "certificates" }));
    std::size_t found = 0;
    for (const Json& record : listed) {
        const std::string thumbprint = record.at("thumbprint");
        if (expected.count(thumbprint)) {
            EXPECT_EQ(record, expected[thumbprint]);
            ++found;
        }
        // The one whose key link failed to be stored (the stand-in's faults).
        if (thumbprint == names_["$NOKEY"] && !underWine()) {
            EXPECT_EQ(record.at("hasPrivateKey"), false);
            EXPECT_FALSE(record.contains("provider"));
            ++found;
        }
    }
    EXPECT_EQ(found, expected.size() + !underWine());
}

TEST_F(Capi, ProvidersAndContainersAreListed)
{
    const std::string answer = machine_->success({ "capi", "list", "csp" });
    const Json parsed = Json::parse(answer);
    EXPECT_EQ(answer, parsed.dump());
    // Names that do not convert to UTF-8 are answered as they are.
    if (!underWine()) {
        EXPECT_EQ(
            machine_->success({ "capi", "list", "csp" }, { { "SIGBRID_FAULTS", "MultiByteToWideChar=87" } }), answer);
    }
    EXPECT_NE(answer.find(std::string("{\"cspname\":\"") + kEnhancedAes + "\",\"csptype\":24}"), std::string::npos);
    EXPECT_NE(answer.find(std::string("{\"cspname\":\"") + kStrong + "\",\"csptype\":1}"), std::string::npos);

    auto listed = [](const std::string& provider, const std::string& type) {
        const std::string answer = machine_->success({ "capi", "list", "listContainer", provider, type });
        std::vector<std::string> names;
        EXPECT_EQ(answer, Json::parse(answer).dump());
        for (const Json& entry : Json::parse(answer)) {
            EXPECT_EQ(entry.size(), 1u);
            names.push_back(entry.at("name"));
        }
        return names;
    };
    auto count = [](const std::string& provider, const std::string& type, const std::string& faults = "") {
        return machine_->success(counting(provider, type), { { "SIGBRID_FAULTS", faults } });
    };
    // A new container of the software provider is among those listed.
    const std::string created = machine_->newContainerName("Cont\xc3\xaainer");
    machine_->createContainer(kEnhancedAes, kProvRsaAes, created);
    const Args software = listed(kEnhancedAes, "24");
    EXPECT_NE(std::find(software.begin(), software.end(), created), software.end());
    EXPECT_EQ(count(kEnhancedAes, "24"), std::to_string(software.size()));
    // Athena's exact name is listed through Microsoft's card provider.
    const std::string athena = machine_->newContainerName("athena");
    machine_->createContainer(kMsSmartCard, kProvRsaFull, athena);
    const Args cards = listed("Athena ASECard Crypto CSP", "1");
    EXPECT_NE(std::find(cards.begin(), cards.end(), athena), cards.end());
    if (underWine())
        GTEST_SKIP() << "Wine installs no provider with a container store of its own, nor the fault switch; Wine 8's "
                        "ncrypt enumerates neither providers nor keys";
    // The machine's own six providers, a line ending in CR LF among them.
    EXPECT_EQ(parsed.size(), 6u);
    // Windows' two KSPs, the card's without a comment; a KSP's keys are its
    // containers.
    EXPECT_EQ(Json::parse(machine_->success({ "capi", "list", "ksp" })),
        Json::parse(R"([{"comment":"Microsoft Software Key Storage Provider","name":"Microsoft Software Key Storage )"
                    R"(Provider"},{"comment":null,"name":"Microsoft Smart Card Key Storage Provider"}])"));
    const std::string persisted = machine_->newContainerName("Chave \xc3\xa7");
    machine_->createContainer(kSmartCardKsp, kKspType, persisted);
    const Args keys = listed(kSmartCardKsp, "0");
    EXPECT_NE(std::find(keys.begin(), keys.end(), persisted), keys.end());
    EXPECT_EQ(count(kSmartCardKsp, "0"), std::to_string(keys.size()));

    EXPECT_EQ(count(kEmptyCsp, "1"), "0");
    EXPECT_EQ(machine_->success({ "capi", "list", "listContainer", kEmptyCsp, "1" }), "null");
    // A long name after a short one: every call gets the whole buffer. Names
    // are bytes: a slash, a dot, bytes that are not UTF-8 (answered replaced),
    // and the longest name that fits, each such byte taking three characters
    // of the file name.
    std::map<std::string, std::string> own = { { "raw\xff\x01", "raw\xef\xbf\xbd\x01" } };
    for (int i = 0; i < 85; ++i)
        own[std::string(85, '\xe9')] += "\xef\xbf\xbd";
    for (const std::string& name : { std::string(120, 'L'), std::string(240, 'x'), std::string("a"), std::string("bb"),
             std::string("Cont\xc3\xaainer a\xc3\xa7\xc3\xa3o"), std::string("dir/name"), std::string(".hidden") })
        own[name] = name;
    Args shown;
    for (const auto& [name, answered] : own) {
        machine_->createContainer(kEmptyCsp, kProvRsaFull, name);
        shown.push_back(answered);
    }
    EXPECT_EQ(
        machine_->success(keyPair(std::string(86, '\xe9'))), "{\"error\":\"createKeyPair - CryptAcquireContext\"}");
    // Integers are read the way atoi reads them.
    EXPECT_EQ(count(kEmptyCsp, "1 and more"), "9");
    Args names = listed(kEmptyCsp, "1");
    std::sort(names.begin(), names.end());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(names, shown);
    // A failing next call ends the listing quietly.
    EXPECT_EQ(count(kEmptyCsp, "1", "CryptGetProvParam#3=5"), "2");
    // A provider name read that reports the end skips that provider only.
    const Json partial = Json::parse(
        machine_->success({ "capi", "list", "csp" }, { { "SIGBRID_FAULTS", "CryptEnumProvidersA#4=259" } }));
    ASSERT_GE(parsed.size(), 2u);
    Json all = parsed;
    all.erase(1);
    EXPECT_EQ(partial, all);
}

TEST_F(Capi, IssuedCertificatesInstallAndSign)
{
    // A name that PrintableString holds is one, as requests always named
    // it; any other is the caller's text (read through the ANSI code page)
    // as a UTF8String. sigbrid chooses, not the encoder: Wine's would take
    // accented letters in a PrintableString too, where Windows' refuses them.
    for (const auto& [provider, stem, digest, subject, tag] :
        std::vector<std::tuple<const char*, const char*, const char*, const char*, char>> {
            { kEnhancedAes, "Cont\xc3\xaainer-a\xc3\xa7\xc3\xa3o", "sha256", "CN=Maria Silva,O=Example", 0x13 },
            { kAccentedCard, "card", "sha1", "CN=Jo\xc3\xa3o A\xc3\xa7\xc3\xa3o", 0x0c },
            { kSoftwareKsp, "ksp", "sha512", "CN=Maria KSP", 0x13 },
            { kSmartCardKsp, "cartao", "sha1", "CN=Jo\xc3\xa3o Cart\xc3\xa3o", 0x0c } }) {
        SCOPED_TRACE(provider);
        const bool ksp = typeOf(provider) == "0";
        // Wine 8's ncrypt opens no persisted key (NCryptOpenKey is a stub).
        if (ksp && underWine())
            continue;
        const std::string container = machine_->newContainerName(stem);
        const std::string blob = createKeyPair(provider, container, false);
        const std::string der = issue(blob, createKeyPair(provider, container, true, subject), subject, tag);

        EXPECT_EQ(machine_->success(install(provider, container, base64(der))), kOk);
        const Identity identity = { sha1Hex(der), der, container };
        EXPECT_TRUE(signsFor(identity, digest, "contrato"));
        // Listed with its key link; a KSP's key as it was made: an exchange
        // key, exportable but on a card.
        const Json listed = Json::parse(machine_->success({ "capi", "list", "certificates" }));
        const auto record = std::find_if(
            listed.begin(), listed.end(), [&](const Json& entry) { return entry["thumbprint"] == identity.thumbprint; });
        ASSERT_NE(record, listed.end());
        EXPECT_EQ(Json({ record->at("provider"), record->at("providerType"), record->at("container") }),
            Json({ provider, std::stoi(typeOf(provider)), container }));
        if (ksp) {
            EXPECT_EQ(machine_->containerFile(container).substr(0, 24),
                std::string("keyspec: 1\nexportable: ") + (provider == kSmartCardKsp ? "0" : "1"));
        }
        EXPECT_EQ(machine_->success(install(provider, container, base64(der))), kOk);
        if (!underWine()) {
            EXPECT_EQ(machine_->copiesInStore(der), 2);
            // Killed before any change it makes (its entry's folder, key
            // link, certificate), a re-installation leaves the certificate
            // signing.
            int kills = 0;
            while (kills < 5
                && machine_
                       ->sigbrid(install(provider, container, base64(der)),
                           { { "SIGBRID_FAULTS", "StateWrite#" + std::to_string(kills + 1) + "=kill" } })
                       .out.empty())
                EXPECT_TRUE(signsFor(identity, digest, "kill " + std::to_string(++kills)));
            EXPECT_EQ(kills, 3);
        }
        EXPECT_TRUE(signsFor(identity, digest, "outro"));
    }
    if (!underWine()) {
        // Killed before any change it makes (the new key's folder, its key,
        // the folder's name; the removal's rename and clean-up), a new key
        // whose request fails leaves its container with its key, or neither.
        int kills = 0;
        for (std::string name; kills < 8; ++kills) {
            name = machine_->newContainerName("killed");
            if (!machine_
                     ->sigbrid(keyPair(name, "1024", "false", kNotUtf8, "true"),
                         { { "SIGBRID_FAULTS", "StateWrite#" + std::to_string(kills + 1) + "=kill" } })
                     .out.empty())
                break;
            const std::string left = machine_->success(keyPair(name, "1024", "true"));
            EXPECT_TRUE(left == "{\"error\":\"createKeyPair - CryptAcquireContext\"}" || unbase64(left)[0] == '\x06')
                << left;
        }
        EXPECT_EQ(kills, 5);
    }
    // Installed for a container that is not there, a certificate installs,
    // and signing with it then fails to open that container.
    const std::string stray = selfSignedCertificate(9, "stray");
    EXPECT_EQ(machine_->success(install(kEnhancedAes, machine_->newContainerName("wrong"), base64(stray))), kOk);
    EXPECT_EQ(machine_->error(signing(sha1Hex(stray), "sha256")), "Err CryptAcquireContext2" + kKeysetNotFound);

    // A card provider keeps the certificate with the key, not in "MY".
    const std::string container = machine_->newContainerName("card");
    const std::string blob = createKeyPair(kEToken, container, false);
    const std::string der = issue(blob, createKeyPair(kEToken, container, true, "CN=Jo@o"), "CN=Jo@o", 0x0c);
    if (underWine()) {
        EXPECT_EQ(machine_->error(install(kEToken, container, base64(der))),
            "acceptPKCS7 - Operacao cancelada ou token bloqueado");
        GTEST_SKIP() << "Wine 8 refuses CryptSignAndEncodeCertificate with sha256RSA (error 2): the certificate was "
                        "issued for the public key blob; Wine's store keeps one copy per certificate, and Wine's "
                        "rsaenh keeps no certificate with a key (KP_CERTIFICATE: NTE_BAD_TYPE)";
    }
    EXPECT_EQ(machine_->success(install(kEToken, container, base64(der))), kOk);
    EXPECT_EQ(machine_->containerFile(container, "exchange.cer"), der);
    // The suite's new keys are exportable (A7), the machine's signers not.
    EXPECT_EQ(machine_->containerFile(container, "exchange.key").substr(0, 14), "exportable: 1\n");
    EXPECT_EQ(machine_->containerFile(signer_.container, "exchange.key").substr(0, 14), "exportable: 0\n");
    EXPECT_EQ(machine_->copiesInStore(der), 0);
}

Json raised(const std::string& message) { return Json { { "error", message } }; }
Json answered(const std::string& text) { return Json { { "success", text } }; }
Json errorText(const std::string& message) { return answered("{\"error\":\"" + message + "\"}"); }
// Each key request's messages start with its name.
Json keyPairError(const std::string& step) { return errorText("createKeyPair - " + step); }
Json csrError(const std::string& text) { return errorText("generateCSR" + text); }
Json installError(const std::string& step) { return raised("acceptPKCS7 - " + step); }

// Every failure message in step order: a request ("$NAME" stands for a value
// of the suite's machine, signing with the suite's certificate by default),
// the stand-in's fault switch for steps that a healthy machine never fails,
// and the whole answer.
struct FailureRow {
    const char* faults;
    Json envelope;
    Args args = signing("$ID", "sha256");
    bool onWine = true;
};

const Args kListing = { "capi", "list", "csp" };
const std::string kTwoItems = R"([{"value":"YQ==","hashedData":false},{"value":"Yg==","hashedData":false}])";
const Args kSigningTwo = signingList("$ID", "sha256", kTwoItems);
const std::string kKspListed = std::string("providerName:") + kSoftwareKsp + " - providerType:0 - Err ";
const std::string kAcquireText = "countContainers - CryptAcquireContext. providerName:";
const std::string kEnumerationText
    = std::string("countContainers - CryptGetProvParam (CRYPT_FIRST). providerName:") + kEmptyCsp + " - providerType:1";
const Json kMissingKeyRequest
    = csrError(" The first call to CryptEncodeObject failed. A public/private key pair may not exit in the container.");
const Json kCardFamilyFailed = csrError(" CryptAcquireContext failed 1.");
const Json kSoftwareFamilyFailed = csrError(" CryptAcquireContext failed 2.");
const Json kKeyContextFailed
    = installError("Erro recuperando Contexto criptografico. Valide o nome do container e o Provider");
const Json kCardRefused = installError("Operacao cancelada ou token bloqueado");
const std::string kNoCertificate = base64("not a certificate");
// KP_CERTIFICATE has no length: bytes cut short never reach it.
const std::string kCutCertificate = base64(selfSignedCertificate(8, "cut").substr(0, 200));

const std::vector<FailureRow> kFailures = {
    // Signing
    { "CertOpenStore=5", raised("Err CertOpenStore") },
    { "CertGetCertificateContextProperty#2=5", raised("The property was not retrieved.") },
    { "CryptAcquireContextA=0x80090019", raised("Err CryptAcquireContext2Erro ao obter chave privada.") },
    { "CryptAcquireContextA=5", raised("Err CryptAcquireContext2Err 5") },
    { "CryptAcquireContextA=0xFFFFFFFF", raised("Err CryptAcquireContext2Err 4294967295") },
    { "CryptCreateHash=5", raised("(CryptCreateHash SHA1)Err 5"), signing("$ID", "sha1") },
    { "CryptCreateHash=5", raised("(CryptCreateHash SHA512)Err 5"), signing("$ID", "sha512") },
    { "CryptCreateHash=0x8009000D", raised("(CryptCreateHash SHA256)A chave n\xc3\xa3o existe") },
    { "CryptSetHashParam=5", raised("Err CryptSetHashParam"),
        signing("$ID", "sha1", base64(digestOf("sha1", "d")), "true") },
    { "CryptHashData=5", raised("Err CryptHashData") },
    { "CryptSignHashA#1=5", raised("Err CryptSignHashErr 5") },
    { "CryptSignHashA#2=0x8009000D", raised("Err CryptSignHashA chave n\xc3\xa3o existe") },
    // signList stops at the first failing item.
    { "CryptCreateHash#2=5", raised("(CryptCreateHash SHA256)Err 5"), kSigningTwo },
    // A ready digest must have the algorithm's length.
    { "", raised("Tamanho do hash nao condiz com algoritmo utilizado"),
        signing("$ID", "sha256", base64(digestOf("sha1", "x")), "true") },
    { "", raised("Err CertGetCertificateContextProperty"), signing("$NOKEY", "sha256"), false },
    { "", raised("Err CertFindCertificateInStore"), signingList(std::string(40, 'f'), "sha256", "[]") },
    { "", raised("Err CertFindCertificateInStore"), signing("$ID41", "sha256") },
    // A list of nothing; the list text ends at its first zero byte.
    { "", answered("[]"), signingList("$ID", "sha256", "[]") },
    { "", answered("[]"), signingList("$ID", "sha256", "null") },
    { "", answered("[]"), signingList("$ID", "sha256", std::string("[]\0garbage", 10)) },
    // A KSP's key: the digest is CryptoAPI's, CNG signs it. A card whose
    // user cancels the PIN signs the first item and refuses the second; the
    // key was opened once for both (a second open would fail).
    { "NCryptOpenStorageProvider=5", raised("Err NCryptOpenStorageProviderErr 5"), signing("$KSPID", "sha256"), false },
    { "", raised("Err NCryptOpenKey - conjunto de chave nao encontrada =Err 2148073494"), signing("$KSPGONE", "sha256"),
        false },
    { "CryptAcquireContextA=5", raised("Err CryptAcquireContext (CRYPT_VERIFYCONTEXT)Err 5"), signing("$KSPID", "sha1"),
        false },
    { "CryptCreateHash=5", raised("(CryptCreateHash SHA512)Err 5"), signing("$CARDKSPID", "sha512"), false },
    { "CryptGetHashParam=5", raised("Err CryptGetHashParamErr 5"), signing("$KSPID", "sha256"), false },
    { "", raised("Tamanho do hash nao condiz com algoritmo utilizado"),
        signing("$CARDKSPID", "sha512", base64(digestOf("sha256", "x")), "true"), false },
    { "NCryptSignHash#2=5", raised("Err NCryptSignHashErr 5"), signing("$KSPID", "sha256"), false },
    { "NCryptOpenKey#2=5,NCryptSignHash#3=0x8010006E", raised("Err NCryptSignHashErr 2148532334"),
        signingList("$CARDKSPID", "sha1", kTwoItems), false },
    // Listing
    { "", errorText("countContainers - providerName is null"), counting("", "24") },
    // The message is not escaped.
    { "", errorText(kAcquireText + "Say \"hi\" - providerType:24"), counting("Say \"hi\"", "24") },
    // Only Athena's exact name is rewritten here (listed above through
    // Microsoft's card provider).
    { "", errorText(kAcquireText + "Athena ASECard Crypto CSP v2 - providerType:1"),
        counting("Athena ASECard Crypto CSP v2", "1") },
    { "", raised("countContainers - providerName is null"), { "capi", "list", "listContainer", "", "24" } },
    { "CryptGetProvParam#1=5", errorText(kEnumerationText), counting(kEmptyCsp, "1") },
    { "CryptEnumProvidersA#2=5", raised("listCSPs - CryptEnumProviders"), kListing },
    { "LocalAlloc=8", raised("listCSPs - Insufficient Memory"), kListing },
    { "CryptEnumProvidersA#1=259", answered("null"), kListing },
    // A KSP is no CSP; type 0 names a KSP, whose keys are listed whole or
    // not at all.
    { "", errorText(kAcquireText + kSoftwareKsp + " - providerType:1"), counting(kSoftwareKsp, "1") },
    { "", errorText(std::string("countContainers - NCryptOpenStorageProvider. providerName:") + kEnhancedAes
              + " - providerType:0 - Err 2148073502"),
        counting(kEnhancedAes, "0"), false },
    { "NCryptEnumKeys#2=5", errorText("countContainers - NCryptEnumKeys. " + kKspListed + "5"),
        counting(kSoftwareKsp, "0"), false },
    { "NCryptEnumKeys#1=5", raised("countContainers - NCryptEnumKeys. " + kKspListed + "5"),
        { "capi", "list", "listContainer", kSoftwareKsp, "0" }, false },
    { "NCryptEnumStorageProviders=5", raised("listKSPs - NCryptEnumStorageProviders - Err 5"),
        { "capi", "list", "ksp" }, false },
    // KeyRequests
    { "", keyPairError("providerName is null"), keyPair("$NEW", "2048", "false", "M", "false", "") },
    { "", keyPairError("containerName is null"), keyPair("") },
    // Lengths that do not fit the flag word's 16 bits are never asked for.
    { "", keyPairError("CryptGenKey"), keyPair("$NEW", "65536") },
    // 32768 bits fit the flag word, and no provider makes such a key. The
    // container made for a key that then fails goes again, each time.
    { "", keyPairError("CryptGenKey"), keyPair("$LEFT", "32768") },
    { "CryptExportKey#1=5", keyPairError("CryptExportKey"), keyPair("$LEFT") },
    { "LocalAlloc=8", keyPairError("Insufficient Memory"), keyPair("$LEFT") },
    { "CryptExportKey#2=5", keyPairError("CryptExportKey"), keyPair("$LEFT") },
    // The key is made, and the request's failure replaces the blob.
    { "", kMissingKeyRequest, keyPair("$LEFT", "2048", "false", kNotUtf8, "true"), false },
    { "", keyPairError("CryptAcquireContext"), keyPair("$LEFT", "2048", "true") },
    // A container that was there is left alone, and no request is made for
    // its older key.
    { "", keyPairError("CryptAcquireContext"), keyPair("$KEY") },
    { "", keyPairError("CryptAcquireContext"), keyPair("$KEY", "2048", "false", "Maria", "true") },
    { "", keyPairError("CryptGetUserKey"), keyPair("$EMPTY", "2048", "true", "M", "false", kEToken) },
    // A KSP's key of an existing name is refused, a missing one is not
    // reused, a card makes no exportable key, and a key whose export or
    // request fails goes again: each next row makes it anew.
    { "", keyPairError("NCryptCreatePersistedKey - Err 2148073487"),
        keyPair("$KSPKEY", "2048", "false", "M", "true", kSoftwareKsp), false },
    { "", keyPairError("NCryptOpenKey - Err 2148073494"), keyPair("$KSPLEFT", "2048", "true", "M", "false", kSoftwareKsp),
        false },
    { "", keyPairError("NCryptSetProperty - Err 2148073513"),
        { "capi", "repo", "createKeyPair", kSmartCardKsp, "0", "$KSPLEFT", "false", "true", "2048", "-", "M", "false" },
        false },
    { "", keyPairError("NCryptSetProperty - Err 2148073511"), keyPair("$KSPLEFT", "32768", "false", "M", "false",
        kSoftwareKsp), false },
    { "NCryptOpenStorageProvider=5", keyPairError("NCryptOpenStorageProvider - Err 5"),
        keyPair("$KSPLEFT", "1024", "false", "M", "false", kSoftwareKsp), false },
    { "NCryptFinalizeKey=5", keyPairError("NCryptFinalizeKey - Err 5"),
        keyPair("$KSPLEFT", "1024", "false", "M", "false", kSoftwareKsp), false },
    { "NCryptExportKey#1=5", keyPairError("NCryptExportKey - Err 5"),
        keyPair("$KSPLEFT", "1024", "false", "M", "false", kSoftwareKsp), false },
    { "NCryptExportKey#2=5", keyPairError("NCryptExportKey - Err 5"),
        keyPair("$KSPLEFT", "1024", "false", "M", "false", kSmartCardKsp), false },
    { "", kMissingKeyRequest, keyPair("$KSPLEFT", "1024", "false", kNotUtf8, "true", kSoftwareKsp), false },
    { "", keyPairError("NCryptOpenKey - Err 2148073494"), keyPair("$KSPLEFT", "2048", "true", "M", "false", kSoftwareKsp),
        false },
    { "", keyPairError("NCryptOpenKey - Err 2148073494"),
        keyPair("$KSPLEFT", "2048", "true", "M", "false", kSmartCardKsp), false },
    { "", csrError(" - DN is null"), request(kEnhancedAes, "$KEY", "") },
    { "", csrError(" - Provider name is null"), request("") },
    { "", csrError(" - Container name is null"), request(kEnhancedAes, "") },
    { "", kMissingKeyRequest, request(kEnhancedAes, "$KEY", kNotUtf8), false },
    { "LocalAlloc#1=8", csrError(" The pbNamencoded malloc operation failed."), request() },
    { "CryptEncodeObject#2=5", csrError(" The second call to CryptEncodeObject failed."), request() },
    { "",
        csrError(" The first call to CryptExportPublickKeyInfo failed.  The probable cause is that  There is no "
                 "key pair in the key container."),
        request(kEToken, "$EMPTY") },
    { "LocalAlloc#2=8", csrError(" Memory allocation failed."), request() },
    { "CryptExportPublicKeyInfo#2=5", csrError(" The second call to CryptExportPublicKeyInfo failed."), request() },
    { "CryptSignAndEncodeCertificate#1=5", csrError(" First call to CryptSignandEncode failed."), request() },
    { "LocalAlloc#3=8", csrError(" The malloc operation failed."), request() },
    { "CryptSignAndEncodeCertificate#2=5", csrError(" The second call to CryptSignAndEncode failed."), request() },
    // A KSP's key is exported and signs through crypt32 as a CSP's does.
    { "", csrError(" NCryptOpenKey failed - Err 2148073494"), request(kSoftwareKsp, "$KSPLEFT"), false },
    { "NCryptOpenStorageProvider=5", csrError(" NCryptOpenStorageProvider failed - Err 5"),
        request(kSoftwareKsp, "$KSPKEY"), false },
    { "NCryptExportKey=5",
        csrError(" The first call to CryptExportPublickKeyInfo failed.  The probable cause is that  There is no "
                 "key pair in the key container."),
        request(kSoftwareKsp, "$KSPKEY"), false },
    { "NCryptSignHash=0x8010006E", csrError(" First call to CryptSignandEncode failed."),
        request(kSoftwareKsp, "$KSPKEY"), false },
    // A container that no provider holds shows which family opened it:
    // each known card provider by name (anywhere in the text,
    // case-sensitive), everything else as the Enhanced AES provider.
    { "", kCardFamilyFailed, request(kMsSmartCard, "missing") },
    { "", kCardFamilyFailed, request("Oberthur Card Systems Cryptographic Provider", "missing") },
    { "", kCardFamilyFailed, request("CSP Trevanol Multiplo", "missing") },
    { "", kCardFamilyFailed, request(kEToken, "missing") },
    { "", kCardFamilyFailed, request("EnterSafe ePass2003 CSP v1.0", "missing") },
    { "", kCardFamilyFailed, request("Ardel Cryptographic Provider", "missing") },
    { "", kCardFamilyFailed, request("SafeSign IC Standard Windows Cryptographic Service Provider", "missing") },
    { "", kCardFamilyFailed, request("DXSafe Base Cryptographic Provider", "missing") },
    { "", kCardFamilyFailed, request("SafeSign Standard Cryptographic Service Provider", "missing") },
    { "", kCardFamilyFailed, request("SafeSign IC Standard Windows Cryptographic Service Provider v2", "missing") },
    { "", kCardFamilyFailed, request("Athena ASECard Crypto CSP v2", "missing") },
    { "", kSoftwareFamilyFailed, request("SafeSign IC", "missing") },
    { "", kSoftwareFamilyFailed, request("etoken base cryptographic provider", "missing") },
    { "", kSoftwareFamilyFailed, request(kEnhancedAes, "missing") },
    // Installation
    { "", installError("Provider name is null"), install("") },
    { "", installError("Container name is null"), install(kEnhancedAes, "") },
    { "", installError("PKCS#7 data is null"), install(kEnhancedAes, "c", "") },
    { "CertOpenStore=5", installError("CertOpenStore"), install() },
    { "", installError("CertCreateCertificateContext"), install(kEnhancedAes, "c", kNoCertificate) },
    { "MultiByteToWideChar#1=87", installError("MultiByteToWideChar - w_container"), install() },
    { "MultiByteToWideChar#2=87", installError("MultiByteToWideChar - w_container"), install() },
    { "MultiByteToWideChar#3=87", installError("MultiByteToWideChar - w_provider"), install() },
    { "MultiByteToWideChar#4=87", installError("Insufficient Memory - w_provider"), install() },
    { "CertAddCertificateContextToStore=5", installError("CertAddCertificateContextToStore"), install() },
    { "CertSetCertificateContextProperty=5", installError("CertSetCertificateContextProperty"), install() },
    // "Microsoft" in the name, Microsoft's card provider aside, puts the
    // certificate in "MY"; nothing opens the container then.
    { "", answered(kOk), install("Vendor CSP for Microsoft Windows", "missing") },
    // So does a KSP's key, of any KSP, as Windows links it.
    { "", answered(kOk), { "capi", "repo", "importCertificate", "Vendor KSP", "0", "missing", "$CERT" } },
    { "", kKeyContextFailed, install(kEToken, "missing") },
    { "", kKeyContextFailed, install(kMsSmartCard, "missing") },
    { "", kKeyContextFailed, install("microsoft enhanced rsa and aes cryptographic provider", "missing") },
    { "", installError("CryptGetUserKey"), install(kEToken, "$EMPTY") },
    { "", kCardRefused, install(kEToken, "$CARDKEY", kNoCertificate) },
    { "", kCardRefused, install(kEToken, "$CARDKEY", kCutCertificate) },
};

// Wine has neither the fault switch nor the rows marked not on Wine: its ANSI
// code page reads every byte, and only the switch leaves a certificate
// without its key link.
TEST_F(Capi, FailuresAnswerTheFailingStepsMessage)
{
    for (const FailureRow& row : kFailures) {
        if (underWine() && (*row.faults || !row.onWine))
            continue;
        Args args = row.args;
        for (std::string& text : args)
            text = text == "$NEW" ? machine_->newContainerName("new") : names_.count(text) ? names_[text] : text;
        EXPECT_EQ(Json::parse(machine_->sigbrid(args, { { "SIGBRID_FAULTS", row.faults } }).out), row.envelope)
            << Json(row.args).dump() << " with " << row.faults;
    }
}

// Base64 as certificate files and mail bodies carry it: lines of 64, CR LF.
std::string inLines(const std::string& text)
{
    std::string lines;
    for (std::size_t i = 0; i < text.size(); i += 64)
        lines += text.substr(i, 64) + "\r\n";
    return lines;
}

// "@PATH" reads a value from a file and "@-" from standard input, each
// answering what the same value answers as an argument; a value that cannot
// be read signs and installs nothing. Then a list that no command line
// holds: 5,000 digests, each signature in its place.
TEST_F(Capi, ValuesFromFilesAndStandardInput)
{
    const std::string absent = machine_->fromFile("absent"), folder = machine_->fromFile(".");
    const auto unreadable
        = [](const std::string& form) { return raised("Erro na leitura do arquivo: " + form.substr(1)); };
    const std::string data = base64("documento");
    const Args requests[] = { signing(signer_.thumbprint, "sha256", data),
        signingList(
            signer_.thumbprint, "sha256", Json::array({ { { "value", data }, { "hashedData", false } } }).dump()),
        install(kEnhancedAes, signer_.container, base64(signer_.certificate)) };
    machine_->writeFile("empty", "");
    for (Args args : requests) {
        std::string& value = args[args[2] == "importCertificate" ? 6 : 5];
        const std::string text = std::exchange(value, "");
        const Json emptyAnswer = Json::parse(machine_->sigbrid(args).out);
        value = text;
        const Json answer = Json::parse(machine_->sigbrid(args).out);
        machine_->writeFile("value", inLines(text));
        const std::tuple<std::string, std::string, Json> forms[] = { { machine_->fromFile("value"), "", answer },
            { "@-", inLines(text), answer }, { machine_->fromFile("empty"), "", emptyAnswer },
            { "@-", "", emptyAnswer }, { absent, "", unreadable(absent) }, { folder, "", unreadable(folder) } };
        for (const auto& [form, input, expected] : forms) {
            value = form;
            EXPECT_EQ(Json::parse(machine_->sigbrid(args, {}, input).out), expected) << args[2] << " " << form;
        }
    }

    // Data to sign is hashed as it is read, in pieces (of 64 KiB): a document
    // larger than a piece, its CR LF lines cut across the pieces, signs as
    // its digest does; a "=" that ends a piece with more after it, and a bad
    // character in the last piece, are refused, and so is a source that never
    // ends, at once. A value held whole holds at most 64 MiB.
    const std::string notBase64 = "Dados nao estao em base64 valido";
    const std::string tooLarge = "Valor acima do limite de 64 MiB (67108864 bytes)";
    std::string document(200000, '\0');
    for (std::size_t i = 0; i < document.size(); ++i)
        document[i] = static_cast<char>(i * 7 + i / 256);
    std::string lines = base64(document);
    for (std::size_t at = 77; at < lines.size(); at += 79)
        lines.insert(at, "\r\n");
    std::string padded = base64(std::string(49152, 'x'));
    padded.back() = '=';
    const std::string list = Json::array({ { { "value", data }, { "hashedData", false } } }).dump();
    const std::string atCeiling = base64(list) + std::string(64 * 1024 * 1024 - base64(list).size(), '\n');
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>> { { "document", lines },
             { "padded", padded + "QUJD" }, { "lastBad", base64(document) + "!" }, { "ceiling", atCeiling },
             { "past", atCeiling + "\n" } })
        machine_->writeFile(name, text);
    const std::tuple<Args, Json> streamed[] = {
        { signing(signer_.thumbprint, "sha512", machine_->fromFile("document")),
            answered(sign(signer_, "sha512", digestOf("sha512", document), true)) },
        { signing(signer_.thumbprint, "sha1", machine_->fromFile("padded")), raised(notBase64) },
        { signing(signer_.thumbprint, "sha1", machine_->fromFile("lastBad")), raised(notBase64) },
        { signing(signer_.thumbprint, "sha256", CapiMachine::fromHost("/dev/zero")), raised(notBase64) },
        { signing(signer_.thumbprint, "sha256", CapiMachine::fromHost("/dev/urandom")), raised(notBase64) },
        { { "capi", "crypt", "signList", signer_.thumbprint, "sha256", CapiMachine::fromHost("/dev/zero") },
            raised(tooLarge) },
        { { "capi", "crypt", "signList", signer_.thumbprint, "sha256", machine_->fromFile("past") }, raised(tooLarge) },
        { install(kEnhancedAes, signer_.container, machine_->fromFile("past")), raised(tooLarge) },
    };
    for (const auto& [args, expected] : streamed)
        EXPECT_EQ(Json::parse(machine_->sigbrid(args).out), expected) << args[5];
    EXPECT_EQ(machine_->success(
                  { "capi", "crypt", "signList", signer_.thumbprint, "sha256", machine_->fromFile("ceiling") }),
        machine_->success(signingList(signer_.thumbprint, "sha256", list)));

    // On every processor that the machine (Wine's too) reports: a PKCS#1 v1.5
    // signature that verifies is the one that a single thread makes.
    Json items = Json::array();
    for (int i = 0; i < 5000; ++i)
        items.push_back(
            { { "id", i }, { "value", base64(digestOf("sha256", std::to_string(i))) }, { "hashedData", true } });
    machine_->writeFile("list", inLines(base64(items.dump())));
    const Json answer = Json::parse(
        machine_->success({ "capi", "crypt", "signList", signer_.thumbprint, "sha256", machine_->fromFile("list") }));
    ASSERT_EQ(answer.size(), items.size());
    for (int i = 0; i < 5000; ++i)
        EXPECT_TRUE(answer[i]["id"] == i
            && verifies(signer_, "sha256", digestOf("sha256", std::to_string(i)), answer[i]["signed"], true))
            << answer[i];
}

} // namespace
