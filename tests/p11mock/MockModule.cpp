// The scriptable PKCS#11 module: the C_ functions that sigbrid looks up, each
// answering from the script named by P11MOCK_SCRIPT and appending one line per
// call to the log named by P11MOCK_LOG. Script and log formats: README.md.
// The script stays JSON: each call reads what it needs from it.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Encoding.h"
#include "Pkcs11.h"

namespace p11mock {
namespace {

using Json = nlohmann::json;

// Codes and flags the system itself never names.
const CK_RV ckrAttributeTypeInvalid = 0x12;
const CK_RV ckrObjectHandleInvalid = 0x82;
const CK_RV ckrTokenNotPresent = 0xE0;
const CK_RV ckrMechanismInvalid = 0x70;
const CK_FLAGS ckfTokenPresent = 0x1;

// Where the objects of an endless search are numbered from.
const CK_OBJECT_HANDLE endlessHandles = 0x100000;
// Long values are cut in the log so that one line stays readable.
const std::size_t loggedBytesLimit = 4096;

struct NamedAttribute {
    const char* name;
    CK_ATTRIBUTE_TYPE type;
};

const NamedAttribute namedAttributes[] = { { "CKA_CLASS", CKA_CLASS }, { "CKA_TOKEN", CKA_TOKEN },
    { "CKA_PRIVATE", CKA_PRIVATE }, { "CKA_LABEL", CKA_LABEL }, { "CKA_VALUE", CKA_VALUE },
    { "CKA_CERTIFICATE_TYPE", CKA_CERTIFICATE_TYPE }, { "CKA_ISSUER", CKA_ISSUER },
    { "CKA_SERIAL_NUMBER", CKA_SERIAL_NUMBER }, { "CKA_SUBJECT", CKA_SUBJECT }, { "CKA_ID", CKA_ID },
    { "CKA_SENSITIVE", CKA_SENSITIVE }, { "CKA_ENCRYPT", CKA_ENCRYPT }, { "CKA_DECRYPT", CKA_DECRYPT },
    { "CKA_WRAP", CKA_WRAP }, { "CKA_UNWRAP", CKA_UNWRAP }, { "CKA_SIGN", CKA_SIGN }, { "CKA_VERIFY", CKA_VERIFY },
    { "CKA_MODULUS", CKA_MODULUS }, { "CKA_MODULUS_BITS", CKA_MODULUS_BITS },
    { "CKA_PUBLIC_EXPONENT", CKA_PUBLIC_EXPONENT }, { "CKA_MODIFIABLE", CKA_MODIFIABLE } };

std::string hexNumber(CK_ULONG value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

// A number as JSON number, "0x.." or decimal text, or one of the two words of
// the token information.
CK_ULONG ulongOf(const Json& value)
{
    if (value.is_number_integer())
        return value.get<CK_ULONG>();
    const std::string text = value.get<std::string>();
    return text == "unavailable" ? CK_UNAVAILABLE_INFORMATION : static_cast<CK_ULONG>(std::stoull(text, nullptr, 0));
}

// "text" as its bytes, {"hex": ..} or {"ulong": n}.
Bytes bytesOf(const Json& value)
{
    if (value.is_string())
        return Bytes(value.get_ref<const std::string&>().begin(), value.get_ref<const std::string&>().end());
    if (!value.contains("ulong"))
        return hexDecode(value.at("hex").get<std::string>());
    const CK_ULONG number = ulongOf(value.at("ulong"));
    Bytes out(sizeof number);
    std::memcpy(out.data(), &number, sizeof number);
    return out;
}

// The length a lying module reports instead of the true one, when scripted.
CK_ULONG lengthOr(const Json& value, const char* key, CK_ULONG trueLength)
{
    return value.is_object() && value.contains(key) ? ulongOf(value.at(key)) : trueLength;
}

CK_ATTRIBUTE_TYPE attributeType(const std::string& name)
{
    for (const auto& known : namedAttributes)
        if (name == known.name)
            return known.type;
    return ulongOf(Json(name));
}

// Attribute names as the log writes them ("CKA_ID"), or 0x-hex when unknown.
std::string attributeName(CK_ATTRIBUTE_TYPE type)
{
    for (const auto& known : namedAttributes)
        if (known.type == type)
            return known.name;
    return hexNumber(type);
}

std::string hex(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    const std::string out = hexEncode(bytes, std::min(length, loggedBytesLimit));
    return length > loggedBytesLimit ? out + "..." : out;
}

std::string pointer(const void* p) { return p ? "set" : "NULL"; }

// An output buffer and the room its length tells.
std::string bufferText(const void* buffer, CK_ULONG length)
{
    return buffer ? "buffer/" + std::to_string(length) : "NULL";
}

// One attribute of a template: the value it carries, or, for templates that
// ask for values, only whether a buffer came and its length.
std::string attributeText(const CK_ATTRIBUTE& attribute, bool withValue)
{
    std::string out = attributeName(attribute.type) + "=";
    if (!attribute.pValue || !withValue)
        return out + (attribute.pValue ? "buffer/" : "NULL/") + std::to_string(attribute.ulValueLen);
    const bool holdsUlong
        = attribute.type == CKA_CLASS || attribute.type == CKA_CERTIFICATE_TYPE || attribute.type == CKA_MODULUS_BITS;
    if (!holdsUlong || attribute.ulValueLen != sizeof(CK_ULONG))
        return out + "hex:" + hex(attribute.pValue, attribute.ulValueLen);
    CK_ULONG value;
    std::memcpy(&value, attribute.pValue, sizeof value);
    return out + "ulong:" + std::to_string(value);
}

std::string templateText(const CK_ATTRIBUTE* attributes, CK_ULONG count, bool withValues)
{
    std::string out = "count=" + std::to_string(count) + " ";
    for (CK_ULONG i = 0; i < count; ++i)
        out += (i ? " " : "[") + attributeText(attributes[i], withValues);
    return out + (count ? "]" : "[]");
}

std::string mechanismText(const CK_MECHANISM& mechanism)
{
    return "mechanism=" + hexNumber(mechanism.mechanism) + " parameter=" + (mechanism.pParameter ? "set/" : "NULL/")
        + std::to_string(mechanism.ulParameterLen);
}

std::string sessionText(CK_SESSION_HANDLE handle) { return "session=" + std::to_string(handle); }

// A fixed-width field of slot or token information: the bytes, cut or
// padded with blanks.
void writeField(unsigned char* target, std::size_t width, const Json& owner, const char* key)
{
    std::memset(target, ' ', width);
    const Bytes bytes = bytesOf(owner.value(key, Json("")));
    std::copy_n(bytes.begin(), std::min(bytes.size(), width), target);
}

// A scripted value handed out as modules do: its length alone without a
// buffer, else as many bytes as fit, CKR_BUFFER_TOO_SMALL when not all do.
CK_RV answerValue(const Json& value, void* buffer, CK_ULONG& length)
{
    const Bytes bytes = bytesOf(value);
    if (!buffer) {
        length = lengthOr(value, "nullLength", bytes.size());
        return CKR_OK;
    }
    const bool fits = length >= bytes.size();
    std::copy_n(bytes.begin(), fits ? bytes.size() : length, static_cast<unsigned char*>(buffer));
    length = lengthOr(value, "filledLength", fits ? bytes.size() : CK_UNAVAILABLE_INFORMATION);
    return fits ? CKR_OK : CKR_BUFFER_TOO_SMALL;
}

const Json* attributeOf(const Json& object, CK_ATTRIBUTE_TYPE type)
{
    if (object.contains("attributes"))
        for (const auto& [name, value] : object.at("attributes").items())
            if (attributeType(name) == type)
                return &value;
    return nullptr;
}

bool matches(const Json& object, const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        const Json* value = attributeOf(object, attributes[i].type);
        const Bytes bytes = value ? bytesOf(*value) : Bytes {};
        if (!value || bytes.size() != attributes[i].ulValueLen
            || (!bytes.empty()
                && (!attributes[i].pValue || std::memcmp(bytes.data(), attributes[i].pValue, bytes.size()))))
            return false;
    }
    return true;
}

// The search under way: the handles it found, and how many were handed out.
struct Search {
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t next = 0;
};

struct Session {
    CK_SLOT_ID slot = 0;
    bool loggedIn = false;
    Search search;
};

// A call that ends with a code of its own: no such slot, session or object.
struct Refusal {
    CK_RV rv;
};

// The module's whole state: its script, the call counts and the sessions.
struct Mock {
    static Mock& instance()
    {
        static Mock mock;
        return mock;
    }

