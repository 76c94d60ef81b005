// Whole-process times of the token requests on SoftHSM2 against pkcs11-tool
// doing the same work on the same token, interleaved (A B C A B C ...) so
// that the machine's drift falls on both alike; medians are printed. Then a
// batch: `pkcs11 crypt signList` against one `pkcs11 crypt sign` process per
// document, and per signature against SoftHSM2's own C_Sign in this process.
//   token_bench <sigbrid>
#include <dlfcn.h>

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
#include "Pkcs11.h"
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

// Runs the contenders in turn, `rounds` times, and prints each median and its
// ratio to the last contender's.
void race(const std::string& title, std::vector<Contender> contenders, int rounds = kRounds)
{
    for (int round = 0; round < rounds; ++round)
        for (Contender& contender : contenders)
            contender.times.push_back(millisecondsOf(contender.run));
    const double reference = median(contenders.back().times);
    std::printf("%s (median of %d, ms per run)\n", title.c_str(), rounds);
    for (const Contender& contender : contenders)
        std::printf("  %-40s %8.2f ms  %5.2fx\n", contender.name.c_str(), median(contender.times),
            median(contender.times) / reference);
}

// The base64 of a signList list: `count` items, ready SHA-256 digests or
// the same document to hash.
std::string signList(int count, bool readyDigests, const std::string& document)
{
    std::string list = "[";
    for (int i = 0; i < count; ++i) {
        const std::string value = readyDigests ? std::string(32, static_cast<char>(i)) : document;
        list += (i ? ",{\"id\":" : "{\"id\":") + std::to_string(i) + ",\"value\":\""
            + base64Encode(reinterpret_cast<const unsigned char*>(value.data()), value.size())
            + "\",\"hashedData\":" + (readyDigests ? "true}" : "false}");
    }
    list += "]";
    return base64Encode(reinterpret_cast<const unsigned char*>(list.data()), list.size());
}

// SoftHSM2 driven directly in this process, logged in once: the rate of the
// key itself, with nothing of a request around it.
class DirectToken {
public:
    explicit DirectToken(const Environment& environment)
    {
        setenv("SOFTHSM2_CONF", environment.at("SOFTHSM2_CONF").c_str(), 1);
        library_ = dlopen(kModule, RTLD_NOW);
        if (!library_ || function<CK_C_Initialize>("C_Initialize")(nullptr) != CKR_OK)
            throw std::runtime_error("SoftHSM2 does not load");
        // The initialized token comes first; SoftHSM2 adds an empty slot.
        CK_SLOT_ID slots[8] = {};
        CK_ULONG count = 8;
        CK_OBJECT_CLASS privateKey = CKO_PRIVATE_KEY;
        CK_ATTRIBUTE keyTemplate { CKA_CLASS, &privateKey, sizeof privateKey };
        std::string pin = kPin;
        if (function<CK_C_GetSlotList>("C_GetSlotList")(CK_TRUE, slots, &count) != CKR_OK
            || function<CK_C_OpenSession>("C_OpenSession")(
                   slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session_)
                != CKR_OK
            || function<CK_C_Login>("C_Login")(
                   session_, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(&pin[0]), pin.size())
                != CKR_OK
            || function<CK_C_FindObjectsInit>("C_FindObjectsInit")(session_, &keyTemplate, 1) != CKR_OK
            || function<CK_C_FindObjects>("C_FindObjects")(session_, &key_, 1, &count) != CKR_OK || count != 1)
            throw std::runtime_error("no private key on the SoftHSM2 token");
        function<CK_C_FindObjectsFinal>("C_FindObjectsFinal")(session_);
    }
    ~DirectToken()
    {
        function<CK_C_Finalize>("C_Finalize")(nullptr);
        dlclose(library_);
    }
    DirectToken(const DirectToken&) = delete;
    DirectToken& operator=(const DirectToken&) = delete;

    // `count` signatures over a SHA-256 DigestInfo, as sigbrid asks for them.
    void sign(int count) const
    {
        Bytes info(51, 0x5a);
        CK_MECHANISM mechanism { CKM_RSA_PKCS, nullptr, 0 };
        unsigned char signature[512];
        for (int i = 0; i < count; ++i) {
            CK_ULONG length = sizeof signature;
            if (function<CK_C_SignInit>("C_SignInit")(session_, &mechanism, key_) != CKR_OK
                || function<CK_C_Sign>("C_Sign")(session_, info.data(), info.size(), signature, &length) != CKR_OK)
                throw std::runtime_error("C_Sign failed");
        }
    }

private:
    template <typename Signature> Signature function(const char* name) const
    {
        return reinterpret_cast<Signature>(dlsym(library_, name));
    }

    void* library_ = nullptr;
    CK_SESSION_HANDLE session_ = 0;
    CK_OBJECT_HANDLE key_ = 0;
};

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
        // A batch of documents: one process and one login against one of each
        // per document; then per signature against the key's own rate.
        constexpr int kBatch = 100;
        constexpr int kLongBatch = 1000;
        constexpr int kBatchRounds = 5;
        const std::vector<std::string> batch
            = { "pkcs11", "crypt", "signList", "GD", thumbprint, "sha256", kPin, signList(kBatch, false, document) };
        const std::vector<std::string> single
            = { "pkcs11", "crypt", "sign", "GD", thumbprint, "sha256", kPin, data, "false" };
        race("Sign " + std::to_string(kBatch) + " documents, RSA-2048 (target: signList at least 20x faster)",
            { { "pkcs11 crypt signList, one process", sigbrid(batch, one) },
                { "pkcs11 crypt sign, one process each", [&] {
                     for (int i = 0; i < kBatch; ++i)
                         successText(runSigbrid(single, one).out);
                 } } },
            kBatchRounds);
        const DirectToken direct(one);
        race("Sign " + std::to_string(kLongBatch) + " SHA-256 digests, RSA-2048 (target: signList within 1.2x)",
            { { "pkcs11 crypt signList, whole process",
                  sigbrid({ "pkcs11", "crypt", "signList", "GD", thumbprint, "sha256", kPin,
                              signList(kLongBatch, true, document) },
                      one) },
                { "SoftHSM2 C_SignInit + C_Sign in-process", [&] { direct.sign(kLongBatch); } } },
            kBatchRounds);
        for (const auto& [count, environment] : { std::pair<int, const Environment*> { 1, &one }, { 10, &ten } }) {
            const Environment& env = *environment;
            race("List " + std::to_string(count) + " token(s)" + (count > 1 ? " (target: within 1.1x)" : ""),
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
