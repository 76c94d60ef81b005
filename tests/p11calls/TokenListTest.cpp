// Module loading, usable slots and `pkcs11 list tokens`, seen from both ends:
// the envelope the caller reads and the calls the token module receives.
#include <iterator>

#include "TokenMachine.h"

namespace {

using TokenList = TokenCalls;

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
        { patched(slot(0, "0A1B2C3D", "My Token"),
              { { "/token/ulFreePublicMemory", 32000 }, { "/token/ulFreePrivateMemory", 16000 } }),
            patched(tokenRecord("0", "0A1B2C3D", "My Token"),
                { { "/freePublicMemory", 32000 }, { "/freePrivateMemory", 16000 } }) },
        { slot(2, ""), nullptr },
        { slot(4, "  0A1B2C3D      "), tokenRecord("4", "0A1B2C3D") },
        { slot(6, "0A1B 2C3D"), nullptr },
        { slot(13, "g0\xc3\xa9"), nullptr },
        { slot(7, "0A1B\t"), tokenRecord("7", "0A1B") },
        { slot(8, "0012ab"), tokenRecord("8", "0012ab") },
        { patched(slot(4294967295ULL, "01"),
              { { "/token/ulFreePublicMemory", "unavailable" }, { "/token/ulFreePrivateMemory", "unavailable" } }),
            patched(tokenRecord("4294967295", "01"),
                { { "/freePublicMemory", 4294967295ULL }, { "/freePrivateMemory", 4294967295ULL } }) },
        { patched(slot(10, "0123456789ABCDEF", L),
              { { "/slotDescription", D }, { "/manufacturerID", M }, { "/token/model", O },
                  { "/token/manufacturerID", std::string(32, 'X') } }),
            patched(tokenRecord("10", "0123456789ABCDEF", L),
                { { "/slotDescription", D }, { "/manufacturerId", M }, { "/tokenModel", O } }) },
        { patched(slot(11, "0A", { { "hex", "4d7900546f6b656e" } }),
              { { "/slotDescription", "\t Reader \r\n" },
                  { "/manufacturerID", { { "hex", "4d616b65720000000000000000000000585858" } } },
                  { "/token/model", { { "hex", "c3a96c6f" } } } }),
            patched(tokenRecord("11", "0A", "My"), { { "/tokenModel", "\xc3\xa9lo" } }) },
    };
    Json script = { { "slots", Json::array() } };
    Json listed = Json::array();
    // Each slot is read once: what judged it usable is its record.
    Lines read;
    for (const auto& row : rows) {
        script["slots"].push_back(row.slot);
        read = joined({ read, tokenReads(std::to_string(row.slot["id"].get<unsigned long long>())) });
        if (!row.listed.is_null())
            listed.push_back(row.listed);
    }
    machine_.script(script);

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }), successDocument(listed));
    EXPECT_EQ(machine_.calls(), joined({ loading(std::size(rows)), read, { kFinalize } }));
}

// A failing read puts its error text into the field; the other fields are
// still read, and the memory values fall back to 0. A failed serial read
// makes the slot unusable.
TEST_F(TokenList, FailedReadsBecomeFieldTexts)
{
    Json script = { { "slots",
        { patched(slot(1, "0A1B"), { { "/token/ulFreePublicMemory", 7 }, { "/token/ulFreePrivateMemory", 9 } }),
            slot(2, "0B"), slot(3, "0C") } } };
    // Calls 1 to 15 of C_GetTokenInfo read the three slots, five each (the
    // serial is the third read: call 13 is slot 3's).
    script["rv"] = { { "C_GetSlotInfo", { { "1", "0x3" }, { "2", "0x3" } } },
        { "C_GetTokenInfo", { { "1", "0x30" }, { "2", 5 }, { "4", "0xE0" }, { "13", 5 } } } };
    machine_.script(script);

    const Json failed = patched(tokenRecord("1", "0A1B"),
        { { "/manufacturerId", "[ERROR] P11Store.getManufacturerId - C_GetSlotInfo, rv: 3" },
            { "/slotDescription", "[ERROR] P11Store.description - C_GetSlotInfo, rv: 3" },
            { "/tokenLabel", "[ERROR] P11Store.label - C_GetTokenInfo, rv: 48" },
            { "/tokenModel", "[ERROR] P11Store.model - C_GetTokenInfo, rv: 5" }, { "/freePrivateMemory", 9 } });
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }),
        successDocument(Json::array({ failed, tokenRecord("2", "0B") })));
}

