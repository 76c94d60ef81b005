// Signatures per second of `capi crypt signList` (1,000 SHA-256 digests, one
// RSA 2048 key in the Enhanced AES provider of the Linux stand-in) against
// OpenSSL's own RSA 2048 signing rate, in interleaved rounds (sigbrid, then
// `openssl speed`) so that the machine's drift falls on both alike: by CPU
// time, sigbrid's whole process (start-up included) against OpenSSL's signing
// loop, both on one CPU, judged on the median of the rounds' ratios. sigbrid
// makes the key and installs its certificate; the stand-in's machine reports
// one processor for those rounds. Then, on every processor, the wall time of
// a 10,000-item list against the bare floor of one core: one thread of this
// program signing the same 10,000 digests with the same key (read from the
// machine's key file) through OpenSSL, in interleaved rounds (target: at most
// 0.63 of the floor on two cores, 0.8 of each core's work).
//   capi_signlist_bench <sigbrid>
#include <nlohmann/json.hpp>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/rand.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "KeyMaterial.h"
#include "Process.h"
#include "TempDir.h"

#include <sched.h>
#include <sys/resource.h>

namespace {

using Json = nlohmann::json;

constexpr int kItems = 1000;
constexpr int kRounds = 11;
constexpr int kParallelItems = 10000;
constexpr int kParallelRounds = 5;
constexpr double kTargetParallelShare = 0.63;
constexpr std::size_t kDigestLength = 32;
constexpr const char* kProvider = "Microsoft Enhanced RSA and AES Cryptographic Provider";
constexpr const char* kProvRsaAes = "24";

// CPU seconds (user and system) of the finished children so far.
double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void check(const ProcessResult& result, const char* what)
{
    if (result.exitCode != 0)
        throw std::runtime_error(std::string(what) + " failed: " + result.err + result.out);
}

// The list to sign: random 32-byte digests, each its own item.
Json digestList()
{
    Json list = Json::array();
    for (int i = 0; i < kItems; ++i) {
        std::string digest(kDigestLength, '\0');
        RAND_bytes(reinterpret_cast<unsigned char*>(&digest[0]), static_cast<int>(digest.size()));
        list.push_back({{"id", i}, {"value", base64(digest)}, {"hashedData", true}});
    }
    return list;
}

// Every signature of the answer must verify, or the rate means nothing.
void verifyAll(EVP_PKEY* key, const Json& list, const Json& answer)
{
    if (!answer.is_array() || answer.size() != list.size())
        throw std::runtime_error("signList answered " + std::to_string(answer.size()) + " items");
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string digest = unbase64(answer[i]["data"]);
        const std::string signature = unbase64(answer[i]["signed"]);
        std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                        EVP_PKEY_CTX_free);
        if (EVP_PKEY_verify_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) != 1
            || EVP_PKEY_verify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                               reinterpret_cast<const unsigned char*>(digest.data()), digest.size())
                   != 1)
            throw std::runtime_error("signature " + std::to_string(i) + " does not verify");
    }
}

// "rsa 2048 bits 0.000622s 0.000018s 1607.0 54218.4": the sign/s column,
// signatures per second of CPU user time.
double openSslSignRate()
{
    const std::vector<std::string> command = {"openssl", "speed", "-seconds", "2", "rsa2048"};
    const ProcessResult result = runProcess(command);
    check(result, "openssl speed");
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("rsa 2048 bits", 0) != 0)
            continue;
        std::istringstream fields(line.substr(std::string("rsa 2048 bits").size()));
        std::string signTime, verifyTime;
        double signRate = 0;
        if (fields >> signTime >> verifyTime >> signRate)
            return signRate;
    }
    throw std::runtime_error("no rsa 2048 line in openssl speed output");
}

// The container's exchange key as the stand-in keeps it: a line
// "exportable: 0|1", then the PKCS#8 PEM.
Pkey machineKey(const std::string& keyFile)
{
    std::ifstream in(keyFile, std::ios::binary);
    std::string line, pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pem = pem.substr(pem.find('\n') + 1);
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                        BIO_free);
    Pkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("no key in " + keyFile);
    return key;
}

