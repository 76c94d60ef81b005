// Signing (alone and in batches), key generation, public key reads and
// certificate import as the token module sees them: exact templates, one
// session at a time, every session that logged in closed again, failures in
// their own words.
#include "IssuedCertificates.h"
#include "TokenMachine.h"

namespace {

const std::string kKeyIdHex = "4b00ff"; // "K", a zero byte, 0xFF: every byte counts
const std::string kKeyId = "SwD/"; // base64 of those bytes
const std::string kCertificateHex = "3082010a0201";
const std::string kSha256Prefix = "3031300d060960864801650304020105000420";
const std::string kDigest(20, '\x5a');

// One GD token, serial 0A1B, with a key pair and its certificate under
// kKeyIdHex; the private key shows only after login, as on real tokens.
Json tokenScript()
{
    const Json id = { { "hex", kKeyIdHex } };
    const std::vector<Json> objects = { patched(certificate(12, kCertificateHex), { { "/attributes/CKA_ID", id } }),
        patched(object(11, kPrivateKey, kKeyIdHex, "key"), { { "/afterLogin", true } }),
        patched(object(13, kPublicKey, kKeyIdHex, "key"), { { "/attributes/CKA_MODULUS", { { "hex", "c0ffee" } } } }) };
    return patched(oneSlot("0A1B", objects, { { "signature", { { "hex", "a1b2" } } } }),
        { { "/slots/0/token/ulFreePublicMemory", 100000 } });
}

const std::string kThumbprint = sha1Hex(std::string("\x30\x82\x01\x0a\x02\x01", 6));
const std::vector<std::string> kSign
    = { "pkcs11", "crypt", "sign", "GD", kThumbprint, "sha256", "1234", "YWJj", "false" };
const std::vector<std::string> kSignWithKeyId
    = { "pkcs11", "crypt", "signWithKeyId", "GD", "0A1B", kKeyId, "sha256", "1234", "false", "YWJj" };
const std::vector<std::string> kCreateKeyPair
    = { "pkcs11", "repo", "createKeyPair", "GD", "0A1B", "key", "2048", "1234" };
const std::vector<std::string> kListObjects = { "pkcs11", "list", "objects", "GD", "0A1B", "1234" };
const std::vector<std::string> kGetPublicKey = { "pkcs11", "repo", "getPublicKey", "GD", "0A1B", kKeyId };
const std::string kImported = selfSignedCertificate(77, "imported");
const std::vector<std::string> kImport
    = { "pkcs11", "repo", "importCertificate", "GD", "0A1B", kKeyId, "cert", "1234", base64(kImported) };

Json item(const Json& id, const std::string& value, bool hashedData)
{
    return { { "id", id }, { "value", base64(value) }, { "hashedData", hashedData } };
}
// The second id needs every escape that JSON knows for a string.
const Json kThree = { item("\\", "abc", false), item("\"two\"\\\x1f", kDigest, true), item({ { "n", 3 } }, "", false) };

std::vector<std::string> signList(const Json& list)
{
    return { "pkcs11", "crypt", "signList", "GD", kThumbprint, "sha1", "1234", base64(list.dump()) };
}

std::vector<std::string> with(std::vector<std::string> args, std::size_t position, const std::string& value)
{
    args[position] = value;
    return args;
}

using TokenOperations = TokenCalls;

// Signing by thumbprint: the certificate listing, then a read-only session
// to read the certificate's whole CKA_ID, then one logged-in session that
// finds the key with all of that ID's bytes and signs the DigestInfo. A
// second token with the same certificate is never opened. Both list it, in
// slot order, with the SHA-1 of exactly its value's bytes; what shows only
// after login is not listed: the listing never logs in, and keys are no
// certificates.
TEST_F(TokenOperations, SignByThumbprintCallByCall)
{
    Json script = tokenScript();
    script["slots"].push_back(patched(script["slots"][0], { { "/id", 2 }, { "/token/serialNumber", "0C2D" } }));
    script["slots"][1]["objects"].push_back(patched(certificate(14, "3000"), { { "/afterLogin", true } }));
    machine_.script(script);
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "certificates", "GD" }),
        successDocument(
            Json::array({ certificateRecord("0A1B", kThumbprint), certificateRecord("0C2D", kThumbprint) })));
    EXPECT_EQ(machine_.run(kSign), successDocument("obI="));

    const std::string signedBytes = "hex:" + kSha256Prefix + hexOf(digestOf("sha256", "abc")) + " dataLen=51";
    EXPECT_EQ(machine_.calls(),
        joined({ loading(2), tokenReads("1"), tokenReads("2"), { opening("1", "0x4") }, tokenReads("1"),
            search("1", "count=1 [CKA_CLASS=ulong:1]", 1), attributeRead("1", 12, "CKA_VALUE", 6), closing("1", false),
            { opening("1", "0x4") }, search("2", "count=1 [CKA_CLASS=ulong:1]", 1), attributeRead("2", 12, "CKA_ID", 3),
            attributeRead("2", 12, "CKA_VALUE", 6), closing("2", false),
            { opening("1", "0x6"), "C_Login session=3 userType=1 pin=hex:31323334 pinLen=4 -> 0x0" },
            search("3", "count=2 [CKA_CLASS=ulong:3 CKA_ID=hex:" + kKeyIdHex + "]", 1),
            { "C_SignInit session=3 mechanism=0x1 parameter=NULL/0 key=11 -> 0x0",
                "C_Sign session=3 data=" + signedBytes + " pSignature=NULL -> 0x0",
                "C_Sign session=3 data=" + signedBytes + " pSignature=buffer/2 -> 0x0" },
            closing("3"), { kFinalize } }));

    // What a picker is told: of a value that is no certificate, its
    // thumbprint, its token and its key's ID; a certificate without CKA_ID
    // names no key.
    const IssuedCertificate& issued = issuedCertificates().back();
    script["slots"][1]["objects"] = Json::array({ certificate(15, hexOf(issued.der)) });
    machine_.script(script);
    EXPECT_EQ(machine_.run({ "pkcs11", "list", "certificateDetails", "GD" }),
        successDocument(Json::array(
            { patched(certificateRecord("0A1B", kThumbprint), { { "/decodable", false }, { "/keyId", kKeyId } }),
                patched(issued.record,
                    { { "/type", "GD" }, { "/serial", "0C2D" }, { "/thumbprint", sha1Hex(issued.der) } }) })));
}

