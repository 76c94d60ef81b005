// Every request under valgrind's memcheck, on its success path and on its
// main failure paths: no memory error and no definite or indirect leak, and
// still one envelope. CI runs the rows marked so; SIGBRID_VALGRIND_ALL=1 runs
// the whole table. SoftHSM2 leaks by itself when it refuses C_CreateObject
// (a certificate template without CKA_SUBJECT): softhsm2.supp suppresses
// leaks allocated in libsofthsm2 and nothing else.
#include "BothRoads.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

struct LeakCase {
    bool inCi;
    const char* expect; // a piece of the printed document
    const char* request; // arguments apart by blanks; "{name}" stands for a value of the machine
    const char* faults;
};

const LeakCase kCases[] = {
    { true, "\"1.2.8\"", "system info version", "" },
    { true, "Comando nao encontrado", "system info Version", "" },
    { false, "Tipo de comando nao encontrado", "other list csp", "" },
    { true, "[{\\\"cspname\\\":", "capi list csp", "" },
    { false, "listCSPs - CryptEnumProviders", "capi list csp", "CryptEnumProvidersA#2=5" },
    { true, "\"success\": \"", "capi list countContainer {aes} 24", "" },
    { false, "countContainers - CryptAcquireContext", "capi list countContainer NoSuchCsp 1", "" },
    { true, "[{\\\"name\\\":", "capi list listContainer {aes} 24", "" },
    { false, "countContainers - CryptGetProvParam", "capi list listContainer {aes} 24", "CryptGetProvParam=5" },
    { true, "\"success\"", "capi crypt sign {thumbprint} sha256 {data} false", "" },
    { false, "\"success\"", "capi crypt sign {thumbprint} sha1 {sha1} true", "" },
    { true, "Err CertFindCertificateInStore", "capi crypt sign 00ff sha256 {data} false", "" },
    { false, "Err CryptSignHash", "capi crypt sign {thumbprint} sha512 {data} false", "CryptSignHashA#2=5" },
    { true, "signed", "capi crypt signList {thumbprint} sha512 {list}", "" },
    { false, "type must be boolean", "capi crypt signList {thumbprint} sha1 {badList}", "" },
    { false, "success\": \"MII", "capi repo createKeyPair {aes} 24 {new} false true 1024 - LeakTest true", "" },
    { true, "createKeyPair - CryptAcquireContext",
        "capi repo createKeyPair {aes} 24 {container} false false 1024 - x false", "" },
    { true, "success\": \"BgIA", "capi repo createKeyPair {aes} 24 {container} true false 1024 - x false", "" },
    { false, "createKeyPair - CryptGenKey", "capi repo createKeyPair {aes} 24 {new} false false 1024 - x false",
        "CryptGenKey=5" },
    { true, "success\": \"MII", "capi repo generateCSR {aes} 24 {container} LeakTest", "" },
    { false, "generateCSR CryptAcquireContext failed", "capi repo generateCSR {aes} 24 {new} x", "" },
    { true, "{\\\"result\\\":\\\"ok\\\"}", "capi repo importCertificate {aes} 24 {container} {cert}", "" },
    { false, "acceptPKCS7 - CertCreateCertificateContext", "capi repo importCertificate {aes} 24 {container} {data}",
        "" },
    { false, "acceptPKCS7 - Erro recuperando Contexto", "capi repo importCertificate {eToken} 1 {new} {cert}", "" },
    { true, "\"tokenLabel\": \"Hardening\"", "pkcs11 list tokens AT", "" },
    { false, "\"tokenLabel\": \"Hardening\"", "pkcs11 list tokens ND", "" },
    { false, "Erro desconhecido.", "pkcs11 list tokens", "" },
    { true, "\"thumbprint\"", "pkcs11 list certificates AT", "" },
    { true, "\"success\": [", "pkcs11 list objects AT {serial} 1234", "" },
    { false, "Erro no Login - Pin incorreto", "pkcs11 list objects AT {serial} 0000", "" },
    { true, "\"success\"", "pkcs11 crypt sign AT {tokenThumbprint} sha256 1234 {data} false", "" },
    { false, "Nenhum certificado encontrado", "pkcs11 crypt sign AT 00ff sha256 1234 {data} false", "" },
    { false, "\"success\"", "pkcs11 crypt signWithKeyId AT {serial} {keyId} sha1 1234 true {sha1}", "" },
    { true, "Tamanho data nao condiz", "pkcs11 crypt signWithKeyId AT {serial} {keyId} sha256 1234 true {data}", "" },
    { false, "\"success\"", "pkcs11 repo createKeyPair AT {serial} Leak 1024 1234", "" },
    { false, "Token Type ou Serial invalido", "pkcs11 repo createKeyPair AT 00 Leak 1024 1234", "" },
    { true, "\"success\"", "pkcs11 repo getPublicKey AT {serial} {keyId}", "" },
    { false, "certificado adicionado com sucesso", "pkcs11 repo importCertificate AT {serial} {keyId} Leak 1234 {cert}",
        "" },
    // SoftHSM2 wants CKA_SUBJECT, which only the "AT" template carries. Last:
    // it keeps an empty object from the refused call.
    { true, "Erro na importação do certificado: 208",
        "pkcs11 repo importCertificate GD {serial} {keyId} Leak 1234 {cert}", "" },
};

