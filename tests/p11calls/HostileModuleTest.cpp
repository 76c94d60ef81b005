// Modules that lie about lengths and counts, or lack functions: sigbrid
// reads no byte past a buffer it owns (the sanitizer build runs these too),
// never loops without end, and still answers one envelope.
#include <gtest/gtest.h>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

using Bytes = std::vector<unsigned char>;

Json token(const std::string& slotId, const std::string& serial)
{
    return { { "type", "GD" }, { "slotId", slotId }, { "manufacturerId", "Maker" }, { "slotDescription", "Reader" },
        { "tokenLabel", "Token" }, { "tokenModel", "Model" }, { "serial", serial }, { "freePublicMemory", 0 },
        { "freePrivateMemory", 0 } };
}

Json objectRecord(const std::string& id, const std::string& label)
{
    return { { "id", id }, { "label", label }, { "publicKey", false }, { "privateKey", true },
        { "certificate", false } };
}

std::size_t countOf(const Lines& calls, const std::string& function)
{
    std::size_t count = 0;
    for (const auto& call : calls)
        if (call.rfind(gd + function + " ", 0) == 0)
            ++count;
    return count;
}

class HostileModule : public ::testing::Test {
protected:
    TokenMachine machine_;

    void script(const std::vector<Json>& slots, const Json& extra = Json::object())
    {
        Json script = extra;
        script["slots"] = Json::array();
        for (const auto& each : slots)
            script["slots"].push_back(each);
        machine_.script(script);
    }

    std::string run(const std::string& command, const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args = { "pkcs11", "list", command, "GD" };
        args.insert(args.end(), more.begin(), more.end());
        return machine_.run(args);
    }

    void SetUp() override { machine_.install(kGdPath); }
};

// The slot count changes between the two C_GetSlotList calls: never more
// slots than the buffer that was handed over.
TEST_F(HostileModule, SlotCountGrowsBetweenTheTwoCalls)
{
    script({ slot(1, "01"), slot(2, "02"), slot(3, "03") }, { { "slotList", { { "firstCount", 1 } } } });
    EXPECT_EQ(run("tokens"), successDocument({ token("1", "01") }));
    EXPECT_EQ(machine_.calls().at(2), gd + "C_GetSlotList tokenPresent=1 pSlotList=buffer/1 -> 0x150");

    script({ slot(1, "01"), slot(2, "02") }, { { "slotList", { { "secondCount", 100000 } } } });
    EXPECT_EQ(run("tokens"), successDocument({ token("1", "01"), token("2", "02") }));

    script({ slot(1, "01"), slot(2, "02") }, { { "slotList", { { "firstCount", 0 }, { "secondCount", 2 } } } });
    EXPECT_EQ(run("tokens"), successDocument(Json::array()));
}

TEST_F(HostileModule, AbsurdSlotCountIsSurvived)
{
    script({ slot(1, "01") }, { { "slotList", { { "firstCount", "unavailable" } } } });
    EXPECT_EQ(run("tokens"), successDocument({ token("1", "01") }));
}

// Attribute lengths larger than the buffer, or CK_UNAVAILABLE_INFORMATION:
// only the bytes that fit in the buffer are taken.
TEST_F(HostileModule, AttributeLengthsBeyondTheBuffer)
{
    Json longer = object(11, kPrivateKey, "01", "0123456789");
    longer["attributes"]["CKA_LABEL"] = { { "text", "0123456789" }, { "nullLength", 2 }, { "filledLength", 1000000 } };
    Json unavailable = object(21, kPrivateKey, "02", "label");
    unavailable["attributes"]["CKA_ID"] = { { "hex", "02" }, { "nullLength", "unavailable" } };
    unavailable["attributes"]["CKA_LABEL"] = { { "text", "label" }, { "filledLength", "unavailable" } };
    Json shrinking = object(31, kPrivateKey, "03", "abcdef");
    shrinking["attributes"]["CKA_LABEL"] = { { "text", "abcdef" }, { "nullLength", 100 }, { "filledLength", 3 } };
    Json slotWithKeys = slot(1, "0A1B");
    slotWithKeys["objects"] = { longer, unavailable, shrinking };
    script({ slotWithKeys });

    // The key without a readable ID is searched by an empty ID, which
    // nothing on this token carries.
    EXPECT_EQ(run("objects", { "0A1B", "1234" }),
        successDocument({ objectRecord("AQ==", "01"),
            { { "id", "" }, { "label", "" }, { "publicKey", false }, { "privateKey", false },
                { "certificate", false } },
            objectRecord("Aw==", "abc") }));
}

TEST_F(HostileModule, CertificateValueLengthsBeyondTheBuffer)
{
    const std::string value(50, 'v');
    Json cut = certificate(10, hexOf(value));
    cut["attributes"]["CKA_VALUE"]["nullLength"] = 10;
    cut["attributes"]["CKA_VALUE"]["filledLength"] = 50;
    Json unreadable = certificate(11, hexOf(value));
    unreadable["attributes"]["CKA_VALUE"]["nullLength"] = "unavailable";
    Json whole = certificate(12, hexOf(value));
    Json slotWithCertificates = slot(1, "0A");
    slotWithCertificates["objects"] = { cut, unreadable, whole };
    script({ slotWithCertificates });

    const std::string listing = run("certificates");
    const Json document = Json::parse(listing);
    ASSERT_TRUE(document.contains("success")) << listing;
    // The listing goes on past the certificates it could not read whole.
    ASSERT_FALSE(document["success"].empty());
    EXPECT_EQ(
        document["success"].back(), Json({ { "type", "GD" }, { "serial", "0A" }, { "thumbprint", sha1Hex(value) } }));
    for (const auto& each : document["success"])
        EXPECT_TRUE(each["thumbprint"] == sha1Hex(value) || each["thumbprint"] == sha1Hex(value.substr(0, 10))
            || each["thumbprint"] == sha1Hex(""))
            << each;
}

