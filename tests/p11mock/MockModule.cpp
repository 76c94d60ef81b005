// The scriptable PKCS#11 module: the C_ functions that sigbrid looks up, each
// answering from the script named by P11MOCK_SCRIPT and appending one line per
// call to the log named by P11MOCK_LOG. Script and log formats: README.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "OwnFile.h"
#include "Pkcs11.h"
#include "Script.h"

namespace p11mock {
namespace {

// Codes and flags the system itself never names.
const CK_RV ckrAttributeTypeInvalid = 0x12;
const CK_RV ckrObjectHandleInvalid = 0x82;
const CK_RV ckrTokenNotPresent = 0xE0;
const CK_FLAGS ckfTokenPresent = 0x1;

// A search that never ends in the system under test must not hang the test:
// after this many C_FindObjects calls in one search the mock answers 0.
const unsigned long findCallLimit = 1000;
// Where the objects of an endless search are numbered from.
const CK_OBJECT_HANDLE endlessHandles = 0x100000;

// Long values are cut in the log so that one line stays readable.
const std::size_t loggedBytesLimit = 4096;

struct Session {
    CK_SLOT_ID slot = 0;
    bool loggedIn = false;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t next = 0;
    unsigned long findCalls = 0;
};

std::string hex(const unsigned char* data, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const std::size_t shown = length < loggedBytesLimit ? length : loggedBytesLimit;
    for (std::size_t i = 0; i < shown; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    if (shown < length)
        out += "...";
    return out;
}

std::string hexNumber(CK_ULONG value)
{
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

std::string pointer(const void* p) { return p ? "set" : "NULL"; }

// One attribute of a template: the value it carries, or, for templates that
// ask for values, only whether a buffer came and its length.
std::string attributeText(const CK_ATTRIBUTE& attribute, bool withValue)
{
    std::string out = attributeName(attribute.type) + "=";
    if (!attribute.pValue)
        return out + "NULL/" + std::to_string(attribute.ulValueLen);
    if (!withValue)
        return out + "buffer/" + std::to_string(attribute.ulValueLen);
    const auto* bytes = static_cast<const unsigned char*>(attribute.pValue);
    if (holdsUlong(attribute.type) && attribute.ulValueLen == sizeof(CK_ULONG)) {
        CK_ULONG value;
        std::memcpy(&value, bytes, sizeof value);
        return out + "ulong:" + std::to_string(value);
    }
    return out + "hex:" + hex(bytes, attribute.ulValueLen);
}

std::string templateText(const CK_ATTRIBUTE* attributes, CK_ULONG count, bool withValues)
{
    std::string out = "count=" + std::to_string(count) + " ";
    if (!attributes)
        return out + "NULL";
    out += "[";
    for (CK_ULONG i = 0; i < count; ++i)
        out += (i ? " " : "") + attributeText(attributes[i], withValues);
    return out + "]";
}

std::string mechanismText(const CK_MECHANISM* mechanism)
{
    if (!mechanism)
        return "mechanism=NULL";
    std::string out = "mechanism=" + hexNumber(mechanism->mechanism) + " parameter=";
    if (!mechanism->pParameter)
        return out + "NULL/" + std::to_string(mechanism->ulParameterLen);
    return out + "hex:" + hex(static_cast<const unsigned char*>(mechanism->pParameter), mechanism->ulParameterLen);
}

// At most `room` bytes of `bytes`; an empty value has no pointer to copy from.
void copyBytes(void* target, const Bytes& bytes, std::size_t room)
{
    if (!bytes.empty() && room > 0)
        std::memcpy(target, bytes.data(), bytes.size() < room ? bytes.size() : room);
}

void writeField(unsigned char* target, std::size_t width, const Field& field)
{
    std::memset(target, field.fill, width);
    copyBytes(target, field.bytes, width);
}

// The module's whole state: its script, the call counts and the sessions.
class Mock {
public:
    static Mock& instance()
    {
        static Mock mock;
        return mock;
    }

    // Runs one call: counts it, hands the scripted code to `body`, logs the
    // arguments and the code that the call answers.
    template <typename Body> CK_RV call(const char* function, const std::string& arguments, Body body)
    {
        const unsigned long number = ++callCounts_[function];
        std::string note;
        CK_RV rv = CKR_GENERAL_ERROR;
        if (!loadError_.empty()) {
            note = " script error: " + loadError_;
        } else {
            try {
                rv = body(script_.returnCode(function, number), note);
            } catch (const std::exception& failure) {
                rv = CKR_GENERAL_ERROR;
                note = std::string(" mock failure: ") + failure.what();
            }
        }
        log(std::string(function) + (arguments.empty() ? "" : " ") + arguments + " -> " + hexNumber(rv) + note);
        return rv;
    }

    Slot* slot(CK_SLOT_ID id)
    {
        for (auto& each : script_.slots)
            if (each.id == id)
                return &each;
        return nullptr;
    }

    Session* session(CK_SESSION_HANDLE handle)
    {
        const auto found = sessions_.find(handle);
        return found == sessions_.end() ? nullptr : &found->second;
    }

    Object* object(const Session& session, CK_OBJECT_HANDLE handle)
    {
        Slot* owner = slot(session.slot);
        if (!owner)
            return nullptr;
        for (auto& each : owner->objects)
            if (each.handle == handle && visible(session, each))
                return &each;
        return nullptr;
    }

    static bool visible(const Session& session, const Object& object)
    {
        return !object.visibleOnlyAfterLogin || session.loggedIn;
    }

    CK_SESSION_HANDLE openSession(CK_SLOT_ID slot)
    {
        CK_SESSION_HANDLE handle = nextCountedHandle_;
        if (nextScriptedHandle_ < script_.sessionHandles.size())
            handle = script_.sessionHandles[nextScriptedHandle_++];
        else
            ++nextCountedHandle_;
        Session session;
        session.slot = slot;
        sessions_[handle] = session;
        return handle;
    }

    void closeSession(CK_SESSION_HANDLE handle) { sessions_.erase(handle); }

    const Script& script() const { return script_; }

private:
    Mock()
    {
        const std::string self = ownFilePath();
        name_ = baseName(self);
        if (const char* log = std::getenv("P11MOCK_LOG"); log && *log)
            logPath_ = log;
        const char* scriptPath = std::getenv("P11MOCK_SCRIPT");
        if (!scriptPath || !*scriptPath)
            return;
        try {
            script_ = loadScript(scriptPath, name_);
        } catch (const std::exception& failure) {
            loadError_ = failure.what();
        }
    }

    void log(const std::string& line) const
    {
        if (logPath_.empty())
            return;
        if (FILE* file = std::fopen(logPath_.c_str(), "ab")) {
            const std::string text = name_ + ": " + line + "\n";
            std::fwrite(text.data(), 1, text.size(), file);
            std::fclose(file);
        }
    }

    std::string name_, logPath_, loadError_;
    Script script_;
    std::map<std::string, unsigned long> callCounts_;
    std::map<CK_SESSION_HANDLE, Session> sessions_;
    std::size_t nextScriptedHandle_ = 0;
    CK_SESSION_HANDLE nextCountedHandle_ = 1;
};

std::string sessionText(CK_SESSION_HANDLE handle) { return "session=" + std::to_string(handle); }

// Adds an object made from a template to the session's token.
CK_OBJECT_HANDLE addObject(Mock& mock, const Session& session, CK_OBJECT_HANDLE handle, const CK_ATTRIBUTE* attributes,
    CK_ULONG count, CK_OBJECT_CLASS defaultClass)
{
    Slot* owner = mock.slot(session.slot);
    if (!owner)
        return handle;
    Object object;
    object.handle = handle;
    Attribute classValue;
    classValue.value.resize(sizeof defaultClass);
    std::memcpy(classValue.value.data(), &defaultClass, sizeof defaultClass);
    object.attributes[CKA_CLASS] = classValue;
    for (CK_ULONG i = 0; attributes && i < count; ++i) {
        const auto* bytes = static_cast<const unsigned char*>(attributes[i].pValue);
        object.attributes[attributes[i].type].value = bytes ? Bytes(bytes, bytes + attributes[i].ulValueLen) : Bytes {};
    }
    owner->objects.push_back(object);
    return handle;
}

bool matches(const Object& object, const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        const auto found = object.attributes.find(attributes[i].type);
        if (found == object.attributes.end())
            return false;
        const Bytes& value = found->second.value;
        if (value.size() != attributes[i].ulValueLen)
            return false;
        if (!value.empty() && (!attributes[i].pValue || std::memcmp(value.data(), attributes[i].pValue, value.size())))
            return false;
    }
    return true;
}

} // namespace
} // namespace p11mock

using namespace p11mock;

extern "C" {

CK_RV CK_CALL C_Initialize(CK_VOID_PTR pInitArgs)
{
    return Mock::instance().call(
        "C_Initialize", "pInitArgs=" + pointer(pInitArgs), [&](CK_RV rv, std::string&) { return rv; });
}

CK_RV CK_CALL C_Finalize(CK_VOID_PTR pReserved)
{
    return Mock::instance().call(
        "C_Finalize", "pReserved=" + pointer(pReserved), [&](CK_RV rv, std::string&) { return rv; });
}

CK_RV CK_CALL C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID* pSlotList, CK_ULONG_PTR pulCount)
{
    std::string arguments = "tokenPresent=" + std::to_string(tokenPresent) + " pSlotList=";
    if (!pSlotList)
        arguments += "NULL";
    else
        arguments += pulCount ? "buffer/" + std::to_string(*pulCount) : "buffer";
    if (!pulCount)
        arguments += " pulCount=NULL";
    Mock& mock = Mock::instance();
    return mock.call("C_GetSlotList", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        if (!pulCount)
            return CKR_ARGUMENTS_BAD;
        std::vector<CK_SLOT_ID> listed;
        for (const auto& slot : mock.script().slots)
            if (slot.tokenPresent || !tokenPresent)
                listed.push_back(slot.id);
        if (!pSlotList) {
            *pulCount = mock.script().slotListFirstCount.value_or(listed.size());
            return CKR_OK;
        }
        const CK_ULONG room = *pulCount;
        for (CK_ULONG i = 0; i < room && i < listed.size(); ++i)
            pSlotList[i] = listed[i];
        *pulCount = mock.script().slotListSecondCount.value_or(listed.size());
        return room < listed.size() ? CKR_BUFFER_TOO_SMALL : CKR_OK;
    });
}

