// The front end as a caller sees it: the exact bytes on standard output,
// nothing on standard error, exit code 0.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "Encoding.h"
#include "Process.h"
#include "TempDir.h"
#include "WindowsMachine.h"

namespace {

class FrontEnd : public ::testing::Test {
protected:
    // A machine with nothing installed, so no request touches the host's state.
    TempDir machine_;

    ProcessResult run(const std::vector<std::string>& args)
    {
        ProcessResult result = runSigbrid(args, { { "SIGBRID_WINROOT", machine_.path() } });
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        return result;
    }
};

std::string errorDocument(const std::string& message) { return "{\n    \"error\": \"" + message + "\"\n}"; }

// The exact document for requests the front end answers by itself. Arguments
// beyond those an operation reads are ignored; "pkcs11" reads the token type
// before the command words; a missing position is an unknown error.
TEST_F(FrontEnd, AnswersTheExactDocument)
{
    const std::string version = "{\n    \"success\": \"1.2.8\"\n}";
    const std::string unknown = errorDocument("Erro desconhecido.");
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        { { "system", "info", "version" }, version },
        { { "system", "info", "version", "extra", "" }, version },
        { {}, "" },
        { { "system", "info" }, "" },
        { { "system", "info", "Version" }, errorDocument("Comando nao encontrado") },
        { { "system", "about", "version" }, errorDocument("Tipo de sub-comando nao encontrado") },
        { { "other", "list", "csp" }, errorDocument("Tipo de comando nao encontrado") },
        { { "System", "info", "version" }, errorDocument("Tipo de comando nao encontrado") },
        { { "capi", "List", "csp" }, errorDocument("Tipo de sub-comando nao encontrado") },
        { { "capi", "list", "csps" }, errorDocument("Comando nao encontrado") },
        { { "capi", "crypt", "csp" }, errorDocument("Comando nao encontrado") },
        { { "pkcs11", "list", "tokens" }, unknown },
        { { "pkcs11", "nothing", "tokens" }, unknown },
        { { "capi", "list", "countContainer", "Some Provider" }, unknown },
        { { "capi", "crypt", "sign", "00", "sha1", "YQ==" }, unknown },
        { { "capi", "repo", "createKeyPair", "p", "24", "c", "false", "false", "2048", "x", "CN=a" }, unknown },
        { { "pkcs11", "crypt", "signWithKeyId", "GD", "0A1B", "AQI=", "sha256", "1234", "false" }, unknown },
    };
    for (const auto& [args, document] : rows)
        EXPECT_EQ(run(args).out, document) << ::testing::PrintToString(args);
}

// A caller that gives the program no standard input: "@-" cannot be read,
// for a value as for a PIN.
TEST_F(FrontEnd, StandardInputThatIsNotThere)
{
    for (const std::vector<std::string>& args :
        { std::vector<std::string> { "capi", "crypt", "sign", "x", "sha1", "@-", "false" },
            { "pkcs11", "list", "objects", "GD", "x", "@-" } }) {
        std::vector<std::string> argv = { "sh", "-c", "exec \"$@\" <&-", "sh" };
        if (underWine())
            argv.push_back(std::getenv("SIGBRID_RUNNER"));
        argv.push_back(std::getenv("SIGBRID_EXE"));
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_EQ(runProcess(argv, { { "SIGBRID_WINROOT", machine_.path() } }).out,
            errorDocument("Erro na leitura do arquivo: -"));
    }
}

