// Modules that lie about lengths and counts, or lack functions: sigbrid
// reads no byte past a buffer it owns (the sanitizer build runs these too),
// never loops without end, and still answers one envelope.
#include "TokenMachine.h"

namespace {

using HostileModule = TokenCalls;

// The slot count changes between the two C_GetSlotList calls, or is absurd:
// never more slots than the buffer that was handed over.
TEST_F(HostileModule, SlotCountsThatChangeOrMakeNoSense)
{
    const Json two = { slot(1, "01"), slot(2, "02") };
    const Json bothListed = { tokenRecord("1", "01"), tokenRecord("2", "02") };
    const struct {
        Json slots, slotList, listed;
    } lies[] = {
        { { slot(1, "01"), slot(2, "02"), slot(3, "03") }, { { "firstCount", 1 } },
            Json::array({ tokenRecord("1", "01") }) },
        { two, { { "secondCount", 100000 } }, bothListed },
        { two, { { "firstCount", 0 }, { "secondCount", 2 } }, Json::array() },
        { two, { { "firstCount", "unavailable" } }, bothListed },
    };
    for (const auto& lie : lies) {
        machine_.script({ { "slots", lie.slots }, { "slotList", lie.slotList } });
        EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument(lie.listed)) << lie.slotList;
    }
}

// Attribute lengths larger than the buffer, or CK_UNAVAILABLE_INFORMATION:
// only the bytes that fit in the buffer are taken, and the listings go on
// past the values they could not read whole.
TEST_F(HostileModule, AttributeLengthsBeyondTheBuffer)
{
    const Json longer = patched(object(11, kPrivateKey, "01", ""),
        { { "/attributes/CKA_LABEL",
            { { "hex", hexOf(std::string("0123456789")) }, { "nullLength", 2 }, { "filledLength", 1000000 } } } });
    const Json unavailable = patched(object(21, kPrivateKey, "02", ""),
        { { "/attributes/CKA_ID", { { "hex", "02" }, { "nullLength", "unavailable" } } },
            { "/attributes/CKA_LABEL",
                { { "hex", hexOf(std::string("label")) }, { "filledLength", "unavailable" } } } });
    const Json shrinking = patched(object(31, kPrivateKey, "03", ""),
        { { "/attributes/CKA_LABEL",
            { { "hex", hexOf(std::string("abcdef")) }, { "nullLength", 100 }, { "filledLength", 3 } } } });
    const std::string value(50, 'v');
    const Json cut = patched(certificate(40, hexOf(value)),
        { { "/attributes/CKA_VALUE/nullLength", 10 }, { "/attributes/CKA_VALUE/filledLength", 50 } });
    const Json unreadable
        = patched(certificate(41, hexOf(value)), { { "/attributes/CKA_VALUE/nullLength", "unavailable" } });
    // Past 64 MiB a length is not believed.
    const Json huge = patched(certificate(43, hexOf(value)), { { "/attributes/CKA_VALUE/nullLength", 67108865 } });
    // The search counts lie too: a count above ulMaxObjectCount, when one
    // handle per call is all there is room for.
    machine_.script(
        oneSlot("0A1B", { longer, unavailable, shrinking, cut, unreadable, huge, certificate(42, hexOf(value)) },
            { { "findObjects", { { "countWhileFound", 5 } } } }));

    // The key without a readable ID is searched by an empty ID, which
    // nothing on this token carries.
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "GD", "0A1B", "1234" }),
        successDocument(
            { objectRecord("AQ==", "01"), objectRecord("", "", false, false), objectRecord("Aw==", "abc") }));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "certificates", "GD" }),
        successDocument(Json::array(
            { certificateRecord("0A1B", sha1Hex(value.substr(0, 10))), certificateRecord("0A1B", sha1Hex("")),
                certificateRecord("0A1B", sha1Hex("")), certificateRecord("0A1B", sha1Hex(value)) })));
}

// A failing C_FindObjects ends the search after one call, also when it writes
// a count other than 0: the handle it never wrote is not collected.
TEST_F(HostileModule, FailingSearchEndsAfterOneCall)
{
    for (const Json& search : { Json::object(), Json { { "countOnFailure", 1 } } }) {
        machine_.script(oneSlot("0A", { certificate(10, "3000") },
            { { "rv", { { "C_FindObjects", "0x30" } } }, { "findObjects", search } }));
        EXPECT_EQ(machine_.run({ "pkcs11", "list", "certificates", "GD" }), successDocument(Json::array()));
        EXPECT_EQ(logged(machine_.calls(), "C_FindObjects "), 1u);
    }
}

// A module without C_GetTokenInfo has no readable serial, so no usable slot;
// the missing function is never called. One without C_Login lists without
// login, and fails the operations that log in with the missing name.
TEST_F(HostileModule, MissingFunctionsAreNeverCalled)
{
    machine_.install(kGdPath, "p11mock_partial");
    machine_.script(oneSlot("0A1B", { certificate(10, "3000"), object(11, kPrivateKey, "01", "key") }));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument(Json::array()));
    const std::string slotInfo = "C_GetSlotInfo slot=1 pInfo=set -> 0x0";
    EXPECT_EQ(machine_.calls(), joined({ loading(1), { slotInfo, slotInfo, kFinalize } }));

    machine_.install(kGdPath, "p11mock_nologin");
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "certificates", "GD" }),
        successDocument(Json::array({ certificateRecord("0A1B", sha1Hex(std::string("\x30\x00", 2))) })));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "GD", "0A1B", "1234" }),
        errorDocument("Funcao PKCS#11 ausente no modulo: C_Login"));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(1), tokenReads("1"), tokenReads("1"), { opening("1", "0x6") }, { kFinalize } }));
}

// A module that finds one more object forever: the request's call budget
// ends each command that searches, with its message. (No call log: it would
// hold a million lines.)
TEST_F(HostileModule, EndlessSearchesRunOutOfTheCallBudget)
{
    machine_.script(oneSlot("0A1B", { certificate(10, "3082") }, { { "findObjects", { { "endless", true } } } }));
    machine_.setEnvironment("P11MOCK_LOG", "");
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
