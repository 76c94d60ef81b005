#include "TokenInfo.h"

#include <algorithm>
#include <cctype>

#include "Encoding.h"

namespace {

std::string failure(const char* prefix, CK_RV rv) { return prefix + std::to_string(unsigned32(rv)); }

// One C_GetSlotInfo or C_GetTokenInfo call, answering `pick` of the filled
// structure or the field's error text. A missing function reads as a refusal.
template <typename Info, typename Signature, typename Pick>
std::string readText(
    const P11Module& module, P11Function<Signature> function, CK_SLOT_ID slotId, const char* errorPrefix, Pick pick)
{
    Info info {};
    const CK_RV rv = module.call(function, IfMissing::Answer, slotId, &info);
    return rv == CKR_OK ? pick(info) : failure(errorPrefix, rv);
}

template <typename Pick> std::uint32_t readMemory(const P11Module& module, CK_SLOT_ID slotId, Pick pick)
{
    CK_TOKEN_INFO info {};
    const CK_RV rv = module.call(p11::C_GetTokenInfo, IfMissing::Answer, slotId, &info);
    return rv == CKR_OK ? unsigned32(pick(info)) : 0;
}

}  // namespace

TokenInfo TokenInfo::read(const P11Module& module, CK_SLOT_ID slotId)
{
    TokenInfo info;
    info.type = module.type();
    info.slotId = std::to_string(slotId);
    info.manufacturerId = readText<CK_SLOT_INFO>(module, p11::C_GetSlotInfo, slotId, kManufacturerIdError,
        [](const CK_SLOT_INFO& slot) { return fixedFieldText(slot.manufacturerID); });
    info.slotDescription = readText<CK_SLOT_INFO>(module, p11::C_GetSlotInfo, slotId, kDescriptionError,
        [](const CK_SLOT_INFO& slot) { return fixedFieldText(slot.slotDescription); });
    info.tokenLabel = readText<CK_TOKEN_INFO>(module, p11::C_GetTokenInfo, slotId, kLabelError,
        [](const CK_TOKEN_INFO& token) { return fixedFieldText(token.label); });
    info.tokenModel = readText<CK_TOKEN_INFO>(module, p11::C_GetTokenInfo, slotId, kModelError,
        [](const CK_TOKEN_INFO& token) { return fixedFieldText(token.model); });
    info.serial = readText<CK_TOKEN_INFO>(module, p11::C_GetTokenInfo, slotId, kSerialError,
        [](const CK_TOKEN_INFO& token) { return fixedFieldText(token.serialNumber); });
    info.freePublicMemory
        = readMemory(module, slotId, [](const CK_TOKEN_INFO& token) { return token.ulFreePublicMemory; });
    info.freePrivateMemory
        = readMemory(module, slotId, [](const CK_TOKEN_INFO& token) { return token.ulFreePrivateMemory; });
    return info;
}

void to_json(nlohmann::json& json, const TokenInfo& info)
{
    json = nlohmann::json {
        { "type", info.type },
        { "slotId", info.slotId },
        { "manufacturerId", info.manufacturerId },
        { "slotDescription", info.slotDescription },
        { "tokenLabel", info.tokenLabel },
        { "tokenModel", info.tokenModel },
        { "serial", info.serial },
        { "freePublicMemory", info.freePublicMemory },
        { "freePrivateMemory", info.freePrivateMemory },
    };
}

bool isUsableSerial(const std::string& serial)
{
    return !serial.empty() && std::all_of(serial.begin(), serial.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}
