// Module loading, usable slots and `pkcs11 list tokens`, seen from both ends:
// the envelope the caller reads and the calls the token module receives.
#include <gtest/gtest.h>

#include <iterator>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

class TokenList : public ::testing::Test {
protected:
    TokenMachine machine_;

    std::string listTokens(const std::string& type = "GD")
    {
        return machine_.run({ "pkcs11", "list", "tokens", type });
    }
};

// One slot per row and the record listed for it, or none: only a slot with a
// hexadecimal serial is usable. Fields are fixed-width bytes: nothing past a
// field is read, a zero byte ends the text, and blanks around it go; slot IDs
// and memory values print as unsigned 32-bit numbers.
TEST_F(TokenList, EverySlotIsReadOnceToJudgeItAndAgainWhenListed)
{
    struct Row {
        Json slot, listed;
    };
    const std::string L(32, 'L'), D(64, 'D'), M(32, 'M'), O(16, 'O');
    const Row rows[] = {
        { patched(slot(1, "0A1B2C3D", "My Token"),
              { { "/token/ulFreePublicMemory", 32000 }, { "/token/ulFreePrivateMemory", 16000 } }),
            patched(tokenRecord("GD", "1", "0A1B2C3D", "My Token"),
                { { "/freePublicMemory", 32000 }, { "/freePrivateMemory", 16000 } }) },
        { slot(2, "                "), nullptr },
        { slot(3, "ABC-123"), nullptr },
        { slot(4, "  0A1B2C3D      "), tokenRecord("GD", "4", "0A1B2C3D") },
        { slot(5, ""), nullptr },
        { slot(6, "0A1B 2C3D"), nullptr },
        { slot(12, "0x12"), nullptr },
        { slot(13, "g0\xc3\xa9"), nullptr },
        { slot(7, "0A1B\t"), tokenRecord("GD", "7", "0A1B") },
        { slot(8, "0012ab"), tokenRecord("GD", "8", "0012ab") },
        { patched(slot(4294967295ULL, "01"),
              { { "/token/ulFreePublicMemory", "unavailable" }, { "/token/ulFreePrivateMemory", "unavailable" } }),
            patched(tokenRecord("GD", "4294967295", "01"),
                { { "/freePublicMemory", 4294967295ULL }, { "/freePrivateMemory", 4294967295ULL } }) },
        { patched(slot(0, "02"),
              { { "/token/ulFreePublicMemory", 4294967294ULL }, { "/token/ulFreePrivateMemory", "infinite" } }),
            patched(tokenRecord("GD", "0", "02"), { { "/freePublicMemory", 4294967294ULL } }) },
        { patched(slot(10, "0123456789ABCDEF", L),
              { { "/slotDescription", D }, { "/manufacturerID", M }, { "/token/model", O },
                  { "/token/manufacturerID", std::string(32, 'X') } }),
            patched(tokenRecord("GD", "10", "0123456789ABCDEF", L),
                { { "/slotDescription", D }, { "/manufacturerId", M }, { "/tokenModel", O } }) },
        { patched(slot(11, { { "hex", "3041" }, { "fill", "00" } }, { { "hex", "4d7900546f6b656e" } }),
              { { "/slotDescription", "\t Reader \r\n" },
                  { "/manufacturerID", { { "hex", "4d616b65720000000000000000000000585858" } } },
                  { "/token/model", { { "hex", "c3a96c6f" } } } }),
            patched(tokenRecord("GD", "11", "0A", "My"), { { "/tokenModel", "\xc3\xa9lo" } }) },
    };
    machine_.install(kGdPath);
    Json script = { { "slots", Json::array() } };
    Json listed = Json::array();
    Lines judged, read;
    for (const auto& row : rows) {
        script["slots"].push_back(row.slot);
        const std::string id = std::to_string(row.slot["id"].get<unsigned long long>());
        judged = joined({ judged, tokenReads(gd, id) });
        if (!row.listed.is_null()) {
            listed.push_back(row.listed);
            read = joined({ read, tokenReads(gd, id) });
        }
    }
    machine_.script(script);

    EXPECT_EQ(listTokens(), successDocument(listed));
    EXPECT_EQ(machine_.calls(), joined({ loading(gd, std::size(rows)), judged, read, finalizing(gd) }));
}