CK_RV CK_CALL C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO* pInfo)
{
    Mock& mock = Mock::instance();
    return mock.call(
        "C_GetSlotInfo", "slot=" + std::to_string(slotID) + " pInfo=" + pointer(pInfo), [&](CK_RV rv, std::string&) {
            if (rv != CKR_OK)
                return rv;
            const Slot* slot = mock.slot(slotID);
            if (!slot)
                return CKR_SLOT_ID_INVALID;
            if (!pInfo)
                return CKR_ARGUMENTS_BAD;
            std::memset(pInfo, 0, sizeof *pInfo);
            writeField(pInfo->slotDescription, sizeof pInfo->slotDescription, slot->slotDescription);
            writeField(pInfo->manufacturerID, sizeof pInfo->manufacturerID, slot->manufacturerId);
            pInfo->flags = slot->tokenPresent ? ckfTokenPresent : 0;
            return CKR_OK;
        });
}

#ifndef P11MOCK_WITHOUT_TOKEN_INFO
CK_RV CK_CALL C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO* pInfo)
{
    Mock& mock = Mock::instance();
    return mock.call(
        "C_GetTokenInfo", "slot=" + std::to_string(slotID) + " pInfo=" + pointer(pInfo), [&](CK_RV rv, std::string&) {
            if (rv != CKR_OK)
                return rv;
            const Slot* slot = mock.slot(slotID);
            if (!slot)
                return CKR_SLOT_ID_INVALID;
            if (!slot->tokenPresent)
                return ckrTokenNotPresent;
            if (!pInfo)
                return CKR_ARGUMENTS_BAD;
            const Token& token = slot->token;
            std::memset(pInfo, 0, sizeof *pInfo);
            writeField(pInfo->label, sizeof pInfo->label, token.label);
            writeField(pInfo->manufacturerID, sizeof pInfo->manufacturerID, token.manufacturerId);
            writeField(pInfo->model, sizeof pInfo->model, token.model);
            writeField(pInfo->serialNumber, sizeof pInfo->serialNumber, token.serialNumber);
            pInfo->ulFreePublicMemory = token.freePublicMemory;
            pInfo->ulFreePrivateMemory = token.freePrivateMemory;
            return CKR_OK;
        });
}
#endif