// A count above ulMaxObjectCount: one handle per call is all there is room for.
TEST_F(HostileModule, FindCountAboveTheMaximum)
{
    Json keys = slot(1, "0A1B");
    keys["objects"] = { object(11, kPrivateKey, "01", "one"), object(21, kPrivateKey, "02", "two") };
    script({ keys }, { { "findObjects", { { "countWhileFound", 5 } } } });
    EXPECT_EQ(run("objects", { "0A1B", "ND" }),
        successDocument({ objectRecord("AQ==", "one"), objectRecord("Ag==", "two") }));
}

// A failing C_FindObjects that leaves the count alone ends the search after
// one call.
TEST_F(HostileModule, FailingSearchEndsAfterOneCall)
{
    Json certificates = slot(1, "0A");
    certificates["objects"] = { certificate(10, "3000") };
    script({ certificates }, { { "rv", { { "C_FindObjects", "0x30" } } } });
    EXPECT_EQ(run("certificates"), successDocument(Json::array()));
    EXPECT_EQ(countOf(machine_.calls(), "C_FindObjects"), 1u);
}

// A failing C_FindObjects that writes a count other than 0 has found
// nothing: the search must end instead of collecting the handle it never
// wrote, call after call.
TEST_F(HostileModule, FailingSearchWithACountEndsAfterOneCall)
{
    Json certificates = slot(1, "0A");
    certificates["objects"] = { certificate(10, "3000") };
    script({ certificates },
        { { "rv", { { "C_FindObjects", "0x30" } } }, { "findObjects", { { "countOnFailure", 1 } } } });
    const std::string listing = run("certificates");
    EXPECT_EQ(listing, successDocument(Json::array()));
    EXPECT_EQ(countOf(machine_.calls(), "C_FindObjects"), 1u);
}

// Fixed-width fields filled to the last byte, without any terminator.
TEST_F(HostileModule, FieldsWithoutTerminators)
{
    Json full = slot(1, "FFFFFFFFFFFFFFFF", std::string(32, '\x7f'));
    full["slotDescription"] = { { "hex", std::string(128, 'f').replace(0, 2, "41") } };
    script({ full });
    const std::string listing = run("tokens");
    const Json document = Json::parse(listing, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << listing;
    // 0xFF bytes are no UTF-8: whatever the answer, it is one envelope.
    EXPECT_EQ(document.size(), 1u);
}

// A module without C_GetTokenInfo has no readable serial, so no usable slot;
// the missing function is never called.
TEST_F(HostileModule, MissingTokenInformationLeavesNoUsableSlot)
{
    machine_.install(kGdPath, "p11mock_partial");
    script({ slot(1, "0A1B") });
    EXPECT_EQ(run("tokens"), successDocument(Json::array()));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(gd, 1),
            { gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x0", gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x0" },
            finalizing(gd) }));
}

// A module without C_Login: listings without login work, logging in fails
// with the name of the missing function.
TEST_F(HostileModule, MissingLoginFailsTheOperationThatLogsIn)
{
    machine_.install(kGdPath, "p11mock_nologin");
    Json slotWithObjects = slot(1, "0A1B");
    slotWithObjects["objects"] = { certificate(10, "3000"), object(11, kPrivateKey, "01", "key") };
    script({ slotWithObjects });

    EXPECT_EQ(run("certificates"),
        successDocument(
            { { { "type", "GD" }, { "serial", "0A1B" }, { "thumbprint", sha1Hex(std::string("\x30\x00", 2)) } } }));

    EXPECT_EQ(run("objects", { "0A1B", "1234" }), errorDocument("Funcao PKCS#11 ausente no modulo: C_Login"));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(gd, 1), tokenReads(gd, "1"), tokenReads(gd, "1"),
            { gd + "C_OpenSession slot=1 flags=0x6 pApplication=NULL notify=NULL phSession=set -> 0x0" },
            finalizing(gd) }));
}

// A module that finds one more object forever: the request's call budget
// ends each command that searches, with its message. (No call log: it would
// hold a million lines.)
TEST_F(HostileModule, EndlessSearchesRunOutOfTheCallBudget)
{
    Json token = slot(1, "0A1B");
    token["objects"] = { certificate(10, "3082") };
    script({ token }, { { "findObjects", { { "endless", true } } } });
    machine_.addEnvironment({ { "P11MOCK_LOG", "" } });
    const std::vector<std::string> requests[] = {
        { "pkcs11", "list", "objects", "GD", "0A1B", "1234" },
        { "pkcs11", "list", "certificates", "GD" },
        { "pkcs11", "crypt", "sign", "GD", sha1Hex(std::string("\x30\x82")), "sha256", "1234", "YWJj", "false" },
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(request[2]);
        EXPECT_EQ(machine_.run(request), errorDocument("Limite de chamadas ao modulo PKCS#11 excedido"));
    }
}

} // namespace
