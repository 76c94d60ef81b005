// Module loading, usable slots and `pkcs11 list tokens`, seen from both ends:
// the envelope the caller reads and the calls the token module receives.
#include <gtest/gtest.h>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

Json token(
    const std::string& type, const std::string& slotId, const std::string& serial, const std::string& label = "Token")
{
    return { { "type", type }, { "slotId", slotId }, { "manufacturerId", "Maker" }, { "slotDescription", "Reader" },
        { "tokenLabel", label }, { "tokenModel", "Model" }, { "serial", serial }, { "freePublicMemory", 0 },
        { "freePrivateMemory", 0 } };
}

class TokenList : public ::testing::Test {
protected:
    TokenMachine machine_;
};

TEST_F(TokenList, ReadsSevenFieldsPerSlotAtConstructionAndAgainForTheListing)
{
    machine_.install(kGdPath);
    Json script = oneSlot(slot(1, "0A1B2C3D", "My Token"));
    script["slots"][0]["token"]["ulFreePublicMemory"] = 32000;
    script["slots"][0]["token"]["ulFreePrivateMemory"] = 16000;
    machine_.script(script);

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }),
        "{\n"
        "    \"success\": [\n"
        "        {\n"
        "            \"freePrivateMemory\": 16000,\n"
        "            \"freePublicMemory\": 32000,\n"
        "            \"manufacturerId\": \"Maker\",\n"
        "            \"serial\": \"0A1B2C3D\",\n"
        "            \"slotDescription\": \"Reader\",\n"
        "            \"slotId\": \"1\",\n"
        "            \"tokenLabel\": \"My Token\",\n"
        "            \"tokenModel\": \"Model\",\n"
        "            \"type\": \"GD\"\n"
        "        }\n"
        "    ]\n"
        "}");
    EXPECT_EQ(machine_.calls(), joined({ loading(gd, 1), tokenReads(gd, "1"), tokenReads(gd, "1"), finalizing(gd) }));
}

TEST_F(TokenList, OnlySlotsWithAHexadecimalSerialAreUsable)
{
    machine_.install(kGdPath);
    machine_.script({ { "slots",
        { slot(1, "                "), slot(2, "ABC-123"), slot(3, "0012ab"), slot(4, "  0A1B2C3D      "), slot(5, ""),
            slot(6, "0A1B 2C3D"), slot(7, "0A1B\t") } } });

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }),
        successDocument({ token("GD", "3", "0012ab"), token("GD", "4", "0A1B2C3D"), token("GD", "7", "0A1B") }));
    // Every slot is read once to judge it; only the usable ones again.
    Lines expected = loading(gd, 7);
    for (const char* id : { "1", "2", "3", "4", "5", "6", "7" })
        expected = joined({ expected, tokenReads(gd, id) });
    expected = joined({ expected, tokenReads(gd, "3"), tokenReads(gd, "4"), tokenReads(gd, "7"), finalizing(gd) });
    EXPECT_EQ(machine_.calls(), expected);
}

// Fields are fixed-width bytes: nothing past a field is read, a zero byte
// ends the text, and blanks around it go.
TEST_F(TokenList, FixedWidthFieldsAreReadToTheirWidthOnly)
{
    machine_.install(kGdPath);
    Json full = slot(0, "0123456789ABCDEF", std::string(32, 'L'));
    full["slotDescription"] = std::string(64, 'D');
    full["manufacturerID"] = std::string(32, 'M');
    full["token"]["model"] = std::string(16, 'O');
    full["token"]["manufacturerID"] = std::string(32, 'X');
    Json odd = slot(1, { { "hex", "3041" }, { "fill", "00" } }, { { "hex", "4d7900546f6b656e" } });
    odd["slotDescription"] = "\t Reader \r\n";
    odd["manufacturerID"] = { { "hex", "4d616b65720000000000000000000000585858" } };
    odd["token"]["model"] = { { "hex", "c3a96c6f" } };
    machine_.script({ { "slots", { full, odd } } });

    Json first = token("GD", "0", "0123456789ABCDEF", std::string(32, 'L'));
    first["slotDescription"] = std::string(64, 'D');
    first["manufacturerId"] = std::string(32, 'M');
    first["tokenModel"] = std::string(16, 'O');
    Json second = token("GD", "1", "0A", "My");
    second["tokenModel"] = "\xc3\xa9lo";
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument({ first, second }));
}