CK_RV CK_CALL C_OpenSession(
    CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR pApplication, CK_VOID_PTR notify, CK_SESSION_HANDLE* phSession)
{
    Mock& mock = Mock::instance();
    const std::string arguments = "slot=" + std::to_string(slotID) + " flags=" + hexNumber(flags)
        + " pApplication=" + pointer(pApplication) + " notify=" + pointer(notify) + " phSession=" + pointer(phSession);
    return mock.call("C_OpenSession", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        if (!mock.slot(slotID))
            return CKR_SLOT_ID_INVALID;
        if (!phSession)
            return CKR_ARGUMENTS_BAD;
        *phSession = mock.openSession(slotID);
        return CKR_OK;
    });
}

CK_RV CK_CALL C_CloseSession(CK_SESSION_HANDLE hSession)
{
    Mock& mock = Mock::instance();
    return mock.call("C_CloseSession", sessionText(hSession), [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        if (!mock.session(hSession))
            return CKR_SESSION_HANDLE_INVALID;
        mock.closeSession(hSession);
        return CKR_OK;
    });
}

#ifndef P11MOCK_WITHOUT_LOGIN
CK_RV CK_CALL C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR* pPin, CK_ULONG ulPinLen)
{
    Mock& mock = Mock::instance();
    std::string arguments = sessionText(hSession) + " userType=" + std::to_string(userType) + " pin=";
    arguments += pPin ? "hex:" + hex(pPin, ulPinLen) : std::string("NULL");
    arguments += " pinLen=" + std::to_string(ulPinLen);
    return mock.call("C_Login", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        Session* session = mock.session(hSession);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        session->loggedIn = true;
        return CKR_OK;
    });
}
#endif

