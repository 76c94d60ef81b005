// Modules that lie about lengths and counts, or lack functions: sigbrid
// reads no byte past a buffer it owns (the sanitizer build runs these too),
// never loops without end, and still answers one envelope.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

class HostileModule : public ::testing::Test {
protected:
    TokenMachine machine_;

    void script(const std::vector<Json>& slots, const Json& extra = Json::object())
    {
        machine_.script(patched(extra, { { "/slots", slots } }));
    }

    std::string run(const std::string& command, const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args = { "pkcs11", "list", command, "GD" };
        args.insert(args.end(), more.begin(), more.end());
        return machine_.run(args);
    }

    void SetUp() override { machine_.install(kGdPath); }
};

// The slot count changes between the two C_GetSlotList calls, or is absurd:
// never more slots than the buffer that was handed over.
TEST_F(HostileModule, SlotCountsThatChangeOrMakeNoSense)
{
    const std::vector<Json> two = { slot(1, "01"), slot(2, "02") };
    const Json bothListed = { tokenRecord("GD", "1", "01"), tokenRecord("GD", "2", "02") };
    const struct {
        std::vector<Json> slots;
        Json slotList, listed;
    } lies[] = {
        { { slot(1, "01"), slot(2, "02"), slot(3, "03") }, { { "firstCount", 1 } },
            Json::array({ tokenRecord("GD", "1", "01") }) },
        { two, { { "secondCount", 100000 } }, bothListed },
        { two, { { "firstCount", 0 }, { "secondCount", 2 } }, Json::array() },
        { two, { { "firstCount", "unavailable" } }, bothListed },
    };
    for (std::size_t i = 0; i < std::size(lies); ++i) {
        script(lies[i].slots, { { "slotList", lies[i].slotList } });
        EXPECT_EQ(run("tokens"), successDocument(lies[i].listed)) << lies[i].slotList;
        if (i == 0) {
            EXPECT_EQ(machine_.calls().at(2), gd + "C_GetSlotList tokenPresent=1 pSlotList=buffer/1 -> 0x150");
        }
    }
}

// Attribute lengths larger than the buffer, or CK_UNAVAILABLE_INFORMATION:
// only the bytes that fit in the buffer are taken.
TEST_F(HostileModule, AttributeLengthsBeyondTheBuffer)
{
    const Json longer = patched(object(11, kPrivateKey, "01", ""),
        { { "/attributes/CKA_LABEL",
            { { "text", "0123456789" }, { "nullLength", 2 }, { "filledLength", 1000000 } } } });
    const Json unavailable = patched(object(21, kPrivateKey, "02", ""),
        { { "/attributes/CKA_ID", { { "hex", "02" }, { "nullLength", "unavailable" } } },
            { "/attributes/CKA_LABEL", { { "text", "label" }, { "filledLength", "unavailable" } } } });
    const Json shrinking = patched(object(31, kPrivateKey, "03", ""),
        { { "/attributes/CKA_LABEL", { { "text", "abcdef" }, { "nullLength", 100 }, { "filledLength", 3 } } } });
    // The search counts lie too: a count above ulMaxObjectCount, when one
    // handle per call is all there is room for.
    script({ patched(slot(1, "0A1B"), { { "/objects", { longer, unavailable, shrinking } } }) },
        { { "findObjects", { { "countWhileFound", 5 } } } });

    // The key without a readable ID is searched by an empty ID, which
    // nothing on this token carries.
    EXPECT_EQ(run("objects", { "0A1B", "1234" }),
        successDocument(
            { objectRecord("AQ==", "01"), objectRecord("", "", false, false), objectRecord("Aw==", "abc") }));
}