    CK_RV scriptedCode(const char* function, unsigned long number) const
    {
        const Json& rv = script.contains("rv") ? script.at("rv") : Json::object();
        const Json codes = rv.contains(function) ? rv.at(function) : Json(0);
        return ulongOf(codes.is_object() ? codes.value(std::to_string(number), Json(0)) : codes);
    }

    Json& slot(CK_SLOT_ID id)
    {
        for (auto& each : script["slots"])
            if (ulongOf(each.at("id")) == id)
                return each;
        throw Refusal { CKR_SLOT_ID_INVALID };
    }

    Session& session(CK_SESSION_HANDLE handle)
    {
        const auto found = sessions.find(handle);
        if (found == sessions.end())
            throw Refusal { CKR_SESSION_HANDLE_INVALID };
        return found->second;
    }

    static bool visible(const Session& session, const Json& object)
    {
        return session.loggedIn || !object.value("afterLogin", false);
    }

    const Json& object(const Session& session, CK_OBJECT_HANDLE handle)
    {
        for (const auto& each : slot(session.slot)["objects"])
            if (ulongOf(each.at("handle")) == handle && visible(session, each))
                return each;
        throw Refusal { ckrObjectHandleInvalid };
    }

    // Scripted session handles in order, then 1, 2, 3, ...
    CK_SESSION_HANDLE openSession(CK_SLOT_ID slot)
    {
        const Json& scripted = script.contains("sessionHandles") ? script.at("sessionHandles") : Json::array();
        const CK_SESSION_HANDLE handle
            = openedSessions < scripted.size() ? ulongOf(scripted.at(openedSessions)) : countedHandle++;
        ++openedSessions;
        sessions[handle] = Session { slot, false, {} };
        return handle;
    }