CK_RV CK_CALL C_Logout(CK_SESSION_HANDLE hSession)
{
    Mock& mock = Mock::instance();
    return mock.call("C_Logout", sessionText(hSession), [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        Session* session = mock.session(hSession);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        if (!session->loggedIn)
            return CKR_USER_NOT_LOGGED_IN;
        session->loggedIn = false;
        return CKR_OK;
    });
}

CK_RV CK_CALL C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount)
{
    Mock& mock = Mock::instance();
    return mock.call("C_FindObjectsInit", sessionText(hSession) + " " + templateText(pTemplate, ulCount, true),
        [&](CK_RV rv, std::string&) {
            if (rv != CKR_OK)
                return rv;
            Session* session = mock.session(hSession);
            if (!session)
                return CKR_SESSION_HANDLE_INVALID;
            if (!pTemplate && ulCount)
                return CKR_ARGUMENTS_BAD;
            session->found.clear();
            session->next = 0;
            session->findCalls = 0;
            if (const Slot* slot = mock.slot(session->slot))
                for (const auto& object : slot->objects)
                    if (Mock::visible(*session, object) && matches(object, pTemplate, ulCount))
                        session->found.push_back(object.handle);
            return CKR_OK;
        });
}

CK_RV CK_CALL C_FindObjects(
    CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE* phObject, CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount)
{
    Mock& mock = Mock::instance();
    const std::string arguments = sessionText(hSession) + " phObject=" + pointer(phObject)
        + " max=" + std::to_string(ulMaxObjectCount) + " pulObjectCount=" + pointer(pulObjectCount);
    return mock.call("C_FindObjects", arguments, [&](CK_RV rv, std::string& note) {
        Session* session = mock.session(hSession);
        if (session && phObject && pulObjectCount && mock.script().findEndless && rv == CKR_OK) {
            *phObject = endlessHandles + ++session->findCalls;
            *pulObjectCount = 1;
            return CKR_OK;
        }
        if (session && pulObjectCount && ++session->findCalls > findCallLimit) {
            note = " (call limit: answered 0)";
            *pulObjectCount = 0;
            return CKR_OK;
        }
        if (rv != CKR_OK) {
            if (pulObjectCount && mock.script().findCountOnFailure)
                *pulObjectCount = *mock.script().findCountOnFailure;
            return rv;
        }
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        if (!phObject || !pulObjectCount)
            return CKR_ARGUMENTS_BAD;
        CK_ULONG given = 0;
        while (given < ulMaxObjectCount && session->next < session->found.size())
            phObject[given++] = session->found[session->next++];
        *pulObjectCount = given > 0 ? mock.script().findCountWhileFound.value_or(given) : 0;
        return CKR_OK;
    });
}

