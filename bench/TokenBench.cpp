// Whole-process times of the token requests on SoftHSM2 against pkcs11-tool
// doing the same work on the same token, interleaved (A B C A B C ...) so
// that the machine's drift falls on both alike; medians are printed.
//   token_bench <sigbrid>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Encoding.h"
#include "Process.h"
#include "TempDir.h"

namespace {

constexpr int kRounds = 21;
constexpr const char* kModule = "/usr/lib/softhsm/libsofthsm2.so";
constexpr const char* kPin = "1234";

using Environment = std::map<std::string, std::string>;

ProcessResult checked(const std::vector<std::string>& argv, const Environment& environment)
{
    ProcessResult result = runProcess(argv, environment);
    if (result.exitCode != 0)
        throw std::runtime_error(argv[0] + " failed: " + result.err + result.out);
    return result;
}

// An emulated machine whose "GD" module is SoftHSM2, with `tokens` tokens.
Environment machine(const std::string& directory, int tokens)
{
    std::filesystem::create_directories(directory + "/tokens");
    std::filesystem::create_directories(directory + "/root/drive_c/Windows/System32");
    std::filesystem::create_symlink(kModule, directory + "/root/drive_c/Windows/System32/aetpkss1.dll");
    std::ofstream(directory + "/softhsm2.conf")
        << "directories.tokendir = " << directory << "/tokens\nobjectstore.backend = file\nlog.level = ERROR\n";
    const Environment environment
        = { { "SOFTHSM2_CONF", directory + "/softhsm2.conf" }, { "SIGBRID_WINROOT", directory + "/root" } };
    for (int i = 0; i < tokens; ++i)
        checked({ "softhsm2-util", "--init-token", "--free", "--label", "token" + std::to_string(i), "--so-pin",
                    "87654321", "--pin", kPin },
            environment);
    return environment;
}

std::string successText(const std::string& envelope)
{
    const std::string key = "\"success\": \"";
    const auto start = envelope.find(key);
    if (start == std::string::npos)
        throw std::runtime_error("no success: " + envelope);
    return envelope.substr(start + key.size(), envelope.find('"', start + key.size()) - start - key.size());
}

double millisecondsOf(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Contender {
    std::string name;
    std::function<void()> run;
    std::vector<double> times {};
};

// Runs the contenders in turn, kRounds times, and prints each median and its
// ratio to the last contender's.
void race(const std::string& title, std::vector<Contender> contenders)
{
    for (int round = 0; round < kRounds; ++round)
        for (Contender& contender : contenders)
            contender.times.push_back(millisecondsOf(contender.run));
    const double reference = median(contenders.back().times);
    std::printf("%s (median of %d, ms per process)\n", title.c_str(), kRounds);
    for (const Contender& contender : contenders)
        std::printf("  %-40s %8.2f ms  %5.2fx\n", contender.name.c_str(), median(contender.times),
            median(contender.times) / reference);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: token_bench <sigbrid>\n");
        return 2;
    }
    setenv("SIGBRID_EXE", argv[1], 1);
    try {
        TempDir dir;
        const Environment one = machine(dir.path() + "/one", 1);
        const Environment ten = machine(dir.path() + "/ten", 10);

        // A key pair and its certificate, made and installed through sigbrid.
        const std::string tokens = runSigbrid({ "pkcs11", "list", "tokens", "GD" }, one).out;
        const std::string serialKey = "\"serial\": \"";
        const auto at = tokens.find(serialKey) + serialKey.size();
        const std::string tokenSerial = tokens.substr(at, tokens.find('"', at) - at);
        const std::string keyId = successText(
            runSigbrid({ "pkcs11", "repo", "createKeyPair", "GD", tokenSerial, "bench", "2048", kPin }, one).out);
        const std::string work = dir.path();
        const std::string idHex = hexEncode(base64Decode(keyId));
        checked({ "pkcs11-tool", "--module", kModule, "--read-object", "--type", "pubkey", "--id", idHex, "-o",
                    work + "/pub.der" },
            one);
        checked({ "openssl", "pkey", "-pubin", "-inform", "DER", "-in", work + "/pub.der", "-out", work + "/pub.pem" },
            one);
        checked({ "openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", work + "/ca.key", "-out",
                    work + "/ca.pem", "-subj", "/CN=Bench CA", "-days", "2" },
            one);
        checked(
            { "openssl", "x509", "-new", "-CA", work + "/ca.pem", "-CAkey", work + "/ca.key", "-force_pubkey",
                work + "/pub.pem", "-subj", "/CN=bench", "-days", "2", "-outform", "DER", "-out", work + "/cert.der" },
            one);
        // SoftHSM2 stores a certificate only with a subject: pkcs11-tool writes it.
        checked({ "pkcs11-tool", "--module", kModule, "--login", "--pin", kPin, "--write-object", work + "/cert.der",
                    "--type", "cert", "--id", idHex },
            one);
        std::string thumbprint;
        for (char c : checked(
                 { "openssl", "x509", "-inform", "DER", "-in", work + "/cert.der", "-noout", "-fingerprint", "-sha1" },
                 one)
                          .out.substr(17))
            if (std::isxdigit(static_cast<unsigned char>(c)))
                thumbprint += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string document = "one document to sign";
        std::ofstream(work + "/data", std::ios::binary) << document;
        const std::string data = base64Encode(reinterpret_cast<const unsigned char*>(document.data()), document.size());

        auto sigbrid = [](std::vector<std::string> args, const Environment& environment) {
            return [args, &environment] { successText(runSigbrid(args, environment).out); };
        };
        auto tool = [](std::vector<std::string> argv, const Environment& environment) {
            return [argv, &environment] { checked(argv, environment); };
        };
        race("Sign one document, RSA-2048, login each time",
            { { "pkcs11 crypt signWithKeyId",
                  sigbrid(
                      { "pkcs11", "crypt", "signWithKeyId", "GD", tokenSerial, keyId, "sha256", kPin, "false", data },
                      one) },
                { "pkcs11 crypt sign (by thumbprint)",
                    sigbrid({ "pkcs11", "crypt", "sign", "GD", thumbprint, "sha256", kPin, data, "false" }, one) },
                { "pkcs11-tool --sign",
                    tool({ "pkcs11-tool", "--module", kModule, "--login", "--pin", kPin, "--sign", "--id", idHex, "-m",
                             "SHA256-RSA-PKCS", "-i", work + "/data", "-o", work + "/sig" },
                        one) } });
        for (const auto& [count, environment] : { std::pair<int, const Environment*> { 1, &one }, { 10, &ten } }) {
            const Environment& env = *environment;
            race("List " + std::to_string(count) + " token(s)",
                { { "pkcs11 list tokens",
                      [&env] {
                          checked({ std::getenv("SIGBRID_EXE"), "pkcs11", "list", "tokens", "GD" }, env);
                      } },
                    { "pkcs11-tool --list-token-slots",
                        tool({ "pkcs11-tool", "--module", kModule, "--list-token-slots" }, env) } });
        }
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "token_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
