// A machine with the scripted token module installed as the GD module: the
// emulated Windows directory of the Linux build, or the Wine prefix's drive C
// when the Windows build runs under Wine. Below it, the scripts of slots and
// objects, the records the listings answer for them, and the log lines that
// the module writes.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Encoding.h"
#include "KeyMaterial.h"
#include "Process.h"
#include "WindowsMachine.h"

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

inline const std::string kGdPath = R"(C:\Windows\System32\aetpkss1.dll)";

class TokenMachine : public WindowsMachine {
public:
    TokenMachine()
        : scriptPath_(dir_.path() + "/script.json")
        , logPath_(dir_.path() + "/calls.log")
    {
        environment_["P11MOCK_SCRIPT"] = programPath(scriptPath_);
        environment_["P11MOCK_LOG"] = programPath(logPath_);
        script(Json::object());
        install(kGdPath);
    }

    // Places a copy of the mock module `variant` (p11mock, p11mock_partial,
    // p11mock_nologin) at the Windows path.
    void install(const std::string& windowsPath, const std::string& variant = "p11mock")
    {
        const char* modules = std::getenv("P11MOCK_DIR");
        if (!modules || !*modules)
            throw std::runtime_error("P11MOCK_DIR is not set");
        copy(windowsPath, (std::filesystem::path(modules) / (variant + (underWine() ? ".dll" : ".so"))).string());
    }

    // A module that this program cannot load at the Windows path: under Wine
    // the mock built for the other architecture (P11MOCK_FOREIGN_DIR), on
    // Linux a file that is no library.
    void installForeign(const std::string& windowsPath)
    {
        const char* foreign = std::getenv("P11MOCK_FOREIGN_DIR");
        if (foreign && *foreign)
            copy(windowsPath, (std::filesystem::path(foreign) / "p11mock.dll").string());
        else
            writeText(windowsPath, "not a library");
    }

    void script(const Json& script) { std::ofstream(scriptPath_, std::ios::binary | std::ios::trunc) << script.dump(); }

    // A variable that the next runs get besides, or instead of, the machine's own.
    void setEnvironment(const std::string& name, const std::string& value) { environment_[name] = value; }

    // Runs sigbrid with a fresh call log and `input` on its standard input;
    // checks exit code 0 and a silent standard error, and answers standard
    // output.
    std::string run(const std::vector<std::string>& args, const std::string& input = "")
    {
        std::filesystem::remove(logPath_);
        const ProcessResult result = runSigbrid(args, environment_, input);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        return result.out;
    }

    // The calls of the last run, one log line each.
    Lines calls() const
    {
        Lines lines;
        std::ifstream log(logPath_, std::ios::binary);
        for (std::string line; std::getline(log, line);)
            lines.push_back(line);
        return lines;
    }

private:
    std::string scriptPath_;
    std::string logPath_;
};

class TokenCalls : public ::testing::Test {
protected:
    TokenMachine machine_;
};

// Lower-case hex of bytes, as scripts and logs carry them.
inline std::string hexOf(const std::string& bytes) { return hexEncode(Bytes(bytes.begin(), bytes.end())); }

// CKO_ values as scripts and logs carry them.
inline const int kCertificate = 1;
inline const int kPublicKey = 2;
inline const int kPrivateKey = 3;

inline Json slot(unsigned long long id, const Json& serial, const Json& label = "Token")
{
    return { { "id", id }, { "slotDescription", "Reader" }, { "manufacturerID", "Maker" },
        { "token", { { "label", label }, { "model", "Model" }, { "serialNumber", serial } } },
        { "objects", Json::array() } };
}

inline Json object(unsigned long handle, int objectClass, const std::string& idHex, const Json& label)
{
    return { { "handle", handle },
        { "attributes",
            { { "CKA_CLASS", { { "ulong", objectClass } } }, { "CKA_ID", { { "hex", idHex } } },
                { "CKA_LABEL", label } } } };
}

inline Json certificate(unsigned long handle, const std::string& valueHex)
{
    return { { "handle", handle },
        { "attributes",
            { { "CKA_CLASS", { { "ulong", kCertificate } } }, { "CKA_VALUE", { { "hex", valueHex } } } } } };
}

// `base` with values set at JSON pointers ("/token/model").
inline Json patched(Json base, std::initializer_list<std::pair<const char*, Json>> values)
{
    for (const auto& [pointer, value] : values)
        base[Json::json_pointer(pointer)] = value;
    return base;
}

