// pkcs11 list tokens and objects on SoftHSM2 tokens filled by pkcs11-tool:
// the tokens as softhsm2-util shows them, key pairs behind the login.
#include "SoftHsmTest.h"

#include <algorithm>

namespace {

using nlohmann::json;

// Behind each token's login, one record per private key with what shares its
// id, of which a certificate without a key makes none.
TEST_F(SoftHsmTest, TokensAndObjectsBehindTheLogin)
{
    // The module sees exactly a PIN's bytes, whatever they are.
    const std::string oddPin = "s\xC3\xA9nha-\xE2\x82\xAC!";
    const std::string pin = "123456";
    const std::string alpha = machine_.initToken("Alpha token", oddPin);
    const std::string beta = machine_.initToken("Beta", pin);
    machine_.installSoftHsmAsGd();
    const std::string a = machine_.makeCertificate("a");
    const std::string c = machine_.makeCertificate("c");
    machine_.writeCertificate("Alpha token", oddPin, a, "01", "a");
    machine_.keyPair("Alpha token", oddPin, "ff", "odd");
    machine_.keyPair("Beta", pin, "0102", "k1");
    machine_.writeCertificate("Beta", pin, c, "0102", "c1");
    machine_.keyPair("Beta", pin, "0304", "k2");

    const std::vector<ShownToken> shown = machine_.shownTokens();
    ASSERT_EQ(shown.size(), 2u);
    const json tokens = success({ "pkcs11", "list", "tokens", "GD" });
    ASSERT_TRUE(tokens.is_array());
    ASSERT_EQ(tokens.size(), shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(shown[i].label);
        // SoftHSM2 does not tell its free memory: CK_UNAVAILABLE_INFORMATION,
        // printed as the 32-bit value whatever the width of CK_ULONG.
        EXPECT_EQ(tokens[i],
            (json { { "type", "GD" }, { "slotId", shown[i].slotId }, { "slotDescription", shown[i].slotDescription },
                { "manufacturerId", shown[i].slotManufacturer }, { "tokenLabel", shown[i].label },
                { "tokenModel", "SoftHSM v2" }, { "serial", shown[i].serial }, { "freePublicMemory", 4294967295u },
                { "freePrivateMemory", 4294967295u } }));
        EXPECT_EQ(tokens[i]["tokenModel"], shown[i].model);
    }

    // A wrong PIN, a PIN's first bytes, and no PIN at all ("" and "ND"),
    // which SoftHSM2 refuses as a bad argument.
    const std::pair<std::string, const char*> refusals[] = { { "654321", "Pin incorreto" },
        { "", "Argumentos invalidos" }, { "ND", "Argumentos invalidos" } };
    for (const auto& [wrong, message] : refusals)
        EXPECT_EQ(error({ "pkcs11", "list", "objects", "GD", beta, wrong }), std::string("Erro no Login - ") + message)
            << "[" << wrong << "]";
    EXPECT_EQ(error({ "pkcs11", "list", "objects", "GD", alpha, "s\xC3\xA9nha-" }), "Erro no Login - Pin incorreto");
    // The refusals leave the token usable; each token lists its own keys.
    json objects = success({ "pkcs11", "list", "objects", "GD", beta, pin });
    std::sort(objects.begin(), objects.end(), [](const json& x, const json& y) { return x["id"] < y["id"]; });
    ASSERT_EQ(objects.size(), 2u) << objects.dump();
    // The label of whichever of the key pair and certificate the token
    // returned last.
    EXPECT_TRUE(objects[0]["label"] == "k1" || objects[0]["label"] == "c1") << objects[0].dump();
    objects[0]["label"] = "k1";
    const auto record = [](const char* id, const char* label, bool certificate) {
        return json { { "id", id }, { "label", label }, { "privateKey", true }, { "publicKey", true },
            { "certificate", certificate } };
    };
    EXPECT_EQ(objects, json::array({ record("AQI=", "k1", true), record("AwQ=", "k2", false) }));
    EXPECT_EQ(
        success({ "pkcs11", "list", "objects", "GD", alpha, oddPin }), json::array({ record("/w==", "odd", false) }));
}

} // namespace
