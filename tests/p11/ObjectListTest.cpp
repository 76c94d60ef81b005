// pkcs11 list objects and the login, on SoftHSM2 tokens filled by pkcs11-tool.
#include "SoftHsmTest.h"

#include <algorithm>

namespace {

using nlohmann::json;

class ObjectList : public SoftHsmTest {
protected:
    void SetUp() override
    {
        SoftHsmTest::SetUp();
        if (IsSkipped())
            return;
        serial_ = machine_.initToken("Keys", kPin);
        machine_.installSoftHsmAsGd();
    }

    json objects(const std::string& pin) const { return success({ "pkcs11", "list", "objects", "GD", serial_, pin }); }

    static json sortedById(json records)
    {
        std::sort(records.begin(), records.end(), [](const json& a, const json& b) { return a["id"] < b["id"]; });
        return records;
    }

    static constexpr const char* kPin = "123456";
    std::string serial_;
};

TEST_F(ObjectList, EmptyTokenHasNoRecords) { EXPECT_EQ(objects(kPin), json::array()); }

TEST_F(ObjectList, OneRecordPerPrivateKeyWithWhatSharesItsId)
{
    machine_.keyPair("Keys", kPin, "0102", "k1");
    machine_.writeCertificate("Keys", kPin, machine_.makeCertificate("first"), "0102", "c1");
    machine_.keyPair("Keys", kPin, "0304", "k2");
    // A certificate without a key makes no record.
    machine_.writeCertificate("Keys", kPin, machine_.makeCertificate("loose"), "0506", "c3");

    const json records = sortedById(objects(kPin));
    ASSERT_EQ(records.size(), 2u) << records.dump();

    EXPECT_EQ(records[0]["id"], "AQI=");
    EXPECT_EQ(records[0]["privateKey"], true);
    EXPECT_EQ(records[0]["publicKey"], true);
    EXPECT_EQ(records[0]["certificate"], true);
    // The label of whichever of the three the token returned last.
    EXPECT_TRUE(records[0]["label"] == "k1" || records[0]["label"] == "c1") << records[0].dump();

    EXPECT_EQ(records[1],
        (json { { "id", "AwQ=" }, { "label", "k2" }, { "privateKey", true }, { "publicKey", true },
            { "certificate", false } }));
}

TEST_F(ObjectList, LoginFailuresAnswerTheirMessage)
{
    // The module sees exactly the PIN's bytes: no prefix, no longer text,
    // no terminator counted.
    const std::vector<std::string> wrongPins
        = { "654321", "12345", "1234567", "123456 ", " 123456", "1234560", std::string(300, '1') };
    for (const std::string& pin : wrongPins)
        EXPECT_EQ(error({ "pkcs11", "list", "objects", "GD", serial_, pin }), "Erro no Login - Pin incorreto")
            << "[" << pin << "]";
    // "" and "ND" log in without a PIN, which SoftHSM2 refuses as a bad argument.
    for (const char* pin : { "", "ND" })
        EXPECT_EQ(error({ "pkcs11", "list", "objects", "GD", serial_, pin }), "Erro no Login - Argumentos invalidos")
            << "[" << pin << "]";
    // The refusals leave the token usable.
    EXPECT_EQ(objects(kPin), json::array());
}

TEST_F(ObjectList, PinsOfAnyBytesReachTheModuleUnchanged)
{
    const std::string pin = "s\xC3\xA9nha-\xE2\x82\xAC!";
    const std::string serial = machine_.initToken("Odd pin", pin);
    machine_.keyPair("Odd pin", pin, "ff", "odd");
    const json records = success({ "pkcs11", "list", "objects", "GD", serial, pin });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["id"], "/w==");
    EXPECT_EQ(records[0]["label"], "odd");
    EXPECT_EQ(error({ "pkcs11", "list", "objects", "GD", serial, "s\xC3\xA9nha-" }), "Erro no Login - Pin incorreto");
}

TEST_F(ObjectList, EachTokenListsItsOwnKeys)
{
    const std::string second = machine_.initToken("Second", "222222");
    machine_.keyPair("Second", "222222", "2222", "other");
    EXPECT_EQ(objects(kPin), json::array());
    const json records = success({ "pkcs11", "list", "objects", "GD", second, "222222" });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["id"], "IiI=");
    EXPECT_EQ(records[0]["label"], "other");
}

}  // namespace
