// kernel32 on Linux: libraries through dlopen, memory through calloc, the
// last error per thread, text conversions with UTF-8 as the ANSI code page.
#include <windows.h>

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "machine/FaultSwitch.h"
#include "machine/WideText.h"
#include "machine/WinRoot.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD WINAPI GetLastError(void) { return lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string path = standin::hostPath(lpLibFileName);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return static_cast<HMODULE>(handle);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!hModule || !lpProcName) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(hModule, lpProcName);
    if (!symbol)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    if (!hLibModule || dlclose(hLibModule) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    // Always zero-filled: LMEM_ZEROINIT costs nothing here and hides no fault.
    (void)uFlags;
    if (standin::injectFault("LocalAlloc"))
        return nullptr;
    HLOCAL block = std::calloc(uBytes ? uBytes : 1, 1);
    if (!block)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}

PVOID WINAPI SecureZeroMemory(PVOID ptr, SIZE_T cnt)
{
    OPENSSL_cleanse(ptr, cnt);
    return ptr;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kSecondsPerDay = 86400;
    constexpr std::int64_t kDaysFrom1601To1970 = 134774;
    const std::uint64_t ticks = (std::uint64_t { lpFileTime->dwHighDateTime } << 32) | lpFileTime->dwLowDateTime;
    if (ticks >> 63) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto seconds = static_cast<std::int64_t>(ticks / kTicksPerSecond);
    const std::int64_t days = seconds / kSecondsPerDay;
    const std::int64_t secondOfDay = seconds % kSecondsPerDay;
    // The civil date of a day count since 1970, in 400-year eras of March years.
    const std::int64_t z = days - kDaysFrom1601To1970 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *lpSystemTime = SYSTEMTIME {
        static_cast<WORD>(yearOfEra + era * 400 + (month <= 2)),
        static_cast<WORD>(month),
        static_cast<WORD>((days + 1) % 7), // 1 January 1601 was a Monday
        static_cast<WORD>(dayOfYear - (153 * monthIndex + 2) / 5 + 1),
        static_cast<WORD>(secondOfDay / 3600),
        static_cast<WORD>(secondOfDay / 60 % 60),
        static_cast<WORD>(secondOfDay % 60),
        static_cast<WORD>(ticks / 10000 % 1000),
    };
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    struct stat status;
    if (!lpFileName || stat(standin::hostPath(lpFileName).c_str(), &status) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    if (standin::injectFault("MultiByteToWideChar"))
        return 0;
    if ((CodePage != CP_ACP && CodePage != CP_UTF8) || !lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto* text = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    // -1: the whole zero-terminated text, terminator included.
    const std::size_t size = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
    int written = 0;
    for (std::size_t i = 0; i < size;) {
        char32_t c;
        int length = standin::decodeUtf8(text, size, i, c);
        if (length == 0) {
            // Windows replaces what is not UTF-8 unless asked to refuse it.
            if (dwFlags & MB_ERR_INVALID_CHARS) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            c = 0xFFFD;
            length = 1;
        }
        if (cchWideChar > 0) {
            if (written >= cchWideChar) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            lpWideCharStr[written] = static_cast<WCHAR>(c);
        }
        ++written;
        i += static_cast<std::size_t>(length);
    }
    return written;
}
