// Many callers at once on one machine: rounds of 50 processes of mixed
// requests on both roads. Every envelope must be one object with one member,
// every signature must verify with OpenSSL, and afterwards the machine must
// hold every container, key and certificate it held and that the rounds
// added. The token is only listed while the rounds run: SoftHSM2 rewrites its
// token file in place on every login, so a concurrent login can make the
// token unreadable to other processes (pkcs11-tool does the same).
#include "BothRoads.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <future>
#include <set>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;
using Args = std::vector<std::string>;

constexpr int kRounds = 10;
constexpr std::size_t kNewContainersPerRound = 6 + 1; // the new ones, and one of the shared name
constexpr const char* kDigests[] = { "sha1", "sha256", "sha512" };
constexpr const char* kContainerExists = "{\"error\":\"createKeyPair - CryptAcquireContext\"}";
const std::string kAesType = std::to_string(kProvRsaAes);
const Args kCountContainers = { "capi", "list", "countContainer", kEnhancedAes, kAesType };
const Args kListContainers = { "capi", "list", "listContainer", kEnhancedAes, kAesType };

Args keyPairArgs(const std::string& container, bool useExisting)
{
    return { "capi", "repo", "createKeyPair", kEnhancedAes, kAesType, container, useExisting ? "true" : "false",
        "false", "1024", "-", "Stress", "false" };
}

std::set<std::string> names(const std::string& listing)
{
    std::set<std::string> names;
    for (const json& entry : json::parse(listing))
        names.insert(entry.at("name").get<std::string>());
    return names;
}

// A request of a round, and what its printed document and answer must be.
struct Call {
    Args args;
    std::function<void(const std::string& document, const std::string& answer)> check;
};

using Stress = BothRoads;

