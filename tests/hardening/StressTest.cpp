// Many callers at once on one machine: rounds of 50 processes of mixed
// requests on both roads. Every envelope must be one object with one member,
// every signature must verify with OpenSSL, and afterwards the machine must
// hold every container, key and certificate it held and that the rounds
// added. The token is only listed while the rounds run: SoftHSM2 rewrites its
// token file in place on every login, so a concurrent login can make the
// token unreadable to other processes (pkcs11-tool does the same).
#include "BothRoads.h"

#include <nlohmann/json.hpp>

#include <future>
#include <set>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;

enum class Kind {
    Sign,
    SignList,
    ListCsp,
    CountContainers,
    ListContainers,
    NewKeyPair,
    SharedKeyPair,
    ImportCertificate,
    ListTokens,
    ListCertificates
};

// One round: how many processes of each request run at the same time.
constexpr std::pair<Kind, int> kRound[] = { { Kind::Sign, 10 }, { Kind::SignList, 5 }, { Kind::ListCsp, 3 },
    { Kind::CountContainers, 4 }, { Kind::ListContainers, 4 }, { Kind::NewKeyPair, 6 }, { Kind::SharedKeyPair, 6 },
    { Kind::ImportCertificate, 6 }, { Kind::ListTokens, 3 }, { Kind::ListCertificates, 3 } };
constexpr int kRounds = 10;
constexpr std::size_t kNewContainersPerRound = 6 + 1; // the new ones, and one of the shared name
constexpr const char* kDigests[] = { "sha1", "sha256", "sha512" };
constexpr const char* kContainerExists = "{\"error\":\"createKeyPair - CryptAcquireContext\"}";

struct Request {
    Kind kind = Kind::Sign;
    std::vector<std::string> args;
    const Identity* signer = nullptr;
    std::string digest;
    std::vector<std::string> data; // what is signed; a digest when `ready`
    bool ready = false;
    std::string container;
    Identity installed;
    ProcessResult result;
};

class Stress : public BothRoads {
protected:
    std::vector<std::string> containerArgs(const char* what) const
    {
        return { "capi", "list", what, kEnhancedAes, std::to_string(kProvRsaAes) };
    }
    std::vector<std::string> keyPairArgs(const std::string& container, bool useExisting) const
    {
        return { "capi", "repo", "createKeyPair", kEnhancedAes, std::to_string(kProvRsaAes), container,
            useExisting ? "true" : "false", "false", "1024", "-", "Stress", "false" };
    }
    std::string answer(const std::vector<std::string>& args) const { return capi_.success(args, tokenEnvironment_); }

    std::set<std::string> containerNames(const std::string& listing) const
    {
        std::set<std::string> names;
        for (const json& entry : json::parse(listing))
            names.insert(entry.at("name").get<std::string>());
        return names;
    }

    // The request of kind `kind`, number `n` of round `round`.
    Request make(Kind kind, int round, int n, const std::vector<Identity>& signers, long& serial)
    {
        Request r;
        r.kind = kind;
        const std::string tag = "round " + std::to_string(round) + " request " + std::to_string(n);
        r.signer = &signers[static_cast<std::size_t>(n) % signers.size()];
        r.digest = kDigests[n % 3];
        r.ready = n % 2 == 1;
        auto item = [&](const std::string& text) {
            r.data.push_back(r.ready ? digestOf(r.digest, text) : text);
            return base64(r.data.back());
        };
        switch (kind) {
        case Kind::Sign:
            r.args = { "capi", "crypt", "sign", r.signer->thumbprint, r.digest, item(tag), r.ready ? "true" : "false" };
            break;
        case Kind::SignList: {
            json list = json::array();
            for (int i = 0; i < 3; ++i)
                list.push_back(
                    { { "id", i }, { "value", item(tag + " item " + std::to_string(i)) }, { "hashedData", r.ready } });
            r.args = { "capi", "crypt", "signList", r.signer->thumbprint, r.digest, base64(list.dump()) };
            break;
        }
        case Kind::ListCsp:
            r.args = { "capi", "list", "csp" };
            break;
        case Kind::CountContainers:
            r.args = containerArgs("countContainer");
            break;
        case Kind::ListContainers:
            r.args = containerArgs("listContainer");
            break;
        case Kind::NewKeyPair:
            r.container = capi_.newContainerName("stress");
            r.args = keyPairArgs(r.container, false);
            break;
        case Kind::SharedKeyPair:
            r.container = "shared-" + std::to_string(round);
            r.args = keyPairArgs(r.container, false);
            break;
        case Kind::ImportCertificate: {
            // Another certificate for the key of the first signer's container.
            const std::string der = selfSignedCertificate(++serial, "stress " + tag);
            r.installed = { sha1Hex(der), signers[0].publicKeyPem, signers[0].container };
            r.args = { "capi", "repo", "importCertificate", kEnhancedAes, std::to_string(kProvRsaAes),
                r.installed.container, base64(der) };
            break;
        }
        case Kind::ListTokens:
            r.args = { "pkcs11", "list", "tokens", "AT" };
            break;
        case Kind::ListCertificates:
            r.args = { "pkcs11", "list", "certificates", "AT" };
            break;
        }
        return r;
    }
};

std::string blobOf(const std::string& answer)
{
    const std::string blob = unbase64(answer);
    return blob.size() > 12 && blob[0] == '\x06' && blob.substr(8, 4) == "RSA1" ? blob : "";
}

