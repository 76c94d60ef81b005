#include "Secret.h"

#include <windows.h>

void wipe(void* data, std::size_t size)
{
    if (size > 0)
        SecureZeroMemory(data, size);
}

void wipe(std::string& text) { wipe(text.data(), text.size()); }