class Leaks : public BothRoads { };

TEST_F(Leaks, NoRequestLeaksOrTouchesMemoryItDoesNotOwn)
{
    const bool all = std::getenv("SIGBRID_VALGRIND_ALL") != nullptr;
    const Identity signer = capi_.install(kEnhancedAes, kProvRsaAes);
    const std::string data = "valgrind watches";
    const nlohmann::json list = { { { "id", 1 }, { "value", base64(data) }, { "hashedData", false } },
        { { "id", "two" }, { "value", base64(digestOf("sha512", data)) }, { "hashedData", true } } };
    const nlohmann::json badList = { { { "id", 1 }, { "value", base64(data) }, { "hashedData", "true" } } };
    std::map<std::string, std::string> values = {
        { "{thumbprint}", signer.thumbprint },
        { "{container}", signer.container },
        { "{data}", base64(data) },
        { "{sha1}", base64(digestOf("sha1", data)) },
        { "{list}", base64(list.dump()) },
        { "{badList}", base64(badList.dump()) },
        { "{cert}", base64(selfSignedCertificate(900001, "Leak Test")) },
        { "{serial}", serial_ },
        { "{tokenThumbprint}", tokenThumbprint_ },
        { "{keyId}", base64(kTokenKeyId) },
        { "{aes}", kEnhancedAes },
        { "{eToken}", kEToken },
    };
    std::map<std::string, std::string> environment = capi_.environment();
    environment.insert(tokenEnvironment_.begin(), tokenEnvironment_.end());
    const std::vector<std::string> valgrind = { "valgrind", "--quiet", "--leak-check=full",
        "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=97",
        // Keeps the symbols of modules unloaded before the leak check, so
        // that the suppression can name them.
        "--keep-debuginfo=yes", "--suppressions=" + std::string(std::getenv("SIGBRID_SUPPRESSIONS")),
        std::getenv("SIGBRID_EXE") };
    int run = 0;
    for (const LeakCase& c : kCases) {
        if (!c.inCi && !all)
            continue;
        std::vector<std::string> argv = valgrind;
        std::istringstream words(c.request);
        for (std::string arg; words >> arg;)
            argv.push_back(arg == "{new}" ? capi_.newContainerName("leak") : values.count(arg) ? values[arg] : arg);
        std::map<std::string, std::string> caseEnvironment = environment;
        caseEnvironment["SIGBRID_FAULTS"] = c.faults;
        const ProcessResult result = runProcess(argv, caseEnvironment);
        SCOPED_TRACE(std::string(c.request) + " " + c.faults);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        const nlohmann::json envelope = nlohmann::json::parse(result.out, nullptr, false);
        EXPECT_TRUE(envelope.is_object() && envelope.size() == 1) << result.out;
        EXPECT_NE(result.out.find(c.expect), std::string::npos) << result.out;
        ++run;
    }
    std::printf("%d requests under valgrind\n", run);
}

} // namespace