// Wall seconds of one thread signing each item's digest (DigestInfo and
// PKCS#1 v1.5, as CryptSignHash does) and nothing else.
double bareSeconds(EVP_PKEY* key, const Json& list)
{
    static const std::string kSha256Prefix("\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05"
                                           "\x00\x04\x20",
                                           19);
    const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                        EVP_PKEY_CTX_free);
    if (EVP_PKEY_sign_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        throw std::runtime_error("EVP_PKEY_sign_init failed");
    const auto start = std::chrono::steady_clock::now();
    unsigned char signature[512];
    for (const Json& item : list) {
        const std::string input = kSha256Prefix + unbase64(item["value"]);
        std::size_t length = sizeof signature;
        if (EVP_PKEY_sign(ctx.get(), signature, &length, reinterpret_cast<const unsigned char*>(input.data()),
                          input.size())
            != 1)
            throw std::runtime_error("EVP_PKEY_sign failed");
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <sigbrid>\n", argv[0]);
        return 2;
    }
    try {
        // Both sides on one CPU (the children inherit it): the CPUs of a
        // shared machine run at different speeds from moment to moment, and
        // unpinned runs of seven rounds gave medians 15% apart.
        cpu_set_t every;
        if (sched_getaffinity(0, sizeof every, &every) != 0)
            throw std::runtime_error("sched_getaffinity failed");
        cpu_set_t cpu;
        CPU_ZERO(&cpu);
        CPU_SET(sched_getcpu(), &cpu);
        if (sched_setaffinity(0, sizeof cpu, &cpu) != 0)
            throw std::runtime_error("sched_setaffinity failed");
        const std::string sigbrid = argv[1];
        TempDir work;
        const std::string machine = work.path() + "/machine";
        std::filesystem::create_directories(machine);
        const std::string processors = machine + "/processors";
        writeText(processors, "1");
        const std::map<std::string, std::string> environment = {{"SIGBRID_WINROOT", machine}};

        const ProcessResult made = runProcess({sigbrid, "capi", "repo", "createKeyPair", kProvider, kProvRsaAes,
                                               "bench", "false", "false", "2048", "-", "-", "false"},
                                              environment);
        check(made, "createKeyPair");
        const Pkey key = blobKey(unbase64(Json::parse(made.out).value("success", "")));
        if (!key)
            throw std::runtime_error("createKeyPair answered " + made.out);
        const std::string certificate = selfSignedCertificate(1, "sigbrid bench", key.get());
        const ProcessResult imported = runProcess(
            {sigbrid, "capi", "repo", "importCertificate", kProvider, kProvRsaAes, "bench", base64(certificate)},
            environment);
        if (imported.out.find("{\\\"result\\\":\\\"ok\\\"}") == std::string::npos)
            throw std::runtime_error("importCertificate answered " + imported.out);

        const Json list = digestList();
        // One process: its CPU seconds (user and system) and its answer,
        // every signature of which must verify.
        // The process alone: its wall seconds (not the checks after it).
        double lastWall = 0;
        auto cpuOf = [&](const Json& items) {
            const std::string file = work.path() + "/list";
            writeText(file, base64(items.dump()));
            const std::vector<std::string> args = {sigbrid, "capi", "crypt", "signList", sha1Hex(certificate),
                                                   "sha256", "@" + file};
            const double before = childCpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            const ProcessResult result = runProcess(args, environment);
            lastWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double cpu = childCpuSeconds() - before;
            check(result, "sigbrid");
            const Json envelope = Json::parse(result.out);
            if (!envelope.contains("success"))
                throw std::runtime_error("sigbrid answered " + result.out);
            verifyAll(key.get(), items, Json::parse(envelope["success"].get<std::string>()));
            return cpu;
        };
        const Json one = Json::array({list[0]});
        std::vector<double> rates, openssl, ratios, fixed;
        for (int round = 1; round <= kRounds; ++round) {
            rates.push_back(kItems / cpuOf(list));
            openssl.push_back(openSslSignRate());
            ratios.push_back(rates.back() / openssl.back());
            // What a request costs besides its signatures: one item, less
            // one signature at OpenSSL's rate.
            fixed.push_back(1000 * (cpuOf(one) - 1 / openssl.back()));
            std::printf("round %d: sigbrid capi crypt signList %.1f/s CPU, openssl speed rsa2048 %.1f/s, "
                        "fixed cost of a request %.1f ms\n",
                        round, rates.back(), openssl.back(), fixed.back());
        }
        std::sort(rates.begin(), rates.end());
        std::sort(openssl.begin(), openssl.end());
        std::sort(ratios.begin(), ratios.end());
        std::sort(fixed.begin(), fixed.end());
        const double sigbridRate = rates[kRounds / 2], opensslRate = openssl[kRounds / 2];
        std::printf("sigbrid capi crypt signList, %d SHA-256 digests (median of %d): %.1f signatures/s CPU\n", kItems,
                    kRounds, sigbridRate);
        std::printf("openssl speed -seconds 2 rsa2048 (median of %d): %.1f signatures/s CPU\n", kRounds, opensslRate);
        std::printf("fixed cost of a request (median): %.1f ms CPU; beyond it, %.1f ms per %d items\n",
                    fixed[kRounds / 2], 1000.0 * kItems / sigbridRate - 1000.0 * kItems / opensslRate - fixed[kRounds / 2],
                    kItems);
        // Each round's two figures share the machine's state of the moment:
        // the median of their ratios is the figure judged.
        std::printf("ratio sigbrid/openssl: %.1f%% by CPU time, median of the rounds' ratios (target 95%%); "
                    "ratio of the medians %.1f%%\n",
                    100.0 * ratios[kRounds / 2], 100.0 * sigbridRate / opensslRate);

        // Every processor again, and the machine reports them all.
        if (sched_setaffinity(0, sizeof every, &every) != 0)
            throw std::runtime_error("sched_setaffinity failed");
        std::filesystem::remove(processors);
        Json many = Json::array();
        while (many.size() < kParallelItems)
            for (const Json& item : list)
                many.push_back({{"id", many.size()}, {"value", item["value"]}, {"hashedData", true}});
        const Pkey privateKey = machineKey(machine + "/crypto/user/rsa/bench/exchange.key");
        std::vector<double> shares;
        for (int round = 1; round <= kParallelRounds; ++round) {
            const double cpu = cpuOf(many);
            const double wall = lastWall;
            const double floor = bareSeconds(privateKey.get(), many);
            writeText(processors, "1");
            cpuOf(many);
            const double single = lastWall;
            std::filesystem::remove(processors);
            shares.push_back(wall / floor);
            std::printf("round %d: %d items in %.2f s (%.2f s CPU) on %d processors, %.2f s on one; one core's "
                        "bare floor %.2f s: %.2f of it\n",
                        round, kParallelItems, wall, cpu, CPU_COUNT(&every), single, floor, shares.back());
        }
        std::sort(shares.begin(), shares.end());
        std::printf("signList of %d items on every processor: %.2f of one core's floor (median of %d; target at "
                    "most %.2f on two cores)\n",
                    kParallelItems, shares[kParallelRounds / 2], kParallelRounds, kTargetParallelShare);
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bench failed: %s\n", failure.what());
        return 1;
    }
}
