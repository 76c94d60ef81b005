// A token as sigbrid presents it, as its module reports it.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "P11Module.h"

struct TokenInfo {
    std::string type;
    std::string slotId;
    std::string manufacturerId;
    std::string slotDescription;
    std::string tokenLabel;
    std::string tokenModel;
    std::string serial;
    std::uint32_t freePublicMemory = 0;
    std::uint32_t freePrivateMemory = 0;

    // Seven module calls, one per field, in field order. Never raises for a
    // module error: a failed read leaves its error text (or 0) in the field.
    static TokenInfo read(const P11Module& module, CK_SLOT_ID slotId);
};

void to_json(nlohmann::json& json, const TokenInfo& info);

// A slot is usable when its token's serial is a non-empty run of hexadecimal
// digits.
bool isUsableSerial(const std::string& serial);

// CK_ULONG values as the 32-bit Windows ABI carries them, on every platform.
inline std::uint32_t unsigned32(CK_ULONG value) { return static_cast<std::uint32_t>(value); }

// "major.minor".
inline std::string versionText(const CK_VERSION& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}