// A failing read puts its error text into the field; the other fields are
// still read, and the memory values fall back to 0. A failed serial read
// makes the slot unusable.
TEST_F(TokenList, FailedReadsBecomeFieldTexts)
{
    machine_.install(kGdPath);
    Json script = { { "slots",
        { patched(slot(1, "0A1B"), { { "/token/ulFreePublicMemory", 7 }, { "/token/ulFreePrivateMemory", 9 } }),
            slot(2, "0B"), slot(3, "0C") } } };
    // Calls 1 to 15 of C_GetTokenInfo judge the three slots (the serial is
    // the third read: call 13 is slot 3's); the next ones build the records.
    script["rv"] = { { "C_GetSlotInfo", { { "1", "0x3" }, { "2", "0x3" }, { "7", "0x3" }, { "8", "0x3" } } },
        { "C_GetTokenInfo", { { "13", 5 }, { "16", "0x30" }, { "17", 5 }, { "19", "0xE0" } } } };
    machine_.script(script);

    const Json failed = patched(tokenRecord("GD", "1", "0A1B"),
        { { "/manufacturerId", "[ERROR] P11Store.getManufacturerId - C_GetSlotInfo, rv: 3" },
            { "/slotDescription", "[ERROR] P11Store.description - C_GetSlotInfo, rv: 3" },
            { "/tokenLabel", "[ERROR] P11Store.label - C_GetTokenInfo, rv: 48" },
            { "/tokenModel", "[ERROR] P11Store.model - C_GetTokenInfo, rv: 5" }, { "/freePrivateMemory", 9 } });
    EXPECT_EQ(listTokens(), successDocument({ failed, tokenRecord("GD", "2", "0B") }));

    const Lines calls = machine_.calls();
    ASSERT_EQ(calls.size(), 3 + 7 * 5 + 1u);
    EXPECT_EQ(calls[3], gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x3");
    EXPECT_EQ(calls[21], gd + "C_GetTokenInfo slot=3 pInfo=set -> 0x5");
    EXPECT_EQ(calls[24], gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x3");
    EXPECT_EQ(calls[25], gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x3");
    EXPECT_EQ(calls[26], gd + "C_GetTokenInfo slot=1 pInfo=set -> 0x30");
    EXPECT_EQ(calls[27], gd + "C_GetTokenInfo slot=1 pInfo=set -> 0x5");
    EXPECT_EQ(calls[29], gd + "C_GetTokenInfo slot=1 pInfo=set -> 0xe0");
}

// A module that refuses C_Initialize is unloaded at once (its C_Finalize
// comes right after) and is not called again, not even at the end; one that
// refuses its slot list has no slots. Type codes outside the table load
// nothing.
TEST_F(TokenList, RefusedLoadingAndUnknownTypesListNothing)
{
    machine_.install(kGdPath);
    const std::string initialize = gd + "C_Initialize pInitArgs=NULL -> 0x";
    const struct {
        Json rv;
        Lines calls;
    } refusals[] = {
        { { { "C_Initialize", "0x5" } }, { initialize + "5", finalizing(gd).front() } },
        { { { "C_GetSlotList", { { "1", "0x30" } } } },
            { initialize + "0", gd + "C_GetSlotList tokenPresent=1 pSlotList=NULL -> 0x30", finalizing(gd).front() } },
    };
    for (const auto& refusal : refusals) {
        machine_.script(patched(oneSlot(slot(1, "0A1B")), { { "/rv", refusal.rv } }));
        EXPECT_EQ(listTokens(), successDocument(Json::array()));
        EXPECT_EQ(machine_.calls(), refusal.calls);
    }

    machine_.script(oneSlot(slot(1, "0A1B")));
    for (const char* type : { "gd", "", "XX", "GD ", "nd" }) {
        SCOPED_TRACE(type);
        EXPECT_EQ(listTokens(type), successDocument(Json::array()));
        EXPECT_EQ(machine_.calls(), Lines {});
    }
}

TEST_F(TokenList, NativeLocationIsPreferred)
{
    // The 32-bit copy has no C_GetTokenInfo: its slots are never usable.
    machine_.install(kGdPath32, "p11mock_partial");
    machine_.script(oneSlot(slot(1, "0A1B")));
    EXPECT_EQ(listTokens(), successDocument(Json::array()));
    EXPECT_FALSE(machine_.calls().empty());

    machine_.install(kGdPath);
    EXPECT_EQ(listTokens(), successDocument({ tokenRecord("GD", "1", "0A1B") }));

    machine_.install(kTrPath32, "p11mock_partial");
    machine_.install(kTrPath);
    machine_.script({ { "modules", { { "PKCS11.dll", oneSlot(slot(2, "0C")) } } } });
    EXPECT_EQ(listTokens("TR"), successDocument({ tokenRecord("TR", "2", "0C") }));
}

// "ND" loads every installed module in table order; each record carries its
// own module's code. Commands that name a token need the token's own code.
TEST_F(TokenList, AllModulesInTableOrder)
{
    machine_.install(kDxPath);
    machine_.install(kEtPath);
    machine_.script({ { "modules",
        { { "eTPKCS11.dll", { { "slots", { slot(5, "0E"), slot(6, "0F") } } } },
            { "DXSafePKCS11.dll", oneSlot(slot(5, "0D")) } } } });

    EXPECT_EQ(listTokens("ND"),
        successDocument({ tokenRecord("ET", "5", "0E"), tokenRecord("ET", "6", "0F"), tokenRecord("DX", "5", "0D") }));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(et, 2), tokenReads(et, "5"), tokenReads(et, "6"), loading(dx, 1), tokenReads(dx, "5"),
            tokenReads(et, "5"), tokenReads(et, "6"), tokenReads(dx, "5"), finalizing(et), finalizing(dx) }));

    EXPECT_EQ(listTokens("DX"), successDocument({ tokenRecord("DX", "5", "0D") }));
    EXPECT_EQ(machine_.calls(), joined({ loading(dx, 1), tokenReads(dx, "5"), tokenReads(dx, "5"), finalizing(dx) }));

    const std::pair<const char*, const char*> foreign[] = { { "ND", "0E" }, { "ET", "0e" }, { "DX", "0E" } };
    for (const auto& [type, serial] : foreign)
        EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", type, serial, "1234" }),
            errorDocument("Token Type ou Serial invalido"));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "ET", "0E", "1234" }), successDocument(Json::array()));
}

