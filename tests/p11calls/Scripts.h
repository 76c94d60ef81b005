// Building blocks of the call-sequence tests: the module paths, scripts of
// slots and objects, and the log lines that the mock module writes.
#pragma once

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "Process.h"

using Json = nlohmann::json;
using Lines = std::vector<std::string>;

// Lower-case hex of any byte sequence, as scripts and logs carry bytes.
template <typename ByteSequence> std::string hexOf(const ByteSequence& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0xF];
    }
    return out;
}

// Digests and base64 of the bytes a request carries, computed independently.
inline std::string digestHex(const EVP_MD* type, const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, type, nullptr);
    return hexOf(std::string(digest, digest + length));
}
inline std::string sha1Hex(const std::string& bytes) { return digestHex(EVP_sha1(), bytes); }
inline std::string sha1Hex(const std::vector<unsigned char>& bytes)
{
    return sha1Hex(std::string(bytes.begin(), bytes.end()));
}
inline std::string base64(const std::string& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    return out.substr(0, static_cast<std::size_t>(length));
}

inline const std::string kGdPath = R"(C:\Windows\System32\aetpkss1.dll)";
inline const std::string kGdPath32 = R"(C:\Windows\SysWOW64\aetpkss1.dll)";
inline const std::string kEtPath = R"(C:\Windows\System32\eTPKCS11.dll)";
inline const std::string kDxPath = R"(C:\Windows\System32\DXSafePKCS11.dll)";
inline const std::string kTrPath = R"(C:\Program Files\CSP Trevanol Multiplo\PKCS11.dll)";
inline const std::string kTrPath32 = R"(C:\Program Files (x86)\CSP Trevanol Multiplo\PKCS11.dll)";

// The mock writes each line after its module's file name.
inline const std::string gd = "aetpkss1.dll: ";
inline const std::string et = "eTPKCS11.dll: ";
inline const std::string dx = "DXSafePKCS11.dll: ";

// CK_ULONG of the module under test: 32 bits in the Windows builds.
inline std::size_t moduleUlongSize() { return underWine() ? 4 : sizeof(unsigned long); }

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

inline Json oneSlot(const Json& slot) { return { { "slots", Json::array({ slot }) } }; }

// `base` with values set at JSON pointers ("/token/model").
inline Json patched(Json base, std::initializer_list<std::pair<const char*, Json>> values)
{
    for (const auto& [pointer, value] : values)
        base[Json::json_pointer(pointer)] = value;
    return base;
}

// The records that the listings answer for the slots and objects above.
inline Json tokenRecord(
    const std::string& type, const std::string& slotId, const std::string& serial, const std::string& label = "Token")
{
    return { { "type", type }, { "slotId", slotId }, { "manufacturerId", "Maker" }, { "slotDescription", "Reader" },
        { "tokenLabel", label }, { "tokenModel", "Model" }, { "serial", serial }, { "freePublicMemory", 0 },
        { "freePrivateMemory", 0 } };
}

inline Json objectRecord(const std::string& id, const std::string& label, bool publicKey = false,
    bool privateKey = true, bool certificate = false)
{
    return { { "id", id }, { "label", label }, { "publicKey", publicKey }, { "privateKey", privateKey },
        { "certificate", certificate } };
}

inline Json certificateRecord(const std::string& type, const std::string& serial, const std::string& thumbprint)
{
    return { { "type", type }, { "serial", serial }, { "thumbprint", thumbprint } };
}

inline Lines joined(std::initializer_list<Lines> parts)
{
    Lines out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// C_Initialize and the two C_GetSlotList calls of a module with `slots` slots.
inline Lines loading(const std::string& module, unsigned long slots)
{
    return { module + "C_Initialize pInitArgs=NULL -> 0x0",
        module + "C_GetSlotList tokenPresent=1 pSlotList=NULL -> 0x0",
        module + "C_GetSlotList tokenPresent=1 pSlotList=buffer/" + std::to_string(slots) + " -> 0x0" };
}

// The seven reads of one token's information, all answered CKR_OK.
inline Lines tokenReads(const std::string& module, const std::string& slotId)
{
    const std::string slotInfo = module + "C_GetSlotInfo slot=" + slotId + " pInfo=set -> 0x0";
    const std::string tokenInfo = module + "C_GetTokenInfo slot=" + slotId + " pInfo=set -> 0x0";
    return { slotInfo, slotInfo, tokenInfo, tokenInfo, tokenInfo, tokenInfo, tokenInfo };
}

// C_OpenSession: 0x4 read-only, 0x6 read-write.
inline std::string opening(
    const std::string& module, const std::string& slotId, const char* flags, const std::string& rv = "0x0")
{
    return module + "C_OpenSession slot=" + slotId + " flags=" + flags
        + " pApplication=NULL notify=NULL phSession=set -> " + rv;
}

inline Lines finalizing(const std::string& module) { return { module + "C_Finalize pReserved=NULL -> 0x0" }; }

// A search with its template text, answering the given handles one per call.
inline Lines search(
    const std::string& module, const std::string& session, const std::string& templateText, unsigned long found)
{
    Lines out = { module + "C_FindObjectsInit session=" + session + " " + templateText + " -> 0x0" };
    for (unsigned long i = 0; i <= found; ++i)
        out.push_back(module + "C_FindObjects session=" + session + " phObject=set max=1 pulObjectCount=set -> 0x0");
    out.push_back(module + "C_FindObjectsFinal session=" + session + " -> 0x0");
    return out;
}

inline std::string classTemplate(int objectClass)
{
    return "count=1 [CKA_CLASS=ulong:" + std::to_string(objectClass) + "]";
}

// The two-call read of one attribute of `length` bytes.
inline Lines attributeRead(const std::string& module, const std::string& session, unsigned long object,
    const std::string& attribute, unsigned long length)
{
    const std::string prefix
        = module + "C_GetAttributeValue session=" + session + " object=" + std::to_string(object) + " count=1 [";
    return { prefix + attribute + "=NULL/0] -> 0x0",
        prefix + attribute + "=buffer/" + std::to_string(length) + "] -> 0x0" };
}

inline std::string classRead(const std::string& module, const std::string& session, unsigned long object)
{
    return module + "C_GetAttributeValue session=" + session + " object=" + std::to_string(object)
        + " count=1 [CKA_CLASS=buffer/" + std::to_string(moduleUlongSize()) + "] -> 0x0";
}

// C_Logout answers CKR_USER_NOT_LOGGED_IN (0x101) in a session without login.
inline Lines closing(const std::string& module, const std::string& session, bool loggedIn = true)
{
    return { module + "C_Logout session=" + session + (loggedIn ? " -> 0x0" : " -> 0x101"),
        module + "C_CloseSession session=" + session + " -> 0x0" };
}

inline std::string successDocument(const Json& value) { return Json { { "success", value } }.dump(4); }
// A record array: braces around one record would otherwise give the record.
inline std::string successDocument(std::initializer_list<Json> records)
{
    Json array = Json::array();
    for (const auto& record : records)
        array.push_back(record);
    return successDocument(array);
}
inline std::string errorDocument(const Json& value) { return Json { { "error", value } }.dump(4); }