TEST_F(Stress, FiftyCallersAtOnceLoseNothing)
{
    std::vector<Identity> signers;
    for (int i = 0; i < 3; ++i)
        signers.push_back(capi_.install(kEnhancedAes, kProvRsaAes));
    std::vector<Identity> certificates = signers;
    const std::string providers = answer({ "capi", "list", "csp" });
    // The token listings answer arrays: whole documents are compared.
    const std::string tokens = capi_.sigbrid({ "pkcs11", "list", "tokens", "AT" }, tokenEnvironment_).out;
    const std::string tokenCertificates
        = capi_.sigbrid({ "pkcs11", "list", "certificates", "AT" }, tokenEnvironment_).out;
    ASSERT_EQ(json::parse(tokenCertificates)["success"],
        json::parse(R"([{"type":"AT","serial":")" + serial_ + R"(","thumbprint":")" + tokenThumbprint_ + "\"}]"));
    std::set<std::string> containers = containerNames(answer(containerArgs("listContainer")));
    ASSERT_EQ(containers.size(), signers.size());
    std::map<std::string, std::string> keys; // container -> its public key blob, in base64
    long serial = 500000;

    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<Request> requests;
        for (const auto& [kind, count] : kRound)
            for (int i = 0; i < count; ++i)
                requests.push_back(make(kind, round, static_cast<int>(requests.size()), signers, serial));

        std::promise<void> start;
        const std::shared_future<void> go = start.get_future().share();
        std::vector<std::thread> callers;
        for (Request& r : requests)
            callers.emplace_back([&, go] {
                go.wait();
                r.result = capi_.sigbrid(r.args, tokenEnvironment_);
            });
        start.set_value();
        for (std::thread& caller : callers)
            caller.join();

        const std::size_t before = containers.size();
        int sharedWinners = 0;
        for (Request& r : requests) {
            const json envelope = json::parse(r.result.out, nullptr, false);
            ASSERT_TRUE(envelope.is_object() && envelope.size() == 1 && envelope.contains("success"))
                << r.args[0] << " " << r.args[1] << " " << r.args[2] << ": " << r.result.out;
            const std::string text = envelope["success"].is_string() ? envelope["success"].get<std::string>() : "";
            switch (r.kind) {
            case Kind::Sign:
                EXPECT_TRUE(capi_.verifies(*r.signer, r.digest, r.data[0], text, r.ready));
                break;
            case Kind::SignList: {
                const json signatures = json::parse(text);
                ASSERT_EQ(signatures.size(), r.data.size()) << text;
                for (std::size_t i = 0; i < r.data.size(); ++i) {
                    EXPECT_EQ(signatures[i]["id"], i);
                    EXPECT_TRUE(capi_.verifies(
                        *r.signer, r.digest, r.data[i], signatures[i]["signed"].get<std::string>(), r.ready));
                }
                break;
            }
            case Kind::ListCsp:
                EXPECT_EQ(text, providers);
                break;
            case Kind::CountContainers:
                EXPECT_GE(std::stoul(text), before);
                EXPECT_LE(std::stoul(text), before + kNewContainersPerRound);
                break;
            case Kind::ListContainers: {
                const std::set<std::string> names = containerNames(text);
                for (const std::string& name : containers)
                    EXPECT_EQ(names.count(name), 1u) << name << " missing from " << text;
                break;
            }
            case Kind::NewKeyPair:
            case Kind::SharedKeyPair:
                if (r.kind == Kind::SharedKeyPair && text == kContainerExists)
                    break;
                EXPECT_NE(blobOf(text), "") << text;
                sharedWinners += r.kind == Kind::SharedKeyPair;
                EXPECT_TRUE(keys.emplace(r.container, text).second) << r.container;
                containers.insert(r.container);
                break;
            case Kind::ImportCertificate:
                EXPECT_EQ(text, "{\"result\":\"ok\"}");
                certificates.push_back(r.installed);
                break;
            case Kind::ListTokens:
                EXPECT_EQ(r.result.out, tokens);
                break;
            case Kind::ListCertificates:
                EXPECT_EQ(r.result.out, tokenCertificates);
                break;
            }
        }
        EXPECT_EQ(sharedWinners, 1);
    }

    // The machine is whole: every container with its key, every certificate
    // signing with its key, and the token as it was.
    EXPECT_EQ(answer(containerArgs("countContainer")), std::to_string(containers.size()));
    EXPECT_EQ(containerNames(answer(containerArgs("listContainer"))), containers);
    for (const auto& [container, blob] : keys)
        EXPECT_EQ(answer(keyPairArgs(container, true)), blob) << container;
    for (const Identity& certificate : certificates) {
        const std::string signature
            = answer({ "capi", "crypt", "sign", certificate.thumbprint, "sha256", base64("after"), "false" });
        EXPECT_TRUE(capi_.verifies(certificate, "sha256", "after", signature, false)) << certificate.thumbprint;
    }
    EXPECT_EQ(capi_.sigbrid({ "pkcs11", "list", "certificates", "AT" }, tokenEnvironment_).out, tokenCertificates);
    EXPECT_EQ(capi_.sigbrid({ "pkcs11", "list", "tokens", "AT" }, tokenEnvironment_).out, tokens);
}

} // namespace
