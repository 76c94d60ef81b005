// How crypt32 stand-in internals fail: they throw the Windows error code, and
// each entry point turns it into the last error and its usual failure result.
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include <new>

namespace standin {

struct CryptFailure {
    DWORD code;
};

[[noreturn]] inline void failWith(DWORD code) { throw CryptFailure { code }; }

// Runs `body`; a CryptFailure or an exhausted heap becomes the last error and
// `failed`.
template <typename Result, typename Body> Result answerOrFail(Result failed, Body&& body)
{
    try {
        return body();
    } catch (const CryptFailure& failure) {
        SetLastError(failure.code);
    } catch (const std::bad_alloc&) {
        SetLastError(E_OUTOFMEMORY);
    }
    return failed;
}

// The caller's side of a variable-size answer: a NULL buffer asks for the
// size, a short one fails with ERROR_MORE_DATA; either way *pcbBuffer gets the
// size. True when the answer is to be written.
inline bool callerHasRoom(DWORD size, const void* buffer, DWORD* pcbBuffer)
{
    if (!pcbBuffer)
        failWith(E_INVALIDARG);
    const DWORD offered = *pcbBuffer;
    *pcbBuffer = size;
    if (!buffer)
        return false;
    if (offered < size)
        failWith(ERROR_MORE_DATA);
    return true;
}

} // namespace standin