// Every request that stays in the token branch finalizes its modules last;
// a missing argument leaves through the top layer without finalizing.
TEST_F(TokenList, FinalizeEndsEveryTokenRequest)
{
    machine_.install(kGdPath);
    machine_.script(oneSlot(slot(1, "0A1B")));
    const Lines loaded = joined({ loading(gd, 1), tokenReads(gd, "1") });
    const struct {
        std::vector<std::string> args;
        std::string answer;
        Lines calls;
    } requests[] = {
        { { "pkcs11", "list", "nothing", "GD" }, errorDocument("Comando nao encontrado"),
            joined({ loaded, finalizing(gd) }) },
        { { "pkcs11", "nothing", "tokens", "GD" }, errorDocument("Tipo de sub-comando nao encontrado"),
            joined({ loaded, finalizing(gd) }) },
        { { "pkcs11", "list", "objects", "GD", "FFFF", "1234" }, errorDocument("Token Type ou Serial invalido"),
            joined({ loaded, tokenReads(gd, "1"), finalizing(gd) }) },
        { { "pkcs11", "list", "objects", "GD", "0A1B" }, errorDocument("Erro desconhecido."), loaded },
    };
    for (const auto& request : requests) {
        EXPECT_EQ(machine_.run(request.args), request.answer);
        EXPECT_EQ(machine_.calls(), request.calls);
    }
}

} // namespace
