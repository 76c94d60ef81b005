// The module table and the token lookup, on SoftHSM2.
#include "SoftHsmTest.h"

#include <algorithm>

namespace {

using nlohmann::json;

std::vector<std::string> field(const json& records, const char* key)
{
    std::vector<std::string> values;
    for (const json& record : records)
        values.push_back(record.at(key).get<std::string>());
    return values;
}

// Every kind of module file the table can meet, on one machine: only the
// exact type codes select a module, "ND" lists the tokens and certificates of
// the usable ones in table order, each with its module's own code, and a
// token is found by its own module's code and its exact serial. Each usable
// module is a file of its own: one library loaded under two codes would share
// its state.
TEST_F(SoftHsmTest, ModuleTableAndTokenLookup)
{
    machine_.installSoftHsmAsGd();
    // Slots without an initialized token are not listed.
    EXPECT_EQ(success({ "pkcs11", "list", "tokens", "GD" }), json::array());
    EXPECT_EQ(success({ "pkcs11", "list", "certificates", "GD" }), json::array());

    const std::string serial = machine_.initToken("Shared", "123456");
    const std::string certificate = machine_.makeCertificate("shared");
    machine_.writeCertificate("Shared", "123456", certificate, "01", "shared");
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
    EXPECT_EQ(field(success({ "pkcs11", "list", "tokens", "TR" }), "serial"), std::vector<std::string> { serial });
    for (const char* type : { "ET", "AT", "OB", "DX", "gd" })
        EXPECT_EQ(success({ "pkcs11", "list", "tokens", type }), json::array()) << "type [" << type << "]";

    json expected = json::array();
    for (const char* type : { "GD", "TR", "EP" })
        expected.push_back(
            { { "type", type }, { "serial", serial }, { "thumbprint", SoftHsmMachine::fingerprint(certificate) } });
    EXPECT_EQ(success({ "pkcs11", "list", "certificates", "ND" }), expected);
    EXPECT_EQ(success({ "pkcs11", "list", "certificates", "EP" }), json::array({ expected[2] }));

    EXPECT_EQ(success({ "pkcs11", "list", "objects", "GD", serial, "123456" }), json::array());
    std::string upper = serial;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    ASSERT_NE(upper, serial);
    for (const std::vector<std::string>& lookup : std::vector<std::vector<std::string>> { { "GD", upper },
             { "GD", serial + " " }, { "GD", "" }, { "GD", serial.substr(1) }, { "ND", serial }, { "gd", serial } })
        EXPECT_EQ(
            error({ "pkcs11", "list", "objects", lookup[0], lookup[1], "123456" }), "Token Type ou Serial invalido")
            << lookup[0] << " " << lookup[1];
}

} // namespace