// `pkcs11 list tokenDetails`: each token's record with every flag by name,
// the PIN lengths, the versions, the RSA key sizes and which signing
// mechanisms it offers, from one more C_GetTokenInfo per token and no
// session. Each flag is set on a token of its own (the standard's values);
// what a module does not answer is left out.
TEST_F(TokenList, TokenDetailsTellWhatACallerNeedsBeforeAPin)
{
    const std::pair<const char*, unsigned long> flags[] = { { "writeProtected", 0x2 }, { "loginRequired", 0x4 },
        { "userPinInitialized", 0x8 }, { "protectedAuthenticationPath", 0x100 }, { "tokenInitialized", 0x400 },
        { "userPinCountLow", 0x10000 }, { "userPinFinalTry", 0x20000 }, { "userPinLocked", 0x40000 },
        { "userPinToBeChanged", 0x80000 }, { "soPinLocked", 0x400000 } };
    const Json mechanisms = { { { "type", "0x40" } }, { { "type", "0x0" }, { "min", 1024 }, { "max", 4096 } },
        { { "type", "0x42" } }, { { "type", "0x3" } }, { { "type", "0x6" } }, { { "type", "0x1" } } };
    Json script = { { "slots", Json::array() } }, listed = Json::array();
    Json none = Json::object();
    for (const auto& [name, flag] : flags)
        none[name] = false;
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        const std::string id = std::to_string(i + 1), serial = "0A" + id;
        script["slots"].push_back(patched(slot(i + 1, serial),
            { { "/token/flags", flags[i].second }, { "/token/ulMinPinLen", 4 }, { "/token/ulMaxPinLen", 8 },
                { "/token/hardwareVersion", { 1, 2 } }, { "/token/firmwareVersion", { 3, 40 } },
                { "/mechanisms", mechanisms } }));
        Json record = tokenRecord(id, serial);
        record.update(none);
        record.update({ { flags[i].first, true }, { "minPinLength", 4 }, { "maxPinLength", 8 },
            { "hardwareVersion", "1.2" }, { "firmwareVersion", "3.40" },
            { "rsaKeySizes", { { "min", 1024 }, { "max", 4096 } } },
            { "signMechanisms", { "CKM_RSA_PKCS", "CKM_SHA1_RSA_PKCS", "CKM_SHA256_RSA_PKCS", "CKM_SHA512_RSA_PKCS" } } });
        listed.push_back(record);
    }
    // A token that offers no signing mechanism and makes no RSA key; one
    // whose token information and mechanism list fail at this read.
    script["slots"].push_back(patched(slot(20, "0B"), { { "/mechanisms", { { { "type", "0x3" } } } } }));
    listed.push_back(patched(tokenRecord("20", "0B"), { { "/signMechanisms", Json::array() } }));
    listed.back().update(none);
    listed.back().update({ { "minPinLength", 0 }, { "maxPinLength", 0 }, { "hardwareVersion", "0.0" },
        { "firmwareVersion", "0.0" } });
    script["slots"].push_back(slot(21, "0C"));
    listed.push_back(tokenRecord("21", "0C"));
    script["rv"] = { { "C_GetTokenInfo", { { std::to_string(5 * script["slots"].size() + 12), "0x30" } } },
        { "C_GetMechanismList", { { "23", "0x30" } } } };
    machine_.script(script);
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokenDetails", "GD" }), successDocument(listed));
    const Lines calls = machine_.calls();
    EXPECT_EQ(logged(calls, "C_GetTokenInfo"), 6 * script["slots"].size());
    EXPECT_EQ(logged(calls, "C_OpenSession") + logged(calls, "C_Login"), 0u);

    // The flags only tell: the token on its final try and the locked one
    // answer a login (a wrong PIN, a locked PIN) as a token without flags does.
    for (const auto& [serial, code] : { std::pair { "0A7", "0xa0" }, { "0A8", "0xa4" } }) {
        script["rv"] = { { "C_Login", code } };
        machine_.script(script);
        const std::string unflagged = machine_.run({ "pkcs11", "list", "objects", "GD", "0B", "1234" });
        EXPECT_NE(unflagged.find("\"error\""), std::string::npos) << unflagged;
        EXPECT_EQ(machine_.run({ "pkcs11", "list", "objects", "GD", serial, "1234" }), unflagged) << serial;
    }

    // Without C_GetMechanismInfo there are no key sizes; the listing of
    // tokens stays as it was.
    machine_.install(kGdPath, "p11mock_nologin");
    machine_.script(oneSlot("0A1B"));
    Json record = tokenRecord("1", "0A1B");
    record.update(none);
    record.update({ { "minPinLength", 0 }, { "maxPinLength", 0 }, { "hardwareVersion", "0.0" },
        { "firmwareVersion", "0.0" }, { "signMechanisms", Json::array() } });
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokenDetails", "GD" }), successDocument(Json::array({ record })));
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "tokens", "GD" }),
        successDocument(Json::array({ tokenRecord("1", "0A1B") })));
}