// A value held whole holds up to 64 MiB: a list of that size (about 580,000
// digests) is read and parsed whole, by the 32-bit program too, before the
// certificate is looked for; a byte more is refused as it is read. Data to
// sign from a source that never ends is refused at its first piece.
TEST_F(FrontEnd, HeldValuesStopAtTheirCeiling)
{
    const std::size_t ceiling = 64 * 1024 * 1024, text = ceiling / 4 * 3;
    std::string list = "[";
    for (int i = 0; list.size() < text - 100; ++i)
        list += (i ? ",{\"id\":" : "{\"id\":") + std::to_string(i) + ",\"value\":\"" + std::string(43, 'A')
            + "=\",\"hashedData\":true}";
    list += std::string(text - list.size() - 1, ' ') + "]";
    const std::string encoded = base64Encode(reinterpret_cast<const unsigned char*>(list.data()), list.size());
    ASSERT_EQ(encoded.size(), ceiling);
    std::ofstream(machine_.path() + "/list", std::ios::binary) << encoded;
    std::ofstream(machine_.path() + "/past", std::ios::binary) << encoded << "\n";
    const std::string nobody(40, '0');
    const std::pair<std::vector<std::string>, std::string> rows[] = {
        { { "capi", "crypt", "signList", nobody, "sha256", WindowsMachine::fromHost(machine_.path() + "/list") },
            errorDocument("Err CertFindCertificateInStore") },
        { { "capi", "crypt", "signList", nobody, "sha256", WindowsMachine::fromHost(machine_.path() + "/past") },
            errorDocument("Valor acima do limite de 64 MiB (67108864 bytes)") },
        { { "capi", "crypt", "sign", nobody, "sha256", WindowsMachine::fromHost("/dev/zero"), "false" },
            errorDocument("Dados nao estao em base64 valido") },
    };
    for (const auto& [args, document] : rows)
        EXPECT_EQ(run(args).out, document) << args[5];
}

// With no provider list of its own, the stand-in's machine has Windows' own
// providers, and no certificate.
TEST_F(FrontEnd, BareMachineListsWindowsOwnProviders)
{
    if (underWine())
        GTEST_SKIP() << "Wine lists its own providers";
    const std::vector<std::pair<std::string, int>> windows = { { "Base Cryptographic Provider v1.0", 1 },
        { "Base DSS and Diffie-Hellman Cryptographic Provider", 13 }, { "Base DSS Cryptographic Provider", 3 },
        { "Base Smart Card Crypto Provider", 1 }, { "DH SChannel Cryptographic Provider", 18 },
        { "Enhanced Cryptographic Provider v1.0", 1 }, { "Enhanced DSS and Diffie-Hellman Cryptographic Provider", 13 },
        { "Enhanced RSA and AES Cryptographic Provider", 24 }, { "RSA SChannel Cryptographic Provider", 12 },
        { "Strong Cryptographic Provider", 1 } };
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [name, type] : windows)
        list.push_back({ { "cspname", "Microsoft " + name }, { "csptype", type } });
    EXPECT_EQ(run({ "capi", "list", "csp" }).out, "{\n    \"success\": " + nlohmann::json(list.dump()).dump() + "\n}");
    EXPECT_EQ(run({ "capi", "list", "certificates" }).out, "{\n    \"success\": []\n}");
}

// Every row of the command tree, with hostile texts in every position: one
// single-member envelope, never a crash, never a second document.
TEST_F(FrontEnd, EveryCommandAnswersOneEnvelopeWhateverItsArguments)
{
    const std::vector<std::vector<std::string>> rows = { { "system", "info", "version" }, { "capi", "list", "csp" },
        { "capi", "list", "countContainer" }, { "capi", "list", "listContainer" }, { "capi", "crypt", "sign" },
        { "capi", "crypt", "signList" }, { "capi", "repo", "createKeyPair" }, { "capi", "repo", "generateCSR" },
        { "capi", "repo", "importCertificate" }, { "pkcs11", "list", "tokens" }, { "pkcs11", "list", "certificates" },
        { "pkcs11", "list", "objects" }, { "pkcs11", "list", "certificateDetails" }, { "capi", "list", "certificates" },
        { "system", "info", "modules" }, { "pkcs11", "crypt", "sign" }, { "pkcs11", "crypt", "signWithKeyId" },
        { "pkcs11", "repo", "createKeyPair" }, { "pkcs11", "repo", "getPublicKey" },
        { "pkcs11", "repo", "importCertificate" } };
    // Windows caps a whole command line at 32767 characters.
    const std::size_t longText = underWine() ? 3000 : 20000;
    const std::vector<std::string> hostile
        = { "", std::string(longText, 'A'), "\xFF\xFE\xC3(", "not base64 !!", "abc", "-1", "GD" };
    for (const auto& row : rows) {
        for (const auto& text : hostile) {
            std::vector<std::string> args = row;
            args.insert(args.end(), 9, text);
            const std::string out = run(args).out;
            const nlohmann::json document = nlohmann::json::parse(out, nullptr, false);
            EXPECT_TRUE(document.is_object() && document.size() == 1
                && (document.contains("success") || document.contains("error")) && out.back() != '\n')
                << row[0] << " " << row[1] << " " << row[2] << " [" << text.substr(0, 16) << "]: " << out;
        }
    }
}

} // namespace
