#include "OwnFile.h"

#include <windows.h>

namespace p11mock {

std::string ownFilePath()
{
    static const int marker = 0;
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&marker), &self))
        return {};
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    return std::string(path, length);
}

} // namespace p11mock