// A batch: one login and one session for the whole list; nothing to sign
// opens no token.
TEST_F(TokenOperations, SignListLogsInOnceForTheWholeList)
{
    machine_.script(tokenScript());
    EXPECT_EQ(machine_.run(signList(kThree)),
        successDocument(R"([{"data":"YWJj","id":"\\","signed":"obI="},{"data":")" + base64(kDigest)
            + R"(","id":"\"two\"\\\u001f","signed":"obI="},{"data":"","id":{"n":3},"signed":"obI="}])"));
    const Lines calls = machine_.calls();
    EXPECT_EQ(logged(calls, "C_Login "), 1u);
    EXPECT_EQ(logged(calls, "C_OpenSession slot=1 flags=0x6 "), 1u);
    EXPECT_EQ(logged(calls, "C_SignInit session=3 "), 3u);
    EXPECT_EQ(Lines(calls.end() - 3, calls.end()), joined({ closing("3"), { kFinalize } }));

    for (const std::string list : { "null", "[]" }) {
        EXPECT_EQ(machine_.run(signList(Json::parse(list))), successDocument("[]"));
        EXPECT_EQ(logged(machine_.calls(), "C_Login"), 0u);
    }
}

// The templates, attribute by attribute: the label cut to 18 characters,
// CK_ULONG values in the module's width, 7169 free bytes being enough, and
// the placeholders that the "AT" module alone receives.
TEST_F(TokenOperations, TemplatesAsTheModuleReceivesThem)
{
    machine_.install(R"(C:\Windows\System32\asepkcs.dll)");
    machine_.script(patched(tokenScript(), { { "/slots/0/token/ulFreePublicMemory", 7169 } }));
    const std::string label = "ABCDEFGHIJKLMNOPQRS";
    const std::string answer = machine_.run(with(kCreateKeyPair, 5, label));
    const std::string keyId = Json::parse(answer)["success"];
    ASSERT_EQ(keyId.size(), 40u) << answer; // base64 of 4 + 1 + 24 characters
    const Lines calls = machine_.calls();
    ASSERT_EQ(calls.size(), 30u);
    // The key pair's identifier in both templates: four random characters,
    // "-", and the base64 of the label cut to 18 characters.
    const std::string& generation = calls[calls.size() - 4];
    const std::string idHex
        = generation.substr(generation.find("CKA_ID=hex:") + 11, 8) + "2d" + hexOf(base64(label.substr(0, 18)));
    const std::string cut = " CKA_LABEL=hex:" + hexOf(label.substr(0, 18));
    EXPECT_EQ(generation,
        "C_GenerateKeyPair session=1 mechanism=0x0 parameter=NULL/0 public count=8 [CKA_ID=hex:" + idHex + cut
            + " CKA_TOKEN=hex:01 CKA_ENCRYPT=hex:01 CKA_VERIFY=hex:01 CKA_MODULUS_BITS=ulong:2048"
              " CKA_PUBLIC_EXPONENT=hex:010001 CKA_WRAP=hex:01] private count=8 [CKA_ID=hex:"
            + idHex + cut
            + " CKA_TOKEN=hex:01 CKA_PRIVATE=hex:01 CKA_SENSITIVE=hex:01 CKA_DECRYPT=hex:01 CKA_SIGN=hex:01"
              " CKA_UNWRAP=hex:01] phPublicKey=set phPrivateKey=set -> 0x0");

    const std::string six = "[CKA_CERTIFICATE_TYPE=ulong:0 CKA_VALUE=hex:" + hexOf(kImported)
        + " CKA_TOKEN=hex:01 CKA_CLASS=ulong:1 CKA_ID=hex:" + kKeyIdHex
        + " CKA_LABEL=hex:" + hexOf(std::string("cert"));
    EXPECT_EQ(machine_.run(kImport), successDocument("certificado adicionado com sucesso: " + kKeyId));
    EXPECT_TRUE(logged(machine_.calls(), "C_CreateObject session=1 count=6 " + six + "] phObject=set -> 0x0"));
    EXPECT_EQ(machine_.run(with(kImport, 3, "AT")), successDocument("certificado adicionado com sucesso: " + kKeyId));
    EXPECT_TRUE(logged(machine_.calls(),
        "C_CreateObject session=1 count=11 " + six
            + " CKA_PRIVATE=hex:00 CKA_MODIFIABLE=hex:01 CKA_ISSUER=hex:" + hexOf(std::string("Temporary"))
            + " CKA_SERIAL_NUMBER=hex:01 CKA_SUBJECT=hex:" + hexOf(std::string("/CN=cert")) + "] phObject=set -> 0x0"));
}

