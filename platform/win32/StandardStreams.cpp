#include "StandardStreams.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace platform {

void setBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

long readStandardInput(void* buffer, std::size_t size)
{
    // A windowed program has standard input only when its caller hands one over.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return -1;
    DWORD count = 0;
    if (ReadFile(input, buffer, static_cast<DWORD>(size), &count, nullptr))
        return static_cast<long>(count);
    // The caller closed its end of the pipe: the input is over.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

} // namespace platform