// Every request that stays in the token branch finalizes its modules last: a
// module that refuses C_Initialize at once (and is not called again), one that
// refuses its slot list or has none, after the listing. A missing argument
// leaves through the top layer without finalizing; type codes outside the
// table load nothing.
TEST_F(TokenList, FinalizeEndsEveryTokenRequest)
{
    const std::string initialize = "C_Initialize pInitArgs=NULL -> 0x";
    const std::vector<std::string> tokens = { "pkcs11", "list", "tokens", "GD" };
    const std::vector<std::string> objects = { "pkcs11", "list", "objects", "GD", "0A1B", "1234" };
    const Lines loaded = joined({ loading(1), tokenReads("1") });
    const Json noSession = oneSlot("0A1B", { certificate(10, "3000") }, { { "rv", { { "C_OpenSession", "0x3" } } } });
    const struct {
        Json script;
        std::vector<std::string> args;
        std::string answer;
        Lines calls;
    } requests[] = {
        { oneSlot("0A1B", {}, { { "rv", { { "C_Initialize", "0x5" } } } }), tokens, successDocument(Json::array()),
            { initialize + "5", kFinalize } },
        { oneSlot("0A1B", {}, { { "rv", { { "C_GetSlotList", { { "1", "0x30" } } } } } }), tokens,
            successDocument(Json::array()),
            { initialize + "0", "C_GetSlotList tokenPresent=1 pSlotList=NULL -> 0x30", kFinalize } },
        { { { "slots", Json::array() } }, tokens, successDocument(Json::array()),
            joined({ loading(0), { kFinalize } }) },
        { oneSlot("0A1B"), { "pkcs11", "list", "nothing", "GD" }, errorDocument("Comando nao encontrado"),
            joined({ loaded, { kFinalize } }) },
        { oneSlot("0A1B"), { "pkcs11", "nothing", "tokens", "GD" }, errorDocument("Tipo de sub-comando nao encontrado"),
            joined({ loaded, { kFinalize } }) },
        { oneSlot("0A1B"), { "pkcs11", "list", "objects", "GD", "FFFF", "1234" },
            errorDocument("Token Type ou Serial invalido"), joined({ loaded, tokenReads("1"), { kFinalize } }) },
        { oneSlot("0A1B"), { "pkcs11", "list", "objects", "GD", "0A1B" }, errorDocument("Erro desconhecido."), loaded },
        // A session that could not be opened: no login is tried, and the
        // answer is the bare "NO SESSION OPEN" failure, which carries no
        // message for the caller; a handle 0 answered with CKR_OK is no
        // better. Without a login, the certificate listing reads with handle
        // 0, which fails in the module; the close has no session to close.
        { noSession, objects, errorDocument(nullptr),
            joined({ loaded, tokenReads("1"), { opening("1", "0x6", "0x3"), kFinalize } }) },
        { oneSlot("0A1B", {}, { { "sessionHandles", { 0 } } }), objects, errorDocument(nullptr),
            joined({ loaded, tokenReads("1"), { opening("1", "0x6"), kFinalize } }) },
        { noSession, { "pkcs11", "list", "certificates", "GD" }, errorDocument(nullptr),
            joined({ loaded, { opening("1", "0x4", "0x3") }, tokenReads("1"),
                { "C_FindObjectsInit session=0 count=1 [CKA_CLASS=ulong:1] -> 0xb3",
                    "C_FindObjects session=0 phObject=set max=1 pulObjectCount=set -> 0xb3",
                    "C_FindObjectsFinal session=0 -> 0xb3", kFinalize } }) },
        { oneSlot("0A1B"), { "pkcs11", "list", "tokens", "nd" }, successDocument(Json::array()), {} },
        { oneSlot("0A1B"), { "pkcs11", "list", "tokens", "GD " }, successDocument(Json::array()), {} },
    };
    for (const auto& request : requests) {
        machine_.script(request.script);
        EXPECT_EQ(machine_.run(request.args), request.answer);
        EXPECT_EQ(machine_.calls(), request.calls);
    }
}