    Mock()
    {
        if (const char* log = std::getenv("P11MOCK_LOG"); log && *log)
            logPath = log;
        if (const char* path = std::getenv("P11MOCK_SCRIPT"); path && *path)
            script = Json::parse(std::ifstream(path, std::ios::binary));
    }

    void log(const std::string& line) const
    {
        if (!logPath.empty())
            std::ofstream(logPath, std::ios::binary | std::ios::app) << line << '\n';
    }

    std::string logPath;
    Json script = Json::object();
    std::map<std::string, unsigned long> callCounts;
    std::map<CK_SESSION_HANDLE, Session> sessions;
    std::size_t openedSessions = 0;
    CK_SESSION_HANDLE countedHandle = 1;
};

// Runs one call: counts it, answers the scripted failure or what `body`
// answers (a body that `seesFailures` gets the scripted code and answers for
// it too), and logs the arguments and the code that the call answers.
template <typename Body>
CK_RV call(const char* function, const std::string& arguments, Body body, bool seesFailures = false)
{
    Mock& mock = Mock::instance();
    const unsigned long number = ++mock.callCounts[function];
    std::string note;
    CK_RV rv = CKR_GENERAL_ERROR;
    try {
        const CK_RV scripted = mock.scriptedCode(function, number);
        rv = scripted != CKR_OK && !seesFailures ? scripted : body(mock, scripted);
    } catch (const Refusal& refusal) {
        rv = refusal.rv;
    } catch (const std::exception& failure) {
        note = std::string(" mock failure: ") + failure.what();
    }
    mock.log(std::string(function) + " " + arguments + " -> " + hexNumber(rv) + note);
    return rv;
}

} // namespace
} // namespace p11mock

using namespace p11mock;