TEST_F(Stress, FiftyCallersAtOnceLoseNothing)
{
    std::vector<Identity> certificates;
    for (int i = 0; i < 3; ++i)
        certificates.push_back(machine_.install(kEnhancedAes, kProvRsaAes));
    const std::vector<Identity> signers = certificates;
    // What the quiet machine prints for the requests that no caller changes.
    std::map<Args, std::string> quiet;
    const Args unchanging[] = { { "capi", "list", "csp" }, { "pkcs11", "list", "tokens", "AT" },
        { "pkcs11", "list", "certificates", "AT" } };
    for (const Args& args : unchanging)
        quiet[args] = machine_.sigbrid(args).out;
    std::set<std::string> containers = names(machine_.success(kListContainers));
    ASSERT_EQ(containers.size(), signers.size());
    std::map<std::string, std::string> keys; // container -> its public key blob, in base64
    long serial = 500000;

    const auto signing = [&](int round, int n) {
        const Identity signer = signers[static_cast<std::size_t>(n) % signers.size()];
        const std::string digest = kDigests[(n / 3) % 3];
        const std::string text = "round " + std::to_string(round) + " call " + std::to_string(n);
        return Call { { "capi", "crypt", "sign", signer.thumbprint, digest, base64(text), "false" },
            [signer, digest, text](const std::string&, const std::string& answer) {
                EXPECT_TRUE(verifies(signer, digest, text, answer, false)) << answer;
            } };
    };
    const auto keyPair = [&](const std::string& container, bool shared) {
        return Call { keyPairArgs(container, false),
            [&, container, shared](const std::string&, const std::string& answer) {
                if (shared && answer == kContainerExists)
                    return;
                // A PUBLICKEYBLOB of an RSA key.
                const std::string blob = unbase64(answer);
                EXPECT_TRUE(blob.size() > 12 && blob[0] == '\x06' && blob.substr(8, 4) == "RSA1") << answer;
                EXPECT_TRUE(keys.emplace(container, answer).second) << "a second creator of " << container;
                containers.insert(container);
            } };
    };
    const auto install = [&](int round, int n) {
        // The first signer's certificate again, while others sign with it, or
        // another certificate for its key.
        const std::string der = n % 2
            ? signers[0].certificate
            : selfSignedCertificate(++serial, "stress " + std::to_string(round) + "/" + std::to_string(n),
                certificateKey(signers[0].certificate).get());
        const Identity installed { sha1Hex(der), der, signers[0].container };
        return Call { { "capi", "repo", "importCertificate", kEnhancedAes, kAesType, installed.container, base64(der) },
            [&, installed](const std::string&, const std::string& answer) {
                EXPECT_EQ(answer, "{\"result\":\"ok\"}");
                certificates.push_back(installed);
            } };
    };
    // Containers only come: the listings hold at least what was there before.
    const auto listing = [&](bool count) {
        return Call { count ? kCountContainers : kListContainers,
            [&, count, before = containers](const std::string&, const std::string& answer) {
                if (count) {
                    EXPECT_GE(std::stoul(answer), before.size());
                    EXPECT_LE(std::stoul(answer), before.size() + kNewContainersPerRound);
                    return;
                }
                const std::set<std::string> listed = names(answer);
                for (const std::string& name : before)
                    EXPECT_EQ(listed.count(name), 1u) << name << " missing from " << answer;
            } };
    };
    const auto same = [&](const Args& args) {
        return Call { args,
            [&, args](const std::string& document, const std::string&) { EXPECT_EQ(document, quiet[args]); } };
    };

    // One round: how many callers make each request at the same time.
    const std::pair<int, std::function<Call(int round, int n)>> round[] = {
        { 15, signing },
        { 6, [&](int, int) { return keyPair(machine_.newContainerName("stress"), false); } },
        { 6, [&](int r, int) { return keyPair("shared-" + std::to_string(r), true); } },
        { 6, install },
        { 8, [&](int, int n) { return listing(n % 2 == 0); } },
        { 9, [&](int, int n) { return same(unchanging[n % 3]); } },
    };
    for (int r = 0; r < kRounds; ++r) {
        SCOPED_TRACE("round " + std::to_string(r));
        std::vector<Call> calls;
        for (const auto& [count, make] : round)
            for (int i = 0; i < count; ++i)
                calls.push_back(make(r, static_cast<int>(calls.size())));
        std::promise<void> start;
        const std::shared_future<void> go = start.get_future().share();
        std::vector<ProcessResult> results(calls.size());
        std::vector<std::thread> callers;
        for (std::size_t i = 0; i < calls.size(); ++i)
            callers.emplace_back([&, go, i] {
                go.wait();
                results[i] = machine_.sigbrid(calls[i].args);
            });
        start.set_value();
        for (std::thread& caller : callers)
            caller.join();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            const json envelope = json::parse(results[i].out, nullptr, false);
            ASSERT_TRUE(envelope.is_object() && envelope.size() == 1 && envelope.contains("success"))
                << calls[i].args[1] << " " << calls[i].args[2] << ": " << results[i].out;
            calls[i].check(
                results[i].out, envelope["success"].is_string() ? envelope["success"].get<std::string>() : "");
        }
        EXPECT_EQ(keys.count("shared-" + std::to_string(r)), 1u);
    }

    // The machine is whole: every container with its key, every certificate
    // signing with its key, and the token as it was.
    EXPECT_EQ(machine_.success(kCountContainers), std::to_string(containers.size()));
    EXPECT_EQ(names(machine_.success(kListContainers)), containers);
    for (const auto& [container, blob] : keys)
        EXPECT_EQ(machine_.success(keyPairArgs(container, true)), blob) << container;
    for (const Identity& certificate : certificates) {
        const std::string signature
            = machine_.success({ "capi", "crypt", "sign", certificate.thumbprint, "sha256", base64("after"), "false" });
        EXPECT_TRUE(verifies(certificate, "sha256", "after", signature, false)) << certificate.thumbprint;
    }
    for (const Args& args : unchanging)
        EXPECT_EQ(machine_.sigbrid(args).out, quiet[args]);
}

} // namespace