struct Case {
    std::vector<std::string> args;
    Json rv; // return codes by function
    std::string answer; // the whole envelope
    bool closesSession; // C_Logout and C_CloseSession end the calls
    std::size_t signs; // C_SignInit calls
    void (*prepare)(Json& script) = nullptr;
    const char* call = nullptr; // a fragment of one of the calls
    const char* faults = ""; // the Linux stand-in's fault switch: such rows skip Wine
};

void noPrivateKey(Json& script) { script["slots"][0]["objects"].erase(1); }
void memory7168(Json& script) { script["slots"][0]["token"]["ulFreePublicMemory"] = 7168; }
void noModulus(Json& script) { script["slots"][0]["objects"][2]["attributes"].erase("CKA_MODULUS"); }
void emptyModulus(Json& script) { script["slots"][0]["objects"][2]["attributes"]["CKA_MODULUS"] = { { "hex", "" } }; }

const std::string kNotBase64 = "Dados nao estao em base64 valido";
const std::string kNoRoom = errorDocument("Token nao possui espaco suficiente para criacao de chave e "
                                          "posterior importacao de certificado");

// Each command's failures: its own words, the session it opened closed again
// (a refused login leaves it to C_Finalize), and no signature where none fits.
TEST_F(TokenOperations, FailuresAnswerTheirOwnWordsAndCloseTheirSession)
{
    std::vector<Case> cases = {
        { kListObjects, { { "C_Login", "0xa0" } }, errorDocument("Erro no Login - Pin incorreto"), false, 0 },
        { kListObjects, { { "C_Login", "0xa2" } }, errorDocument("Erro no Login - Tamanho do Pin invalido"), false, 0 },
        { kListObjects, { { "C_Login", "0xa3" } }, errorDocument("Erro no Login - Pin expirado"), false, 0 },
        { kListObjects, { { "C_Login", "0x7" } }, errorDocument("Erro no Login - Argumentos invalidos"), false, 0 },
        { kSign, { { "C_Login", "0xa4" } }, errorDocument("Erro no Login - Pin bloqueado"), false, 0 },
        { kCreateKeyPair, { { "C_Login", "0xa1" } }, errorDocument("Erro no Login - Pin invalido"), false, 0 },
        { kImport, { { "C_Login", "0x100" } }, errorDocument("Erro no Login - Erro Generico"), false, 0 },
        { kSign, { { "C_SignInit", "0x30" } }, errorDocument("Erro na assinatura: Erro no dispositivo"), true, 1 },
        { kSignWithKeyId, { { "C_Sign", { { "2", "0x68" } } } }, errorDocument("Erro na assinatura: 104"), true, 1 },
        { with(with(kSignWithKeyId, 8, "true"), 9, std::string(40, 'A') + "AA=="), {},
            errorDocument("Tamanho data nao condiz com algoritmo utilizado"), true, 0 },
        // Data that is not base64 is refused before login: no PIN is sent.
        { with(kSign, 7, "YWJj!"), {}, errorDocument(kNotBase64), false, 0 },
        { with(kSignWithKeyId, 9, "YQ="), {}, errorDocument(kNotBase64), false, 0 },
        // An empty identifier still comes with a value buffer.
        { with(kSignWithKeyId, 5, ""), {}, successDocument(""), true, 0, nullptr, "[CKA_CLASS=ulong:3 CKA_ID=hex:]" },
        { with(kSign, 4, std::string(40, '0')), {},
            errorDocument("Nenhum certificado encontrado com o thumbprint enviado"), true, 0 },
        { kCreateKeyPair, {}, kNoRoom, true, 0, memory7168 },
        { kCreateKeyPair, { { "C_GetTokenInfo", { { "14", "0x5" } } } }, kNoRoom, true, 0 },
        // Hashing on the host can fail at each step: an error, and nothing is signed.
        { kSignWithKeyId, {}, errorDocument("Erro no calculo do hash dos dados"), true, 0, nullptr, nullptr,
            "CryptHashData=0x80090008" },
        { kSignWithKeyId, {}, errorDocument("Erro no calculo do hash dos dados"), true, 0, nullptr, nullptr,
            "CryptGetHashParam#1=5" },
        { kGetPublicKey, {}, successDocument("wP/u"), true, 0 },
        { kGetPublicKey, {}, errorDocument("Erro na leitura da chave publica: 18"), true, 0, noModulus },
        // The value's read fails after its length's succeeded.
        { kGetPublicKey, { { "C_GetAttributeValue", { { "2", "0x30" } } } },
            errorDocument("Erro na leitura da chave publica: Erro no dispositivo"), true, 0 },
        { kGetPublicKey, {}, errorDocument("Erro na leitura da chave publica: modulo indisponivel"), true, 0,
            emptyModulus },
        { signList(kThree), {}, errorDocument("Nenhuma chave privada encontrada para o certificado"), true, 0,
            noPrivateKey },
        // The first failing item ends the batch: nothing partial is answered.
        { signList({ item(1, "abc", false), item(2, kDigest.substr(1), true), item(3, "d", false) }), {},
            errorDocument("Tamanho data nao condiz com algoritmo utilizado"), true, 1 },
        { signList(kThree), { { "C_Sign", { { "5", "0x30" } } } },
            errorDocument("Erro na assinatura: Erro no dispositivo"), true, 3 },
        { signList({ item(1, "abc", false), { { "value", 7 } } }), {},
            errorDocument("[json.exception.type_error.302] type must be string, but is number"), true, 1 },
    };
    // A command that names a token finds it first: "ND" names none.
    for (const std::vector<std::string>& args : { kSignWithKeyId, kCreateKeyPair, kGetPublicKey, kImport })
        cases.push_back({ with(args, 3, "ND"), {}, errorDocument("Token Type ou Serial invalido"), false, 0 });
    // Each reason word, and another code in decimal, from every call that fails in them.
    for (const auto& [rv, reason] : { std::pair<const char*, std::string> { "0x30", "Erro no dispositivo" },
             { "0x31", "Dispositivo sem memória" }, { "0x32", "Dispositivo removido" }, { "0xd0", "208" } }) {
        cases.push_back({ with(kCreateKeyPair, 6, "abc"), { { "C_GenerateKeyPair", rv } },
            errorDocument("Erro na geracao do par de chaves: " + reason), true, 0, nullptr,
            "CKA_MODULUS_BITS=ulong:0" });
        cases.push_back({ kImport, { { "C_CreateObject", rv } },
            errorDocument("Erro na importação do certificado: " + reason), true, 0 });
        cases.push_back(
            { kSignWithKeyId, { { "C_Sign", rv } }, errorDocument("Erro na assinatura: " + reason), true, 1 });
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases.data());
        if (*c.faults && underWine())
            continue;
        machine_.setEnvironment("SIGBRID_FAULTS", c.faults);
        Json script = patched(tokenScript(), { { "/rv", c.rv } });
        if (c.prepare)
            c.prepare(script);
        machine_.script(script);
        EXPECT_EQ(machine_.run(c.args), c.answer);
        const Lines calls = machine_.calls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls.back(), kFinalize);
        const bool closed = calls[calls.size() - 3].find("C_Logout") != std::string::npos
            && calls[calls.size() - 2].find("C_CloseSession") != std::string::npos;
        EXPECT_EQ(closed, c.closesSession);
        EXPECT_EQ(logged(calls, "C_SignInit"), c.signs);
        if (c.call) {
            EXPECT_TRUE(logged(calls, c.call)) << c.call;
        }
    }
}