extern "C" {

CK_RV CK_CALL C_Initialize(CK_VOID_PTR pInitArgs)
{
    return call("C_Initialize", "pInitArgs=" + pointer(pInitArgs), [](Mock&, CK_RV) { return CKR_OK; });
}

CK_RV CK_CALL C_Finalize(CK_VOID_PTR pReserved)
{
    return call("C_Finalize", "pReserved=" + pointer(pReserved), [](Mock&, CK_RV) { return CKR_OK; });
}

CK_RV CK_CALL C_GetInfo(CK_INFO* pInfo)
{
    return call("C_GetInfo", "pInfo=" + pointer(pInfo), [&](Mock& mock, CK_RV) {
        const Json info = mock.script.value("info", Json::object());
        pInfo->cryptokiVersion = { 2, 40 };
        writeField(pInfo->manufacturerID, sizeof pInfo->manufacturerID, info, "manufacturerID");
        pInfo->flags = 0;
        writeField(pInfo->libraryDescription, sizeof pInfo->libraryDescription, info, "libraryDescription");
        pInfo->libraryVersion = { 1, 7 };
        return CKR_OK;
    });
}

CK_RV CK_CALL C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID* pSlotList, CK_ULONG_PTR pulCount)
{
    const std::string arguments
        = "tokenPresent=" + std::to_string(tokenPresent) + " pSlotList=" + bufferText(pSlotList, *pulCount);
    return call("C_GetSlotList", arguments, [&](Mock& mock, CK_RV) {
        std::vector<CK_SLOT_ID> listed;
        for (const auto& slot : mock.script["slots"])
            if (slot.value("tokenPresent", true) || !tokenPresent)
                listed.push_back(ulongOf(slot.at("id")));
        const Json counts = mock.script.value("slotList", Json::object());
        if (!pSlotList) {
            *pulCount = lengthOr(counts, "firstCount", listed.size());
            return CKR_OK;
        }
        const CK_ULONG room = *pulCount;
        std::copy_n(listed.begin(), std::min<std::size_t>(room, listed.size()), pSlotList);
        *pulCount = lengthOr(counts, "secondCount", listed.size());
        return room < listed.size() ? CKR_BUFFER_TOO_SMALL : CKR_OK;
    });
}

CK_RV CK_CALL C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO* pInfo)
{
    return call("C_GetSlotInfo", "slot=" + std::to_string(slotID) + " pInfo=" + pointer(pInfo), [&](Mock& mock, CK_RV) {
        const Json& slot = mock.slot(slotID);
        std::memset(pInfo, 0, sizeof *pInfo);
        writeField(pInfo->slotDescription, sizeof pInfo->slotDescription, slot, "slotDescription");
        writeField(pInfo->manufacturerID, sizeof pInfo->manufacturerID, slot, "manufacturerID");
        pInfo->flags = slot.value("tokenPresent", true) ? ckfTokenPresent : 0;
        return CKR_OK;
    });
}

#ifndef P11MOCK_WITHOUT_TOKEN_INFO
CK_RV CK_CALL C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO* pInfo)
{
    return call(
        "C_GetTokenInfo", "slot=" + std::to_string(slotID) + " pInfo=" + pointer(pInfo), [&](Mock& mock, CK_RV) {
            const Json& slot = mock.slot(slotID);
            if (!slot.value("tokenPresent", true))
                return ckrTokenNotPresent;
            const Json token = slot.value("token", Json::object());
            std::memset(pInfo, 0, sizeof *pInfo);
            writeField(pInfo->label, sizeof pInfo->label, token, "label");
            writeField(pInfo->manufacturerID, sizeof pInfo->manufacturerID, token, "manufacturerID");
            writeField(pInfo->model, sizeof pInfo->model, token, "model");
            writeField(pInfo->serialNumber, sizeof pInfo->serialNumber, token, "serialNumber");
            pInfo->ulFreePublicMemory = lengthOr(token, "ulFreePublicMemory", 0);
            pInfo->ulFreePrivateMemory = lengthOr(token, "ulFreePrivateMemory", 0);
            pInfo->flags = lengthOr(token, "flags", 0);
            pInfo->ulMinPinLen = lengthOr(token, "ulMinPinLen", 0);
            pInfo->ulMaxPinLen = lengthOr(token, "ulMaxPinLen", 0);
            for (const auto& [key, version] : { std::pair { "hardwareVersion", &pInfo->hardwareVersion },
                     std::pair { "firmwareVersion", &pInfo->firmwareVersion } }) {
                const Json parts = token.value(key, Json::array({ 0, 0 }));
                *version = { parts.at(0).get<CK_BYTE>(), parts.at(1).get<CK_BYTE>() };
            }
            return CKR_OK;
        });
}
#endif