TEST_F(TokenList, ExtremeSlotIdsAndMemoryValuesPrintAsUnsigned32BitNumbers)
{
    machine_.install(kGdPath);
    Json last = slot(4294967295ULL, "01");
    last["token"]["ulFreePublicMemory"] = "unavailable";
    last["token"]["ulFreePrivateMemory"] = "unavailable";
    Json first = slot(0, "02");
    first["token"]["ulFreePublicMemory"] = 4294967294ULL;
    first["token"]["ulFreePrivateMemory"] = "infinite";
    machine_.script({ { "slots", { last, first } } });

    Json expectedLast = token("GD", "4294967295", "01");
    expectedLast["freePublicMemory"] = 4294967295ULL;
    expectedLast["freePrivateMemory"] = 4294967295ULL;
    Json expectedFirst = token("GD", "0", "02");
    expectedFirst["freePublicMemory"] = 4294967294ULL;
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument({ expectedLast, expectedFirst }));
    EXPECT_EQ(machine_.calls().at(3), gd + "C_GetSlotInfo slot=4294967295 pInfo=set -> 0x0");
}

// A failing read puts its error text into the field; the other fields are
// still read, and the memory values fall back to 0.
TEST_F(TokenList, FailedReadsBecomeFieldTexts)
{
    machine_.install(kGdPath);
    Json script = oneSlot(slot(1, "0A1B"));
    script["slots"][0]["token"]["ulFreePublicMemory"] = 7;
    script["slots"][0]["token"]["ulFreePrivateMemory"] = 9;
    // Calls 1 to 5 judge the slot; 6 to 10 build the listed record.
    script["rv"]
        = { { "C_GetSlotInfo", "0x3" }, { "C_GetTokenInfo", { { "6", "0x30" }, { "7", 5 }, { "9", "0xE0" } } } };
    machine_.script(script);

    Json expected = token("GD", "1", "0A1B");
    expected["manufacturerId"] = "[ERROR] P11Store.getManufacturerId - C_GetSlotInfo, rv: 3";
    expected["slotDescription"] = "[ERROR] P11Store.description - C_GetSlotInfo, rv: 3";
    expected["tokenLabel"] = "[ERROR] P11Store.label - C_GetTokenInfo, rv: 48";
    expected["tokenModel"] = "[ERROR] P11Store.model - C_GetTokenInfo, rv: 5";
    expected["freePublicMemory"] = 0;
    expected["freePrivateMemory"] = 9;
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument({ expected }));

    const Lines calls = machine_.calls();
    ASSERT_EQ(calls.size(), 18u);
    EXPECT_EQ(calls[10], gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x3");
    EXPECT_EQ(calls[11], gd + "C_GetSlotInfo slot=1 pInfo=set -> 0x3");
    EXPECT_EQ(calls[12], gd + "C_GetTokenInfo slot=1 pInfo=set -> 0x30");
    EXPECT_EQ(calls[13], gd + "C_GetTokenInfo slot=1 pInfo=set -> 0x5");
    EXPECT_EQ(calls[15], gd + "C_GetTokenInfo slot=1 pInfo=set -> 0xe0");
}

TEST_F(TokenList, AFailedSerialReadMakesTheSlotUnusable)
{
    machine_.install(kGdPath);
    Json script = { { "slots", { slot(1, "0A"), slot(2, "0B") } } };
    script["rv"] = { { "C_GetTokenInfo", { { "3", 5 } } } }; // the serial of slot 1
    machine_.script(script);

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument({ token("GD", "2", "0B") }));
}

// A module that refuses C_Initialize is unloaded at once (its C_Finalize
// comes right after) and is not called again, not even at the end.
TEST_F(TokenList, RefusedInitializeEndsTheModulesCalls)
{
    machine_.install(kGdPath);
    Json script = oneSlot(slot(1, "0A1B"));
    script["rv"] = { { "C_Initialize", "0x5" } };
    machine_.script(script);

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument(Json::array()));
    EXPECT_EQ(machine_.calls(),
        Lines({ gd + "C_Initialize pInitArgs=NULL -> 0x5", gd + "C_Finalize pReserved=NULL -> 0x0" }));
}

