#include "TokenDetails.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

using Json = nlohmann::json;

// A module reporting more mechanisms than this is not believed; the list is cut.
constexpr CK_ULONG kMechanismListLimit = 4096;

struct TokenFlag {
    CK_FLAGS flag;
    const char* key;
};

constexpr TokenFlag kTokenFlags[] = {
    { CKF_LOGIN_REQUIRED, "loginRequired" },
    { CKF_USER_PIN_INITIALIZED, "userPinInitialized" },
    { CKF_PROTECTED_AUTHENTICATION_PATH, "protectedAuthenticationPath" },
    { CKF_USER_PIN_COUNT_LOW, "userPinCountLow" },
    { CKF_USER_PIN_FINAL_TRY, "userPinFinalTry" },
    { CKF_USER_PIN_LOCKED, "userPinLocked" },
    { CKF_USER_PIN_TO_BE_CHANGED, "userPinToBeChanged" },
    { CKF_SO_PIN_LOCKED, "soPinLocked" },
    { CKF_WRITE_PROTECTED, "writeProtected" },
    { CKF_TOKEN_INITIALIZED, "tokenInitialized" },
};

struct SignMechanism {
    CK_MECHANISM_TYPE type;
    const char* name;
};

// The mechanisms that the signing requests use.
constexpr SignMechanism kSignMechanisms[] = {
    { CKM_RSA_PKCS, "CKM_RSA_PKCS" },
    { CKM_SHA1_RSA_PKCS, "CKM_SHA1_RSA_PKCS" },
    { CKM_SHA256_RSA_PKCS, "CKM_SHA256_RSA_PKCS" },
    { CKM_SHA512_RSA_PKCS, "CKM_SHA512_RSA_PKCS" },
};

std::optional<std::vector<CK_MECHANISM_TYPE>> mechanismList(const P11Module& module, CK_SLOT_ID slotId)
{
    CK_ULONG reported = 0;
    if (module.call(p11::C_GetMechanismList, IfMissing::Answer, slotId, NULL_PTR, &reported) != CKR_OK)
        return std::nullopt;
    const CK_ULONG allocated = std::min(reported, kMechanismListLimit);
    // At least one element, so that the second call always gets a buffer.
    std::vector<CK_MECHANISM_TYPE> mechanisms(std::max<CK_ULONG>(allocated, 1));
    CK_ULONG count = allocated;
    if (module.call(p11::C_GetMechanismList, IfMissing::Answer, slotId, mechanisms.data(), &count) != CKR_OK)
        return std::nullopt;
    mechanisms.resize(std::min(count, allocated));
    return mechanisms;
}

} // namespace

Json tokenDetails(const P11Slot& slot)
{
    const P11Module& module = slot.module();
    Json record = slot.foundInfo();
    CK_TOKEN_INFO token {};
    if (module.call(p11::C_GetTokenInfo, IfMissing::Answer, slot.slotId(), &token) == CKR_OK) {
        for (const TokenFlag& flag : kTokenFlags)
            record[flag.key] = (token.flags & flag.flag) != 0;
        record["minPinLength"] = unsigned32(token.ulMinPinLen);
        record["maxPinLength"] = unsigned32(token.ulMaxPinLen);
        record["hardwareVersion"] = versionText(token.hardwareVersion);
        record["firmwareVersion"] = versionText(token.firmwareVersion);
    }
    CK_MECHANISM_INFO generation {};
    if (module.call(p11::C_GetMechanismInfo, IfMissing::Answer, slot.slotId(), CKM_RSA_PKCS_KEY_PAIR_GEN, &generation)
        == CKR_OK)
        record["rsaKeySizes"]
            = { { "min", unsigned32(generation.ulMinKeySize) }, { "max", unsigned32(generation.ulMaxKeySize) } };
    if (const auto mechanisms = mechanismList(module, slot.slotId())) {
        Json offered = Json::array();
        for (const SignMechanism& mechanism : kSignMechanisms)
            if (std::find(mechanisms->begin(), mechanisms->end(), mechanism.type) != mechanisms->end())
                offered.push_back(mechanism.name);
        record["signMechanisms"] = offered;
    }
    return record;
}