CK_RV CK_CALL C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE* pMechanismList, CK_ULONG_PTR pulCount)
{
    const std::string arguments
        = "slot=" + std::to_string(slotID) + " pMechanismList=" + bufferText(pMechanismList, *pulCount);
    return call("C_GetMechanismList", arguments, [&](Mock& mock, CK_RV) {
        std::vector<CK_MECHANISM_TYPE> listed;
        for (const auto& mechanism : mock.slot(slotID).value("mechanisms", Json::array()))
            listed.push_back(ulongOf(mechanism.at("type")));
        if (!pMechanismList) {
            *pulCount = listed.size();
            return CKR_OK;
        }
        const CK_ULONG room = *pulCount;
        std::copy_n(listed.begin(), std::min<std::size_t>(room, listed.size()), pMechanismList);
        *pulCount = listed.size();
        return room < listed.size() ? CKR_BUFFER_TOO_SMALL : CKR_OK;
    });
}

#ifndef P11MOCK_WITHOUT_MECHANISM_INFO
CK_RV CK_CALL C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* pInfo)
{
    const std::string arguments
        = "slot=" + std::to_string(slotID) + " type=" + hexNumber(type) + " pInfo=" + pointer(pInfo);
    return call("C_GetMechanismInfo", arguments, [&](Mock& mock, CK_RV) {
        for (const auto& mechanism : mock.slot(slotID).value("mechanisms", Json::array())) {
            if (ulongOf(mechanism.at("type")) != type)
                continue;
            *pInfo = { lengthOr(mechanism, "min", 0), lengthOr(mechanism, "max", 0), lengthOr(mechanism, "flags", 0) };
            return CKR_OK;
        }
        return ckrMechanismInvalid;
    });
}
#endif

CK_RV CK_CALL C_OpenSession(
    CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_VOID_PTR notify, CK_SESSION_HANDLE* phSession)
{
    const std::string arguments = "slot=" + std::to_string(slotID) + " flags=" + hexNumber(flags)
        + " pApplication=" + pointer(pApplication) + " notify=" + pointer(notify) + " phSession=" + pointer(phSession);
    return call("C_OpenSession", arguments, [&](Mock& mock, CK_RV) {
        mock.slot(slotID);
        *phSession = mock.openSession(slotID);
        return CKR_OK;
    });
}

CK_RV CK_CALL C_CloseSession(CK_SESSION_HANDLE hSession)
{
    return call("C_CloseSession", sessionText(hSession),
        [&](Mock& mock, CK_RV) { return mock.sessions.erase(hSession) ? CKR_OK : CKR_SESSION_HANDLE_INVALID; });
}

#ifndef P11MOCK_WITHOUT_LOGIN
CK_RV CK_CALL C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR* pPin, CK_ULONG ulPinLen)
{
    const std::string arguments = sessionText(hSession) + " userType=" + std::to_string(userType)
        + " pin=" + (pPin ? "hex:" + hex(pPin, ulPinLen) : "NULL") + " pinLen=" + std::to_string(ulPinLen);
    return call("C_Login", arguments, [&](Mock& mock, CK_RV) {
        mock.session(hSession).loggedIn = true;
        return CKR_OK;
    });
}
#endif

CK_RV CK_CALL C_Logout(CK_SESSION_HANDLE hSession)
{
    return call("C_Logout", sessionText(hSession), [&](Mock& mock, CK_RV) {
        Session& session = mock.session(hSession);
        if (!session.loggedIn)
            return CKR_USER_NOT_LOGGED_IN;
        session.loggedIn = false;
        return CKR_OK;
    });
}

CK_RV CK_CALL C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount)
{
    const std::string arguments = sessionText(hSession) + " " + templateText(pTemplate, ulCount, true);
    return call("C_FindObjectsInit", arguments, [&](Mock& mock, CK_RV) {
        Session& session = mock.session(hSession);
        session.search = {};
        for (const auto& object : mock.slot(session.slot)["objects"])
            if (Mock::visible(session, object) && matches(object, pTemplate, ulCount))
                session.search.found.push_back(ulongOf(object.at("handle")));
        return CKR_OK;
    });
}