// `system info modules`: every module of the table, found or not, loaded or
// not and why, what it lacks, what its library says of itself and how many
// slots it sees. First C_Initialize is refused (every copy of the module
// reads the one script), then the modules answer. Every module that loaded
// is finalized again, and no session is opened. Where the native path holds
// a module that this program cannot load (a vendor's 64-bit module in
// Program Files, seen by the 32-bit program) and the 32-bit path one that it
// can, that one loads, and the report says which was refused.
TEST_F(TokenList, ModuleReportsTellWhatIsThereAndWhy)
{
    const std::string at = R"(C:\Windows\SysWOW64\asepkcs.dll)", et = R"(C:\Windows\System32\eTPKCS11.dll)";
    const std::string tr = R"(C:\Program Files\CSP Trevanol Multiplo\PKCS11.dll)",
                      tr32 = R"(C:\Program Files (x86)\CSP Trevanol Multiplo\PKCS11.dll)";
    machine_.install(at, "p11mock_partial");
    machine_.writeText(et, "not a library");
    machine_.installForeign(tr);
    machine_.install(tr32);
    const auto record = [](const char* type, const std::string& path, bool exists, const std::string& error) {
        return Json { { "type", type }, { "path", path }, { "exists", exists }, { "loaded", false },
            { "error", "Erro ao inicializar biblioteca " + error } };
    };
    Json expected = { record("GD", kGdPath, true, ""), record("ET", et, true, "LoadLibrary"),
        record("AT", at, true, ""), record("TR", tr32, true, ""),
        record("OB", R"(C:\Program Files\Oberthur Technologies\AWP\DLLs\OcsCryptolib_P11.dll)", false, "fileExists"),
        record("EP", R"(C:\Windows\System32\eps2003csp11.dll)", false, "fileExists"),
        record("DX", R"(C:\Windows\System32\DXSafePKCS11.dll)", false, "fileExists") };
    expected[2]["missingFunctions"] = { "C_GetTokenInfo", "C_Login" };
    expected[3]["refused"] = { { "path", tr }, { "error", "Erro ao inicializar biblioteca LoadLibrary" } };
    Json script = { { "info", { { "manufacturerID", "Maker" }, { "libraryDescription", " Mock library" } } },
        { "slots", { slot(1, "0A1B"), patched(slot(2, "0C2D"), { { "/tokenPresent", false } }) } },
        { "rv", { { "C_Initialize", "0x5" } } } };
    const Json answers[] = { { { "error", "Erro ao inicializar biblioteca C_Initialize: 5" } },
        { { "loaded", true }, { "cryptokiVersion", "2.40" }, { "manufacturerId", "Maker" },
            { "libraryDescription", "Mock library" }, { "libraryVersion", "1.7" }, { "slots", 2 },
            { "slotsWithToken", 1 } } };
    for (const Json& answer : answers) {
        for (const std::size_t loadable : { 0, 2, 3 }) {
            expected[loadable].erase("error");
            expected[loadable].update(answer);
        }
        machine_.script(script);
        EXPECT_EQ(machine_.run({ "system", "info", "modules" }), successDocument(expected));
        EXPECT_EQ(logged(machine_.calls(), "C_Finalize"), 3u);
        EXPECT_EQ(logged(machine_.calls(), "C_OpenSession"), 0u);
        script.erase("rv");
    }
}

} // namespace
