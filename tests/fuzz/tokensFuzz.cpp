// The token road against a module that the fuzzer scripts: slot counts,
// attribute and signature lengths, search counts and return codes come from
// its bytes; every request answers one envelope of one member.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "Encoding.h"
#include "FuzzMachine.h"

namespace {

std::string scriptPath;

const char* const kFunctions[] = { "C_Initialize", "C_GetSlotList", "C_GetSlotInfo", "C_GetTokenInfo", "C_OpenSession",
    "C_Login", "C_FindObjectsInit", "C_FindObjects", "C_GetAttributeValue", "C_SignInit", "C_Sign", "C_GenerateKeyPair",
    "C_CreateObject", "C_Logout", "C_CloseSession" };
const char* const kAttributes[] = { "CKA_CLASS", "CKA_ID", "CKA_LABEL", "CKA_VALUE", "CKA_MODULUS" };
const char* const kSerials[] = { "0A1B", "0a1b", "", "zz", "0123456789ABCDEF" };
const char* const kTypes[] = { "GD", "ND", "ET", "" };

// A length as a lying module reports it: small, large or unavailable.
Json length(FuzzedDataProvider& in)
{
    const Json lengths[]
        = { in.ConsumeIntegralInRange<unsigned>(0, 64), "unavailable", in.ConsumeIntegral<std::uint32_t>(), nullptr };
    return in.PickValueInArray(lengths);
}

Json value(FuzzedDataProvider& in)
{
    Json attribute = { { "hex", hexEncode(in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 24))) } };
    for (const char* lie : { "nullLength", "filledLength" })
        if (Json reported = length(in); !reported.is_null())
            attribute[lie] = reported;
    return attribute;
}

Json script(FuzzedDataProvider& in)
{
    Json slots = Json::array();
    for (int s = in.ConsumeIntegralInRange(0, 3); s > 0; --s) {
        Json objects = Json::array();
        for (int o = in.ConsumeIntegralInRange(0, 4); o > 0; --o) {
            Json attributes = { { "CKA_CLASS", { { "ulong", in.ConsumeIntegralInRange(0, 4) } } } };
            for (const char* name : kAttributes)
                if (in.ConsumeBool())
                    attributes[name] = value(in);
            objects.push_back({ { "handle", in.ConsumeIntegralInRange(1, 40) }, { "afterLogin", in.ConsumeBool() },
                { "attributes", attributes } });
        }
        slots.push_back({ { "id", in.ConsumeIntegral<std::uint32_t>() }, { "tokenPresent", in.ConsumeBool() },
            { "token",
                { { "serialNumber", in.PickValueInArray(kSerials) },
                    { "ulFreePublicMemory", in.ConsumeIntegralInRange<std::uint32_t>(7000, 7300) } } },
            { "objects", objects } });
    }
    Json rv = Json::object();
    for (const char* function : kFunctions)
        if (in.ConsumeIntegralInRange(0, 7) == 0)
            rv[function] = { { std::to_string(in.ConsumeIntegralInRange(1, 6)), in.ConsumeIntegralInRange(0, 0x200) } };
    return { { "slots", slots }, { "rv", rv }, { "signature", value(in) },
        { "slotList", { { "firstCount", in.ConsumeIntegralInRange(0, 5) } } },
        { "findObjects", { { "countWhileFound", in.ConsumeIntegralInRange(1, 3) } } } };
}

std::vector<std::string> request(FuzzedDataProvider& in)
{
    const std::string type = in.PickValueInArray(kTypes);
    const std::string serial = in.PickValueInArray(kSerials);
    const std::string id = in.ConsumeBool() ? "AQI=" : "";
    const std::string flag = in.ConsumeBool() ? "true" : "false";
    const std::string data = in.ConsumeBool() ? "YWJj" : std::string(43, 'A') + "=";
    const std::vector<std::string> requests[] = { { "pkcs11", "list", "tokens", type },
        { "pkcs11", "list", "certificates", type }, { "pkcs11", "list", "objects", type, serial, "1234" },
        { "pkcs11", "crypt", "sign", type, std::string(40, '0'), "sha256", "1234", data, flag },
        { "pkcs11", "crypt", "signWithKeyId", type, serial, id, "sha1", "ND", flag, data },
        { "pkcs11", "repo", "createKeyPair", type, serial, "label", "2048", "1234" },
        { "pkcs11", "repo", "getPublicKey", type, serial, id },
        { "pkcs11", "repo", "importCertificate", "AT", serial, id, "label", "1234", "MIIB" } };
    return in.PickValueInArray(requests);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::filesystem::path machine = useFreshMachine();
    const std::filesystem::path modules = machine / "drive_c/Windows/System32";
    std::filesystem::create_directories(modules);
    for (const char* name : { "aetpkss1.dll", "eTPKCS11.dll", "asepkcs.dll" })
        std::filesystem::create_symlink(P11MOCK_PATH, modules / name);
    scriptPath = (machine / "script.json").string();
    setenv("P11MOCK_SCRIPT", scriptPath.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::vector<std::string> args = request(in);
    std::ofstream(scriptPath, std::ios::trunc) << script(in).dump();
    answer(args);
    return 0;
}
