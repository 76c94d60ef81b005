#include "Script.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace p11mock {

namespace {

using Json = nlohmann::json;

const CK_ATTRIBUTE_TYPE ckaKeyType = 0x100; // CKA_KEY_TYPE: not used by the system, known to scripts
const CK_ATTRIBUTE_TYPE ckaExtractable = 0x162;

struct NamedAttribute {
    const char* name;
    CK_ATTRIBUTE_TYPE type;
    bool ulong;
};

const NamedAttribute namedAttributes[] = {
    { "CKA_CLASS", CKA_CLASS, true },
    { "CKA_TOKEN", CKA_TOKEN, false },
    { "CKA_PRIVATE", CKA_PRIVATE, false },
    { "CKA_LABEL", CKA_LABEL, false },
    { "CKA_VALUE", CKA_VALUE, false },
    { "CKA_CERTIFICATE_TYPE", CKA_CERTIFICATE_TYPE, true },
    { "CKA_ISSUER", CKA_ISSUER, false },
    { "CKA_SERIAL_NUMBER", CKA_SERIAL_NUMBER, false },
    { "CKA_KEY_TYPE", ckaKeyType, true },
    { "CKA_SUBJECT", CKA_SUBJECT, false },
    { "CKA_ID", CKA_ID, false },
    { "CKA_SENSITIVE", CKA_SENSITIVE, false },
    { "CKA_ENCRYPT", CKA_ENCRYPT, false },
    { "CKA_DECRYPT", CKA_DECRYPT, false },
    { "CKA_WRAP", CKA_WRAP, false },
    { "CKA_UNWRAP", CKA_UNWRAP, false },
    { "CKA_SIGN", CKA_SIGN, false },
    { "CKA_VERIFY", CKA_VERIFY, false },
    { "CKA_MODULUS", CKA_MODULUS, false },
    { "CKA_MODULUS_BITS", CKA_MODULUS_BITS, true },
    { "CKA_PUBLIC_EXPONENT", CKA_PUBLIC_EXPONENT, false },
    { "CKA_EXTRACTABLE", ckaExtractable, false },
    { "CKA_MODIFIABLE", CKA_MODIFIABLE, false },
};

std::string lowered(std::string text)
{
    std::transform(
        text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A number as JSON number, "0x.." or decimal text, or one of the two words of
// the token information.
CK_ULONG number(const Json& value)
{
    if (value.is_number_unsigned())
        return value.get<CK_ULONG>();
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text == "unavailable")
            return CK_UNAVAILABLE_INFORMATION;
        if (text == "infinite")
            return CK_EFFECTIVELY_INFINITE;
        std::size_t used = 0;
        const unsigned long long parsed = std::stoull(text, &used, 0);
        if (used != text.size())
            throw std::runtime_error("not a number: " + text);
        return static_cast<CK_ULONG>(parsed);
    }
    throw std::runtime_error("not a number: " + value.dump());
}

Bytes hexBytes(const std::string& hex)
{
    if (hex.size() % 2)
        throw std::runtime_error("odd hex: " + hex);
    Bytes out;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes ulongBytes(CK_ULONG value)
{
    Bytes out(sizeof value);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

// "text" as its bytes, {"hex": ..}, {"text": ..} or {"ulong": n}.
Bytes bytesOf(const Json& value)
{
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        return Bytes(text.begin(), text.end());
    }
    if (value.contains("hex"))
        return hexBytes(value.at("hex").get<std::string>());
    if (value.contains("text"))
        return bytesOf(value.at("text"));
    if (value.contains("ulong"))
        return ulongBytes(number(value.at("ulong")));
    throw std::runtime_error("no value in " + value.dump());
}

ReportedLength optionalNumber(const Json& object, const char* key)
{
    if (!object.is_object() || !object.contains(key))
        return std::nullopt;
    return number(object.at(key));
}

Field field(const Json& owner, const char* key)
{
    Field out;
    if (!owner.contains(key))
        return out;
    const Json& value = owner.at(key);
    out.bytes = bytesOf(value);
    if (value.is_object() && value.contains("fill"))
        out.fill = hexBytes(value.at("fill").get<std::string>()).at(0);
    return out;
}

Attribute attribute(const Json& value)
{
    Attribute out;
    out.value = bytesOf(value);
    out.nullLength = optionalNumber(value, "nullLength");
    out.filledLength = optionalNumber(value, "filledLength");
    return out;
}

CK_ATTRIBUTE_TYPE attributeType(const std::string& name)
{
    for (const auto& known : namedAttributes)
        if (name == known.name)
            return known.type;
    return number(Json(name));
}

Object object(const Json& value)
{
    Object out;
    out.handle = number(value.at("handle"));
    out.visibleOnlyAfterLogin = value.value("afterLogin", false);
    if (value.contains("attributes"))
        for (const auto& [name, attributeValue] : value.at("attributes").items())
            out.attributes[attributeType(name)] = attribute(attributeValue);
    return out;
}

Slot slot(const Json& value)
{
    Slot out;
    out.id = number(value.at("id"));
    out.tokenPresent = value.value("tokenPresent", true);
    out.slotDescription = field(value, "slotDescription");
    out.manufacturerId = field(value, "manufacturerID");
    if (value.contains("token")) {
        const Json& token = value.at("token");
        out.token.label = field(token, "label");
        out.token.manufacturerId = field(token, "manufacturerID");
        out.token.model = field(token, "model");
        out.token.serialNumber = field(token, "serialNumber");
        if (token.contains("ulFreePublicMemory"))
            out.token.freePublicMemory = number(token.at("ulFreePublicMemory"));
        if (token.contains("ulFreePrivateMemory"))
            out.token.freePrivateMemory = number(token.at("ulFreePrivateMemory"));
    }
    if (value.contains("objects"))
        for (const auto& each : value.at("objects"))
            out.objects.push_back(object(each));
    return out;
}

ReturnCodes returnCodes(const Json& value)
{
    ReturnCodes out;
    if (!value.is_object()) {
        out.fallback = number(value);
        return out;
    }
    for (const auto& [call, code] : value.items()) {
        if (call == "default")
            out.fallback = number(code);
        else
            out.byCall[std::stoul(call)] = number(code);
    }
    return out;
}

Script script(const Json& value)
{
    Script out;
    if (value.contains("slots"))
        for (const auto& each : value.at("slots"))
            out.slots.push_back(slot(each));
    if (value.contains("rv"))
        for (const auto& [function, codes] : value.at("rv").items())
            out.returnCodes[function] = returnCodes(codes);
    if (value.contains("slotList")) {
        out.slotListFirstCount = optionalNumber(value.at("slotList"), "firstCount");
        out.slotListSecondCount = optionalNumber(value.at("slotList"), "secondCount");
    }
    if (value.contains("sessionHandles"))
        for (const auto& handle : value.at("sessionHandles"))
            out.sessionHandles.push_back(number(handle));
    if (value.contains("findObjects")) {
        out.findCountWhileFound = optionalNumber(value.at("findObjects"), "countWhileFound");
        out.findCountOnFailure = optionalNumber(value.at("findObjects"), "countOnFailure");
        out.findEndless = value.at("findObjects").value("endless", false);
    }
    if (value.contains("signature"))
        out.signature = attribute(value.at("signature"));
    if (value.contains("generateKeyPair")) {
        out.generatedPublicKey = number(value.at("generateKeyPair").at("publicKey"));
        out.generatedPrivateKey = number(value.at("generateKeyPair").at("privateKey"));
    }
    if (value.contains("createObject"))
        out.createdObject = number(value.at("createObject").at("handle"));
    return out;
}

} // namespace

Script loadScript(const std::string& path, const std::string& moduleName)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path);
    const Json document = Json::parse(file);
    if (!document.contains("modules"))
        return script(document);
    for (const auto& [name, entry] : document.at("modules").items())
        if (lowered(name) == lowered(moduleName))
            return script(entry);
    return Script {};
}

std::string attributeName(CK_ATTRIBUTE_TYPE type)
{
    for (const auto& known : namedAttributes)
        if (known.type == type)
            return known.name;
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(type));
    return text;
}

bool holdsUlong(CK_ATTRIBUTE_TYPE type)
{
    for (const auto& known : namedAttributes)
        if (known.type == type)
            return known.ulong;
    return false;
}

} // namespace p11mock
