// pkcs11 list tokens, certificates and objects on SoftHSM2 tokens filled by
// sigbrid's own requests, behind every kind of module file the table can meet.
#include "SoftHsmTest.h"

#include <algorithm>
#include <map>

#include "Encoding.h"
#include "IssuedCertificates.h"

namespace {

using nlohmann::json;

// The tokens as softhsm2-util shows them (its free slot not among them).
// Only the exact type codes select a module; "ND" lists the tokens and
// certificates of the usable ones in table order, each with its module's own
// code, and a token is found by its own module's code and its exact serial.
// Each usable module is a file of its own: one library loaded under two codes
// would share its state. Behind each token's login, one record per private
// key with what shares its id, of which a certificate without a key makes
// none.
TEST_F(SoftHsmTest, ModuleTableTokensAndObjectsBehindTheLogin)
{
    // The module sees exactly a PIN's bytes, whatever they are.
    const std::string oddPin = "s\xC3\xA9nha-\xE2\x82\xAC!";
    const std::string pin = "123456";
    const std::string alpha = machine_.initToken("Alpha token", oddPin);
    const std::string beta = machine_.initToken("Beta", pin);
    // Keys and certificates come through the "AT" module at its 32-bit
    // location; below, neither of its locations holds a library.
    machine_.link(R"(C:\Windows\SysWOW64\asepkcs.dll)", kSoftHsmModule);
    const std::string a = selfSignedCertificate(1, "a"), c = selfSignedCertificate(2, "c");
    machine_.success({ "pkcs11", "repo", "importCertificate", "AT", alpha, "AQ==", "a", oddPin, base64(a) });
    const std::string odd = machine_.success({ "pkcs11", "repo", "createKeyPair", "AT", alpha, "odd", "1024", oddPin });
    const std::string k1 = machine_.success({ "pkcs11", "repo", "createKeyPair", "AT", beta, "k1", "1024", pin });
    machine_.success({ "pkcs11", "repo", "importCertificate", "AT", beta, k1, "k1", pin, base64(c) });
    machine_.link(R"(C:\Windows\System32\aetpkss1.dll)", kSoftHsmModule);
    // Loads, but exports no C_ function.
    machine_.link(R"(C:\Windows\System32\eTPKCS11.dll)", "/lib/x86_64-linux-gnu/libz.so.1");
    // Exists, but is no library, at either location.
    machine_.writeText(R"(C:\Windows\System32\asepkcs.dll)", "not a library");
    machine_.writeText(R"(C:\Windows\SysWOW64\asepkcs.dll)", "not a library");
    machine_.makeDirectory(R"(C:\Program Files\Oberthur Technologies\AWP\DLLs\OcsCryptolib_P11.dll)");
    // Only at the 32-bit location.
    machine_.copy(R"(C:\Program Files (x86)\CSP Trevanol Multiplo\PKCS11.dll)", kSoftHsmModule);
    // The native location wins over the 32-bit one when it loads...
    machine_.copy(R"(C:\Windows\System32\eps2003csp11.dll)", kSoftHsmModule);
    machine_.writeText(R"(C:\Windows\SysWOW64\eps2003csp11.dll)", "not a library");
    // ...and when it does not, the 32-bit one loads.
    machine_.writeText(R"(C:\Windows\System32\DXSafePKCS11.dll)", "not a library");
    machine_.copy(R"(C:\Windows\SysWOW64\DXSafePKCS11.dll)", kSoftHsmModule);

    // SoftHSM2 does not tell its free memory: CK_UNAVAILABLE_INFORMATION,
    // printed as the 32-bit value whatever the width of CK_ULONG.
    json tokens = json::array(), certificates = json::array();
    for (const char* type : { "GD", "TR", "EP", "DX" })
        for (ShownToken shown : machine_.shownTokens()) {
            tokens.push_back(
                { { "type", type }, { "slotId", shown["id"] }, { "slotDescription", shown["slot Description"] },
                    { "manufacturerId", shown["slot Manufacturer ID"] }, { "tokenLabel", shown["token Label"] },
                    { "tokenModel", shown["token Model"] }, { "serial", shown["token Serial number"] },
                    { "freePublicMemory", 4294967295u }, { "freePrivateMemory", 4294967295u } });
            const std::string& certificate = shown["token Serial number"] == alpha ? a : c;
            certificates.push_back({ { "type", type }, { "serial", shown["token Serial number"] },
                { "thumbprint", sha1Hex(certificate) } });
        }
    ASSERT_EQ(tokens.size(), 8u);
    EXPECT_EQ(listed({ "pkcs11", "list", "tokens", "GD" }), json(tokens.begin(), tokens.begin() + 2));
    EXPECT_EQ(listed({ "pkcs11", "list", "tokens", "ND" }), tokens);
    for (const char* type : { "ET", "AT", "OB", "gd" })
        EXPECT_EQ(listed({ "pkcs11", "list", "tokens", type }), json::array()) << "type [" << type << "]";
    EXPECT_EQ(listed({ "pkcs11", "list", "certificates", "ND" }), certificates);
    EXPECT_EQ(listed({ "pkcs11", "list", "certificates", "EP" }),
        json(certificates.begin() + 4, certificates.begin() + 6));

    std::string upper = beta;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    ASSERT_NE(upper, beta);
    for (const std::vector<std::string>& lookup : std::vector<std::vector<std::string>> { { "GD", upper },
             { "GD", beta + " " }, { "GD", "" }, { "GD", beta.substr(1) }, { "ND", beta }, { "gd", beta } })
        EXPECT_EQ(
            machine_.error({ "pkcs11", "list", "objects", lookup[0], lookup[1], pin }), "Token Type ou Serial invalido")
            << lookup[0] << " " << lookup[1];

    // A PIN's first bytes are a wrong PIN (which bytes go, and how each
    // refusal reads, is the call-sequence tests' part).
    EXPECT_EQ(
        machine_.error({ "pkcs11", "list", "objects", "GD", alpha, "s\xC3\xA9nha-" }), "Erro no Login - Pin incorreto");
    // SoftHSM2 counts that wrong PIN: before any PIN is sent again, the
    // token's details say that tries were lost. PIN lengths and key sizes
    // are what OpenSC's pkcs11-tool shows.
    const json details = listed({ "pkcs11", "list", "tokenDetails", "GD" });
    const std::string slots = machine_.tool({ "pkcs11-tool", "--module", kSoftHsmModule, "-L" }).out;
    const std::string offered = machine_.tool({ "pkcs11-tool", "--module", kSoftHsmModule, "-M" }).out;
    ASSERT_EQ(details.size(), 2u);
    for (const json& token : details) {
        EXPECT_EQ(json({ token.at("userPinCountLow"), token.at("userPinFinalTry"), token.at("userPinLocked"),
                      token.at("loginRequired"), token.at("protectedAuthenticationPath") }),
            json({ token["serial"] == alpha, false, false, true, false }));
        EXPECT_NE(slots.find("pin min/max        : " + token.at("minPinLength").dump() + "/"
                      + token.at("maxPinLength").dump()),
            std::string::npos);
        EXPECT_NE(offered.find("RSA-PKCS-KEY-PAIR-GEN, keySize={" + token.at("rsaKeySizes").at("min").dump() + ","
                      + token.at("rsaKeySizes").at("max").dump() + "}"),
            std::string::npos);
        EXPECT_EQ(token.at("signMechanisms"),
            json({ "CKM_RSA_PKCS", "CKM_SHA1_RSA_PKCS", "CKM_SHA256_RSA_PKCS", "CKM_SHA512_RSA_PKCS" }));
    }
    // The refusal leaves the token usable; each token lists its own keys (a
    // key pair and its certificate share a label: which of them names the
    // record is the call-sequence tests' part).
    const auto record = [](const std::string& id, const char* label, bool certificate) {
        return json { { "id", id }, { "label", label }, { "privateKey", true }, { "publicKey", true },
            { "certificate", certificate } };
    };
    EXPECT_EQ(listed({ "pkcs11", "list", "objects", "GD", beta, pin }), json::array({ record(k1, "k1", true) }));
    EXPECT_EQ(listed({ "pkcs11", "list", "objects", "GD", alpha, oddPin }), json::array({ record(odd, "odd", false) }));

    // The same files as `system info modules` sees them; SoftHSM2 says of
    // itself what OpenSC's pkcs11-tool shows ("Library  <description> (ver
    // <version>)") and has a free slot beside its tokens.
    const std::string shown = machine_.tool({ "pkcs11-tool", "--module", kSoftHsmModule, "-I" }).out;
    const auto shownAs = [&](const std::string& key, const std::string& end) {
        const std::size_t at = shown.find(key) + key.size();
        return trim(shown.substr(at, shown.find(end, at) - at));
    };
    const json softHsm = { { "loaded", true }, { "exists", true },
        { "cryptokiVersion", shownAs("Cryptoki version", "\n") }, { "manufacturerId", shownAs("Manufacturer", "\n") },
        { "libraryDescription", shownAs("Library", " (ver") }, { "libraryVersion", shownAs("(ver", ")") },
        { "slots", 3 }, { "slotsWithToken", 3 } };
    const auto module = [](const char* type, const char* path, json members) {
        members.update({ { "type", type }, { "path", path } });
        return members;
    };
    const json refused
        = { { "loaded", false }, { "exists", true }, { "error", "Erro ao inicializar biblioteca LoadLibrary" } };
    json loadedInstead = softHsm;
    loadedInstead["refused"] = { { "path", R"(C:\Windows\System32\DXSafePKCS11.dll)" },
        { "error", "Erro ao inicializar biblioteca LoadLibrary" } };
    json noFunctions = { { "loaded", false }, { "exists", true }, { "missingFunctions", json::array() },
        { "error", "Erro ao inicializar biblioteca C_Initialize: 84" } };
    for (const char* name :
        { "C_Initialize", "C_Finalize", "C_GetSlotList", "C_GetSlotInfo", "C_GetTokenInfo", "C_OpenSession",
            "C_CloseSession", "C_Login", "C_Logout", "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal",
            "C_GetAttributeValue", "C_SignInit", "C_Sign", "C_GenerateKeyPair", "C_CreateObject" })
        noFunctions["missingFunctions"].push_back(name);
    EXPECT_EQ(listed({ "system", "info", "modules" }),
        json({ module("GD", R"(C:\Windows\System32\aetpkss1.dll)", softHsm),
            module("ET", R"(C:\Windows\System32\eTPKCS11.dll)", noFunctions),
            module("AT", R"(C:\Windows\System32\asepkcs.dll)", refused),
            module("TR", R"(C:\Program Files (x86)\CSP Trevanol Multiplo\PKCS11.dll)", softHsm),
            module("OB", R"(C:\Program Files\Oberthur Technologies\AWP\DLLs\OcsCryptolib_P11.dll)", refused),
            module("EP", R"(C:\Windows\System32\eps2003csp11.dll)", softHsm),
            module("DX", R"(C:\Windows\SysWOW64\DXSafePKCS11.dll)", loadedInstead) }));
}

// A picker's listing of a real token: each certificate with what it holds,
// its token and the CKA_ID that signWithKeyId takes, in the module's order,
// as the certificate listing (which stays as it was) has them.
TEST_F(SoftHsmTest, CertificateDetailsOfATokenAsThePickerSeesThem)
{
    const std::string serial = machine_.initToken("Picker", "123456");
    machine_.link(R"(C:\Windows\System32\asepkcs.dll)", kSoftHsmModule);
    std::map<std::string, json> expected;
    for (const IssuedCertificate& issued : issuedCertificates()) {
        const std::string keyId = base64(std::to_string(expected.size()));
        machine_.success(
            { "pkcs11", "repo", "importCertificate", "AT", serial, keyId, "picker", "123456", base64(issued.der) });
        json record = issued.record;
        record.update({ { "type", "AT" }, { "serial", serial }, { "thumbprint", sha1Hex(issued.der) }, { "keyId", keyId } });
        expected[sha1Hex(issued.der)] = record;
    }
    const json details = listed({ "pkcs11", "list", "certificateDetails", "AT" });
    const json certificates = listed({ "pkcs11", "list", "certificates", "AT" });
    ASSERT_EQ(details.size(), expected.size());
    for (std::size_t i = 0; i < details.size(); ++i) {
        const std::string thumbprint = certificates[i].at("thumbprint");
        EXPECT_EQ(details[i], expected[thumbprint]);
    }
}

} // namespace