TEST_F(TokenList, RefusedSlotListLeavesTheModuleWithoutSlots)
{
    machine_.install(kGdPath);
    Json script = oneSlot(slot(1, "0A1B"));
    script["rv"] = { { "C_GetSlotList", { { "1", "0x30" } } } };
    machine_.script(script);

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument(Json::array()));
    EXPECT_EQ(machine_.calls(),
        Lines({ gd + "C_Initialize pInitArgs=NULL -> 0x0", gd + "C_GetSlotList tokenPresent=1 pSlotList=NULL -> 0x30",
            gd + "C_Finalize pReserved=NULL -> 0x0" }));
}

TEST_F(TokenList, TypeCodesOutsideTheTableLoadNothing)
{
    machine_.install(kGdPath);
    machine_.script(oneSlot(slot(1, "0A1B")));
    for (const char* type : { "gd", "", "XX", "GD ", "nd" }) {
        SCOPED_TRACE(type);
        EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", type }), successDocument(Json::array()));
        EXPECT_EQ(machine_.calls(), Lines {});
    }
}

TEST_F(TokenList, NativeLocationIsPreferred)
{
    // The 32-bit copy has no C_GetTokenInfo: its slots are never usable.
    machine_.install(kGdPath32, "p11mock_partial");
    machine_.script(oneSlot(slot(1, "0A1B")));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument(Json::array()));
    EXPECT_FALSE(machine_.calls().empty());

    machine_.install(kGdPath);
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument({ token("GD", "1", "0A1B") }));

    machine_.install(kTrPath32, "p11mock_partial");
    machine_.install(kTrPath);
    machine_.script({ { "modules", { { "PKCS11.dll", oneSlot(slot(2, "0C")) } } } });
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "TR" }), successDocument({ token("TR", "2", "0C") }));
}

// "ND" loads every installed module in table order; each record carries its
// own module's code.
TEST_F(TokenList, AllModulesInTableOrder)
{
    machine_.install(kDxPath);
    machine_.install(kEtPath);
    machine_.script({ { "modules",
        { { "eTPKCS11.dll", { { "slots", { slot(5, "0E"), slot(6, "0F") } } } },
            { "DXSafePKCS11.dll", oneSlot(slot(5, "0D")) } } } });

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "ND" }),
        successDocument({ token("ET", "5", "0E"), token("ET", "6", "0F"), token("DX", "5", "0D") }));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(et, 2), tokenReads(et, "5"), tokenReads(et, "6"), loading(dx, 1), tokenReads(dx, "5"),
            tokenReads(et, "5"), tokenReads(et, "6"), tokenReads(dx, "5"), finalizing(et), finalizing(dx) }));

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "DX" }), successDocument({ token("DX", "5", "0D") }));
    EXPECT_EQ(machine_.calls(), joined({ loading(dx, 1), tokenReads(dx, "5"), tokenReads(dx, "5"), finalizing(dx) }));
}

// Every request that stays in the token branch finalizes its modules last;
// a missing argument leaves through the top layer without finalizing.
TEST_F(TokenList, FinalizeEndsEveryTokenRequest)
{
    machine_.install(kGdPath);
    machine_.script(oneSlot(slot(1, "0A1B")));
    const Lines loaded = joined({ loading(gd, 1), tokenReads(gd, "1") });

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "nothing", "GD" }), errorDocument("Comando nao encontrado"));
    EXPECT_EQ(machine_.calls(), joined({ loaded, finalizing(gd) }));

    EXPECT_EQ(
        machine_.run({ "pkcs11", "nothing", "tokens", "GD" }), errorDocument("Tipo de sub-comando nao encontrado"));
    EXPECT_EQ(machine_.calls(), joined({ loaded, finalizing(gd) }));

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "GD", "FFFF", "1234" }),
        errorDocument("Token Type ou Serial invalido"));
    EXPECT_EQ(machine_.calls(), joined({ loaded, tokenReads(gd, "1"), finalizing(gd) }));

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "GD", "0A1B" }), errorDocument("Erro desconhecido."));
    EXPECT_EQ(machine_.calls(), loaded);
}

// Commands that name a token need the token's own type code.
TEST_F(TokenList, TokenLookupNeedsTheModulesOwnCode)
{
    machine_.install(kEtPath);
    machine_.script({ { "modules", { { "eTPKCS11.dll", oneSlot(slot(1, "0A1B")) } } } });
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "ND", "0A1B", "1234" }),
        errorDocument("Token Type ou Serial invalido"));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "ET", "0a1b", "1234" }),
        errorDocument("Token Type ou Serial invalido"));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "ET", "0A1B", "1234" }), successDocument(Json::array()));
}

} // namespace