// One slot, serial `serial` with `objects`; `extra` members besides.
inline Json oneSlot(const Json& serial, const std::vector<Json>& objects = {}, Json extra = Json::object())
{
    extra["slots"] = { patched(slot(1, serial), { { "/objects", Json(objects) } }) };
    return extra;
}

// The records that the listings answer for the slots and objects above.
inline Json tokenRecord(const std::string& slotId, const std::string& serial, const std::string& label = "Token")
{
    return { { "type", "GD" }, { "slotId", slotId }, { "manufacturerId", "Maker" }, { "slotDescription", "Reader" },
        { "tokenLabel", label }, { "tokenModel", "Model" }, { "serial", serial }, { "freePublicMemory", 0 },
        { "freePrivateMemory", 0 } };
}

inline Json objectRecord(const std::string& id, const std::string& label, bool publicKey = false,
    bool privateKey = true, bool certificate = false)
{
    return { { "id", id }, { "label", label }, { "publicKey", publicKey }, { "privateKey", privateKey },
        { "certificate", certificate } };
}

inline Json certificateRecord(const std::string& serial, const std::string& thumbprint)
{
    return { { "type", "GD" }, { "serial", serial }, { "thumbprint", thumbprint } };
}

inline Lines joined(std::initializer_list<Lines> parts)
{
    Lines out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// C_Initialize and the two C_GetSlotList calls of a module with `slots` slots.
inline Lines loading(unsigned long slots)
{
    return { "C_Initialize pInitArgs=NULL -> 0x0", "C_GetSlotList tokenPresent=1 pSlotList=NULL -> 0x0",
        "C_GetSlotList tokenPresent=1 pSlotList=buffer/" + std::to_string(slots) + " -> 0x0" };
}

// The seven reads of one token's information, all answered CKR_OK.
inline Lines tokenReads(const std::string& slotId)
{
    const std::string slotInfo = "C_GetSlotInfo slot=" + slotId + " pInfo=set -> 0x0";
    const std::string tokenInfo = "C_GetTokenInfo slot=" + slotId + " pInfo=set -> 0x0";
    return { slotInfo, slotInfo, tokenInfo, tokenInfo, tokenInfo, tokenInfo, tokenInfo };
}

// C_OpenSession: 0x4 read-only, 0x6 read-write.
inline std::string opening(const std::string& slotId, const char* flags, const std::string& rv = "0x0")
{
    return "C_OpenSession slot=" + slotId + " flags=" + flags + " pApplication=NULL notify=NULL phSession=set -> " + rv;
}

inline const std::string kFinalize = "C_Finalize pReserved=NULL -> 0x0";

// A search with its template text, answering the given handles one per call.
inline Lines search(const std::string& session, const std::string& templateText, unsigned long found)
{
    Lines out = { "C_FindObjectsInit session=" + session + " " + templateText + " -> 0x0" };
    for (unsigned long i = 0; i <= found; ++i)
        out.push_back("C_FindObjects session=" + session + " phObject=set max=1 pulObjectCount=set -> 0x0");
    out.push_back("C_FindObjectsFinal session=" + session + " -> 0x0");
    return out;
}

// How many of the calls hold `fragment`.
inline std::size_t logged(const Lines& calls, const std::string& fragment)
{
    std::size_t n = 0;
    for (const auto& call : calls)
        n += call.find(fragment) != std::string::npos;
    return n;
}

// The two-call read of one attribute of `length` bytes.
inline Lines attributeRead(
    const std::string& session, unsigned long object, const std::string& attribute, unsigned long length)
{
    const std::string prefix
        = "C_GetAttributeValue session=" + session + " object=" + std::to_string(object) + " count=1 [" + attribute;
    return { prefix + "=NULL/0] -> 0x0", prefix + "=buffer/" + std::to_string(length) + "] -> 0x0" };
}

// C_Logout answers CKR_USER_NOT_LOGGED_IN (0x101) in a session without login.
inline Lines closing(const std::string& session, bool loggedIn = true)
{
    return { "C_Logout session=" + session + (loggedIn ? " -> 0x0" : " -> 0x101"),
        "C_CloseSession session=" + session + " -> 0x0" };
}

inline std::string successDocument(const Json& value) { return Json { { "success", value } }.dump(4); }
inline std::string errorDocument(const Json& value) { return Json { { "error", value } }.dump(4); }
