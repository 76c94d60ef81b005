// Peak memory of a signList read from a file, on both roads, as the list
// grows: 1, 1,000, 10,000 and 100,000 SHA-256 digests, each answer checked
// (every signature verifies, in list order). The one-item request is the
// base; what a list adds above it, per item, is the figure judged (target:
// at most 2.5 KiB). Then a document of 1 KiB, 1 MiB, 100 MiB and 1 GiB signed
// from its base64 file (lines of 76) on both roads: peak memory (target: at
// most 16 MiB above the 1 KiB document) and time beside
// `base64 -d FILE | openssl dgst -sha256` (target: at most 1.2 times), each
// signature checked; a size that the disk has no room for is said and left.
//   list_size_bench <sigbrid>
// A process's peak counts the memory of its parent when it starts (exec
// keeps the high-water mark of the memory it replaces), and this program
// grows with the lists: each request is started by a new, small copy of it,
//   list_size_bench --peak <program> <arguments...>
// which prints the request's own peak in KiB on standard error.
#include <nlohmann/json.hpp>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "KeyMaterial.h"
#include "Process.h"
#include "TempDir.h"

extern char** environ;

namespace {

using Json = nlohmann::json;
using Environment = std::map<std::string, std::string>;

constexpr int kSizes[] = { 1, 1000, 10000, 100000 };
constexpr std::uintmax_t kKiB = 1024;
constexpr std::uintmax_t kDocumentSizes[] = { kKiB, kKiB * kKiB, 100 * kKiB * kKiB, kKiB * kKiB * kKiB };
constexpr double kTargetDocumentMiB = 16;
constexpr double kTargetTimeRatio = 1.2;
constexpr double kTargetKiBPerItem = 2.5;
constexpr const char* kProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";
constexpr const char* kSoftHsm = "/usr/lib/softhsm/libsofthsm2.so";
constexpr const char* kPin = "1234";

int runMeasured(char** argv)
{
    pid_t child = 0;
    int status = 0;
    rusage usage {};
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) != 0 || wait4(child, &status, 0, &usage) != child)
        return 1;
    std::fprintf(stderr, "%ld", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// The "success" text of a request that must succeed.
std::string success(const std::vector<std::string>& args, const Environment& environment)
{
    const ProcessResult result = runSigbrid(args, environment);
    const Json envelope = Json::parse(result.out, nullptr, false);
    if (!envelope.is_object() || !envelope.contains("success"))
        throw std::runtime_error(args[0] + " " + args[1] + " " + args[2] + " answered " + result.out.substr(0, 200));
    return envelope["success"].get<std::string>();
}

// The PUBLICKEYBLOB of an RSA key with exponent 65537 and this big-endian
// modulus, as CryptoAPI exports one.
std::string publicKeyBlob(const std::string& modulus)
{
    std::string blob("\x06\x02\x00\x00\x00\xa4\x00\x00RSA1", 12);
    const std::uint32_t bits = static_cast<std::uint32_t>(modulus.size() * 8);
    for (int shift = 0; shift < 32; shift += 8)
        blob += static_cast<char>(bits >> shift);
    blob += std::string("\x01\x00\x01\x00", 4);
    return blob + std::string(modulus.rbegin(), modulus.rend());
}

// One road: the arguments of its signList before the list, on its machine,
// with the key that verifies its signatures.
struct Road {
    std::string name;
    std::vector<std::string> request;
    // Its sign request before the data.
    std::vector<std::string> sign;
    Environment environment;
    Pkey key { nullptr, EVP_PKEY_free };
};

Road capiRoad(const std::string& directory)
{
    const Environment environment = { { "SIGBRID_WINROOT", directory } };
    Pkey key = blobKey(unbase64(success(
        { "capi", "repo", "createKeyPair", kProvider, "24", "bench", "false", "false", "2048", "-", "-", "false" },
        environment)));
    const std::string certificate = selfSignedCertificate(1, "capi bench", key.get());
    success({ "capi", "repo", "importCertificate", kProvider, "24", "bench", base64(certificate) }, environment);
    return { "capi crypt signList", { "capi", "crypt", "signList", sha1Hex(certificate), "sha256" },
        { "capi", "crypt", "sign", sha1Hex(certificate), "sha256" }, environment, std::move(key) };
}

// A SoftHSM2 token behind the "AT" module path, whose certificate template
// SoftHSM2 takes.
Road tokenRoad(const std::string& directory)
{
    std::filesystem::create_directories(directory + "/tokens");
    std::filesystem::create_directories(directory + "/drive_c/Windows/System32");
    std::filesystem::create_symlink(kSoftHsm, directory + "/drive_c/Windows/System32/asepkcs.dll");
    std::ofstream(directory + "/softhsm2.conf")
        << "directories.tokendir = " << directory << "/tokens\nobjectstore.backend = file\nlog.level = ERROR\n";
    const Environment environment
        = { { "SIGBRID_WINROOT", directory }, { "SOFTHSM2_CONF", directory + "/softhsm2.conf" } };
    if (runProcess(
            { "softhsm2-util", "--init-token", "--free", "--label", "bench", "--so-pin", "87654321", "--pin", kPin },
            environment)
            .exitCode
        != 0)
        throw std::runtime_error("softhsm2-util --init-token failed");
    const Json tokens = Json::parse(runSigbrid({ "pkcs11", "list", "tokens", "AT" }, environment).out)["success"];
    const std::string serial = tokens.at(0).at("serial");
    const std::string keyId
        = success({ "pkcs11", "repo", "createKeyPair", "AT", serial, "bench", "2048", kPin }, environment);
    Pkey key = blobKey(
        publicKeyBlob(unbase64(success({ "pkcs11", "repo", "getPublicKey", "AT", serial, keyId }, environment))));
    const std::string certificate = selfSignedCertificate(2, "token bench", key.get());
    success({ "pkcs11", "repo", "importCertificate", "AT", serial, keyId, "bench", kPin, base64(certificate) },
        environment);
    return { "pkcs11 crypt signList", { "pkcs11", "crypt", "signList", "AT", sha1Hex(certificate), "sha256", kPin },
        { "pkcs11", "crypt", "sign", "AT", sha1Hex(certificate), "sha256", kPin }, environment, std::move(key) };
}

// `count` random SHA-256 digests, each its own item.
Json digestList(int count)
{
    Json list = Json::array();
    for (int i = 0; i < count; ++i) {
        std::string digest(32, '\0');
        RAND_bytes(reinterpret_cast<unsigned char*>(digest.data()), static_cast<int>(digest.size()));
        list.push_back({ { "id", i }, { "value", base64(digest) }, { "hashedData", true } });
    }
    return list;
}

bool verifiesDigest(EVP_PKEY* key, const std::string& digest, const std::string& signature)
{
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    return EVP_PKEY_verify_init(context.get()) == 1 && EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1
        && EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
               reinterpret_cast<const unsigned char*>(digest.data()), digest.size())
        == 1;
}