CK_RV CK_CALL C_FindObjectsFinal(CK_SESSION_HANDLE hSession)
{
    Mock& mock = Mock::instance();
    return mock.call("C_FindObjectsFinal", sessionText(hSession), [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        Session* session = mock.session(hSession);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        session->found.clear();
        session->next = 0;
        return CKR_OK;
    });
}

CK_RV CK_CALL C_GetAttributeValue(
    CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount)
{
    Mock& mock = Mock::instance();
    const std::string arguments
        = sessionText(hSession) + " object=" + std::to_string(hObject) + " " + templateText(pTemplate, ulCount, false);
    return mock.call("C_GetAttributeValue", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        Session* session = mock.session(hSession);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        const Object* object = mock.object(*session, hObject);
        if (!object)
            return ckrObjectHandleInvalid;
        if (!pTemplate && ulCount)
            return CKR_ARGUMENTS_BAD;
        CK_RV result = CKR_OK;
        for (CK_ULONG i = 0; i < ulCount; ++i) {
            CK_ATTRIBUTE& asked = pTemplate[i];
            const auto found = object->attributes.find(asked.type);
            if (found == object->attributes.end()) {
                asked.ulValueLen = CK_UNAVAILABLE_INFORMATION;
                result = ckrAttributeTypeInvalid;
                continue;
            }
            const Attribute& attribute = found->second;
            const CK_ULONG size = attribute.value.size();
            if (!asked.pValue) {
                asked.ulValueLen = attribute.nullLength.value_or(size);
                continue;
            }
            const CK_ULONG copied = asked.ulValueLen < size ? asked.ulValueLen : size;
            copyBytes(asked.pValue, attribute.value, copied);
            if (copied < size)
                result = CKR_BUFFER_TOO_SMALL;
            asked.ulValueLen = attribute.filledLength.value_or(copied < size ? CK_UNAVAILABLE_INFORMATION : size);
        }
        return result;
    });
}

CK_RV CK_CALL C_SignInit(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism, CK_OBJECT_HANDLE hKey)
{
    Mock& mock = Mock::instance();
    const std::string arguments
        = sessionText(hSession) + " " + mechanismText(pMechanism) + " key=" + std::to_string(hKey);
    return mock.call("C_SignInit", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        return mock.session(hSession) ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
    });
}

