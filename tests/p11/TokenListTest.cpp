// pkcs11 list tokens, the module table and the token lookup, on SoftHSM2.
#include "SoftHsmTest.h"

namespace {

using nlohmann::json;

std::vector<std::string> field(const json& records, const char* key)
{
    std::vector<std::string> values;
    for (const json& record : records)
        values.push_back(record.at(key).get<std::string>());
    return values;
}

TEST_F(SoftHsmTest, TokensShowWhatTheModuleReports)
{
    machine_.initToken("Alpha token", "123456");
    machine_.initToken("Beta", "654321");
    machine_.installSoftHsmAsGd();

    const std::vector<ShownToken> shown = machine_.shownTokens();
    ASSERT_EQ(shown.size(), 2u);
    const json tokens = success({ "pkcs11", "list", "tokens", "GD" });
    ASSERT_TRUE(tokens.is_array());
    ASSERT_EQ(tokens.size(), shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(shown[i].label);
        const json& token = tokens[i];
        EXPECT_EQ(token.size(), 9u);
        EXPECT_EQ(token["type"], "GD");
        EXPECT_EQ(token["slotId"], shown[i].slotId);
        EXPECT_EQ(token["slotDescription"], shown[i].slotDescription);
        EXPECT_EQ(token["manufacturerId"], shown[i].slotManufacturer);
        EXPECT_EQ(token["tokenLabel"], shown[i].label);
        EXPECT_EQ(token["tokenModel"], "SoftHSM v2");
        EXPECT_EQ(token["tokenModel"], shown[i].model);
        EXPECT_EQ(token["serial"], shown[i].serial);
        // SoftHSM2 does not tell its free memory: CK_UNAVAILABLE_INFORMATION,
        // printed as the 32-bit value whatever the width of CK_ULONG.
        EXPECT_EQ(token["freePublicMemory"], 4294967295u);
        EXPECT_EQ(token["freePrivateMemory"], 4294967295u);
    }
}

TEST_F(SoftHsmTest, SlotsWithoutAnInitializedTokenAreNotListed)
{
    machine_.installSoftHsmAsGd();
    EXPECT_EQ(success({ "pkcs11", "list", "tokens", "GD" }), json::array());
    EXPECT_EQ(success({ "pkcs11", "list", "certificates", "GD" }), json::array());
}

TEST_F(SoftHsmTest, OnlyTheExactTypeCodesSelectModules)
{
    const std::string serial = machine_.initToken("Alpha", "123456");
    machine_.installSoftHsmAsGd();

    EXPECT_EQ(field(success({ "pkcs11", "list", "tokens", "GD" }), "serial"), std::vector<std::string> { serial });
    EXPECT_EQ(field(success({ "pkcs11", "list", "tokens", "ND" }), "type"), std::vector<std::string> { "GD" });
    for (const char* type : { "gd", "", "XX", "GD ", "nd", "ET" })
        EXPECT_EQ(success({ "pkcs11", "list", "tokens", type }), json::array()) << "type [" << type << "]";
}

// Every kind of module file the table can meet, on one machine; "ND" lists
// the tokens of the usable ones in table order. Each usable module is a file
// of its own: one library loaded under two codes would share its state.
TEST_F(SoftHsmTest, AllModulesListTheUsableOnesInTableOrder)
{
    const std::string serial = machine_.initToken("Shared", "123456");
    machine_.installSoftHsmAsGd();
    // Loads, but exports no C_ function.
    machine_.link(R"(C:\Windows\System32\eTPKCS11.dll)", "/lib/x86_64-linux-gnu/libz.so.1");
    // Exists, but is no library.
    machine_.writeText(R"(C:\Windows\System32\asepkcs.dll)", "not a library");
    machine_.makeDirectory(R"(C:\Program Files\Oberthur Technologies\AWP\DLLs\OcsCryptolib_P11.dll)");
    // Only at the 32-bit location.
    machine_.copy(R"(C:\Program Files (x86)\CSP Trevanol Multiplo\PKCS11.dll)", kSoftHsmModule);
    // The native location wins over the 32-bit one...
    machine_.copy(R"(C:\Windows\System32\eps2003csp11.dll)", kSoftHsmModule);
    machine_.writeText(R"(C:\Windows\SysWOW64\eps2003csp11.dll)", "not a library");
    // ...even when it does not load.
    machine_.writeText(R"(C:\Windows\System32\DXSafePKCS11.dll)", "not a library");
    machine_.copy(R"(C:\Windows\SysWOW64\DXSafePKCS11.dll)", kSoftHsmModule);

    const json tokens = success({ "pkcs11", "list", "tokens", "ND" });
    EXPECT_EQ(field(tokens, "type"), (std::vector<std::string> { "GD", "TR", "EP" }));
    EXPECT_EQ(field(tokens, "serial"), (std::vector<std::string> { serial, serial, serial }));
    for (const char* type : { "ET", "AT", "OB", "DX" })
        EXPECT_EQ(success({ "pkcs11", "list", "tokens", type }), json::array()) << type;
    EXPECT_EQ(field(success({ "pkcs11", "list", "tokens", "TR" }), "serial"), std::vector<std::string> { serial });
}

TEST_F(SoftHsmTest, TokenLookupNeedsTheTokensOwnTypeAndExactSerial)
{
    const std::string serial = machine_.initToken("Alpha", "123456");
    machine_.installSoftHsmAsGd();
    std::string upper = serial;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_NE(upper, serial);

    EXPECT_EQ(success({ "pkcs11", "list", "objects", "GD", serial, "123456" }), json::array());
    for (const std::vector<std::string>& lookup : std::vector<std::vector<std::string>> { { "GD", upper },
             { "GD", serial + " " }, { "GD", "" }, { "GD", serial.substr(1) }, { "ND", serial }, { "gd", serial } })
        EXPECT_EQ(
            error({ "pkcs11", "list", "objects", lookup[0], lookup[1], "123456" }), "Token Type ou Serial invalido")
            << lookup[0] << " " << lookup[1];
}

// A failure at the top layer leaves the loaded module unfinalized; the
// process still ends quietly with its envelope.
TEST_F(SoftHsmTest, MissingParameterAfterLoadingStillAnswers)
{
    const std::string serial = machine_.initToken("Alpha", "123456");
    machine_.installSoftHsmAsGd();
    EXPECT_EQ(error({ "pkcs11", "list", "objects", "GD", serial }), "Erro desconhecido.");
    EXPECT_EQ(error({ "pkcs11", "list", "objects", "GD" }), "Erro desconhecido.");
    EXPECT_EQ(error({ "pkcs11", "lists", "objects", "GD" }), "Tipo de sub-comando nao encontrado");
}

}  // namespace