// A run of `args` under --peak: its answer, peak in KiB and seconds.
struct Measured {
    ProcessResult result;
    long peakKiB;
    double seconds;
};

Measured measured(const std::string& self, std::vector<std::string> args, const Environment& environment)
{
    args.insert(args.begin(), { self, "--peak" });
    const auto start = std::chrono::steady_clock::now();
    ProcessResult result = runProcess(args, environment);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long peakKiB = std::stol(result.err.substr(result.err.find_last_not_of("0123456789") + 1));
    return { std::move(result), peakKiB, seconds };
}

// Each road signs documents of growing size from their base64 files.
void documents(const std::string& self, const std::string& sigbrid, const std::vector<Road>& roads,
    const std::string& directory)
{
    const std::string binary = directory + "/document", text = directory + "/document.b64";
    std::printf("sign of a document from its base64 file (@PATH), SHA-256: peak memory and time\n");
    std::map<std::string, long> basePeakKiB;
    for (const std::uintmax_t size : kDocumentSizes) {
        std::filesystem::remove(binary);
        std::filesystem::remove(text);
        // The document, its base64 text (a third larger) and room to spare.
        if (std::filesystem::space(directory).available < size * 3) {
            std::printf("  %ju MiB: the disk has no room for it; not measured\n", size / (kKiB * kKiB));
            continue;
        }
        runProcess({ "sh", "-c", "head -c " + std::to_string(size) + " /dev/urandom >" + binary + " && base64 -w 76 "
                + binary + " >" + text });
        const Measured pipeline
            = measured(self, { "/bin/sh", "-c", "base64 -d " + text + " | openssl dgst -sha256 -binary" }, {});
        for (const Road& road : roads) {
            std::vector<std::string> args = { sigbrid };
            args.insert(args.end(), road.sign.begin(), road.sign.end());
            args.insert(args.end(), { "@" + text, "false" });
            const Measured run = measured(self, args, road.environment);
            const Json envelope = Json::parse(run.result.out);
            if (!envelope.contains("success")
                || !verifiesDigest(road.key.get(), pipeline.result.out, unbase64(envelope["success"])))
                throw std::runtime_error(road.name + " answered " + run.result.out.substr(0, 200));
            if (size == kDocumentSizes[0])
                basePeakKiB[road.name] = run.peakKiB;
            std::printf("  %-22s %10ju bytes: peak %6.1f MiB (%+.1f MiB above 1 KiB, target at most %.0f), %6.2f s "
                        "(pipeline %.2f s, %.2fx, target at most %.1fx), signature verified\n",
                road.name.c_str(), size, run.peakKiB / 1024.0, (run.peakKiB - basePeakKiB[road.name]) / 1024.0,
                kTargetDocumentMiB, run.seconds, pipeline.seconds, run.seconds / pipeline.seconds, kTargetTimeRatio);
        }
    }
    std::filesystem::remove(binary);
    std::filesystem::remove(text);
}

