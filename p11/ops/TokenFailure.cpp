#include "TokenFailure.h"

#include "Pkcs11Messages.h"
#include "TokenInfo.h"

namespace {

struct Reason {
    CK_RV rv;
    const char* words;
};

constexpr Reason kReasons[] = {
    { CKR_DEVICE_ERROR, kDeviceError },
    { CKR_DEVICE_MEMORY, kDeviceMemory },
    { CKR_DEVICE_REMOVED, kDeviceRemoved },
};

} // namespace

std::string tokenFailure(const char* prefix, CK_RV rv)
{
    for (const Reason& reason : kReasons)
        if (reason.rv == rv)
            return prefix + std::string(reason.words);
    return prefix + std::to_string(unsigned32(rv));
}
