#include "advapi32/CryptObjects.h"

#include <cstring>

namespace standin {
namespace {
// Far apart, so that no run ever hands out a handle in another kind's range.
constexpr ULONG_PTR kContextBase = ULONG_PTR{1} << 28;
constexpr ULONG_PTR kKeyBase = ULONG_PTR{2} << 28;
constexpr ULONG_PTR kHashBase = ULONG_PTR{3} << 28;
}  // namespace

HandleTable<std::shared_ptr<ProviderContext>>& contextHandles()
{
    static HandleTable<std::shared_ptr<ProviderContext>> table(kContextBase);
    return table;
}

HandleTable<KeyObject>& keyHandles()
{
    static HandleTable<KeyObject> table(kKeyBase);
    return table;
}

HandleTable<HashObject>& hashHandles()
{
    static HandleTable<HashObject> table(kHashBase);
    return table;
}

std::shared_ptr<ProviderContext> findContext(HCRYPTPROV handle)
{
    auto* found = contextHandles().find(handle);
    return found ? *found : nullptr;
}

BOOL copyOut(const void* value, DWORD size, BYTE* pbData, DWORD* pdwDataLen)
{
    if (!pdwDataLen)
        return fail(ERROR_INVALID_PARAMETER);
    if (!pbData) {
        *pdwDataLen = size;
        return TRUE;
    }
    if (*pdwDataLen < size) {
        *pdwDataLen = size;
        return fail(ERROR_MORE_DATA);
    }
    std::memcpy(pbData, value, size);
    *pdwDataLen = size;
    return TRUE;
}

}  // namespace standin
