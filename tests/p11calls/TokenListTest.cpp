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
// is finalized again, and no session is opened.
TEST_F(TokenList, ModuleReportsTellWhatIsThereAndWhy)
{
    const std::string at = R"(C:\Windows\SysWOW64\asepkcs.dll)", et = R"(C:\Windows\System32\eTPKCS11.dll)";
    machine_.install(at, "p11mock_partial");
    machine_.writeText(et, "not a library");
    const auto record = [](const char* type, const std::string& path, bool exists, const std::string& error) {
        return Json { { "type", type }, { "path", path }, { "exists", exists }, { "loaded", false },
            { "error", "Erro ao inicializar biblioteca " + error } };
    };
    Json expected = { record("GD", kGdPath, true, ""), record("ET", et, true, "LoadLibrary"),
        record("AT", at, true, ""),
        record("TR", R"(C:\Program Files\CSP Trevanol Multiplo\PKCS11.dll)", false, "fileExists"),
        record("OB", R"(C:\Program Files\Oberthur Technologies\AWP\DLLs\OcsCryptolib_P11.dll)", false, "fileExists"),
        record("EP", R"(C:\Windows\System32\eps2003csp11.dll)", false, "fileExists"),
        record("DX", R"(C:\Windows\System32\DXSafePKCS11.dll)", false, "fileExists") };
    expected[2]["missingFunctions"] = { "C_GetTokenInfo", "C_Login" };
    Json script = { { "info", { { "manufacturerID", "Maker" }, { "libraryDescription", " Mock library" } } },
        { "slots", { slot(1, "0A1B"), patched(slot(2, "0C2D"), { { "/tokenPresent", false } }) } },
        { "rv", { { "C_Initialize", "0x5" } } } };
    const Json answers[] = { { { "error", "Erro ao inicializar biblioteca C_Initialize: 5" } },
        { { "loaded", true }, { "cryptokiVersion", "2.40" }, { "manufacturerId", "Maker" },
            { "libraryDescription", "Mock library" }, { "libraryVersion", "1.7" }, { "slots", 2 },
            { "slotsWithToken", 1 } } };
    for (const Json& answer : answers) {
        for (const std::size_t loadable : { 0, 2 }) {
            expected[loadable].erase("error");
            expected[loadable].update(answer);
        }
        machine_.script(script);
        EXPECT_EQ(machine_.run({ "system", "info", "modules" }), successDocument(expected));
        EXPECT_EQ(logged(machine_.calls(), "C_Finalize"), 2u);
        EXPECT_EQ(logged(machine_.calls(), "C_OpenSession"), 0u);
        script.erase("rv");
    }
}

} // namespace