void verifyAll(EVP_PKEY* key, const Json& list, const Json& answer)
{
    if (!answer.is_array() || answer.size() != list.size())
        throw std::runtime_error("signList answered " + std::to_string(answer.size()) + " items");
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY_verify_init(context.get());
    EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string digest = unbase64(list[i]["value"]), signature = unbase64(answer[i]["signed"]);
        if (answer[i]["id"] != list[i]["id"] || answer[i]["data"] != list[i]["value"]
            || EVP_PKEY_verify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                   signature.size(), reinterpret_cast<const unsigned char*>(digest.data()), digest.size())
                != 1)
            throw std::runtime_error("item " + std::to_string(i) + " is not its signature in its place");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "--peak")
        return runMeasured(argv + 2);
    if (argc != 2) {
        std::fprintf(stderr, "usage: list_size_bench <sigbrid>\n");
        return 2;
    }
    setenv("SIGBRID_EXE", argv[1], 1);
    try {
        const std::string self = std::filesystem::canonical("/proc/self/exe").string();
        TempDir work;
        std::vector<Road> roads;
        roads.push_back(capiRoad(work.path() + "/capi"));
        roads.push_back(tokenRoad(work.path() + "/token"));
        const std::string listFile = work.path() + "/list.b64";
        std::printf("signList of SHA-256 digests from a file (@PATH), RSA-2048: peak memory of the process\n");
        for (const Road& road : roads) {
            long basePeakKiB = 0;
            for (const int size : kSizes) {
                const Json list = digestList(size);
                std::ofstream(listFile, std::ios::binary | std::ios::trunc) << base64(list.dump());
                std::vector<std::string> args = { self, "--peak", argv[1] };
                args.insert(args.end(), road.request.begin(), road.request.end());
                args.push_back("@" + listFile);
                const auto start = std::chrono::steady_clock::now();
                const ProcessResult result = runProcess(args, road.environment);
                const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                const Json envelope = Json::parse(result.out);
                if (!envelope.contains("success"))
                    throw std::runtime_error(road.name + " answered " + result.out.substr(0, 200));
                verifyAll(road.key.get(), list, Json::parse(envelope["success"].get<std::string>()));
                const long peakKiB = std::stol(result.err);
                if (size == 1)
                    basePeakKiB = peakKiB;
                std::printf("  %-22s %7d items: peak %8.1f MiB", road.name.c_str(), size, peakKiB / 1024.0);
                if (size > 1)
                    std::printf(", %.2f KiB per item above one item (target %.1f)",
                        static_cast<double>(peakKiB - basePeakKiB) / size, kTargetKiBPerItem);
                std::printf(", %.1f s, every signature verified in order\n", seconds);
            }
        }
        for (Road& road : roads)
            road.name = road.sign[0] + " " + road.sign[1] + " " + road.sign[2];
        documents(self, argv[1], roads, work.path());
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "list_size_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