CK_RV CK_CALL C_FindObjects(
    CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE* phObject, CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount)
{
    const std::string arguments = sessionText(hSession) + " phObject=" + pointer(phObject)
        + " max=" + std::to_string(ulMaxObjectCount) + " pulObjectCount=" + pointer(pulObjectCount);
    const auto body = [&](Mock& mock, CK_RV rv) {
        const Json scripted = mock.script.value("findObjects", Json::object());
        if (rv != CKR_OK) {
            if (scripted.contains("countOnFailure"))
                *pulObjectCount = ulongOf(scripted.at("countOnFailure"));
            return rv;
        }
        Search& search = mock.session(hSession).search;
        if (scripted.value("endless", false)) {
            *phObject = endlessHandles + ++search.next;
            *pulObjectCount = 1;
            return CKR_OK;
        }
        CK_ULONG given = 0;
        while (given < ulMaxObjectCount && search.next < search.found.size())
            phObject[given++] = search.found[search.next++];
        *pulObjectCount = given > 0 ? lengthOr(scripted, "countWhileFound", given) : 0;
        return CKR_OK;
    };
    return call("C_FindObjects", arguments, body, true);
}

CK_RV CK_CALL C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    return call("C_FindObjectsFinal", sessionText(hSession), [&](Mock& mock, CK_RV) {
        mock.session(hSession).search = {};
        return CKR_OK;
    });
}

CK_RV CK_CALL C_GetAttributeValue(
    CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount)
{
    const std::string arguments
        = sessionText(hSession) + " object=" + std::to_string(hObject) + " " + templateText(pTemplate, ulCount, false);
    return call("C_GetAttributeValue", arguments, [&](Mock& mock, CK_RV) {
        const Json& object = mock.object(mock.session(hSession), hObject);
        CK_RV result = CKR_OK;
        for (CK_ULONG i = 0; i < ulCount; ++i) {
            CK_ATTRIBUTE& asked = pTemplate[i];
            const Json* value = attributeOf(object, asked.type);
            if (!value)
                asked.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            const CK_RV rv = value ? answerValue(*value, asked.pValue, asked.ulValueLen) : ckrAttributeTypeInvalid;
            result = rv != CKR_OK ? rv : result;
        }
        return result;
    });
}

CK_RV CK_CALL C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey)
{
    const std::string arguments
        = sessionText(hSession) + " " + mechanismText(*pMechanism) + " key=" + std::to_string(hKey);
    return call("C_SignInit", arguments, [&](Mock& mock, CK_RV) {
        mock.session(hSession);
        return CKR_OK;
    });
}

CK_RV CK_CALL C_Sign(
    CK_SESSION_HANDLE hSession, CK_BYTE* pData, CK_ULONG ulDataLen, CK_BYTE* pSignature, CK_ULONG_PTR pulSignatureLen)
{
    const std::string arguments = sessionText(hSession) + " data=" + (pData ? "hex:" + hex(pData, ulDataLen) : "NULL")
        + " dataLen=" + std::to_string(ulDataLen) + " pSignature=" + bufferText(pSignature, *pulSignatureLen);
    return call("C_Sign", arguments, [&](Mock& mock, CK_RV) {
        mock.session(hSession);
        return answerValue(mock.script.value("signature", Json("")), pSignature, *pulSignatureLen);
    });
}

CK_RV CK_CALL C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism, CK_ATTRIBUTE* pPublicKeyTemplate,
    CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE* pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
    CK_OBJECT_HANDLE* phPublicKey, CK_OBJECT_HANDLE* phPrivateKey)
{
    const std::string arguments = sessionText(hSession) + " " + mechanismText(*pMechanism) + " public "
        + templateText(pPublicKeyTemplate, ulPublicKeyAttributeCount, true) + " private "
        + templateText(pPrivateKeyTemplate, ulPrivateKeyAttributeCount, true) + " phPublicKey=" + pointer(phPublicKey)
        + " phPrivateKey=" + pointer(phPrivateKey);
    return call("C_GenerateKeyPair", arguments, [&](Mock& mock, CK_RV) {
        mock.session(hSession);
        *phPublicKey = 0x100;
        *phPrivateKey = 0x101;
        return CKR_OK;
    });
}

CK_RV CK_CALL C_CreateObject(
    CK_SESSION_HANDLE hSession, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE* phObject)
{
    const std::string arguments
        = sessionText(hSession) + " " + templateText(pTemplate, ulCount, true) + " phObject=" + pointer(phObject);
    return call("C_CreateObject", arguments, [&](Mock& mock, CK_RV) {
        mock.session(hSession);
        *phObject = 0x200;
        return CKR_OK;
    });
}

} // extern "C"