TEST_F(HostileModule, CertificateValueLengthsBeyondTheBuffer)
{
    const std::string value(50, 'v');
    const Json cut = patched(certificate(10, hexOf(value)),
        { { "/attributes/CKA_VALUE/nullLength", 10 }, { "/attributes/CKA_VALUE/filledLength", 50 } });
    const Json unreadable
        = patched(certificate(11, hexOf(value)), { { "/attributes/CKA_VALUE/nullLength", "unavailable" } });
    script({ patched(slot(1, "0A"), { { "/objects", { cut, unreadable, certificate(12, hexOf(value)) } } }) });

    const std::string listing = run("certificates");
    const Json document = Json::parse(listing);
    ASSERT_TRUE(document.contains("success")) << listing;
    // The listing goes on past the certificates it could not read whole.
    ASSERT_FALSE(document["success"].empty());
    EXPECT_EQ(document["success"].back(), certificateRecord("GD", "0A", sha1Hex(value)));
    for (const auto& each : document["success"])
        EXPECT_TRUE(each["thumbprint"] == sha1Hex(value) || each["thumbprint"] == sha1Hex(value.substr(0, 10))
            || each["thumbprint"] == sha1Hex(""))
            << each;
}

// A failing C_FindObjects ends the search after one call, also when it writes
// a count other than 0: the handle it never wrote is not collected.
TEST_F(HostileModule, FailingSearchEndsAfterOneCall)
{
    for (const Json& search : { Json::object(), Json { { "countOnFailure", 1 } } }) {
        script({ patched(slot(1, "0A"), { { "/objects", Json::array({ certificate(10, "3000") }) } }) },
            { { "rv", { { "C_FindObjects", "0x30" } } }, { "findObjects", search } });
        EXPECT_EQ(run("certificates"), successDocument(Json::array()));
        const Lines calls = machine_.calls();
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                      [](const std::string& call) { return call.rfind(gd + "C_FindObjects ", 0) == 0; }),
            1);
    }
}

// Fixed-width fields filled to the last byte, without any terminator.
TEST_F(HostileModule, FieldsWithoutTerminators)
{
    script({ patched(slot(1, "FFFFFFFFFFFFFFFF", std::string(32, '\x7f')),
        { { "/slotDescription", { { "hex", std::string(128, 'f').replace(0, 2, "41") } } } }) });
    const std::string listing = run("tokens");
    const Json document = Json::parse(listing, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << listing;
    // 0xFF bytes are no UTF-8: whatever the answer, it is one envelope.
    EXPECT_EQ(document.size(), 1u);
}

// A module without C_GetTokenInfo has no readable serial, so no usable slot;
// the missing function is never called. One without C_Login lists without
// login, and fails the operations that log in with the missing name.
TEST_F(HostileModule, MissingFunctionsAreNeverCalled)
{
    machine_.install(kGdPath, "p11mock_partial");
    script({ patched(
        slot(1, "0A1B"), { { "/objects", { certificate(10, "3000"), object(11, kPrivateKey, "01", "key") } } }) });
    EXPECT_EQ(run("tokens"), successDocument(Json::array()));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(gd, 1),
            { gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x0", gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x0" },
            finalizing(gd) }));

    machine_.install(kGdPath, "p11mock_nologin");
    EXPECT_EQ(
        run("certificates"), successDocument({ certificateRecord("GD", "0A1B", sha1Hex(std::string("\x30\x00", 2))) }));
    EXPECT_EQ(run("objects", { "0A1B", "1234" }), errorDocument("Funcao PKCS#11 ausente no modulo: C_Login"));
    EXPECT_EQ(machine_.calls(),
        joined(
            { loading(gd, 1), tokenReads(gd, "1"), tokenReads(gd, "1"), { opening(gd, "1", "0x6") }, finalizing(gd) }));
}

// A module that finds one more object forever: the request's call budget
// ends each command that searches, with its message. (No call log: it would
// hold a million lines.)
TEST_F(HostileModule, EndlessSearchesRunOutOfTheCallBudget)
{
    script({ patched(slot(1, "0A1B"), { { "/objects", Json::array({ certificate(10, "3082") }) } }) },
        { { "findObjects", { { "endless", true } } } });
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