// Values off the command line as the token sees them: the PIN from standard
// input up to its line break, data, lists and certificates from files. A
// value that cannot be read, a second "@-", or a certificate that is not
// exactly one, opens no session at all.
TEST_F(TokenOperations, ValuesFromFilesAndStandardInput)
{
    machine_.script(tokenScript());
    machine_.writeFile("data", "YW\r\nJj\n");
    const std::string inLines = base64(kImported).insert(64, "\r\n").insert(130, "\n");
    machine_.writeFile("certificate", inLines);
    machine_.writeFile("empty", "");
    // A list larger than one argument may be on Linux (128 KiB).
    Json items = Json::array();
    for (int i = 0; i < 2000; ++i)
        items.push_back(item(i, std::to_string(i), false));
    machine_.writeFile("list", base64(items.dump()));
    // Data hashed as it is read, in pieces of 64 KiB: a document of several
    // pieces with CR LF lines cut across them, a "=" ending a piece with more
    // after it, a bad last piece, endless sources; a list held whole at and
    // past the 64 MiB ceiling (line breaks count, and are dropped).
    std::string document(150000, '\0');
    for (std::size_t i = 0; i < document.size(); ++i)
        document[i] = static_cast<char>(i * 13 + i / 256);
    std::string lines = base64(document);
    for (std::size_t at = 77; at < lines.size(); at += 79)
        lines.insert(at, "\r\n");
    std::string padded = base64(std::string(49152, 'x'));
    padded.back() = '=';
    const std::string atCeiling = base64(kThree.dump()) + std::string(64 * 1024 * 1024 - base64(kThree.dump()).size(), '\n');
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>> { { "document", lines },
             { "padded", padded + "QUJD" }, { "lastBad", base64(document) + "!" }, { "ceiling", atCeiling },
             { "past", atCeiling + "\n" } })
        machine_.writeFile(name, text);
    const std::string kNotBase64Document = errorDocument("Dados nao estao em base64 valido");
    const std::string kTooLarge = errorDocument("Valor acima do limite de 64 MiB (67108864 bytes)");
    const std::string absent = machine_.fromFile("absent"), folder = machine_.fromFile(".");
    const auto unreadable
        = [](const std::string& form) { return errorDocument("Erro na leitura do arquivo: " + form.substr(1)); };
    const std::string kRefused = errorDocument("Erro na importação do certificado: Certificado inválido");
    const std::string signedAbc = "data=hex:" + kSha256Prefix + hexOf(digestOf("sha256", "abc"));
    // The request, its standard input, its whole answer ("" where it is
    // random) and a piece of one of its calls ("" where none may open a
    // session).
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string, std::string>> rows = {
        { with(kSign, 6, "@-"), "1234\r\n9999", successDocument("obI="),
            "C_Login session=3 userType=1 pin=hex:31323334 pinLen=4" },
        { with(kListObjects, 5, "@-"), "", machine_.run(with(kListObjects, 5, "")), "pin=NULL pinLen=0" },
        { with(kCreateKeyPair, 7, "@-"), "\xC3\xA9\n", "", "pin=hex:c3a9 pinLen=2" },
        { with(with(kSignWithKeyId, 7, "@-"), 9, machine_.fromFile("data")), "1234", successDocument("obI="),
            signedAbc },
        { with(kSign, 7, "@-"), "YWJj", successDocument("obI="), signedAbc },
        { with(kSignWithKeyId, 9, machine_.fromFile("empty")), "", successDocument("obI="),
            "data=hex:" + kSha256Prefix + hexOf(digestOf("sha256", "")) },
        { with(kImport, 8, machine_.fromFile("certificate")), "",
            successDocument("certificado adicionado com sucesso: " + kKeyId),
            "CKA_VALUE=hex:" + hexOf(kImported) + " " },
        // A PIN line of at most 256 bytes, a byte-order mark before it
        // dropped; a longer one is never sent.
        { with(kSign, 6, "@-"), std::string(256, '7') + "\n", successDocument("obI="),
            "pin=hex:" + hexOf(std::string(256, '7')) + " pinLen=256" },
        { with(kSign, 6, "@-"), std::string(257, '7') + "\n",
            errorDocument("PIN lido da entrada padrao acima de 256 bytes"), "" },
        { with(kSign, 6, "@-"), "\xEF\xBB\xBF" "1234\r\n", successDocument("obI="), "pin=hex:31323334 pinLen=4" },
        { with(with(kSign, 6, "@-"), 7, "@-"), "1234\nYWJj",
            errorDocument("Apenas um parametro pode ser lido da entrada padrao"), "" },
        { with(kSign, 7, machine_.fromFile("document")), "", successDocument("obI="),
            "data=hex:" + kSha256Prefix + hexOf(digestOf("sha256", document)) },
        { with(kSignWithKeyId, 9, machine_.fromFile("padded")), "", kNotBase64Document, "" },
        { with(kSign, 7, machine_.fromFile("lastBad")), "", kNotBase64Document, "" },
        { with(kSign, 7, "@-"), std::string(100000, '\0'), kNotBase64Document, "" },
        { with(kSign, 7, TokenMachine::fromHost("/dev/zero")), "", kNotBase64Document, "" },
        { with(kSign, 7, TokenMachine::fromHost("/dev/urandom")), "", kNotBase64Document, "" },
        { with(signList(kThree), 7, machine_.fromFile("ceiling")), "", machine_.run(signList(kThree)), "C_Sign " },
        { with(signList(kThree), 7, machine_.fromFile("past")), "", kTooLarge, "" },
        { with(kImport, 8, TokenMachine::fromHost("/dev/zero")), "", kTooLarge, "" },
        { with(kSign, 7, absent), "", unreadable(absent), "" },
        { with(signList(kThree), 7, folder), "", unreadable(folder), "" },
        { with(kImport, 8, absent), "", unreadable(absent), "" },
        // Nothing, a sequence cut short, one that is no certificate, and a
        // certificate with a byte after it.
        { with(kImport, 8, ""), "", kRefused, "" },
        { with(kImport, 8, "MIIBCgIB"), "", kRefused, "" },
        { with(kImport, 8, base64(std::string("\x30\x03\x02\x01\x05", 5))), "", kRefused, "" },
        { with(kImport, 8, base64(kImported + '\0')), "", kRefused, "" },
    };
    for (const auto& [args, input, answer, call] : rows) {
        SCOPED_TRACE(Json(args).dump());
        const std::string out = machine_.run(args, input);
        EXPECT_TRUE(answer.empty() || out == answer) << out;
        // A failed read comes before any session, with the PIN unsent.
        EXPECT_EQ(logged(machine_.calls(), "C_OpenSession") == 0, call.empty());
        EXPECT_TRUE(call.empty() || logged(machine_.calls(), call)) << call;
    }

    const Json answer = Json::parse(machine_.run(with(signList(kThree), 7, machine_.fromFile("list"))));
    const Json signatures = Json::parse(answer["success"].get<std::string>());
    ASSERT_EQ(signatures.size(), items.size());
    for (int i = 0; i < 2000; ++i)
        EXPECT_EQ(signatures[i], Json({ { "data", base64(std::to_string(i)) }, { "id", i }, { "signed", "obI=" } }));
}

} // namespace