CK_RV CK_CALL C_Sign(
    CK_SESSION_HANDLE hSession, CK_BYTE* pData, CK_ULONG ulDataLen, CK_BYTE* pSignature, CK_ULONG_PTR pulSignatureLen)
{
    Mock& mock = Mock::instance();
    std::string arguments = sessionText(hSession) + " data=";
    arguments += pData ? "hex:" + hex(pData, ulDataLen) : std::string("NULL");
    arguments += " dataLen=" + std::to_string(ulDataLen) + " pSignature=";
    if (!pSignature)
        arguments += "NULL";
    else
        arguments += pulSignatureLen ? "buffer/" + std::to_string(*pulSignatureLen) : "buffer";
    if (!pulSignatureLen)
        arguments += " pulSignatureLen=NULL";
    return mock.call("C_Sign", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        if (!mock.session(hSession))
            return CKR_SESSION_HANDLE_INVALID;
        if (!pulSignatureLen)
            return CKR_ARGUMENTS_BAD;
        const Attribute& signature = mock.script().signature;
        const CK_ULONG size = signature.value.size();
        if (!pSignature) {
            *pulSignatureLen = signature.nullLength.value_or(size);
            return CKR_OK;
        }
        const CK_ULONG copied = *pulSignatureLen < size ? *pulSignatureLen : size;
        copyBytes(pSignature, signature.value, copied);
        *pulSignatureLen = signature.filledLength.value_or(size);
        return copied < size ? CKR_BUFFER_TOO_SMALL : CKR_OK;
    });
}

CK_RV CK_CALL C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM* pMechanism, CK_ATTRIBUTE* pPublicKeyTemplate,
    CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE* pPrivateKeyTemplate, CK_ULONG ulPrivateKeyAttributeCount,
    CK_OBJECT_HANDLE* phPublicKey, CK_OBJECT_HANDLE* phPrivateKey)
{
    Mock& mock = Mock::instance();
    const std::string arguments = sessionText(hSession) + " " + mechanismText(pMechanism) + " public "
        + templateText(pPublicKeyTemplate, ulPublicKeyAttributeCount, true) + " private "
        + templateText(pPrivateKeyTemplate, ulPrivateKeyAttributeCount, true) + " phPublicKey=" + pointer(phPublicKey)
        + " phPrivateKey=" + pointer(phPrivateKey);
    return mock.call("C_GenerateKeyPair", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        const Session* session = mock.session(hSession);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        if (!phPublicKey || !phPrivateKey)
            return CKR_ARGUMENTS_BAD;
        *phPublicKey = addObject(mock, *session, mock.script().generatedPublicKey, pPublicKeyTemplate,
            ulPublicKeyAttributeCount, CKO_PUBLIC_KEY);
        *phPrivateKey = addObject(mock, *session, mock.script().generatedPrivateKey, pPrivateKeyTemplate,
            ulPrivateKeyAttributeCount, CKO_PRIVATE_KEY);
        return CKR_OK;
    });
}

CK_RV CK_CALL C_CreateObject(
    CK_SESSION_HANDLE hSession, CK_ATTRIBUTE* pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE* phObject)
{
    Mock& mock = Mock::instance();
    const std::string arguments
        = sessionText(hSession) + " " + templateText(pTemplate, ulCount, true) + " phObject=" + pointer(phObject);
    return mock.call("C_CreateObject", arguments, [&](CK_RV rv, std::string&) {
        if (rv != CKR_OK)
            return rv;
        const Session* session = mock.session(hSession);
        if (!session)
            return CKR_SESSION_HANDLE_INVALID;
        if (!phObject)
            return CKR_ARGUMENTS_BAD;
        *phObject = addObject(mock, *session, mock.script().createdObject, pTemplate, ulCount, CKO_CERTIFICATE);
        return CKR_OK;
    });
}

} // extern "C"
