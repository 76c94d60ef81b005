// pkcs11 list certificates on SoftHSM2: thumbprints as openssl computes them.
#include "SoftHsmTest.h"

#include <algorithm>

namespace {

using nlohmann::json;

std::vector<std::string> thumbprints(const json& records, const std::string& type, const std::string& serial)
{
    std::vector<std::string> found;
    for (const json& record : records) {
        EXPECT_EQ(record.size(), 3u);
        if (record["type"] == type && record["serial"] == serial)
            found.push_back(record["thumbprint"]);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::string> sorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    return texts;
}

TEST_F(SoftHsmTest, ThumbprintsAreOpenSslsSha1Fingerprints)
{
    const std::string first = machine_.initToken("First", "111111");
    const std::string second = machine_.initToken("Second", "222222");
    machine_.installSoftHsmAsGd();
    const std::string a = machine_.makeCertificate("a");
    const std::string b = machine_.makeCertificate("b");
    const std::string c = machine_.makeCertificate("c");
    machine_.writeCertificate("First", "111111", a, "01", "a");
    machine_.writeCertificate("First", "111111", b, "02", "b");
    machine_.writeCertificate("Second", "222222", c, "01", "c");
    // The same certificate on both tokens.
    machine_.writeCertificate("Second", "222222", a, "02", "a again");

    const json records = success({ "pkcs11", "list", "certificates", "GD" });
    ASSERT_EQ(records.size(), 4u) << records.dump();
    const std::string fa = SoftHsmMachine::fingerprint(a);
    ASSERT_EQ(fa.size(), 40u);
    EXPECT_EQ(thumbprints(records, "GD", first), sorted({ fa, SoftHsmMachine::fingerprint(b) }));
    EXPECT_EQ(thumbprints(records, "GD", second), sorted({ SoftHsmMachine::fingerprint(c), fa }));

    // Slot order: the first token's records, then the second's.
    const std::vector<ShownToken> shown = machine_.shownTokens();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(records[0]["serial"], shown[0].serial);
    EXPECT_EQ(records[1]["serial"], shown[0].serial);
    EXPECT_EQ(records[2]["serial"], shown[1].serial);
    EXPECT_EQ(records[3]["serial"], shown[1].serial);
}

TEST_F(SoftHsmTest, KeysAndEmptyTokensAddNoCertificateRecords)
{
    machine_.initToken("Empty", "111111");
    const std::string keys = machine_.initToken("Keys only", "222222");
    machine_.installSoftHsmAsGd();
    machine_.keyPair("Keys only", "222222", "01", "k");
    EXPECT_EQ(success({ "pkcs11", "list", "certificates", "GD" }), json::array());
    EXPECT_EQ(success({ "pkcs11", "list", "objects", "GD", keys, "222222" }).size(), 1u);
}

// "ND" walks every loaded module; each record carries its module's own code.
TEST_F(SoftHsmTest, AllModulesListEveryModulesCertificates)
{
    const std::string serial = machine_.initToken("Shared", "111111");
    machine_.installSoftHsmAsGd();
    machine_.copy(R"(C:\Windows\SysWOW64\DXSafePKCS11.dll)", kSoftHsmModule);
    const std::string cert = machine_.makeCertificate("shared");
    machine_.writeCertificate("Shared", "111111", cert, "01", "shared");

    const std::string fp = SoftHsmMachine::fingerprint(cert);
    const json expected = json::array({
        { { "type", "GD" }, { "serial", serial }, { "thumbprint", fp } },
        { { "type", "DX" }, { "serial", serial }, { "thumbprint", fp } },
    });
    EXPECT_EQ(success({ "pkcs11", "list", "certificates", "ND" }), expected);
    EXPECT_EQ(success({ "pkcs11", "list", "certificates", "DX" }), json::array({ expected[1] }));
}

}  // namespace
